// Control window of the simulated instrument: what is plugged into each of its channels.
#pragma once

#include <QWidget>

namespace simulator {
class SimulatedInstrument;
}

// A small tool window listing every channel the model has, each with a choice of the device
// under test or a calibration standard. Changes go straight to the simulator on the GUI thread.
QWidget* createSimulatorControlWindow(simulator::SimulatedInstrument& sim,
                                      QWidget* parent = nullptr);

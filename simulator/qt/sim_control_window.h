// Control window of the simulated instrument: what is plugged into each of its channels.
#pragma once

#include <QRect>
#include <QWidget>

namespace simulator {
class SimulatedInstrument;
}

// A small tool window listing every channel the model has, each with a choice of the device
// under test or a calibration standard. Changes go straight to the simulator on the GUI thread.
// It stands beside `parent` (the panel) but is a top-level window the caller owns, so the
// panel's modal prompts do not block it.
QWidget* createSimulatorControlWindow(simulator::SimulatedInstrument& sim,
                                      QWidget* parent = nullptr);

// Where the control window goes so that it never covers the panel: right of it, else left,
// below or above, wherever it fits whole on the screen. When it fits nowhere, the panel moves
// to the screen's left edge and, if that is not enough, narrows (never below minPanelWidth).
// Only when even that leaves no room does the window stand at the screen's right edge.
struct SimWindowPlacement {
    QRect tool;  // the control window's frame
    QRect panel; // the panel's frame, moved or narrowed when needed
};
SimWindowPlacement placeSimulatorWindow(const QRect& panel, const QSize& tool, const QRect& screen,
                                        int minPanelWidth);

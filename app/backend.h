// The serial back end the program talks to: the simulated instrument, with its devices and
// connections, or the first FTDI bridge. One construction for the window and the batch run.
#pragma once

#include "platform/serial_device.h"
#include "simulator/sim_device.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct BackEndRequest {
    bool simulate = false;
    std::string model;                    // simulated model code
    std::string dutFile;                  // description of the devices under test; empty: default
    std::vector<std::string> connections; // "CH=WHAT"
    bool noise = true;
    bool paced = true; // the simulator keeps the real link's time
    std::uint64_t seed = 0;
    bool randomSeed = false; // a seed of its own, which the log names
};

struct BackEnd {
    std::unique_ptr<simulator::SimulatedInstrument> sim; // when simulating
    std::unique_ptr<platform::SerialDevice> ftdi;        // otherwise
    // What was refused, for the caller's message: the description file's error, or a
    // connection (refusedConnection) with its error. Nothing is installed then.
    bool ok = true;
    std::string refusedConnection;
    std::string error;
};

// Builds the back end and installs it as the serial device.
BackEnd openBackEnd(const BackEndRequest& request);

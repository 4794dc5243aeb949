// `velt --station RECIPE`: the operator station's program side, on the batch run's steps.
#pragma once

#include "app/options.h"
#include "platform/station.h"

#include <memory>
#include <string>

namespace simulator {
class SimulatedInstrument;
}

// The recipe's instrument for the window's back end, as a batch run takes it: its simulated
// device, model and connections unless the command line names them. False with the reason.
bool takeStationInstrument(Options& options, std::string& error);

// Reads and checks the recipe and opens its recorder; nullptr with the reason on failure. With
// the simulated instrument, its stand-in operator leaves the connector open for a zero.
std::unique_ptr<platform::StationService>
openStation(const Options& options, simulator::SimulatedInstrument* sim, std::string& error);

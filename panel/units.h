// Unit codes, their label tables, and the operations that switch units.
#pragma once

#include "setup/vocabulary.h"

#include <array>
#include <atomic>

constexpr std::array<const char*, 5> labelX = {"m", "ft", "ns", "in", "GHz"};
constexpr std::array<const char*, 5> labelFullX = {
    "ROUNDTRIP (m)", "ROUNDTRIP (ft)", "ROUNDTRIP (ns)", "ROUNDTRIP (in)", "FREQUENCY (GHz)"};
constexpr std::array<const char*, 5> labelFullX2 = {"DISTANCE (m)", "DISTANCE (ft)", "TIME (ns)",
                                                    "DISTANCE (in)", "FREQUENCY (GHz)"};
constexpr std::array<const char*, 5> labelStartX = {" Start (m)", " Start (ft)", " Start (ns)",
                                                    " Start (in)", " Start (GHz)"};
constexpr std::array<const char*, 5> labelEndX = {" End (m)", " End (ft)", " End (ns)", " End (in)",
                                                  " End (GHz)"};
constexpr std::array<const char*, 6> labelY = {"mV", "Norm", "Ohm", "Rho", "Raw", "dB"};
constexpr std::array<const char*, 6> labelFullY = {"VOLTAGE (mV)",    "NORMALIZED",
                                                   "IMPEDANCE (Ohm)", "REFLECTION COEFF (Rho)",
                                                   "RAW DATA",        "AMPLITUDE (dB)"};

void setXUnits(XUnit unit);
void setXLabels();
void setYUnits(YUnit unit);
void setYLabels();

// One acquisition cycle: sweeps, differential combination, processing, autoscale and plot.
#pragma once

#include "instrument/driver.h"

#include <atomic>

extern Waveform wfmDataCombined;
extern std::atomic<int> WfmActive;
extern std::atomic<int> WfmStored;

int acquire(int plot);
int checkWaveform(int status);
int scaleYAxis(int autoscale);
// Outward-rounded autoscale range of data in a unit (pure; used by scaleYAxis).
void autoscaleRange(const Waveform& data, int yUnitsCode, double& lo, double& hi);

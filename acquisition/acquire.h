// One acquisition cycle: sweeps, differential combination, processing, autoscale and plot.
#pragma once

#include "instrument/driver.h"

#include <atomic>

extern Waveform wfmDataCombined;
extern std::atomic<int> WfmActive;
extern std::atomic<int> WfmStored;

// The live trace's look.
constexpr int kLiveTraceColor = (113 << 16) | (233 << 8) | 70;
constexpr int kLiveTraceStyle = 5; // thick line
// The window of every frequency-domain record (the DUT's and the SOLT standards'):
// reflection coefficient from 3.5 to 74 ns, no zero offset.
constexpr YUnit kFdYUnit = YUnit::Rho;
constexpr XUnit kFdXUnit = XUnit::Nanoseconds;
constexpr double kFdStart = 3.5;
constexpr double kFdEnd = 74.0;
// A differential impedance reading never goes above this.
constexpr double kMaxDifferentialOhms = 500.0;

// Set by the first lost or short sweep: the program is on its way out, and no tick talks to
// the instrument again. Cleared by start-up.
extern std::atomic<bool> linkLost;

int acquire(int plot);
int checkWaveform(int status);
int scaleYAxis(int autoscale);
// Outward-rounded autoscale range of data in a unit (pure; used by scaleYAxis).
void autoscaleRange(const Waveform& data, YUnit unit, double& lo, double& hi);
// Visible index range [first, last) of the frequency-domain trace for a shown window.
void visibleRange(const Waveform& x, double start, double end, int& first, int& last);

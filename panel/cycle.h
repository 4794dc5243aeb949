// One acquisition cycle on the panel: sweeps, correction, vertical range and the live trace.
#pragma once

#include "setup/setup.h"

// plot 1 draws the trace; 0 measures only (start-up's first cycle). Returns what measure did
// (kSweepsStopped: nothing changed); `used`, when given, receives the set-up swept.
int acquire(int plot, Setup* used = nullptr);
void scaleYAxis(int autoscale);
// Scales and draws liveTrace.y against instrument.recordX as a cycle would (a trace that came
// from elsewhere: the batch run's Touchstone profile).
void plotTrace(const Setup& s);

// One acquisition cycle on the panel: sweeps, correction, vertical range and the live trace.
#pragma once

#include "setup/setup.h"

// plot 1 draws the trace; 0 measures only (start-up's first cycle). Returns what measure did
// (kSweepsStopped: nothing changed); `used`, when given, receives the set-up swept.
int acquire(int plot, Setup* used = nullptr);
void scaleYAxis(int autoscale);

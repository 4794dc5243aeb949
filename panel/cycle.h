// One acquisition cycle on the panel: sweeps, correction, vertical range and the live trace.
#pragma once

// plot 1 draws the trace; 0 measures only (start-up's first cycle).
int acquire(int plot);
int scaleYAxis(int autoscale);

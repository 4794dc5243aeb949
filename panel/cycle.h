// One acquisition cycle on the panel: sweeps, correction, vertical range and the live trace.
#pragma once

// plot 1 draws the trace; 0 measures only (start-up's first cycle).
void acquire(int plot);
void scaleYAxis(int autoscale);

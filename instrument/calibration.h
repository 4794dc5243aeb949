// Per-port calibration: start level, step amplitude and edge delay measured on the instrument.
#pragma once

#include "setup/vocabulary.h"

#include <array>

int velt_cal(int stimulus, int sampler, Mode mode);

// One edge measurement on the given stimulus channel and sampler: select the ports, wait for
// them, read offset, baseline and a calibration sweep (rawWaveform keeps it) and find the first
// sample at the edge threshold (1023 when none). Returns the first failing sweep status, or 1.
int measureEdge(int stimulus, int sampler, int& edge);

// Per-port calibration: start level, step amplitude and edge delay measured on the instrument.
#pragma once

#include <array>

extern std::array<int, 10> delayTDR;
extern std::array<int, 10> delayTDT;

int velt_cal(int stimulus, int sampler, int mode);

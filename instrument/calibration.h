// Per-port calibration: start level, step amplitude and edge delay measured on the instrument.
#pragma once

#include "setup/vocabulary.h"

#include <array>

int velt_cal(int stimulus, int sampler, Mode mode);

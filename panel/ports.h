// Mode, stimulus and sampler selection: the sampler ring follows the stimulus and the mode.
#pragma once

#include <vector>

int setStimulus(int mode, int stimulus, int third);
int setSampler(int sampler);
// Sampler channels offered for a mode and stimulus, in ring order; channels 0 means all.
std::vector<int> samplersFor(int mode, int stimulus, int channels);

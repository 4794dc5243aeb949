// Model detection and port selection: which instrument size is connected, which ports and modes
// it offers, and the sampler lines a mode receives for a stimulus.
#pragma once

#include "setup/vocabulary.h"

#include <array>
#include <optional>
#include <string>
#include <vector>

// Sampler item label of a sampler channel ("PORT 1, CH 1+", "PORT 2, ETH-"): the "CH" names
// until countChannels has found the model; "" outside 0..19.
const char* samplerLabel(int sampler);

// Stimulus labels by stimulus channel: models up to 16 channels, and the 20-channel model.
constexpr std::array<const char*, 10> kStimulusLabelCh = {
    "PORT 1, CH 3", "PORT 1, CH 2", "PORT 1, CH 1", "PORT 1, CH 4", "PORT 1, CH 5",
    "PORT 2, CH 3", "PORT 2, CH 2", "PORT 2, CH 1", "PORT 2, CH 4", "PORT 2, CH 5"};
constexpr std::array<const char*, 10> kStimulusLabelNamed = {
    "PORT 1, D0", "PORT 1, D1", "PORT 1, D2", "PORT 1, CLK", "PORT 1, ETH",
    "PORT 2, D0", "PORT 2, D1", "PORT 2, D2", "PORT 2, CLK", "PORT 2, ETH"};

// The probes in order: each calibrates a channel only the next larger size has.
struct ModelProbe {
    int stimulus;
    int sampler;
    int channels;
    int speed;
    const char* code;
};
constexpr std::array<ModelProbe, 6> kModelProbes = {{{2, 4, 2, 0, "QSA002"},
                                                     {7, 14, 4, 0, "QSA004"},
                                                     {1, 2, 8, 1, "QSB008"},
                                                     {0, 0, 12, 0, "QSA012"},
                                                     {3, 6, 16, 1, "QSB016"},
                                                     {4, 8, 20, 1, "QSB020"}}};

// Shows what long start-up work is doing in the box over the graph and repaints; "" hides it.
void showBusy(const std::string& text);
void countChannels();
void hideChannels();
// Applies a mode (none: the ring's) and a stimulus (-1: the ring's).
int setStimulus(std::optional<Mode> mode, int stimulus = -1);
void setSampler(int sampler);
// The vertical units a time-domain mode allows (mV instead of Ohm or Rho outside TDR), the
// Y Units items that go with them, and the axis names.
void applyModeUnits(Mode mode);
// Sampler channels offered for a mode and stimulus, in ring order; channels 0 means all.
std::vector<int> samplersFor(Mode mode, int stimulus, int channels);

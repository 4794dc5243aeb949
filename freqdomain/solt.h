// The SOLT calibration's plan: the calibrated flags and which standards a model measures.
#pragma once

#include "freqdomain/store.h"
#include <array>

// The blocks the guided sequences walk through.
// One block per channel number: the model's channel count that has it and the port 1 stimulus
// (port 2 is stimulus + 5). S11 measures all of port 1 first, S21 pairs the two ports.
struct SoltBlock {
    int minChannels;
    int stimulus;
};

constexpr std::array<SoltBlock, 5> kBlocks = {{{2, 2}, {8, 1}, {12, 0}, {16, 3}, {20, 4}}};

// Port 2 of the first channel needs the second port.
constexpr int port2MinChannels(const SoltBlock& b) {
    return b.minChannels < 4 ? 4 : b.minChannels;
}

// 1 when a calibration for the type (0 S11, 1 S21) is in force, else 0.
int checkSOLT(int type);
// Number of standards a sequence measures on a model with this many sampler channels.
int soltStandardCount(int type, int channelCount);
// Whether a calibration of the type measures the sampler line (0..19) on such a model: S11 its
// SHORT, OPEN and LOAD, S21 the THROUGH that arrives on it.
bool soltLineMeasured(int type, int sampler, int channelCount);

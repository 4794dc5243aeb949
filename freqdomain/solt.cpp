// Which standards a SOLT calibration measures on a model, and whether one is in force.
#include "freqdomain/solt.h"

int soltStandardCount(int type, int channelCount) {
    int n = 0;
    for (const SoltBlock& b : kBlocks) {
        if (type == 0) {
            if (channelCount >= b.minChannels) n += 6;
            if (channelCount >= port2MinChannels(b)) n += 6;
        } else if (channelCount >= port2MinChannels(b)) {
            n += 4;
        }
    }
    return n;
}

bool soltLineMeasured(int type, int sampler, int channelCount) {
    if (sampler < 0 || sampler > 19) return false;
    const int stimulus = sampler / 2;
    for (const SoltBlock& b : kBlocks) {
        if (b.stimulus != stimulus % 5) continue;
        if (type == 0 && stimulus < 5) return channelCount >= b.minChannels;
        return channelCount >= port2MinChannels(b);
    }
    return false;
}

int checkSOLT(int type) {
    if (type == 0) return solt.calS11.load() == 1 ? 1 : 0;
    if (type == 1) return solt.calS21.load() == 1 ? 1 : 0;
    return 0;
}

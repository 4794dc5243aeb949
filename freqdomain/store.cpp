// Storage of the SOLT standards and the sampler-to-slot lookup.
#include "freqdomain/store.h"

SoltCalibration solt;

Waveform& SoltCalibration::standard(int which, int sampler) {
    const SlotId s = kSamplerSlot[static_cast<std::size_t>(sampler)];
    return store[static_cast<std::size_t>(which)][static_cast<std::size_t>(slotIndex(s))];
}

void SoltCalibration::select(int sampler) {
    if (sampler < 0 || sampler > 19) return;
    wfmShort = standard(kShort, sampler);
    wfmOpen = standard(kOpen, sampler);
    wfmLoad = standard(kLoad, sampler);
    wfmThrough = standard(kThrough, sampler);
}

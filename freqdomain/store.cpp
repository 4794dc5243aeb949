// Storage of the SOLT standards and the sampler-to-slot lookup.
#include "freqdomain/store.h"

SoltCalibration solt;

Waveform& storedStandard(int standard, int sampler) {
    const SlotId s = kSamplerSlot[static_cast<std::size_t>(sampler)];
    return solt.store[static_cast<std::size_t>(standard)][static_cast<std::size_t>(slotIndex(s))];
}

void populateSOLT(int sampler) {
    if (sampler < 0 || sampler > 19) return;
    solt.wfmShort = storedStandard(kShort, sampler);
    solt.wfmOpen = storedStandard(kOpen, sampler);
    solt.wfmLoad = storedStandard(kLoad, sampler);
    solt.wfmThrough = storedStandard(kThrough, sampler);
}

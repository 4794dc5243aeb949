// Storage of the SOLT standards and the sampler-to-slot lookup.
#include "freqdomain/store.h"

StandardSet soltStore{};
Waveform wfmShort{};
Waveform wfmOpen{};
Waveform wfmLoad{};
Waveform wfmThrough{};

Waveform& storedStandard(int standard, int sampler) {
    const SlotId s = kSamplerSlot[static_cast<std::size_t>(sampler)];
    return soltStore[static_cast<std::size_t>(standard)][static_cast<std::size_t>(slotIndex(s))];
}

int populateSOLT(int sampler) {
    if (sampler < 0 || sampler > 19) return 1;
    wfmShort = storedStandard(kShort, sampler);
    wfmOpen = storedStandard(kOpen, sampler);
    wfmLoad = storedStandard(kLoad, sampler);
    wfmThrough = storedStandard(kThrough, sampler);
    return 1;
}

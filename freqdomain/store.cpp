// Storage of the SOLT standards and the sampler-to-slot lookup.
#include "freqdomain/store.h"

SoltCalibration solt;

FdRecord& SoltCalibration::standard(Standard which, int sampler) {
    const SlotId s = kSamplerSlot[static_cast<std::size_t>(sampler)];
    return store[index(which)][static_cast<std::size_t>(slotIndex(s))];
}

void SoltCalibration::select(int sampler) {
    if (sampler < 0 || sampler > 19) return;
    wfmShort = standard(Standard::Short, sampler);
    wfmOpen = standard(Standard::Open, sampler);
    wfmLoad = standard(Standard::Load, sampler);
    wfmThrough = standard(Standard::Through, sampler);
    const int k = commonInterleave({&wfmShort, &wfmOpen, &wfmLoad});
    for (FdRecord* r : {&wfmShort, &wfmOpen, &wfmLoad}) r->thinTo(k);
    prepare();
}

int SoltCalibration::interleave(Mode mode) const {
    return mode == Mode::TDT ? wfmThrough.interleave : reflectionInterleave_;
}

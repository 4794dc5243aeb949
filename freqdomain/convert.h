// Spectrum of a step-like record: two seam-free periodic extensions transformed and added, so
// that a record which ends higher than it starts shows no wrap-around jump. For a record that
// has settled by its end, bin k equals twice the transform of the endless step response.
#pragma once

#include "instrument/driver.h"

#include <array>

constexpr int kSpectrumBins = 2048;
using Spectrum = std::array<double, kSpectrumBins>;

// Seven conversion slots, A to G (0 to 6): an input record and its spectrum each. Callers fill
// the input and call convertFFT with the slot number.
constexpr int kSlotCount = 7;
extern std::array<Waveform, kSlotCount> wfmSlot;
extern std::array<Spectrum, kSlotCount> specReal;
extern std::array<Spectrum, kSlotCount> specImag;

// Converts the record of one slot into that slot's spectrum (bin 0 is DC, unnormalised). A slot
// number outside 0 to 6 changes nothing. Returns 1.
int convertFFT(int type);

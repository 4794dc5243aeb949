// Spectrum of a step-like record: two seam-free periodic extensions transformed and added, so
// that a record which ends higher than it starts shows no wrap-around jump. For a record that
// has settled by its end, bin k equals twice the transform of the endless step response.
#pragma once

#include "freqdomain/store.h"

#include <array>

// The conversion slots are the calibration's (solt.slot, solt.specReal, solt.specImag): callers
// fill a slot's input and call convertFFT with its number.

// Converts the record of one slot into that slot's spectrum (bin 0 is DC, unnormalised). A slot
// number outside 0 to 6 changes nothing.
void convertFFT(int type);

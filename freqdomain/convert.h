// Spectrum of a step-like record: two seam-free periodic extensions transformed and added, so
// that a record which ends higher than it starts shows no wrap-around jump. For a record that
// has settled by its end, bin k equals twice the transform of the endless step response.
#pragma once

#include "freqdomain/store.h"

#include <array>

// The spectrum of a record into re and im (bin 0 is DC, unnormalised). Not reentrant: it works
// in buffers of its own, and conversions never overlap (the acquisition and the calibration are
// serialised by the guard).
void convertFFT(const Waveform& record, Spectrum& re, Spectrum& im);

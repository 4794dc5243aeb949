// Spectrum of a step-like record: two seam-free periodic extensions transformed and added, so
// that a record which ends higher than it starts shows no wrap-around jump. For a record that
// has settled by its end, bin k equals twice the transform of the endless step response.
#pragma once

#include "freqdomain/store.h"

#include <array>

// The spectrum of n samples (1024 or 4096) into re and im: bin 0 is DC, bin k is k / (2 x the
// record's span) whatever n is, scaled as for 1024 samples so that a record and its interleaved
// form give the same values. Not reentrant: it works in buffers of its own, and conversions never
// overlap (the acquisition and the calibration are serialised by the guard).
void convertFFT(const double* record, std::size_t n, Spectrum& re, Spectrum& im);
inline void convertFFT(const Waveform& record, Spectrum& re, Spectrum& im) {
    convertFFT(record.data(), record.size(), re, im);
}
inline void convertFFT(const FdRecord& record, Spectrum& re, Spectrum& im) {
    convertFFT(record.y.data(), record.size(), re, im);
}

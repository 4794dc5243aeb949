// Forward transform of real samples: bin 0 is DC, unshifted, unnormalised. Safe to call from any
// thread.
#pragma once

namespace platform {

// The transform lengths there are plans for: a plain record and a four-times interleaved one,
// each twice over.
constexpr int kFftSize = 2048;
constexpr int kFftSizeLong = 8192;

// The first `bins` bins (at most n) of the transform of n samples, n one of the sizes above;
// bins above n / 2 are the conjugates of those below. Any other n leaves re and im alone.
void fftReal(const double* input, int n, double* re, double* im, int bins);

} // namespace platform

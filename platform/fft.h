// Forward transform of 2048 real samples into 2048 complex bins: bin 0 is DC, unshifted,
// unnormalised. Safe to call from any thread.
#pragma once

namespace platform {

constexpr int kFftSize = 2048;

void fft2048(const double* input, double* re, double* im);

} // namespace platform

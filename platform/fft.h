// Forward transform of real samples: bin 0 is DC, unshifted, unnormalised. Safe to call from any
// thread.
#pragma once

namespace platform {

// The transform lengths there are plans for: a plain record and a four-times interleaved one,
// each twice over.
constexpr int kFftSize = 2048;
constexpr int kFftSizeLong = 8192;

// The transform of n real samples, n one of the sizes above: its bins 0 to n / 2 (the others are
// their conjugates) as re, im pairs, in a buffer of the calling thread's that its next call
// overwrites. Any other n gives nullptr.
const double* fftReal(const double* input, int n);

// The inverse: n real samples (n even, at most 2^22) from bins 0 to n / 2 (re, im pairs),
// unnormalised like the forward transform (a constant bin c gives n c at sample 0). Plans are
// made once per length under a lock. Returns false for a length it has no plan for.
bool inverseFftReal(const double* bins, int n, double* output);

// The forward transform of any even n up to 2^22 into bins 0 to n / 2 (re, im pairs, n + 2
// values), with plans made once per length under a lock, like the inverse.
bool forwardFftReal(const double* input, int n, double* bins);

} // namespace platform

// The ramp-corrected record repeated twice fills the even bins, the record followed by its
// mirror image the odd ones (and DC); their sum is the spectrum.
#include "freqdomain/convert.h"

#include "platform/fft.h"

namespace {

// Working arrays reused by every call, so that a conversion allocates nothing; aligned so that
// the transform reads them in place.
alignas(64) std::array<double, 2 * kFdMaxPoints> wfmRampExt{};
alignas(64) std::array<double, 2 * kFdMaxPoints> wfmGans{};

} // namespace

void convertFFT(const double* normInput, std::size_t n, Spectrum& re, Spectrum& im) {
    if (n != 1024 && n != kFdMaxPoints) return;
    const int points = static_cast<int>(2 * n);
    // n samples over the same span are n / 1024 times as dense: the sums scale with them.
    const double scale = 1024.0 / static_cast<double>(n);

    // The ramp rises by the end-to-end step over one period of n samples, so that the repeated
    // record continues where the next period starts. Spreading the rise over n - 1 samples
    // instead (ending exactly on the last sample) leaves 1/(n - 1) of the step's own spectrum in
    // every even bin: a delayed through then reads 0.03 dB off and an S11 twice as far from the
    // truth.
    const double risePerSample = (normInput[n - 1] - normInput[0]) / static_cast<double>(n);
    for (std::size_t i = 0; i < n; ++i) {
        const double flat = normInput[i] - risePerSample * static_cast<double>(i);
        wfmRampExt[i] = flat;
        wfmRampExt[i + n] = flat;
    }
    const double* bins = platform::fftReal(wfmRampExt.data(), points);
    for (std::size_t k = 0; k < re.size(); ++k) {
        re[k] = bins[2 * k] * scale;
        im[k] = bins[2 * k + 1] * scale;
    }

    const double ends = normInput[n - 1] + normInput[0];
    for (std::size_t i = 0; i < n; ++i) {
        wfmGans[i] = normInput[i];
        wfmGans[i + n] = ends - normInput[i];
    }
    bins = platform::fftReal(wfmGans.data(), points);
    for (std::size_t k = 0; k < re.size(); ++k) {
        re[k] += bins[2 * k] * scale;
        im[k] += bins[2 * k + 1] * scale;
    }
}

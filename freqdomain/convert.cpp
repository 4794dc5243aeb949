// The ramp-corrected record repeated twice fills the even bins, the record followed by its
// mirror image the odd ones (and DC); their sum is the spectrum.
#include "freqdomain/convert.h"

#include "platform/fft.h"

namespace {

// Working arrays reused by every call, so that a conversion allocates nothing.
std::array<double, 2 * kFdMaxPoints> wfmRampExt{};
std::array<double, 2 * kFdMaxPoints> wfmGans{};
Spectrum rampFFTReal{}, rampFFTImag{};
Spectrum gansFFTReal{}, gansFFTImag{};

} // namespace

void convertFFT(const double* normInput, std::size_t n, Spectrum& re, Spectrum& im) {
    if (n != 1024 && n != kFdMaxPoints) return;
    const int points = static_cast<int>(2 * n);
    constexpr int bins = kSpectrumBins;

    // The ramp rises by the end-to-end step over one period of n samples, so that the repeated
    // record continues where the next period starts. Spreading the rise over n - 1 samples
    // instead (ending exactly on the last sample) leaves 1/(n - 1) of the step's own spectrum in
    // every even bin: a delayed through then reads 0.03 dB off and an S11 twice as far from the
    // truth.
    const double rise = normInput[n - 1] - normInput[0];
    for (std::size_t i = 0; i < n; ++i) {
        const double flat = normInput[i] - rise * (static_cast<double>(i) / static_cast<double>(n));
        wfmRampExt[i] = flat;
        wfmRampExt[i + n] = flat;
    }
    platform::fftReal(wfmRampExt.data(), points, rampFFTReal.data(), rampFFTImag.data(), bins);

    const double ends = normInput[n - 1] + normInput[0];
    for (std::size_t i = 0; i < n; ++i) {
        wfmGans[i] = normInput[i];
        wfmGans[i + n] = ends - normInput[i];
    }
    platform::fftReal(wfmGans.data(), points, gansFFTReal.data(), gansFFTImag.data(), bins);

    // n samples over the same span are n / 1024 times as dense: the sums scale with them.
    const double scale = 1024.0 / static_cast<double>(n);
    for (std::size_t k = 0; k < re.size(); ++k) {
        re[k] = (gansFFTReal[k] + rampFFTReal[k]) * scale;
        im[k] = (gansFFTImag[k] + rampFFTImag[k]) * scale;
    }
}

// The ramp-corrected record repeated twice fills the even bins, the record followed by its
// mirror image the odd ones (and DC); their sum is the spectrum.
#include "freqdomain/convert.h"

#include "platform/fft.h"

namespace {

// Working arrays reused by every call, so that a conversion allocates nothing.
Waveform ramp{};
Spectrum wfmRampExt{};
Spectrum wfmGans{};
Spectrum rampFFTReal{}, rampFFTImag{};
Spectrum gansFFTReal{}, gansFFTImag{};

} // namespace

void convertFFT(const Waveform& normInput, Spectrum& re, Spectrum& im) {
    constexpr std::size_t n = 1024;

    // The ramp rises by the end-to-end step over one period of 1024 samples, so that the
    // repeated record continues where the next period starts. Spreading the rise over 1023
    // samples instead (ending exactly on the last sample) leaves 1/1023 of the step's own
    // spectrum in every even bin: a delayed through then reads 0.03 dB off and an S11 twice
    // as far from the truth.
    const double rise = normInput[n - 1] - normInput[0];
    for (std::size_t i = 0; i < n; ++i) {
        ramp[i] = rise * (static_cast<double>(i) / 1024.0);
        const double flat = normInput[i] - ramp[i];
        wfmRampExt[i] = flat;
        wfmRampExt[i + n] = flat;
    }
    platform::fft2048(wfmRampExt.data(), rampFFTReal.data(), rampFFTImag.data());

    const double ends = normInput[n - 1] + normInput[0];
    for (std::size_t i = 0; i < n; ++i) {
        wfmGans[i] = normInput[i];
        wfmGans[i + n] = ends - normInput[i];
    }
    platform::fft2048(wfmGans.data(), gansFFTReal.data(), gansFFTImag.data());

    for (std::size_t k = 0; k < re.size(); ++k) {
        re[k] = gansFFTReal[k] + rampFFTReal[k];
        im[k] = gansFFTImag[k] + rampFFTImag[k];
    }
}

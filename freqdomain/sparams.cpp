// S11 = (DUT - L)(O - S) / ((DUT - L)((S - L) + (O - L)) - 2(S - L)(O - L)) with ideal
// standards; S21 = DUT / THROUGH. All buffers are the calibration's: nothing is allocated per
// acquisition.
#include "freqdomain/sparams.h"

#include "freqdomain/convert.h"

#include <cmath>
#include <limits>

namespace {

std::complex<double> divide(double nr, double ni, double dr, double di) {
    const double den = dr * dr + di * di;
    return {(nr * dr + ni * di) / den, (ni * dr - nr * di) / den};
}

} // namespace

// 10 log10(x) = 10 log10(2) log2(x); log2 is the cheaper of the two.
constexpr double kDbPerOctave = 3.0102999566398120;

double magnitudeDb(double re, double im) {
    // 20 log10 |S| without the square root.
    const double power = re * re + im * im;
    if (!std::isfinite(power)) return std::numeric_limits<double>::quiet_NaN();
    if (power == 0.0) return kDbFloor;
    const double db = kDbPerOctave * std::log2(power);
    return db < kDbFloor ? kDbFloor : db;
}

void frequencyAxis(int incrementSteps, double timebaseSeconds, Waveform& x) {
    // 1 / (2048 x increment x (timebase + 5 ns) / 65536)
    const double dt = incrementSteps * (timebaseSeconds + 5e-9) / 65536.0;
    const double step = dt > 0.0 ? 1.0 / (2048.0 * dt) * 1e-9 : 0.0;
    for (std::size_t i = 0; i < x.size(); ++i) x[i] = static_cast<double>(i) * step;
}

void SoltCalibration::prepare() {
    // The conversion is linear, so the device's difference to the LOAD is taken bin by bin.
    auto convert = [this](Part part, auto value) {
        work_.interleave = wfmShort.interleave;
        for (std::size_t i = 0; i < work_.size(); ++i) work_.y[i] = value(i);
        convertFFT(work_, re_[part], im_[part]);
    };
    convert(kOpenShort, [this](std::size_t i) { return wfmOpen.y[i] - wfmShort.y[i]; });
    // S - L into the sum's place, O - L into the device's until a device comes; the sum and the
    // product follow bin by bin.
    convert(kSum, [this](std::size_t i) { return wfmShort.y[i] - wfmLoad.y[i]; });
    convert(kDevice, [this](std::size_t i) { return wfmOpen.y[i] - wfmLoad.y[i]; });
    Spectrum &sr = re_[kSum], &si = im_[kSum], &pr = re_[kTwiceProduct], &pi = im_[kTwiceProduct];
    const Spectrum &dr = re_[kDevice], &di = im_[kDevice];
    for (std::size_t k = 0; k < kShownBins; ++k) {
        const double cr = sr[k], ci = si[k];
        pr[k] = 2.0 * (cr * dr[k] - ci * di[k]);
        pi[k] = 2.0 * (cr * di[k] + ci * dr[k]);
        sr[k] = cr + dr[k];
        si[k] = ci + di[k];
    }
    convertFFT(wfmLoad, re_[kLoadPart], im_[kLoadPart]);
    convertFFT(wfmThrough, re_[kThroughPart], im_[kThroughPart]);
}

void SoltCalibration::correct(Mode mode, const FdRecord& record, Waveform& y) {
    if (record.interleave != interleave(mode)) {
        // Sampled otherwise than the standards: no correction holds for it.
        result.fill({std::numeric_limits<double>::quiet_NaN(), 0.0});
        y.fill(std::numeric_limits<double>::quiet_NaN());
        return;
    }
    convertFFT(record, re_[kDevice], im_[kDevice]);
    const Spectrum &dr = re_[kDevice], &di = im_[kDevice];
    if (mode == Mode::TDR) {
        const Spectrum &lr = re_[kLoadPart], &li = im_[kLoadPart];
        const Spectrum &br = re_[kOpenShort], &bi = im_[kOpenShort];
        const Spectrum &er = re_[kSum], &ei = im_[kSum];
        const Spectrum &pr = re_[kTwiceProduct], &pi = im_[kTwiceProduct];
        for (std::size_t k = 0; k < kShownBins; ++k) {
            const double ar = dr[k] - lr[k], ai = di[k] - li[k]; // DUT - L
            const double numR = ar * br[k] - ai * bi[k];
            const double numI = ar * bi[k] + ai * br[k];
            const double denR = ar * er[k] - ai * ei[k] - pr[k];
            const double denI = ar * ei[k] + ai * er[k] - pi[k];
            result[k] = divide(numR, numI, denR, denI);
        }
    } else {
        const Spectrum &tr = re_[kThroughPart], &ti = im_[kThroughPart];
        for (std::size_t k = 0; k < kShownBins; ++k) result[k] = divide(dr[k], di[k], tr[k], ti[k]);
    }
    for (std::size_t k = 0; k < kShownBins; ++k)
        y[k] = magnitudeDb(result[k].real(), result[k].imag());
}

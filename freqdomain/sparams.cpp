// S11 = (DUT - L)(O - S) / ((DUT - L)((S - L) + (O - L)) - 2(S - L)(O - L)) with ideal
// standards; S21 = DUT / THROUGH. All buffers are the calibration's: nothing is allocated per
// acquisition.
#include "freqdomain/sparams.h"

#include "freqdomain/convert.h"

#include <cmath>
#include <limits>

namespace {

std::complex<double> divide(double nr, double ni, double dr, double di) {
    const double inverse = 1.0 / (dr * dr + di * di);
    return {(nr * dr + ni * di) * inverse, (ni * dr - nr * di) * inverse};
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
    reflectionInterleave_ = commonInterleave({&wfmShort, &wfmOpen, &wfmLoad});
    // The spectrum of a record, or (the conversion being linear) of a difference of two, into
    // one term of every bin.
    auto convert = [this](std::complex<double> Terms::*term, const FdRecord& a, const FdRecord* b) {
        work_.interleave = a.interleave;
        for (std::size_t i = 0; i < work_.size(); ++i) work_.y[i] = a.y[i] - (b ? b->y[i] : 0.0);
        convertFFT(work_, re_, im_);
        for (std::size_t k = 0; k < kShownBins; ++k) terms_[k].*term = {re_[k], im_[k]};
    };
    convert(&Terms::openShort, wfmOpen, &wfmShort);
    convert(&Terms::load, wfmLoad, nullptr);
    convert(&Terms::through, wfmThrough, nullptr);
    // S - L into the sum's place and O - L into the product's; the two follow bin by bin.
    convert(&Terms::sum, wfmShort, &wfmLoad);
    convert(&Terms::twiceProduct, wfmOpen, &wfmLoad);
    for (Terms& t : terms_) {
        const std::complex<double> c = t.sum, d = t.twiceProduct;
        t.sum = c + d;
        t.twiceProduct = 2.0 * c * d;
    }
}

void SoltCalibration::correct(Mode mode, const FdRecord& record, Waveform& y) {
    if (record.interleave != interleave(mode)) {
        // Sampled otherwise than the standards: no correction holds for it.
        result.fill({std::numeric_limits<double>::quiet_NaN(), 0.0});
        y.fill(std::numeric_limits<double>::quiet_NaN());
        return;
    }
    convertFFT(record, re_, im_);
    for (std::size_t k = 0; k < kShownBins; ++k) {
        const Terms& t = terms_[k];
        if (mode == Mode::TDR) {
            const double ar = re_[k] - t.load.real(), ai = im_[k] - t.load.imag(); // DUT - L
            const double br = t.openShort.real(), bi = t.openShort.imag();
            const double er = t.sum.real(), ei = t.sum.imag();
            const double numR = ar * br - ai * bi;
            const double numI = ar * bi + ai * br;
            const double denR = ar * er - ai * ei - t.twiceProduct.real();
            const double denI = ar * ei + ai * er - t.twiceProduct.imag();
            result[k] = divide(numR, numI, denR, denI);
        } else {
            result[k] = divide(re_[k], im_[k], t.through.real(), t.through.imag());
        }
        y[k] = magnitudeDb(result[k].real(), result[k].imag());
    }
}

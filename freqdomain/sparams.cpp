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

void SoltCalibration::correct(Mode mode, Waveform& y) {
    auto& [a, b, c, d, e] = work_;
    if (mode == Mode::TDR) {
        for (std::size_t i = 0; i < y.size(); ++i) {
            a[i] = y[i] - wfmLoad[i];
            b[i] = wfmOpen[i] - wfmShort[i];
            c[i] = wfmShort[i] - wfmLoad[i];
            d[i] = wfmOpen[i] - wfmLoad[i];
            e[i] = c[i] + d[i];
        }
        for (std::size_t s = 0; s < work_.size(); ++s) convertFFT(work_[s], re_[s], im_[s]);
        const auto& [ar, br, cr, dr, er] = re_;
        const auto& [ai, bi, ci, di, ei] = im_;
        for (std::size_t k = 0; k < kShownBins; ++k) {
            const double numR = ar[k] * br[k] - ai[k] * bi[k];
            const double numI = ar[k] * bi[k] + ai[k] * br[k];
            const double aeR = ar[k] * er[k] - ai[k] * ei[k];
            const double aeI = ar[k] * ei[k] + ai[k] * er[k];
            const double cdR = 2.0 * (cr[k] * dr[k] - ci[k] * di[k]);
            const double cdI = 2.0 * (cr[k] * di[k] + ci[k] * dr[k]);
            result[k] = divide(numR, numI, aeR - cdR, aeI - cdI);
        }
    } else {
        convertFFT(y, re_[0], im_[0]);
        convertFFT(wfmThrough, re_[1], im_[1]);
        for (std::size_t k = 0; k < kShownBins; ++k)
            result[k] = divide(re_[0][k], im_[0][k], re_[1][k], im_[1][k]);
    }
    for (std::size_t k = 0; k < kShownBins; ++k)
        y[k] = magnitudeDb(result[k].real(), result[k].imag());
}

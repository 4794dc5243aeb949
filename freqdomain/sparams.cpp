// S11 = (DUT - L)(O - S) / ((DUT - L)((S - L) + (O - L)) - 2(S - L)(O - L)) with ideal
// standards; S21 = DUT / THROUGH. All buffers are static: nothing is allocated per acquisition.
#include "freqdomain/sparams.h"

#include "acquisition/acquire.h"
#include "freqdomain/store.h"

#include <cmath>
#include <limits>

namespace {

Waveform wfmDUT{};

// Bins 1024 to 2047 mirror the shown ones (the records are real) and are not computed.
constexpr std::size_t kShownBins = 1024;

enum Slot { A = 0, B = 1, C = 2, D = 3, E = 4, G = 6 };

Waveform& slot(Slot s) {
    return solt.slot[static_cast<std::size_t>(s)];
}

// The frequency axis from the spacing actually swept. The standards were swept over the same
// fixed window, so they share it.
void writeResult() {
    const double step = binSpacingGHz(instrument.increment.load(), instrument.timing.timebase);
    for (std::size_t i = 0; i < liveTrace.y.size(); ++i) {
        liveTrace.y[i] = magnitudeDb(solt.fdReal[i], solt.fdImag[i]);
        instrument.recordX[i] = static_cast<double>(i) * step;
    }
}

void divide(double nr, double ni, double dr, double di, double& re, double& im) {
    const double den = dr * dr + di * di;
    re = (nr * dr + ni * di) / den;
    im = (ni * dr - nr * di) / den;
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

double binSpacingGHz(int incrementSteps, double timebaseSeconds) {
    const double dt = incrementSteps * (timebaseSeconds + 5e-9) / 65536.0;
    if (!(dt > 0.0)) return 0.0;
    return 1.0 / (2048.0 * dt) * 1e-9;
}

int performS11() {
    wfmDUT = liveTrace.y;
    Waveform& a = slot(A);
    Waveform& b = slot(B);
    Waveform& c = slot(C);
    Waveform& d = slot(D);
    Waveform& e = slot(E);
    for (std::size_t i = 0; i < wfmDUT.size(); ++i) {
        a[i] = wfmDUT[i] - solt.wfmLoad[i];
        b[i] = solt.wfmOpen[i] - solt.wfmShort[i];
        c[i] = solt.wfmShort[i] - solt.wfmLoad[i];
        d[i] = solt.wfmOpen[i] - solt.wfmLoad[i];
        e[i] = c[i] + d[i];
    }
    for (int s = A; s <= E; ++s) convertFFT(s);

    const Spectrum &ar = solt.specReal[A], &ai = solt.specImag[A], &br = solt.specReal[B],
                   &bi = solt.specImag[B];
    const Spectrum &cr = solt.specReal[C], &ci = solt.specImag[C], &dr = solt.specReal[D],
                   &di = solt.specImag[D];
    const Spectrum &er = solt.specReal[E], &ei = solt.specImag[E];
    for (std::size_t k = 0; k < kShownBins; ++k) {
        const double numR = ar[k] * br[k] - ai[k] * bi[k];
        const double numI = ar[k] * bi[k] + ai[k] * br[k];
        const double aeR = ar[k] * er[k] - ai[k] * ei[k];
        const double aeI = ar[k] * ei[k] + ai[k] * er[k];
        const double cdR = 2.0 * (cr[k] * dr[k] - ci[k] * di[k]);
        const double cdI = 2.0 * (cr[k] * di[k] + ci[k] * dr[k]);
        divide(numR, numI, aeR - cdR, aeI - cdI, solt.fdReal[k], solt.fdImag[k]);
    }
    writeResult();
    return 1;
}

int performS21() {
    wfmDUT = liveTrace.y;
    slot(A) = wfmDUT;
    slot(G) = solt.wfmThrough;
    convertFFT(A);
    convertFFT(G);
    for (std::size_t k = 0; k < kShownBins; ++k)
        divide(solt.specReal[A][k], solt.specImag[A][k], solt.specReal[G][k], solt.specImag[G][k],
               solt.fdReal[k], solt.fdImag[k]);
    writeResult();
    return 1;
}

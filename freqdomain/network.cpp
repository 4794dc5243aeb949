// From S-parameters to the step a TDR would have shown: DC continued, a uniform grid, the band
// edge windowed, a Gaussian edge, the inverse transform and a running sum.
#include "freqdomain/network.h"

#include "platform/fft.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>

namespace {

using cd = std::complex<double>;
constexpr double kPi = std::numbers::pi;
constexpr double kSpeedOfLight = 3e8;
constexpr double kMetresPerFoot = 0.3048;
// The fine grid is at least this fine, so that a 35 ps edge has a dozen samples.
constexpr double kFinestStep = 2e-12;
constexpr int kLongestTransform = 1 << 22;
// Sigma of a Gaussian step whose 10-90 % rise is 1: 2 x 1.2816.
constexpr double kSigmaPerRise = 1.0 / 2.5631031310892007;

// Magnitude and unwrapped phase of each point, DC first: continued to a real value there when
// the file starts above it (the magnitude along its first slope, the phase to the nearest
// multiple of pi of its first slope).
void polarFromDc(const Network& n, const std::vector<cd>& s, std::vector<double>& f,
                 std::vector<double>& mag, std::vector<double>& phase) {
    f.clear();
    mag.clear();
    phase.clear();
    double last = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
        double p = std::arg(s[i]);
        if (i > 0) p += 2 * kPi * std::round((last - p) / (2 * kPi));
        last = p;
        f.push_back(n.hz[i]);
        mag.push_back(std::abs(s[i]));
        phase.push_back(p);
    }
    if (f.front() == 0) {
        // A DC point is real whatever the file says.
        phase.front() = std::real(s.front()) < 0 ? kPi : 0;
        return;
    }
    const double slopeM = (mag[1] - mag[0]) / (f[1] - f[0]);
    const double slopeP = (phase[1] - phase[0]) / (f[1] - f[0]);
    const double m0 = std::max(0.0, mag[0] - slopeM * f[0]);
    const double p0 = kPi * std::round((phase[0] - slopeP * f[0]) / kPi);
    f.insert(f.begin(), 0.0);
    mag.insert(mag.begin(), m0);
    phase.insert(phase.begin(), p0);
}

// The modified Bessel function of order 0 by its series: a dozen terms at the betas used.
double besselI0(double x) {
    double sum = 1, term = 1;
    const double q = x * x / 4;
    for (int k = 1; k < 60 && term > 1e-17 * sum; ++k) {
        term *= q / (static_cast<double>(k) * k);
        sum += term;
    }
    return sum;
}

double interpolate(const std::vector<double>& f, const std::vector<double>& v, std::size_t& j,
                   double at) {
    while (j + 2 < f.size() && f[j + 1] < at) ++j;
    const double w = (at - f[j]) / (f[j + 1] - f[j]);
    return v[j] + (v[j + 1] - v[j]) * std::clamp(w, 0.0, 1.0);
}

} // namespace

bool stepResponse(const Network& network, Mode mode, double riseTimePs, StepResponse& out,
                  std::string& error) {
    const bool reflection = mode == Mode::TDR;
    if (mode != Mode::TDR && mode != Mode::TDT) {
        error = "a Touchstone file gives reflection (TDR) and transmission (TDT) only";
        return false;
    }
    const std::vector<cd>& s = reflection ? network.s11 : network.s21;
    if (s.size() < 2 || s.size() != network.hz.size()) {
        error = reflection ? "the file holds no S11" : "the file holds no S21 (a .s1p has none)";
        return false;
    }
    std::vector<double> f, mag, phase;
    polarFromDc(network, s, f, mag, phase);

    const double top = network.hz.back();
    const double df = (top - network.hz.front()) / static_cast<double>(network.hz.size() - 1);
    const double binCount = std::floor(top / df + 1e-9) + 1;
    if (!(binCount <= kLongestTransform / 2)) {
        error = "the file has too many frequencies for its spacing";
        return false;
    }
    const auto bins = static_cast<std::size_t>(binCount);
    int n = 2;
    while (n < kLongestTransform &&
           (static_cast<std::size_t>(n) < 2 * bins || 1.0 / (n * df) > kFinestStep))
        n *= 2;
    if (static_cast<std::size_t>(n) < 2 * bins) {
        error = "the file has too many frequencies for its spacing";
        return false;
    }

    const double sigma = riseTimePs * 1e-12 * kSigmaPerRise;
    const double i0Beta = besselI0(kKaiserBeta);
    // Each thread keeps its transform buffers: a second file, or a new rise time, then costs
    // no fresh pages (megabytes of them, where page faults are dear).
    thread_local std::vector<double> spectrum, impulse;
    spectrum.assign(static_cast<std::size_t>(n) + 2, 0.0);
    impulse.resize(static_cast<std::size_t>(n));
    std::size_t j = 0;
    for (std::size_t k = 0; k < bins; ++k) {
        const double fk = std::min(static_cast<double>(k) * df, top);
        const double w = 2 * kPi * fk * sigma;
        double gain = std::exp(-0.5 * w * w);
        const double u = fk / top;
        gain *= besselI0(kKaiserBeta * std::sqrt(std::max(0.0, 1 - u * u))) / i0Beta;
        const cd v = std::polar(interpolate(f, mag, j, fk) * gain, interpolate(f, phase, j, fk));
        spectrum[2 * k] = v.real();
        spectrum[2 * k + 1] = k == 0 ? 0.0 : v.imag();
    }
    if (!platform::inverseFftReal(spectrum.data(), n, impulse.data())) {
        error = "no transform of that length";
        return false;
    }
    // The edge starts before the reference plane (a Gaussian is symmetric): the sum starts five
    // sigma early, where the circular transform put that part at the end.
    const double earlySamples = std::ceil(5 * sigma * n * df);
    if (!(2 * earlySamples < n)) {
        error = "the frequencies lie too far apart for the edge: the file tells nothing of the "
                "first ten sigma of a step";
        return false;
    }
    const auto early = static_cast<std::size_t>(earlySamples);
    out.values.resize(static_cast<std::size_t>(n) - early);
    double sum = reflection ? n : 0.0;
    for (std::size_t i = 0; i < out.values.size(); ++i) {
        sum += impulse[(i + static_cast<std::size_t>(n) - early) % static_cast<std::size_t>(n)];
        out.values[i] = sum / n;
    }
    out.mode = mode;
    out.referenceOhms = network.referenceOhms;
    out.dt = 1.0 / (n * df);
    out.firstTime = -static_cast<double>(early) * out.dt;
    out.unaliased = std::min(unaliasedSeconds(network),
                             out.firstTime + static_cast<double>(out.values.size()) * out.dt);
    out.riseTimePs = riseTimePs;
    // The buffers of a very long transform are not kept for the next.
    if (n > (1 << 19)) {
        std::vector<double>().swap(spectrum);
        std::vector<double>().swap(impulse);
    }
    return true;
}

double unaliasedSeconds(const Network& network) {
    double widest = 0;
    for (std::size_t i = 1; i < network.hz.size(); ++i)
        widest = std::max(widest, network.hz[i] - network.hz[i - 1]);
    return widest > 0 ? 1 / widest : 0;
}

double secondsOf(double x, XUnit unit, double dielectric) {
    if (unit == XUnit::Nanoseconds) return x * 1e-9;
    const double metres = unit == XUnit::Feet ? x * kMetresPerFoot : x;
    return metres * std::sqrt(dielectric) / kSpeedOfLight;
}

bool profileOver(const StepResponse& step, const SweepWindow& window, YUnit unit, Waveform& x,
                 Waveform& y, std::string& error) {
    if (step.values.empty() || domainOf(window.xUnit) != Domain::Time || !(window.dielectric > 0)) {
        error = "no profile in this domain";
        return false;
    }
    const double from = window.start - window.zero, to = window.end - window.zero;
    const double last = secondsOf(std::max(from, to), window.xUnit, window.dielectric);
    if (last > step.unaliased) {
        char text[160];
        std::snprintf(text, sizeof text,
                      "the window ends %.3f ns after the reference plane, past the %.3f ns the "
                      "file's frequency spacing allows",
                      last * 1e9, step.unaliased * 1e9);
        error = text;
        return false;
    }
    const double before = step.mode == Mode::TDR ? 1.0 : 0.0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        x[i] = from + (to - from) * static_cast<double>(i) / 1024;
        const double at =
            (secondsOf(x[i], window.xUnit, window.dielectric) - step.firstTime) / step.dt;
        double n = before;
        if (at >= 0) {
            const auto k = static_cast<std::size_t>(at);
            const double w = at - static_cast<double>(k);
            n = k + 1 < step.values.size()
                    ? step.values[k] + (step.values[k + 1] - step.values[k]) * w
                    : step.values.back();
        }
        switch (unit) {
        case YUnit::Millivolts:
            y[i] = 250 * n;
            break;
        case YUnit::Ohms: {
            const double rho = std::clamp(n - 1, -0.999, 0.999);
            y[i] = std::min(500.0, step.referenceOhms * (1 + rho) / (1 - rho));
            break;
        }
        case YUnit::Rho:
            y[i] = n - 1;
            break;
        default:
            y[i] = n;
            break;
        }
    }
    return true;
}

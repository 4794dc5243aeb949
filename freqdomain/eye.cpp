// The waveform is never held whole: PRBS 23 at 32 samples a unit interval is 33 million samples.
// Overlap-add convolution hands each finished block straight to the fold.
#include "freqdomain/eye.h"

#include "freqdomain/network.h"
#include "platform/fft.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <random>

namespace eye {

std::vector<std::uint8_t> prbs(Pattern pattern) {
    const auto p = std::find_if(kPolynomials.begin(), kPolynomials.end(),
                                [pattern](const Polynomial& q) { return q.pattern == pattern; });
    if (p == kPolynomials.end()) return {};
    const std::size_t period = (std::size_t{1} << p->order) - 1;
    const std::size_t n = std::min(period, kMaxBits);
    std::vector<std::uint8_t> bits(n);
    // Fibonacci register, all ones at the start: the output is the feedback bit.
    std::uint32_t state = (1u << p->order) - 1;
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint32_t bit = ((state >> (p->order - 1)) ^ (state >> (p->tap - 1))) & 1u;
        state = ((state << 1) | bit) & ((1u << p->order) - 1);
        bits[i] = static_cast<std::uint8_t>(bit);
    }
    return bits;
}

namespace {

// Symbol levels from 0 to 1: NRZ the bit, PAM4 two bits Gray coded (00 0, 01 1/3, 11 2/3,
// 10 1).
std::vector<double> levelsOf(const std::vector<std::uint8_t>& bits, Coding coding) {
    std::vector<double> out;
    if (coding == Coding::Nrz) {
        out.assign(bits.begin(), bits.end());
        return out;
    }
    constexpr double kGray[4] = {0.0, 1.0 / 3, 1.0, 2.0 / 3}; // index: first bit, second bit
    for (std::size_t i = 0; i + 1 < bits.size(); i += 2)
        out.push_back(kGray[bits[i] * 2 + bits[i + 1]]);
    return out;
}

struct Fold {
    const Settings& s;
    Eye& e;
    int spu;
    std::size_t phase; // the sample of a unit interval where the eye's centre lies
    std::vector<double> thresholds;
    // Per eye at the centre: the lowest sample above its decision level and the highest below.
    std::vector<double> up, down;
    std::mt19937_64 random;
    std::normal_distribution<double> gauss{0.0, 1.0};
    long jitterShift = 0; // of the current unit interval, in samples
    double dv = 0;
    // Crossings of each decision level nearest the centre on either side, in samples from it.
    std::vector<double> left, right;
    double previous = NAN;

    void add(std::size_t n, double v) {
        const std::size_t inUi = (n + spu - phase % spu) % static_cast<std::size_t>(spu);
        if (inUi == 0 && s.rjSeconds > 0)
            jitterShift = std::lround(gauss(random) * s.rjSeconds / e.ui * spu);
        if (s.noise > 0) v += gauss(random) * s.noise;
        // The centre of an eye at column spu, crossings at spu / 2 and 3 spu / 2.
        const long col =
            ((static_cast<long>(n) - static_cast<long>(phase) + spu + jitterShift) % (2L * spu) +
             2L * spu) %
            (2L * spu);
        // A crossing between the last sample and this one, placed by interpolation.
        if (std::isfinite(previous))
            for (std::size_t i = 0; i < thresholds.size(); ++i) {
                const double a = previous - thresholds[i], b = v - thresholds[i];
                if (a * b >= 0 && !(a != 0 && b == 0)) continue;
                // From the centre, within one unit interval either side (the picture wraps).
                double d = static_cast<double>(col) - 1 + a / (a - b) - spu;
                if (d < -spu) d += 2 * spu;
                if (d >= spu) d -= 2 * spu;
                if (d < 0)
                    left[i] = std::max(left[i], d);
                else
                    right[i] = std::min(right[i], d);
            }
        previous = v;
        int row = static_cast<int>(std::floor((v - e.vLow) / dv));
        row = std::clamp(row, 0, e.rows - 1);
        ++e.hits[static_cast<std::size_t>(row) * static_cast<std::size_t>(e.columns) +
                 static_cast<std::size_t>(col)];
        if (col % spu != 0) return; // the centre of either eye of the picture
        for (std::size_t i = 0; i < thresholds.size(); ++i) {
            const double lo = i == 0 ? -std::numeric_limits<double>::infinity() : thresholds[i - 1];
            const double hi = i + 1 < thresholds.size() ? thresholds[i + 1]
                                                        : std::numeric_limits<double>::infinity();
            if (v > thresholds[i] && v <= hi) up[i] = std::min(up[i], v);
            if (v <= thresholds[i] && v > lo) down[i] = std::max(down[i], v);
        }
    }
};

// Hits inside the mask scaled by `scale`, centred on the middle eye.
long maskHits(const Eye& e, const Settings& s, int spu, double level, double scale) {
    const double halfW = s.maskWidthUi * spu / 2 * scale, halfH = s.maskHeight / 2 * scale;
    const double dv = (e.vHigh - e.vLow) / e.rows;
    long hits = 0;
    for (int c = 0; c < e.columns; ++c) {
        const double x = std::fabs(c - spu);
        if (x > halfW) continue;
        const double h = s.hexagon ? halfH * std::min(1.0, (halfW - x) / (halfW / 2)) : halfH;
        for (int r = 0; r < e.rows; ++r) {
            const double v = e.vLow + (r + 0.5) * dv;
            if (std::fabs(v - level) <= h)
                hits += e.hits[static_cast<std::size_t>(r) * static_cast<std::size_t>(e.columns) +
                               static_cast<std::size_t>(c)];
        }
    }
    return hits;
}

} // namespace

Eye compute(const Step& step, const Settings& s) {
    Eye e;
    const auto fail = [&e](std::string why) {
        e.error = std::move(why);
        return e;
    };
    if (!(s.bitRate > 0) || s.samplesPerUi < 4 || s.samplesPerUi > 256 || s.rows < 16)
        return fail("bit rate, samples per unit interval or rows out of range");
    if (step.values.size() < 2 || !(step.dt > 0)) return fail("no step response");
    std::vector<std::uint8_t> bits;
    if (s.pattern == Pattern::User) {
        for (char c : s.bits) {
            if (c != '0' && c != '1') return fail("a bit pattern holds only 0 and 1");
            bits.push_back(static_cast<std::uint8_t>(c - '0'));
        }
    } else {
        bits = prbs(s.pattern);
    }
    const std::vector<double> symbols = levelsOf(bits, s.coding);
    if (symbols.size() < 2) return fail("the pattern is shorter than two symbols");

    const int spu = s.samplesPerUi;
    e.ui = (s.coding == Coding::Pam4 ? 2.0 : 1.0) / s.bitRate;
    const double ts = e.ui / spu;
    // The step on the eye's grid, from its level before the edge.
    const std::size_t n = static_cast<std::size_t>(std::floor(
                              (static_cast<double>(step.values.size()) - 1) * step.dt / ts)) +
                          1;
    if (n < static_cast<std::size_t>(spu))
        return fail("the step response is shorter than one unit interval");
    if (n > (std::size_t{1} << 20)) return fail("the step response is too long for this bit rate");
    std::vector<double> st(n);
    for (std::size_t j = 0; j < n; ++j) {
        const double x = static_cast<double>(j) * ts / step.dt;
        const std::size_t i = std::min(static_cast<std::size_t>(x), step.values.size() - 2);
        const double f = x - static_cast<double>(i);
        st[j] = step.values[i] + f * (step.values[i + 1] - step.values[i]) - step.values.front();
    }
    e.amplitude = st.back();
    // The pulse: the step less itself one unit interval later.
    std::vector<double> pulse(n + static_cast<std::size_t>(spu));
    for (std::size_t j = 0; j < pulse.size(); ++j)
        pulse[j] =
            (j < n ? st[j] : st.back()) - (j >= static_cast<std::size_t>(spu) ? st[j - spu] : 0.0);
    const auto peak = std::max_element(
        pulse.begin(), pulse.end(), [](double a, double b) { return std::fabs(a) < std::fabs(b); });
    // The main cursor: the peak, or the middle of a flat top (an ideal channel's pulse is flat
    // for a unit interval less its edge).
    std::size_t first = static_cast<std::size_t>(peak - pulse.begin()), last = first;
    const double near = 1e-3 * std::fabs(*peak);
    while (first > 0 && std::fabs(pulse[first - 1] - *peak) <= near) --first;
    while (last + 1 < pulse.size() && std::fabs(pulse[last + 1] - *peak) <= near) ++last;
    const std::size_t c0 = (first + last) / 2;
    const double p0 = pulse[c0];
    if (!(std::fabs(p0) > 0)) return fail("the channel passes nothing");
    // Settled: its last unit interval holds under 1 % of the main cursor.
    double tail = 0;
    for (std::size_t j = pulse.size() - static_cast<std::size_t>(spu); j < pulse.size(); ++j)
        tail = std::max(tail, std::fabs(pulse[j]));
    e.settled = tail < 0.01 * std::fabs(p0);

    // Peak distortion over every unit interval of the window, through the main cursor.
    const std::size_t phase = c0 % static_cast<std::size_t>(spu);
    double isi = 0;
    e.cursors.clear();
    for (std::size_t j = phase; j < pulse.size(); j += static_cast<std::size_t>(spu)) {
        e.cursors.push_back(pulse[j]);
        if (j != c0) isi += std::fabs(pulse[j]);
    }
    e.mainCursor = c0 / static_cast<std::size_t>(spu);
    std::rotate(e.cursors.begin(), e.cursors.begin() + static_cast<long>(e.mainCursor),
                e.cursors.end());
    e.worstHeight = (p0 - isi) / (s.coding == Coding::Pam4 ? 3.0 : 1.0);

    // The histogram's range: what the pattern can reach, with a margin for noise.
    double lo = 0, hi = 0;
    for (std::size_t ph = 0; ph < static_cast<std::size_t>(spu); ++ph) {
        double pos = 0, neg = 0;
        for (std::size_t j = ph; j < pulse.size(); j += static_cast<std::size_t>(spu))
            (pulse[j] > 0 ? pos : neg) += pulse[j];
        lo = std::min(lo, neg);
        hi = std::max(hi, pos);
    }
    const double margin = 0.05 * (hi - lo) + 4 * s.noise;
    e.vLow = lo - margin;
    e.vHigh = hi + margin;
    e.rows = s.rows;
    e.columns = 2 * spu;
    e.hits.assign(static_cast<std::size_t>(e.rows) * static_cast<std::size_t>(e.columns), 0);

    Fold fold{s,
              e,
              spu,
              phase,
              {},
              {},
              {},
              std::mt19937_64(s.seed),
              std::normal_distribution<double>(0.0, 1.0),
              0,
              0,
              {},
              {},
              NAN};
    fold.dv = (e.vHigh - e.vLow) / e.rows;
    const int eyes = s.coding == Coding::Pam4 ? 3 : 1;
    for (int i = 0; i < eyes; ++i) fold.thresholds.push_back(e.amplitude * (i + 0.5) / eyes);
    fold.up.assign(static_cast<std::size_t>(eyes), std::numeric_limits<double>::infinity());
    fold.down.assign(static_cast<std::size_t>(eyes), -std::numeric_limits<double>::infinity());
    fold.left.assign(static_cast<std::size_t>(eyes), -static_cast<double>(spu));
    fold.right.assign(static_cast<std::size_t>(eyes), static_cast<double>(spu));

    // Overlap-add: the symbol train, led by the pattern's own end so the first folded sample is
    // already in steady state, through the pulse's spectrum.
    const std::size_t L = pulse.size();
    std::size_t nfft = 4096;
    while (nfft < 2 * L) nfft *= 2;
    const std::size_t block = nfft - L + 1;
    std::vector<double> buf(nfft), bins(nfft + 2), pulseBins(nfft + 2), out(nfft), tailSum(L, 0.0);
    std::copy(pulse.begin(), pulse.end(), buf.begin());
    platform::forwardFftReal(buf.data(), static_cast<int>(nfft), pulseBins.data());
    const std::size_t lead = (L + spu - 1) / static_cast<std::size_t>(spu); // symbols
    const std::size_t total = (lead + symbols.size()) * static_cast<std::size_t>(spu);
    const std::size_t skip = lead * static_cast<std::size_t>(spu);
    const auto symbolAt = [&](std::size_t k) {
        return k < lead ? symbols[(symbols.size() - (lead - k) % symbols.size()) % symbols.size()]
                        : symbols[k - lead];
    };
    const double scale = 1.0 / static_cast<double>(nfft);
    for (std::size_t start = 0; start < total; start += block) {
        std::fill(buf.begin(), buf.end(), 0.0);
        const std::size_t len = std::min(block, total - start);
        for (std::size_t j = (start + spu - 1) / spu * spu; j < start + len; j += spu)
            buf[j - start] = symbolAt(j / spu);
        platform::forwardFftReal(buf.data(), static_cast<int>(nfft), bins.data());
        for (std::size_t k = 0; k <= nfft / 2; ++k) {
            const double ar = bins[2 * k], ai = bins[2 * k + 1];
            const double br = pulseBins[2 * k], bi = pulseBins[2 * k + 1];
            bins[2 * k] = (ar * br - ai * bi) * scale;
            bins[2 * k + 1] = (ar * bi + ai * br) * scale;
        }
        platform::inverseFftReal(bins.data(), static_cast<int>(nfft), out.data());
        for (std::size_t j = 0; j < L && j < nfft; ++j) out[j] += tailSum[j];
        for (std::size_t j = 0; j < len; ++j)
            if (start + j >= skip) fold.add(start + j - skip, out[j]);
        std::fill(tailSum.begin(), tailSum.end(), 0.0);
        for (std::size_t j = len; j < nfft && j - len < L; ++j) tailSum[j - len] = out[j];
    }

    e.height = std::numeric_limits<double>::infinity();
    for (int i = 0; i < eyes; ++i)
        e.height = std::min(e.height, std::max(0.0, fold.up[static_cast<std::size_t>(i)] -
                                                        fold.down[static_cast<std::size_t>(i)]));
    if (!std::isfinite(e.height)) e.height = 0;
    // Width: between the crossings of the decision level nearest the centre; none when closed.
    e.width = std::numeric_limits<double>::infinity();
    for (std::size_t i = 0; i < fold.thresholds.size(); ++i)
        e.width = std::min(e.width, std::max(0.0, fold.right[i] - fold.left[i]) * ts);
    if (e.height == 0 || !std::isfinite(e.width)) e.width = 0;
    if (s.maskWidthUi > 0 && s.maskHeight > 0) {
        const double level = fold.thresholds[fold.thresholds.size() / 2];
        e.maskHits = maskHits(e, s, spu, level, 1.0);
        double clear = 0;
        for (double k = 0.01; k <= 3.0; k += 0.01) {
            if (maskHits(e, s, spu, level, k) > 0) break;
            clear = k;
        }
        e.maskMargin = clear - 1.0;
    }
    e.ok = true;
    return e;
}

Step stepOfTrace(const double* x, const double* y, std::size_t n, XUnit unit, double dielectric) {
    Step s;
    if (n < 2) return s;
    // The instrument's step repeats: a window may open on the last period's high level and its
    // fall. The step starts at the lowest point before its steepest rise.
    const std::size_t m = std::max<std::size_t>(1, n / 64);
    std::size_t edge = 0;
    for (std::size_t i = 0; i + m < n; ++i)
        if (y[i + m] - y[i] > y[edge + m] - y[edge]) edge = i;
    const std::size_t from = static_cast<std::size_t>(std::min_element(y, y + edge + 1) - y);
    s.values.assign(y + from, y + n);
    if (s.values.size() < 2) s.values.assign(y, y + n);
    s.dt = (secondsOf(x[n - 1], unit, dielectric) - secondsOf(x[0], unit, dielectric)) /
           static_cast<double>(n - 1);
    return s;
}

platform::EyePicture pictureOf(const Eye& e, const Settings& s, const std::string& unit) {
    platform::EyePicture p;
    p.hits = e.hits;
    p.columns = e.columns;
    p.rows = e.rows;
    p.spanPs = 2 * e.ui * 1e12;
    p.vLow = e.vLow;
    p.vHigh = e.vHigh;
    p.yLabel = unit;
    char buf[200];
    std::snprintf(buf, sizeof buf, "height %.2f %s   width %.1f ps   worst case %.2f %s", e.height,
                  unit.c_str(), e.width * 1e12, e.worstHeight, unit.c_str());
    p.figures = buf;
    if (e.maskHits >= 0) {
        std::snprintf(buf, sizeof buf, "   mask hits %ld", e.maskHits);
        p.figures += buf;
        const double w = s.maskWidthUi * e.ui * 1e12 / 2, h = s.maskHeight / 2;
        const double level = e.amplitude / 2;
        if (s.hexagon) {
            p.maskX = {-w, -w / 2, w / 2, w, w / 2, -w / 2, -w};
            p.maskY = {level, level + h, level + h, level, level - h, level - h, level};
        } else {
            p.maskX = {-w, -w, w, w, -w};
            p.maskY = {level - h, level + h, level + h, level - h, level - h};
        }
    }
    return p;
}

bool settingsOf(const platform::EyeRequest& r, Settings& s) {
    s.bitRate = r.bitrateGbps * 1e9;
    s.coding = r.pam4 ? Coding::Pam4 : Coding::Nrz;
    s.rjSeconds = r.rjPs * 1e-12;
    s.noise = r.noise;
    s.maskWidthUi = r.maskWidthUi;
    s.maskHeight = r.maskHeight;
    s.hexagon = r.hexagon;
    return patternOf(r.pattern, s.pattern, s.bits);
}

bool patternOf(const std::string& name, Pattern& pattern, std::string& bits) {
    for (const Polynomial& p : kPolynomials)
        if (name == p.name) {
            pattern = p.pattern;
            return true;
        }
    if (name.empty() || name.find_first_not_of("01") != std::string::npos) return false;
    pattern = Pattern::User;
    bits = name;
    return true;
}

} // namespace eye

// Frequency-domain model of cascaded lines, transformed into step responses on the fine grid.
#include "simulator/sim_physics.h"

#include "simulator/sim_models.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

namespace simulator::physics {
namespace {

using cd = std::complex<double>;
constexpr double kZ0 = 50.0;
// Twice the stored grid. The circular transform would fold everything that arrives after one
// period (a long line's far end, a slowly decaying ring) back onto the trace, so the response
// is computed damped by exp(-kDamping t) and undamped afterwards: a period later it is down by
// 1e-9, and the undamping at the end of the stored grid magnifies rounding by only 3e4.
constexpr std::size_t kTransformSize = 2 * kGridPoints;
constexpr double kDamping = 20.7 / (static_cast<double>(kTransformSize) * kFineStep);
constexpr double kNepersPerDb = 1.0 / 8.685889638065035;

struct Block {
    double ohms;
    double delay;  // one way, seconds
    double lossNp; // nepers over the whole section at 1 GHz
    double length; // metres
};

enum class Term { Open, Short, Load, Matched };

struct Path {
    std::vector<Block> blocks;
    Term term = Term::Open;
    double loadOhms = kZ0;
    bool reachesPartner = false; // ends in the other port's instrument through a through
    double dutDelay = 0.0;       // one-way delay of the device under test's sections
    bool viaDevice = false;      // the device under test is what is connected
};

struct Scattering {
    cd s11{0.0}, s12{1.0}, s21{1.0}, s22{0.0};
};

Scattering cascade(const Scattering& a, const Scattering& b) {
    const cd d = 1.0 / (1.0 - a.s22 * b.s11);
    return {a.s11 + a.s12 * b.s11 * a.s21 * d, a.s12 * b.s12 * d, a.s21 * b.s21 * d,
            b.s22 + b.s21 * a.s22 * b.s12 * d};
}

// Complex frequency s = damping + j 2 pi f.
cd complexFrequency(double f, double damping) {
    return {damping, 2.0 * std::numbers::pi * f};
}

// A uniform line in the 50-ohm reference; stays finite however long or lossy the line is.
Scattering lineSection(const Block& b, cd s) {
    // Skin loss grows with the square root of frequency; on the j-omega axis this is
    // loss (1 + j) sqrt(f / 1 GHz), whose equal imaginary part keeps the line causal.
    const cd skin = b.lossNp * std::numbers::sqrt2 * std::sqrt(s / (2e9 * std::numbers::pi));
    const cd p = std::exp(-(skin + s * b.delay));
    const double rho = (b.ohms - kZ0) / (b.ohms + kZ0);
    const cd p2 = p * p;
    const cd den = 1.0 - rho * rho * p2;
    const cd s11 = rho * (1.0 - p2) / den;
    const cd s21 = p * (1.0 - rho * rho) / den;
    return {s11, s21, s21, s11};
}

cd terminationReflection(Term t, double loadOhms) {
    switch (t) {
    case Term::Open:
        return 1.0;
    case Term::Short:
        return -1.0;
    case Term::Load:
        return (loadOhms - kZ0) / (loadOhms + kZ0);
    case Term::Matched:
        return 0.0;
    }
    return 0.0;
}

struct Response {
    cd gamma; // looking into the path
    cd s21;   // to the far end, when it ends matched
};

Response evaluate(const Path& path, cd sf) {
    Scattering s;
    for (const Block& b : path.blocks) s = cascade(s, lineSection(b, sf));
    const cd gl = terminationReflection(path.term, path.loadOhms);
    return {s.s11 + s.s12 * s.s21 * gl / (1.0 - s.s22 * gl), s.s21};
}

void appendInstrument(std::vector<Block>& blocks, int channel, bool outward) {
    const Block internal{kZ0, internalDelay(channel), 0.0, internalDelay(channel) * kLightSpeed};
    const Block connector{kConnectorOhms, kConnectorDelay, 0.0, kConnectorDelay * kLightSpeed};
    if (outward) {
        blocks.push_back(internal);
        blocks.push_back(connector);
    } else {
        blocks.push_back(connector);
        blocks.push_back(internal);
    }
}

Block toBlock(const Section& s) {
    const double delay = s.length * std::sqrt(s.dielK) / kLightSpeed;
    return {s.ohms, delay, s.lossDbPerM * s.length * kNepersPerDb, s.length};
}

Term standardTerm(Connection c) {
    return c == Connection::Short ? Term::Short : c == Connection::Open ? Term::Open : Term::Load;
}

// Everything from sampler `channel` outwards (or from its front connector when
// withInstrument is false) to wherever the signal ends.
Path buildPath(const Config& cfg, int channel, bool withInstrument) {
    Path path;
    if (withInstrument) appendInstrument(path.blocks, channel, true);
    const int partner = throughPartner(channel);
    const Connection conn = cfg.connections[channel];
    auto endInPartner = [&] {
        if (withInstrument) appendInstrument(path.blocks, partner, false);
        path.term = Term::Matched;
        path.reachesPartner = true;
    };
    switch (conn) {
    case Connection::Short:
    case Connection::Open:
    case Connection::Load:
        path.term = standardTerm(conn);
        return path;
    case Connection::Through:
        endInPartner();
        return path;
    case Connection::Device:
        break;
    }
    path.viaDevice = true;
    const ChannelDut& own = cfg.scenario.channels[channel];
    const ChannelDut& far = cfg.scenario.channels[partner];
    const bool through = (own.described && own.ending == Ending::Through) ||
                         (far.described && far.ending == Ending::Through);
    if (!own.described && !through) {
        path.term = Term::Open; // a bare connector
        return path;
    }
    std::vector<Section> sections = own.sections;
    if (through && sections.empty()) sections.assign(far.sections.rbegin(), far.sections.rend());
    for (const Section& s : sections) {
        path.blocks.push_back(toBlock(s));
        path.dutDelay += path.blocks.back().delay;
    }
    if (!through) {
        path.term = own.ending == Ending::Short  ? Term::Short
                    : own.ending == Ending::Load ? Term::Load
                                                 : Term::Open;
        path.loadOhms = own.loadOhms;
        return path;
    }
    const Connection farConn = cfg.connections[partner];
    if (farConn == Connection::Device || farConn == Connection::Through)
        endInPartner();
    else
        path.term = standardTerm(farConn);
    return path;
}

int pairDistance(int a, int b) {
    return std::abs(positionOnPort(a) - positionOnPort(b));
}

// What reaches sampler pair `pair` when `stimulus` fires, as a transfer function of frequency
// relative to the incident step (before the rise-time filter and the launch delay).
struct Transfer {
    enum Kind { None, Reflection, Transmission, NearEnd, FarEnd } kind = None;
    Path path;
    double k = 0.0, coupledDelay = 0.0, arrival = 0.0, width = 0.0;

    cd at(cd s) const {
        switch (kind) {
        case Reflection:
            return 1.0 + evaluate(path, s).gamma;
        case Transmission:
            return evaluate(path, s).s21;
        case NearEnd:
            return k * (1.0 - std::exp(-s * 2.0 * coupledDelay)) * std::exp(-s * arrival);
        case FarEnd:
            return -k * (1.0 - std::exp(-s * width)) * std::exp(-s * arrival);
        case None:
            break;
        }
        return 0.0;
    }
};

Transfer transferFor(const Config& cfg, int stimulus, int pair) {
    Transfer t;
    const ModelInfo& model = kModels[cfg.model];
    if (!model.stimulus[stimulus] || !model.stimulus[pair]) return t;
    if (pair == stimulus) {
        t.kind = Transfer::Reflection;
        t.path = buildPath(cfg, stimulus, true);
        return t;
    }
    if (pair == throughPartner(stimulus)) {
        t.path = buildPath(cfg, stimulus, true);
        if (t.path.reachesPartner) t.kind = Transfer::Transmission;
        return t;
    }
    const Path aggressor = buildPath(cfg, stimulus, false);
    if (portOf(pair) == portOf(stimulus)) {
        // Backward crosstalk: a plateau as long as the round trip of the coupled length.
        const Path victim = buildPath(cfg, pair, false);
        const int d = pairDistance(stimulus, pair);
        t.k = cfg.scenario.nextCoupling / (d * d);
        if (!aggressor.viaDevice || !victim.viaDevice) return t;
        t.coupledDelay = std::min(aggressor.dutDelay, victim.dutDelay);
        if (t.k <= 0.0 || t.coupledDelay <= 0.0) return t;
        t.arrival = internalDelay(stimulus) + internalDelay(pair) + 2.0 * kConnectorDelay;
        t.kind = Transfer::NearEnd;
        return t;
    }
    // Forward crosstalk travels with the through step of the aggressor along a neighbouring
    // through and arrives as a short negative pulse.
    const int victimNear = throughPartner(pair);
    const Path victim = buildPath(cfg, victimNear, false);
    const int d = pairDistance(stimulus, victimNear);
    t.k = cfg.scenario.fextCoupling / (d * d);
    if (!aggressor.viaDevice || !victim.viaDevice || !aggressor.reachesPartner ||
        !victim.reachesPartner || t.k <= 0.0)
        return t;
    if (std::min(aggressor.dutDelay, victim.dutDelay) <= 0.0) return t;
    t.arrival =
        internalDelay(stimulus) + aggressor.dutDelay + internalDelay(pair) + 2.0 * kConnectorDelay;
    t.width = riseTime(model.speedClass);
    t.kind = Transfer::FarEnd;
    return t;
}

// Twiddle factors for the largest transform, shared by every smaller one.
const std::vector<cd>& twiddles() {
    static const std::vector<cd> table = [] {
        std::vector<cd> w(kTransformSize / 2);
        for (std::size_t k = 0; k < w.size(); ++k)
            w[k] = std::polar(1.0, -2.0 * std::numbers::pi * static_cast<double>(k) /
                                       static_cast<double>(kTransformSize));
        return w;
    }();
    return table;
}

} // namespace

void fft(std::vector<cd>& a, bool inverse) {
    const std::size_t n = a.size();
    if (n < 2 || (n & (n - 1)) != 0 || n > kTransformSize) return;
    for (std::size_t i = 1, j = 0; i < n; ++i) {
        std::size_t bit = n >> 1;
        for (; j & bit; bit >>= 1) j ^= bit;
        j ^= bit;
        if (i < j) std::swap(a[i], a[j]);
    }
    const std::vector<cd>& tw = twiddles();
    for (std::size_t len = 2; len <= n; len <<= 1) {
        const std::size_t half = len / 2, stride = kTransformSize / len;
        for (std::size_t i = 0; i < n; i += len) {
            for (std::size_t k = 0; k < half; ++k) {
                const cd w = inverse ? std::conj(tw[k * stride]) : tw[k * stride];
                const cd u = a[i + k], v = a[i + k + half] * w;
                a[i + k] = u + v;
                a[i + k + half] = u - v;
            }
        }
    }
}

void computeResponse(const Config& cfg, int stimulus, int pair, float* out, Workspace& ws) {
    std::fill(out, out + kGridPoints, 0.0f);
    if (stimulus < 0 || stimulus > 9 || pair < 0 || pair > 9) return;
    const Transfer transfer = transferFor(cfg, stimulus, pair);
    if (transfer.kind == Transfer::None) return;

    const double amplitude = stepAmplitude(stimulus);
    const double sigma = riseTime(kModels[cfg.model].speedClass) / 2.5631; // Gaussian edge
    const std::size_t n = kTransformSize;
    const double df = 1.0 / (static_cast<double>(n) * kFineStep);
    // Beyond this the edge filter is below 1e-17: nothing left to compute.
    const double fCut = std::sqrt(40.0) / (2.0 * std::numbers::pi * sigma);
    const std::size_t kMax = std::min<std::size_t>(n / 2 - 1, static_cast<std::size_t>(fCut / df));

    ws.spectrum.assign(n, cd(0.0));
    for (std::size_t k = 0; k <= kMax; ++k) {
        const cd s = complexFrequency(static_cast<double>(k) * df, kDamping);
        const cd edge = std::exp(0.5 * (s * sigma) * (s * sigma)); // Gaussian edge
        const cd h = amplitude * edge * transfer.at(s) * std::exp(-s * kIncidentEdge);
        ws.spectrum[k] = h;
        if (k > 0) ws.spectrum[n - k] = std::conj(h);
    }
    fft(ws.spectrum, true);

    // Integrate the impulse response into the step response; the level well before the edge
    // is the baseline by definition.
    const std::size_t quiet =
        static_cast<std::size_t>(std::max(0.0, (kIncidentEdge - 12.0 * sigma) / kFineStep));
    double sum = 0.0, baseline = 0.0;
    const double scale = 1.0 / static_cast<double>(n);
    const double undamp = std::exp(kDamping * kFineStep);
    double gain = scale;
    for (std::size_t i = 0; i < static_cast<std::size_t>(kGridPoints); ++i, gain *= undamp) {
        sum += ws.spectrum[i].real() * gain;
        if (i == quiet) baseline = sum;
        out[i] = static_cast<float>(i <= quiet ? 0.0 : sum - baseline);
    }
}

std::vector<ImpedancePoint> impedanceProfile(const Config& cfg, int stimulus) {
    std::vector<ImpedancePoint> profile;
    if (stimulus < 0 || stimulus > 9) return profile;
    const Path path = buildPath(cfg, stimulus, false);
    double d = 0.0;
    for (const Block& b : path.blocks) {
        profile.push_back({d, b.ohms});
        d += b.length;
        profile.push_back({d, b.ohms});
    }
    double end = kZ0;
    switch (path.term) {
    case Term::Open:
        end = std::numeric_limits<double>::infinity();
        break;
    case Term::Short:
        end = 0.0;
        break;
    case Term::Load:
        end = path.loadOhms;
        break;
    case Term::Matched:
        end = kZ0;
        break;
    }
    profile.push_back({d, end});
    return profile;
}

void sParametersAt(const Config& cfg, int stimulus, const std::vector<double>& frequencyGHz,
                   std::vector<cd>& s11, std::vector<cd>& s21) {
    s11.clear();
    s21.clear();
    if (stimulus < 0 || stimulus > 9) return;
    const Path path = buildPath(cfg, stimulus, false);
    for (double ghz : frequencyGHz) {
        const Response r = evaluate(path, complexFrequency(ghz * 1e9, 0.0));
        s11.push_back(r.gamma);
        s21.push_back(path.reachesPartner ? r.s21 : cd(0.0));
    }
}

void sParameters(const Config& cfg, int stimulus, std::vector<double>& frequencyGHz,
                 std::vector<cd>& s11, std::vector<cd>& s21) {
    frequencyGHz.clear();
    s11.clear();
    s21.clear();
    if (stimulus < 0 || stimulus > 9) return;
    for (int i = 1; i <= 1000; ++i) frequencyGHz.push_back(0.01 * i);
    sParametersAt(cfg, stimulus, frequencyGHz, s11, s21);
}

} // namespace simulator::physics

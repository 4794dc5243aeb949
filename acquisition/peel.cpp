// Layer peeling (dynamic deconvolution) of a sampled reflection step response.
#include "acquisition/peel.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace {

// The incident edge is passed once the trace has crossed half way from "no step yet" (rho -1)
// and then come within this of the reference line.
constexpr double kEdgeMid = -0.5;
constexpr double kEdgeSettled = 0.02;
// The plain conversion clips rho here; peeling treats the clipped value as it stands.
constexpr double kMaxRho = 0.999;

// First sample that belongs to the line rather than to the arrival of the incident step.
std::size_t firstLineSample(const Waveform& rho) {
    std::size_t i = 0;
    if (!(rho[0] < kEdgeMid)) return 0;
    while (i < rho.size() && rho[i] < kEdgeMid) ++i;
    while (i < rho.size() && rho[i] < -kEdgeSettled) ++i;
    return i;
}

} // namespace

void peelProfile(Waveform& ohms, double referenceOhms) {
    if (!(referenceOhms > 0) || !std::isfinite(referenceOhms)) return;
    constexpr std::size_t n = std::tuple_size_v<Waveform>;
    // The step response against the reference line.
    Waveform rho;
    for (std::size_t i = 0; i < n; ++i)
        rho[i] = (ohms[i] - referenceOhms) / (ohms[i] + referenceOhms);

    const std::size_t start = firstLineSample(rho);
    std::size_t end = start;
    while (end < n && std::isfinite(rho[end])) ++end;
    if (start >= end) return;
    const std::size_t m = end - start;

    // down[t] is the wave going into layer j, t samples after its wavefront reaches the layer;
    // up[j + t] is the wave coming out of it at the same moment. Kept so, peeling one layer is
    // a rotation of the pairs (down[t], up[j + t]), with no shifting.
    Waveform down{}, up{};
    down[0] = 1.0;
    // What came before the first line sample is taken as the reference line with the step in it.
    double previous = 0.0;
    for (std::size_t i = 0; i < m; ++i) {
        up[i] = rho[start + i] - previous;
        previous = rho[start + i];
    }

    double z = referenceOhms;
    double transmission = 1.0;
    for (std::size_t j = 0; j < m; ++j) {
        // Where the plain trace already sends back all but 2 % of the step's energy (a short,
        // seen through an edge of many small layers that each pass most of it), stop too.
        const double plain = rho[start + j];
        if (1.0 - plain * plain < kPeelMinTransmission) return;
        const double k = std::clamp(up[j] / down[0], -kMaxRho, kMaxRho);
        z *= (1.0 + k) / (1.0 - k);
        transmission *= 1.0 - k * k;
        if (z >= kPeelMaxOhms) z = kPeelMaxOhms;
        ohms[start + j] = z;
        // Behind an open or a short the rest stays as the plain conversion shows it.
        if (z >= kPeelMaxOhms || transmission < kPeelMinTransmission) return;
        const double g = 1.0 / (1.0 - k);
        for (std::size_t t = 0; t < m - j; ++t) {
            const double d = down[t];
            const double u = up[j + t];
            down[t] = (d - k * u) * g;
            up[j + t] = (u - k * d) * g;
        }
    }
}

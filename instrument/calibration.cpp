// Per-port calibration: measures start level, step amplitude and edge delay on the instrument.
#include "instrument/driver.h"
#include "instrument/transport.h"
#include "platform/clock.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace {

constexpr int kMaxRetries = 10;
constexpr int kBaselineLimit = 100;
constexpr int kLevelStart = 200;
constexpr int kLastIndex = 1023;

bool offBaseline(double level) {
    return level > kBaselineLimit || level < -kBaselineLimit;
}

// Mean of the link's samples [from, to), signed; the caller has checked that the range is not
// empty.
double levelMean(const Instrument& in, int from, int to) {
    double sum = 0;
    for (int i = from; i < to; ++i) sum += in.link.samples[static_cast<std::size_t>(i)];
    return sum / (to - from);
}

} // namespace

// One edge measurement on the given stimulus channel and sampler: select the ports, wait for
// them, read offset, baseline and a calibration sweep (the link's samples keep it) and find the
// first sample at the edge threshold (1023 when none). The calibration sweep is kept signed and
// its offset in `offset`. Returns the first failing sweep status, or 1.
static int measureEdge(Instrument& in, int stimulus, int sampler, int& edge, double& offset) {
    in.stimulusPort = stimulusPortCode[static_cast<std::size_t>(stimulus)];
    in.samplerPort = samplerPortCode[static_cast<std::size_t>(sampler)];
    in.sendChannelSetup(in.stimulusPort, in.samplerPort);
    if (!in.settle(1.0)) return kSweepsStopped;

    int status = in.readOffset(offset);
    if (status != 1) return status;

    const bool retry = in.isInit.load() == 1;
    status = in.readData(0, 0, offset, 0);
    if (status != 1) return status;
    int base = static_cast<int>(in.meanArray());
    for (int n = 0; retry && n < kMaxRetries && offBaseline(base); ++n) {
        status = in.readData(0, 0, offset, 0);
        if (status != 1) return status;
        base = static_cast<int>(in.meanArray());
    }

    const int calInc = static_cast<int>(in.timing.calIncrement);
    status = in.readData(calInc, 0, offset, 0);
    if (status != 1) return status;
    for (int n = 0; retry && n < kMaxRetries && offBaseline(in.link.samples[0]); ++n) {
        status = in.readData(calInc, 0, offset, 0);
        if (status != 1) return status;
    }

    const int threshold = base + (base + 1000) / 2;
    edge = kLastIndex;
    for (int i = 0; i < kLastIndex; ++i) {
        if (std::fabs(in.link.samples[static_cast<std::size_t>(i)]) >= threshold) {
            edge = i;
            break;
        }
    }
    return 1;
}

bool Instrument::settle(double seconds) {
    const SweepStopFn stop = shouldStop.load();
    // Whole milliseconds, so that the steps add up to exactly the wait asked for.
    for (long left = std::lround(seconds * 1000); left > 0; left -= 50) {
        if (stop && stop()) return false;
        platform::Delay(static_cast<double>(std::min(left, 50L)) / 1000.0);
    }
    return !(stop && stop());
}

int Instrument::measureConstants(int stimulus, int sampler, Mode mode, int levelSweeps) {
    if (stimulus < 0 || stimulus >= static_cast<int>(cal.calDelay.size()) || sampler < 0 ||
        sampler >= static_cast<int>(cal.vampl.size()))
        return -1;

    stimActive = stimulus;
    samplActive = sampler;
    if (sampler % 2 == 1) {
        polarity = 0;
        samplNeg = sampler;
        samplPos = sampler - 1;
    } else {
        polarity = 1;
        samplPos = sampler;
        samplNeg = sampler + 1;
    }
    const bool reflection = mode == Mode::TDR;
    const int levelStimulus = reflection ? stimulus : samplPos / 2;

    int edge = 0;
    double offset = 0;
    // A sweep that did not come back leaves stale counts; nothing may be measured from them.
    if (const int s = measureEdge(*this, levelStimulus, sampler, edge, offset); s != 1)
        return s == kSweepsStopped ? s : -2;
    if (edge < timing.edgeIdx) return -2;

    // Compute both level windows before storing anything: an edge close to either end of the
    // sweep leaves a window empty, and a level divided by zero must never replace a good one.
    const int d = static_cast<int>(timing.calGuard * timing.calAdjust / (timing.calWindow / 1024));
    const int e = static_cast<int>(edge - 0.1 * d);
    int f = edge + d;
    int g = static_cast<int>(edge + timing.calIdxAvg * d);
    if (f > kLastIndex) f = kLastIndex;
    if (g > kLastIndex) g = kLastIndex;
    if (e <= kLevelStart || g <= f) return -1;

    // The levels of more sweeps of the same window, the edge where the first one found it.
    double start = levelMean(*this, kLevelStart, e);
    double end = levelMean(*this, f, g);
    for (int n = 1; n < levelSweeps; ++n) {
        if (readData(static_cast<int>(timing.calIncrement), 0, offset, 0) != 1) return -2;
        start += levelMean(*this, kLevelStart, e);
        end += levelMean(*this, f, g);
    }
    // Oriented by the step itself (a negative line's goes down), after the mean: the level
    // before the step sits at the offset, and a mean of |noise| there would be some 2.4 counts
    // however many samples it took, an amplitude error that no averaging removes.
    const double orientation = end < 0 ? -1.0 : 1.0;
    start *= orientation / std::max(levelSweeps, 1);
    end *= orientation / std::max(levelSweeps, 1);

    // Nothing is stored until the whole calibration has succeeded: acquisition goes on with
    // the previous constants, and an inverted or missing step must never replace them.
    int delay = static_cast<int>(timing.calIncrement * (edge - timing.edgeIdx));
    if (!reflection) {
        int edge2 = 0;
        if (const int s = measureEdge(*this, stimulus, sampler, edge2, offset); s != 1)
            return s == kSweepsStopped ? s : -3;
        if (edge2 < timing.edgeIdx) return -3;
        delay = static_cast<int>(timing.calIncrement * (edge2 - 2.5 * timing.edgeIdx));
    }
    if (!(end - start > 0)) return -1;

    const auto s = static_cast<std::size_t>(sampler);
    cal.vstart[s] = start;
    cal.vend[s] = end;
    cal.vampl[s] = end - start;
    const auto stim = static_cast<std::size_t>(stimulus);
    (reflection ? cal.delayTDR : cal.delayTDT)[stim] = delay;
    cal.calDelay[stim] = delay;
    return 1;
}

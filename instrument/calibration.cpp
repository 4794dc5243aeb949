// Per-port calibration: measures start level, step amplitude and edge delay on the instrument.
#include "instrument/calibration.h"

#include "instrument/driver.h"
#include "instrument/transport.h"
#include "platform/clock.h"

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

// Sum of rawWaveform[from..to-1]; the caller has checked that the range is not empty.
double levelMean(int from, int to) {
    double sum = 0;
    for (int i = from; i < to; ++i) sum += instrument.link.samples[static_cast<std::size_t>(i)];
    return sum / (to - from);
}

} // namespace

// One edge measurement on the given stimulus channel and sampler: select the ports, wait for
// them, read offset, baseline and a calibration sweep (rawWaveform keeps it) and find the first
// sample at the edge threshold (1023 when none). Returns the first failing sweep status, or 1.
static int measureEdge(int stimulus, int sampler, int& edge) {
    instrument.stimulusPort = stimulusPortCode[static_cast<std::size_t>(stimulus)];
    instrument.samplerPort = samplerPortCode[static_cast<std::size_t>(sampler)];
    sendChannelSetup(instrument.stimulusPort, instrument.samplerPort);
    platform::Delay(1.0);

    double offset = 0;
    int status = getOffsetChecked(offset);
    if (status != 1) return status;

    const bool retry = instrument.isInit.load() == 1;
    status = readData(0, 0, offset, 0);
    if (status != 1) return status;
    int base = static_cast<int>(meanArray());
    for (int n = 0; retry && n < kMaxRetries && offBaseline(base); ++n) {
        status = readData(0, 0, offset, 0);
        if (status != 1) return status;
        base = static_cast<int>(meanArray());
    }

    const int calInc = static_cast<int>(instrument.timing.calIncrement);
    status = readData(calInc, 0, offset, 1);
    if (status != 1) return status;
    for (int n = 0; retry && n < kMaxRetries && offBaseline(instrument.link.samples[0]); ++n) {
        status = readData(calInc, 0, offset, 1);
        if (status != 1) return status;
    }

    const int threshold = base + (base + 1000) / 2;
    edge = kLastIndex;
    for (int i = 0; i < kLastIndex; ++i) {
        if (instrument.link.samples[static_cast<std::size_t>(i)] >= threshold) {
            edge = i;
            break;
        }
    }
    return 1;
}

int velt_cal(int stimulus, int sampler, Mode mode) {
    if (stimulus < 0 || stimulus >= static_cast<int>(instrument.cal.calDelay.size()) ||
        sampler < 0 || sampler >= static_cast<int>(instrument.cal.vampl.size()))
        return -1;

    instrument.stimActive = stimulus;
    instrument.samplActive = sampler;
    if (sampler % 2 == 1) {
        instrument.polarity = 0;
        instrument.samplNeg = sampler;
        instrument.samplPos = sampler - 1;
    } else {
        instrument.polarity = 1;
        instrument.samplPos = sampler;
        instrument.samplNeg = sampler + 1;
    }
    const bool reflection = mode == Mode::TDR;
    const int levelStimulus = reflection ? stimulus : instrument.samplPos / 2;

    int edge = 0;
    // A sweep that did not come back leaves stale counts; nothing may be measured from them.
    if (measureEdge(levelStimulus, sampler, edge) != 1) return -2;
    if (edge < instrument.timing.edgeIdx) return -2;

    // Compute both level windows before storing anything: an edge close to either end of the
    // sweep leaves a window empty, and a level divided by zero must never replace a good one.
    const int d = static_cast<int>(instrument.timing.calGuard * instrument.timing.calAdjust /
                                   (instrument.timing.calWindow / 1024));
    const int e = static_cast<int>(edge - 0.1 * d);
    int f = edge + d;
    int g = static_cast<int>(edge + instrument.timing.calIdxAvg * d);
    if (f > kLastIndex) f = kLastIndex;
    if (g > kLastIndex) g = kLastIndex;
    if (e <= kLevelStart || g <= f) return -1;

    const double start = levelMean(kLevelStart, e);
    const double end = levelMean(f, g);

    // Nothing is stored until the whole calibration has succeeded: acquisition goes on with
    // the previous constants, and an inverted or missing step must never replace them.
    int delay =
        static_cast<int>(instrument.timing.calIncrement * (edge - instrument.timing.edgeIdx));
    if (!reflection) {
        int edge2 = 0;
        if (measureEdge(stimulus, sampler, edge2) != 1) return -3;
        if (edge2 < instrument.timing.edgeIdx) return -3;
        delay = static_cast<int>(instrument.timing.calIncrement *
                                 (edge2 - 2.5 * instrument.timing.edgeIdx));
    }
    if (!(end - start > 0)) return -1;

    const auto s = static_cast<std::size_t>(sampler);
    instrument.cal.vstart[s] = start;
    instrument.cal.vend[s] = end;
    instrument.cal.vampl[s] = end - start;
    const auto stim = static_cast<std::size_t>(stimulus);
    (reflection ? instrument.cal.delayTDR : instrument.cal.delayTDT)[stim] = delay;
    instrument.cal.calDelay[stim] = delay;
    return 1;
}

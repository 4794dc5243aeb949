// Instrument driver: port selection, timing rows, window arithmetic and sample conversion.
#include "instrument/driver.h"

#include "instrument/transport.h"
#include "platform/clock.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

Instrument instrument;
ViewWindow view;

namespace {

// One pass of the conversion, before it is folded into the mean.
Waveform acqSweep{};

constexpr double kSpeedOfLight = 3e8;
constexpr double kMetresPerFoot = 0.3048;
constexpr int kMinIncrement = 1;
constexpr int kMaxIncrement = 59;

// Truncation toward zero that stays defined for any double (NaN gives 0).
int truncToInt(double x) {
    constexpr double lo = -1073741824.0, hi = 1073741824.0;
    if (std::isnan(x)) return 0;
    return static_cast<int>(std::clamp(x, lo, hi));
}

// Offsets and baselines are 32-bit sums of samples truncated one at a time; wrapping unsigned
// arithmetic keeps that defined even for counts no instrument sends.
std::int32_t sumCounts() {
    std::uint32_t sum = 0;
    for (double sample : instrument.link.samples)
        sum += static_cast<std::uint32_t>(truncToInt(sample));
    return static_cast<std::int32_t>(sum);
}

double ohms(double rho) {
    if (rho <= -1) rho = -0.999;
    if (rho >= 1) rho = 0.999;
    const double z = 50 * (1 + rho) / (1 - rho);
    return z >= 500 ? 500 : z;
}

// One pass: `averaged` maps a sample into the quantity the passes are averaged in, `shown` maps
// that into the unit of the single sweep.
template <typename Averaged, typename Shown>
void convertInto(int pass, Averaged averaged, Shown shown) {
    for (std::size_t i = 0; i < instrument.link.samples.size(); ++i) {
        const double y = averaged(instrument.link.samples[i]);
        acqSweep[i] = shown(y);
        // Pass 0 replaces the mean outright, so a NaN left from an earlier run cannot stick.
        instrument.runningMean[i] =
            pass == 0 ? y : (instrument.runningMean[i] * pass + y) / (pass + 1);
    }
}

template <typename F> void convertInto(int pass, F convert) {
    convertInto(pass, convert, [](double y) { return y; });
}

bool validSampler(int s) {
    return s >= 0 && s < static_cast<int>(instrument.cal.vampl.size());
}
bool validStimulus(int s) {
    return s >= 0 && s < static_cast<int>(instrument.cal.calDelay.size());
}

} // namespace

int velt_init() {
    const int opened = usbftdi_open();
    if (opened != 1) {
        // A bridge that opens but will not take its settings or answer the handshake is as
        // unusable as none; the user is told which step failed.
        std::fprintf(stderr, "velt: the USB bridge %s\n", openFailureText(opened));
        usbftdi_close();
        return -1;
    }
    instrument.timing.timebase = 7.5e-8;
    return velt_params(2);
}

int velt_params(int row) {
    if (row < 0 || row >= static_cast<int>(timebaseArr.size())) return -1;
    const auto r = static_cast<std::size_t>(row);
    instrument.timing.timebase = timebaseArr[r];
    instrument.timing.calWindow = calWindowArr[r];
    instrument.timing.calGuard = calGuardArr[r];
    instrument.timing.calIncrement = std::trunc((instrument.timing.calWindow / 1024) /
                                                ((instrument.timing.timebase + 5e-9) / 65536));
    instrument.timing.calAdjust = calAdjustArr[r];
    instrument.timing.calIdxAvg = calIdxAvgArr[r];
    instrument.timing.edgeIdx = edgeIdxArr[r];
    sendChannelSetup(instrument.stimulusPort, instrument.samplerPort);
    return 1;
}

int sendChannelSetup(std::uint8_t stim, std::uint8_t samp) {
    const std::array<std::uint8_t, 2> codes = {stim, samp};
    ftwrbyte('p');
    ftwrbytes(codes.data(), codes.size());
    return ftrdbyte();
}

int VELT_SetChan(int stim, int samp) {
    if (!validStimulus(stim) || !validSampler(samp)) return -1;
    const std::uint8_t previousStimulus = instrument.stimulusPort;
    instrument.stimulusPort = stimulusPortCode[static_cast<std::size_t>(stim)];
    instrument.samplerPort = samplerPortCode[static_cast<std::size_t>(samp)];
    instrument.samplActive = samp;
    sendChannelSetup(instrument.stimulusPort, instrument.samplerPort);
    // The step source needs time to settle on a new port; the sampler switches at once.
    if (instrument.stimulusPort != previousStimulus) platform::Delay(0.5);
    return 1;
}

int getOffsetChecked(double& offset) {
    const int status = readRaw(1024, 0, 0);
    // The mean itself: a whole count (sum >> 10) moves a 120-ohm reading by about 0.1 ohm from
    // one acquisition to the next, which no averaging takes away.
    offset = sumCounts() / 1024.0;
    return status;
}

namespace {
// What the tap is handed: the counts of the sweep just read, and their running mean.
Waveform readCounts{};
Waveform countsMean{};
} // namespace

int readData(int incrementArg, int start, double offset, int absFlag) {
    const int status = readRaw(1024, incrementArg, start);
    if (instrument.sweepSetTap.load()) readCounts = instrument.link.samples;
    if (absFlag == 1)
        for (double& sample : instrument.link.samples) sample = std::fabs(sample - offset);
    else
        for (double& sample : instrument.link.samples) sample -= offset;
    return status;
}

double meanArray() {
    return sumCounts() / 1024.0;
}

void convertSweep(int pass, YUnit yUnit) {
    if (yUnit == YUnit::Raw) {
        convertInto(pass, [](double r) { return r; });
        return;
    }
    const double s = validSampler(instrument.samplActive)
                         ? instrument.cal.vstart[static_cast<std::size_t>(instrument.samplActive)]
                         : 0;
    const double a = validSampler(instrument.samplActive)
                         ? instrument.cal.vampl[static_cast<std::size_t>(instrument.samplActive)]
                         : 0;
    if (a == 0 || !std::isfinite(a)) {
        // Without a measured amplitude there is no scale: say so rather than show infinities.
        convertInto(pass, [](double) { return std::numeric_limits<double>::quiet_NaN(); });
        return;
    }
    const bool positive = instrument.polarity == 1;
    auto rhoOf = [=](double r) {
        if (positive) return (r - s) / a - 1;
        // A negative line in millivolts keeps its sign; the other units got absolute counts.
        if (yUnit == YUnit::Millivolts) return (r + s) / a - 1;
        return std::fabs(r - s) / a - 1;
    };
    switch (yUnit) {
    case YUnit::Millivolts:
        convertInto(pass, [&](double r) { return 250 * rhoOf(r) + 250; });
        break;
    case YUnit::Normalized:
        convertInto(pass, [&](double r) { return rhoOf(r) + 1; });
        break;
    case YUnit::Ohms:
        // Ohms are curved in rho: a mean of ohms is biased upward by the noise, so the mean is
        // kept in rho and converted once all passes are in (finishMean).
        convertInto(pass, rhoOf, ohms);
        break;
    default:
        convertInto(pass, rhoOf);
        break;
    }
}

// After the last pass: the mean in the unit asked for (in Ohm the passes are averaged in rho).
static void finishMean(YUnit yUnit) {
    if (yUnit == YUnit::Ohms)
        for (double& v : instrument.runningMean) v = ohms(v); // NaN stays NaN
}

// velt_acquire in a given vertical unit, leaving the shared yUnits alone. Besides 1, -1 and -2 it
// returns -3 when the window cannot be swept (a non-finite bound or dielK not above 0); a failed
// acquisition leaves wfmDataX, wfmData, wfmDataAvg and increment as they were.
static int acquireSweeps(int count, YUnit yUnit) {
    return acquireWindow(count, yUnit, view.xUnits.load(), view.xStart.load(), view.xEnd.load(),
                         view.xZero.load());
}

int acquireWindow(int count, YUnit yUnit, XUnit xu, double xs, double xe, double xz) {
    const double k = view.dielK.load();

    instrument.polarity = instrument.samplerPort % 2 == 0 ? 1 : 0;
    if (!std::isfinite(xs) || !std::isfinite(xe) || !std::isfinite(xz) || !std::isfinite(k) ||
        k <= 0)
        return -3;

    const double v = 1 / std::sqrt(k);
    double tStart = 0, tEnd = 0;
    if (xu == XUnit::Nanoseconds) {
        tStart = xs * 1e-9;
        tEnd = xe * 1e-9;
    } else {
        const double scale = xu == XUnit::Feet ? kMetresPerFoot : 1.0;
        tEnd = xe * scale / (v * kSpeedOfLight);
        tStart = xs * scale / (v * kSpeedOfLight);
    }
    const double step = (instrument.timing.timebase + 5e-9) / 65536;
    const int delay = validStimulus(instrument.stimActive)
                          ? instrument.cal.calDelay[static_cast<std::size_t>(instrument.stimActive)]
                          : 0;
    const int start = truncToInt(tStart / step) + delay;
    // A reversed window would ask for a negative increment; one increment is the least sweep.
    const int inc =
        std::clamp(truncToInt(((tEnd - tStart) / 1024) / step), kMinIncrement, kMaxIncrement);
    const double tLast = tStart + inc * step * 1024;
    const double xFirst = xu == XUnit::Nanoseconds ? tStart * 1e9 : tStart * v * kSpeedOfLight;
    const double xLast = xu == XUnit::Nanoseconds ? tLast * 1e9 : tLast * v * kSpeedOfLight;

    double offset = 0;
    const int offsetStatus = getOffsetChecked(offset);
    // Counts measured against a stale offset would be plausible-looking and wrong.
    if (offsetStatus != 1) return offsetStatus;

    const int absFlag = yUnit == YUnit::Millivolts || yUnit == YUnit::Raw ? 0 : 1;
    const int passes = std::max(count, 1);
    const SweepSetTap tap = instrument.sweepSetTap.load();
    for (int p = 0; p < passes; ++p) {
        // The delay line needs one sweep to reach a start away from 0 before it reads true.
        if (xs > 0 || p > 0) readData(0, start, offset, 0);
        const int status = readData(inc, start, offset, absFlag);
        if (status == -1 || status == -2) return status;
        convertSweep(p, yUnit);
        if (tap)
            for (std::size_t i = 0; i < countsMean.size(); ++i)
                countsMean[i] = p == 0 ? readCounts[i]
                                       : countsMean[i] + (readCounts[i] - countsMean[i]) / (p + 1);
        if (const SweepProgressFn report = instrument.sweepProgress.load()) report(p + 1, passes);
    }
    finishMean(yUnit);
    if (tap)
        tap(SweepSet{instrument.stimActive, instrument.samplActive, start, inc, passes,
                     static_cast<int>(std::floor(offset)), &countsMean});

    instrument.increment.store(inc);
    for (std::size_t i = 0; i < instrument.recordX.size(); ++i) {
        double x = xFirst + (xLast - xFirst) * static_cast<double>(i) / 1024;
        if (xu == XUnit::Feet) x /= kMetresPerFoot;
        instrument.recordX[i] = x - xz;
    }
    instrument.record = acqSweep;
    instrument.recordAvg = instrument.runningMean;
    return 1;
}

int velt_acquire(int count) {
    return acquireSweeps(count, view.yUnits.load());
}

int velt_zero(double x, int thresholdMode, int* sweepStatus) {
    if (std::isnan(x) || std::isinf(x)) return -1;
    if (x >= 0) {
        view.xZero.store(x);
        return 2;
    }
    view.xZero.store(0.0);
    const int status = acquireSweeps(1, YUnit::Rho);
    if (sweepStatus) *sweepStatus = status;
    if (status != 1) return -1;
    const double threshold = thresholdMode == 1 ? 0.5 : 0.3;
    for (std::size_t i = 0; i + 1 < instrument.recordAvg.size(); ++i) {
        if (instrument.recordAvg[i] >= threshold) {
            view.xZero.store(instrument.recordX[i]);
            return 1;
        }
    }
    return -1;
}

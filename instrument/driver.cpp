// Instrument driver: port selection, timing rows, window arithmetic and sample conversion.
#include "instrument/driver.h"

#include "instrument/transport.h"
#include "platform/clock.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

Instrument instrument;

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
std::int32_t sumCounts(const Instrument& in) {
    std::uint32_t sum = 0;
    for (double sample : in.link.samples) sum += static_cast<std::uint32_t>(truncToInt(sample));
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
void convertInto(Instrument& in, int pass, Averaged averaged, Shown shown) {
    for (std::size_t i = 0; i < in.link.samples.size(); ++i) {
        const double y = averaged(in.link.samples[i]);
        acqSweep[i] = shown(y);
        // Pass 0 replaces the mean outright, so a NaN left from an earlier run cannot stick.
        in.runningMean[i] = pass == 0 ? y : (in.runningMean[i] * pass + y) / (pass + 1);
    }
}

template <typename F> void convertInto(Instrument& in, int pass, F convert) {
    convertInto(in, pass, convert, [](double y) { return y; });
}

bool validSampler(int s) {
    return s >= 0 && s < static_cast<int>(samplerPortCode.size());
}
bool validStimulus(int s) {
    return s >= 0 && s < static_cast<int>(stimulusPortCode.size());
}

} // namespace

int Instrument::open() {
    const int opened = usbftdi_open();
    if (opened != 1) {
        // A bridge that opens but will not take its settings or answer the handshake is as
        // unusable as none; the user is told which step failed.
        std::fprintf(stderr, "velt: the USB bridge %s\n", openFailureText(opened));
        usbftdi_close();
        return -1;
    }
    timing.timebase = 7.5e-8;
    return selectTiming(2);
}

int Instrument::selectTiming(int row) {
    if (row < 0 || row >= static_cast<int>(timebaseArr.size())) return -1;
    const auto r = static_cast<std::size_t>(row);
    timing.timebase = timebaseArr[r];
    timing.calWindow = calWindowArr[r];
    timing.calGuard = calGuardArr[r];
    timing.calIncrement =
        std::trunc((timing.calWindow / 1024) / ((timing.timebase + 5e-9) / 65536));
    timing.calAdjust = calAdjustArr[r];
    timing.calIdxAvg = calIdxAvgArr[r];
    timing.edgeIdx = edgeIdxArr[r];
    sendChannelSetup(stimulusPort, samplerPort);
    return 1;
}

int Instrument::sendChannelSetup(std::uint8_t stim, std::uint8_t samp) {
    const std::array<std::uint8_t, 2> codes = {stim, samp};
    ftwrbyte('p');
    ftwrbytes(codes.data(), codes.size());
    return ftrdbyte();
}

int Instrument::selectChannels(int stim, int samp) {
    if (!validStimulus(stim) || !validSampler(samp)) return -1;
    const std::uint8_t previousStimulus = stimulusPort;
    stimulusPort = stimulusPortCode[static_cast<std::size_t>(stim)];
    samplerPort = samplerPortCode[static_cast<std::size_t>(samp)];
    samplActive = samp;
    sendChannelSetup(stimulusPort, samplerPort);
    // The step source needs time to settle on a new port; the sampler switches at once.
    if (stimulusPort != previousStimulus) platform::Delay(0.5);
    return 1;
}

int Instrument::readOffset(double& offset) {
    const int status = readRaw(1024, 0, 0);
    // The mean itself: a whole count (sum >> 10) moves a 120-ohm reading by about 0.1 ohm from
    // one acquisition to the next, which no averaging takes away.
    offset = sumCounts(*this) / 1024.0;
    return status;
}

namespace {
// What the tap is handed: the counts of the sweep just read, and their running mean.
Waveform readCounts{};
Waveform countsMean{};
} // namespace

int Instrument::readData(int incrementSteps, int start, double offset, int absFlag) {
    const int status = readRaw(1024, incrementSteps, start);
    if (sweepSetTap.load()) readCounts = link.samples;
    if (absFlag == 1)
        for (double& sample : link.samples) sample = std::fabs(sample - offset);
    else
        for (double& sample : link.samples) sample -= offset;
    return status;
}

double Instrument::meanArray() const {
    return sumCounts(*this) / 1024.0;
}

void Instrument::convertSweep(int pass, YUnit yUnit) {
    if (yUnit == YUnit::Raw) {
        convertInto(*this, pass, [](double r) { return r; });
        return;
    }
    const double s =
        validSampler(samplActive) ? cal.vstart[static_cast<std::size_t>(samplActive)] : 0;
    const double a =
        validSampler(samplActive) ? cal.vampl[static_cast<std::size_t>(samplActive)] : 0;
    if (a == 0 || !std::isfinite(a)) {
        // Without a measured amplitude there is no scale: say so rather than show infinities.
        convertInto(*this, pass, [](double) { return std::numeric_limits<double>::quiet_NaN(); });
        return;
    }
    const bool positive = polarity == 1;
    auto rhoOf = [=](double r) {
        if (positive) return (r - s) / a - 1;
        // A negative line in millivolts keeps its sign; the other units got absolute counts.
        if (yUnit == YUnit::Millivolts) return (r + s) / a - 1;
        return std::fabs(r - s) / a - 1;
    };
    switch (yUnit) {
    case YUnit::Millivolts:
        convertInto(*this, pass, [&](double r) { return 250 * rhoOf(r) + 250; });
        break;
    case YUnit::Normalized:
        convertInto(*this, pass, [&](double r) { return rhoOf(r) + 1; });
        break;
    case YUnit::Ohms:
        // Ohms are curved in rho: a mean of ohms is biased upward by the noise, so the mean is
        // kept in rho and converted once all passes are in (acquire).
        convertInto(*this, pass, rhoOf, ohms);
        break;
    default:
        convertInto(*this, pass, rhoOf);
        break;
    }
}

int Instrument::acquire(int count, YUnit yUnit, const SweepWindow& w) {
    const XUnit xu = w.xUnit;
    const double xs = w.start, xe = w.end, xz = w.zero, k = w.dielectric;

    polarity = samplerPort % 2 == 0 ? 1 : 0;
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
    const double step = (timing.timebase + 5e-9) / 65536;
    const int delay =
        validStimulus(stimActive) ? cal.calDelay[static_cast<std::size_t>(stimActive)] : 0;
    const int start = truncToInt(tStart / step) + delay + w.offsetSteps;
    // A reversed window would ask for a negative increment; one increment is the least sweep.
    const int inc =
        std::clamp(truncToInt(((tEnd - tStart) / 1024) / step), kMinIncrement, kMaxIncrement);
    tStart += w.offsetSteps * step; // the x values of the samples this sweep takes
    const double tLast = tStart + inc * step * 1024;
    const double xFirst = xu == XUnit::Nanoseconds ? tStart * 1e9 : tStart * v * kSpeedOfLight;
    const double xLast = xu == XUnit::Nanoseconds ? tLast * 1e9 : tLast * v * kSpeedOfLight;

    const SweepStopFn stop = shouldStop.load();
    if (stop && stop()) return kSweepsStopped;
    double offset = 0;
    const int offsetStatus = readOffset(offset);
    // Counts measured against a stale offset would be plausible-looking and wrong.
    if (offsetStatus != 1) return offsetStatus;

    const int absFlag = yUnit == YUnit::Millivolts || yUnit == YUnit::Raw ? 0 : 1;
    const int passes = std::max(count, 1);
    const SweepSetTap tap = sweepSetTap.load();
    for (int p = 0; p < passes; ++p) {
        // The delay line needs one sweep to reach a start away from 0 before it reads true.
        if (xs > 0 || p > 0) {
            if (stop && stop()) return kSweepsStopped;
            readData(0, start, offset, 0);
        }
        if (stop && stop()) return kSweepsStopped;
        const int status = readData(inc, start, offset, absFlag);
        if (status == -1 || status == -2) return status;
        convertSweep(p, yUnit);
        if (tap)
            for (std::size_t i = 0; i < countsMean.size(); ++i)
                countsMean[i] = p == 0 ? readCounts[i]
                                       : countsMean[i] + (readCounts[i] - countsMean[i]) / (p + 1);
        if (const SweepProgressFn report = sweepProgress.load()) report(p + 1, passes);
    }
    // In Ohm the passes were averaged in rho: the mean is converted once.
    if (yUnit == YUnit::Ohms)
        for (double& v : runningMean) v = ohms(v); // NaN stays NaN
    if (tap)
        tap(SweepSet{stimActive, samplActive, start, inc, passes,
                     static_cast<int>(std::floor(offset)), &countsMean});

    increment.store(inc);
    for (std::size_t i = 0; i < recordX.size(); ++i) {
        double x = xFirst + (xLast - xFirst) * static_cast<double>(i) / 1024;
        if (xu == XUnit::Feet) x /= kMetresPerFoot;
        recordX[i] = x - xz;
    }
    record = acqSweep;
    recordAvg = runningMean;
    return 1;
}

int Instrument::findZero(double x, int thresholdMode, SweepWindow window, double& zero,
                         int* sweepStatus) {
    zero = 0.0;
    if (std::isnan(x) || std::isinf(x)) return -1;
    if (x >= 0) {
        zero = x;
        return 2;
    }
    window.zero = 0.0;
    const int status = acquire(1, YUnit::Rho, window);
    if (sweepStatus) *sweepStatus = status;
    if (status != 1) return -1;
    const double threshold = thresholdMode == 1 ? 0.5 : 0.3;
    for (std::size_t i = 0; i + 1 < recordAvg.size(); ++i) {
        if (recordAvg[i] >= threshold) {
            zero = recordX[i];
            return 1;
        }
    }
    return -1;
}

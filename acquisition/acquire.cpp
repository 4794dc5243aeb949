// The sweeps of one cycle: driver records into the processed live trace.
#include "acquisition/acquire.h"

#include "acquisition/filter.h"
#include "acquisition/peel.h"
#include "platform/event_loop.h"
#include "platform/log.h"
#include "platform/popups.h"
#include "platform/shutdown.h"

#include <algorithm>
#include <cmath>

Trace liveTrace;
namespace {
constexpr std::array<double, 6> kAutoscaleStep = {25, 0.1, 5, 0.1, 25, 5};
// The record being interleaved: a failed sweep set must not leave a half-new one.
std::array<double, kFdMaxPoints> work{};
} // namespace

void visibleRange(const Waveform& x, double start, double end, int& first, int& last) {
    // The last point counts when it lies inside the window, like every other.
    first = 0;
    while (first < 1024 && !(x[static_cast<std::size_t>(first)] >= start)) ++first;
    last = first;
    while (last < 1024 && !(x[static_cast<std::size_t>(last)] > end)) ++last;
}

void autoscaleRange(const Waveform& data, YUnit unit, double& lo, double& hi) {
    double max = -500.0, min = 500.0;
    for (double v : data) {
        // Infinities come from an uncalibrated port; like NaN they say nothing about the range.
        if (!std::isfinite(v)) continue;
        if (v > max) max = v;
        if (v < min) min = v;
    }
    const double step = kAutoscaleStep[index(unit)];
    lo = std::round(min / step) * step - step;
    hi = std::round(max / step) * step + step;
}

void checkWaveform(int status) {
    if (status != -1 && status != -2) return;
    // One message is enough: the program is on its way out.
    if (instrument.link.lost.exchange(true)) return;
    const char* title = status == -1 ? "ERROR #3011" : "ERROR #3012";
    const char* text = status == -1 ? "TDR device not initialized."
                                    : "VELT received bad waveform data from device.";
    // Posted from either thread: the cycle that met the fault runs to its end first, and the
    // quit waits until the user has read the box (quitting at once would close it unseen).
    platform::eventLoop().post([title, text] {
        platform::MessagePopup(title, text);
        requestShutdown(kExitLinkLost);
    });
}

bool FdRecord::empty() const {
    for (std::size_t i = 0; i < size(); ++i)
        if (y[i] != 0.0) return false;
    return true;
}

void FdRecord::thinTo(int k) {
    if (k < 1 || k > kMaxInterleave) return;
    if (empty()) {
        interleave = k;
        return;
    }
    if (k >= interleave || interleave % k != 0) return;
    const auto stride = static_cast<std::size_t>(interleave / k);
    for (std::size_t i = 0; i < 1024u * static_cast<std::size_t>(k); ++i) y[i] = y[i * stride];
    std::fill(y.begin() + 1024 * k, y.end(), 0.0);
    interleave = k;
}

int commonInterleave(std::initializer_list<const FdRecord*> records) {
    int k = 0;
    for (const FdRecord* r : records)
        if (!r->empty()) k = k == 0 ? r->interleave : std::min(k, r->interleave);
    return k == 0 ? 1 : k;
}

namespace {
// The progress of the sweep set in hand, relayed as part of the whole record's.
SweepProgressFn gRecordProgress = nullptr;
int gSweepsBefore = 0, gSweepsInRecord = 0;
void relayProgress(int done, int) {
    gRecordProgress(gSweepsBefore + done, gSweepsInRecord);
}
} // namespace

int acquireFrequencyRecord(Instrument& in, int count, int interleave, FdRecord& into) {
    // Swept in millivolts and mapped to reflection coefficient here: the driver's own
    // reflection-coefficient sweep takes absolute counts, which folds a level dipping below the
    // offset (a short's ringing, a through's first arrival) back up and bends every spectrum
    // built on it. Millivolts keep the sign, and the mapping below is the same line elsewhere.
    const int k = std::clamp(interleave, 1, kMaxInterleave);
    gRecordProgress = in.sweepProgress.load();
    gSweepsInRecord = k * std::max(count, 1);
    if (gRecordProgress != nullptr) in.sweepProgress.store(&relayProgress);
    SweepWindow window = kFdWindow;
    int status = 1;
    for (int j = 0; j < k && status == 1; ++j) {
        gSweepsBefore = j * std::max(count, 1);
        status = in.acquire(count, YUnit::Millivolts, window);
        if (status != 1) break;
        // Every sweep has the first one's spacing; the start word counts two fine steps, which
        // the spacing of 56 steps divides into four.
        window.offsetSteps = (j + 1) * in.increment.load() / k / 2 * 2;
        const double sign = in.polarity == 1 ? 1.0 : -1.0;
        for (std::size_t i = 0; i < 1024; ++i)
            work[i * static_cast<std::size_t>(k) + static_cast<std::size_t>(j)] =
                sign * in.recordAvg[i] / 250.0 - 1.0;
    }
    if (gRecordProgress != nullptr) in.sweepProgress.store(gRecordProgress);
    if (status != 1) return status;
    std::fill(work.begin() + 1024 * k, work.end(), 0.0);
    into.y = work;
    into.interleave = k;
    return status;
}

int measure(const Setup& s, Instrument& in, Trace& trace) {
    const bool peel = s.trueProfile && trueProfileApplies(s.mode, s.yUnit);
    const int positive = (s.sampler % 2 != 0) ? s.sampler - 1 : s.sampler;
    const int negative = positive + 1;

    const SweepWindow window = s.window();
    const bool fd = s.domain() == Domain::Frequency;
    int status = 1;
    if (fd) {
        // Every frequency-domain record is a reflection-coefficient sweep over the fixed window
        // of the SOLT standards. The shared units stay as they are: an unguarded callback may
        // read them meanwhile.
        status = acquireFrequencyRecord(in, s.averaging, s.interleave, trace.fd);
        checkWaveform(status);
    } else if (s.yUnit == YUnit::Ohms && s.differential && s.mode == Mode::TDR) {
        in.selectChannels(s.stimulus, positive);
        status = in.acquire(s.averaging, s.yUnit, window);
        checkWaveform(status);
        if (status == kSweepsStopped) return status;
        trace.pos = in.recordAvg;
        in.selectChannels(s.stimulus, negative);
        const int second = in.acquire(s.averaging, s.yUnit, window);
        in.selectChannels(s.stimulus, positive);
        checkWaveform(second);
        if (second != 1) status = second;
        if (status == kSweepsStopped) return status;
        trace.neg = in.recordAvg;
        // Each line is peeled against its own 50 ohms before the pair is summed.
        if (peel) {
            peelProfile(trace.pos);
            peelProfile(trace.neg);
        }
        for (std::size_t i = 0; i < trace.y.size(); ++i)
            trace.y[i] = std::min(trace.pos[i] + trace.neg[i], kMaxDifferentialOhms);
    } else {
        status = in.acquire(s.averaging, s.yUnit, window);
        checkWaveform(status);
        if (status == kSweepsStopped) return status;
        trace.y = in.recordAvg;
        if (peel) peelProfile(trace.y);
    }
    stopTimer("ACQ_DATA", 0);
    if (!fd)
        applyFilter(trace.y, s.filter ? s.filterWidthPs : 0, in.increment.load(),
                    in.timing.timebase);
    return status;
}

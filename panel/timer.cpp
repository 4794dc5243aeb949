// The background tick: recalibration on request or when due, then acquisition; the guard.
#include "panel/timer.h"
#include "panel/cycle.h"

#include "acquisition/acquire.h"
#include "instrument/driver.h"
#include "panel/interface.h"
#include "panel/panel_state.h"
#include "panel/settings.h"
#include "panel/timebase.h"
#include "panel/units.h"
#include "panel/zone_stats.h"
#include "platform/async_timer.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "platform/panel_model.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>
#include <thread>

using platform::panel;

TickBoard tick;

namespace {

thread_local bool tServingTick = false;
thread_local bool tServingJob = false;
// Only the GUI thread nests guarded sections.
std::atomic<int> gGuardDepth{0};

// Strength of a calibration request; a request only ever replaces a weaker one.
int strength(int request) {
    switch (request) {
    case 1:
        return 3;
    case 0:
        return 2;
    case 2:
        return 1;
    default:
        return 0;
    }
}

void raiseCalRequest(int request) {
    int current = tick.asyncCal.load();
    while (strength(current) < strength(request) &&
           !tick.asyncCal.compare_exchange_weak(current, request)) {
    }
}

// Takes served acquisition requests off the counter, never below zero.
void acqRequestsServed(int served) {
    int current = tick.asyncAcqCount.load();
    while (!tick.asyncAcqCount.compare_exchange_weak(current, std::max(0, current - served))) {
    }
}

// Only what the timer thread sweeps can be stopped: work on the GUI thread is the guard's own.
bool sweepsShouldStop() {
    if (!tServingTick) return false;
    return tServingJob ? tick.stopJob.load() : tick.stopBackground.load();
}

void waitIdle() {
    for (int polls = 0;
         getLED() == 1 || tick.timerLock.load() == 1 || platform::asyncTimer().inTick(); ++polls) {
        stopTickSweeps();
        if (polls < 1000)
            std::this_thread::yield();
        else
            std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
}

// The tick's end, however it ends.
int endTick() {
    tick.timerLock.store(0);
    tServingTick = false;
    return 1;
}

} // namespace

bool onTimerThread() {
    return tServingTick;
}

void requestAcquire() {
    if (getAutoAcquire() == 1) return;
    raiseCalRequest(2);
    tick.asyncAcqCount.fetch_add(1);
}

void requestRecal() {
    raiseCalRequest(0);
    tick.asyncAcqCount.fetch_add(1);
}

void requestForced() {
    raiseCalRequest(1);
    tick.asyncAcqCount.fetch_add(1);
}

void requestCheck() {
    if (getAutoAcquire() != 1) raiseCalRequest(2);
}

void startTickJob(TickJob& job) {
    if (!platform::asyncTimer().running()) {
        job.run();
        return;
    }
    // Published before the stop: a tick that starts in between takes the job, one already
    // acquiring for itself stops.
    tick.job.store(&job);
    tick.stopBackground.store(true);
    platform::asyncTimer().wake();
}

bool cancelTickJob(TickJob& job) {
    TickJob* expected = &job;
    return tick.job.compare_exchange_strong(expected, nullptr);
}

void stopTickSweeps() {
    tick.stopBackground.store(true);
    tick.stopJob.store(true);
}

int onAsyncTimer() {
    // Cleared before a job is taken: a stop asked for once the job is taken stays asked.
    tick.stopBackground.store(false);
    tick.stopJob.store(false);
    instrument.shouldStop.store(&sweepsShouldStop);
    if (TickJob* job = tick.job.exchange(nullptr)) {
        tServingTick = tServingJob = true;
        tick.timerLock.store(1);
        job->run();
        tick.timerLock.store(0);
        tServingTick = tServingJob = false;
        return 1;
    }
    // After a lost link the user is reading the message; nothing more goes to the instrument.
    if (instrument.link.lost.load()) return 1;
    tServingTick = true;
    tick.timerLock.store(1);

    // The request is taken off the board before it is served: one the user makes meanwhile
    // lands on a clean board and is served next tick; a failed one is put back.
    const int cal = tick.asyncCal.exchange(-1);
    if (cal == 0 || cal == 1) {
        const int r = calibrate(-1, -1, cal);
        if (r == 1)
            setCalTime();
        else
            raiseCalRequest(cal);
        if (r == kSweepsStopped || !instrument.settle(0.5)) return endTick();
    } else if (cal == 2 || getAutoAcquire() == 1) {
        if (checkCalTime() > autocalInterval) {
            const int r = calibrate(-1, -1, 0);
            if (r == 1)
                setCalTime();
            else
                raiseCalRequest(cal);
            if (r == kSweepsStopped || !instrument.settle(0.5)) return endTick();
        }
    }

    // Requests that arrive while this tick acquires stay counted for the next one.
    const int pending = tick.asyncAcqCount.load();
    // A stopped acquisition leaves its requests for the next tick.
    if (getAutoAcquire() == 1) {
        if (acquire(1) != kSweepsStopped) acqRequestsServed(pending);
    } else if (pending == 1) {
        if (acquire(1) != kSweepsStopped) acqRequestsServed(1);
    } else if (pending > 1) {
        acqRequestsServed(1);
    }

    return endTick();
}

int calibrate(int stimulus, int sampler, int announce) {
    return calibrateLine(stimulus, sampler, getMode(), getDiff(), announce);
}

int calibrateLine(int stimulus, int sampler, Mode mode, int differential, int announce) {
    setLED(1);
    startTimer();
    if (stimulus == -1) stimulus = getStimulus();
    if (sampler == -1) sampler = getSampler();

    int r1 = -1, r2 = -1;
    // A channel outside the instrument's numbering is a failed calibration, not an index.
    if (stimulus >= 0 && stimulus < 10 && sampler >= 0 && sampler < 20) {
        const int partner = (sampler % 2 != 0) ? sampler - 1 : sampler + 1;
        r1 = instrument.measureConstants(stimulus, sampler, mode, kLevelSweeps);
        r2 = differential == 1 && r1 != kSweepsStopped
                 ? instrument.measureConstants(stimulus, partner, mode, kLevelSweeps)
                 : 1;
        instrument.stimulusPort = stimulusPortCode[static_cast<std::size_t>(stimulus)];
        instrument.samplerPort = samplerPortCode[static_cast<std::size_t>(sampler)];
        // Sweeps of the selected line are converted with its own constants, not the partner's.
        instrument.samplActive = sampler;
        instrument.sendChannelSetup(instrument.stimulusPort, instrument.samplerPort);
    }

    if (r1 == kSweepsStopped || r2 == kSweepsStopped) {
        // Stopped for someone who needs the instrument: the constants stay as they were.
        setLED(0);
        return kSweepsStopped;
    }
    if (r1 == 1 && r2 == 1) {
        writeMessage(0, "Recalibration... DONE", announce == 1 ? 0 : -1);
        stopTimer("CAL", 0);
        setLED(0);
        return 1;
    }
    writeMessage(1011, "Recalibration... FAILED!", 0);
    stopTimer("CAL_FAIL", 0);
    setLED(0);
    return -1;
}

void setCalTime() {
    tick.calClock.store(platform::clockMs());
}

double checkCalTime() {
    // Unsigned arithmetic keeps the difference right across the counter's wrap.
    const std::uint32_t elapsed =
        platform::clockMs() - static_cast<std::uint32_t>(tick.calClock.load());
    return elapsed / 1000.0;
}

int getCalMode() {
    return panel().menuChecked(MENUBAR_CAL_EXTCAL) ? 1 : 0;
}

void setCalMode(int calMode) {
    return setTimebase(calMode, 1);
}

void formatCursorReadouts(double x1, double y1, double x2, double y2, XUnit xUnit, YUnit yUnit,
                          Mode mode, char* cursor1, char* cursor2, char* distance, int size) {
    const char* xl = labelX[index(xUnit)];
    const char* yl = labelY[index(yUnit)];
    const auto n = static_cast<std::size_t>(size);
    // A point without a value (a gap in a frequency-domain trace) reads as dashes, not "nan".
    auto readout = [&](char* out, double x, double y) {
        if (std::isfinite(y))
            std::snprintf(out, n, "%3.3f %s  |  %3.3f %s", x, xl, y, yl);
        else
            std::snprintf(out, n, "%3.3f %s  |  --- %s", x, xl, yl);
    };
    readout(cursor1, x1, y1);
    readout(cursor2, x2, y2);
    // A frequency difference is no round trip.
    if (roundTrip(mode) && domainOf(xUnit) == Domain::Time)
        std::snprintf(distance, n, "%3.3f %s (roundtrip)", x2 - x1, xl);
    else
        std::snprintf(distance, n, "%3.3f %s", x2 - x1, xl);
}

int updateWaveform() {
    double x1 = 0, y1 = 0, x2 = 0, y2 = 0;
    panel().cursor(1, x1, y1);
    panel().cursor(2, x2, y2);
    char c1[128], c2[128], d[128];
    formatCursorReadouts(x1, y1, x2, y2, view.xUnits.load(), view.yUnits.load(), getMode(), c1, c2,
                         d, static_cast<int>(sizeof c1));
    // Reserved once per thread: a read-out refresh after every trace allocates nothing.
    thread_local std::string text = [] {
        std::string s;
        s.reserve(128);
        return s;
    }();
    text.assign(c1);
    panel().setText(PANEL_CURSOR1, text);
    text.assign(c2);
    panel().setText(PANEL_CURSOR2, text);
    text.assign(d);
    panel().setText(PANEL_DISTANCE, text);
    updateZoneReadouts(x1, x2);
    return 1;
}

void suspendAndWait() {
    // A tick waiting for itself would never finish.
    if (onTimerThread()) return;
    if (gGuardDepth.fetch_add(1) == 0) platform::SuspendAsyncTimerCallbacks();
    waitIdle();
}

void resumeTimer() {
    if (onTimerThread()) return;
    int depth = gGuardDepth.load();
    while (depth > 0 && !gGuardDepth.compare_exchange_weak(depth, depth - 1)) {
    }
    if (depth == 1) platform::ResumeAsyncTimerCallbacks();
}

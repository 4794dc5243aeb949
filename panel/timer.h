// The 0.5 s tick: pending and periodic recalibration, then acquisition; the request counters.
#pragma once

#include "setup/vocabulary.h"

#include <atomic>

constexpr int autocalInterval = 30;

// Work a remote command leaves for the timer thread (an acquisition, a calibration): it runs in
// a tick of its own, started at once, with the instrument to itself, and never waits for the GUI
// thread.
class TickJob {
  public:
    virtual ~TickJob() = default;
    virtual void run() = 0;
};

// The requests the user interface leaves for the tick and the tick's own state. The GUI thread
// writes requests while the timer thread serves them, hence the atomics.
struct TickBoard {
    // -1 none, 0 recalibrate quietly, 1 recalibrate and announce, 2 check the periodic interval.
    std::atomic<int> asyncCal{0};
    std::atomic<int> asyncAcqCount{0};
    std::atomic<int> timerLock{0};      // 1 while a tick runs
    std::atomic<unsigned> calClock{0};  // clockMs of the last recalibration
    std::atomic<TickJob*> job{nullptr}; // left for the next tick
    // Asked of the tick's own acquisition and of a job: stop at the next sweep. Cleared when a
    // tick starts; whoever waits for the tick asks again while it waits.
    std::atomic<bool> stopBackground{false};
    std::atomic<bool> stopJob{false};
};
// One per process, like the timer.
extern TickBoard tick;

int onAsyncTimer();
int calibrate(int stimulus, int sampler, int announce);
// calibrate with the mode and line kind given rather than read from the panel: a SOLT standard
// is measured in the mode it is used in, whatever the rings say meanwhile.
int calibrateLine(int stimulus, int sampler, Mode mode, int differential, int announce);
void setCalTime();
double checkCalTime();
int getCalMode();
void setCalMode(int calMode);
int updateWaveform();

// Leaves the job for the timer thread and wakes it; an acquisition of the tick's own in progress
// stops at its next sweep. Without a running timer (a test, a fuzzing harness) the job runs here
// and now.
void startTickJob(TickJob& job);
// Takes back a job no tick has started: true when it will not run.
bool cancelTickJob(TickJob& job);
// Asks whatever the tick sweeps, its own acquisition or a job, to stop at its next sweep.
void stopTickSweeps();

// The guarded pattern's two halves: suspend the timer and wait until no tick runs and the
// instrument is idle; resume afterwards. Nested pairs resume only at the outermost. While it
// waits, whatever the tick sweeps stops at its next sweep: a user's click or a remote command
// waits for one sweep, not for a whole averaged acquisition.
void suspendAndWait();
void resumeTimer();

// True while the calling thread is serving a tick (its popups must be posted, not shown).
bool onTimerThread();

// Requests left for the next tick by the user interface. A pending request is never
// weakened by a lesser one: a recalibration asked for survives a later window edit.
void requestAcquire(); // only while auto acquire is off
void requestRecal();
void requestForced();
void requestCheck(); // only while auto acquire is off

// Cursor read-outs for given positions and units (pure; used by updateWaveform).
void formatCursorReadouts(double x1, double y1, double x2, double y2, XUnit xUnit, YUnit yUnit,
                          Mode mode, char* cursor1, char* cursor2, char* distance, int size);

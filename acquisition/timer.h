// The 0.5 s tick: pending and periodic recalibration, then acquisition; the request counters.
#pragma once

#include <atomic>

extern std::atomic<int> asyncCal;
extern std::atomic<int> asyncAcqCount;
extern std::atomic<int> timerLock;
constexpr int autocalInterval = 30;
extern std::atomic<unsigned> calClock;

int onAsyncTimer();
int calibrate(int stimulus, int sampler, int announce);
int setCalTime();
double checkCalTime();
int getCalMode();
int setCalMode(int calMode);
int updateWaveform();

// The guarded pattern's two halves: suspend the timer and wait until no tick runs and the
// instrument is idle; resume afterwards.
void suspendAndWait();
void resumeTimer();

// The one periodic timer: its callback runs on a thread of its own, ticks never overlap.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace platform {

using TimerCallback = int (*)();

class AsyncTimer {
  public:
    ~AsyncTimer();
    // Starts ticking every interval seconds (first tick one interval from now).
    void start(double intervalSeconds, TimerCallback callback);
    // Stops the thread after any running tick has finished.
    void discard();
    // No new tick starts; a running one is not interrupted.
    void suspend();
    void resume();
    // The next tick starts now instead of at its time (once a running one has finished).
    void wake();
    bool running() const { return thread_.joinable(); }
    bool suspended() const { return suspended_.load(); }
    // True from just before a tick tests the suspension until it has finished.
    bool inTick() const { return inTick_.load(); }
    long ticks() const { return ticks_.load(); }

  private:
    void loop();
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> woken_{false};
    std::atomic<bool> suspended_{false};
    std::atomic<bool> inTick_{false};
    std::atomic<long> ticks_{0};
    double interval_ = 0.5;
    TimerCallback callback_ = nullptr;
};

// The program's timer.
AsyncTimer& asyncTimer();
void SuspendAsyncTimerCallbacks();
void ResumeAsyncTimerCallbacks();

} // namespace platform

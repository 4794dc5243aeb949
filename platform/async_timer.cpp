// Periodic timer on its own thread; suspension only gates the start of the next tick.
#include "platform/async_timer.h"

#include <chrono>

namespace platform {

AsyncTimer& asyncTimer() {
    static AsyncTimer timer;
    return timer;
}

void SuspendAsyncTimerCallbacks() {
    asyncTimer().suspend();
}
void ResumeAsyncTimerCallbacks() {
    asyncTimer().resume();
}

AsyncTimer::~AsyncTimer() {
    discard();
}

void AsyncTimer::start(double intervalSeconds, TimerCallback callback) {
    discard();
    interval_ = intervalSeconds;
    callback_ = callback;
    stop_.store(false);
    thread_ = std::thread([this] { loop(); });
}

void AsyncTimer::discard() {
    if (!thread_.joinable()) return;
    {
        std::lock_guard lock(mutex_);
        stop_.store(true);
    }
    wake_.notify_all();
    thread_.join();
}

void AsyncTimer::suspend() {
    suspended_.store(true);
}

void AsyncTimer::resume() {
    suspended_.store(false);
}

void AsyncTimer::wake() {
    {
        std::lock_guard lock(mutex_);
        woken_.store(true);
    }
    wake_.notify_all();
}

void AsyncTimer::loop() {
    auto next = std::chrono::steady_clock::now();
    const auto period = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double>(interval_));
    for (;;) {
        next += period;
        {
            std::unique_lock lock(mutex_);
            wake_.wait_until(lock, next, [this] { return stop_.load() || woken_.load(); });
            if (stop_.load()) return;
            // A woken tick starts the period afresh.
            if (woken_.exchange(false)) next = std::chrono::steady_clock::now();
        }
        auto now = std::chrono::steady_clock::now();
        if (now > next + period) next = now; // a long tick does not cause a burst afterwards
        // Mark the tick before testing the suspension: a suspender that then sees inTick() false
        // knows no tick can start behind its back.
        inTick_.store(true);
        if (suspended_.load() || !callback_) {
            inTick_.store(false);
            continue;
        }
        callback_();
        ticks_.fetch_add(1);
        inTick_.store(false);
    }
}

} // namespace platform

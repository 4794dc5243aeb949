// Clock: a virtual-time mode lets tests run the one-second instrument waits in microseconds.
#include "platform/clock.h"

#include <atomic>
#include <chrono>
#include <ctime>
#include <mutex>
#include <thread>

namespace platform {
namespace {
std::atomic<bool> gVirtual{false};
std::atomic<std::uint64_t> gVirtualMicros{0};
std::atomic<bool> gFixedDate{false};
std::mutex gDateMutex;
DateTime gDate{};
const auto gStart = std::chrono::steady_clock::now();
} // namespace

void Delay(double seconds) {
    if (!(seconds > 0)) return;
    if (gVirtual.load()) {
        gVirtualMicros.fetch_add(static_cast<std::uint64_t>(seconds * 1e6));
        return;
    }
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

std::uint32_t clockMs() {
    if (gVirtual.load()) return static_cast<std::uint32_t>(gVirtualMicros.load() / 1000);
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                  std::chrono::steady_clock::now() - gStart)
                  .count();
    return static_cast<std::uint32_t>(ms);
}

DateTime currentDateTime() {
    if (gVirtual.load() && gFixedDate.load()) {
        std::lock_guard lock(gDateMutex);
        return gDate;
    }
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    return DateTime{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

void setVirtualTime(bool on) {
    gVirtual.store(on);
    gVirtualMicros.store(0);
    if (!on) gFixedDate.store(false);
}

void advanceVirtualTime(double seconds) {
    if (gVirtual.load() && seconds > 0)
        gVirtualMicros.fetch_add(static_cast<std::uint64_t>(seconds * 1e6));
}

double virtualSecondsElapsed() {
    return static_cast<double>(gVirtualMicros.load()) / 1e6;
}

void setVirtualDateTime(const DateTime& dt) {
    std::lock_guard lock(gDateMutex);
    gDate = dt;
    gFixedDate.store(true);
}

} // namespace platform

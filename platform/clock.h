// Waits, tick count and date: with virtual time on, every wait is instant and moves the clock.
#pragma once

#include <cstdint>

namespace platform {

struct DateTime {
    int year, month, day, hour, minute, second;
};

void Delay(double seconds);
// Milliseconds since an arbitrary start; wraps like a 32-bit counter.
std::uint32_t clockMs();
DateTime currentDateTime();

void setVirtualTime(bool on);
// Only in virtual time: move the clock without anyone waiting.
void advanceVirtualTime(double seconds);
// Total virtual seconds waited since virtual time was switched on.
double virtualSecondsElapsed();
// Fix the date and time reported in virtual time (tests of time stamps).
void setVirtualDateTime(const DateTime& dt);

} // namespace platform

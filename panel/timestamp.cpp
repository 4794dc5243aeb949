// Time stamp of the last drawn acquisition, from the system clock.
#include "panel/timestamp.h"

#include "panel/interface.h"
#include "platform/clock.h"
#include "platform/panel_model.h"

#include <array>
#include <cstdio>
#include <string>

namespace {
constexpr std::array<const char*, 12> kMonths = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                                 "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
}

int formatTimestamp(const platform::DateTime& dt, char* out, std::size_t size) {
    const char* month =
        (dt.month >= 1 && dt.month <= 12) ? kMonths[std::size_t(dt.month - 1)] : "???";
    return std::snprintf(out, size, "%s %02d %02d | %02d:%02d:%02d", month, dt.day, dt.year,
                         dt.hour, dt.minute, dt.second);
}

int updateTimestamp() {
    char buf[64];
    formatTimestamp(platform::currentDateTime(), buf, sizeof buf);
    // One reserved string per thread keeps the acquisition path free of allocations.
    thread_local std::string text = [] {
        std::string s;
        s.reserve(64);
        return s;
    }();
    text.assign(buf);
    platform::panel().setText(PANEL_TIMESTAMP, text);
    return 1;
}

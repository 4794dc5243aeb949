// Rise-time filter: a centred and a leading moving average whose length follows the rise time.
#include "acquisition/filter.h"

#include "instrument/driver.h"

#include <algorithm>
#include <cmath>

namespace {
std::array<double, 2048> filterBuf{};
std::array<double, 2048> filterOut{};
} // namespace

int filterLength(int width, int increment, double timebase) {
    if (width <= 0) return kMinFilterLength;
    // Before the first acquisition the increment may still be 0; one step is the finest sweep.
    const int inc = std::max(1, increment);
    const double secondsPerStep = (timebase + 5e-9) / 65536.0;
    const double samples = std::trunc(width * 1e-12 / secondsPerStep / inc);
    const double n = std::trunc(samples * 1.1);
    return static_cast<int>(std::clamp(n, double(kMinFilterLength), double(kMaxFilterLength)));
}

void applyFilter(Waveform& y, int width, int increment, double timebase) {
    const int n = filterLength(width, increment, timebase);
    const int back = (n % 2 == 1) ? (n - 1) / 2 : n / 2 - 1;
    const int fwd = (n % 2 == 1) ? (n - 1) / 2 : n / 2;

    std::copy(y.begin(), y.end(), filterBuf.begin());
    std::fill_n(filterBuf.begin() + 1024, n, y[1023]);

    // Centred pass: the missing history before sample 0 repeats sample 0.
    for (int i = 0; i < 1024; ++i) {
        double sum = filterBuf[static_cast<std::size_t>(i)];
        for (int j = 1; j <= fwd; ++j) sum += filterBuf[static_cast<std::size_t>(i + j)];
        for (int j = 1; j <= back; ++j)
            sum += filterBuf[static_cast<std::size_t>(std::max(i - j, 0))];
        filterOut[static_cast<std::size_t>(i)] = sum / n;
    }
    std::copy_n(filterOut.begin(), 1024, filterBuf.begin());

    // Leading pass over the filtered trace; the tail still holds the unfiltered last sample.
    for (int i = 0; i < 1024; ++i) {
        double sum = 0.0;
        for (int j = 0; j < n; ++j) sum += filterBuf[static_cast<std::size_t>(i + j)];
        filterOut[static_cast<std::size_t>(i)] = sum / n;
        y[static_cast<std::size_t>(i)] = filterOut[static_cast<std::size_t>(i)];
    }
}

const std::array<double, 2048>& filterScratch() {
    return filterBuf;
}

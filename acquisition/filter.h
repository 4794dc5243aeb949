// Rise-time filter: two moving averages whose length follows the entered rise time.
#pragma once

#include "instrument/driver.h"

#include <array>

// The filter's working buffer: the trace and the n samples of tail it pads with.
const std::array<double, 2048>& filterScratch();

// Bounds of the moving-average length in samples.
constexpr int kMinFilterLength = 3;
constexpr int kMaxFilterLength = 1000;

// Filters a trace for a rise time in ps (none: the shortest average), its samples `increment`
// delay steps apart on the time base given.
void applyFilter(Waveform& y, int width, int increment, double timebase);
// Moving-average length for a rise time in ps at that spacing.
int filterLength(int width, int increment, double timebase);

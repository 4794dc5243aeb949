// Rise-time filter: two moving averages whose length follows the entered rise time.
#pragma once

#include <array>

extern std::array<double, 2048> filterBuf;

// Bounds of the moving-average length in samples.
constexpr int kMinFilterLength = 3;
constexpr int kMaxFilterLength = 1000;

int applyFilter(int width);
// Moving-average length for a rise time in ps at the last sweep increment.
int filterLength(int width);

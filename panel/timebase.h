// Timebase row selection and the per-unit window tables (m, ft, ns, in, GHz).
#pragma once

#include <array>
#include <atomic>

constexpr std::array<double, 5> minWidth = {0.2, 0.6, 1.0, 12.0, 0.5};

void setTimebase(int calMode, int fast);
// What the speed class found at start-up means for the window tables and the filter.
void setRisetime(int speed);

// Rise-time filter: two moving averages whose length follows the entered rise time.
#pragma once

#include <array>

extern std::array<double, 2048> filterBuf;
extern std::array<double, 2048> filterOut;

int applyFilter(int width);
int setRisetime(int speed);

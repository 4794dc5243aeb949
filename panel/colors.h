// Display colours: the graph's dark and light schemes.
#pragma once

#include "platform/panel_model.h"

#include <array>

struct ColorScheme {
    int background, grid, axisText, cursor1, cursor2, cursorFrame, timestamp;
};

// Index 1 dark, 0 light.
constexpr std::array<ColorScheme, 2> kColorSchemes = {{
    {platform::makeColor(255, 255, 255), platform::makeColor(128, 128, 128),
     platform::makeColor(192, 192, 192), platform::makeColor(0, 0, 255),
     platform::makeColor(255, 0, 0), platform::makeColor(192, 192, 192),
     platform::makeColor(0, 0, 0)},
    {platform::makeColor(32, 32, 32), platform::makeColor(80, 80, 80),
     platform::makeColor(255, 255, 255), platform::makeColor(83, 200, 233),
     platform::makeColor(233, 83, 83), platform::makeColor(32, 32, 32),
     platform::makeColor(76, 157, 47)},
}};

// 1 dark, 0 light; any other value changes nothing.
void setColor(int scheme);

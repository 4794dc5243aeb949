// The six instrument sizes: which channel pairs each has and how fast its step is.
#pragma once

#include <array>
#include <string_view>

namespace simulator {

struct ModelInfo {
    std::string_view code;
    int speedClass;                // 0 fast step, 1 slower step
    std::array<bool, 10> stimulus; // stimulus channels (line pairs) fitted
};

// Each size adds one channel number on both ports to the one before it.
constexpr std::array<ModelInfo, 6> kModels = {{
    {"QSA002", 0, {false, false, true, false, false, false, false, false, false, false}},
    {"QSA004", 0, {false, false, true, false, false, false, false, true, false, false}},
    {"QSB008", 1, {false, true, true, false, false, false, true, true, false, false}},
    {"QSA012", 0, {true, true, true, false, false, true, true, true, false, false}},
    {"QSB016", 1, {true, true, true, true, false, true, true, true, true, false}},
    {"QSB020", 1, {true, true, true, true, true, true, true, true, true, true}},
}};

// Index into kModels, or -1.
constexpr int findModel(std::string_view code) {
    for (int i = 0; i < static_cast<int>(kModels.size()); ++i)
        if (kModels[i].code == code) return i;
    return -1;
}

// Position (0 for CH 1 .. 4 for CH 5) of a stimulus channel on its port: CH 1..CH 5 are
// stimulus 2, 1, 0, 3, 4 on port 1 and 7, 6, 5, 8, 9 on port 2.
constexpr int positionOnPort(int stimulus) {
    constexpr std::array<int, 5> pos = {2, 1, 0, 3, 4};
    return pos[stimulus % 5];
}
constexpr int portOf(int stimulus) {
    return stimulus < 5 ? 1 : 2;
}
// The same channel number on the other port: what a THROUGH connects to.
constexpr int throughPartner(int stimulus) {
    return stimulus < 5 ? stimulus + 5 : stimulus - 5;
}

} // namespace simulator

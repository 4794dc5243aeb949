// The bytes the channel-setup command carries for each stimulus and sampler channel: the wire's
// own numbering, shared by the driver that sends them and the simulator that answers them.
#pragma once

#include <array>
#include <cstdint>

constexpr std::array<std::uint8_t, 10> stimulusPortCode = {7, 6, 5, 8, 9, 2, 1, 0, 3, 4};
constexpr std::array<std::uint8_t, 20> samplerPortCode = {14, 15, 12, 13, 10, 11, 16, 17, 18, 19,
                                                          4,  5,  2,  3,  0,  1,  6,  7,  8,  9};

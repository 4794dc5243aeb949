// Device-under-test descriptions: the data, the text format's parser and the default scenario.
#pragma once

#include "simulator/sim_device.h"

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace simulator {

// One uniform transmission-line section.
struct Section {
    double ohms = 50.0;
    double length = 0.0;     // metres
    double dielK = 1.0;      // relative dielectric constant
    double lossDbPerM = 0.0; // at 1 GHz, growing with the square root of frequency
};

enum class Ending { Open, Short, Load, Through };

// Line sections one channel may have: far more than any real device needs, few enough that the
// response of a channel is computed in a few tens of milliseconds.
constexpr std::size_t kMaxSections = 100;

struct ChannelDut {
    std::vector<Section> sections; // from the front connector outwards
    Ending ending = Ending::Open;
    double loadOhms = 50.0; // for Ending::Load
    bool described = false; // named in the description (a bare connector otherwise)
};

struct Scenario {
    std::array<ChannelDut, 10> channels;
    double nextCoupling = 0.0; // near-end coupling between neighbouring pairs of a port
    double fextCoupling = 0.0; // far-end coupling between neighbouring through pairs
};

// Parses a whole description; on failure returns nothing and error reads "line N: ...".
std::optional<Scenario> parseScenario(std::string_view text, std::string& error);

// The built-in scenario: something worth looking at on every channel of a 20-channel model.
const Scenario& defaultScenario();
// Its text, in the description format (also shown in the documentation).
std::string_view defaultScenarioText();

// One line for a person: "50 ohm 0.5 m, 75 ohm 0.3 m, open" (C-locale numbers).
std::string describeChannel(const Scenario& sc, int channel);

// "DEVICE", "SHORT", "OPEN", "LOAD", "THROUGH", case-insensitive.
std::optional<Connection> parseConnection(std::string_view word);
std::string_view connectionName(Connection c);

} // namespace simulator

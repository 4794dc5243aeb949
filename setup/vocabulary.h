// The words the program speaks in: units, measurement modes and domains as types. Their integer
// codes are the ones the rings, the settings file and the stored waveform file hold; code() and
// the *FromCode functions are the only crossings between the two.
#pragma once

#include <cstddef>
#include <type_traits>

enum class XUnit { Metres = 0, Feet = 1, Nanoseconds = 2, Inches = 3, GHz = 4 };
enum class YUnit { Millivolts = 0, Normalized = 1, Ohms = 2, Rho = 3, Raw = 4, Decibels = 5 };
// In the frequency domain the mode ring says S11 and S21 for the reflection and transmission
// codes.
enum class Mode { TDR = 0, TDT = 1, NEXT = 2, FEXT = 3 };
enum class Domain { Time, Frequency };
// The calibration standards, in the order a line is measured and a SOLT file stores them.
enum class Standard { Short = 0, Open = 1, Load = 2, Through = 3 };

template <typename E>
concept Coded = std::is_same_v<E, XUnit> || std::is_same_v<E, YUnit> || std::is_same_v<E, Mode> ||
    std::is_same_v<E, Standard>;

template <Coded E> constexpr int code(E e) {
    return static_cast<int>(e);
}
// Position in a table with one entry per unit or mode.
template <Coded E> constexpr std::size_t index(E e) {
    return static_cast<std::size_t>(e);
}

constexpr bool isXUnitCode(int c) {
    return c >= 0 && c <= 4;
}
constexpr bool isYUnitCode(int c) {
    return c >= 0 && c <= 5;
}
constexpr bool isModeCode(int c) {
    return c >= 0 && c <= 3;
}
// The caller has checked the code.
constexpr XUnit xUnitFromCode(int c) {
    return static_cast<XUnit>(c);
}
constexpr YUnit yUnitFromCode(int c) {
    return static_cast<YUnit>(c);
}
constexpr Mode modeFromCode(int c) {
    return static_cast<Mode>(c);
}

// The frequency domain is GHz against dB; every other unit is the time domain's.
constexpr Domain domainOf(XUnit u) {
    return u == XUnit::GHz ? Domain::Frequency : Domain::Time;
}
// Modes that receive on the stimulus's own port and show the round trip.
constexpr bool roundTrip(Mode m) {
    return m == Mode::TDR || m == Mode::NEXT;
}

// Physics of the simulated instrument: step source, internal path, devices under test and
// coupling, turned into sampled step responses on the delay generator's fine grid.
#pragma once

#include "simulator/sim_device.h"
#include "simulator/sim_scenario.h"

#include <array>
#include <complex>
#include <vector>

namespace simulator::physics {

// Delay generator: 65536 fine steps of (75 ns + 5 ns) / 65536 = 1.220703125 ps.
constexpr double kFineStep = (7.5e-8 + 5e-9) / 65536.0;
constexpr int kGridPoints = 65536;
constexpr double kLightSpeed = 3e8;

// Where the incident step leaves the source, in delay time from position 0. Late enough that
// a calibration sweep from 0 finds it beyond its lowest accepted index at either timing row.
constexpr double kIncidentEdge = 3.1e-9;
// One-way delay of the internal path from sampler to front connector, per channel. Its round
// trip must outlast the calibration's end-level window (about 5.2 ns after the edge).
constexpr double internalDelay(int channel) {
    return 2.78e-9 + 0.004e-9 * channel;
}
// The front connector itself: a short section a little below 50 ohms.
constexpr double kConnectorOhms = 48.0;
constexpr double kConnectorDelay = 20e-12;

// Step height in counts (into a matched line) per stimulus channel.
constexpr double stepAmplitude(int stimulus) {
    return 2920.0 + 40.0 * ((stimulus * 3) % 5);
}
// ADC reading with no signal, per sampler channel.
constexpr int adcOffset(int sampler) {
    return 6200 + 150 * ((sampler * 7) % 11);
}
// Standard deviation of the sampler noise in counts.
constexpr double kNoiseCounts = 3.0;
// 10-90 % rise time of the step, by speed class.
constexpr double riseTime(int speedClass) {
    return speedClass == 0 ? 35e-12 : 150e-12;
}

struct Config {
    int model = 5; // index into kModels
    Scenario scenario;
    std::array<Connection, 10> connections{};
};

// Scratch memory of one response computation, reused from one to the next.
struct Workspace {
    std::vector<std::complex<double>> spectrum;
};

// Noise-free response of the positive line of `pair` (sampler 2*pair) while `stimulus` fires,
// in counts above the ADC offset, kGridPoints values from delay position 0. The negative line
// sees the same with the opposite sign.
void computeResponse(const Config& cfg, int stimulus, int pair, float* out, Workspace& ws);

// Ground truth, with the reference plane at the front connector.
std::vector<ImpedancePoint> impedanceProfile(const Config& cfg, int stimulus);
void sParameters(const Config& cfg, int stimulus, std::vector<double>& frequencyGHz,
                 std::vector<std::complex<double>>& s11, std::vector<std::complex<double>>& s21);
// The same at given frequencies.
void sParametersAt(const Config& cfg, int stimulus, const std::vector<double>& frequencyGHz,
                   std::vector<std::complex<double>>& s11, std::vector<std::complex<double>>& s21);

// In-place radix-2 transform of a power-of-two length; inverse is unnormalised.
void fft(std::vector<std::complex<double>>& data, bool inverse);

} // namespace simulator::physics

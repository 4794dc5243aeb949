// A network read from S-parameters (a network analyser's or a field solver's), and the step
// response a TDR or TDT with a given edge would have measured on it.
#pragma once

#include "instrument/driver.h"
#include "setup/setup.h"

#include <complex>
#include <string>
#include <vector>

struct Network {
    int ports = 1;
    double referenceOhms = 50.0;
    std::vector<double> hz; // strictly ascending
    std::vector<std::complex<double>> s11;
    std::vector<std::complex<double>> s21; // empty for one port
};

// The band edge is windowed by a half Kaiser window over the band, of this beta (0: none).
// Measured on a clean step (an ideal 0.2 reflection 1 ns out, 2000 points) with a 35 ps edge:
//   beta           0      2      3      4      6      a tapered last half (Tukey)
//   20 GHz file  0.74 % 0.30 % 0.13 % 0.05 % 0.01 %  2.7 %   overshoot
//                35 ps  43 ps  47 ps  52 ps  60 ps  41 ps   10-90 % edge
//   10 GHz file  5.8 %  1.9 %  0.61 % 0.19 % 0.03 %  6.2 %
// 4 keeps the overshoot of a 20 GHz file below the noise of a live trace (3 counts of a
// 3000-count step) and costs the least edge for it; a 150 ps edge is slowed by 3 ps.
constexpr double kKaiserBeta = 4.0;

// The step response on a fine time grid. The values are "normalized" as a live trace shows
// them: in reflection 1 + the reflected step (1 on a matched line, 2 at an open), in
// transmission the transmitted step (0 to 1).
struct StepResponse {
    Mode mode = Mode::TDR;
    double referenceOhms = 50.0;
    double dt = 0.0;        // seconds between samples
    double firstTime = 0.0; // seconds of values[0] after the file's reference plane (<= 0)
    double unaliased = 0.0; // seconds: 1 / the widest frequency spacing
    double riseTimePs = 0.0;
    std::vector<double> values;
};

// S11 (TDR) or S21 (TDT) of the network, continued to a real value at DC, resampled to a
// uniform grid from DC, windowed at the band edge, given a Gaussian edge of riseTimePs (10-90 %)
// and transformed into the step. False with a message when the mode has no term in the network.
bool stepResponse(const Network& network, Mode mode, double riseTimePs, StepResponse& out,
                  std::string& error);

// The step over a shown window, 1024 points as a live trace has them: x in the window's unit
// from start - zero to end - zero (the file's reference plane at 0, distance on the live
// trace's round-trip axis), y in the unit (mV of a 250 mV step, normalized, ohms of the file's
// reference, rho). False with a message when the window runs past the unaliased time.
bool profileOver(const StepResponse& step, const SweepWindow& window, YUnit unit, Waveform& x,
                 Waveform& y, std::string& error);

// The longest time after the reference plane that no later echo folds onto: 1 / the widest
// frequency spacing of the file.
double unaliasedSeconds(const Network& network);

// Time of a shown x value (seconds from the reference plane), and a duration in the unit.
double secondsOf(double x, XUnit unit, double dielectric);

// The eye a serial link would see through a measured channel: the pulse response at a bit rate
// from the channel's step response, a bit pattern sent through it by superposition, and the
// waveform folded over two unit intervals into a hit histogram, with the eye's height and width
// and the worst case by peak-distortion analysis.
#pragma once

#include "platform/eye_picture.h"
#include "platform/eye_service.h"
#include "setup/vocabulary.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace eye {

enum class Pattern { Prbs7, Prbs9, Prbs11, Prbs15, Prbs23, Prbs31, User };
enum class Coding { Nrz, Pam4 };

// The ITU-T O.150 generators: x^order + x^tap + 1.
struct Polynomial {
    Pattern pattern;
    const char* name;
    int order, tap;
};
constexpr std::array<Polynomial, 6> kPolynomials = {{{Pattern::Prbs7, "PRBS7", 7, 6},
                                                     {Pattern::Prbs9, "PRBS9", 9, 5},
                                                     {Pattern::Prbs11, "PRBS11", 11, 9},
                                                     {Pattern::Prbs15, "PRBS15", 15, 14},
                                                     {Pattern::Prbs23, "PRBS23", 23, 18},
                                                     {Pattern::Prbs31, "PRBS31", 31, 28}}};
// Longer sequences are cut to this many bits.
constexpr std::size_t kMaxBits = std::size_t{1} << 20;

// The whole sequence (2^order - 1 bits) up to PRBS 15, kMaxBits for PRBS 23 and 31.
std::vector<std::uint8_t> prbs(Pattern pattern);

// A step response on a uniform time grid: value k at k * dt seconds.
struct Step {
    std::vector<double> values;
    double dt = 0;
};

struct Settings {
    double bitRate = 5e9; // bits per second
    Pattern pattern = Pattern::Prbs7;
    std::string bits; // Pattern::User: '0' and '1'
    Coding coding = Coding::Nrz;
    double rjSeconds = 0; // random jitter, RMS
    double noise = 0;     // random noise, RMS, in the step's unit
    int samplesPerUi = 32;
    int rows = 256; // the histogram's voltage bins
    // The mask: a rectangle (hexagon false) or hexagon centred on the eye, width in unit
    // intervals, height in the step's unit; no mask when either is 0.
    double maskWidthUi = 0, maskHeight = 0;
    bool hexagon = false;
    std::uint64_t seed = 1; // jitter and noise
};

struct Eye {
    bool ok = false;
    std::string error;
    // rows x (2 * samplesPerUi) hits, row 0 at vLow; an eye's centre at column samplesPerUi
    // (the middle of the picture), its crossings half a unit interval either side.
    std::vector<std::uint32_t> hits;
    int columns = 0, rows = 0;
    double vLow = 0, vHigh = 0;  // the histogram's voltage range
    double ui = 0;               // seconds
    double amplitude = 0;        // the step's final value
    double height = 0;           // at the centre, from the histogram (the smallest eye for PAM4)
    double width = 0;            // seconds, at the decision level(s), from the histogram
    double worstHeight = 0;      // peak distortion: main cursor less the sum of |ISI|
    std::vector<double> cursors; // the pulse response one unit interval apart, main cursor first
    std::size_t mainCursor = 0;  // its index in the pulse response's UI samples
    long maskHits = -1;          // -1: no mask
    double maskMargin = 0;       // how far the mask could grow (fraction) before a hit
    bool settled = true;         // the pulse response died out within the step's window
};

// Every step of the method, from the step response to the figures.
Eye compute(const Step& step, const Settings& settings);

// A shown time-domain trace as a step response from its lowest point before its steepest rise
// on: its x values (in the unit, equally spaced) turned into seconds.
Step stepOfTrace(const double* x, const double* y, std::size_t n, XUnit unit, double dielectric);
// The histogram as a picture with its figures and the mask's outline, the y axis in `unit`.
platform::EyePicture pictureOf(const Eye& eye, const Settings& settings, const std::string& unit);

// The settings a window, a recipe or a remote client asks for; false for a pattern that is
// neither a PRBS name nor a bit string.
bool settingsOf(const platform::EyeRequest& request, Settings& settings);

// "PRBS7" .. "PRBS31", else a user's bit string; false for neither.
bool patternOf(const std::string& name, Pattern& pattern, std::string& bits);

} // namespace eye

// A measurement recipe for batch runs: what to talk to, how to measure, which zones to judge
// and what to write. Read from JSON; every field is checked before the instrument is touched.
#pragma once

#include "platform/eye_service.h"
#include "setup/vocabulary.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct RecipeZone {
    std::string name;
    double from = 0, to = 0;            // shown x unit, from the zero reference
    double nominal = 50, tolerance = 5; // ohms, percent
};

struct Recipe {
    std::string path;   // the file it came from
    std::string folder; // its folder: relative file names in the recipe start there
    std::string name;   // names the report folder; the file name without .json by default
    std::string serial, lot, operatorName; // for the record; the command line's go first

    // instrument
    bool simulate = false;
    std::string model; // expected model; empty: whatever is found
    std::string dut;   // simulated device under test (scenario file)
    std::vector<std::string> connect;
    bool noise = true;
    std::uint64_t seed = 0; // where the simulated noise starts
    bool randomSeed = false;
    // A Touchstone file measured instead of an instrument (as given; recipeFile resolves it).
    std::string touchstoneFile;

    // measurement
    bool frequencyDomain = false;
    Mode mode = Mode::TDR; // TDR is S11 and TDT S21 in the frequency domain
    std::string stimulus;  // ring label, "PORT 1, CH 1"
    std::string sampler;   // ring label, "PORT 1, CH 1+"; empty: the first offered
    bool differential = false;
    XUnit xUnits = XUnit::Metres;
    YUnit yUnits = YUnit::Ohms;
    std::optional<double> windowStart, windowEnd;
    std::optional<double> dielectric;
    int averaging = 16;
    bool filter = false;
    std::optional<int> filterWidth; // ps
    bool zeroAtOpen = false;        // find the zero at the open connector
    std::optional<double> zero;     // or this value
    std::string calibration;        // frequency domain: the .s11 / .s21 file, or "new"

    std::vector<RecipeZone> zones;

    // The eye a serial link would see through the measured channel (TDT in mV: noise and mask
    // height in mV).
    std::optional<platform::EyeRequest> eye;

    // outputs
    std::string outFolder = "results";
    bool csv = true, png = true, touchstone = false, report = true;
    bool pdf = false;         // the one-page certificate
    bool lotCpk = false;      // each zone's Cpk over the lot so far, in the report and certificate
    std::string paper = "A4"; // or "Letter"
};

// Reads and checks a recipe. On failure returns false with one line naming the field, e.g.
// "measurement.averaging: must be a whole number from 1 to 1000".
bool loadRecipe(const std::string& path, Recipe& recipe, std::string& error);
// A file name from the recipe, relative to the recipe's folder unless absolute.
std::string recipeFile(const Recipe& recipe, const std::string& name);

// Unit names as recipes and results write them.
constexpr const char* kRecipeXUnits[] = {"m", "ft", "ns", "in", "GHz"};
constexpr const char* kRecipeYUnits[] = {"mV", "Norm", "Ohm", "Rho", "Raw", "dB"};
constexpr const char* kRecipeTimeModes[] = {"TDR", "TDT", "NEXT", "FEXT"};
constexpr const char* kRecipeFreqModes[] = {"S11", "S21"};

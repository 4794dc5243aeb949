// Command line of the program: what to talk to, whether to take a screenshot, or a batch run.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

constexpr std::array<std::string_view, 6> kModelCodes = {"QSA002", "QSA004", "QSB008",
                                                         "QSA012", "QSB016", "QSB020"};

enum class Command { Window, Measure, Serve, Results, Spc };

struct Options {
    Command command = Command::Window;
    bool simulate = false;
    std::string model = "QSB020";
    bool modelGiven = false;              // --model was on the command line
    std::string dutFile;                  // scenario file for the simulated instrument
    std::vector<std::string> connections; // "CH=WHAT", in the order given
    std::vector<std::string> references;  // Touchstone files laid over the live trace
    bool autoSolt = false;                // the simulator answers the SOLT prompts itself
    int frequencyChannel = -1;            // switch to S11 on this stimulus channel once started
    int averaging = 0;                    // sweeps averaged, set once started; 0: as restored
    bool noise = true;                    // the simulated sampler's noise
    std::uint64_t seed = 0;               // where the simulated noise starts (0: as always)
    bool randomSeed = false;              // --seed random: a new start each run
    bool seedGiven = false;
    double unplugAfter = -1.0; // seconds after start-up; negative: never
    std::string screenshotPath;
    double screenshotAfter = 4.0; // seconds
    bool light = false;           // start in the light scheme
    std::string recipePath;       // measure: the recipe file
    std::string outFolder;        // measure: overrides the recipe's output folder
    // Remote control: the window's with --remote, always with serve (--listen); loopback unless
    // an address is named.
    bool remote = false;
    std::string remoteAddress = "127.0.0.1";
    int remotePort = 5025;
    // Production records: where they go ("none": nowhere; relative to the data folder) and who
    // and what they are about.
    std::string results = "results.sqlite";
    bool resultsGiven = false;
    std::string serial, lot, operatorName, stationName;
    std::string stationRecipe; // the window in station mode, locked to this recipe
    // `velt results`: which records, and how they are printed
    std::string queryRecipe, since, until;
    std::string format = "table"; // table, csv, json
    bool flush = false;           // send the spool first
    // `velt spc`: the records (also by lot, since, until), the zone, the subgroups and the gate
    std::string queryStation, zone;
    std::size_t last = 0; // the newest N records; 0: all
    int subgroup = 5;     // 1 (individuals) to 10
    double minCpk = 0;    // with minCpkGiven: exit 1 below it or on a violated rule
    bool minCpkGiven = false;
    // Where the data folders and user.ini live: the working directory unless given.
    std::string dataDir;
    bool userData = false; // the user's XDG data folder for VELT (the desktop entry's)
    bool help = false;
    bool version = false;
    std::string helpText; // the help of the command that asked for it
};

struct ParseResult {
    bool ok = true;
    std::string error; // one line, without the program name
    Options options;
};

// Pure: no file is read and nothing is printed.
ParseResult parseOptions(int argc, const char* const* argv);
// The manual page (troff) from the same option tables --help prints, with the version given.
std::string manPage(const std::string& version);
// The folder --user-data names: $XDG_DATA_HOME/velt, else $HOME/.local/share/velt; "" without
// either variable.
std::string userDataDir();

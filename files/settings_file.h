// Settings file: the autosaved user.ini and user-chosen settings files (18 lines, one value
// each), the checks a file must pass before anything is applied, and the factory defaults.
#pragma once

#include "files/file_io.h"
#include "setup/setup.h"

#include <string>
#include <string_view>
#include <vector>

// The 18 values of the file, in file order.
struct SettingsRecord {
    std::string model;
    int yUnits = 0;
    int xUnits = 0;
    double xStart = 0.0;
    double xEnd = 0.0;
    double xZero = 0.0;
    double dielK = 0.0;
    double yMin = 0.0;
    double yMax = 0.0;
    int autoscale = 0;
    int cal = 0;
    int mode = 0;
    int diff = 0;
    int stimulus = 0;
    int sampler = 0;
    int autoAcquire = 0;
    int filter = 0;
    int filterWidth = 0;
};

constexpr const char* kAutosaveFile = "user.ini";

// A set-up as the file keeps it, for the instrument model given.
SettingsRecord settingsRecordOf(const Setup& setup, std::string_view model);
// The file text: reals at single precision with five decimals, C locale.
std::string formatSettings(const SettingsRecord& r);
// Reads the text by line position. A missing, over-long or unparsable value comes back as one
// its check rejects (NaN, or the lowest int; a model that matches none).
SettingsRecord parseSettings(std::string_view text);
constexpr std::size_t kSettingsLines = 18;
SettingsRecord parseSettingsLines(const std::vector<files::Line>& lines);
// 0 when every check passes, else the number (1..18) of the first that fails.
int checkSettings(const SettingsRecord& r, std::string_view connectedModel);
// What the log says, and what loading returns, when a check fails.
struct SettingsRejection {
    int code;
    int result;
    const char* text;
};
SettingsRejection settingsRejection(int check);

// Stored waveform files (.velt): the shown waveform with the settings needed to show it again,
// recalled as a second trace over the live one.
#pragma once

#include "files/file_io.h"
#include "instrument/driver.h"
#include "setup/setup.h"

#include <string>
#include <string_view>

// Line 2 of the file, in file order.
struct StoredSettings {
    int xUnits = 0;
    int yUnits = 0;
    double xStart = 0.0;
    double xEnd = 0.0;
    double xZero = 0.0;
    double dielK = 0.0;
    double yMin = 0.0; // field 7, although the label line calls it ymax
    double yMax = 0.0;
    int mode = 0;
    int diff = 0;
    int stimulus = 0;
    int sampler = 0;
    int filter = 0;
    int filterWidth = 0;
};

constexpr const char* kStoredLabelLine =
    "xUnits,yUnits,xStart,xEnd,xZero,dielK,ymax,ymin,mode,differential,stimulus,sampler,filter,"
    "filterWidth\n";

std::string formatStoredSettings(const StoredSettings& s);
std::string formatStoredPoints(const Waveform& x, const Waveform& y);

enum class StoredParse { Ok, BadSettings, BadPoint };
constexpr std::size_t kStoredFileLines = 1026;
// Parses a whole file's lines. A missing, over-long or unparsable field or point fails it;
// badLine is then the 1-based line at fault. Only a y value may be inf or nan (an unconnected
// channel).
StoredParse parseStoredLines(const std::vector<files::Line>& lines, StoredSettings& s, Waveform& x,
                             Waveform& y, int& badLine);
// Ranges any stored file must keep, whatever instrument is connected.
bool storedSettingsValid(const StoredSettings& s);
// A set-up as line 2 keeps it.
StoredSettings storedSettingsOf(const Setup& setup);

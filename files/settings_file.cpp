// Settings file: written whole to a temporary file and renamed, read back by line position,
// checked completely before the first setter runs.
#include "files/settings_file.h"

#include "files/file_io.h"

#include <array>
#include <climits>
#include <cmath>
#include <limits>

namespace {

constexpr int kUnparsedInt = INT_MIN;
constexpr double kUnparsedReal = std::numeric_limits<double>::quiet_NaN();

constexpr const char* kLoadError = "Error loading settings file. Reverting to defaults.";

void line(std::string& out, const char* key, int v) {
    out += key;
    files::appendInt(out, v);
    out += ";\n";
}

void lineReal(std::string& out, const char* key, double v) {
    out += key;
    // The file keeps single precision: 1000.123456 is written as 1000.12347.
    files::appendFixed(out, static_cast<double>(static_cast<float>(v)), 5);
    out += ";\n";
}

// Past the key (the first word, never compared) and the blanks and tabs after it.
bool valueOf(const std::vector<files::Line>& lines, std::size_t i, std::string_view& value) {
    if (i >= lines.size() || lines[i].tooLong) return false;
    std::string_view s = lines[i].text;
    files::skipBlanks(s);
    std::size_t key = 0;
    while (key < s.size() && s[key] != ' ' && s[key] != '\t') ++key;
    if (key == 0) return false;
    s.remove_prefix(key);
    files::skipBlanks(s);
    value = s;
    return true;
}

// The value ends at the semicolon; nothing but blanks may follow it.
bool endsValue(std::string_view rest) {
    files::skipBlanks(rest);
    if (!rest.empty() && rest.front() == ';') rest.remove_prefix(1);
    files::skipBlanks(rest);
    return rest.empty();
}

int intAt(const std::vector<files::Line>& lines, std::size_t i) {
    std::string_view s;
    int v = 0;
    if (!valueOf(lines, i, s) || !files::parseInt(s, v) || !endsValue(s)) return kUnparsedInt;
    return v;
}

double realAt(const std::vector<files::Line>& lines, std::size_t i) {
    std::string_view s;
    double v = 0;
    if (!valueOf(lines, i, s) || !files::parseReal(s, v) || !endsValue(s)) return kUnparsedReal;
    return v;
}

bool bit(int v) {
    return v == 0 || v == 1;
}

} // namespace

SettingsRejection settingsRejection(int check) {
    switch (check) {
    case 1:
        return {2251, -21,
                "Stored settings do not match current instrument. Reverting to defaults"};
    case 2:
        return {2234, -4, kLoadError};
    case 3:
        return {2250, -20, "Cannot start program in frequency domain. Reverting to time domain."};
    default:
        return {2231 + check, -(check + 1), kLoadError};
    }
}

std::string formatSettings(const SettingsRecord& r) {
    std::string out;
    out.reserve(512);
    out += "USER_MODEL\t\t\t";
    out += r.model;
    out += ";\n";
    line(out, "USER_YUNITS\t\t\t", r.yUnits);
    line(out, "USER_XUNITS\t\t\t", r.xUnits);
    lineReal(out, "USER_XSTART\t\t\t", r.xStart);
    lineReal(out, "USER_XEND\t\t\t", r.xEnd);
    lineReal(out, "USER_XZERO\t\t\t", r.xZero);
    lineReal(out, "USER_DIELK\t\t\t", r.dielK);
    lineReal(out, "USER_YMIN\t\t\t", r.yMin);
    lineReal(out, "USER_YMAX\t\t\t", r.yMax);
    line(out, "USER_AUTOSCALE\t\t\t", r.autoscale);
    line(out, "USER_CAL\t\t\t", r.cal);
    line(out, "USER_MODE\t\t\t", r.mode);
    line(out, "USER_DIFF\t\t\t", r.diff);
    line(out, "USER_STIMULUS\t\t\t", r.stimulus);
    line(out, "USER_SAMPLER\t\t\t", r.sampler);
    line(out, "USER_AUTOACQ\t\t\t", r.autoAcquire);
    line(out, "USER_FILTER\t\t\t", r.filter);
    line(out, "USER_FILTERWIDTH\t\t", r.filterWidth);
    return out;
}

SettingsRecord parseSettingsLines(const std::vector<files::Line>& lines) {
    SettingsRecord r;
    std::string_view m;
    // At most six characters, ending at the semicolon; a model that cannot be read matches
    // no instrument (a model code never holds a line feed).
    r.model = "\n";
    if (valueOf(lines, 0, m)) {
        const std::size_t end = std::min(m.find_first_of("; \t"), m.size());
        if (end <= 6 && endsValue(m.substr(end))) r.model.assign(m.substr(0, end));
    }
    r.yUnits = intAt(lines, 1);
    r.xUnits = intAt(lines, 2);
    r.xStart = realAt(lines, 3);
    r.xEnd = realAt(lines, 4);
    r.xZero = realAt(lines, 5);
    r.dielK = realAt(lines, 6);
    r.yMin = realAt(lines, 7);
    r.yMax = realAt(lines, 8);
    r.autoscale = intAt(lines, 9);
    r.cal = intAt(lines, 10);
    r.mode = intAt(lines, 11);
    r.diff = intAt(lines, 12);
    r.stimulus = intAt(lines, 13);
    r.sampler = intAt(lines, 14);
    r.autoAcquire = intAt(lines, 15);
    r.filter = intAt(lines, 16);
    r.filterWidth = intAt(lines, 17);
    return r;
}

SettingsRecord parseSettings(std::string_view text) {
    return parseSettingsLines(files::splitLines(text, kSettingsLines));
}

int checkSettings(const SettingsRecord& r, std::string_view connectedModel) {
    // Written as "not accepted" so that a NaN fails every check it meets.
    const std::array<bool, 18> pass = {
        r.model == connectedModel,
        r.dielK > 0,
        !(r.yUnits == code(YUnit::Decibels) || r.xUnits == code(XUnit::GHz)),
        r.yUnits >= code(YUnit::Millivolts) && r.yUnits <= code(YUnit::Rho),
        r.xUnits >= code(XUnit::Metres) && r.xUnits <= code(XUnit::Nanoseconds),
        r.xStart >= -r.xZero,
        r.xEnd >= -r.xZero,
        r.xZero >= 0,
        r.yMin <= r.yMax,
        bit(r.autoscale),
        bit(r.autoAcquire),
        bit(r.filter),
        r.filterWidth > 0,
        isModeCode(r.mode),
        r.stimulus >= 0 && r.stimulus <= 9,
        r.sampler >= 0 && r.sampler <= 19,
        bit(r.diff),
        bit(r.cal),
    };
    for (std::size_t i = 0; i < pass.size(); ++i)
        if (!pass[i]) return static_cast<int>(i) + 1;
    return 0;
}

SettingsRecord settingsRecordOf(const Setup& s, std::string_view model) {
    SettingsRecord r;
    r.model = model;
    r.yUnits = code(s.yUnit);
    r.xUnits = code(s.xUnit);
    r.xStart = s.xStart;
    r.xEnd = s.xEnd;
    r.xZero = s.xZero;
    r.dielK = s.dielectric;
    r.yMax = s.yMax;
    r.yMin = s.yMin;
    r.autoscale = s.autoscale ? 1 : 0;
    r.cal = s.externalCal ? 1 : 0;
    r.mode = code(s.mode);
    r.diff = s.differential ? 1 : 0;
    r.stimulus = s.stimulus;
    r.sampler = s.sampler;
    r.autoAcquire = s.autoAcquire ? 1 : 0;
    r.filter = s.filter ? 1 : 0;
    r.filterWidth = s.filterWidthPs;
    return r;
}

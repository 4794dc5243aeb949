// Stored waveform files: checked writes, a recall that checks the whole file before it changes
// anything, and the dimming that keeps the stored trace's settings in force while it is shown.
#include "files/waveform_file.h"

#include "files/file_io.h"

namespace {

bool bit(int v) {
    return v == 0 || v == 1;
}

bool comma(std::string_view& s) {
    files::skipBlanks(s);
    if (s.empty() || s.front() != ',') return false;
    s.remove_prefix(1);
    return true;
}

bool rest(std::string_view s) {
    files::skipBlanks(s);
    return s.empty();
}

bool parseSettingsLine(std::string_view s, StoredSettings& out) {
    StoredSettings r;
    int* ints1[] = {&r.xUnits, &r.yUnits};
    double* reals[] = {&r.xStart, &r.xEnd, &r.xZero, &r.dielK, &r.yMin, &r.yMax};
    int* ints2[] = {&r.mode, &r.diff, &r.stimulus, &r.sampler, &r.filter, &r.filterWidth};
    // Every field but the first follows a comma.
    bool first = true;
    auto sep = [&s, &first] {
        const bool ok = first || comma(s);
        first = false;
        return ok;
    };
    for (int* v : ints1)
        if (!sep() || !files::parseInt(s, *v)) return false;
    for (double* v : reals)
        if (!sep() || !files::parseReal(s, *v)) return false;
    for (int* v : ints2)
        if (!sep() || !files::parseInt(s, *v)) return false;
    if (!rest(s)) return false;
    out = r;
    return true;
}

bool parsePoint(std::string_view s, double& x, double& y) {
    return files::parseReal(s, x) && comma(s) && files::parseReal(s, y, true) && rest(s);
}

} // namespace

std::string formatStoredSettings(const StoredSettings& s) {
    std::string out;
    files::appendInt(out, s.xUnits);
    out += ',';
    files::appendInt(out, s.yUnits);
    for (double v : {s.xStart, s.xEnd, s.xZero, s.dielK, s.yMin, s.yMax}) {
        out += ',';
        files::appendFixed(out, v, 5);
    }
    for (int v : {s.mode, s.diff, s.stimulus, s.sampler, s.filter, s.filterWidth}) {
        out += ',';
        files::appendInt(out, v);
    }
    out += '\n';
    return out;
}

std::string formatStoredPoints(const Waveform& x, const Waveform& y) {
    std::string out;
    out.reserve(1024 * 24);
    for (std::size_t i = 0; i < x.size(); ++i) {
        files::appendFixed(out, x[i], 5);
        out += ", ";
        files::appendFixed(out, y[i], 5);
        out += '\n';
    }
    return out;
}

StoredParse parseStoredLines(const std::vector<files::Line>& lines, StoredSettings& s, Waveform& x,
                             Waveform& y, int& badLine) {
    badLine = 2;
    if (lines.size() < 2 || lines[1].tooLong || !parseSettingsLine(lines[1].text, s))
        return StoredParse::BadSettings;
    for (std::size_t i = 0; i < x.size(); ++i) {
        const std::size_t n = i + 2;
        badLine = static_cast<int>(n) + 1;
        if (n >= lines.size() || lines[n].tooLong || !parsePoint(lines[n].text, x[i], y[i]))
            return StoredParse::BadPoint;
    }
    badLine = 0;
    return StoredParse::Ok;
}

bool storedSettingsValid(const StoredSettings& s) {
    const bool fd = s.xUnits == code(XUnit::GHz);
    return isXUnitCode(s.xUnits) && isYUnitCode(s.yUnits) &&
           fd == (s.yUnits == code(YUnit::Decibels)) && s.xZero >= 0 && s.dielK > 0 &&
           s.xStart >= 0 && s.xEnd >= s.xStart && s.yMin <= s.yMax && isModeCode(s.mode) &&
           (!fd || s.mode <= code(Mode::TDT)) && bit(s.diff) && s.stimulus >= 0 &&
           s.stimulus <= 9 && s.sampler >= 0 && s.sampler <= 19 && bit(s.filter) &&
           s.filterWidth > 0;
}

StoredSettings storedSettingsOf(const Setup& s) {
    StoredSettings r;
    r.xUnits = code(s.xUnit);
    r.yUnits = code(s.yUnit);
    r.xStart = s.xStart;
    r.xEnd = s.xEnd;
    r.xZero = s.xZero;
    r.dielK = s.dielectric;
    r.yMin = s.yMin;
    r.yMax = s.yMax;
    r.mode = code(s.mode);
    r.diff = s.differential ? 1 : 0;
    r.stimulus = s.stimulus;
    r.sampler = s.sampler;
    r.filter = s.filter ? 1 : 0;
    r.filterWidth = s.filterWidthPs;
    return r;
}

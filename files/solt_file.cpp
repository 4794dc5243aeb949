// Calibration files are read whole and parsed into a scratch copy of the store: a short or
// malformed file changes nothing in memory.
#include "files/solt_file.h"

#include "files/file_io.h"
#include "freqdomain/solt.h"
#include "freqdomain/solt_check.h"
#include "panel/settings.h"
#include "platform/log.h"
#include "platform/popups.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

std::atomic<int> defaultSaveCAL{1};

namespace {

constexpr int kRows = 1024;
constexpr std::size_t kMaxFileBytes = 16u << 20;

constexpr std::string_view kHeaderS11 =
    "P1_CH1_Pos_Sh,P1_CH1_Pos_Op,P1_CH1_Pos_Ld,P1_CH1_Neg_Sh,P1_CH1_Neg_Op,P1_CH1_Neg_Ld,"
    "P1_CH2_Pos_Sh,P1_CH2_Pos_Op,P1_CH2_Pos_Ld,P1_CH2_Neg_Sh,P1_CH2_Neg_Op,P1_CH2_Neg_Ld,"
    "P1_CH3_Pos_Sh,P1_CH3_Pos_Op,P1_CH3_Pos_Ld,P1_CH3_Neg_Sh,P1_CH3_Neg_Op,P1_CH3_Neg_Ld,"
    "P1_CH4_Pos_Sh,P1_CH4_Pos_Op,P1_CH4_Pos_Ld,P1_CH4_Neg_Sh,P1_CH4_Neg_Op,P1_CH4_Neg_Ld,"
    "P1_CH5_Pos_Sh,P1_CH5_Pos_Op,P1_CH5_Pos_Ld,P1_CH5_Neg_Sh,P1_CH5_Neg_Op,P1_CH5_Neg_Ld,"
    "P2_CH1_Pos_Sh,P2_CH1_Pos_Op,P2_CH1_Pos_Ld,P2_CH1_Neg_Sh,P2_CH1_Neg_Op,P2_CH1_Neg_Ld,"
    "P2_CH2_Pos_Sh,P2_CH2_Pos_Op,P2_CH2_Pos_Ld,P2_CH2_Neg_Sh,P2_CH2_Neg_Op,P2_CH2_Neg_Ld,"
    "P2_CH3_Pos_Sh,P2_CH3_Pos_Op,P2_CH3_Pos_Ld,P2_CH3_Neg_Sh,P2_CH3_Neg_Op,P2_CH3_Neg_Ld,"
    "P2_CH4_Pos_Sh,P2_CH4_Pos_Op,P2_CH4_Pos_Ld,P2_CH4_Neg_Sh,P2_CH4_Neg_Op,P2_CH4_Neg_Ld,"
    "P2_CH5_Pos_Sh,P2_CH5_Pos_Op,P2_CH5_Pos_Ld,P2_CH5_Neg_Sh,P2_CH5_Neg_Op,P2_CH5_Neg_Ld\n";
// This header does end in a comma.
constexpr std::string_view kHeaderS21 =
    "P1_CH1_Pos_Th,P1_CH1_Neg_Th,P1_CH2_Pos_Th,P1_CH2_Neg_Th,P1_CH3_Pos_Th,P1_CH3_Neg_Th,"
    "P1_CH4_Pos_Th,P1_CH4_Neg_Th,P1_CH5_Pos_Th,P1_CH5_Neg_Th,P2_CH1_Pos_Th,P2_CH1_Neg_Th,"
    "P2_CH2_Pos_Th,P2_CH2_Neg_Th,P2_CH3_Pos_Th,P2_CH3_Neg_Th,P2_CH4_Pos_Th,P2_CH4_Neg_Th,"
    "P2_CH5_Pos_Th,P2_CH5_Neg_Th,\n";

int columnCount(int type) {
    return type == 0 ? 60 : 20;
}

// Column k of a type: slot in file order, then standard (Sh, Op, Ld for S11).
template <typename Set> auto& column(int type, int k, Set& set) {
    if (type == 0) return set[static_cast<std::size_t>(k % 3)][static_cast<std::size_t>(k / 3)];
    return set[kThrough][static_cast<std::size_t>(k)];
}

int resolveType(int type) {
    if (type == 0 || type == 1) return type;
    return getMode() == Mode::TDT ? 1 : 0;
}

bool chooseFile(int type, bool save, std::string& path) {
    const std::string folder = defaultSaveCAL.exchange(0) == 1 ? "calibrations" : "";
    const char* spec = type == 0 ? (save ? ".s11" : "*.s11") : (save ? ".s21" : "*.s21");
    const char* list = type == 0 ? "S11 SOLT Calibration (*.s11)" : "S21 SOLT Calibration (*.s21)";
    const char* title = save ? "Select File to Save" : "Select File to Retrieve";
    return platform::FileSelectPopup(folder, spec, list, title, save, path) !=
           platform::VAL_NO_FILE_SELECTED;
}

// One row's values, in the C locale whatever the process locale.
void appendRow(int type, int row, const StandardSet& set, std::string& out) {
    const int n = columnCount(type);
    std::array<char, 400> buf{};
    for (int k = 0; k < n; ++k) {
        const double v = column(type, k, set)[static_cast<std::size_t>(row)];
        const auto r =
            std::to_chars(buf.data(), buf.data() + buf.size(), v, std::chars_format::fixed, 5);
        out.append(buf.data(), r.ptr);
        out.push_back(k + 1 < n ? ',' : '\n');
    }
}

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

// Parses one data row of exactly n values into `values`; a single trailing comma is tolerated.
bool parseRow(std::string_view line, int n, double* values, std::string& why) {
    const char* p = line.data();
    const char* const end = p + line.size();
    for (int k = 0; k < n; ++k) {
        while (p < end && isBlank(*p)) ++p;
        if (p < end && *p == '+') ++p;
        const auto r = std::from_chars(p, end, values[k]);
        if (r.ec != std::errc()) {
            why = "value " + std::to_string(k + 1) + " is missing or not a number";
            return false;
        }
        // A standard of nan or inf would turn every corrected trace into gaps.
        if (!std::isfinite(values[k])) {
            why = "value " + std::to_string(k + 1) + " is not a finite number";
            return false;
        }
        p = r.ptr;
        while (p < end && isBlank(*p)) ++p;
        if (k + 1 < n) {
            if (p == end || *p != ',') {
                why = "expected " + std::to_string(n) + " values, found " + std::to_string(k + 1);
                return false;
            }
            ++p;
        }
    }
    if (p < end && *p == ',') ++p;
    while (p < end && isBlank(*p)) ++p;
    if (p != end) {
        why = "more than " + std::to_string(n) + " values";
        return false;
    }
    return true;
}

// The next line without its LF or CR LF; false at the end of the text.
bool nextLine(std::string_view& text, std::string_view& line) {
    if (text.empty()) return false;
    const std::size_t nl = text.find('\n');
    line = text.substr(0, nl);
    text = nl == std::string_view::npos ? std::string_view{} : text.substr(nl + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return true;
}

enum class ReadResult { Ok, OpenFailed, TooLarge, ReadFailed, CloseFailed };

ReadResult readWhole(const std::string& path, std::string& text) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return ReadResult::OpenFailed;
    std::array<char, 65536> chunk;
    ReadResult result = ReadResult::Ok;
    for (;;) {
        const std::size_t n = std::fread(chunk.data(), 1, chunk.size(), f);
        text.append(chunk.data(), n);
        if (text.size() > kMaxFileBytes) {
            result = ReadResult::TooLarge;
            break;
        }
        if (n < chunk.size()) break;
    }
    if (result == ReadResult::Ok && std::ferror(f)) result = ReadResult::ReadFailed;
    if (std::fclose(f) != 0 && result == ReadResult::Ok) result = ReadResult::CloseFailed;
    return result;
}

// A loaded calibration is kept whatever it holds; what looks wrong is only reported, a few
// lines at most so that a file of another model does not flood the log.
void reportHealth(int type) {
    constexpr std::size_t kMaxReported = 6;
    const std::vector<SoltFinding> findings = checkCalibration(type, soltStore, channels);
    for (std::size_t i = 0; i < findings.size() && i < kMaxReported; ++i)
        writeMessage(0,
                     "Calibration check: " +
                         describeFinding(findings[i], soltSamplerLabel(findings[i].sampler)),
                     0);
    if (findings.size() > kMaxReported)
        writeMessage(0,
                     "Calibration check: " + std::to_string(findings.size() - kMaxReported) +
                         " more standards look wrong.",
                     0);
}

// Scratch copy for loading: 640 KiB, so not on the stack.
StandardSet& scratch() {
    static const auto set = std::make_unique<StandardSet>();
    return *set;
}

} // namespace

std::string_view soltHeader(int type) {
    return type == 0 ? kHeaderS11 : kHeaderS21;
}

std::string formatSOLT(int type, const StandardSet& from) {
    std::string out;
    out.reserve(static_cast<std::size_t>(kRows) * 12 * columnCount(type) + 1024);
    out.append(soltHeader(type));
    for (int r = 0; r < kRows; ++r) appendRow(type, r, from, out);
    return out;
}

int parseSOLT(int type, std::string_view text, StandardSet& into, std::string& error) {
    const int n = columnCount(type);
    std::string_view line;
    // The header names nothing the reader needs: an edited one still loads.
    if (!nextLine(text, line)) {
        error = "the file is empty";
        return 0;
    }
    StandardSet& tmp = scratch();
    tmp = into;
    std::array<double, 60> values{};
    std::string why;
    for (int r = 0; r < kRows; ++r) {
        if (!nextLine(text, line)) {
            error = "it ends after " + std::to_string(r) + " of 1024 rows";
            return 0;
        }
        if (!parseRow(line, n, values.data(), why)) {
            error = "line " + std::to_string(r + 2) + ": " + why;
            return 0;
        }
        for (int k = 0; k < n; ++k)
            column(type, k, tmp)[static_cast<std::size_t>(r)] = values[static_cast<std::size_t>(k)];
    }
    while (nextLine(text, line)) {
        if (line.find_first_not_of(" \t") != std::string_view::npos) {
            error = "it has more than 1024 rows";
            return 0;
        }
    }
    into = tmp;
    return 1;
}

int loadSOLTFile(int type, const std::string& path) {
    type = resolveType(type);
    std::string text;
    std::string error;
    switch (readWhole(path, text)) {
    case ReadResult::OpenFailed:
        if (type == 0)
            writeMessage(2092, "Could not open S11 calibration file.", 0);
        else
            writeMessage(2093, "Could not open S21 calibration file.", 0);
        return type == 0 ? -2 : -3;
    case ReadResult::CloseFailed:
        writeMessage(2094, "Could not close calibration file.", 0);
        return -4;
    case ReadResult::TooLarge:
        error = "it is far larger than any calibration file";
        break;
    case ReadResult::ReadFailed:
        error = "it could not be read to its end";
        break;
    case ReadResult::Ok:
        parseSOLT(type, text, soltStore, error);
        break;
    }
    if (!error.empty()) {
        const char* kind = type == 0 ? "S11" : "S21";
        writeMessage(type == 0 ? 2095 : 2096,
                     std::string("Could not read ") + kind + " calibration file: " + error +
                         ". The calibration in memory is unchanged.",
                     0);
        return -5;
    }
    writeMessage(0, "SOLT calibration loaded from disk.", 0);
    reportHealth(type);
    return 1;
}

int saveSOLTFile(int type, const std::string& path) {
    type = resolveType(type);
    // Written beside the target and renamed over it: a full disk never costs the user the
    // calibration file that was there before.
    switch (files::replaceFile(path, formatSOLT(type, soltStore))) {
    case files::ReplaceStatus::OpenFailed:
        if (type == 0)
            writeMessage(2072, "Could not open S11 calibration file.", 0);
        else
            writeMessage(2074, "Could not open S21 calibration file.", 0);
        return type == 0 ? -2 : -4;
    case files::ReplaceStatus::WriteFailed:
        if (type == 0)
            writeMessage(2073, "Could not write S11 calibration file to disk.", 0);
        else
            writeMessage(2075, "Could not write S21 calibration file to disk.", 0);
        return type == 0 ? -3 : -5;
    case files::ReplaceStatus::CloseFailed:
        writeMessage(2076, "Could not close calibration file.", 0);
        return -6;
    case files::ReplaceStatus::Ok:
        break;
    }
    writeMessage(0, "SOLT calibration completed and saved to disk.", 0);
    return 1;
}

int saveSOLT(int type) {
    type = resolveType(type);
    std::string path;
    if (!chooseFile(type, true, path)) return -1;
    return saveSOLTFile(type, path);
}

int loadSOLT(int type) {
    type = resolveType(type);
    std::string path;
    if (!chooseFile(type, false, path)) return -1;
    return loadSOLTFile(type, path);
}

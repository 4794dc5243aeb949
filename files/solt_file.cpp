// Calibration files are read whole and parsed into a scratch copy of the store: a short or
// malformed file changes nothing in memory.
#include "files/solt_file.h"

#include "files/file_io.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

// A file made with plain sampling has 1024 rows, one made with interleaving 1024 a sweep.
constexpr int kRowsPerSweep = 1024;
constexpr int kMaxRows = kRowsPerSweep * kMaxInterleave;

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
    return set[index(Standard::Through)][static_cast<std::size_t>(k)];
}

// The interleave a file of a type is written with: the finest all its records hold.
int fileInterleave(int type, const StandardSet& set) {
    int k = 0;
    for (int c = 0; c < columnCount(type); ++c) {
        const FdRecord& r = column(type, c, set);
        if (!r.empty()) k = k == 0 ? r.interleave : std::min(k, r.interleave);
    }
    return k == 0 ? 1 : k;
}

// One row's values, in the C locale whatever the process locale; a record swept with more
// sweeps than the file holds gives the samples of the file's.
void appendRow(int type, int row, int interleave, const StandardSet& set, std::string& out) {
    const int n = columnCount(type);
    std::array<char, 400> buf{};
    for (int k = 0; k < n; ++k) {
        const FdRecord& rec = column(type, k, set);
        const double v = rec.interleave < interleave
                             ? 0.0 // only an empty record has fewer
                             : rec.y[static_cast<std::size_t>(row) *
                                     static_cast<std::size_t>(rec.interleave / interleave)];
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

// Scratch copy for loading: 2.5 MiB, so not on the stack.
StandardSet& scratch() {
    static const auto set = std::make_unique<StandardSet>();
    return *set;
}

} // namespace

// The file's header line, newline included.
static std::string_view soltHeader(int type) {
    return type == 0 ? kHeaderS11 : kHeaderS21;
}

std::string formatSOLT(int type, const StandardSet& from) {
    const int interleave = fileInterleave(type, from);
    const int rows = kRowsPerSweep * interleave;
    std::string out;
    out.reserve(static_cast<std::size_t>(rows) * 12 * static_cast<std::size_t>(columnCount(type)) +
                1024);
    out.append(soltHeader(type));
    for (int r = 0; r < rows; ++r) appendRow(type, r, interleave, from, out);
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
    int rows = 0;
    while (nextLine(text, line)) {
        // Blank lines may end the file, and nothing else may follow them.
        if (line.find_first_not_of(" \t") == std::string_view::npos) break;
        if (rows == kMaxRows) {
            error = "it has more than " + std::to_string(kMaxRows) + " rows";
            return 0;
        }
        if (!parseRow(line, n, values.data(), why)) {
            error = "line " + std::to_string(rows + 2) + ": " + why;
            return 0;
        }
        for (int k = 0; k < n; ++k)
            column(type, k, tmp).y[static_cast<std::size_t>(rows)] =
                values[static_cast<std::size_t>(k)];
        ++rows;
    }
    while (nextLine(text, line)) {
        if (line.find_first_not_of(" \t") != std::string_view::npos) {
            error = "line " + std::to_string(rows + 2) + " is blank and more rows follow it";
            return 0;
        }
    }
    if (rows < kRowsPerSweep) {
        error = "it ends after " + std::to_string(rows) + " of 1024 rows";
        return 0;
    }
    if (rows != kRowsPerSweep && rows != kMaxRows) {
        error = "it has " + std::to_string(rows) +
                " rows, where a calibration has 1024 (plain sampling) or 4096 (four interleaved "
                "sweeps)";
        return 0;
    }
    for (int k = 0; k < n; ++k) {
        FdRecord& r = column(type, k, tmp);
        std::fill(r.y.begin() + rows, r.y.end(), 0.0);
        r.interleave = rows / kRowsPerSweep;
    }
    into = tmp;
    return 1;
}

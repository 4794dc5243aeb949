// Touchstone files. Written: the corrected S-parameters, S11 as .s1p, S21 as .s2p (version
// 1.1, "# GHz S RI R 50", so that simulators get the complex values rather than a dB trace).
// Read: one- and two-port files of version 1.x or 2.0 from any source.
#pragma once

#include "freqdomain/network.h"

#include <atomic>
#include <string>
#include <string_view>
#include <vector>

struct SParamPoint {
    double ghz = 0;
    double re = 0, im = 0; // the measured term: S11 in a .s1p, S21 in a .s2p
};

// The whole file. `ports` 1 writes S11 lines, 2 writes S11 S21 S12 S22 lines with the measured
// S21 and zeros for the three terms the header names as not measured. `comment` lines go
// first, each behind "! ". Numbers in the C locale. Points with a non-finite value are left
// out (a gap in the trace is no measurement).
std::string formatTouchstone(int ports, const std::vector<SParamPoint>& points,
                             const std::vector<std::string>& comment);

// A file's points are at least this many and at most the other.
constexpr std::size_t kTouchstoneMinPoints = 16;
constexpr std::size_t kTouchstoneMaxPoints = 100000;
// Larger files are refused before they are read.
constexpr std::size_t kTouchstoneMaxBytes = 64u << 20;

// The ports a version 1 file has by its name: 1 for .s1p, 2 for .s2p (any case), 0 otherwise.
int touchstonePorts(std::string_view path);

// Reads a Touchstone file: version 1.x with `ports` (from its name), or version 2.0 with the
// ports it states ("[Number of Ports]" 1 or 2). The option line's frequency unit, format and
// reference (defaults GHz, MA, R 50), comments, points spread over several lines, the noise
// block after a two-port's data and 2.0's keywords are read as the format defines them.
// False with a message naming the line, `out` untouched, when it is not such a file: other
// parameters than S, frequencies not rising, a value missing or not a number, fewer than
// kTouchstoneMinPoints or more than kTouchstoneMaxPoints points.
bool readTouchstone(std::string_view text, int ports, Network& out, std::string& error);

// Reads the file at path (ports from its name unless it says 2.0): false with a message that
// names the file and, for what is in it, the line.
bool loadTouchstone(const std::string& path, Network& out, std::string& error);

// The measured term of a file as the program writes it: S11 (ports 1) or S21 (ports 2) of
// every point in GHz, real and imaginary.
bool parseTouchstone(std::string_view text, int ports, std::vector<SParamPoint>& points,
                     std::string& error);

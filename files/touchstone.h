// Touchstone (version 1.1) files of the corrected S-parameters: S11 as .s1p, S21 as .s2p, with
// the option line "# GHz S RI R 50" so that simulators get the complex values themselves
// rather than a dB trace.
#pragma once

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

// Reads a file written as above (or any 1.1 file in GHz, S, RI or MA or DB, R 50): the S11
// (ports 1) or S21 (ports 2) of every data line as real and imaginary parts. False with a
// message naming the line when something does not parse.
bool parseTouchstone(std::string_view text, int ports, std::vector<SParamPoint>& points,
                     std::string& error);

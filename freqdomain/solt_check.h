// The health check of SOLT standards: what each standard must look like at the connector and
// against the standard measured before it on the same line. Pure functions over the records.
#pragma once

#include "freqdomain/store.h"

#include <string>
#include <vector>

enum class SoltProblem {
    None,
    Empty,     // all zero: nothing was measured or loaded for the line
    Unchanged, // the same within noise as the standard before it: the connection was not changed
    Swapped,   // SHORT and OPEN each read as the other
    Level,     // settles where a different standard (or none) would
    NoArrival  // a THROUGH that brings nothing from the other port
};

// What the prompts and the findings call each standard.
constexpr const char* kStandardNames[] = {"SHORT", "OPEN", "50 OHM LOAD", "THROUGH"};

struct SoltFinding {
    SoltProblem problem = SoltProblem::None;
    Standard standard = Standard::Short;
    int sampler = 0;
    std::string why; // "it settles at +1.00, where a SHORT settles near -1: it looks like an OPEN"
};

// Checks `record`, just measured or loaded as `standard` of a sampler line, against what that
// standard settles to and against the standards before it on the line (SHORT, then OPEN, then
// LOAD), taken from `set`. THROUGH is checked on its own.
SoltFinding checkStandard(Standard standard, int sampler, const FdRecord& record,
                          const StandardSet& set);
// Every standard of a calibration kind (0 S11, 1 S21) on every line a model with this many
// channels measures; the findings in line order.
std::vector<SoltFinding> checkCalibration(int type, const StandardSet& set, int channelCount);
// "PORT 1, CH 1+ SHORT looks wrong: <why>." with the line's label.
std::string describeFinding(const SoltFinding& f, const std::string& label);

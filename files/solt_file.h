// SOLT calibration files: .s11 (SHORT, OPEN, LOAD of all 20 sampler lines, 60 columns) and
// .s21 (THROUGH of all 20, 20 columns); a header line, then 1024 rows of "%3.5f" values a sweep
// the records interleave: 1024 for plain sampling, 4096 for four interleaved sweeps.
#pragma once

#include "freqdomain/store.h"

#include <string>
#include <string_view>

// The whole file text of a type from a store.
std::string formatSOLT(int type, const StandardSet& from);
// Parses a whole file text of a type into `into` (only that type's standards are written, with
// the interleave the row count says, and only when every row gave every value). Returns 1, or 0
// with `error` saying what is wrong.
int parseSOLT(int type, std::string_view text, StandardSet& into, std::string& error);

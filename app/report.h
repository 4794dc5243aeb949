// The record of one batch measurement: the result file and the report folder that lets the
// result be reproduced and audited later.
#pragma once

#include "app/recipe.h"
#include "instrument/driver.h"
#include "panel/zone_stats.h"

#include <cmath>
#include <string>
#include <vector>

// One sweep set of the measured trace: the counts as read, averaged over its passes.
struct SweepSetRecord {
    int stimulus = 0, sampler = 0;
    int start = 0, increment = 0;
    int passes = 0;
    int offset = 0;
    Waveform counts{};
};

struct ZoneResult {
    RecipeZone zone;
    ZoneStats stats;
    double minLength = 0; // shortest zone that gets a verdict, shown x unit
    // Over the lot so far, this coupon included (outputs.lot_cpk): individuals' Cpk, and of
    // how many records; 0 records: not asked for or not known.
    double lotCpk = NAN;
    std::size_t lotRecords = 0;
};

struct ReportData {
    int status = 0; // the exit status the run ends with
    std::vector<ZoneResult> zones;
    std::vector<SweepSetRecord> sweepSets;
    std::vector<std::string> calibrationFiles; // SOLT files the trace was corrected with
    std::vector<std::string> problems;         // outputs that could not be written
    std::string touchstoneFile;                // measured in place of an instrument
};

// "cable      PASS  mean 50.03  min 49.61  max 50.48  sd 0.17 Ohm  [47.5, 52.5]  0.300-1.700 m"
std::string zoneLine(const RecipeZone& zone, const ZoneStats& s, double minLength,
                     const char* xUnit);

// The run's own folder under the recipe's output folder: its name and the time, numbered when
// that exists already. False with a message when it cannot be made.
bool createRunFolder(const Recipe& recipe, std::string& folder, std::string& error);

// Writes result.json into the run's folder and, with the report asked for, the recipe, the
// settings file, the averaged counts, the calibration files used and SHA256SUMS over every
// file there. False with a message when a file cannot be written.
bool writeReport(const Recipe& recipe, const ReportData& data, const std::string& folder,
                 std::string& error);

// The record of one batch measurement: the result file and the report folder that lets the
// result be reproduced and audited later.
#pragma once

#include "app/recipe.h"
#include "instrument/driver.h"
#include "panel/zone_stats.h"

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
};

struct ReportData {
    int status = 0; // the exit status the run ends with
    std::vector<ZoneResult> zones;
    std::vector<SweepSetRecord> sweepSets;
};

// "cable      PASS  mean 50.03  min 49.61  max 50.48  sd 0.17 Ohm  [47.5, 52.5]  0.300-1.700 m"
std::string zoneLine(const RecipeZone& zone, const ZoneStats& s, double minLength,
                     const char* xUnit);

// Creates the run's folder under the recipe's output folder and writes into it what the
// recipe asks for, with result.json always. False with a message when the folder or a file
// cannot be written; `folder` names the run's folder.
bool writeReport(const Recipe& recipe, const ReportData& data, std::string& folder,
                 std::string& error);

// Statistical process control over the production records: X-bar and R (or individuals and
// moving-range) charts of each zone's mean, the Western Electric rules, and capability against
// the zone's tolerance.
#pragma once

#include "files/results_db.h"
#include "platform/spc_chart.h"

#include <array>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

struct Options;

namespace spc {

// Control chart constants for subgroups of n, as the standard tables print them (ASTM E2587,
// Table 1; Montgomery, Introduction to Statistical Quality Control, Appendix VI). For n = 1 the
// X chart's factor is E2 = 3 / d2 over moving ranges of two, and the range row is n = 2's.
struct Constants {
    int n;
    double a2, d3, d4, d2;
};
constexpr std::array<Constants, 10> kConstants = {{
    {1, 2.660, 0, 3.267, 1.128},
    {2, 1.880, 0, 3.267, 1.128},
    {3, 1.023, 0, 2.574, 1.693},
    {4, 0.729, 0, 2.282, 2.059},
    {5, 0.577, 0, 2.114, 2.326},
    {6, 0.483, 0, 2.004, 2.534},
    {7, 0.419, 0.076, 1.924, 2.704},
    {8, 0.373, 0.136, 1.864, 2.847},
    {9, 0.337, 0.184, 1.816, 2.970},
    {10, 0.308, 0.223, 1.777, 3.078},
}};
constexpr const Constants& constantsFor(int n) {
    return kConstants[static_cast<std::size_t>(n - 1)];
}

struct Sample {
    double value = 0;
    std::string serial;
};

struct Limits {
    double centre = 0, lower = 0, upper = 0;
};

struct Violation {
    int rule = 0;             // 1 to 4
    char chart = 'X';         // 'X' (X-bar or individuals) or 'R' (range or moving range)
    std::size_t subgroup = 0; // 1-based, the point that completes the pattern
    std::vector<std::string> serials;
};

struct ZoneStats {
    std::string zone;
    double nominal = 0, tolerance = 0; // ohms, percent: the newest record's
    double lsl = 0, usl = 0;
    int subgroupSize = 5;
    std::size_t count = 0;           // records with a value in this zone
    std::size_t used = 0;            // of them in whole subgroups
    std::vector<double> xbar, range; // per subgroup (n = 1: each value and its moving range)
    std::vector<std::vector<std::string>> serials; // per subgroup
    Limits x, r;
    double mean = 0, sigmaWithin = 0, sigmaOverall = 0;
    double cp = 0, cpk = 0, pp = 0, ppk = 0; // +inf when the sigma is 0
    std::vector<Violation> violations;
    std::string error; // why there are no limits (too few records, say)
    bool ok() const { return error.empty(); }
};

// The chart limits from a grand mean and a mean range, as a book computes them.
void limitsOf(double grandMean, double meanRange, int n, Limits& x, Limits& r);
// Cp and Cpk (or Pp and Ppk) of a process of this mean and sigma within [lsl, usl].
void capabilityOf(double mean, double sigma, double lsl, double usl, double& cp, double& cpk);

// One zone's statistics over its samples, oldest first, in subgroups of n (1 to 10) consecutive
// samples; an incomplete last subgroup waits for its records.
ZoneStats analyse(const std::string& zone, const std::vector<Sample>& samples, double nominal,
                  double tolerance, int n);

// Every zone of the records the query selects (or only `zone`), in order of first appearance.
bool analyseStore(results::Store& store, const results::Query& query, const std::string& zone,
                  int n, std::vector<ZoneStats>& out, std::string& error);

// Each zone's individuals Cpk over a lot's records so far and this coupon's zones after them.
std::vector<ZoneStats> lotCapability(results::Store& store, const std::string& recipe,
                                     const std::string& lot,
                                     const std::vector<results::ZoneRecord>& coupon,
                                     std::string& error);

// The chart of one zone as plain values, for the PNG and the statistics window.
platform::SpcChart chartOf(const ZoneStats& stats, const std::string& recipe);
// "Cpk 1.52 (lot L7, 12 records)" style summary line and the violations in words.
std::string describe(const Violation& v);

// The statistics window's view of the database the program records to: the station's recipe
// (or one chosen), read again whenever a record was stored.
class RecordedStatistics : public platform::SpcService {
  public:
    RecordedStatistics(std::string target, std::string recipe)
        : target_(std::move(target)), recipe_(std::move(recipe)) {}
    platform::SpcView compute(const platform::SpcRequest& request) override;
    std::uint64_t generation() const override;

  private:
    std::string target_, recipe_;
    std::unique_ptr<results::Store> store_; // GUI thread only
};

// The warning a station shows beside its verdict when the subgroup of five its newest record
// completes breaks a rule: "" otherwise. Reads the database; never fails the coupon.
std::string stationWarning(results::Store& store, const std::string& recipe);

// `velt spc`: exit 0, 1 below --min-cpk or on a violated rule, 2 on a bad argument or database.
int runSpc(const Options& options, std::FILE* out, std::FILE* err);

} // namespace spc

// The statistics against a textbook's published X-bar/R example, and the Western Electric rules
// on hand-made charts: for each rule a pattern that fires it and one that just does not.
#include "app/spc.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>

namespace {

// Montgomery, Introduction to Statistical Quality Control (6th ed.), Example 6.1, Table 6.3:
// inside diameters (mm) of forged piston rings, 25 samples of 5. The book prints
// x-double-bar = 74.001, R-bar = 0.023, X-bar limits 74.014 and 73.988, R limits 0.049 and 0,
// and, for the tolerance 74.000 +- 0.05 mm and sigma = R-bar / d2 = 0.0099, Cp = 1.68. It
// finds the process in control. Its limits and Cp come from the rounded 74.001, 0.023 and
// 0.0099; unrounded they are 74.0146, 73.9878, 0.0491 and 1.67.
constexpr double kPistonRings[25][5] = {
    {74.030, 74.002, 74.019, 73.992, 74.008}, {73.995, 73.992, 74.001, 74.011, 74.004},
    {73.988, 74.024, 74.021, 74.005, 74.002}, {74.002, 73.996, 73.993, 74.015, 74.009},
    {73.992, 74.007, 74.015, 73.989, 74.014}, {74.009, 73.994, 73.997, 73.985, 73.993},
    {73.995, 74.006, 73.994, 74.000, 74.005}, {73.985, 74.003, 73.993, 74.015, 73.988},
    {74.008, 73.995, 74.009, 74.005, 74.004}, {73.998, 74.000, 73.990, 74.007, 73.995},
    {73.994, 73.998, 73.994, 73.995, 73.990}, {74.004, 74.000, 74.007, 74.000, 73.996},
    {73.983, 74.002, 73.998, 73.997, 74.012}, {74.006, 73.967, 73.994, 74.000, 73.984},
    {74.012, 74.014, 73.998, 73.999, 74.007}, {74.000, 73.984, 74.005, 73.998, 73.996},
    {73.994, 74.012, 73.986, 74.005, 74.007}, {74.006, 74.010, 74.018, 74.003, 74.000},
    {73.984, 74.002, 74.003, 74.005, 73.997}, {74.000, 74.010, 74.013, 74.020, 74.003},
    {73.982, 74.001, 74.015, 74.005, 73.996}, {74.004, 73.999, 73.990, 74.006, 74.009},
    {74.010, 73.989, 73.990, 74.009, 74.014}, {74.015, 74.008, 73.993, 74.000, 74.010},
    {73.982, 73.984, 73.995, 74.017, 74.013}};

// To the printed digits: |value - printed| no more than half the last digit.
void expectPrinted(double value, double printed, double digit) {
    EXPECT_LE(std::abs(value - printed), digit / 2 + 1e-12) << value << " printed " << printed;
}

TEST(Spc, PistonRingsReproduceTheTextbooksLimitsAndCapability) {
    std::vector<spc::Sample> samples;
    for (const auto& row : kPistonRings)
        for (double v : row) samples.push_back({v, "R" + std::to_string(samples.size() + 1)});
    // A nominal of 74 with 0.0675 % is 74.000 +- 0.05 mm.
    const spc::ZoneStats z = spc::analyse("bore", samples, 74.0, 0.05 / 74.0 * 100, 5);
    ASSERT_TRUE(z.ok()) << z.error;
    EXPECT_EQ(z.xbar.size(), 25u);
    expectPrinted(z.x.centre, 74.001, 0.001);
    expectPrinted(z.r.centre, 0.023, 0.001);
    expectPrinted(z.r.upper, 0.049, 0.001);
    EXPECT_EQ(z.r.lower, 0.0);
    expectPrinted(z.x.lower, 73.988, 0.001);
    EXPECT_TRUE(z.violations.empty()) << spc::describe(z.violations.front());

    spc::Limits x, r;
    spc::limitsOf(74.001, 0.023, 5, x, r);
    expectPrinted(x.upper, 74.014, 0.001);
    expectPrinted(x.lower, 73.988, 0.001);
    expectPrinted(r.upper, 0.049, 0.001);
    double cp = 0, cpk = 0;
    spc::capabilityOf(74.001, 0.0099, 73.95, 74.05, cp, cpk);
    expectPrinted(cp, 1.68, 0.01);
    expectPrinted(z.cp, 1.67, 0.01);
}

TEST(Spc, ConstantsAgreeWithTheirDefinitions) {
    // A2 = 3 / (d2 sqrt n) (E2 = 3 / d2 for individuals), within the rounding of both; past
    // n = 6, D3 + D4 = 2.
    for (const spc::Constants& c : spc::kConstants) {
        const double n = c.n == 1 ? 1 : c.n;
        EXPECT_NEAR(c.a2, 3 / (c.d2 * std::sqrt(n)), 0.0005 + c.a2 * 0.0005 / c.d2)
            << "n = " << c.n;
        if (c.d3 > 0) {
            EXPECT_NEAR(c.d3 + c.d4, 2.0, 1e-9) << "n = " << c.n;
        }
    }
    const spc::Constants& five = spc::constantsFor(5);
    EXPECT_EQ(five.a2, 0.577);
    EXPECT_EQ(five.d3, 0.0);
    EXPECT_EQ(five.d4, 2.114);
    EXPECT_EQ(five.d2, 2.326);
}

TEST(Spc, EqualValuesBreakNoRuleAndAreInfinitelyCapable) {
    // Twenty runs of a simulator without noise: the same mean each time, to the last bit.
    const std::vector<spc::Sample> same(20, {50.013, "C"});
    for (int n : {1, 5}) {
        const spc::ZoneStats z = spc::analyse("cable", same, 50, 5, n);
        ASSERT_TRUE(z.ok()) << z.error;
        EXPECT_TRUE(z.violations.empty()) << spc::describe(z.violations.front());
        EXPECT_TRUE(std::isinf(z.cpk) && z.cpk > 0);
    }
}

struct RuleCase {
    const char* name;
    std::vector<double> pattern; // subgroup means, in sigmas of the mean chart's zones
    int rule;                    // what fires at the pattern's last point; 0: nothing
};

class Rules : public ::testing::TestWithParam<RuleCase> {};

// Subgroups of two, m - 0.5 and m + 0.5: every range is 1, so the mean chart's sigma is
// A2 / 3 = 0.6267 and its centre 0, as the pattern is laid once up and once mirrored down
// between alternating quiet points.
TEST_P(Rules, FireAtThePointThatCompletesThePatternOnEitherSide) {
    const RuleCase& c = GetParam();
    const double sigma = spc::constantsFor(2).a2 / 3;
    std::vector<double> means;
    auto quiet = [&means](double first) {
        for (int i = 0; i < 10; ++i) means.push_back(i % 2 ? -first * 0.1 : first * 0.1);
    };
    quiet(1);
    for (double m : c.pattern) means.push_back(m * sigma);
    const std::size_t up = means.size();
    quiet(-1);
    for (double m : c.pattern) means.push_back(-m * sigma);
    const std::size_t down = means.size();
    quiet(1);
    std::vector<spc::Sample> samples;
    for (double m : means) {
        const std::string serial = "S" + std::to_string(samples.size() + 1);
        samples.push_back({m - 0.5, serial});
        samples.push_back({m + 0.5, serial + "b"});
    }
    const spc::ZoneStats z = spc::analyse("z", samples, 0, 0, 2);
    ASSERT_TRUE(z.ok()) << z.error;
    ASSERT_NEAR(z.x.upper - z.x.centre, 3 * sigma, 1e-9);
    std::vector<std::pair<int, std::size_t>> fired;
    for (const spc::Violation& v : z.violations) fired.emplace_back(v.rule, v.subgroup);
    using Fired = std::vector<std::pair<int, std::size_t>>;
    const Fired expected = c.rule ? Fired{{c.rule, up}, {c.rule, down}} : Fired{};
    EXPECT_EQ(fired, expected);
    if (c.rule) {
        const std::vector<std::string> serials = {"S" + std::to_string(2 * up - 1),
                                                  "S" + std::to_string(2 * up - 1) + "b"};
        EXPECT_EQ(z.violations.front().serials, serials);
    }
}

INSTANTIATE_TEST_SUITE_P(
    WesternElectric, Rules,
    ::testing::Values(RuleCase{"BeyondThreeSigma", {3.1}, 1},
                      RuleCase{"JustInsideThreeSigma", {2.95}, 0},
                      RuleCase{"TwoOfThreeBeyondTwo", {2.1, 0.2, 2.1}, 2},
                      RuleCase{"OneOfThreeBeyondTwo", {2.1, 0.2, 1.9}, 0},
                      RuleCase{"FourOfFiveBeyondOne", {1.2, 1.2, 0.2, 1.2, 1.2}, 3},
                      RuleCase{"ThreeOfFiveBeyondOne", {1.2, 1.2, 0.2, 1.2, 0.9}, 0},
                      RuleCase{"EightOnOneSide", {0.3, 0.3, 0.3, 0.3, 0.3, 0.3, 0.3, 0.3}, 4},
                      RuleCase{"SevenOnOneSide", {0.3, 0.3, 0.3, 0.3, 0.3, 0.3, 0.3}, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Spc, AStationIsWarnedOnlyWhenItsNewestSubgroupBreaksARule) {
    const std::string path = "/tmp/velt_spc_station.sqlite";
    std::filesystem::remove(path);
    std::string error;
    auto store = results::openStore(path, error);
    ASSERT_TRUE(store) << error;
    auto put = [&](int i, double ohms) {
        results::Record r;
        r.id = results::newRecordId();
        char time[40];
        std::snprintf(time, sizeof time, "2026-12-11T08:%02d:%02d.000000Z", i / 60, i % 60);
        r.time = time;
        r.recipe = "coupon";
        r.serial = "C-" + std::to_string(i);
        r.zones = {{"trace", 50, 5, ohms, ohms, ohms, 0, "PASS"}};
        ASSERT_TRUE(store->put({r}, error)) << error;
    };
    // Twenty subgroups of five in control, each spread 0.4 Ohm.
    for (int i = 0; i < 100; ++i) put(i, 50 + 0.1 * (i % 5) - 0.2);
    EXPECT_EQ(spc::stationWarning(*store, "coupon"), "");
    // A subgroup 1 Ohm high: past its upper limit, still well inside the tolerance.
    for (int i = 100; i < 105; ++i) put(i, 51 + 0.1 * (i % 5) - 0.2);
    const std::string warning = spc::stationWarning(*store, "coupon");
    EXPECT_EQ(warning.rfind("SPC: trace rule 1 (beyond 3 sigma) on the mean chart at subgroup 21: "
                            "C-100 C-101 C-102 C-103 C-104",
                            0),
              0u)
        << warning;
    // The next coupon starts a subgroup of its own: the signal was shown once.
    put(105, 50);
    EXPECT_EQ(spc::stationWarning(*store, "coupon"), "");
    std::filesystem::remove(path);
}

} // namespace

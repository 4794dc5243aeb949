// Rise-time filter: lengths from the rise time, the two passes and their edges.
#include "acquisition/filter.h"
#include "panel/interface.h"
#include "panel/panel_state.h"
#include "panel/timebase.h"
#include "platform/panel_model.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <numeric>

namespace {

class Filter : public ::testing::Test {
  protected:
    void filter(int width) { applyFilter(y, width, increment, 7.5e-8); }
    Waveform y{};
    int increment = 1;
};

TEST_F(Filter, SpikeBecomesATriangleOneSampleEarlier) {
    y[500] = 9.0;
    filter(0);
    const double expected[] = {0, 1, 2, 3, 2, 1, 0};
    for (int i = 0; i < 7; ++i) EXPECT_NEAR(y[std::size_t(496 + i)], expected[i], 1e-12) << 496 + i;
}

TEST_F(Filter, UnitStepBecomesARamp) {
    std::fill(y.begin() + 512, y.end(), 1.0);
    filter(0);
    EXPECT_NEAR(y[508], 0.0, 1e-12);
    EXPECT_NEAR(y[509], 1.0 / 9, 1e-12);
    EXPECT_NEAR(y[510], 3.0 / 9, 1e-12);
    EXPECT_NEAR(y[511], 6.0 / 9, 1e-12);
    EXPECT_NEAR(y[512], 8.0 / 9, 1e-12);
    for (std::size_t i = 513; i < 1024; ++i) EXPECT_NEAR(y[i], 1.0, 1e-12) << i;
}

struct LengthCase {
    int increment;
    int width;
    int n;
};

class Length : public Filter, public ::testing::WithParamInterface<LengthCase> {};

TEST_P(Length, FollowsRiseTimeAndIncrement) {
    EXPECT_EQ(filterLength(GetParam().width, GetParam().increment, 7.5e-8), GetParam().n);
}

INSTANTIATE_TEST_SUITE_P(Widths, Length,
                         ::testing::Values(LengthCase{12, 35, 3},       // 2.2 raised to 3
                                           LengthCase{8, 200, 22},      // 20.48 samples
                                           LengthCase{1, 100000, 1000}, // cut to 1000
                                           LengthCase{8, 0, 3}, LengthCase{8, -5, 3},
                                           LengthCase{0, 200, 179}, // no sweep yet: finest step
                                           LengthCase{59, 20, 3}));

TEST_F(Filter, EvenLengthLooksOneSampleFurtherAhead) {
    increment = 8; // n = 22: 10 behind, 11 ahead
    const double n = 22;
    y[500] = n * n;
    filter(200);
    // First pass spreads the spike over 489..510, the second ramps it back from there.
    EXPECT_NEAR(y[467], 0.0, 1e-9);
    EXPECT_NEAR(y[468], 1.0, 1e-9);
    EXPECT_NEAR(y[489], 22.0, 1e-9);
    EXPECT_NEAR(y[490], 21.0, 1e-9);
    EXPECT_NEAR(y[510], 1.0, 1e-9);
    EXPECT_NEAR(y[511], 0.0, 1e-9);
    const double total = std::accumulate(y.begin(), y.end(), 0.0);
    EXPECT_NEAR(total, n * n, 1e-6);
}

class Constant : public Filter, public ::testing::WithParamInterface<int> {};

TEST_P(Constant, StaysConstant) {
    increment = 1;
    y.fill(-3.25);
    filter(GetParam());
    for (double v : y) EXPECT_NEAR(v, -3.25, 1e-9);
}

INSTANTIATE_TEST_SUITE_P(Widths, Constant, ::testing::Values(0, 20, 200, 5000, 100000));

TEST_F(Filter, LongestLengthFillsTheTailFromTheLastSample) {
    increment = 1;
    for (std::size_t i = 0; i < 1024; ++i) y[i] = static_cast<double>(i < 600);
    y[1023] = 7.0;
    filter(100000);
    ASSERT_EQ(filterLength(100000, 1, 7.5e-8), 1000);
    EXPECT_DOUBLE_EQ(filterScratch()[1024], 7.0);
    EXPECT_DOUBLE_EQ(filterScratch()[2023], 7.0);
    EXPECT_DOUBLE_EQ(filterScratch()[2024], 0.0); // nothing ever written beyond n samples
}

TEST_F(Filter, FlatStartIsLeftFlat) {
    for (std::size_t i = 0; i < 1024; ++i) y[i] = i < 600 ? 2.0 : 5.0;
    filter(0);
    for (std::size_t i = 0; i < 595; ++i) EXPECT_DOUBLE_EQ(y[i], 2.0) << i;
}

TEST(RiseTime, SlowInstrumentsGetTheirDefaults) {
    testing_support::freshPanel();
    setRisetime(1);
    EXPECT_DOUBLE_EQ(panelState.maxRange[4].load(), 2.4);
    EXPECT_EQ(platform::panel().intValue(PANEL_FILTERWIDTH), 200);
    setRisetime(0);
    EXPECT_DOUBLE_EQ(panelState.maxRange[4].load(), 7.2);
    EXPECT_DOUBLE_EQ(panelState.defaultEnd[4].load(), 7.2);
    EXPECT_EQ(platform::panel().intValue(PANEL_FILTERWIDTH), 35);
    EXPECT_DOUBLE_EQ(panelState.maxRange[0].load(), 15.0); // the other units keep theirs
    panelState.maxRange[4] = panelState.defaultEnd[4] = 2.4;
}

} // namespace

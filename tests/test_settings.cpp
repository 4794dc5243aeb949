// Settings accessors: the control is the store and each setter applies its side effects.
#include "instrument/driver.h"
#include "panel/interface.h"
#include "panel/panel_state.h"
#include "panel/settings.h"
#include "panel/timebase.h"
#include "panel/units.h"
#include "platform/panel_model.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using platform::panel;

namespace {

class Settings : public ::testing::Test {
  protected:
    void SetUp() override {
        testing_support::freshPanel();
        panel().setRange(PANEL_XSTART, 0, 15);
        panel().setRange(PANEL_XEND, 0, 15);
    }
};

TEST_F(Settings, DielectricShowsThreeDecimalsAndItsVelocityFactor) {
    setDiel(2.23);
    EXPECT_DOUBLE_EQ(getDiel(), 2.23);
    EXPECT_EQ(panel().precision(PANEL_DIEL), 3);
    EXPECT_DOUBLE_EQ(view.dielK.load(), 2.23);
    EXPECT_NEAR(panel().value(PANEL_VC), 0.669649, 1e-6); // shown to six decimals
}

TEST_F(Settings, DielectricTypedByTheUserIsTakenWithMinusOne) {
    panel().setValue(PANEL_DIEL, 4.0); // the user's edit
    setDiel(-1);
    EXPECT_DOUBLE_EQ(view.dielK.load(), 4.0);
    EXPECT_DOUBLE_EQ(panel().value(PANEL_VC), 0.5);
}

TEST_F(Settings, DielectricOutsideTheFieldKeepsFieldAndMirrorEqual) {
    setDiel(0.0); // would otherwise give an infinite velocity factor
    EXPECT_DOUBLE_EQ(view.dielK.load(), getDiel());
    EXPECT_TRUE(std::isfinite(panel().value(PANEL_VC)));
    setDiel(std::numeric_limits<double>::quiet_NaN());
    EXPECT_DOUBLE_EQ(view.dielK.load(), getDiel());
}

struct DiffCase {
    int unit;
    int wanted;
    int diff;
    int unitAfter;
    bool samplerDimmed;
};

class DiffSelector : public Settings, public ::testing::WithParamInterface<DiffCase> {};

TEST_P(DiffSelector, FollowsTheVerticalUnit) {
    const DiffCase c = GetParam();
    setYUnits(yUnitFromCode(c.unit));
    setDiff(c.wanted);
    EXPECT_EQ(getDiff(), c.diff);
    EXPECT_EQ(code(view.yUnits.load()), c.unitAfter);
    EXPECT_EQ(panel().dimmed(PANEL_SAMPLER), c.samplerDimmed);
}

INSTANTIATE_TEST_SUITE_P(Units, DiffSelector,
                         ::testing::Values(DiffCase{5, 1, 0, 5, false}, // dB: stays single ended
                                           DiffCase{0, 1, 1, 2, true},  // mV: switches to Ohm
                                           DiffCase{1, 1, 1, 2, true}, DiffCase{3, 1, 1, 2, true},
                                           DiffCase{2, 1, 1, 2, true}, DiffCase{2, 0, 0, 2, false},
                                           DiffCase{0, 0, 0, 0, false}));

TEST_F(Settings, DiffOffAgainReenablesTheSamplerAndKeepsTheUnit) {
    setDiff(1);
    ASSERT_TRUE(panel().dimmed(PANEL_SAMPLER));
    setDiff(0);
    EXPECT_FALSE(panel().dimmed(PANEL_SAMPLER));
    EXPECT_EQ(view.yUnits.load(), YUnit::Ohms);
    EXPECT_EQ(getDiff(), 0);
}

TEST_F(Settings, DiffMinusOneAppliesWhatTheRingShows) {
    panel().setValue(PANEL_DIFFERENTIAL, 1); // the user's choice
    setDiff(-1);
    EXPECT_EQ(view.yUnits.load(), YUnit::Ohms);
    EXPECT_TRUE(panel().dimmed(PANEL_SAMPLER));
}

struct WindowCase {
    int unit;
    double zero;
    double start, end;
    double shownStart, shownEnd;
};

class WindowEdit : public Settings, public ::testing::WithParamInterface<WindowCase> {};

TEST_P(WindowEdit, EnforcesTheMinimumWidth) {
    const WindowCase c = GetParam();
    view.xUnits = xUnitFromCode(c.unit);
    view.xZero = c.zero;
    panel().setRange(PANEL_XSTART, -c.zero, panelState.maxRange[std::size_t(c.unit)]);
    panel().setRange(PANEL_XEND, -c.zero, panelState.maxRange[std::size_t(c.unit)]);
    panel().setValue(PANEL_XSTART, c.start);
    panel().setValue(PANEL_XEND, c.end);
    setWindow();
    EXPECT_NEAR(getXStart(), c.shownStart, 1e-12);
    EXPECT_NEAR(getXEnd(), c.shownEnd, 1e-12);
    EXPECT_NEAR(view.xStart.load(), c.shownStart + c.zero, 1e-12);
    EXPECT_NEAR(view.xEnd.load(), c.shownEnd + c.zero, 1e-12);
    EXPECT_GE(getXEnd() - getXStart(), minWidth[std::size_t(c.unit)] - 1e-12);
}

INSTANTIATE_TEST_SUITE_P(
    Windows, WindowEdit,
    ::testing::Values(WindowCase{0, 0, 1.0, 1.1, 1.0, 1.2},     // end pushed out
                      WindowCase{0, 0, 2.0, 0.5, 2.0, 2.2},     // end before start
                      WindowCase{0, 0, 1.0, 1.2, 1.0, 1.2},     // exactly the minimum: kept
                      WindowCase{0, 0, 0.5, 3.0, 0.5, 3.0},     // wide enough: kept
                      WindowCase{1, 0, 3.0, 3.1, 3.0, 3.6},     // feet
                      WindowCase{2, 0, 10.0, 10.0, 10.0, 11.0}, // nanoseconds
                      WindowCase{0, 0.5, 0.0, 0.1, 0.0, 0.2},   // relative to the zero
                      WindowCase{0, 0, 15.0, 15.0, 14.8, 15.0}  // at the top: start moves down
                      ));

TEST_F(Settings, StartIsStoredAbsoluteAndShownRelativeToTheZero) {
    view.xZero = 0.5;
    panel().setRange(PANEL_XSTART, -0.5, 15);
    panel().setRange(PANEL_XEND, -0.5, 15);
    setXStart(1.0);
    EXPECT_DOUBLE_EQ(view.xStart.load(), 1.0);
    EXPECT_DOUBLE_EQ(getXStart(), 0.5);
    setXEnd(0.0); // the instrument's origin, shown below the zero
    EXPECT_DOUBLE_EQ(getXEnd(), -0.5);
    EXPECT_DOUBLE_EQ(view.xEnd.load(), 0.0);
}

TEST_F(Settings, WindowBeyondTheFieldStaysWhatTheFieldShows) {
    setXEnd(20.0); // field tops out at 15 m
    EXPECT_DOUBLE_EQ(getXEnd(), 15.0);
    EXPECT_DOUBLE_EQ(view.xEnd.load(), 15.0);
    setXStart(std::numeric_limits<double>::quiet_NaN());
    EXPECT_DOUBLE_EQ(view.xStart.load(), 0.0);
    EXPECT_DOUBLE_EQ(getXStart(), 0.0);
}

TEST_F(Settings, AutoAcquireAcceptsOnlyOnAndOff) {
    setAutoAcquire(5);
    EXPECT_EQ(getAutoAcquire(), 0);
    setAutoAcquire(1);
    setAutoAcquire(5);
    EXPECT_EQ(getAutoAcquire(), 1);
    setAutoAcquire(-1);
    EXPECT_EQ(getAutoAcquire(), 1);
    setAutoAcquire(0);
    EXPECT_EQ(getAutoAcquire(), 0);
}

struct ToggleCase {
    int v;
    int stored;
    bool dimmed;
};

class FilterToggle : public Settings, public ::testing::WithParamInterface<ToggleCase> {};

TEST_P(FilterToggle, DimsTheRiseTimeUnlessOn) {
    const ToggleCase c = GetParam();
    setFilter(c.v);
    EXPECT_EQ(getFilter(), c.stored);
    EXPECT_EQ(panel().dimmed(PANEL_FILTERWIDTH), c.dimmed);
}

INSTANTIATE_TEST_SUITE_P(Values, FilterToggle,
                         ::testing::Values(ToggleCase{1, 1, false}, ToggleCase{0, 0, true},
                                           ToggleCase{2, 0, true}));

TEST_F(Settings, FilterMinusOneFollowsTheSwitch) {
    panel().setValue(PANEL_FILTER, 1);
    setFilter(-1);
    EXPECT_FALSE(panel().dimmed(PANEL_FILTERWIDTH));
    panel().setValue(PANEL_FILTER, 0);
    setFilter(-1);
    EXPECT_TRUE(panel().dimmed(PANEL_FILTERWIDTH));
}

class AutoscaleToggle : public Settings, public ::testing::WithParamInterface<ToggleCase> {};

TEST_P(AutoscaleToggle, DimsTheRangeFieldsWhenOn) {
    const ToggleCase c = GetParam();
    setAutoscale(c.v);
    EXPECT_EQ(getAutoscale(), c.stored);
    EXPECT_EQ(panel().dimmed(PANEL_YMIN), c.dimmed);
    EXPECT_EQ(panel().dimmed(PANEL_YMAX), c.dimmed);
}

INSTANTIATE_TEST_SUITE_P(Values, AutoscaleToggle,
                         ::testing::Values(ToggleCase{1, 1, true}, ToggleCase{0, 0, false},
                                           ToggleCase{5, 0, false}));

TEST_F(Settings, AutoscaleMinusOneLeavesTheSwitchAlone) {
    panel().setValue(PANEL_AUTOSCALE, 1);
    const auto before = panel().version();
    setAutoscale(-1);
    EXPECT_EQ(getAutoscale(), 1);
    EXPECT_TRUE(panel().dimmed(PANEL_YMAX));
    EXPECT_GT(panel().version(), before);
}

TEST_F(Settings, FilterWidthMinusOneChangesNothing) {
    setFilterWidth(35);
    const auto before = panel().version();
    setFilterWidth(-1);
    EXPECT_EQ(getFilterWidth(), 35);
    EXPECT_EQ(panel().version(), before);
}

TEST_F(Settings, VerticalRangeIsWrittenWithoutOrdering) {
    setYMinMax(10, -10);
    EXPECT_DOUBLE_EQ(getYMin(), 10);
    EXPECT_DOUBLE_EQ(getYMax(), -10);
}

TEST_F(Settings, RingsReportTheItemValueNotThePosition) {
    panel().ringSetIndex(PANEL_STIMULUS, 5);
    EXPECT_EQ(getStimulus(), 7);
    panel().ringSetIndex(PANEL_SAMPLER, 1);
    EXPECT_EQ(getSampler(), 5);
    panel().ringSetIndex(PANEL_MODE, 3);
    EXPECT_EQ(getMode(), Mode::FEXT);
}

TEST_F(Settings, ColourSchemeIsTheDarkCheckMark) {
    EXPECT_EQ(getColor(), 1);
    panel().setMenuChecked(MENUBAR_PLOT_DARK, false);
    EXPECT_EQ(getColor(), 0);
}

} // namespace

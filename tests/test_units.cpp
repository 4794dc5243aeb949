// Unit switching: the window and zero follow the unit; menus, labels, limits and ranges follow.
#include "instrument/driver.h"
#include "panel/interface.h"
#include "panel/panel_state.h"
#include "panel/settings.h"
#include "panel/timebase.h"
#include "panel/units.h"
#include "platform/panel_model.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <array>

using platform::panel;

namespace {

constexpr std::array<int, 4> kXItems = {MENUBAR_XUNITS_X1, MENUBAR_XUNITS_X2, MENUBAR_XUNITS_X3,
                                        MENUBAR_XUNITS_X5};
constexpr std::array<int, 5> kYItems = {MENUBAR_YUNITS_Y1, MENUBAR_YUNITS_Y2, MENUBAR_YUNITS_Y3,
                                        MENUBAR_YUNITS_Y4, MENUBAR_YUNITS_Y6};

class Units : public ::testing::Test {
  protected:
    void SetUp() override {
        testing_support::freshPanel();
        panelState.savedXUnits = XUnit::Metres;
        panelState.savedXZero = 0.0;
        panelState.savedXStart = 0.0;
        panelState.savedXEnd = 3.0;
    }

    // The window as it is shown and as it is swept.
    void expectWindow(double shownStart, double shownEnd, double zero) {
        EXPECT_NEAR(getXStart(), shownStart, 1e-9);
        EXPECT_NEAR(getXEnd(), shownEnd, 1e-9);
        EXPECT_NEAR(view.xZero.load(), zero, 1e-9);
        EXPECT_NEAR(view.xStart.load(), shownStart + zero, 1e-9);
        EXPECT_NEAR(view.xEnd.load(), shownEnd + zero, 1e-9);
    }

    static int checkedX() {
        int n = 0, which = -1;
        for (int item : kXItems)
            if (panel().menuChecked(item)) ++n, which = item;
        return n == 1 ? which : -1;
    }
};

TEST_F(Units, MetresToFeetAndBack) {
    setXUnits(XUnit::Feet);
    expectWindow(0.0, 3 / 0.3048, 0.0);
    EXPECT_NEAR(getXEnd(), 9.84252, 1e-5);
    EXPECT_EQ(panel().label(PANEL_XEND), " End (ft)");
    EXPECT_EQ(checkedX(), MENUBAR_XUNITS_X2);
    setXUnits(XUnit::Metres);
    expectWindow(0.0, 3.0, 0.0);
    EXPECT_EQ(checkedX(), MENUBAR_XUNITS_X1);
}

TEST_F(Units, MetresToNanosecondsCarriesTheZeroReference) {
    view.xZero = 0.5;
    panel().setRange(PANEL_XSTART, -0.5, 15);
    panel().setRange(PANEL_XEND, -0.5, 15);
    setXStart(0.5);
    setXEnd(3.5); // shown as 0..3 m
    setXUnits(XUnit::Nanoseconds);
    expectWindow(0.0, 15.0, 2.5);
    double lo = 0, hi = 0;
    panel().range(PANEL_XSTART, lo, hi);
    EXPECT_NEAR(lo, -2.5, 1e-9);
    EXPECT_DOUBLE_EQ(hi, 74.0);
    panel().range(PANEL_XEND, lo, hi);
    EXPECT_NEAR(lo, -2.5, 1e-9);
    EXPECT_EQ(panel().label(PANEL_XSTART), " Start (ns)");
    EXPECT_EQ(panel().xAxisName(), "ROUNDTRIP (ns)");
}

TEST_F(Units, ConversionsBetweenTimeDomainUnitsRoundTrip) {
    setXStart(1.25);
    setXEnd(2.75);
    for (int path : {1, 2, 1, 0, 2, 0}) setXUnits(xUnitFromCode(path));
    expectWindow(1.25, 2.75, 0.0);
}

TEST_F(Units, AWindowConvertedPastTheFieldTopIsTheOneShown) {
    setXEnd(15.0);
    setXUnits(XUnit::Nanoseconds); // 75 ns, the field ends at 74
    EXPECT_DOUBLE_EQ(getXEnd(), 74.0);
    EXPECT_DOUBLE_EQ(view.xEnd.load(), 74.0);
}

TEST_F(Units, FrequencyAndBackRestoresTheSavedWindow) {
    view.xZero = 0.3;
    panel().setRange(PANEL_XSTART, -0.3, 15);
    setXStart(0.8);
    setXEnd(2.8);
    // What entering the frequency domain saves.
    panelState.savedXUnits = XUnit::Metres;
    panelState.savedXZero = 0.3;
    panelState.savedXStart = 0.8;
    panelState.savedXEnd = 2.8;
    setXUnits(XUnit::GHz);
    expectWindow(0.0, panelState.maxRange[4].load(), 0.0);
    EXPECT_EQ(checkedX(), MENUBAR_XUNITS_X5);
    EXPECT_TRUE(panel().menuDimmed(MENUBAR_XUNITS_X1));
    EXPECT_FALSE(panel().menuDimmed(MENUBAR_XUNITS_X5));
    EXPECT_EQ(panel().xAxisName(), "FREQUENCY (GHz)");
    panel().setValue(PANEL_XEND, 1.7); // a GHz edit is not converted back
    setXUnits(XUnit::Metres);
    EXPECT_DOUBLE_EQ(view.xZero.load(), 0.3);
    EXPECT_DOUBLE_EQ(view.xStart.load(), 0.8);
    EXPECT_DOUBLE_EQ(view.xEnd.load(), 2.8);
    EXPECT_NEAR(getXStart(), 0.5, 1e-12);
    EXPECT_NEAR(getXEnd(), 2.5, 1e-12);
    EXPECT_EQ(checkedX(), MENUBAR_XUNITS_X1);
    EXPECT_TRUE(panel().menuDimmed(MENUBAR_XUNITS_X5));
}

TEST_F(Units, InchesCarryTheNumbersOver) {
    setXStart(1.0);
    setXEnd(2.0);
    const bool x1 = panel().menuChecked(MENUBAR_XUNITS_X1);
    setXUnits(XUnit::Inches);
    expectWindow(1.0, 2.0, 0.0);
    EXPECT_EQ(panel().label(PANEL_XSTART), " Start (in)");
    EXPECT_EQ(panel().label(PANEL_XEND), " End (in)");
    EXPECT_EQ(panel().xAxisName(), "ROUNDTRIP (in)");
    EXPECT_EQ(panel().menuChecked(MENUBAR_XUNITS_X1), x1); // no menu item for inches
    double lo = 0, hi = 0;
    panel().range(PANEL_XEND, lo, hi);
    EXPECT_DOUBLE_EQ(hi, 888.0);
    setXUnits(XUnit::Feet);
    expectWindow(1.0, 2.0, 0.0);
}

struct AxisNameCase {
    int mode;
    int unit;
    const char* name;
};

class AxisName : public Units, public ::testing::WithParamInterface<AxisNameCase> {};

TEST_P(AxisName, FollowsTheMode) {
    const AxisNameCase c = GetParam();
    panel().setValue(PANEL_MODE, c.mode);
    view.xUnits = xUnitFromCode(c.unit);
    setXLabels();
    EXPECT_EQ(panel().xAxisName(), c.name);
}

INSTANTIATE_TEST_SUITE_P(Modes, AxisName,
                         ::testing::Values(AxisNameCase{0, 0, "ROUNDTRIP (m)"},
                                           AxisNameCase{2, 1, "ROUNDTRIP (ft)"},
                                           AxisNameCase{1, 0, "DISTANCE (m)"},
                                           AxisNameCase{3, 2, "TIME (ns)"},
                                           AxisNameCase{1, 4, "FREQUENCY (GHz)"}));

struct YCase {
    int unit;
    double lo, hi;
    int decimals;
    const char* axis;
};

class YUnitChoice : public Units, public ::testing::WithParamInterface<YCase> {};

TEST_P(YUnitChoice, SetsRangeDecimalsAxisAndMenu) {
    const YCase c = GetParam();
    setYMinMax(-7, 7);
    setYUnits(yUnitFromCode(c.unit));
    EXPECT_EQ(code(view.yUnits.load()), c.unit);
    EXPECT_DOUBLE_EQ(getYMin(), c.lo);
    EXPECT_DOUBLE_EQ(getYMax(), c.hi);
    EXPECT_EQ(panel().yLabelPrecision(), c.decimals);
    EXPECT_EQ(panel().yAxisName(), c.axis);
    const std::array<int, 6> codeOf = {0, 1, 2, 3, -1, 4};
    for (std::size_t i = 0; i < kYItems.size(); ++i) {
        const bool mine = codeOf[std::size_t(c.unit)] == static_cast<int>(i);
        EXPECT_EQ(panel().menuChecked(kYItems[i]), mine) << "item " << i;
        const bool dbItem = i == 4;
        EXPECT_EQ(panel().menuDimmed(kYItems[i]), c.unit == 5 ? !dbItem : dbItem) << "item " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Units, YUnitChoice,
                         ::testing::Values(YCase{0, -250, 250, 0, "VOLTAGE (mV)"},
                                           YCase{1, 0, 2, 2, "NORMALIZED"},
                                           YCase{2, 0, 500, 0, "IMPEDANCE (Ohm)"},
                                           YCase{3, -1, 1, 2, "REFLECTION COEFF (Rho)"},
                                           YCase{4, 0, 1500, 2, "RAW DATA"},
                                           YCase{5, -90, 10, 0, "AMPLITUDE (dB)"}));

TEST_F(Units, NormalizedAfterDecibelsLeavesOnlyNormalizedChecked) {
    setYUnits(YUnit::Decibels);
    setYUnits(YUnit::Normalized);
    for (int item : kYItems) EXPECT_EQ(panel().menuChecked(item), item == MENUBAR_YUNITS_Y2);
    EXPECT_FALSE(panel().menuDimmed(MENUBAR_YUNITS_Y1));
    EXPECT_TRUE(panel().menuDimmed(MENUBAR_YUNITS_Y6));
}

struct DiffRuleCase {
    int unit;
    int diff;
    bool dimmed;
};

class DifferentialRule : public Units, public ::testing::WithParamInterface<DiffRuleCase> {};

TEST_P(DifferentialRule, KeptOnlyInImpedance) {
    const DiffRuleCase c = GetParam();
    setDiff(1);
    ASSERT_EQ(getDiff(), 1);
    setYUnits(yUnitFromCode(c.unit));
    EXPECT_EQ(getDiff(), c.diff);
    EXPECT_EQ(panel().dimmed(PANEL_DIFFERENTIAL), c.dimmed);
    // A single-ended trace needs its sampler back.
    EXPECT_EQ(panel().dimmed(PANEL_SAMPLER), c.diff == 1);
}

INSTANTIATE_TEST_SUITE_P(Units, DifferentialRule,
                         ::testing::Values(DiffRuleCase{2, 1, false}, DiffRuleCase{0, 0, false},
                                           DiffRuleCase{1, 0, false}, DiffRuleCase{3, 0, false},
                                           DiffRuleCase{4, 0, false}, DiffRuleCase{5, 0, true}));

TEST_F(Units, YUnitsNeverTouchTheWindow) {
    setXStart(1.0);
    setXEnd(2.0);
    setYUnits(YUnit::Rho);
    expectWindow(1.0, 2.0, 0.0);
}

} // namespace

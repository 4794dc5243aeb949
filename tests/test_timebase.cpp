// Timebase rows and the window as it is swept, against the simulated instrument.
#include "acquisition/acquire.h"
#include "instrument/driver.h"
#include "instrument/transport.h"
#include "panel/callbacks.h"
#include "panel/cycle.h"
#include "panel/interface.h"
#include "panel/panel_state.h"
#include "panel/settings.h"
#include "panel/timebase.h"
#include "panel/timer.h"
#include "panel/units.h"
#include "platform/panel_model.h"
#include "simulator/sim_device.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

using platform::panel;

namespace {

struct RowCase {
    int calMode;
    bool external;
    double calIncrementWanted;
};

class CalibrationKind : public ::testing::TestWithParam<RowCase> {
  protected:
    void SetUp() override { testing_support::freshPanel(); }
    void TearDown() override { setTimebase(0, 1); }
};

TEST_P(CalibrationKind, SelectsTheTimingRowAndItsCheckMark) {
    const RowCase c = GetParam();
    setCalMode(1 - c.external); // start from the other kind
    setCalMode(c.calMode);
    EXPECT_EQ(panel().menuChecked(MENUBAR_CAL_EXTCAL), c.external);
    EXPECT_EQ(panel().menuChecked(MENUBAR_CAL_INTCAL), !c.external);
    EXPECT_EQ(getCalMode(), c.external ? 1 : 0);
    EXPECT_DOUBLE_EQ(instrument.timing.calIncrement, c.calIncrementWanted);
    EXPECT_DOUBLE_EQ(instrument.timing.timebase, 7.5e-8);
}

INSTANTIATE_TEST_SUITE_P(Kinds, CalibrationKind,
                         ::testing::Values(RowCase{1, true, 11}, RowCase{0, false, 8},
                                           RowCase{7, false, 8}));

class SweptWindow : public ::testing::Test {
  protected:
    void SetUp() override {
        testing_support::freshPanel();
        platform::setSerialDevice(&sim);
        ASSERT_EQ(instrument.open(), 1);
        setTimebase(0, 1);
        setDiel(2.25);
        ASSERT_EQ(calibrate(2, 4, 0), 1);
    }
    void TearDown() override {
        usbftdi_close();
        platform::setSerialDevice(nullptr);
        EXPECT_EQ(sim.protocolViolations(), 0);
    }
    void typeWindow(double start, double end) {
        panel().setValue(PANEL_XSTART, start);
        panel().setValue(PANEL_XEND, end);
        onSetWindow(PANEL, PANEL_XEND, EVENT_COMMIT, nullptr, 0, 0);
    }

    simulator::SimulatedInstrument sim;
};

TEST_F(SweptWindow, FifteenMetresIsCutToFiftyNineIncrements) {
    typeWindow(0.0, 15.0);
    acquire(0);
    EXPECT_EQ(instrument.increment.load(), 59);
    EXPECT_NEAR(instrument.recordX[0], 0.0, 1e-12);
    EXPECT_NEAR(instrument.recordX[1023], 14.75 * 1023 / 1024, 1e-9);
}

TEST_F(SweptWindow, TheNarrowestWindowStillSweepsOneIncrement) {
    typeWindow(0.0, 0.1); // pushed out to 0.2 m, one nanosecond
    EXPECT_DOUBLE_EQ(getXEnd(), 0.2);
    acquire(0);
    EXPECT_EQ(instrument.increment.load(), 1);
    EXPECT_LT(instrument.recordX[1023], 0.25);
    EXPECT_GT(instrument.recordX[1023], 0.249);
}

TEST_F(SweptWindow, TheWindowMovesWithTheZeroReferenceOnlyInItsLabels) {
    typeWindow(1.0, 4.0);
    acquire(0);
    const double firstX = instrument.recordX[0];
    view.xZero = 0.5;
    panel().setRange(PANEL_XSTART, -0.5, 15);
    panel().setRange(PANEL_XEND, -0.5, 15);
    setXStart(view.xStart.load());
    setXEnd(view.xEnd.load());
    EXPECT_DOUBLE_EQ(getXStart(), 0.5);
    acquire(0);
    EXPECT_NEAR(instrument.recordX[0], firstX - 0.5, 1e-9);
}

TEST_F(SweptWindow, FeetAreSweptAsTheSameDistance) {
    typeWindow(0.0, 3.1);
    acquire(0);
    const int metres = instrument.increment.load();
    const double lastMetres = instrument.recordX[1023];
    setXUnits(XUnit::Feet);
    acquire(0);
    EXPECT_EQ(instrument.increment.load(), metres);
    EXPECT_NEAR(instrument.recordX[1023] * 0.3048, lastMetres, 1e-9);
}

} // namespace

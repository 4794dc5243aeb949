// The background tick: requests, periodic and forced recalibration, and the cursor read-outs.
#include "acquisition/acquire.h"
#include "instrument/driver.h"
#include "instrument/transport.h"
#include "panel/callbacks.h"
#include "panel/cycle.h"
#include "panel/interface.h"
#include "panel/panel_state.h"
#include "panel/settings.h"
#include "panel/timer.h"
#include "panel/units.h"
#include "platform/async_timer.h"
#include "platform/clock.h"
#include "platform/event_loop.h"
#include "platform/panel_model.h"
#include "tests/support/sweep_device.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <cmath>

#include <string>

using platform::panel;

namespace {

const std::string kDone = "> Recalibration... DONE\n";
const std::string kFailed = "> ERROR #1011: Recalibration... FAILED!\n";

int occurrences(const std::string& text, const std::string& what) {
    int n = 0;
    for (auto p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
    return n;
}

class Tick : public ::testing::Test {
  protected:
    void SetUp() override {
        testing_support::freshPanel();
        platform::setSerialDevice(&dev);
        ASSERT_EQ(instrument.open(), 1);
        ASSERT_EQ(calibrate(2, 5, 0), 1);
        ASSERT_EQ(calibrate(2, 4, 0), 1);
        tick.asyncCal = -1;
        tick.asyncAcqCount = 0;
        setCalTime();
    }
    void TearDown() override {
        platform::RunUserInterface();
        usbftdi_close();
        platform::setSerialDevice(nullptr);
    }
    std::string log() const { return panel().text(PANEL_MESSAGE); }
    std::uint64_t traces() const { return panel().snapshot().graph.plotGeneration; }
    static void commit(VELT_CTRL_CB((*cb)), int control) {
        cb(PANEL, control, EVENT_COMMIT, nullptr, 0, 0);
    }

    testing_support::SweepDevice dev;
};

TEST_F(Tick, AcquirePressedWithAutoAcquireOffAcquiresOnce) {
    commit(onAcquire, PANEL_ACQUIRE);
    EXPECT_EQ(tick.asyncCal.load(), 2);
    EXPECT_EQ(tick.asyncAcqCount.load(), 1);
    const long before = dev.sweeps();
    onAsyncTimer();
    EXPECT_EQ(dev.sweeps() - before, 2); // interval not due: no calibration sweeps
    EXPECT_NE(panelState.livePlot.load(), 0);
    EXPECT_EQ(tick.asyncCal.load(), -1);
    EXPECT_EQ(tick.asyncAcqCount.load(), 0);
    const auto after = traces();
    onAsyncTimer();
    EXPECT_EQ(traces(), after); // nothing more asked for
    EXPECT_EQ(tick.timerLock.load(), 0);
}

TEST_F(Tick, AcquireAfterTheIntervalRecalibratesQuietlyFirst) {
    platform::advanceVirtualTime(31);
    commit(onAcquire, PANEL_ACQUIRE);
    const auto calledAt = platform::clockMs();
    onAsyncTimer();
    EXPECT_GE(tick.calClock.load(), calledAt); // a fresh successful recalibration
    EXPECT_LT(checkCalTime(), 5);
    EXPECT_EQ(occurrences(log(), kDone), 0);
    EXPECT_NE(panelState.livePlot.load(), 0);
    EXPECT_EQ(tick.asyncCal.load(), -1);
}

TEST_F(Tick, ABurstOfEditsCollapsesIntoOneAcquisition) {
    for (int i = 0; i < 3; ++i) commit(onSetWindow, PANEL_XEND);
    EXPECT_EQ(tick.asyncAcqCount.load(), 3);
    const auto start = traces();
    onAsyncTimer();
    EXPECT_EQ(tick.asyncAcqCount.load(), 2);
    onAsyncTimer();
    EXPECT_EQ(tick.asyncAcqCount.load(), 1);
    EXPECT_EQ(traces(), start);
    onAsyncTimer();
    EXPECT_EQ(tick.asyncAcqCount.load(), 0);
    EXPECT_NE(traces(), start);
    const auto once = traces();
    onAsyncTimer();
    EXPECT_EQ(traces(), once);
}

TEST_F(Tick, RecalibrateAnnouncesSuccessOnceAndAcquiresOnTheSameTick) {
    onRecalibrate(MENUBAR, MENUBAR_CAL_RECALIBRATE, nullptr, PANEL);
    EXPECT_EQ(tick.asyncCal.load(), 1);
    onAsyncTimer();
    EXPECT_EQ(occurrences(log(), kDone), 1);
    EXPECT_NE(panelState.livePlot.load(), 0);
    EXPECT_EQ(tick.asyncCal.load(), -1);
    onAsyncTimer();
    EXPECT_EQ(occurrences(log(), kDone), 1);
}

TEST_F(Tick, QuietRecalibrationWritesNoLine) {
    onSetSampler(PANEL, PANEL_SAMPLER, EVENT_COMMIT, nullptr, 0, 0);
    EXPECT_EQ(tick.asyncCal.load(), 0);
    const auto before = log();
    onAsyncTimer();
    EXPECT_EQ(log(), before);
    EXPECT_EQ(tick.asyncCal.load(), -1);
}

TEST_F(Tick, FailingPartnerLineFailsTheDifferentialCalibration) {
    setDiff(1);
    dev.deadSampler[samplerPortCode[5]] = true;
    EXPECT_EQ(calibrate(-1, -1, 1), -1);
    EXPECT_EQ(occurrences(log(), kFailed), 1);
    EXPECT_EQ(occurrences(log(), kDone), 0);
    EXPECT_EQ(getLED(), 0);
    // The user's line is selected again, with its own constants.
    EXPECT_EQ(dev.lastSamplerCode(), samplerPortCode[4]);
    EXPECT_EQ(instrument.samplActive, 4);
}

TEST_F(Tick, FailingRecalibrationIsRetriedEveryTickUntilItWorks) {
    dev.deadSampler[samplerPortCode[4]] = true;
    const auto calledAt = tick.calClock.load();
    onRecalibrate(MENUBAR, MENUBAR_CAL_RECALIBRATE, nullptr, PANEL);
    onAsyncTimer();
    EXPECT_EQ(tick.asyncCal.load(), 1);
    EXPECT_NE(panelState.livePlot.load(), 0); // acquisition goes on with the previous constants
    onAsyncTimer();
    EXPECT_EQ(occurrences(log(), kFailed), 2);
    EXPECT_EQ(tick.calClock.load(), calledAt);
    dev.deadSampler[samplerPortCode[4]] = false;
    onAsyncTimer();
    EXPECT_EQ(occurrences(log(), kDone), 1);
    EXPECT_EQ(tick.asyncCal.load(), -1);
    onAsyncTimer();
    EXPECT_EQ(occurrences(log(), kFailed) + occurrences(log(), kDone), 3);
}

TEST_F(Tick, AutoAcquireRecalibratesEveryThirtySeconds) {
    panel().setValue(PANEL_AUTOACQUIRE, 1);
    auto calAt = tick.calClock.load();
    onAsyncTimer();
    EXPECT_EQ(tick.calClock.load(), calAt);
    platform::advanceVirtualTime(29);
    onAsyncTimer();
    EXPECT_EQ(tick.calClock.load(), calAt);
    platform::advanceVirtualTime(1.5);
    onAsyncTimer();
    EXPECT_NE(tick.calClock.load(), calAt);
    EXPECT_LT(checkCalTime(), 1);
    EXPECT_EQ(tick.asyncAcqCount.load(), 0);
}

TEST_F(Tick, ElapsedTimeSurvivesTheCounterWrap) {
    tick.calClock = platform::clockMs() - 5000u; // wraps below zero early in the run
    EXPECT_NEAR(checkCalTime(), 5.0, 0.01);
    setCalTime();
    EXPECT_NEAR(checkCalTime(), 0.0, 0.01);
    platform::advanceVirtualTime(31);
    EXPECT_GT(checkCalTime(), autocalInterval);
}

struct HookState {
    int led = -1;
    void (*what)() = nullptr;
    long at = 0;
};

void hook(void* context, long sweep) {
    auto* s = static_cast<HookState*>(context);
    s->led = getLED();
    if (s->what && sweep == s->at) s->what();
}

TEST_F(Tick, ARequestMadeDuringTheTickIsServedByTheNext) {
    HookState state;
    state.what = requestAcquire; // the user edits while the trace is being swept
    state.at = dev.sweeps() + 2;
    dev.onSweep = hook;
    dev.context = &state;
    commit(onAcquire, PANEL_ACQUIRE);
    onAsyncTimer();
    EXPECT_EQ(state.led, 1); // busy while sweeping
    EXPECT_EQ(tick.asyncAcqCount.load(), 1);
    EXPECT_EQ(tick.asyncCal.load(), 2);
    const auto first = traces();
    onAsyncTimer();
    EXPECT_NE(traces(), first);
    EXPECT_EQ(tick.asyncAcqCount.load(), 0);
    dev.onSweep = nullptr;
}

TEST_F(Tick, ARecalibrationAskedForDuringOneIsNotLost) {
    HookState state;
    state.what = requestRecal; // e.g. a new sampler chosen while the old one calibrates
    state.at = dev.sweeps() + 1;
    dev.onSweep = hook;
    dev.context = &state;
    onRecalibrate(MENUBAR, MENUBAR_CAL_RECALIBRATE, nullptr, PANEL);
    onAsyncTimer();
    EXPECT_EQ(tick.asyncCal.load(), 0);
    dev.onSweep = nullptr;
    onAsyncTimer();
    EXPECT_EQ(tick.asyncCal.load(), -1);
}

TEST_F(Tick, AWeakerRequestDoesNotReplaceAPendingRecalibration) {
    onRecalibrate(MENUBAR, MENUBAR_CAL_RECALIBRATE, nullptr, PANEL);
    commit(onSetWindow, PANEL_XSTART);
    commit(onSetSampler, PANEL_SAMPLER);
    EXPECT_EQ(tick.asyncCal.load(), 1);
    onAsyncTimer();
    EXPECT_EQ(occurrences(log(), kDone), 1);
}

TEST_F(Tick, ChannelsOutsideTheInstrumentFailCleanly) {
    const long before = dev.sweeps();
    EXPECT_EQ(calibrate(12, 4, 0), -1);
    EXPECT_EQ(calibrate(2, 25, 0), -1);
    EXPECT_EQ(dev.sweeps(), before);
    EXPECT_EQ(occurrences(log(), kFailed), 2);
    EXPECT_EQ(getLED(), 0);
}

TEST_F(Tick, AGuardReachedFromInsideATickDoesNotWaitForIt) {
    HookState state;
    state.what = [] {
        suspendAndWait(); // would wait for timerLock forever
        resumeTimer();
    };
    state.at = dev.sweeps() + 1;
    dev.onSweep = hook;
    dev.context = &state;
    commit(onAcquire, PANEL_ACQUIRE);
    onAsyncTimer();
    dev.onSweep = nullptr;
    EXPECT_NE(panelState.livePlot.load(), 0);
    EXPECT_FALSE(platform::asyncTimer().suspended());
}

struct ReadoutCase {
    int xUnit, yUnit, mode;
    const char* c1;
    const char* c2;
    const char* distance;
};

class Readout : public ::testing::TestWithParam<ReadoutCase> {};

TEST_P(Readout, ShowsPositionsUnitsAndDistance) {
    const ReadoutCase c = GetParam();
    char c1[128], c2[128], d[128];
    formatCursorReadouts(0.75, 50.0, 1.25, -12.3456, xUnitFromCode(c.xUnit), yUnitFromCode(c.yUnit),
                         modeFromCode(c.mode), c1, c2, d, 128);
    EXPECT_STREQ(c1, c.c1);
    EXPECT_STREQ(c2, c.c2);
    EXPECT_STREQ(d, c.distance);
}

INSTANTIATE_TEST_SUITE_P(
    Units, Readout,
    ::testing::Values(
        ReadoutCase{0, 2, 0, "0.750 m  |  50.000 Ohm", "1.250 m  |  -12.346 Ohm",
                    "0.500 m (roundtrip)"},
        ReadoutCase{2, 0, 2, "0.750 ns  |  50.000 mV", "1.250 ns  |  -12.346 mV",
                    "0.500 ns (roundtrip)"},
        ReadoutCase{1, 1, 1, "0.750 ft  |  50.000 Norm", "1.250 ft  |  -12.346 Norm", "0.500 ft"},
        ReadoutCase{4, 5, 3, "0.750 GHz  |  50.000 dB", "1.250 GHz  |  -12.346 dB", "0.500 GHz"},
        // S11 is mode 0, but a frequency difference is no round trip.
        ReadoutCase{4, 5, 0, "0.750 GHz  |  50.000 dB", "1.250 GHz  |  -12.346 dB", "0.500 GHz"}));

TEST(Readout, PointWithoutAValueReadsAsDashes) {
    char c1[128], c2[128], d[128];
    formatCursorReadouts(1.0, std::nan(""), 2.0, -3.0, XUnit::GHz, YUnit::Decibels, Mode::TDR, c1,
                         c2, d, 128);
    EXPECT_STREQ(c1, "1.000 GHz  |  --- dB");
    EXPECT_STREQ(c2, "2.000 GHz  |  -3.000 dB");
}

TEST_F(Tick, CursorMovedByTheUserRefreshesTheReadouts) {
    acquire(1);
    panel().setCursorMode(1, 0);
    panel().setCursor(1, 1.0, 123.0);
    onWaveform(PANEL, PANEL_WAVEFORM, EVENT_COMMIT, nullptr, 0, 0);
    EXPECT_EQ(panel().text(PANEL_CURSOR1), "1.000 m  |  123.000 mV");
}

} // namespace

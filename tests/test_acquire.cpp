// The acquisition cycle as the user sees it: sweeps into a scaled live trace, and its failures.
#include "acquisition/acquire.h"
#include "app/startup.h"
#include "instrument/driver.h"
#include "instrument/transport.h"
#include "panel/cycle.h"
#include "panel/interface.h"
#include "panel/panel_state.h"
#include "panel/settings.h"
#include "panel/timer.h"
#include "panel/timestamp.h"
#include "panel/units.h"
#include "platform/clock.h"
#include "platform/event_loop.h"
#include "platform/panel_model.h"
#include "platform/popups.h"
#include "platform/recording_device.h"
#include "tests/support/allocation_counter.h"
#include "tests/support/sweep_device.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <new>
#include <thread>
#include <vector>

std::vector<double>* allocationProbe = nullptr;

using platform::panel;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

const platform::PlotState* findPlot(const platform::GraphState& g, int handle) {
    for (const auto& p : g.plots)
        if (p.handle == handle && handle != 0) return &p;
    return nullptr;
}

class Cycle : public ::testing::Test {
  protected:
    void SetUp() override {
        testing_support::freshPanel();
        platform::RunUserInterface(); // nothing left over from an earlier test
        instrument.cal.vampl.fill(0.0);
        platform::setSerialDevice(&dev);
        ASSERT_EQ(instrument.open(), 1);
        ASSERT_EQ(instrument.measureConstants(2, 5, Mode::TDR), 1);
        ASSERT_EQ(instrument.measureConstants(2, 4, Mode::TDR),
                  1); // the selected line's constants apply
        instrument.sendChannelSetup(stimulusPortCode[2], samplerPortCode[4]);
    }
    void TearDown() override {
        platform::RunUserInterface();
        usbftdi_close();
        platform::setSerialDevice(nullptr);
        platform::clearQuitRequest();
    }
    int popups(const char* title) { return platform::defaultResponder().countTitle(title); }

    testing_support::SweepDevice dev;
};

TEST_F(Cycle, DrawsTheLiveTraceInItsColourAndStyle) {
    platform::setVirtualDateTime({2026, 12, 7, 1, 20, 5});
    acquire(1);
    const auto s = panel().snapshot();
    const auto* plot = findPlot(s.graph, panelState.livePlot.load());
    ASSERT_NE(plot, nullptr);
    EXPECT_EQ(plot->count, 1024);
    EXPECT_EQ(plot->color, platform::makeColor(113, 233, 70));
    EXPECT_EQ(plot->style, 5);
    EXPECT_EQ(plot->lineStyle, 0);
    EXPECT_DOUBLE_EQ(plot->y[100], liveTrace.y[100]);
    EXPECT_DOUBLE_EQ(plot->x[1023], instrument.recordX[1023]);
    // A clean step reads 0 mV before the edge and 250 mV after it.
    EXPECT_NEAR(liveTrace.y[5], 0.0, 1e-9);
    EXPECT_NEAR(liveTrace.y[1000], 250.0, 1e-9);
    EXPECT_TRUE(s.graph.xAuto);
    EXPECT_DOUBLE_EQ(s.graph.yMin, -250);
    EXPECT_DOUBLE_EQ(s.graph.yMax, 250);
    EXPECT_EQ(s.graph.cursors[0].mode, 1);
    EXPECT_EQ(s.graph.cursors[1].mode, 1);
    EXPECT_EQ(panel().text(PANEL_TIMESTAMP), "DEC 07 2026 | 01:20:05");
    EXPECT_EQ(getLED(), 0);
    EXPECT_EQ(platform::defaultResponder().shown().size(), 0u);
}

TEST_F(Cycle, EachDrawingReplacesTheLiveTrace) {
    acquire(1);
    const int first = panelState.livePlot.load();
    acquire(1);
    EXPECT_FALSE(panel().plotExists(first));
    EXPECT_TRUE(panel().plotExists(panelState.livePlot.load()));
    int live = 0;
    for (const auto& p : panel().snapshot().graph.plots) live += p.handle != 0;
    EXPECT_EQ(live, 1);
}

TEST_F(Cycle, CursorReadoutsFollowTheNewTrace) {
    panel().setCursor(1, 0.5, 0);
    panel().setCursor(2, 2.5, 0);
    acquire(1);
    double x1, y1, x2, y2;
    panel().cursor(1, x1, y1);
    panel().cursor(2, x2, y2);
    char expected[128];
    std::snprintf(expected, sizeof expected, "%3.3f m  |  %3.3f mV", x2, y2);
    EXPECT_EQ(panel().text(PANEL_CURSOR2), expected);
    std::snprintf(expected, sizeof expected, "%3.3f m (roundtrip)", x2 - x1);
    EXPECT_EQ(panel().text(PANEL_DISTANCE), expected);
}

TEST_F(Cycle, WithoutPlottingNoGraphElementChanges) {
    acquire(1);
    panel().setYRange(-1, 1);
    liveTrace.y.fill(kNaN);
    const auto before = panel().snapshot().graph;
    acquire(0);
    const auto after = panel().snapshot().graph;
    EXPECT_EQ(after.plotGeneration, before.plotGeneration);
    EXPECT_EQ(after.plots[0].handle, before.plots[0].handle);
    EXPECT_DOUBLE_EQ(after.yMin, -1);
    EXPECT_DOUBLE_EQ(after.yMax, 1);
    EXPECT_EQ(after.cursors[0].mode, before.cursors[0].mode);
    EXPECT_FALSE(std::isnan(liveTrace.y[500])); // the buffers are fresh all the same
    EXPECT_EQ(popups("Error #3031"), 0);
}

TEST_F(Cycle, AutoscaleSetsFieldsAndGraph) {
    setAutoscale(1);
    acquire(1);
    EXPECT_DOUBLE_EQ(getYMin(), -25);
    EXPECT_DOUBLE_EQ(getYMax(), 275);
    double lo, hi;
    panel().yRange(lo, hi);
    EXPECT_DOUBLE_EQ(lo, -25);
    EXPECT_DOUBLE_EQ(hi, 275);
}

TEST_F(Cycle, ManualRangeComesFromTheFields) {
    setYMinMax(-40, 300);
    acquire(1);
    double lo, hi;
    panel().yRange(lo, hi);
    EXPECT_DOUBLE_EQ(lo, -40);
    EXPECT_DOUBLE_EQ(hi, 300);
}

TEST_F(Cycle, DifferentialImpedanceIsCappedAt500) {
    setDiff(1);
    dev.stepHeight = 3428; // each line about 300 ohms after the calibration's 2000 counts
    const long before = dev.sweeps();
    acquire(1);
    EXPECT_EQ(dev.sweeps() - before, 4); // offset and window sweep on each line
    EXPECT_NEAR(liveTrace.pos[800], 300, 1);
    EXPECT_NEAR(liveTrace.neg[800], 300, 1);
    EXPECT_DOUBLE_EQ(liveTrace.y[800], 500.0);
    EXPECT_LE(*std::max_element(liveTrace.y.begin(), liveTrace.y.end()), 500.0);
    EXPECT_EQ(dev.lastSamplerCode(), samplerPortCode[4]); // left on the positive line
}

struct OneLineCase {
    int yUnit;
    int mode;
};

class OneLine : public Cycle, public ::testing::WithParamInterface<OneLineCase> {};

TEST_P(OneLine, DifferentialOutsideReflectionImpedanceAcquiresTheSelectedLine) {
    setYUnits(yUnitFromCode(GetParam().yUnit));
    panel().setValue(PANEL_DIFFERENTIAL, 1);
    panel().setValue(PANEL_MODE, GetParam().mode);
    const int code = dev.lastSamplerCode();
    const long before = dev.sweeps();
    acquire(1);
    EXPECT_EQ(dev.sweeps() - before, 2);
    EXPECT_EQ(dev.lastSamplerCode(), code); // no line switching
}

INSTANTIATE_TEST_SUITE_P(Cases, OneLine,
                         ::testing::Values(OneLineCase{0, 0}, OneLineCase{3, 0},
                                           OneLineCase{2, 1}));

TEST_F(Cycle, UncalibratedPortGivesInvalidWaveformPopupAndKeepsTheAxis) {
    instrument.cal.vampl[4] = 0; // no amplitude: the driver has no scale for the samples
    panel().setYRange(-3, 3);
    setAutoscale(1);
    acquire(1);
    EXPECT_EQ(popups("Error #3031"), 1);
    const auto shown = platform::defaultResponder().shown();
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(shown.back().text, "Invalid waveform received from device.");
    double lo, hi;
    panel().yRange(lo, hi);
    EXPECT_DOUBLE_EQ(lo, -3);
    EXPECT_DOUBLE_EQ(hi, 3);
    EXPECT_NE(panelState.livePlot.load(), 0); // drawn anyway
    EXPECT_EQ(getLED(), 0);
}

TEST_F(Cycle, StoredTraceFreezesTheVerticalRange) {
    panelState.storedPlot = 99;
    instrument.cal.vampl[4] = 0;
    panel().setYRange(-3, 3);
    acquire(1);
    double lo, hi;
    panel().yRange(lo, hi);
    EXPECT_DOUBLE_EQ(hi, 3);
    EXPECT_EQ(popups("Error #3031"), 0);
}

enum class LinkFault { Closed, ShortRead };

struct FaultCase {
    LinkFault fault;
    bool differential;
    const char* title;
    const char* text;
};

class DriverFailure : public Cycle, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(DriverFailure, IsFatalWithOnePopup) {
    const FaultCase c = GetParam();
    platform::RecordingDevice shortReads; // answers nothing: every sweep comes back short
    if (c.differential) setDiff(1);
    if (c.fault == LinkFault::Closed) {
        usbftdi_close();
    } else {
        platform::setSerialDevice(&shortReads);
    }
    acquire(1);
    EXPECT_EQ(getLED(), 0); // the cycle still ran to its end
    // The box comes from the event loop, and the quit only once the user has answered it.
    EXPECT_EQ(popups(c.title), 0);
    EXPECT_FALSE(platform::quitRequested());
    acquire(1); // a second failure adds no second box
    EXPECT_EQ(platform::RunUserInterface(), kExitLinkLost);
    EXPECT_EQ(platform::defaultResponder().shown().size(), 1u);
    EXPECT_EQ(platform::defaultResponder().shown().front().text, c.text);
    EXPECT_TRUE(platform::quitRequested());
    shuttingDown.store(false);
    platform::setSerialDevice(&dev);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, DriverFailure,
    ::testing::Values(
        FaultCase{LinkFault::Closed, false, "ERROR #3011", "TDR device not initialized."},
        FaultCase{LinkFault::Closed, true, "ERROR #3011", "TDR device not initialized."},
        FaultCase{LinkFault::ShortRead, false, "ERROR #3012",
                  "VELT received bad waveform data from device."},
        FaultCase{LinkFault::ShortRead, true, "ERROR #3012",
                  "VELT received bad waveform data from device."}));

TEST_F(Cycle, OtherDriverStatusesAreNotFatal) {
    for (int status : {1, 0, -3, 2}) checkWaveform(status);
    EXPECT_FALSE(instrument.link.lost.load());
    EXPECT_EQ(platform::RunUserInterface(), 0);
    EXPECT_FALSE(platform::quitRequested());
    EXPECT_TRUE(platform::defaultResponder().shown().empty());
}

TEST_F(Cycle, PopupsOfTheTimerThreadArePostedOnceUntilSeen) {
    instrument.cal.vampl[4] = 0;
    setAutoscale(1);
    panel().setValue(PANEL_AUTOACQUIRE, 1);
    tick.asyncCal = -1;
    setCalTime();
    std::thread tick([] {
        onAsyncTimer();
        onAsyncTimer();
    });
    tick.join();
    EXPECT_EQ(popups("Error #3031"), 0); // the timer thread does not wait for the screen
    platform::RunUserInterface();
    EXPECT_EQ(popups("Error #3031"), 1);
    std::thread again([] { onAsyncTimer(); });
    again.join();
    platform::RunUserInterface();
    EXPECT_EQ(popups("Error #3031"), 2);
}

TEST_F(Cycle, FrequencyDomainSweepsRhoOverTheFixedWindowLeavingTheSharedOnesAlone) {
    view.xUnits = XUnit::GHz;
    view.yUnits = YUnit::Decibels;
    view.xStart = 0.0;
    view.xEnd = 2.4;
    panel().setRange(PANEL_XSTART, -1e3, 1e3);
    panel().setRange(PANEL_XEND, -1e3, 1e3);
    panel().setValue(PANEL_XSTART, 1.0);
    panel().setValue(PANEL_XEND, 2.0);
    acquire(1);
    // Swept over 3.5 to 74 ns in reflection coefficient without touching what a callback reads.
    EXPECT_EQ(view.xUnits.load(), XUnit::GHz);
    EXPECT_EQ(view.yUnits.load(), YUnit::Decibels);
    EXPECT_DOUBLE_EQ(view.xStart.load(), 0.0);
    EXPECT_DOUBLE_EQ(view.xEnd.load(), 2.4);
    EXPECT_DOUBLE_EQ(view.xZero.load(), 0.0);
    EXPECT_EQ(instrument.increment.load(), 56);
    EXPECT_NEAR(liveTrace.fd[1000], 0.0, 1e-9);      // a matched step reads rho 0
    EXPECT_NEAR(instrument.recordX[140], 1.0, 1e-9); // GHz, a bin every 7.142857 MHz
    const auto visible = std::count_if(instrument.recordX.begin(), instrument.recordX.end(),
                                       [](double x) { return x >= 1.0 && x <= 2.0; });
    EXPECT_EQ(panel().plotCount(panelState.livePlot.load()), visible);
    panel().setValue(PANEL_XSTART, 500.0);
    panel().setValue(PANEL_XEND, 600.0);
    acquire(1);
    EXPECT_TRUE(panel().plotExists(panelState.livePlot.load()));
    EXPECT_EQ(panel().plotCount(panelState.livePlot.load()), 0);
}
// Each sample reads its delay position: four sweeps offset by a quarter of the 56-step spacing
// interleave into one record that rises by 14 fine steps (7 window words) a sample, and the
// progress shown counts the sweeps of all four.
TEST_F(Cycle, FourOffsetSweepsInterleaveInTimeOrder) {
    dev.ramp = true;
    instrument.cal.vstart[4] = 0.0;
    instrument.cal.vampl[4] = 250.0; // rho = words / 250 - 1
    static std::vector<std::pair<int, int>> progress;
    instrument.sweepProgress.store([](int done, int total) { progress.emplace_back(done, total); });
    FdRecord record;
    ASSERT_EQ(acquireFrequencyRecord(instrument, 2, 4, record), 1);
    instrument.sweepProgress.store(nullptr);
    ASSERT_EQ(record.interleave, 4);
    EXPECT_EQ(progress.size(), 8u); // counted over the whole record
    EXPECT_EQ(progress.back(), std::make_pair(8, 8));
    for (std::size_t i = 1; i < record.size(); ++i)
        ASSERT_NEAR(record[i] - record[i - 1], 7.0 / 250.0, 1e-12) << i;
}

TEST_F(Cycle, TimeDomainCycleAllocatesNothing) {
    gCounting = true;
    allocationProbe = new std::vector<double>(64); // the counter itself works
    gCounting = false;
    delete allocationProbe;
    ASSERT_GT(gAllocations.load(), 0);
    setFilter(1);
    acquire(1); // first use on this thread sets up its read-out buffers
    gAllocations = 0;
    gCounting = true;
    acquire(1);
    setDiff(0);
    gCounting = false;
    const long singleEnded = gAllocations.load();
    setDiff(1);
    gAllocations = 0;
    gCounting = true;
    acquire(1);
    gCounting = false;
    EXPECT_EQ(singleEnded, 0);
    EXPECT_EQ(gAllocations.load(), 0);
}

struct ScaleCase {
    int unit;
    double lo, hi;         // data range
    double wantLo, wantHi; // axis
};

class Autoscale : public ::testing::TestWithParam<ScaleCase> {};

TEST_P(Autoscale, RoundsOutwardByTheUnitStep) {
    const ScaleCase c = GetParam();
    Waveform data;
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = c.lo + (c.hi - c.lo) * static_cast<double>(i) / 1023;
    double lo = 0, hi = 0;
    autoscaleRange(data, yUnitFromCode(c.unit), lo, hi);
    EXPECT_NEAR(lo, c.wantLo, 1e-9);
    EXPECT_NEAR(hi, c.wantHi, 1e-9);
}

INSTANTIATE_TEST_SUITE_P(Units, Autoscale,
                         ::testing::Values(ScaleCase{0, -12, 260, -25, 275},
                                           ScaleCase{3, -1.0, 0.04, -1.1, 0.1},
                                           ScaleCase{4, 1000, 3000, 475, 3025}, // seed survives
                                           ScaleCase{2, 48, 52, 45, 55},
                                           ScaleCase{1, 0.02, 1.96, -0.1, 2.1},
                                           ScaleCase{5, -63, -2, -70, 5},
                                           ScaleCase{0, -700, -600, -725, -475})); // seed survives

TEST(AutoscaleValues, NonNumbersTakePartInNoComparison) {
    Waveform data;
    data.fill(kNaN);
    double lo = 0, hi = 0;
    autoscaleRange(data, YUnit::Millivolts, lo, hi);
    EXPECT_LT(hi, lo); // the seeds: an invalid range
    data.fill(std::numeric_limits<double>::infinity());
    data[3] = -std::numeric_limits<double>::infinity();
    autoscaleRange(data, YUnit::Millivolts, lo, hi);
    EXPECT_LT(hi, lo);
    data[7] = 100;
    autoscaleRange(data, YUnit::Millivolts, lo, hi);
    EXPECT_DOUBLE_EQ(lo, 75);
    EXPECT_DOUBLE_EQ(hi, 125);
}

struct RangeCase {
    double start, end;
    int first, last;
};

class Visible : public ::testing::TestWithParam<RangeCase> {};

TEST_P(Visible, CoversThePointsInsideTheWindow) {
    Waveform x;
    for (std::size_t i = 0; i < x.size(); ++i) x[i] = static_cast<double>(i);
    int first = -1, last = -1;
    visibleRange(x, GetParam().start, GetParam().end, first, last);
    EXPECT_EQ(first, GetParam().first);
    EXPECT_EQ(last, GetParam().last);
}

INSTANTIATE_TEST_SUITE_P(Windows, Visible,
                         ::testing::Values(RangeCase{10, 20, 10, 21}, RangeCase{9.5, 20.5, 10, 21},
                                           RangeCase{2000, 3000, 1024, 1024},
                                           RangeCase{-5, 5000, 0, 1024}, // the last point too
                                           RangeCase{30, 20, 30, 30},
                                           RangeCase{kNaN, 20, 1024, 1024}));

struct StampCase {
    platform::DateTime when;
    const char* text;
};

class Stamp : public ::testing::TestWithParam<StampCase> {};

TEST_P(Stamp, PrintsMonthNameDayYearAndTime) {
    char buf[64];
    formatTimestamp(GetParam().when, buf, sizeof buf);
    EXPECT_STREQ(buf, GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Dates, Stamp,
    ::testing::Values(StampCase{{2026, 12, 7, 1, 20, 5}, "DEC 07 2026 | 01:20:05"},
                      StampCase{{2027, 3, 1, 9, 5, 3}, "MAR 01 2027 | 09:05:03"},
                      StampCase{{2025, 1, 31, 23, 59, 59}, "JAN 31 2025 | 23:59:59"}));

} // namespace

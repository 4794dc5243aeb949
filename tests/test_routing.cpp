// Event routing: which user actions leave which requests, what is guarded, and port selection.
#include "acquisition/acquire.h"
#include "app/startup.h"
#include "instrument/driver.h"
#include "instrument/transport.h"
#include "panel/callbacks.h"
#include "panel/interface.h"
#include "panel/ports.h"
#include "panel/settings.h"
#include "panel/timer.h"
#include "panel/units.h"
#include "platform/async_timer.h"
#include "platform/panel_model.h"
#include "tests/support/sweep_device.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>
#include <vector>

using platform::panel;

namespace {

void commit(CtrlCallback cb, int control) {
    cb(PANEL, control, EVENT_COMMIT, nullptr, 0, 0);
}
void menu(MenuCallback cb, int item) {
    cb(MENUBAR, item, nullptr, PANEL);
}

class Routing : public ::testing::Test {
  protected:
    void SetUp() override {
        testing_support::freshPanel();
        instrument.channels = 0;
    }
    void TearDown() override { instrument.channels = 0; }
};

struct DisplayChange {
    const char* name;
    void (*act)();
};

class DisplayChanges : public Routing, public ::testing::WithParamInterface<DisplayChange> {};

TEST_P(DisplayChanges, RequestAnAcquisitionOnlyWithAutoAcquireOff) {
    panel().setValue(PANEL_AUTOACQUIRE, 1);
    GetParam().act();
    EXPECT_EQ(tick.asyncCal.load(), -1);
    EXPECT_EQ(tick.asyncAcqCount.load(), 0);
    panel().setValue(PANEL_AUTOACQUIRE, 0);
    GetParam().act();
    EXPECT_EQ(tick.asyncCal.load(), 2);
    EXPECT_EQ(tick.asyncAcqCount.load(), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Actions, DisplayChanges,
    ::testing::Values(DisplayChange{"Acquire", [] { commit(onAcquire, PANEL_ACQUIRE); }},
                      DisplayChange{"Averaging", [] { commit(onGeneric, PANEL_AVERAGING); }},
                      DisplayChange{"YRange", [] { commit(onGeneric, PANEL_YMAX); }},
                      DisplayChange{"Autoscale", [] { commit(onSetAutoscale, PANEL_AUTOSCALE); }},
                      DisplayChange{"Dielectric", [] { commit(onSetDiel, PANEL_DIEL); }},
                      DisplayChange{"Differential", [] { commit(onSetDiff, PANEL_DIFFERENTIAL); }},
                      DisplayChange{"Filter", [] { commit(onSetFilter, PANEL_FILTER); }},
                      DisplayChange{"FilterWidth",
                                    [] { commit(onSetFilterWidth, PANEL_FILTERWIDTH); }},
                      DisplayChange{"Window", [] { commit(onSetWindow, PANEL_XSTART); }},
                      DisplayChange{"XUnits", [] { menu(onSetXUnits, MENUBAR_XUNITS_X2); }},
                      DisplayChange{"YUnits", [] { menu(onSetYUnits, MENUBAR_YUNITS_Y4); }}),
    [](const auto& info) { return info.param.name; });

struct PathChange {
    const char* name;
    void (*act)();
    int cal;
};

class PathChanges : public Routing, public ::testing::WithParamInterface<PathChange> {};

TEST_P(PathChanges, RequestARecalibrationWhateverTheAutoAcquire) {
    for (int autoAcquire : {1, 0}) {
        tick.asyncCal = -1;
        tick.asyncAcqCount = 0;
        panel().setValue(PANEL_AUTOACQUIRE, autoAcquire);
        GetParam().act();
        EXPECT_EQ(tick.asyncCal.load(), GetParam().cal);
        EXPECT_EQ(tick.asyncAcqCount.load(), 1);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Actions, PathChanges,
    ::testing::Values(PathChange{"Stimulus", [] { commit(onSetStimulus, PANEL_STIMULUS); }, 0},
                      PathChange{"Mode", [] { commit(onSetStimulus, PANEL_MODE); }, 0},
                      PathChange{"Sampler", [] { commit(onSetSampler, PANEL_SAMPLER); }, 0},
                      PathChange{"InternalCal", [] { menu(onSetCalInt, MENUBAR_CAL_INTCAL); }, 0},
                      PathChange{"ExternalCal", [] { menu(onSetCalExt, MENUBAR_CAL_EXTCAL); }, 0},
                      PathChange{"Recalibrate",
                                 [] { menu(onRecalibrate, MENUBAR_CAL_RECALIBRATE); }, 1}),
    [](const auto& info) { return info.param.name; });

TEST_F(Routing, AutoAcquireToggleAppliesAndRequestsNothing) {
    panel().setValue(PANEL_AUTOACQUIRE, 1);
    commit(onSetAutoAcquire, PANEL_AUTOACQUIRE);
    EXPECT_EQ(getAutoAcquire(), 1);
    EXPECT_EQ(tick.asyncCal.load(), -1);
    EXPECT_EQ(tick.asyncAcqCount.load(), 0);
}

TEST_F(Routing, StoreWaveformWithAutoAcquireOffRequestsNoAcquisition) {
    menu(onStoreWaveform, MENUBAR_FILE_STORE);
    EXPECT_EQ(tick.asyncAcqCount.load(), 0);
    EXPECT_EQ(tick.asyncCal.load(), 2); // only the interval is looked at
}

TEST_F(Routing, CommitsApplyWhatTheUserEntered) {
    panel().setValue(PANEL_DIEL, 4.0);
    commit(onSetDiel, PANEL_DIEL);
    EXPECT_DOUBLE_EQ(view.dielK.load(), 4.0);
    panel().setValue(PANEL_XSTART, 2.0);
    panel().setValue(PANEL_XEND, 1.0);
    commit(onSetWindow, PANEL_XEND);
    EXPECT_DOUBLE_EQ(view.xEnd.load(), 2.2);
    panel().setValue(PANEL_FILTER, 1);
    commit(onSetFilter, PANEL_FILTER);
    EXPECT_FALSE(panel().dimmed(PANEL_FILTERWIDTH));
    menu(onSetCalExt, MENUBAR_CAL_EXTCAL);
    EXPECT_EQ(getCalMode(), 1);
    menu(onSetXUnits, MENUBAR_XUNITS_X3);
    EXPECT_EQ(view.xUnits.load(), XUnit::Nanoseconds);
    // Decibels belong to the frequency domain; the time domain keeps its unit.
    menu(onSetYUnits, MENUBAR_YUNITS_Y6);
    EXPECT_EQ(view.yUnits.load(), YUnit::Millivolts);
    setCalMode(0);
    EXPECT_FALSE(platform::asyncTimer().suspended()); // every guard resumed
}

class IgnoredEvents : public Routing, public ::testing::WithParamInterface<int> {};

TEST_P(IgnoredEvents, ChangeNothingOnAnyControl) {
    panel().setValue(PANEL_DIEL, 4.0); // an edit a stray event must not apply
    panel().setValue(PANEL_XEND, 0.1);
    const auto version = panel().version();
    const auto text = panel().text(PANEL_MESSAGE);
    for (const auto& def : panelTable().controls) {
        if (!def.callback) continue;
        def.callback(PANEL, def.id, GetParam(), nullptr, 0, 0);
    }
    EXPECT_EQ(panel().version(), version);
    EXPECT_EQ(panel().text(PANEL_MESSAGE), text);
    EXPECT_EQ(tick.asyncCal.load(), -1);
    EXPECT_EQ(tick.asyncAcqCount.load(), 0);
    EXPECT_DOUBLE_EQ(view.dielK.load(), 2.25);
    EXPECT_TRUE(platform::defaultResponder().shown().empty());
}

INSTANTIATE_TEST_SUITE_P(Events, IgnoredEvents, ::testing::Values(EVENT_RIGHT_CLICK, 0, 2, 7));

TEST_F(Routing, SamplerChangeDoesNotWaitForARunningTick) {
    tick.timerLock = 1;
    auto done = std::async(std::launch::async, [] { commit(onSetSampler, PANEL_SAMPLER); });
    const bool finished = done.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    tick.timerLock = 0;
    EXPECT_TRUE(finished);
    EXPECT_EQ(tick.asyncCal.load(), 0);
}

// A tick that stays inside its first sweep until the test lets it go.
struct Gate {
    std::atomic<bool> inside{false};
    std::atomic<bool> release{false};
};

void holdSweep(void* context, long) {
    auto* g = static_cast<Gate*>(context);
    g->inside = true;
    while (!g->release.load()) std::this_thread::yield();
}

TEST_F(Routing, StimulusChangeWaitsForTheRunningTick) {
    testing_support::SweepDevice dev;
    platform::setSerialDevice(&dev);
    ASSERT_EQ(instrument.open(), 1);
    Gate gate;
    dev.onSweep = holdSweep;
    dev.context = &gate;
    panel().setValue(PANEL_AUTOACQUIRE, 1);
    setCalTime();
    std::thread tickThread([] { onAsyncTimer(); });
    while (!gate.inside.load()) std::this_thread::yield();

    panel().setValue(PANEL_MODE, 1); // the user picks TDT
    auto change = std::async(std::launch::async, [] { commit(onSetStimulus, PANEL_MODE); });
    EXPECT_EQ(change.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
    EXPECT_EQ(panel().ringItems(PANEL_SAMPLER).front().value, 4); // not rebuilt yet
    EXPECT_EQ(getLED(), 1);

    dev.onSweep = nullptr;
    gate.release = true;
    tickThread.join();
    change.get();
    EXPECT_EQ(getLED(), 0);
    EXPECT_EQ(panel().ringItems(PANEL_SAMPLER).front().value, 14); // port 2's pair
    EXPECT_EQ(tick.asyncCal.load(), 0);
    EXPECT_FALSE(platform::asyncTimer().suspended());
    usbftdi_close();
    platform::setSerialDevice(nullptr);
}

struct PortCase {
    int channels, mode, stimulus;
    std::vector<int> samplers;
};

class SamplerRing : public Routing, public ::testing::WithParamInterface<PortCase> {};

TEST_P(SamplerRing, OffersTheLinesOfTheMode) {
    const PortCase c = GetParam();
    instrument.channels = c.channels;
    setStimulus(modeFromCode(c.mode), c.stimulus);
    std::vector<int> values;
    for (const auto& item : panel().ringItems(PANEL_SAMPLER)) values.push_back(item.value);
    EXPECT_EQ(values, c.samplers);
    EXPECT_EQ(panel().ringIndex(PANEL_SAMPLER), 0);
    EXPECT_EQ(getStimulus(), c.stimulus);
    EXPECT_EQ(code(getMode()), c.mode);
}

INSTANTIATE_TEST_SUITE_P(Models, SamplerRing,
                         ::testing::Values(PortCase{4, 1, 7, {4, 5}},
                                           PortCase{20, 2, 0, {4, 5, 2, 3, 6, 7, 8, 9}},
                                           PortCase{12, 3, 1, {14, 15, 10, 11}},
                                           PortCase{16, 2, 3, {4, 5, 2, 3, 0, 1}},
                                           PortCase{0, 0, 7, {14, 15}}, PortCase{0, 1, 2, {14, 15}},
                                           PortCase{0, 3, 9, {4, 5, 2, 3, 0, 1, 6, 7}}));

TEST_F(Routing, SamplerItemsCarryTheStimulusLabels) {
    setStimulus(Mode::TDT, 7);
    const auto items = panel().ringItems(PANEL_SAMPLER);
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].label, "PORT 1, CH 1+");
    EXPECT_EQ(items[1].label, "PORT 1, CH 1-");
}

TEST_F(Routing, TransmissionLeavesImpedanceAndDifferential) {
    setDiff(1);
    ASSERT_EQ(view.yUnits.load(), YUnit::Ohms);
    setStimulus(Mode::TDT, -1);
    EXPECT_EQ(view.yUnits.load(), YUnit::Millivolts);
    EXPECT_EQ(getDiff(), 0);
    EXPECT_TRUE(panel().menuChecked(MENUBAR_YUNITS_Y1));
    EXPECT_FALSE(panel().menuChecked(MENUBAR_YUNITS_Y3));
    EXPECT_TRUE(panel().menuDimmed(MENUBAR_YUNITS_Y3));
    EXPECT_TRUE(panel().menuDimmed(MENUBAR_YUNITS_Y4));
    EXPECT_FALSE(panel().dimmed(PANEL_SAMPLER));
    EXPECT_EQ(panel().xAxisName(), "DISTANCE (m)");
    EXPECT_EQ(panel().yAxisName(), "VOLTAGE (mV)");
    setStimulus(Mode::TDR, -1);
    EXPECT_FALSE(panel().menuDimmed(MENUBAR_YUNITS_Y3));
    EXPECT_FALSE(panel().menuDimmed(MENUBAR_YUNITS_Y4));
    EXPECT_EQ(view.yUnits.load(), YUnit::Millivolts);
    EXPECT_EQ(panel().xAxisName(), "ROUNDTRIP (m)");
}

TEST_F(Routing, ReflectionInImpedanceKeepsDifferential) {
    setDiff(1);
    setStimulus(Mode::TDR, 1);
    EXPECT_EQ(getDiff(), 1);
    EXPECT_EQ(view.yUnits.load(), YUnit::Ohms);
}

TEST_F(Routing, ASamplerTheRingLacksIsNotSelected) {
    setSampler(5);
    EXPECT_EQ(getSampler(), 5);
    setSampler(17);
    EXPECT_EQ(getSampler(), 5);
}

} // namespace

// A fast real timer against thousands of user and remote-client actions: no deadlock, no
// interleaved instrument exchange, and a consistent panel at the end.
#include "acquisition/acquire.h"
#include "app/remote.h"
#include "files/touchstone.h"
#include "instrument/driver.h"
#include "instrument/transport.h"
#include "panel/callbacks.h"
#include "panel/interface.h"
#include "panel/panel_state.h"
#include "panel/ports.h"
#include "panel/reference_traces.h"
#include "panel/settings.h"
#include "panel/timebase.h"
#include "panel/timer.h"
#include "panel/units.h"
#include "platform/async_timer.h"
#include "platform/event_loop.h"
#include "platform/panel_model.h"
#include "simulator/sim_device.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <random>
#include <thread>

using platform::panel;

namespace {

// Aborts the run when the actions have not finished in time: a deadlock must fail, not hang.
class Watchdog {
  public:
    explicit Watchdog(std::chrono::seconds limit)
        : thread_([this, limit] {
              std::unique_lock lock(mutex_);
              if (!done_cv_.wait_for(lock, limit, [this] { return done_; })) {
                  std::fprintf(stderr, "stress test did not finish within %lld s: deadlock\n",
                               static_cast<long long>(limit.count()));
                  std::abort();
              }
          }) {}
    ~Watchdog() {
        {
            std::lock_guard lock(mutex_);
            done_ = true;
        }
        done_cv_.notify_all();
        thread_.join();
    }

  private:
    std::mutex mutex_;
    std::condition_variable done_cv_;
    bool done_ = false;
    std::thread thread_;
};

void commit(CtrlCallback cb, int control) {
    cb(PANEL, control, EVENT_COMMIT, nullptr, 0, 0);
}
void menu(MenuCallback cb, int item) {
    cb(MENUBAR, item, nullptr, PANEL);
}

TEST(Stress, TimerAndUserNeverInterleaveAndEndConsistent) {
    testing_support::freshPanel();
    platform::RunUserInterface();
    simulator::SimulatedInstrument sim;
    platform::setSerialDevice(&sim);
    ASSERT_EQ(instrument.open(), 1);
    instrument.isInit = 1;
    setTimebase(0, 1);
    ASSERT_EQ(calibrate(2, 4, 0), 1);
    setCalTime();
    tick.asyncCal = -1;
    tick.asyncAcqCount = 0;

    const long sweepsBefore = sim.sweepsServed();
    platform::asyncTimer().start(0.002, onAsyncTimer);
    {
        Watchdog watchdog(std::chrono::seconds(120));
        // A remote client's operations run on the timer thread, stopped by the user's guards.
        RemoteInstrument remote({&sim, false});
        RemoteSession client(remote);
        constexpr const char* kRemoteLines[] = {"INIT", "ABOR;*OPC?", "INIT;*OPC?;FETC:TRAC?",
                                                "AVER 2;*IDN?;*STB?"};
        const std::string reference = testing::TempDir() + "stress.s1p";
        std::vector<SParamPoint> points;
        for (int f = 1; f <= 100; ++f) points.push_back({f * 0.1, 0.1, 0.0});
        std::ofstream(reference) << formatTouchstone(1, points, {});
        std::mt19937 rng(20240611);
        auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
        int duringTick = 0;
        for (int i = 0; i < 3000; ++i) {
            duringTick += tick.timerLock.load();
            switch (pick(18)) {
            case 0:
            case 1:
                panel().setValue(PANEL_XSTART, pick(100) * 0.1);
                panel().setValue(PANEL_XEND, pick(150) * 0.1);
                commit(onSetWindow, PANEL_XEND);
                break;
            case 2:
                menu(onSetXUnits, MENUBAR_XUNITS_X1 + pick(3));
                break;
            case 3:
                menu(onSetYUnits, MENUBAR_YUNITS_Y1 + pick(4));
                break;
            case 4:
                panel().setValue(PANEL_AVERAGING, 1 + pick(4));
                commit(onGeneric, PANEL_AVERAGING);
                break;
            case 5:
                panel().ringSetIndex(PANEL_STIMULUS, pick(10));
                commit(onSetStimulus, PANEL_STIMULUS);
                break;
            case 6:
                panel().ringSetIndex(PANEL_MODE, pick(4));
                commit(onSetStimulus, PANEL_MODE);
                break;
            case 7:
                panel().ringSetIndex(PANEL_SAMPLER, pick(2));
                commit(onSetSampler, PANEL_SAMPLER);
                break;
            case 8:
                menu(onRecalibrate, MENUBAR_CAL_RECALIBRATE);
                break;
            case 9:
                commit(onAcquire, PANEL_ACQUIRE);
                break;
            case 10:
                panel().setValue(PANEL_AUTOACQUIRE, pick(2));
                commit(onSetAutoAcquire, PANEL_AUTOACQUIRE);
                break;
            case 11:
                panel().setValue(PANEL_DIFFERENTIAL, pick(2));
                commit(onSetDiff, PANEL_DIFFERENTIAL);
                break;
            case 12:
                panel().setValue(PANEL_FILTER, pick(2));
                commit(onSetFilter, PANEL_FILTER);
                break;
            case 13:
                panel().setValue(PANEL_DIEL, 1.5 + pick(30) * 0.1);
                commit(onSetDiel, PANEL_DIEL);
                break;
            case 14:
                panel().setCursor(1 + pick(2), pick(30) * 0.1, 0);
                commit(onWaveform, PANEL_WAVEFORM);
                break;
            case 15:
                menu(pick(2) ? onSetCalExt : onSetCalInt, MENUBAR_CAL_INTCAL);
                break;
            case 16: {
                // Reference traces, which the tick draws, come and go beside it.
                std::string error;
                if (referenceTraces().size() < 2)
                    addReferenceTrace(reference);
                else
                    orderReferenceTraces(pick(2) ? "zone 1" : "remove 1", error);
                break;
            }
            default:
                client.execute(kRemoteLines[pick(4)]);
                break;
            }
            // Room for ticks between bursts of edits, as a user leaves it.
            if (i % 4 == 0) std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
        EXPECT_GT(duringTick, 0); // the two threads really did overlap
        // The last requests are served before the timer stops.
        panel().setValue(PANEL_AUTOACQUIRE, 0);
        commit(onAcquire, PANEL_ACQUIRE);
        tick.asyncAcqCount = 1;
        while (tick.asyncAcqCount.load() != 0) std::this_thread::yield();
        platform::asyncTimer().discard();
        clearReferenceTraces();
    }

    EXPECT_GE(platform::asyncTimer().ticks(), 10);
    EXPECT_GT(sim.sweepsServed() - sweepsBefore, 100);
    EXPECT_EQ(sim.protocolViolations(), 0);
    EXPECT_EQ(getLED(), 0);
    EXPECT_EQ(tick.timerLock.load(), 0);
    EXPECT_FALSE(platform::asyncTimer().suspended());

    // The panel agrees with itself.
    const double z = view.xZero.load();
    EXPECT_NEAR(view.xStart.load(), getXStart() + z, 1e-9);
    EXPECT_NEAR(view.xEnd.load(), getXEnd() + z, 1e-9);
    EXPECT_GE(getXEnd() - getXStart(), minWidth[std::size_t(view.xUnits.load())] - 1e-9);
    if (getDiff() == 1) {
        EXPECT_EQ(view.yUnits.load(), YUnit::Ohms);
    }
    if (getMode() != Mode::TDR) {
        EXPECT_NE(view.yUnits.load(), YUnit::Ohms);
    }
    const auto offered = samplersFor(getMode(), getStimulus(), 0);
    EXPECT_NE(std::find(offered.begin(), offered.end(), getSampler()), offered.end());
    int checked = 0;
    for (int item : {MENUBAR_YUNITS_Y1, MENUBAR_YUNITS_Y2, MENUBAR_YUNITS_Y3, MENUBAR_YUNITS_Y4,
                     MENUBAR_YUNITS_Y6})
        checked += panel().menuChecked(item);
    EXPECT_EQ(checked, 1);
    EXPECT_NE(getCalMode(), panel().menuChecked(MENUBAR_CAL_INTCAL));
    EXPECT_TRUE(panel().plotExists(panelState.livePlot.load()));

    platform::RunUserInterface();
    EXPECT_EQ(platform::defaultResponder().countTitle("ERROR #3011"), 0);
    EXPECT_EQ(platform::defaultResponder().countTitle("ERROR #3012"), 0);
    EXPECT_FALSE(platform::quitRequested());
    usbftdi_close();
    platform::setSerialDevice(nullptr);
}

} // namespace

// The frequency domain under a fast real timer: domain switches, mode, sampler and calibration
// file commands from the user while the tick acquires and corrects.
#include "acquisition/acquire.h"
#include "app/startup.h"
#include "files/solt_file.h"
#include "freqdomain/solt.h"
#include "freqdomain/store.h"
#include "instrument/driver.h"
#include "instrument/transport.h"
#include "panel/callbacks.h"
#include "panel/interface.h"
#include "panel/ports.h"
#include "panel/settings.h"
#include "panel/solt_guide.h"
#include "panel/solt_io.h"
#include "panel/timer.h"
#include "panel/units.h"
#include "platform/async_timer.h"
#include "platform/event_loop.h"
#include "platform/panel_model.h"
#include "simulator/sim_device.h"
#include "simulator/sim_operator.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <random>
#include <thread>

using platform::panel;

namespace {

void menu(MenuCallback cb, int item) {
    cb(MENUBAR, item, nullptr, PANEL);
}
void commit(CtrlCallback cb, int control) {
    cb(PANEL, control, EVENT_COMMIT, nullptr, 0, 0);
}

TEST(FrequencyStress, DomainsModesSamplersAndFilesAgainstTheTick) {
    testing_support::freshPanel();
    platform::RunUserInterface();
    simulator::SimulatedInstrument sim("QSA004");
    platform::setSerialDevice(&sim);
    ASSERT_EQ(instrument.open(), 1);
    ASSERT_EQ(instrument.selectTiming(2), 1);
    instrument.isInit = 1;
    instrument.channels = 4;
    panel().ringDelete(PANEL_MODE, 2, 2);
    setStimulus(Mode::TDR, 2);
    ASSERT_EQ(calibrate(2, 4, 0), 1);

    // Calibrated for S11, kept in a file for the menu's "Load SOLT Cal"; S21 offers a file
    // that does not exist.
    simulator::SoltOperator user(&sim);
    platform::setPopupHandler(&user);
    ASSERT_EQ(performSOLT(0), 1);
    const std::string file =
        ::testing::TempDir() + "velt_conc_freq_" + std::to_string(getpid()) + ".s11";
    user.filePath = file;
    user.offerAnswer = 1;
    ASSERT_EQ(saveSOLTFile(0, file), 1);
    tick.asyncCal = -1;
    tick.asyncAcqCount = 0;
    panel().setValue(PANEL_AUTOACQUIRE, 1);

    const long sweepsBefore = sim.sweepsServed();
    platform::asyncTimer().start(0.002, onAsyncTimer);
    {
        std::mt19937 rng(8);
        auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
        for (int i = 0; i < 300; ++i) {
            switch (pick(6)) {
            case 0:
                menu(pick(2) ? onSetDomainFreq : onSetDomainTime, MENUBAR_DOMAIN_FREQ);
                break;
            case 1:
                panel().ringSetIndex(PANEL_MODE, pick(panel().ringCount(PANEL_MODE)));
                commit(onSetStimulus, PANEL_MODE);
                break;
            case 2:
                panel().ringSetIndex(PANEL_SAMPLER, pick(2));
                commit(onSetSampler, PANEL_SAMPLER);
                break;
            case 3:
                if (view.xUnits.load() == XUnit::GHz) menu(onLoadSOLT, MENUBAR_CAL_LOADSOLT);
                break;
            case 4:
                menu(onSetYUnits, MENUBAR_YUNITS_Y4);
                break;
            default:
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                break;
            }
        }
        platform::asyncTimer().discard();
    }
    platform::setPopupHandler(nullptr);

    EXPECT_GT(sim.sweepsServed() - sweepsBefore, 50);
    EXPECT_EQ(sim.protocolViolations(), 0);
    EXPECT_EQ(getLED(), 0);
    EXPECT_EQ(tick.timerLock.load(), 0);
    // Either domain, whole: GHz goes with dB and the S11 / S21 ring, the time units with theirs.
    const auto modes = panel().ringItems(PANEL_MODE);
    ASSERT_FALSE(modes.empty());
    if (view.xUnits.load() == XUnit::GHz) {
        EXPECT_EQ(view.yUnits.load(), YUnit::Decibels);
        EXPECT_EQ(modes[0].label, "S11");
        EXPECT_TRUE(panel().menuChecked(MENUBAR_DOMAIN_FREQ));
    } else {
        EXPECT_NE(view.yUnits.load(), YUnit::Decibels);
        EXPECT_EQ(modes[0].label, "TDR");
        EXPECT_TRUE(panel().menuChecked(MENUBAR_DOMAIN_TIME));
    }
    platform::RunUserInterface();
    EXPECT_EQ(platform::defaultResponder().countTitle("ERROR #3011"), 0);
    EXPECT_EQ(platform::defaultResponder().countTitle("ERROR #3012"), 0);
    std::remove(file.c_str());
    instrument.channels = 0;
    usbftdi_close();
    platform::setSerialDevice(nullptr);
}

} // namespace

// Start-up and shutdown through the headless event loop, with and without an instrument.
#include "app/startup.h"
#include "instrument/driver.h"
#include "instrument/transport.h"
#include "panel/callbacks.h"
#include "panel/interface.h"
#include "panel/panel_state.h"
#include "panel/settings.h"
#include "panel/timebase.h"
#include "panel/timer.h"
#include "platform/async_timer.h"
#include "platform/event_loop.h"
#include "platform/log.h"
#include "platform/panel_model.h"
#include "platform/recording_device.h"
#include "platform/serial_device.h"
#include "simulator/sim_device.h"
#include "tests/support/program_test.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <mutex>
#include <set>
#include <unistd.h>

namespace fs = std::filesystem;
using platform::panel;

namespace {

class StartupTest : public testing_support::ProgramTest {
  protected:
    static std::string firstLogLine() {
        std::string log = panel().text(PANEL_MESSAGE);
        return log.substr(0, log.find('\n'));
    }
};

TEST_F(StartupTest, WithoutAnInstrumentShowsOnePopupAndEndsBeforeTheLoop) {
    platform::setSerialDevice(nullptr);
    bool loopRan = false;
    platform::headlessEventLoop().post([&loopRan] { loopRan = true; });

    EXPECT_NE(veltMain(), 0);

    const auto shown = platform::defaultResponder().shown();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].title, "Error #1001");
    EXPECT_EQ(shown[0].text, "Could not initialize the TDR device.");
    EXPECT_FALSE(loopRan);
    EXPECT_FALSE(platform::asyncTimer().running());
    EXPECT_FALSE(fs::exists("user.ini"));
    for (const char* folder : kDataFolders) EXPECT_TRUE(fs::is_directory(folder)) << folder;
    // Existing folders are not worth a log line.
    EXPECT_EQ(panel().text(PANEL_MESSAGE), "> Initializing...");
}

TEST_F(StartupTest, SecondStartWithTheFoldersPresentLogsNothingAboutThem) {
    for (const char* folder : kDataFolders) fs::create_directory(folder);
    platform::setSerialDevice(nullptr);
    veltMain();
    EXPECT_EQ(panel().text(PANEL_MESSAGE), "> Initializing...");
}

TEST_F(StartupTest, FailingCalibrationSaysSoAndTheProgramRunsOn) {
    // The instrument answers the handshake, then every sweep comes back empty.
    platform::RecordingDevice silent;
    platform::setSerialDevice(&silent);
    silent.queueRead(std::vector<std::uint8_t>(16, 0x55));
    silent.queueRead('.');
    instrument.link.samples.fill(0.0);
    bool loopRan = false;
    platform::headlessEventLoop().post([&loopRan] {
        loopRan = true;
        onExit(MENUBAR, MENUBAR_FILE_EXIT, nullptr, PANEL);
    });

    EXPECT_EQ(veltMain(), 0);
    EXPECT_EQ(firstLogLine(), "> Initializing...FAILED!");
    EXPECT_TRUE(loopRan);
}

enum class Exit { Menu, CloseButton, CloseTwice };

class SimulatedStartup : public StartupTest, public testing::WithParamInterface<Exit> {};

TEST_P(SimulatedStartup, RunsAndShutsDownTheSameWayWhicheverWayTheUserQuits) {
    simulator::SimulatedInstrument sim;
    platform::setSerialDevice(&sim);
    int loopActions = 0;
    int activeSampler = -1;
    platform::headlessEventLoop().post([&loopActions, &activeSampler] {
        ++loopActions;
        activeSampler = instrument.samplActive;
        switch (GetParam()) {
        case Exit::Menu:
            onExit(MENUBAR, MENUBAR_FILE_EXIT, nullptr, PANEL);
            break;
        case Exit::CloseTwice:
            onPanel(PANEL, EVENT_CLOSE, nullptr, 0, 0);
            [[fallthrough]];
        case Exit::CloseButton:
            onPanel(PANEL, EVENT_CLOSE, nullptr, 0, 0);
            break;
        }
    });

    EXPECT_EQ(veltMain(), 0);

    EXPECT_EQ(loopActions, 1);
    // The start-up traces come from the positive line and use its own calibration.
    EXPECT_EQ(activeSampler, 4);
    EXPECT_EQ(firstLogLine(), "> Initializing...DONE!");
    EXPECT_EQ(panel().text(PANEL_VERSION), "VELT v2.8.0 / QSB020");
    EXPECT_EQ(platform::defaultResponder().shown().size(), 0u);
    EXPECT_TRUE(platform::quitRequested());
    EXPECT_TRUE(shuttingDown.load());
    EXPECT_EQ(instrument.isInit.load(), 1);
    // The timer was suspended, then discarded when the loop ended; the link is closed.
    EXPECT_TRUE(platform::asyncTimer().suspended());
    EXPECT_FALSE(platform::asyncTimer().running());
    EXPECT_EQ(instrument.link.opened.load(), 0);
    EXPECT_EQ(tick.timerLock.load(), 0);
    EXPECT_GT(sim.sweepsServed(), 0);
    EXPECT_EQ(sim.protocolViolations(), 0);
    // A live trace was drawn at start-up.
    EXPECT_GT(panel().snapshot().graph.plotGeneration, 0u);
}

INSTANTIATE_TEST_SUITE_P(Exits, SimulatedStartup,
                         testing::Values(Exit::Menu, Exit::CloseButton, Exit::CloseTwice),
                         [](const testing::TestParamInfo<Exit>& info) {
                             switch (info.param) {
                             case Exit::Menu:
                                 return "ExitProgramMenu";
                             case Exit::CloseButton:
                                 return "CloseButton";
                             case Exit::CloseTwice:
                                 return "CloseButtonTwice";
                             }
                             return "";
                         });

// Start-up on a simulated model, then `inLoop` from the event loop, then "Exit Program".
class ModelStartup : public StartupTest {
  protected:
    void run(simulator::SimulatedInstrument& sim, const std::function<void()>& inLoop) {
        platform::setSerialDevice(&sim);
        platform::headlessEventLoop().post([&inLoop] {
            inLoop();
            onExit(MENUBAR, MENUBAR_FILE_EXIT, nullptr, PANEL);
        });
        ASSERT_EQ(veltMain(), 0);
    }
    static std::string ring(int id) {
        std::string out;
        for (const auto& item : panel().ringItems(id))
            out += (out.empty() ? "" : "; ") + item.label;
        return out;
    }
};

struct ModelCase {
    const char* code;
    int channels, speed, filterWidth;
    double ghzEnd;
    const char *stimuli, *modes;
};

class EachModel : public ModelStartup, public testing::WithParamInterface<ModelCase> {};

TEST_P(EachModel, IsDetectedAsItselfAndOffersExactlyItsPortsAndModes) {
    const ModelCase& m = GetParam();
    simulator::SimulatedInstrument sim(m.code);
    instrument.cal.vampl.fill(
        100.0); // an old amplitude must not pass for a probe that found nothing
    std::mutex lock;
    std::set<std::string> boxes; // what the box over the graph said
    panel().setChangeListener([&] {
        const std::string text = panel().busyText();
        std::lock_guard hold(lock);
        boxes.insert(text);
    });
    run(sim, [] {});
    panel().setChangeListener(nullptr);
    EXPECT_FALSE(boxes.count("Detecting the instrument: probe 0 of 6"));
    EXPECT_STREQ(instrument.model, m.code);
    EXPECT_EQ(instrument.channels, m.channels);
    EXPECT_EQ(instrument.speed, m.speed);
    EXPECT_EQ(panel().text(PANEL_VERSION), std::string("VELT v2.8.0 / ") + m.code);
    EXPECT_EQ(ring(PANEL_STIMULUS), m.stimuli);
    EXPECT_EQ(ring(PANEL_MODE), m.modes);
    EXPECT_EQ(ring(PANEL_SAMPLER),
              m.channels == 20 ? "PORT 1, D2+; PORT 1, D2-" : "PORT 1, CH 1+; PORT 1, CH 1-");
    EXPECT_EQ(getFilterWidth(), m.filterWidth);
    EXPECT_DOUBLE_EQ(panelState.defaultEnd[4].load(), m.ghzEnd);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Models, EachModel, testing::Values(
    ModelCase{"QSA002", 2, 0, 35, 7.2, "PORT 1, CH 1", "TDR"},
    ModelCase{"QSA004", 4, 0, 35, 7.2, "PORT 1, CH 1; PORT 2, CH 1", "TDR; TDT"},
    // Passes the first three probes and fails the fourth.
    ModelCase{"QSB008", 8, 1, 200, 2.4, "PORT 1, CH 1; PORT 1, CH 2; PORT 2, CH 1; PORT 2, CH 2", "TDR; TDT; NEXT; FEXT"},
    ModelCase{"QSA012", 12, 0, 35, 7.2, "PORT 1, CH 1; PORT 1, CH 2; PORT 1, CH 3; PORT 2, CH 1; PORT 2, CH 2; PORT 2, CH 3", "TDR; TDT; NEXT; FEXT"},
    ModelCase{"QSB016", 16, 1, 200, 2.4, "PORT 1, CH 1; PORT 1, CH 2; PORT 1, CH 3; PORT 1, CH 4; PORT 2, CH 1; PORT 2, CH 2; PORT 2, CH 3; PORT 2, CH 4", "TDR; TDT; NEXT; FEXT"},
    ModelCase{"QSB020", 20, 1, 200, 2.4, "PORT 1, D2; PORT 1, D1; PORT 1, D0; PORT 1, CLK; PORT 1, ETH; PORT 2, D2; PORT 2, D1; PORT 2, D0; PORT 2, CLK; PORT 2, ETH", "TDR; TDT; NEXT; FEXT"}),
    [](const auto& info) { return std::string(info.param.code); });
// clang-format on

TEST_F(ModelStartup, StartsInTheTimeDomainWithTheDielectricShown) {
    simulator::SimulatedInstrument sim("QSB020");
    run(sim, [] {
        // Not even a callback that slipped past a dimmed item reaches a frequency-domain unit.
        onSetXUnits(MENUBAR, MENUBAR_XUNITS_X5, nullptr, PANEL);
        onSetYUnits(MENUBAR, MENUBAR_YUNITS_Y6, nullptr, PANEL);
    });
    EXPECT_EQ(view.xUnits.load(), XUnit::Metres);
    EXPECT_EQ(view.yUnits.load(), YUnit::Millivolts);
    for (int item : {MENUBAR_XUNITS_X5, MENUBAR_YUNITS_Y6, MENUBAR_CAL_SOLTCAL,
                     MENUBAR_CAL_SAVESOLT, MENUBAR_CAL_LOADSOLT})
        EXPECT_TRUE(panel().menuDimmed(item)) << panel().menuLabel(item);
    EXPECT_TRUE(panel().dimmed(PANEL_FILTERWIDTH));
    EXPECT_DOUBLE_EQ(view.dielK.load(), 2.23);
}

TEST(VersionLabel, DropsTheBuildNumberAndAddsTheModel) {
    EXPECT_EQ(versionLabel("2.8.0.1", "QSA004"), "VELT v2.8.0 / QSA004");
    EXPECT_EQ(versionLabel("2.8.0.1", "QSB020"), "VELT v2.8.0 / QSB020");
    EXPECT_EQ(versionLabel("2.8.0.1", ""), "VELT v2.8.0 / ");
    // The 64-byte label never overruns, whatever it is given.
    std::string longVersion(200, '9');
    EXPECT_LT(versionLabel(longVersion.c_str(), "QSB020").size(), 64u);
}

} // namespace

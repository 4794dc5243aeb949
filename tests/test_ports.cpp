// Model detection and port selection against the simulated instrument, through the real start-up.
#include "acquisition/acquire.h"
#include "acquisition/timebase.h"
#include "acquisition/timer.h"
#include "app/settings.h"
#include "app/startup.h"
#include "instrument/driver.h"
#include "instrument/transport.h"
#include "panel/callbacks.h"
#include "panel/interface.h"
#include "panel/ports.h"
#include "platform/async_timer.h"
#include "platform/event_loop.h"
#include "platform/panel_model.h"
#include "platform/serial_device.h"
#include "simulator/sim_device.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using platform::panel;
using simulator::Connection;
using simulator::SimulatedInstrument;

namespace {

std::vector<std::string> labels(int ring) {
    std::vector<std::string> out;
    for (const auto& item : panel().ringItems(ring)) out.push_back(item.label);
    return out;
}

void commit(CtrlCallback cb, int control) {
    cb(PANEL, control, EVENT_COMMIT, nullptr, 0, 0);
}

// Runs the program's start-up on a simulated instrument, then `inLoop` from the event loop,
// then quits as the user would.
class StartedProgram : public testing::Test {
  protected:
    void SetUp() override {
        testing_support::freshPanel();
        platform::setEventLoop(nullptr);
        platform::headlessEventLoop().run();
        platform::asyncTimer().resume();
        char tmpl[] = "/tmp/velt_ports_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        previous_ = fs::current_path();
        fs::current_path(dir_);
    }
    void TearDown() override {
        platform::setSerialDevice(nullptr);
        platform::headlessEventLoop().run();
        platform::asyncTimer().discard();
        platform::asyncTimer().resume();
        fs::current_path(previous_);
        fs::remove_all(dir_);
    }
    void run(SimulatedInstrument& sim, const std::function<void()>& inLoop) {
        platform::setSerialDevice(&sim);
        platform::headlessEventLoop().post([&inLoop] {
            inLoop();
            onExit(MENUBAR, MENUBAR_FILE_EXIT, nullptr, PANEL);
        });
        ASSERT_EQ(veltMain(), 0);
        EXPECT_EQ(sim.protocolViolations(), 0);
    }
    fs::path dir_, previous_;
};

struct ModelCase {
    const char* code;
    int channels;
    int speed;
    std::vector<std::string> stimuli;
    std::vector<std::string> modes;
    std::vector<std::string> samplers; // the default pair's lines
    int filterWidth;                   // the rise-time field's default
    double ghzEnd;                     // top of the frequency window
};

const std::vector<std::string> kAllModes = {"TDR", "TDT", "NEXT", "FEXT"};
const std::vector<std::string> kChPair = {"PORT 1, CH 1+", "PORT 1, CH 1-"};

class EachModel : public StartedProgram, public testing::WithParamInterface<ModelCase> {};

TEST_P(EachModel, IsDetectedAsItselfAndOffersExactlyItsPortsAndModes) {
    const ModelCase& m = GetParam();
    SimulatedInstrument sim(m.code);
    // A value left from an earlier measurement must not pass for a probe that found nothing.
    vampl.fill(100.0);
    run(sim, [] {});

    EXPECT_STREQ(model, m.code);
    EXPECT_EQ(channels, m.channels);
    EXPECT_EQ(speed, m.speed);
    EXPECT_EQ(panel().text(PANEL_VERSION), std::string("VELT v2.8.0 / ") + m.code);
    EXPECT_EQ(labels(PANEL_STIMULUS), m.stimuli);
    EXPECT_EQ(labels(PANEL_MODE), m.modes);
    EXPECT_EQ(labels(PANEL_SAMPLER), m.samplers);
    EXPECT_EQ(getFilterWidth(), m.filterWidth);
    EXPECT_DOUBLE_EQ(maxRange[4].load(), m.ghzEnd);
    EXPECT_DOUBLE_EQ(defaultEnd[4].load(), m.ghzEnd);
}

INSTANTIATE_TEST_SUITE_P(
    Models, EachModel,
    testing::Values(
        ModelCase{"QSA002", 2, 0, {"PORT 1, CH 1"}, {"TDR"}, kChPair, 35, 7.2},
        ModelCase{
            "QSA004", 4, 0, {"PORT 1, CH 1", "PORT 2, CH 1"}, {"TDR", "TDT"}, kChPair, 35, 7.2},
        // Passes the first three probes and fails the fourth.
        ModelCase{"QSB008",
                  8,
                  1,
                  {"PORT 1, CH 1", "PORT 1, CH 2", "PORT 2, CH 1", "PORT 2, CH 2"},
                  kAllModes,
                  kChPair,
                  200,
                  2.4},
        ModelCase{"QSA012",
                  12,
                  0,
                  {"PORT 1, CH 1", "PORT 1, CH 2", "PORT 1, CH 3", "PORT 2, CH 1", "PORT 2, CH 2",
                   "PORT 2, CH 3"},
                  kAllModes,
                  kChPair,
                  35,
                  7.2},
        ModelCase{"QSB016",
                  16,
                  1,
                  {"PORT 1, CH 1", "PORT 1, CH 2", "PORT 1, CH 3", "PORT 1, CH 4", "PORT 2, CH 1",
                   "PORT 2, CH 2", "PORT 2, CH 3", "PORT 2, CH 4"},
                  kAllModes,
                  kChPair,
                  200,
                  2.4},
        ModelCase{"QSB020",
                  20,
                  1,
                  {"PORT 1, D2", "PORT 1, D1", "PORT 1, D0", "PORT 1, CLK", "PORT 1, ETH",
                   "PORT 2, D2", "PORT 2, D1", "PORT 2, D0", "PORT 2, CLK", "PORT 2, ETH"},
                  kAllModes,
                  {"PORT 1, D2+", "PORT 1, D2-"},
                  200,
                  2.4}),
    [](const auto& info) { return std::string(info.param.code); });

TEST_F(StartedProgram, StartsInTheTimeDomainArrangementWithTheShownDielectric) {
    SimulatedInstrument sim("QSB020");
    int xAfter = -1, yAfter = -1;
    run(sim, [&] {
        // The frequency-domain units are not reachable from the time domain, even by a
        // callback that slipped past the dimmed item.
        onSetXUnitsGHz(MENUBAR, MENUBAR_XUNITS_X5, nullptr, PANEL);
        onSetYUnitsDB(MENUBAR, MENUBAR_YUNITS_Y6, nullptr, PANEL);
        xAfter = xUnits.load();
        yAfter = yUnits.load();
    });
    EXPECT_EQ(xAfter, 0);
    EXPECT_EQ(yAfter, 0);
    for (int item : {MENUBAR_XUNITS_X5, MENUBAR_YUNITS_Y6, MENUBAR_CAL_SOLTCAL,
                     MENUBAR_CAL_SAVESOLT, MENUBAR_CAL_LOADSOLT})
        EXPECT_TRUE(panel().menuDimmed(item)) << panel().menuLabel(item);
    for (int item : {MENUBAR_XUNITS_X1, MENUBAR_XUNITS_X2, MENUBAR_XUNITS_X3, MENUBAR_YUNITS_Y1,
                     MENUBAR_YUNITS_Y2, MENUBAR_YUNITS_Y3, MENUBAR_YUNITS_Y4, MENUBAR_CAL_SETZERO,
                     MENUBAR_CAL_RESETZERO, MENUBAR_DOMAIN_TIME, MENUBAR_DOMAIN_FREQ})
        EXPECT_FALSE(panel().menuDimmed(item)) << panel().menuLabel(item);
    EXPECT_TRUE(panel().menuChecked(MENUBAR_DOMAIN_TIME));
    EXPECT_EQ(getFilter(), 0);
    EXPECT_TRUE(panel().dimmed(PANEL_FILTERWIDTH));
    EXPECT_DOUBLE_EQ(dielK.load(), 2.23);
    EXPECT_DOUBLE_EQ(getDiel(), 2.23);
}

// Mean of the last quarter of the shown trace: the level the step settles to.
double settledLevel() {
    double sum = 0;
    for (std::size_t i = 768; i < 1024; ++i) sum += wfmDataCombined[i];
    return sum / 256.0;
}

TEST_F(StartedProgram, TransmissionOnAFourChannelModelReceivesOnTheOtherPort) {
    SimulatedInstrument sim("QSA004");
    std::vector<int> samplers;
    double throughLevel = 0, openLevel = 0;
    run(sim, [&] {
        panel().ringSetValue(PANEL_MODE, 1);
        panel().ringSetValue(PANEL_STIMULUS, 7);
        commit(onSetStimulus, PANEL_MODE);
        for (const auto& item : panel().ringItems(PANEL_SAMPLER)) samplers.push_back(item.value);
        suspendAndWait();
        // The path is chosen by the recalibration the change asked for.
        sim.setConnection(7, Connection::Through);
        calibrate(-1, -1, 0);
        acquire(1);
        throughLevel = settledLevel();
        sim.setConnection(7, Connection::Device);
        acquire(1);
        openLevel = settledLevel();
        resumeTimer();
    });
    EXPECT_EQ(samplers, (std::vector<int>{4, 5}));
    EXPECT_EQ(getSampler(), 4);
    // Through to port 1: the step arrives; with the cable left open nothing does.
    EXPECT_GT(throughLevel, 100.0);
    EXPECT_LT(std::abs(openLevel), 0.2 * throughLevel);
}

} // namespace

// Every way the instrument link can fail, injected through the simulator, through the whole
// program on the headless loop: what the user is shown, the exit status, and that the settings
// are autosaved whenever the program got as far as running.
#include "acquisition/acquire.h"
#include "app/startup.h"
#include "freqdomain/solt.h"
#include "instrument/transport.h"
#include "panel/callbacks.h"
#include "panel/interface.h"
#include "panel/settings.h"
#include "panel/timer.h"
#include "platform/async_timer.h"
#include "platform/event_loop.h"
#include "platform/panel_model.h"
#include "platform/popups.h"
#include "simulator/sim_device.h"
#include "simulator/sim_operator.h"
#include "tests/support/program_test.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using platform::panel;
using simulator::Fault;

namespace {

// Forwards to the simulator and pulls the cable as the first sweep is asked for, i.e. in the
// middle of start-up's calibration.
class UnplugAtFirstSweep : public platform::SerialDevice {
  public:
    explicit UnplugAtFirstSweep(simulator::SimulatedInstrument& sim) : sim_(sim) {}
    int open(int i) override { return sim_.open(i); }
    int setBaudRate(int b) override { return sim_.setBaudRate(b); }
    int setDataCharacteristics(int w, int s, int p) override {
        return sim_.setDataCharacteristics(w, s, p);
    }
    int setFlowControl(int f, std::uint8_t on, std::uint8_t off) override {
        return sim_.setFlowControl(f, on, off);
    }
    int setTimeouts(int r, int w) override { return sim_.setTimeouts(r, w); }
    int write(const std::uint8_t* data, std::size_t count, std::size_t* written) override {
        if (count == 1 && data[0] == 'a') sim_.setFault(Fault::Unplugged, true);
        return sim_.write(data, count, written);
    }
    int read(std::uint8_t* data, std::size_t count, std::size_t* received) override {
        return sim_.read(data, count, received);
    }
    int close() override { return sim_.close(); }

  private:
    simulator::SimulatedInstrument& sim_;
};

enum class When { AtOpen, DuringStartupCalibration, WhileAutoAcquiring, DuringSetZero };

struct LinkFault {
    const char* name;
    Fault fault;
    When when;
    int exitStatus;
    const char* title; // the one box the user sees
    bool autosaved;
};

class LinkFaults : public testing_support::ProgramTest,
                   public testing::WithParamInterface<LinkFault> {};

TEST_P(LinkFaults, EndWithOneBoxAndTheRightExit) {
    const LinkFault c = GetParam();
    simulator::SimulatedInstrument sim;
    UnplugAtFirstSweep unplugging(sim);
    if (c.when == When::AtOpen) sim.setFault(c.fault, true);
    platform::setSerialDevice(c.when == When::DuringStartupCalibration
                                  ? static_cast<platform::SerialDevice*>(&unplugging)
                                  : &sim);
    // What the user does once the window runs: auto-acquire on, then the link fails during
    // the next tick (run here on a thread of its own, as the timer would).
    platform::headlessEventLoop().post([&sim, c] {
        if (c.when == When::DuringSetZero) {
            sim.setFault(c.fault, true);
            return onSetZero(MENUBAR, MENUBAR_CAL_SETZERO, nullptr, PANEL);
        }
        setAutoAcquire(1);
        if (c.when == When::WhileAutoAcquiring) sim.setFault(c.fault, true);
        std::thread tick([] { onAsyncTimer(); });
        tick.join();
    });

    EXPECT_EQ(veltMain(), c.exitStatus);

    const auto shown = platform::defaultResponder().shown();
    EXPECT_EQ(platform::defaultResponder().count(platform::PopupKind::Message), 1) << "one box";
    EXPECT_EQ(shown.back().title, c.title);
    EXPECT_EQ(fs::exists("user.ini"), c.autosaved);
    EXPECT_EQ(sim.protocolViolations(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LinkFaults,
    testing::Values(LinkFault{"NoDevice", Fault::NoDevice, When::AtOpen, 1, "Error #1001", false},
                    LinkFault{"WrongHandshake", Fault::WrongHandshake, When::AtOpen, 1,
                              "Error #1001", false},
                    LinkFault{"UnpluggedInStartupCalibration", Fault::Unplugged,
                              When::DuringStartupCalibration, kExitLinkLost, "ERROR #3012", true},
                    LinkFault{"ShortReadMidSweep", Fault::ShortRead, When::WhileAutoAcquiring,
                              kExitLinkLost, "ERROR #3012", true},
                    LinkFault{"UnpluggedWhileAutoAcquiring", Fault::Unplugged,
                              When::WhileAutoAcquiring, kExitLinkLost, "ERROR #3012", true},
                    LinkFault{"UnpluggedInSetZero", Fault::Unplugged, When::DuringSetZero,
                              kExitLinkLost, "ERROR #3012", true}),
    [](const testing::TestParamInfo<LinkFault>& info) { return std::string(info.param.name); });

// Acknowledgements that never come cost their time-out each, but the sweeps themselves arrive
// whole: the trace goes on, with no box.
TEST_F(LinkFaults, LostAcknowledgementsSlowTheLinkButLoseNothing) {
    simulator::SimulatedInstrument sim;
    platform::setSerialDevice(&sim);
    long sweepsBefore = 0, sweepsAfter = 0;
    std::uint64_t plotsBefore = 0, plotsAfter = 0;
    platform::headlessEventLoop().post([&] {
        sim.setFault(Fault::LostAck, true);
        setAutoAcquire(1);
        sweepsBefore = sim.sweepsServed();
        plotsBefore = panel().snapshot().graph.plotGeneration;
        std::thread tick([] { onAsyncTimer(); });
        tick.join();
        sweepsAfter = sim.sweepsServed();
        plotsAfter = panel().snapshot().graph.plotGeneration;
        shutdown();
    });

    EXPECT_EQ(veltMain(), 0);
    EXPECT_TRUE(platform::defaultResponder().shown().empty());
    EXPECT_GT(sweepsAfter, sweepsBefore);
    EXPECT_GT(plotsAfter, plotsBefore) << "a new trace was drawn";
    EXPECT_EQ(sim.protocolViolations(), 0);
}

// The user answers the prompts; the cable comes out while the third standard is measured.
class UnplugAtThirdStandard : public platform::PopupHandler {
  public:
    UnplugAtThirdStandard(simulator::SimulatedInstrument& sim) : sim_(sim), user_(&sim) {}
    platform::PopupAnswer show(const platform::PopupRequest& r) override {
        titles.push_back(r.title);
        if (r.title.rfind("CALIBRATE", 0) == 0 && ++standards_ == 3)
            sim_.setFault(Fault::Unplugged, true);
        return user_.show(r);
    }
    std::vector<std::string> titles;

  private:
    simulator::SimulatedInstrument& sim_;
    simulator::SoltOperator user_;
    int standards_ = 0;
};

TEST_F(LinkFaults, UnpluggedDuringASoltCalibrationStoresNoCalibrationAndEndsTheProgram) {
    simulator::SimulatedInstrument sim("QSA002");
    platform::setSerialDevice(&sim);
    UnplugAtThirdStandard user(sim);
    platform::setPopupHandler(&user);
    platform::headlessEventLoop().post(
        [] { onSetDomainFreq(MENUBAR, MENUBAR_DOMAIN_FREQ, nullptr, PANEL); });

    EXPECT_EQ(veltMain(), kExitLinkLost);

    // The calibration says it could not be completed, then the lost link is reported.
    ASSERT_GE(user.titles.size(), 3u);
    EXPECT_EQ(user.titles[user.titles.size() - 2], "SOLT ERROR");
    EXPECT_EQ(user.titles.back(), "ERROR #3012");
    EXPECT_EQ(checkSOLT(0), 0) << "no calibration is in force";
    EXPECT_NE(view.xUnits.load(), XUnit::GHz) << "still in the time domain";
    EXPECT_TRUE(fs::exists("user.ini"));
    platform::setPopupHandler(nullptr);
}

} // namespace

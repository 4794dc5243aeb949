// The guided SOLT calibration against the simulated instrument: prompts, their order per model,
// what is stored, and what a cancel leaves behind.
#include "app/settings.h"
#include "app/startup.h"
#include "freqdomain/solt.h"
#include "freqdomain/store.h"
#include "instrument/driver.h"
#include "instrument/transport.h"
#include "panel/interface.h"
#include "panel/ports.h"
#include "platform/panel_model.h"
#include "platform/serial_device.h"
#include "simulator/sim_device.h"
#include "simulator/sim_operator.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

using platform::panel;
using simulator::SimulatedInstrument;

namespace {

struct Model {
    const char* code;
    int channels;
    int mode; // 0 S11, 1 S21
    int prompts;
    std::vector<std::string> first; // the first prompts, in order
};

// The last line written to the program log (the design text before it has no newline).
std::string lastLog() {
    const std::string log = platform::panel().text(PANEL_MESSAGE);
    const auto end = log.find_last_not_of('\n');
    const auto start = log.rfind("> ", end);
    return log.substr(start == std::string::npos ? 0 : start, end + 1 - start);
}

class Procedure : public ::testing::TestWithParam<Model> {
  protected:
    SimulatedInstrument sim{GetParam().code};
    simulator::SoltOperator user{&sim};

    void SetUp() override {
        testing_support::freshPanel();
        testing_support::resetEnvironment();
        platform::setSerialDevice(&sim);
        ASSERT_EQ(velt_init(), 1);
        ASSERT_EQ(velt_params(2), 1);
        channels = GetParam().channels;
        soltStore = StandardSet{};
        calS11.store(0);
        calS21.store(0);
        setStimulus(GetParam().mode, 2, -1);
        platform::setPopupHandler(&user);
        // A window the calibration must give back.
        xUnits.store(0);
        yUnits.store(2);
        xStart.store(0.5);
        xEnd.store(2.5);
        xZero.store(0.3);
    }
    void TearDown() override {
        platform::setPopupHandler(nullptr);
        EXPECT_EQ(sim.protocolViolations(), 0);
        usbftdi_close();
        platform::setSerialDevice(nullptr);
        channels = 0;
    }
    void expectWindowRestored() {
        EXPECT_EQ(xUnits.load(), 0);
        EXPECT_EQ(yUnits.load(), 2);
        EXPECT_EQ(xStart.load(), 0.5);
        EXPECT_EQ(xEnd.load(), 2.5);
        EXPECT_EQ(xZero.load(), 0.3);
    }
    std::atomic<int>& flag() { return GetParam().mode == 0 ? calS11 : calS21; }
};

TEST_P(Procedure, CompleteRunPromptsEveryStandardInOrderAndStoresIt) {
    user.filePath.clear(); // the save dialog is cancelled
    ASSERT_EQ(performSOLT(GetParam().mode), 1);
    ASSERT_EQ(static_cast<int>(user.prompts.size()), GetParam().prompts);
    EXPECT_EQ(soltStandardCount(GetParam().mode, GetParam().channels), GetParam().prompts);
    for (std::size_t i = 0; i < GetParam().first.size(); ++i)
        EXPECT_EQ(user.prompts[i], GetParam().first[i]) << "prompt " << i;
    EXPECT_EQ(flag().load(), 1);
    EXPECT_EQ(lastLog(), "> SOLT completed successfully. Please manually save file to disk if "
                         "you want to use this calibration again.");
    ASSERT_FALSE(user.seen.empty());
    EXPECT_EQ(user.seen.back().title, "SOLT COMPLETE");
    EXPECT_EQ(user.seen.back().text, "SOLT calibration has been completed. Reconnect DUT to "
                                     "active channel and click OK to continue.");
    expectWindowRestored();
    EXPECT_TRUE(panel().busyText().empty());

    // What was stored is what the standards look like: a SHORT falls to about -1, an OPEN
    // rises to about +1, a THROUGH arrives as a step; channels the model lacks stay zero.
    if (GetParam().mode == 0) {
        EXPECT_LT(storedStandard(kShort, 4)[1000], -0.8);
        EXPECT_GT(storedStandard(kOpen, 5)[1000], 0.8);
        EXPECT_NEAR(storedStandard(kLoad, 4)[1000], 0.0, 0.1);
        if (GetParam().channels < 20) {
            EXPECT_EQ(storedStandard(kShort, 8)[500], 0.0);
        }
    } else {
        const Waveform& t = storedStandard(kThrough, 14);
        EXPECT_GT(t[1000] - t[0], 0.5);
        if (GetParam().channels < 20) {
            EXPECT_EQ(storedStandard(kThrough, 18)[500], 0.0);
        }
    }
}

TEST_P(Procedure, CancelAtTheFirstPromptChangesNothing) {
    user.cancelAtPrompt = 0;
    EXPECT_EQ(performSOLT(GetParam().mode), -1);
    EXPECT_EQ(user.prompts.size(), 1u);
    EXPECT_TRUE(soltStore == StandardSet{});
    EXPECT_EQ(flag().load(), 0);
    expectWindowRestored();
}

TEST_P(Procedure, CancelHalfWayKeepsWhatWasMeasured) {
    user.cancelAtPrompt = 3;
    EXPECT_EQ(performSOLT(GetParam().mode), -1);
    EXPECT_EQ(flag().load(), 0);
    expectWindowRestored();
    // The first standards of the run are in the store, the cancelled one is not.
    if (GetParam().mode == 0) {
        EXPECT_NE(storedStandard(kLoad, 4)[1000], 0.0);
        EXPECT_EQ(storedStandard(kShort, 5)[1000], 0.0);
    } else {
        EXPECT_NE(storedStandard(kThrough, 15)[1000], 0.0);
        EXPECT_EQ(storedStandard(kThrough, 5), Waveform{});
    }
}

TEST_P(Procedure, LoadFileCancelledLeavesTheFlag) {
    user.offerAnswer = 1;
    EXPECT_EQ(performSOLT(GetParam().mode), -1);
    EXPECT_EQ(flag().load(), 0);
    ASSERT_FALSE(user.seen.empty());
    EXPECT_EQ(user.seen.front().title, GetParam().mode == 0 ? "S11 SOLT CALIBRATION REQUIRED"
                                                            : "S21 SOLT CALIBRATION REQUIRED");
    EXPECT_EQ(user.seen.front().buttons,
              (std::vector<std::string>{"Load File", "New Calibration", "Cancel"}));
}

TEST_P(Procedure, AlreadyLoadedDialogRunsTheCurrentModesSequence) {
    user.cancelAtPrompt = 0;
    EXPECT_EQ(performSOLT(-1), -1);
    EXPECT_EQ(user.seen.front().title, "SOLT CALIBRATION");
    ASSERT_EQ(user.prompts.size(), 1u);
    EXPECT_EQ(user.prompts[0].find(GetParam().mode == 0 ? "to SHORT" : "in THROUGH") !=
                  std::string::npos,
              true)
        << user.prompts[0];
}

std::string reflectionPrompt(const std::string& label, const std::string& what) {
    return "CALIBRATE " + label + " | Set " + label + " to " + what +
           " and click OK.\nCalibration may take up to 15 seconds.";
}
std::string throughPrompt(const std::string& from, const std::string& to) {
    return "CALIBRATE " + to + " | Connect " + from + " in THROUGH to " + to +
           " and click OK.\nCalibration may take up to 15 seconds.";
}

std::vector<std::string> fourChannelS11() {
    std::vector<std::string> v;
    for (const char* l : {"PORT 1, CH 1+", "PORT 1, CH 1-", "PORT 2, CH 1+", "PORT 2, CH 1-"})
        for (const char* s : {"SHORT", "OPEN", "50 OHM LOAD"}) v.push_back(reflectionPrompt(l, s));
    return v;
}

INSTANTIATE_TEST_SUITE_P(
    Models, Procedure,
    ::testing::Values(Model{"QSA004", 4, 0, 12, fourChannelS11()},
                      Model{"QSA004",
                            4,
                            1,
                            4,
                            {throughPrompt("PORT 1, CH 1+", "PORT 2, CH 1+"),
                             throughPrompt("PORT 2, CH 1+", "PORT 1, CH 1+"),
                             throughPrompt("PORT 1, CH 1-", "PORT 2, CH 1-"),
                             throughPrompt("PORT 2, CH 1-", "PORT 1, CH 1-")}},
                      // All of port 1 (CH 1, 2, 3, 4, 5) before port 2.
                      Model{"QSB020",
                            20,
                            0,
                            60,
                            {reflectionPrompt("PORT 1, CH 1+", "SHORT"),
                             reflectionPrompt("PORT 1, CH 1+", "OPEN"),
                             reflectionPrompt("PORT 1, CH 1+", "50 OHM LOAD"),
                             reflectionPrompt("PORT 1, CH 1-", "SHORT"),
                             reflectionPrompt("PORT 1, CH 1-", "OPEN"),
                             reflectionPrompt("PORT 1, CH 1-", "50 OHM LOAD"),
                             reflectionPrompt("PORT 1, CH 2+", "SHORT")}},
                      Model{"QSB020",
                            20,
                            1,
                            20,
                            {throughPrompt("PORT 1, CH 1+", "PORT 2, CH 1+"),
                             throughPrompt("PORT 2, CH 1+", "PORT 1, CH 1+"),
                             throughPrompt("PORT 1, CH 1-", "PORT 2, CH 1-"),
                             throughPrompt("PORT 2, CH 1-", "PORT 1, CH 1-"),
                             throughPrompt("PORT 1, CH 2+", "PORT 2, CH 2+")}}),
    [](const auto& info) {
        return std::string(info.param.code) + (info.param.mode == 0 ? "_S11" : "_S21");
    });

TEST(SoltCheck, OnlyTheTwoKindsHaveAFlag) {
    calS11.store(1);
    calS21.store(0);
    EXPECT_EQ(checkSOLT(0), 1);
    EXPECT_EQ(checkSOLT(1), 0);
    EXPECT_EQ(checkSOLT(2), 0);
    EXPECT_EQ(checkSOLT(-1), 0);
    calS11.store(0);
}

TEST(SoltCount, ModelsTakeTheirNumberOfStandards) {
    EXPECT_EQ(soltStandardCount(0, 2), 6);
    EXPECT_EQ(soltStandardCount(1, 2), 0);
    EXPECT_EQ(soltStandardCount(0, 12), 36);
    EXPECT_EQ(soltStandardCount(1, 16), 16);
    EXPECT_EQ(soltStandardCount(0, 20), 60);
}

} // namespace

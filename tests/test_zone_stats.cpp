// Zone statistics against the simulator's true profile, and the read-outs the user sees beside
// the cursors.
#include "acquisition/acquire.h"
#include "app/startup.h"
#include "instrument/driver.h"
#include "instrument/transport.h"
#include "panel/callbacks.h"
#include "panel/cycle.h"
#include "panel/interface.h"
#include "panel/panel_state.h"
#include "panel/timer.h"
#include "panel/zone_stats.h"
#include "platform/async_timer.h"
#include "platform/event_loop.h"
#include "platform/panel_model.h"
#include "platform/serial_device.h"
#include "simulator/sim_device.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using platform::panel;
using simulator::Connection;

namespace {

constexpr XUnit kMetres = XUnit::Metres;
constexpr YUnit kOhm = YUnit::Ohms;
// Two metres of line: 50 ohms, then 60 ohms, then a matched end. Round trip from the
// connector: 50 ohms on [0, 2] m, 60 ohms on [2, 4] m.
constexpr const char* kStepped = "channel 2: line 50 1.0 2.25 0; line 60 1.0 2.25 0; load 60\n";
// Four rise lengths of the 200 ps filter at K 2.25: 4 x 200 ps x 2e8 m/s.
constexpr double kMinZone = 0.16;

struct ZoneCase {
    const char* name;
    double from, to, nominal, tolerance;
    ZoneVerdict verdict;
    double mean; // the true profile's mean over the zone
    double meanTolerance;
};

class ZoneOnSimulator : public testing::TestWithParam<ZoneCase> {
  protected:
    simulator::SimulatedInstrument sim{"QSB020"};

    void SetUp() override {
        testing_support::freshPanel();
        platform::setSerialDevice(&sim);
        ASSERT_EQ(instrument.open(), 1);
        ASSERT_EQ(instrument.selectTiming(2), 1);
        view.xEnd = 6.0;
        ASSERT_EQ(instrument.measureConstants(2, 4, Mode::TDR), 1);
        sim.setConnection(2, Connection::Open);
        ASSERT_EQ(zeroShown(), 1);
        sim.setConnection(2, Connection::Device);
        std::string err;
        ASSERT_TRUE(sim.loadScenarioText(kStepped, err)) << err;
        view.yUnits.store(kOhm);
        ASSERT_EQ(sweepShown(16), 1);
    }
    void TearDown() override {
        usbftdi_close();
        platform::setSerialDevice(nullptr);
    }
};

TEST_P(ZoneOnSimulator, ReadsTheTrueProfile) {
    const ZoneCase& c = GetParam();
    const ZoneStats s = zoneStatistics(instrument.recordX, instrument.recordAvg, c.from, c.to,
                                       c.nominal, c.tolerance, kMinZone);
    EXPECT_EQ(s.verdict, c.verdict) << verdictText(s.verdict);
    EXPECT_NEAR(s.mean, c.mean, c.meanTolerance);
    EXPECT_GT(s.points, 10);
    EXPECT_LE(s.min, s.mean);
    EXPECT_GE(s.max, s.mean);
    EXPECT_DOUBLE_EQ(s.low, c.nominal * (1 - c.tolerance / 100));
    EXPECT_DOUBLE_EQ(s.high, c.nominal * (1 + c.tolerance / 100));
}

INSTANTIATE_TEST_SUITE_P(
    Stepped, ZoneOnSimulator,
    testing::Values(ZoneCase{"FiftyOhmsPass", 0.3, 1.7, 50, 5, ZoneVerdict::Pass, 50, 0.5},
                    ZoneCase{"CursorsEitherWay", 1.7, 0.3, 50, 5, ZoneVerdict::Pass, 50, 0.5},
                    ZoneCase{"SixtyOhmsFailFifty", 2.3, 3.7, 50, 5, ZoneVerdict::Fail, 60, 1.0},
                    ZoneCase{"SixtyOhmsPassSixty", 2.3, 3.7, 60, 5, ZoneVerdict::Pass, 60, 1.0},
                    // Across the step: the mean is in between and the maximum fails.
                    ZoneCase{"AcrossTheStep", 1.5, 2.5, 50, 5, ZoneVerdict::Fail, 55, 1.5},
                    ZoneCase{"ShorterThanTheRiseAllows", 0.8, 0.9, 50, 5, ZoneVerdict::TooShort, 50,
                             0.5}),
    [](const testing::TestParamInfo<ZoneCase>& info) { return info.param.name; });

TEST(ZoneStatistics, FiguresAndVerdictOfAKnownTrace) {
    const std::vector<double> x = {0, 1, 2, 3, 4, 5, 6};
    const std::vector<double> y = {10, 49, 50, 51, NAN, 50, 90};
    // Points 1..5; the NaN is not a reading.
    ZoneStats s = zoneStatistics(x, y, 1, 5, 50, 2, 0);
    EXPECT_EQ(s.points, 4);
    EXPECT_DOUBLE_EQ(s.mean, 50);
    EXPECT_DOUBLE_EQ(s.min, 49);
    EXPECT_DOUBLE_EQ(s.max, 51);
    EXPECT_NEAR(s.stddev, std::sqrt(2.0 / 3.0), 1e-12); // sample deviation, n - 1
    EXPECT_EQ(s.verdict, ZoneVerdict::Pass);
    // 49 lies below 50 - 1 %: one point out of the band fails the zone.
    EXPECT_EQ(zoneStatistics(x, y, 1, 5, 50, 1, 0).verdict, ZoneVerdict::Fail);
    EXPECT_EQ(zoneStatistics(x, y, 1, 5, 50, 2, 4.5).verdict, ZoneVerdict::TooShort);
    EXPECT_EQ(zoneStatistics(x, y, 2.5, 3.5, 50, 2, 0).verdict, ZoneVerdict::NoData);
    EXPECT_EQ(zoneStatistics(x, y, 7, 9, 50, 2, 0).points, 0);
}

TEST(ZoneStatistics, ResolutionIsFourRiseLengthsInTheShownUnit) {
    EXPECT_NEAR(zoneResolution(200, XUnit::Metres, 2.25), 0.16, 1e-12);         // metres
    EXPECT_NEAR(zoneResolution(200, XUnit::Feet, 2.25), 0.16 / 0.3048, 1e-12);  // feet
    EXPECT_NEAR(zoneResolution(200, XUnit::Nanoseconds, 2.25), 0.8, 1e-12);     // ns, whatever K
    EXPECT_NEAR(zoneResolution(200, XUnit::Inches, 2.25), 0.16 / 0.0254, 1e-9); // inches
    EXPECT_DOUBLE_EQ(shownRiseTimePs(1, true, 200), 200);
    EXPECT_DOUBLE_EQ(shownRiseTimePs(0, true, 10), 35); // no filter makes the step faster
    EXPECT_DOUBLE_EQ(shownRiseTimePs(1, false, 500), 150);
}

struct LimitsCase {
    const char* text;
    bool ok;
    double nominal, tolerance;
    const char* message; // part of it
};

class ZoneLimitsText : public testing::TestWithParam<LimitsCase> {};

TEST_P(ZoneLimitsText, IsReadInTheCLocale) {
    const LimitsCase& c = GetParam();
    double nominal = -1, tolerance = -1;
    std::string error;
    EXPECT_EQ(parseZoneLimits(c.text, nominal, tolerance, error), c.ok) << c.text;
    if (c.ok) {
        EXPECT_DOUBLE_EQ(nominal, c.nominal);
        EXPECT_DOUBLE_EQ(tolerance, c.tolerance);
    } else {
        EXPECT_NE(error.find(c.message), std::string::npos) << error;
        EXPECT_DOUBLE_EQ(nominal, -1) << "nothing is half-applied";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ZoneLimitsText,
    testing::Values(LimitsCase{"50 10", true, 50, 10, ""},
                    LimitsCase{" 100  7.5 % ", true, 100, 7.5, ""},
                    LimitsCase{"50,5 10", false, 0, 0, "example: 50 10"},
                    LimitsCase{"fifty", false, 0, 0, "example: 50 10"},
                    LimitsCase{"50", false, 0, 0, "example: 50 10"},
                    LimitsCase{"50 10 ohm", false, 0, 0, "after the tolerance: 'ohm'"},
                    LimitsCase{"0 10", false, 0, 0, "between 0 and 1000 ohms"},
                    LimitsCase{"50 100", false, 0, 0, "between 0 and 100 percent"},
                    LimitsCase{"nan 10", false, 0, 0, "between 0 and 1000 ohms"}));

// The whole start-up on the simulator; then what a user does: ohms, cursors, "Zone Limits...".
TEST(ZoneReadouts, ShowBesideTheCursorsInOhmsOnly) {
    char dir[] = "/tmp/velt_zone_XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const fs::path previous = fs::current_path();
    fs::current_path(dir);
    testing_support::freshPanel();
    platform::setEventLoop(nullptr);
    platform::asyncTimer().resume();
    simulator::SimulatedInstrument sim;
    std::string err;
    ASSERT_TRUE(sim.loadScenarioText(kStepped, err)) << err;
    platform::setSerialDevice(&sim);
    panelState.zoneNominal.store(50);
    panelState.zoneTolerance.store(10);

    std::string inMillivolts, line, stats, afterCancel;
    platform::headlessEventLoop().post([&] {
        updateWaveform();
        inMillivolts = panel().text(PANEL_ZONE);
        sim.setConnection(2, Connection::Open);
        suspendAndWait();
        zeroShown();
        resumeTimer();
        sim.setConnection(2, Connection::Device);
        onSetYUnits(MENUBAR, MENUBAR_YUNITS_Y3, nullptr, PANEL);
        panel().setValue(PANEL_XEND, 6.0);
        onSetWindow(PANEL, PANEL_XEND, EVENT_COMMIT, nullptr, 0, 0);
        suspendAndWait();
        acquire(1);
        resumeTimer();
        panel().setCursor(1, 2.3, 0);
        panel().setCursor(2, 3.7, 0);
        // A typo first: explained, and asked again with nothing changed.
        platform::defaultResponder().push({1, "sixty 5"});
        platform::defaultResponder().push({1, ""}); // the explanation
        platform::defaultResponder().push({1, "60 5"});
        onSetZoneLimits(MENUBAR, MENUBAR_YUNITS_ZONELIMITS, nullptr, PANEL);
        line = panel().text(PANEL_ZONE);
        stats = panel().text(PANEL_ZONESTATS);
        platform::defaultResponder().push({0, ""});
        onSetZoneLimits(MENUBAR, MENUBAR_YUNITS_ZONELIMITS, nullptr, PANEL);
        afterCancel = panel().text(PANEL_ZONE);
        onExit(MENUBAR, MENUBAR_FILE_EXIT, nullptr, PANEL);
    });
    EXPECT_EQ(veltMain(), 0);
    platform::setSerialDevice(nullptr);
    platform::asyncTimer().discard();
    platform::asyncTimer().resume();
    fs::current_path(previous);
    fs::remove_all(dir);

    EXPECT_EQ(inMillivolts, "");
    EXPECT_EQ(panel().text(PANEL_C4), " ZONE ");
    // "PASS  avg 60.xx Ohm": judged against the limits just entered.
    ASSERT_EQ(line.rfind("PASS  avg ", 0), 0u) << line;
    EXPECT_NEAR(std::stod(line.substr(10)), 60.0, 1.0) << line;
    EXPECT_EQ(line.substr(line.size() - 4), " Ohm");
    EXPECT_EQ(stats.rfind("min ", 0), 0u) << stats;
    EXPECT_NE(stats.find(" sd "), std::string::npos) << stats;
    EXPECT_EQ(afterCancel, line);
    EXPECT_DOUBLE_EQ(panelState.zoneNominal.load(), 60);
    EXPECT_DOUBLE_EQ(panelState.zoneTolerance.load(), 5);
    const auto shown = platform::defaultResponder().shown();
    int prompts = 0, explained = 0;
    for (const auto& r : shown) {
        prompts += r.kind == platform::PopupKind::Prompt;
        explained += r.kind == platform::PopupKind::Message && r.title == "Zone Limits";
    }
    EXPECT_EQ(prompts, 3);
    EXPECT_EQ(explained, 1);
}

} // namespace

// The settings file: its exact format, every check with its own code and the reset after it,
// a failed write that keeps the previous file, and a set-up that survives a restart.
#include "acquisition/timer.h"
#include "app/settings.h"
#include "files/settings_file.h"
#include "panel/callbacks.h"
#include "panel/units.h"
#include "platform/async_timer.h"
#include "platform/event_loop.h"
#include "tests/support/file_test.h"

#include <csignal>
#include <functional>
#include <sys/resource.h>

namespace {

using platform::panel;
using testing_support::FileTest;

// A valid file of the connected model; the cases below spoil one value each.
SettingsRecord validRecord() {
    SettingsRecord r;
    r.model = "QSB020";
    r.xEnd = 3.0;
    r.dielK = 2.25;
    r.yMin = -250;
    r.yMax = 250;
    r.autoscale = 1;
    r.stimulus = 2;
    r.sampler = 4;
    r.autoAcquire = 1;
    r.filterWidth = 35;
    return r;
}

// The defaults are in force: what every rejection must leave behind.
void expectDefaults() {
    EXPECT_EQ(xUnits.load(), 0);
    EXPECT_EQ(yUnits.load(), 0);
    EXPECT_DOUBLE_EQ(xEnd.load(), 3.0);
    EXPECT_DOUBLE_EQ(dielK.load(), 2.23);
    EXPECT_EQ(getAutoAcquire(), 1);
    EXPECT_EQ(getFilterWidth(), 35);
    EXPECT_EQ(panel().xAxisName(), "ROUNDTRIP (m)");
}

// Something other than the defaults, so a reset shows.
void leaveDefaults() {
    setXUnits(1);
    setDiel(4.0);
    setAutoAcquire(0);
    setFilterWidth(60);
}

TEST_F(FileTest, SettingsAreWrittenLineByLineAtSinglePrecision) {
    SettingsRecord r = validRecord();
    r.xStart = 0.5;
    r.xEnd = 1000.123456; // the nearest float prints 1000.12347, not 1000.12346
    r.xZero = 0.25;
    r.yMin = -0.0;
    r.cal = 1;
    r.sampler = 5;
    EXPECT_EQ(formatSettings(r), "USER_MODEL\t\t\tQSB020;\n"
                                 "USER_YUNITS\t\t\t0;\n"
                                 "USER_XUNITS\t\t\t0;\n"
                                 "USER_XSTART\t\t\t0.50000;\n"
                                 "USER_XEND\t\t\t1000.12347;\n"
                                 "USER_XZERO\t\t\t0.25000;\n"
                                 "USER_DIELK\t\t\t2.25000;\n"
                                 "USER_YMIN\t\t\t-0.00000;\n"
                                 "USER_YMAX\t\t\t250.00000;\n"
                                 "USER_AUTOSCALE\t\t\t1;\n"
                                 "USER_CAL\t\t\t1;\n"
                                 "USER_MODE\t\t\t0;\n"
                                 "USER_DIFF\t\t\t0;\n"
                                 "USER_STIMULUS\t\t\t2;\n"
                                 "USER_SAMPLER\t\t\t5;\n"
                                 "USER_AUTOACQ\t\t\t1;\n"
                                 "USER_FILTER\t\t\t0;\n"
                                 "USER_FILTERWIDTH\t\t35;\n");
    // Read back by position, with CR LF line ends and blanks instead of tabs.
    std::string text = formatSettings(r);
    for (std::size_t p = 0; (p = text.find('\n', p)) != std::string::npos; p += 2)
        text.replace(p, 1, "\r\n");
    text.replace(text.find("\t\t\t"), 3, "  ");
    const SettingsRecord back = parseSettings(text);
    EXPECT_EQ(back.model, "QSB020");
    EXPECT_DOUBLE_EQ(back.xEnd, 1000.12347);
    EXPECT_EQ(back.sampler, 5);
    EXPECT_EQ(checkSettings(back, "QSB020"), 0);
}

struct Spoilt {
    const char* name;
    std::function<void(SettingsRecord&, std::string&)> spoil; // the record, or the text
    int code;
    int result;
};

void PrintTo(const Spoilt& s, std::ostream* os) {
    *os << s.name;
}

class SettingsRejection : public FileTest, public testing::WithParamInterface<Spoilt> {};

TEST_P(SettingsRejection, ShowsItsOwnCodeThenResetsToDefaults) {
    SettingsRecord r = validRecord();
    std::string text;
    GetParam().spoil(r, text);
    if (text.empty()) text = formatSettings(r);
    spit(kAutosaveFile, text);
    leaveDefaults();
    markLog();

    EXPECT_EQ(loadSettings(1), GetParam().result);

    const std::string why =
        GetParam().code == 2251
            ? "Stored settings do not match current instrument. Reverting to defaults"
        : GetParam().code == 2250
            ? "Cannot start program in frequency domain. Reverting to time domain."
            : "Error loading settings file. Reverting to defaults.";
    EXPECT_EQ(newLog(), "> ERROR #" + std::to_string(GetParam().code) + ": " + why +
                            "\n> Settings successfully reset to defaults.\n");
    expectDefaults();
}

void line(std::string& text, int n, const std::string& replacement) {
    text = formatSettings(validRecord());
    std::size_t b = 0;
    for (int i = 0; i < n; ++i) b = text.find('\n', b) + 1;
    text.replace(b, text.find('\n', b) - b, replacement);
}

INSTANTIATE_TEST_SUITE_P(
    EveryCheck, SettingsRejection,
    testing::Values(
        Spoilt{"OtherModel", [](auto& r, auto&) { r.model = "QSA004"; }, 2251, -21},
        Spoilt{"DielectricZero", [](auto& r, auto&) { r.dielK = 0; }, 2234, -4},
        Spoilt{"GHz", [](auto& r, auto&) { r.xUnits = 4; }, 2250, -20},
        Spoilt{"Decibel", [](auto& r, auto&) { r.yUnits = 5; }, 2250, -20},
        Spoilt{"RawUnit", [](auto& r, auto&) { r.yUnits = 4; }, 2235, -5},
        Spoilt{"Inches", [](auto& r, auto&) { r.xUnits = 3; }, 2236, -6},
        Spoilt{"StartBelowMinusZero", [](auto& r, auto&) { r.xZero = 0.5, r.xStart = -0.6; }, 2237,
               -7},
        Spoilt{"EndBelowMinusZero", [](auto& r, auto&) { r.xZero = 0.5, r.xEnd = -0.6; }, 2238, -8},
        Spoilt{"NegativeZero", [](auto& r, auto&) { r.xZero = -0.1, r.xStart = 0.5; }, 2239, -9},
        Spoilt{"YMinAboveYMax", [](auto& r, auto&) { r.yMin = 10, r.yMax = 5; }, 2240, -10},
        Spoilt{"Autoscale2", [](auto& r, auto&) { r.autoscale = 2; }, 2241, -11},
        Spoilt{"AutoAcquire2", [](auto& r, auto&) { r.autoAcquire = 2; }, 2242, -12},
        Spoilt{"FilterMinus1", [](auto& r, auto&) { r.filter = -1; }, 2243, -13},
        Spoilt{"FilterWidth0", [](auto& r, auto&) { r.filterWidth = 0; }, 2244, -14},
        Spoilt{"Mode4", [](auto& r, auto&) { r.mode = 4; }, 2245, -15},
        Spoilt{"Stimulus10", [](auto& r, auto&) { r.stimulus = 10; }, 2246, -16},
        Spoilt{"Sampler20", [](auto& r, auto&) { r.sampler = 20; }, 2247, -17},
        Spoilt{"Differential2", [](auto& r, auto&) { r.diff = 2; }, 2248, -18},
        Spoilt{"Calibration2", [](auto& r, auto&) { r.cal = 2; }, 2249, -19},
        // Values that cannot be read are rejected by the check of their line.
        Spoilt{"LastLineMissing",
               [](auto&, auto& t) {
                   t = formatSettings(validRecord());
                   t.resize(t.rfind("USER_FILTERWIDTH"));
               },
               2244, -14},
        Spoilt{"DielectricNotANumber", [](auto&, auto& t) { line(t, 6, "USER_DIELK\tabc;"); }, 2234,
               -4},
        Spoilt{"DielectricInfinite", [](auto&, auto& t) { line(t, 6, "USER_DIELK\tinf;"); }, 2234,
               -4},
        Spoilt{"EndNaN", [](auto&, auto& t) { line(t, 4, "USER_XEND\tnan;"); }, 2238, -8},
        Spoilt{"OverlongLine",
               [](auto&, auto& t) { line(t, 3, "USER_XSTART\t0.5" + std::string(200, '0') + ";"); },
               2237, -7}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FileTest, EqualYLimitsAndAStartDownToMinusTheZeroAreAccepted) {
    SettingsRecord r = validRecord();
    r.yMin = r.yMax = 100;
    r.autoscale = 0;
    r.xZero = 0.5;
    r.xStart = -0.5;
    r.autoAcquire = 0;
    spit(kAutosaveFile, formatSettings(r));
    markLog();
    EXPECT_EQ(loadSettings(1), 1);
    EXPECT_EQ(newLog(), "> Settings file loaded successfully.\n");
    EXPECT_DOUBLE_EQ(getYMin(), 100);
    EXPECT_DOUBLE_EQ(getYMax(), 100);
    EXPECT_DOUBLE_EQ(xZero.load(), 0.5);
    // The fields accept down to minus the zero and are marked as offset.
    double lo = 0, hi = 0;
    panel().range(PANEL_XSTART, lo, hi);
    EXPECT_DOUBLE_EQ(lo, -0.5);
    EXPECT_EQ(panel().textBgColor(PANEL_XEND), platform::makeColor(233, 233, 113));
    EXPECT_EQ(getAutoAcquire(), 0);
}

TEST_F(FileTest, CancelledDialogsChangeNothingButTheFirstOneUsesTheSettingsFolder) {
    defaultSaveSettings.store(1);
    leaveDefaults();
    markLog();
    EXPECT_EQ(loadSettings(0), 0);
    EXPECT_EQ(saveSettings(0), 0);
    EXPECT_EQ(newLog(), "");
    EXPECT_EQ(defaultSaveSettings.load(), 0);
    const auto shown = popups().shown();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].folder + "|" + shown[0].title + "|" + shown[0].defaultName + "|" +
                  shown[0].typeList,
              "settings|Select File to Load|*.ini|Configuration File (*.ini)");
    EXPECT_EQ(shown[1].folder + "|" + shown[1].title + "|" + shown[1].defaultName,
              "|Select File to Save|.ini");
    EXPECT_EQ(xUnits.load(), 1);
    // A chosen file that cannot be read changes nothing either: no reset.
    popups().pushFile("missing.ini");
    EXPECT_EQ(loadSettings(0), -2);
    EXPECT_EQ(newLog(), "> ERROR #2232: Could not read settings file.\n");
    EXPECT_EQ(xUnits.load(), 1);
}

// Writes that fail part-way: the file that was there before stays whole.
class FullDisk : public FileTest, public testing::WithParamInterface<bool> {};

TEST_P(FullDisk, IsReportedAndThePreviousFileStaysWhole) {
    const bool autosave = GetParam();
    ASSERT_EQ(saveSettings(1), 1);
    const std::string before = slurp(kAutosaveFile);
    leaveDefaults();
    markLog();
    int result = 0;
    if (autosave) {
        // A disk with room for 64 more bytes: the limit makes every larger write fail.
        rlimit old{};
        getrlimit(RLIMIT_FSIZE, &old);
        rlimit tight = old;
        tight.rlim_cur = 64;
        auto previous = std::signal(SIGXFSZ, SIG_IGN);
        setrlimit(RLIMIT_FSIZE, &tight);
        result = saveSettings(1);
        setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, previous);
    } else {
        popups().pushFile("/dev/full");
        result = saveSettings(0);
    }
    EXPECT_EQ(result, -3);
    EXPECT_EQ(newLog(), "> ERROR #2213: Could not write settings file.\n");
    EXPECT_EQ(slurp(kAutosaveFile), before);
    // No temporary file is left beside it.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator("."), {}), 1);
}

INSTANTIATE_TEST_SUITE_P(Writes, FullDisk, testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Autosave" : "DevFull"; });

// Start, change the set-up as a user does, exit; start again: it is all back.
TEST(SettingsStory, TheSetUpSurvivesARestart) {
    char tmpl[] = "/tmp/velt_restart_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(tmpl);
    simulator::SimulatedInstrument sim;
    auto run = [&sim](std::function<void()> inside) {
        testing_support::freshPanel();
        testing_support::resetEnvironment();
        platform::setSerialDevice(&sim);
        platform::setEventLoop(nullptr);
        platform::headlessEventLoop().post([inside] {
            inside();
            onExit(MENUBAR, MENUBAR_FILE_EXIT, nullptr, PANEL);
        });
        EXPECT_EQ(veltMain(), 0);
        platform::asyncTimer().resume();
    };
    run([] {
        // The first start has no user.ini and says so.
        EXPECT_NE(
            panel()
                .text(PANEL_MESSAGE)
                .find("> ERROR #2231: Previous settings file not found. Reverting to defaults.\n"
                      "> Settings successfully reset to defaults.\n"),
            std::string::npos);
        onSetXUnitsFt(MENUBAR, MENUBAR_XUNITS_X2, nullptr, PANEL);
        panel().setValue(PANEL_XSTART, 1.0);
        panel().setValue(PANEL_XEND, 6.5);
        onSetWindow(PANEL, PANEL_XEND, EVENT_COMMIT, nullptr, 0, 0);
        panel().ringSetValue(PANEL_STIMULUS, 3);
        onSetStimulus(PANEL, PANEL_STIMULUS, EVENT_COMMIT, nullptr, 0, 0);
        panel().setValue(PANEL_AUTOACQUIRE, 0);
        onSetAutoAcquire(PANEL, PANEL_AUTOACQUIRE, EVENT_COMMIT, nullptr, 0, 0);
    });
    run([] {});
    EXPECT_EQ(xUnits.load(), 1);
    EXPECT_TRUE(panel().menuChecked(MENUBAR_XUNITS_X2));
    EXPECT_NEAR(getXStart(), 1.0, 1e-5);
    EXPECT_NEAR(getXEnd(), 6.5, 1e-5);
    EXPECT_EQ(getStimulus(), 3);
    EXPECT_EQ(getSampler(), 6);
    EXPECT_EQ(getAutoAcquire(), 0);
    EXPECT_NE(panel().text(PANEL_MESSAGE).find("> Settings file loaded successfully.\n"),
              std::string::npos);
    platform::setSerialDevice(nullptr);
    std::filesystem::current_path(previous);
    std::filesystem::remove_all(tmpl);
}

} // namespace

// The settings file: its exact format, every check with its own code and the reset after it,
// a failed write that keeps the previous file, and a set-up that survives a restart.
#include "files/settings_file.h"
#include "panel/callbacks.h"
#include "panel/panel_state.h"
#include "panel/settings.h"
#include "panel/settings_io.h"
#include "panel/timer.h"
#include "panel/units.h"
#include "platform/async_timer.h"
#include "platform/event_loop.h"
#include "tests/support/file_test.h"

#include <functional>

namespace {

using platform::panel;
using testing_support::FileTest;

const std::string kValid = "USER_MODEL\t\t\tQSB020;\nUSER_YUNITS\t\t\t0;\nUSER_XUNITS\t\t\t0;\n"
                           "USER_XSTART\t\t\t0.50000;\nUSER_XEND\t\t\t1000.12347;\n"
                           "USER_XZERO\t\t\t0.00000;\nUSER_DIELK\t\t\t2.25000;\n"
                           "USER_YMIN\t\t\t-0.00000;\nUSER_YMAX\t\t\t250.00000;\n"
                           "USER_AUTOSCALE\t\t\t1;\nUSER_CAL\t\t\t1;\nUSER_MODE\t\t\t0;\n"
                           "USER_DIFF\t\t\t0;\nUSER_STIMULUS\t\t\t2;\nUSER_SAMPLER\t\t\t5;\n"
                           "USER_AUTOACQ\t\t\t0;\nUSER_FILTER\t\t\t0;\nUSER_FILTERWIDTH\t\t35;\n";

// Something other than the defaults, so a reset shows.
void leaveDefaults() {
    setXUnits(XUnit::Feet);
    setDiel(4.0);
    setAutoAcquire(0);
    setFilterWidth(60);
}

TEST_F(FileTest, SettingsAreWrittenLineByLineAtSinglePrecisionAndReadByPosition) {
    SettingsRecord r;
    r.model = "QSB020";
    r.xStart = 0.5, r.xEnd = 1000.123456, r.dielK = 2.25, r.yMin = -0.0, r.yMax = 250;
    r.autoscale = 1, r.cal = 1, r.stimulus = 2, r.sampler = 5, r.filterWidth = 35;
    EXPECT_EQ(formatSettings(r), kValid); // 1000.123456 as a float is 1000.12347, not ...46
    // Read back with CR LF line ends and blanks instead of tabs.
    std::string text = kValid;
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
    int line;          // 0-based
    const char* value; // nullptr: the line is missing
    int code;
};

void PrintTo(const Spoilt& s, std::ostream* os) {
    *os << s.name;
}

// 200 more characters than a line may hold; its first 127 would read as 0.5.
const std::string kLongValue = "0.5" + std::string(200, '0');

class SettingsRejection : public FileTest, public testing::WithParamInterface<Spoilt> {};

TEST_P(SettingsRejection, ShowsItsOwnCodeThenResetsToDefaults) {
    std::string text = kValid;
    std::size_t b = 0;
    for (int i = 0; i < GetParam().line; ++i) b = text.find('\n', b) + 1;
    const std::size_t e = text.find('\n', b);
    if (GetParam().value)
        text.replace(text.find_last_of('\t', e) + 1, e - text.find_last_of('\t', e) - 2,
                     GetParam().value);
    else
        text.erase(b);
    spit(kAutosaveFile, text);
    leaveDefaults();
    markLog();

    EXPECT_EQ(loadSettings(1), -(GetParam().code - 2230));
    const int code = GetParam().code;
    const std::string why =
        code == 2251   ? "Stored settings do not match current instrument. Reverting to defaults"
        : code == 2250 ? "Cannot start program in frequency domain. Reverting to time domain."
                       : "Error loading settings file. Reverting to defaults.";
    EXPECT_EQ(newLog(), "> ERROR #" + std::to_string(code) + ": " + why +
                            "\n> Settings successfully reset to defaults.\n");
    EXPECT_EQ(view.xUnits.load(), XUnit::Metres);
    EXPECT_DOUBLE_EQ(view.xEnd.load(), 3.0);
    EXPECT_DOUBLE_EQ(view.dielK.load(), 2.23);
    EXPECT_EQ(getAutoAcquire(), 1);
    EXPECT_EQ(getFilterWidth(), 35);
    EXPECT_EQ(panel().xAxisName(), "ROUNDTRIP (m)");
}

INSTANTIATE_TEST_SUITE_P(
    EveryCheck, SettingsRejection,
    testing::Values(Spoilt{"OtherModel", 0, "QSA004", 2251}, Spoilt{"NoDielectric", 6, "0", 2234},
                    Spoilt{"GHz", 2, "4", 2250}, Spoilt{"Decibel", 1, "5", 2250},
                    Spoilt{"RawUnit", 1, "4", 2235}, Spoilt{"Inches", 2, "3", 2236},
                    Spoilt{"StartBelowMinusZero", 3, "-0.1", 2237},
                    Spoilt{"EndBelowMinusZero", 4, "-0.1", 2238},
                    Spoilt{"NegativeZero", 5, "-0.1", 2239},
                    Spoilt{"YMinAboveYMax", 7, "251", 2240}, Spoilt{"Autoscale2", 9, "2", 2241},
                    Spoilt{"AutoAcquire2", 15, "2", 2242}, Spoilt{"FilterMinus1", 16, "-1", 2243},
                    Spoilt{"FilterWidth0", 17, "0", 2244}, Spoilt{"Mode4", 11, "4", 2245},
                    Spoilt{"Stimulus10", 13, "10", 2246}, Spoilt{"Sampler20", 14, "20", 2247},
                    Spoilt{"Differential2", 12, "2", 2248}, Spoilt{"Calibration2", 10, "2", 2249},
                    // A value that cannot be read is refused by the check of its line.
                    Spoilt{"LastLineMissing", 17, nullptr, 2244},
                    Spoilt{"DielectricNotANumber", 6, "abc", 2234},
                    Spoilt{"DielectricInfinite", 6, "inf", 2234}, Spoilt{"EndNaN", 4, "nan", 2238},
                    Spoilt{"IntegerWithDecimals", 9, "1.5", 2241},
                    Spoilt{"OverlongLine", 3, kLongValue.c_str(), 2237}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FileTest, EqualYLimitsAndAStartDownToMinusTheZeroAreAccepted) {
    std::string text = kValid;
    text.replace(text.find("-0.00000"), 8, "250.00000"); // ymin = ymax
    text.replace(text.find("XZERO\t\t\t0.00000"), 15, "XZERO\t\t\t0.50000");
    text.replace(text.find("XSTART\t\t\t0.50000"), 16, "XSTART\t\t\t-0.50000");
    spit(kAutosaveFile, text);
    markLog();
    EXPECT_EQ(loadSettings(1), 1);
    EXPECT_EQ(newLog(), "> Settings file loaded successfully.\n");
    EXPECT_EQ(getYMin(), getYMax());
    EXPECT_DOUBLE_EQ(view.xZero.load(), 0.5);
    double lo = 0, hi = 0;
    panel().range(PANEL_XSTART, lo, hi);
    EXPECT_DOUBLE_EQ(lo, -0.5); // the fields accept down to minus the zero, marked as offset
    EXPECT_EQ(panel().textBgColor(PANEL_XEND), platform::makeColor(233, 233, 113));
    EXPECT_EQ(getSampler(), 5);
}

TEST_F(FileTest, CancelledDialogsChangeNothingButTheFirstOneUsesTheSettingsFolder) {
    panelState.defaultSaveSettings.store(1);
    leaveDefaults();
    markLog();
    EXPECT_EQ(loadSettings(0), 0);
    EXPECT_EQ(saveSettings(0), 0);
    const auto shown = popups().shown();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].folder + "|" + shown[0].title + "|" + shown[0].defaultName + "|" +
                  shown[0].typeList,
              "settings|Select File to Load|*.ini|Configuration File (*.ini)");
    EXPECT_EQ(shown[1].folder + "|" + shown[1].title + "|" + shown[1].defaultName,
              "|Select File to Save|.ini");
    // A chosen file that cannot be read changes nothing either: no reset.
    popups().pushFile("missing.ini");
    EXPECT_EQ(loadSettings(0), -2);
    EXPECT_EQ(newLog(), "> ERROR #2232: Could not read settings file.\n");
    EXPECT_EQ(view.xUnits.load(), XUnit::Feet);
}

class FullDisk : public FileTest, public testing::WithParamInterface<bool> {};

TEST_P(FullDisk, IsReportedAndThePreviousFileStaysWhole) {
    ASSERT_EQ(saveSettings(1), 1);
    const std::string before = slurp(kAutosaveFile);
    leaveDefaults();
    markLog();
    int result = 0;
    if (GetParam()) {
        result = testing_support::onAFullDisk([] { return saveSettings(1); });
    } else {
        popups().pushFile("/dev/full");
        result = saveSettings(0);
    }
    EXPECT_EQ(result, -3);
    EXPECT_EQ(newLog(), "> ERROR #2213: Could not write settings file.\n");
    EXPECT_EQ(slurp(kAutosaveFile), before);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator("."), {}), 1); // no leftovers
}

INSTANTIATE_TEST_SUITE_P(Writes, FullDisk, testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Autosave" : "DevFull"; });

// A folder that cannot be written (here: one that is not there; as root no permission stops a
// write) and a user.ini that cannot be replaced are refused with their own codes.
TEST_F(FileTest, AnUnwritablePlaceIsNamedAndNothingIsWritten) {
    markLog();
    popups().pushFile("no/such/folder/s.ini");
    EXPECT_EQ(saveSettings(0), -2);
    std::filesystem::create_directory(kAutosaveFile); // not a file that can be replaced
    EXPECT_EQ(saveSettings(1), -1);
    EXPECT_EQ(newLog(), "> ERROR #2212: Could not open settings file.\n"
                        "> ERROR #2211: Could not open autosave file.\n");
    EXPECT_TRUE(std::filesystem::is_directory(kAutosaveFile));
}

// Start, change the set-up as a user does, exit; start again: it is all back.
TEST(SettingsStory, TheSetUpSurvivesARestart) {
    char tmpl[] = "/tmp/velt_restart_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(tmpl);
    simulator::SimulatedInstrument sim;
    auto run = [&sim](std::function<void()> inside) {
        testing_support::freshPanel();
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
        EXPECT_NE(
            panel()
                .text(PANEL_MESSAGE)
                .find("> ERROR #2231: Previous settings file not found. Reverting to defaults.\n"
                      "> Settings successfully reset to defaults.\n"),
            std::string::npos);
        onSetXUnits(MENUBAR, MENUBAR_XUNITS_X2, nullptr, PANEL);
        panel().setValue(PANEL_XSTART, 1.0);
        panel().setValue(PANEL_XEND, 6.5);
        onSetWindow(PANEL, PANEL_XEND, EVENT_COMMIT, nullptr, 0, 0);
        panel().ringSetValue(PANEL_STIMULUS, 8); // PORT 2, CH 4: samplers 16 and 17
        onSetStimulus(PANEL, PANEL_STIMULUS, EVENT_COMMIT, nullptr, 0, 0);
        panel().setValue(PANEL_AUTOACQUIRE, 0);
        onSetAutoAcquire(PANEL, PANEL_AUTOACQUIRE, EVENT_COMMIT, nullptr, 0, 0);
    });
    run([] {});
    EXPECT_TRUE(panel().menuChecked(MENUBAR_XUNITS_X2));
    EXPECT_NEAR(getXStart(), 1.0, 1e-5);
    EXPECT_NEAR(getXEnd(), 6.5, 1e-5);
    EXPECT_EQ(getStimulus(), 8);
    EXPECT_EQ(getSampler(), 16);
    EXPECT_EQ(getAutoAcquire(), 0);
    platform::setSerialDevice(nullptr);
    std::filesystem::current_path(previous);
    std::filesystem::remove_all(tmpl);
}

} // namespace

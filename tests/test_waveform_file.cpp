// Stored waveform files: the exact format, a recall that overlays the stored trace in the
// stored settings, and every damaged or foreign file refused with nothing changed.
#include "acquisition/acquire.h"
#include "acquisition/timebase.h"
#include "app/settings.h"
#include "files/waveform_file.h"
#include "panel/ports.h"
#include "panel/units.h"
#include "tests/support/file_test.h"

#include <cmath>
#include <functional>

namespace {

using platform::panel;
using testing_support::FileTest;

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::stringstream in(text);
    for (std::string l; std::getline(in, l);) out.push_back(l);
    return out;
}

class WaveformFile : public FileTest {
  protected:
    void SetUp() override {
        FileTest::SetUp();
        defaultSaveWaveform.store(1);
        for (std::size_t i = 0; i < 1024; ++i) {
            wfmDataX[i] = 0.003 * static_cast<double>(i);
            wfmDataCombined[i] = 100.0 * std::sin(0.01 * static_cast<double>(i));
        }
        wfmDataCombined[7] = -0.000004; // written as -0.00000
        setYMinMax(-100, 200);
        WfmActive.store(panel().plotXY(wfmDataX.data(), wfmDataCombined.data(), 1024,
                                       kLiveTraceColor, kLiveTraceStyle, 0));
    }
    // A good time-domain file: metres, mV, 0.5 to 2.5 m, zero 0.25, the y range -100 to 200.
    static StoredSettings goodSettings() {
        StoredSettings s;
        s.xStart = 0.5, s.xEnd = 2.5, s.xZero = 0.25, s.dielK = 4.0;
        s.yMin = -100, s.yMax = 200;
        s.stimulus = 2, s.sampler = 5, s.filter = 1, s.filterWidth = 50;
        return s;
    }
    static std::string fileText(const StoredSettings& s) {
        return std::string(kStoredLabelLine) + formatStoredSettings(s) +
               formatStoredPoints(wfmDataX, wfmDataCombined);
    }
    int recall(const std::string& text) {
        spit("w.velt", text);
        popups().pushFile("w.velt");
        markLog();
        return recallWaveform();
    }
    // What a refused recall must leave exactly as it was.
    static std::string state() {
        std::ostringstream s;
        s << xUnits << ' ' << yUnits << ' ' << xStart << ' ' << xEnd << ' ' << xZero << ' ' << dielK
          << ' ' << getStimulus() << ' ' << getSampler() << ' ' << getFilter() << ' ' << WfmStored
          << ' ' << WfmActive << ' ' << panel().dimmed(PANEL_XSTART) << ' '
          << panel().menuDimmed(MENUBAR_FILE_STORE) << ' ' << getAutoscale();
        return s.str();
    }
};

TEST_F(WaveformFile, StoreWritesLabelsValuesAndPointsLineByLine) {
    panel().setText(PANEL_SERIAL, "AB (1)-c");
    xZero.store(0.25);
    popups().pushFile("a.velt");
    markLog();
    EXPECT_EQ(storeWaveform(), 1);
    EXPECT_EQ(newLog(), "> VELT file saved successfully.\n");
    EXPECT_EQ(popups().shown().at(0).typeList, "VELT Waveform (*.velt)");

    const auto l = lines(slurp("a.velt"));
    ASSERT_EQ(l.size(), 1026u);
    EXPECT_EQ(l[0], "xUnits,yUnits,xStart,xEnd,xZero,dielK,ymax,ymin,mode,differential,"
                    "stimulus,sampler,filter,filterWidth");
    // Field 7 is the lower limit although the label line names ymax first.
    EXPECT_EQ(l[1], "0,0,0.00000,3.00000,0.25000,2.25000,-100.00000,200.00000,0,0,2,4,0,200");
    EXPECT_EQ(l[2], "0.00000, 0.00000");
    EXPECT_EQ(l[9], "0.02100, -0.00000");
    EXPECT_EQ(l[1025], "3.06900, -72.09845");
}

TEST_F(WaveformFile, StoreOntoAFullDiskIsReportedNotCalledASuccess) {
    popups().pushFile("/dev/full");
    markLog();
    EXPECT_EQ(storeWaveform(), -3);
    EXPECT_EQ(newLog(), "> ERROR #2173: Could not write header labels.\n");
}

TEST_F(WaveformFile, RecallOverlaysTheStoredTraceInItsSettingsAndClearGivesTheControlsBack) {
    wfmDataCombined[100] = std::numeric_limits<double>::infinity(); // an unconnected channel
    const std::string text = fileText(goodSettings());
    setXUnits(1);
    ASSERT_EQ(recall(text), 1);
    EXPECT_EQ(newLog(), "> VELT file retrieved successfully.\n");
    EXPECT_TRUE(panel().menuChecked(MENUBAR_XUNITS_X1));
    EXPECT_NEAR(getXStart(), 0.25, 1e-9); // shown relative to the file's zero of 0.25
    EXPECT_NEAR(getXEnd(), 2.25, 1e-9);
    EXPECT_DOUBLE_EQ(dielK.load(), 4.0);
    EXPECT_EQ(getSampler(), 5);
    EXPECT_EQ(panel().textBgColor(PANEL_XSTART), platform::makeColor(233, 233, 113));
    // The vertical axis spans field 7 to field 8, the fields show the same.
    double lo = 0, hi = 0;
    panel().yRange(lo, hi);
    EXPECT_EQ(std::make_pair(lo, hi), std::make_pair(-100.0, 200.0));
    EXPECT_EQ(std::make_pair(getYMin(), getYMax()), std::make_pair(-100.0, 200.0));
    // One trace, the stored one, red-magenta; the live trace comes back with the next cycle.
    const auto graph = panel().snapshot().graph;
    int shown = 0;
    for (const auto& p : graph.plots)
        if (p.handle != 0) {
            ++shown;
            EXPECT_EQ(p.handle, WfmStored.load());
            EXPECT_EQ(p.color, platform::makeColor(233, 113, 233));
            EXPECT_EQ(p.count, 1024);
            EXPECT_DOUBLE_EQ(p.x[1023], 3.069);
            EXPECT_TRUE(std::isinf(p.y[100]));
        }
    EXPECT_EQ(shown, 1);
    EXPECT_EQ(WfmActive.load(), 0);
    EXPECT_EQ(getAutoscale(), 0);
    for (int id :
         {PANEL_MODE, PANEL_DIFFERENTIAL, PANEL_XEND, PANEL_XSTART, PANEL_DIEL, PANEL_FILTER,
          PANEL_FILTERWIDTH, PANEL_ZOOM, PANEL_RESETZOOM, PANEL_YMAX, PANEL_YMIN, PANEL_AUTOSCALE})
        EXPECT_TRUE(panel().dimmed(id)) << id;
    EXPECT_FALSE(panel().dimmed(PANEL_STIMULUS));
    for (int id : {MENUBAR_FILE_STORE, MENUBAR_FILE_RESETSETTINGS, MENUBAR_XUNITS, MENUBAR_YUNITS,
                   MENUBAR_CAL_SETZERO, MENUBAR_CAL_RESETZERO})
        EXPECT_TRUE(panel().menuDimmed(id)) << id;
    EXPECT_FALSE(panel().menuDimmed(MENUBAR_FILE_CLEAR));

    markLog();
    EXPECT_EQ(clearWaveform(), 1);
    EXPECT_EQ(newLog(), "> Stored VELT cleared from plot.\n");
    EXPECT_EQ(WfmStored.load(), 0);
    EXPECT_EQ(getAutoscale(), 1);
    EXPECT_FALSE(panel().dimmed(PANEL_XSTART));
    EXPECT_TRUE(panel().dimmed(PANEL_YMIN));
    EXPECT_FALSE(panel().menuDimmed(MENUBAR_XUNITS));
    EXPECT_TRUE(panel().menuDimmed(MENUBAR_FILE_CLEAR));
}

TEST_F(WaveformFile, AFrequencyDomainRecallEndsTheWindowAtTheLastFrequency) {
    xUnits.store(4);
    yUnits.store(5);
    StoredSettings s = goodSettings();
    s.xUnits = 4, s.yUnits = 5, s.xZero = 0, s.xStart = 0, s.xEnd = 10;
    s.xEnd = 2.4;
    for (std::size_t i = 0; i < 1024; ++i) wfmDataX[i] = 0.002 * static_cast<double>(i);
    ASSERT_EQ(recall(fileText(s)), 1);
    EXPECT_DOUBLE_EQ(xEnd.load(), 2.046);
    EXPECT_NEAR(getXEnd(), 2.046, 1e-9);
}

struct Domain {
    const char* name;
    int fileUnits, programUnits;
    const char* title;
    int result;
};

void PrintTo(const Domain& d, std::ostream* os) {
    *os << d.name;
}

class RecallDomain : public WaveformFile, public testing::WithParamInterface<Domain> {};

TEST_P(RecallDomain, AcrossDomainsIsRefusedWithABoxAndChangesNothing) {
    StoredSettings s = goodSettings();
    s.xUnits = GetParam().fileUnits;
    s.yUnits = s.xUnits == 4 ? 5 : 0;
    xUnits.store(GetParam().programUnits);
    yUnits.store(GetParam().programUnits == 4 ? 5 : 0);
    const std::string before = state();
    EXPECT_EQ(recall(fileText(s)), GetParam().result);
    EXPECT_EQ(state(), before);
    EXPECT_EQ(newLog(), "");
    const auto shown = popups().shown();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[1].title, GetParam().title);
    const std::string domain = GetParam().result == -3 ? "Frequency" : "Time";
    EXPECT_EQ(shown[1].text, "Stored waveform is in the " + domain +
                                 " Domain and cannot be loaded with the current settings.\n"
                                 "Please switch to the " +
                                 domain + " Domain and try loading the waveform again.");
}

INSTANTIATE_TEST_SUITE_P(Both, RecallDomain,
                         testing::Values(Domain{"FrequencyFile", 4, 0, "ERROR #2193", -3},
                                         Domain{"TimeFile", 2, 4, "ERROR #2194", -4}),
                         [](const auto& info) { return std::string(info.param.name); });

struct Damage {
    const char* name;
    std::function<void(std::string&)> spoil;
    std::string message;
    int result;
};

void PrintTo(const Damage& d, std::ostream* os) {
    *os << d.name;
}

class DamagedFile : public WaveformFile, public testing::WithParamInterface<Damage> {};

TEST_P(DamagedFile, IsRefusedWithItsReasonAndChangesNothing) {
    std::string text = fileText(goodSettings());
    GetParam().spoil(text);
    const std::string before = state();
    EXPECT_EQ(recall(text), GetParam().result);
    EXPECT_EQ(newLog(), GetParam().message + "\n");
    EXPECT_EQ(state(), before);
}

// Replaces line n (1-based) of a file.
std::function<void(std::string&)> lineIs(int n, std::string replacement) {
    return [n, replacement](std::string& t) {
        std::size_t b = 0;
        for (int i = 1; i < n; ++i) b = t.find('\n', b) + 1;
        t.replace(b, t.find('\n', b) - b, replacement);
    };
}

const std::string kBadValues =
    "> ERROR #2196: Stored VELT file has settings out of range in line 2. Nothing was changed.";
const std::string kUnreadable =
    "> ERROR #2196: Stored VELT file has unreadable settings in line 2. Nothing was changed.";
std::string badPoint(int line) {
    return "> ERROR #2197: Stored VELT file has a missing or unreadable point in line " +
           std::to_string(line) + ". Nothing was changed.";
}

INSTANTIATE_TEST_SUITE_P(
    Files, DamagedFile,
    testing::Values(
        Damage{"UnitCode7", lineIs(2, "7,0,0.5,2.5,0,4,-100,200,0,0,2,5,1,50"), kBadValues, -6},
        Damage{"Sampler42", lineIs(2, "0,0,0.5,2.5,0,4,-100,200,0,0,2,42,1,50"), kBadValues, -6},
        Damage{"DecibelOverMetres", lineIs(2, "0,5,0.5,2.5,0,4,-100,200,0,0,2,5,1,50"), kBadValues,
               -6},
        Damage{"NoDielectric", lineIs(2, "0,0,0.5,2.5,0,0,-100,200,0,0,2,5,1,50"), kBadValues, -6},
        Damage{"YRangeUpsideDown", lineIs(2, "0,0,0.5,2.5,0,4,200,-100,0,0,2,5,1,50"), kBadValues,
               -6},
        Damage{"ThirteenFields", lineIs(2, "0,0,0.5,2.5,0,4,-100,200,0,0,2,5,1"), kUnreadable, -6},
        Damage{"InfiniteEnd", lineIs(2, "0,0,0.5,inf,0,4,-100,200,0,0,2,5,1,50"), kUnreadable, -6},
        Damage{"Truncated",
               [](std::string& t) {
                   std::size_t end = 0;
                   for (int i = 0; i < 499; ++i) end = t.find('\n', end) + 1;
                   t.resize(end);
               },
               badPoint(500), -7},
        Damage{"Semicolon", lineIs(3, "0.0; 1.0"), badPoint(3), -7},
        Damage{"XNotANumber", lineIs(1026, "nan, 1.0"), badPoint(1026), -7},
        Damage{"OverlongPoint", lineIs(40, "0.1, 1" + std::string(200, '0')), badPoint(40), -7},
        // Stimulus 2 has no sampler 10 in reflection.
        Damage{"ForeignSampler", lineIs(2, "0,0,0.5,2.5,0,4,-100,200,0,0,2,10,1,50"),
               "> ERROR #2198: Stored VELT file uses a mode or port this instrument does not "
               "have. Nothing was changed.",
               -8}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace

// Stored waveform files: the exact format, a recall that overlays the stored trace in the
// stored settings, and every damaged or foreign file refused with nothing changed.
#include "acquisition/acquire.h"
#include "files/waveform_file.h"
#include "panel/panel_state.h"
#include "panel/settings.h"
#include "panel/units.h"
#include "panel/waveform_io.h"
#include "tests/support/file_test.h"

#include <cmath>

namespace {

using platform::panel;
using testing_support::FileTest;

// Replaces line n (1-based) of a file; a negative n keeps only the lines before -n.
std::string edited(std::string t, int n, const std::string& replacement) {
    std::size_t b = 0;
    for (int i = 1; i < std::abs(n); ++i) b = t.find('\n', b) + 1;
    if (n < 0) return t.substr(0, b);
    return t.replace(b, t.find('\n', b) - b, replacement);
}

class WaveformFile : public FileTest {
  protected:
    void SetUp() override {
        FileTest::SetUp();
        for (std::size_t i = 0; i < 1024; ++i) {
            instrument.recordX[i] = 0.003 * static_cast<double>(i);
            liveTrace.y[i] = 100.0 * std::sin(0.01 * static_cast<double>(i));
        }
        liveTrace.y[7] = -0.000004; // written as -0.00000
        setYMinMax(-100, 200);
        panelState.livePlot.store(panel().plotXY(instrument.recordX.data(), liveTrace.y.data(),
                                                 1024, kLiveTraceColor, kLiveTraceStyle, 0));
    }
    // Metres, mV, 0.5 to 2.5 m with a zero of 0.25, K 4, -100 to 200 mV, stimulus 2, sampler 5,
    // filter 50 ps: all different from the program's state.
    static std::string goodFile(const char* line2 = "0,0,0.5,2.5,0.25,4,-100,200,0,0,2,5,1,50") {
        return std::string(kStoredLabelLine) + line2 + "\n" +
               formatStoredPoints(instrument.recordX, liveTrace.y);
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
        s << code(view.xUnits.load()) << code(view.yUnits.load()) << ' ' << view.xStart << ' '
          << view.xEnd << ' ' << view.xZero << ' ' << view.dielK << getStimulus() << getSampler()
          << getFilter() << panelState.storedPlot << panelState.livePlot
          << panel().dimmed(PANEL_XSTART) << panel().menuDimmed(MENUBAR_FILE_STORE)
          << getAutoscale() << panel().plotCount(panelState.livePlot.load());
        return s.str();
    }
};

TEST_F(WaveformFile, StoreWritesLabelsValuesAndPointsLineByLine) {
    view.xZero.store(0.25);
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

TEST_F(WaveformFile, RecallOverlaysTheStoredTraceInItsSettingsAndClearGivesTheControlsBack) {
    liveTrace.y[100] = std::numeric_limits<double>::infinity(); // an unconnected channel
    const std::string text = goodFile();
    setXUnits(XUnit::Feet);
    ASSERT_EQ(recall(text), 1);
    EXPECT_EQ(newLog(), "> VELT file retrieved successfully.\n");
    EXPECT_TRUE(panel().menuChecked(MENUBAR_XUNITS_X1));
    EXPECT_NEAR(getXStart(), 0.25, 1e-9); // shown relative to the file's zero of 0.25
    EXPECT_NEAR(getXEnd(), 2.25, 1e-9);
    EXPECT_EQ(panel().textBgColor(PANEL_XSTART), platform::makeColor(233, 233, 113));
    EXPECT_DOUBLE_EQ(view.dielK.load(), 4.0);
    EXPECT_EQ(getSampler(), 5);
    // The vertical axis spans field 7 to field 8, and the fields show the same.
    double lo = 0, hi = 0;
    panel().yRange(lo, hi);
    EXPECT_EQ(std::make_pair(lo, hi), std::make_pair(-100.0, 200.0));
    EXPECT_EQ(std::make_pair(getYMin(), getYMax()), std::make_pair(-100.0, 200.0));
    // One trace, the stored one, red-magenta; the live one comes back with the next cycle.
    EXPECT_EQ(panelState.livePlot.load(), 0);
    std::vector<double> x, y;
    panel().plotData(panelState.storedPlot.load(), x, y);
    ASSERT_EQ(y.size(), 1024u);
    EXPECT_DOUBLE_EQ(x[1023], 3.069);
    EXPECT_TRUE(std::isinf(y[100]));
    for (const auto& p : panel().snapshot().graph.plots)
        if (p.handle != 0) {
            EXPECT_EQ(p.color, platform::makeColor(233, 113, 233));
        }
    EXPECT_EQ(getAutoscale(), 0);
    for (int id :
         {PANEL_MODE, PANEL_DIFFERENTIAL, PANEL_XEND, PANEL_XSTART, PANEL_DIEL, PANEL_FILTER,
          PANEL_FILTERWIDTH, PANEL_ZOOM, PANEL_RESETZOOM, PANEL_YMAX, PANEL_YMIN, PANEL_AUTOSCALE})
        EXPECT_TRUE(panel().dimmed(id)) << id;
    for (int id : {MENUBAR_FILE_STORE, MENUBAR_FILE_RESETSETTINGS, MENUBAR_XUNITS, MENUBAR_YUNITS,
                   MENUBAR_CAL_SETZERO, MENUBAR_CAL_RESETZERO})
        EXPECT_TRUE(panel().menuDimmed(id)) << id;
    EXPECT_FALSE(panel().menuDimmed(MENUBAR_FILE_CLEAR) || panel().dimmed(PANEL_STIMULUS));

    markLog();
    clearWaveform();
    EXPECT_EQ(newLog(), "> Stored VELT cleared from plot.\n");
    EXPECT_EQ(panelState.storedPlot.load(), 0);
    EXPECT_EQ(getAutoscale(), 1);
    EXPECT_FALSE(panel().dimmed(PANEL_XSTART) || panel().menuDimmed(MENUBAR_XUNITS));
    EXPECT_TRUE(panel().dimmed(PANEL_YMIN) && panel().menuDimmed(MENUBAR_FILE_CLEAR));
}

TEST_F(WaveformFile, AFrequencyDomainRecallEndsTheWindowAtTheLastFrequency) {
    view.xUnits.store(XUnit::GHz);
    view.yUnits.store(YUnit::Decibels);
    for (std::size_t i = 0; i < 1024; ++i) instrument.recordX[i] = 0.002 * static_cast<double>(i);
    ASSERT_EQ(recall(goodFile("4,5,0,2.4,0,4,-100,200,0,0,2,5,1,50")), 1);
    EXPECT_DOUBLE_EQ(view.xEnd.load(), 2.046);
    EXPECT_NEAR(getXEnd(), 2.046, 1e-9);
    // The frequency domain has no NEXT: out of range, not a foreign port.
    EXPECT_EQ(recall(goodFile("4,5,0,2.4,0,4,-100,200,2,0,2,5,1,50")), -6);
}

// A model without PORT 2, CH 5 refuses a recall of it, under its own code.
TEST_F(WaveformFile, AStimulusTheModelLacksIsRefused) {
    panel().ringDelete(PANEL_STIMULUS, 9, 1);
    EXPECT_EQ(recall(goodFile("0,0,0.5,2.5,0.25,4,-100,200,0,0,9,18,1,50")), -8);
}

TEST_F(WaveformFile, RecallAcrossDomainsIsRefusedWithABoxAndChangesNothing) {
    for (const bool frequencyFile : {true, false}) {
        view.xUnits.store(frequencyFile ? XUnit::Metres : XUnit::GHz);
        view.yUnits.store(frequencyFile ? YUnit::Millivolts : YUnit::Decibels);
        const std::string before = state();
        popups().clear();
        EXPECT_EQ(recall(goodFile(frequencyFile ? "4,5,0,2.4,0,4,-100,200,0,0,2,5,1,50"
                                                : "2,0,0.5,2.5,0.25,4,-100,200,0,0,2,5,1,50")),
                  frequencyFile ? -3 : -4);
        EXPECT_EQ(state(), before);
        EXPECT_EQ(newLog(), "");
        const std::string domain = frequencyFile ? "Frequency" : "Time";
        ASSERT_EQ(popups().shown().size(), 2u);
        EXPECT_EQ(popups().shown()[1].title, frequencyFile ? "ERROR #2193" : "ERROR #2194");
        EXPECT_EQ(popups().shown()[1].text,
                  "Stored waveform is in the " + domain +
                      " Domain and cannot be loaded with the current settings.\nPlease switch "
                      "to the " +
                      domain + " Domain and try loading the waveform again.");
    }
}

struct Damage {
    const char* name;
    int line; // 1-based; negative: the file ends before it
    const char* replacement;
    const char* message; // after "> ERROR #"
};

void PrintTo(const Damage& d, std::ostream* os) {
    *os << d.name;
}

class DamagedFile : public WaveformFile, public testing::WithParamInterface<Damage> {};

TEST_P(DamagedFile, IsRefusedWithItsReasonAndChangesNothing) {
    const std::string before = state();
    EXPECT_EQ(recall(edited(goodFile(), GetParam().line, GetParam().replacement)),
              -(std::stoi(GetParam().message) - 2190));
    EXPECT_EQ(newLog(), "> ERROR #" + std::string(GetParam().message) + " Nothing was changed.\n");
    EXPECT_EQ(state(), before);
}

const std::string kLongPoint = "0.1, 1" + std::string(200, '0');
constexpr const char* kRange = "2196: Stored VELT file has settings out of range in line 2.";
constexpr const char* kUnreadable = "2196: Stored VELT file has unreadable settings in line 2.";

INSTANTIATE_TEST_SUITE_P(
    Files, DamagedFile,
    testing::Values(
        Damage{"UnitCode7", 2, "7,0,0.5,2.5,0,4,-100,200,0,0,2,5,1,50", kRange},
        Damage{"Sampler42", 2, "0,0,0.5,2.5,0,4,-100,200,0,0,2,42,1,50", kRange},
        Damage{"DecibelOverMetres", 2, "0,5,0.5,2.5,0,4,-100,200,0,0,2,5,1,50", kRange},
        Damage{"YRangeUpsideDown", 2, "0,0,0.5,2.5,0,4,200,-100,0,0,2,5,1,50", kRange},
        Damage{"ThirteenFields", 2, "0,0,0.5,2.5,0,4,-100,200,0,0,2,5,1", kUnreadable},
        Damage{"InfiniteEnd", 2, "0,0,0.5,inf,0,4,-100,200,0,0,2,5,1,50", kUnreadable},
        Damage{"Empty", -1, "", kUnreadable},
        Damage{"Truncated", -500, "",
               "2197: Stored VELT file has a missing or unreadable point in line 500."},
        Damage{"Semicolon", 3, "0.0; 1.0",
               "2197: Stored VELT file has a missing or unreadable point in line 3."},
        Damage{"XNotANumber", 1026, "nan, 1.0",
               "2197: Stored VELT file has a missing or unreadable point in line 1026."},
        Damage{"OverlongPoint", 40, kLongPoint.c_str(),
               "2197: Stored VELT file has a missing or unreadable point in line 40."},
        // Stimulus 2 has no sampler 10 in reflection.
        Damage{"ForeignSampler", 2, "0,0,0.5,2.5,0,4,-100,200,0,0,2,10,1,50",
               "2198: Stored VELT file uses a mode or port this instrument does not have."}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace

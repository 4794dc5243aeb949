// The zero reference against the simulated instrument, zoom, the resize layout and the colour
// schemes, on the panel model.
#include "app/startup.h"
#include "instrument/driver.h"
#include "instrument/transport.h"
#include "panel/callbacks.h"
#include "panel/colors.h"
#include "panel/interface.h"
#include "panel/settings.h"
#include "panel/timebase.h"
#include "panel/units.h"
#include "panel/zero.h"
#include "panel/zoom.h"
#include "platform/serial_device.h"
#include "simulator/sim_device.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

using platform::makeColor;
using platform::panel;
using simulator::Connection;

namespace {

constexpr int kYellow = makeColor(233, 233, 113);
constexpr int kWhite = makeColor(255, 255, 255);

class Window : public testing::Test {
  protected:
    void SetUp() override { testing_support::freshPanel(); }
    static double lowest(int id) {
        double lo = 0, hi = 0;
        panel().range(id, lo, hi);
        return lo;
    }
};

TEST_F(Window, TypedZeroMovesTheFieldsNotTheWindowAndResetBringsThemBack) {
    setZero(2.0);
    EXPECT_DOUBLE_EQ(getXStart(), -2.0);
    EXPECT_DOUBLE_EQ(getXEnd(), 1.0);
    EXPECT_DOUBLE_EQ(lowest(PANEL_XEND), -2.0);
    EXPECT_EQ(panel().textBgColor(PANEL_XSTART), kYellow);
    EXPECT_DOUBLE_EQ(view.xEnd.load(), 3.0);
    onResetZero(MENUBAR, MENUBAR_CAL_RESETZERO, nullptr, PANEL);
    EXPECT_DOUBLE_EQ(getXStart(), 0.0);
    EXPECT_DOUBLE_EQ(lowest(PANEL_XSTART), 0.0);
    EXPECT_EQ(panel().textBgColor(PANEL_XEND), kWhite);
}

// The automatic search on channel 2 of the simulated instrument, against its ground truth.
class ZeroSearch : public Window {
  protected:
    simulator::SimulatedInstrument sim;
    void SetUp() override {
        Window::SetUp();
        platform::setSerialDevice(&sim);
        ASSERT_EQ(instrument.open(), 1);
        ASSERT_EQ(instrument.measureConstants(2, 4, Mode::TDR), 1);
        instrument.sendChannelSetup(stimulusPortCode[2], samplerPortCode[4]);
        setXEnd(4.0);
    }
    void TearDown() override {
        usbftdi_close();
        platform::setSerialDevice(nullptr);
    }
    // Distance of the open found beyond the open front connector.
    double openBeyondConnector(const char* line) {
        sim.setConnection(2, Connection::Open);
        EXPECT_EQ(setZero(-1.0), 1);
        const double connector = view.xZero.load();
        sim.setConnection(2, Connection::Device);
        std::string err;
        EXPECT_TRUE(sim.loadScenarioText(line, err)) << err;
        onSetZero(MENUBAR, MENUBAR_CAL_SETZERO, nullptr, PANEL);
        return view.xZero.load() - connector;
    }
    int shown(const char* title) { return platform::defaultResponder().countTitle(title); }
};

TEST_F(ZeroSearch, FindsTheOpenRoundTripBeyondTheConnector) {
    // 0.3 m of 75 ohm reflects 0.2, below the threshold: the open, 0.8 m out, is found.
    EXPECT_NEAR(openBeyondConnector("channel 2: line 50 0.5 2.25 0; line 75 0.3 2.25 0; open"), 1.6,
                0.05);
    EXPECT_EQ(shown("Set New Horizontal Reference Point"), 2);
    EXPECT_NEAR(getXStart(), -view.xZero.load(), 1e-3);
    EXPECT_EQ(panel().textBgColor(PANEL_XSTART), kYellow);
    // 130 ohm reflects 0.44: an open to a single line, not to a differential pair.
    const char* line = "channel 2: line 50 0.5 2.25 0; line 130 0.5 2.25 0; open";
    EXPECT_NEAR(openBeyondConnector(line), 1.0, 0.05);
    setDiff(1);
    EXPECT_NEAR(openBeyondConnector(line), 2.0, 0.05);
}

TEST_F(ZeroSearch, DecliningOrFindingNoOpenKeepsTheZeroTheUserHad) {
    setZero(1.0);
    platform::defaultResponder().push({0, {}});
    EXPECT_EQ(setZero(-1.0), 0);
    sim.setConnection(2, Connection::Load);
    EXPECT_EQ(setZero(-1.0), 1);
    EXPECT_EQ(shown("Could not find instrument open"), 1);
    EXPECT_DOUBLE_EQ(view.xZero.load(), 1.0);
    EXPECT_DOUBLE_EQ(getXStart(), -1.0);
    EXPECT_EQ(panel().textBgColor(PANEL_XEND), kYellow);
}

struct ZoomCase {
    double cursor1, cursor2, zero, shownStart, shownEnd;
};

class Zoom : public Window, public testing::WithParamInterface<ZoomCase> {};

TEST_P(Zoom, GivesAForwardWindowBetweenTheCursors) {
    const ZoomCase& c = GetParam();
    setZero(c.zero);
    panel().setCursor(1, c.cursor1, 0);
    panel().setCursor(2, c.cursor2, 0);
    onZoom(PANEL, PANEL_ZOOM, EVENT_COMMIT, nullptr, 0, 0);
    EXPECT_NEAR(getXStart(), c.shownStart, 1e-9);
    EXPECT_NEAR(getXEnd(), c.shownEnd, 1e-9);
    EXPECT_NEAR(view.xStart.load(), c.shownStart + c.zero, 1e-9);
    EXPECT_NEAR(view.xEnd.load(), c.shownEnd + c.zero, 1e-9);
}

INSTANTIATE_TEST_SUITE_P(Cursors, Zoom,
                         testing::Values(ZoomCase{0.75, 1.25, 0.5, 0.75, 1.25},
                                         ZoomCase{1.25, 0.75, 0.5, 0.75, 1.25}, // reversed
                                         ZoomCase{0.9, 0.9, 0.0, 0.9, 1.1},     // minimum width
                                         ZoomCase{-1.0, 2.0, 0.0, 0.0, 2.0}));  // field limit

struct ResizeCase {
    std::vector<std::pair<int, int>> sizes;
    int width, height, dW, dH, startWidened, halfMoved, endMoved;
};

class Resize : public Window, public testing::WithParamInterface<ResizeCase> {};

TEST_P(Resize, MovesEachGroupByItsShare) {
    const ResizeCase& c = GetParam();
    forgetLayout(); // the design size
    auto geometry = [] {
        std::vector<int> g;
        for (int id : {PANEL_WAVEFORM, PANEL_TIMESTAMP, PANEL_XSTART, PANEL_ZOOM, PANEL_XEND,
                       PANEL_DIEL, PANEL_LED}) {
            int l = 0, t = 0, w = 0, h = 0;
            panel().geometry(id, l, t, w, h);
            g.insert(g.end(), {l, t, w, h});
        }
        g.push_back(panel().labelLeft(PANEL_XEND));
        return g;
    };
    std::vector<int> expected = geometry();
    for (auto [w, h] : c.sizes) {
        panel().setPanelSize(w, h);
        onPanel(PANEL, EVENT_PANEL_SIZE, nullptr, w, h);
    }
    // graph grows; time stamp right and down; start widens; zoom by half; end; K; the LED stays.
    const std::vector<int> change = {0,
                                     0,
                                     c.dW,
                                     c.dH,
                                     c.dW,
                                     c.dH,
                                     0,
                                     0,
                                     0,
                                     c.dH,
                                     c.startWidened,
                                     0,
                                     c.halfMoved,
                                     c.dH,
                                     0,
                                     0,
                                     c.endMoved,
                                     c.dH,
                                     c.startWidened,
                                     0,
                                     c.dW,
                                     c.dH,
                                     0,
                                     0,
                                     0,
                                     0,
                                     0,
                                     0,
                                     c.startWidened};
    for (std::size_t i = 0; i < expected.size(); ++i) expected[i] += change[i];
    EXPECT_EQ(geometry(), expected);
    int w = 0, h = 0;
    panel().panelSize(w, h);
    EXPECT_EQ(std::make_pair(w, h), std::make_pair(c.width, c.height));
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, Resize,
    testing::Values(ResizeCase{{{1600, 900}}, 1600, 900, 320, 180, 106, 160, 213},
                    ResizeCase{{{800, 500}}, 1024, 576, -256, -144, -85, -128, -170},
                    // Each step truncates its own thirds: one pixel twice widens nothing, and
                    // out and back is a pixel off.
                    ResizeCase{{{1281, 720}, {1282, 720}}, 1282, 720, 2, 0, 0, 0, 0},
                    ResizeCase{
                        {{1600, 900}, {1024, 576}}, 1024, 576, -256, -144, -86, -128, -171}));

TEST_F(Window, ColourSchemesFromTheMenu) {
    auto look = [] {
        int bg = 0, grid = 0, text = 0;
        panel().graphColors(bg, grid, text);
        return std::vector<int>{bg,
                                grid,
                                text,
                                panel().cursorColor(1),
                                panel().cursorColor(2),
                                panel().textBgColor(PANEL_PANELCURSOR),
                                panel().textColor(PANEL_TIMESTAMP),
                                getColor(),
                                panel().menuChecked(MENUBAR_PLOT_LIGHT)};
    };
    const std::vector<int> design = look();
    EXPECT_EQ(design[3], makeColor(83, 200, 233)); // the dark scheme's cursor 1
    onSetColorLight(MENUBAR, MENUBAR_PLOT_LIGHT, nullptr, PANEL);
    const std::vector<int> light = {makeColor(255, 255, 255),
                                    makeColor(128, 128, 128),
                                    makeColor(192, 192, 192),
                                    makeColor(0, 0, 255),
                                    makeColor(255, 0, 0),
                                    makeColor(192, 192, 192),
                                    makeColor(0, 0, 0),
                                    0,
                                    1};
    EXPECT_EQ(look(), light);
    setColor(2);
    EXPECT_EQ(look(), light);
    onSetColorDark(MENUBAR, MENUBAR_PLOT_DARK, nullptr, PANEL);
    onSetColorDark(MENUBAR, MENUBAR_PLOT_DARK, nullptr, PANEL);
    EXPECT_EQ(look(), design);
}

} // namespace

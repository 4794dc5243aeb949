// The zero reference against the simulated instrument, zoom, the resize layout and the colour
// schemes, on the panel model.
#include "acquisition/timebase.h"
#include "acquisition/zero.h"
#include "app/settings.h"
#include "app/startup.h"
#include "instrument/calibration.h"
#include "instrument/driver.h"
#include "instrument/transport.h"
#include "panel/callbacks.h"
#include "panel/colors.h"
#include "panel/interface.h"
#include "panel/units.h"
#include "panel/zoom.h"
#include "platform/panel_model.h"
#include "platform/popups.h"
#include "platform/serial_device.h"
#include "simulator/sim_device.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <string>

using platform::makeColor;
using platform::panel;
using simulator::Connection;
using simulator::SimulatedInstrument;

namespace {

constexpr int kYellow = makeColor(233, 233, 113);
constexpr int kWhite = makeColor(255, 255, 255);

class Window : public testing::Test {
  protected:
    void SetUp() override {
        testing_support::freshPanel();
        testing_support::resetEnvironment();
        setXUnits(0);
        setXStart(0.0);
        setXEnd(3.0);
    }
    static double lowerLimit(int id) {
        double lo = 0, hi = 0;
        panel().range(id, lo, hi);
        return lo;
    }
};

// ---- zero reference ----

TEST_F(Window, TypedZeroMovesTheFieldsNotTheWindowAndResetBringsThemBack) {
    ASSERT_EQ(setZero(2.0), 1);
    EXPECT_DOUBLE_EQ(getXStart(), -2.0);
    EXPECT_DOUBLE_EQ(getXEnd(), 1.0);
    EXPECT_DOUBLE_EQ(lowerLimit(PANEL_XSTART), -2.0);
    EXPECT_DOUBLE_EQ(lowerLimit(PANEL_XEND), -2.0);
    EXPECT_EQ(panel().textBgColor(PANEL_XSTART), kYellow);
    EXPECT_EQ(panel().textBgColor(PANEL_XEND), kYellow);
    EXPECT_DOUBLE_EQ(xStart.load(), 0.0);
    EXPECT_DOUBLE_EQ(xEnd.load(), 3.0);

    // "Reset Zero" from the menu.
    onResetZero(MENUBAR, MENUBAR_CAL_RESETZERO, nullptr, PANEL);
    EXPECT_DOUBLE_EQ(xZero.load(), 0.0);
    EXPECT_DOUBLE_EQ(getXStart(), 0.0);
    EXPECT_DOUBLE_EQ(getXEnd(), 3.0);
    EXPECT_DOUBLE_EQ(lowerLimit(PANEL_XSTART), 0.0);
    EXPECT_EQ(panel().textBgColor(PANEL_XSTART), kWhite);
    EXPECT_EQ(panel().textBgColor(PANEL_XEND), kWhite);
}

// The automatic search on the simulated instrument, read against its ground truth.
class ZeroSearch : public Window {
  protected:
    SimulatedInstrument sim{"QSB020"};
    void SetUp() override {
        Window::SetUp();
        platform::setSerialDevice(&sim);
        ASSERT_EQ(velt_init(), 1);
        ASSERT_EQ(velt_cal(2, 4, 0), 1);
        stimulusPort = stimulusPortCode[2];
        samplerPort = samplerPortCode[4];
        sendChannelSetup(stimulusPort, samplerPort);
        samplActive = 4;
        polarity = 1;
        setXEnd(4.0);
    }
    void TearDown() override {
        EXPECT_EQ(sim.protocolViolations(), 0);
        usbftdi_close();
        platform::setSerialDevice(nullptr);
    }
    void scenario(const std::string& text) {
        std::string err;
        ASSERT_TRUE(sim.loadScenarioText(text, err)) << err;
    }
    int titled(const std::string& title) { return platform::defaultResponder().countTitle(title); }
};

TEST_F(ZeroSearch, FindsTheOpenConnectorThenTheOpenEndOfTheCable) {
    // With the front connector open the zero moves to the connector.
    sim.setConnection(2, Connection::Open);
    onSetZero(MENUBAR, MENUBAR_CAL_SETZERO, nullptr, PANEL);
    EXPECT_EQ(titled("Set New Horizontal Reference Point"), 1);
    EXPECT_EQ(titled("Could not find instrument open"), 0);
    const double connector = xZero.load();
    EXPECT_GT(connector, 0.0);
    EXPECT_NEAR(getXStart(), -connector, 1e-3);
    EXPECT_NEAR(getXEnd(), 4.0 - connector, 1e-3);
    EXPECT_EQ(panel().textBgColor(PANEL_XSTART), kYellow);

    // 0.5 m of 50 ohm and 0.3 m of 75 ohm (a reflection of 0.2, below the threshold), then
    // open: the open lies 1.6 m beyond the connector, round trip.
    sim.setConnection(2, Connection::Device);
    scenario("channel 2: line 50 0.5 2.25 0; line 75 0.3 2.25 0; open\n");
    onSetZero(MENUBAR, MENUBAR_CAL_SETZERO, nullptr, PANEL);
    EXPECT_NEAR(xZero.load() - connector, 1.6, 0.05);
}

TEST_F(ZeroSearch, DifferentialLooksForTheHigherThreshold) {
    sim.setConnection(2, Connection::Open);
    ASSERT_EQ(setZero(-1.0), 1);
    const double connector = xZero.load();
    sim.setConnection(2, Connection::Device);
    // A 130 ohm section reflects 0.44: an open to a single line, not to a pair.
    scenario("channel 2: line 50 0.5 2.25 0; line 130 0.5 2.25 0; open\n");
    ASSERT_EQ(setZero(-1.0), 1);
    EXPECT_NEAR(xZero.load() - connector, 1.0, 0.05);
    setDiff(1);
    ASSERT_EQ(getDiff(), 1);
    ASSERT_EQ(setZero(-1.0), 1);
    EXPECT_NEAR(xZero.load() - connector, 2.0, 0.05);
}

TEST_F(ZeroSearch, DecliningChangesNothing) {
    setZero(1.0);
    platform::defaultResponder().push({0, {}});
    EXPECT_EQ(setZero(-1.0), 0);
    EXPECT_DOUBLE_EQ(xZero.load(), 1.0);
    EXPECT_DOUBLE_EQ(getXStart(), -1.0);
    EXPECT_EQ(titled("Could not find instrument open"), 0);
}

TEST_F(ZeroSearch, NoOpenFoundKeepsTheZeroTheUserHad) {
    setZero(1.0);
    sim.setConnection(2, Connection::Load);
    EXPECT_EQ(setZero(-1.0), 1);
    EXPECT_EQ(titled("Could not find instrument open"), 1);
    EXPECT_DOUBLE_EQ(xZero.load(), 1.0);
    EXPECT_DOUBLE_EQ(getXStart(), -1.0);
    EXPECT_DOUBLE_EQ(getXEnd(), 3.0);
    EXPECT_EQ(panel().textBgColor(PANEL_XEND), kYellow);
}

// ---- zoom ----

struct ZoomCase {
    const char* name;
    double cursor1, cursor2, zero;
    double shownStart, shownEnd; // what the fields show
};

class Zoom : public Window, public testing::WithParamInterface<ZoomCase> {};

TEST_P(Zoom, GivesAValidWindowBetweenTheCursors) {
    const ZoomCase& c = GetParam();
    setZero(c.zero);
    panel().setCursor(1, c.cursor1, 0);
    panel().setCursor(2, c.cursor2, 0);
    onZoom(PANEL, PANEL_ZOOM, EVENT_COMMIT, nullptr, 0, 0);
    EXPECT_NEAR(getXStart(), c.shownStart, 1e-9);
    EXPECT_NEAR(getXEnd(), c.shownEnd, 1e-9);
    EXPECT_NEAR(xStart.load(), c.shownStart + c.zero, 1e-9);
    EXPECT_NEAR(xEnd.load(), c.shownEnd + c.zero, 1e-9);
    // The instrument sweeps forwards through at least the narrowest window.
    EXPECT_GE(xEnd.load() - xStart.load(), minWidth[0] - 1e-9);
}

INSTANTIATE_TEST_SUITE_P(Cursors, Zoom,
                         testing::Values(ZoomCase{"InOrderWithAZero", 0.75, 1.25, 0.5, 0.75, 1.25},
                                         ZoomCase{"ReversedWithAZero", 1.25, 0.75, 0.5, 0.75, 1.25},
                                         ZoomCase{"Reversed", 2.5, 1.0, 0.0, 1.0, 2.5},
                                         ZoomCase{"OnTopOfEachOther", 0.9, 0.9, 0.0, 0.9, 1.1},
                                         ZoomCase{"NarrowerThanTheMinimum", 1.0, 1.05, 0.0, 1.0,
                                                  1.2},
                                         ZoomCase{"BeforeTheOrigin", -1.0, 2.0, 0.0, 0.0, 2.0}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Window, ResetZoomShowsTheDefaultSpanFromTheZero) {
    setZero(0.5);
    panel().setCursor(1, 1.0, 0);
    panel().setCursor(2, 1.5, 0);
    zoom();
    onResetZoom(PANEL, PANEL_RESETZOOM, EVENT_COMMIT, nullptr, 0, 0);
    EXPECT_DOUBLE_EQ(getXStart(), 0.0);
    EXPECT_DOUBLE_EQ(getXEnd(), 3.0);
    EXPECT_DOUBLE_EQ(xStart.load(), 0.5);
    EXPECT_DOUBLE_EQ(xEnd.load(), 3.5);
    setZero(0.0);
    setXUnits(2);
    resetZoom();
    EXPECT_DOUBLE_EQ(getXStart(), 0.0);
    EXPECT_DOUBLE_EQ(getXEnd(), 15.0);
}

// ---- resizing ----

struct Box {
    int left, top, width, height;
};

Box box(int id) {
    Box b{};
    panel().geometry(id, b.left, b.top, b.width, b.height);
    return b;
}

struct ResizeCase {
    const char* name;
    std::vector<std::pair<int, int>> sizes; // the user's resizes, in order
    int width, height;                      // the panel afterwards
    int dW, dH;                             // total movement of the right column and bottom strip
    int startWidened;                       // window-start field, in total
    int halfMoved;                          // filter and zoom controls
    int endWidened, endMoved;               // window-end field
};

class Resize : public Window, public testing::WithParamInterface<ResizeCase> {};

TEST_P(Resize, MovesEachGroupByItsShare) {
    const ResizeCase& c = GetParam();
    windowWidth = 1280;
    windowHeight = 720;
    const Box graph = box(PANEL_WAVEFORM), log = box(PANEL_MESSAGE), stamp = box(PANEL_TIMESTAMP);
    const Box start = box(PANEL_XSTART), end = box(PANEL_XEND), filter = box(PANEL_FILTER);
    const Box zoomButton = box(PANEL_ZOOM), diel = box(PANEL_DIEL), led = box(PANEL_LED);
    const Box version = box(PANEL_VERSION), mode = box(PANEL_MODE), top = box(PANEL_PANELTOP);
    const int endLabel = panel().labelLeft(PANEL_XEND);
    const int endDisplay = panel().displayLeft(PANEL_XEND);

    for (auto [w, h] : c.sizes) {
        panel().setPanelSize(w, h);
        onPanel(PANEL, EVENT_PANEL_SIZE, nullptr, w, h);
    }

    int w = 0, h = 0;
    panel().panelSize(w, h);
    EXPECT_EQ(w, c.width);
    EXPECT_EQ(h, c.height);
    EXPECT_EQ(windowWidth, c.width);
    EXPECT_EQ(box(PANEL_WAVEFORM).width, graph.width + c.dW);
    EXPECT_EQ(box(PANEL_WAVEFORM).height, graph.height + c.dH);
    EXPECT_EQ(box(PANEL_MESSAGE).left, log.left + c.dW);
    EXPECT_EQ(box(PANEL_MESSAGE).top, log.top);
    EXPECT_EQ(box(PANEL_MESSAGE).height, log.height + c.dH);
    EXPECT_EQ(box(PANEL_TIMESTAMP).left, stamp.left + c.dW);
    EXPECT_EQ(box(PANEL_TIMESTAMP).top, stamp.top + c.dH);
    EXPECT_EQ(box(PANEL_XSTART).width, start.width + c.startWidened);
    EXPECT_EQ(box(PANEL_XSTART).top, start.top + c.dH);
    EXPECT_EQ(box(PANEL_FILTER).left, filter.left + c.halfMoved);
    EXPECT_EQ(box(PANEL_ZOOM).left, zoomButton.left + c.halfMoved);
    EXPECT_EQ(box(PANEL_XEND).width, end.width + c.endWidened);
    EXPECT_EQ(box(PANEL_XEND).left, end.left + c.endMoved);
    EXPECT_EQ(panel().labelLeft(PANEL_XEND), endLabel + c.endWidened);
    EXPECT_EQ(panel().displayLeft(PANEL_XEND), endDisplay + c.endWidened);
    EXPECT_EQ(box(PANEL_DIEL).left, diel.left + c.dW);
    EXPECT_EQ(box(PANEL_VERSION).left, version.left + c.dW);
    EXPECT_EQ(box(PANEL_PANELTOP).width, top.width + c.dW);
    EXPECT_EQ(box(PANEL_MODE).left, mode.left);
    EXPECT_EQ(box(PANEL_LED).left, led.left);
    EXPECT_EQ(box(PANEL_LED).top, led.top);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, Resize,
    testing::Values(
        ResizeCase{"Larger", {{1600, 900}}, 1600, 900, 320, 180, 106, 160, 106, 213},
        ResizeCase{"BelowTheMinimum", {{800, 500}}, 1024, 576, -256, -144, -85, -128, -85, -170},
        // Each step's thirds truncate on their own: one pixel twice widens nothing.
        ResizeCase{"OnePixelTwice", {{1281, 720}, {1282, 720}}, 1282, 720, 2, 0, 0, 0, 0, 0},
        // Out and back is not the identity: each step truncates its own thirds.
        ResizeCase{
            "OutAndBack", {{1600, 900}, {1024, 576}}, 1024, 576, -256, -144, -86, -128, -86, -171}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- colours ----

struct Look {
    int background, grid, axisText, cursor1, cursor2, frame, stamp;
    bool dark, light;
    bool operator==(const Look&) const = default;
};

Look look() {
    Look l{};
    panel().graphColors(l.background, l.grid, l.axisText);
    l.cursor1 = panel().cursorColor(1);
    l.cursor2 = panel().cursorColor(2);
    l.frame = panel().textBgColor(PANEL_PANELCURSOR);
    l.stamp = panel().textColor(PANEL_TIMESTAMP);
    l.dark = panel().menuChecked(MENUBAR_PLOT_DARK);
    l.light = panel().menuChecked(MENUBAR_PLOT_LIGHT);
    return l;
}

const Look kDark = {makeColor(32, 32, 32),
                    makeColor(80, 80, 80),
                    makeColor(255, 255, 255),
                    makeColor(83, 200, 233),
                    makeColor(233, 83, 83),
                    makeColor(32, 32, 32),
                    makeColor(76, 157, 47),
                    true,
                    false};
const Look kLight = {makeColor(255, 255, 255),
                     makeColor(128, 128, 128),
                     makeColor(192, 192, 192),
                     makeColor(0, 0, 255),
                     makeColor(255, 0, 0),
                     makeColor(192, 192, 192),
                     makeColor(0, 0, 0),
                     false,
                     true};

TEST_F(Window, ColourSchemesFromTheMenu) {
    EXPECT_EQ(look(), kDark); // the design colours
    EXPECT_EQ(getColor(), 1);
    onSetColorLight(MENUBAR, MENUBAR_PLOT_LIGHT, nullptr, PANEL);
    EXPECT_EQ(look(), kLight);
    EXPECT_EQ(getColor(), 0);
    setColor(2);
    EXPECT_EQ(look(), kLight);
    onSetColorDark(MENUBAR, MENUBAR_PLOT_DARK, nullptr, PANEL);
    onSetColorDark(MENUBAR, MENUBAR_PLOT_DARK, nullptr, PANEL);
    EXPECT_EQ(look(), kDark);
    setColor(-1);
    EXPECT_EQ(look(), kDark);
}

} // namespace

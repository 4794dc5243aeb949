// Panel model behaviour the rest of the program relies on.
#include "panel/interface.h"
#include "platform/panel_model.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <thread>

using platform::panel;

TEST(PanelModel, NumericValuesAreCoercedIntoTheirRange) {
    testing_support::freshPanel();
    panel().setRange(PANEL_XEND, 0, 15);
    panel().setValue(PANEL_XEND, 20);
    EXPECT_DOUBLE_EQ(panel().value(PANEL_XEND), 15);
    panel().setValue(PANEL_AVERAGING, 3.6);
    EXPECT_EQ(panel().intValue(PANEL_AVERAGING), 4);
}

TEST(PanelModel, RingValueIsTheItemValueNotItsPosition) {
    testing_support::freshPanel();
    EXPECT_EQ(panel().intValue(PANEL_STIMULUS), 2);
    panel().ringSetIndex(PANEL_STIMULUS, 5);
    EXPECT_EQ(panel().intValue(PANEL_STIMULUS), 7);
    panel().ringDelete(PANEL_STIMULUS, 5, 5);
    EXPECT_EQ(panel().ringCount(PANEL_STIMULUS), 5);
    EXPECT_EQ(panel().ringIndex(PANEL_STIMULUS), 4);
    EXPECT_FALSE(panel().ringSetValue(PANEL_STIMULUS, 9));
}

TEST(PanelModel, SnappingCursorLandsOnTheNewestPlot) {
    testing_support::freshPanel();
    double x[3] = {0.0, 1.0, 2.0}, y[3] = {10.0, 20.0, 30.0};
    int h = panel().plotXY(x, y, 3, 0, 5, 0);
    ASSERT_GT(h, 0);
    panel().setCursor(1, 1.2, 0.0);
    double cx, cy;
    panel().cursor(1, cx, cy);
    EXPECT_DOUBLE_EQ(cx, 1.2); // free-form before any snap request
    panel().setCursorMode(1, 1);
    panel().cursor(1, cx, cy);
    EXPECT_DOUBLE_EQ(cx, 1.0);
    EXPECT_DOUBLE_EQ(cy, 20.0);
    panel().deletePlot(h);
    EXPECT_FALSE(panel().plotExists(h));
}

TEST(PanelModel, ConcurrentWritersAndReadersSeeConsistentState) {
    testing_support::freshPanel();
    std::thread writer([] {
        for (int i = 0; i < 2000; ++i) {
            panel().setValue(PANEL_LED, i % 2);
            panel().appendText(PANEL_MESSAGE, "x");
        }
    });
    int seen = 0;
    for (int i = 0; i < 2000; ++i) seen += panel().intValue(PANEL_LED) >= 0;
    writer.join();
    EXPECT_EQ(seen, 2000);
    EXPECT_EQ(panel().text(PANEL_MESSAGE).size(), std::string("> Initializing...").size() + 2000);
}

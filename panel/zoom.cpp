// Zoom, reset zoom and window resizing.
#include "panel/zoom.h"

#include "instrument/driver.h"
#include "panel/interface.h"
#include "panel/panel_state.h"
#include "panel/settings.h"
#include "panel/timebase.h"
#include "platform/panel_model.h"

#include <algorithm>
#include <cmath>

using platform::panel;

namespace {

std::size_t unitIndex() {
    return index(view.xUnits.load());
}

void moveBy(int id, int dLeft, int dTop, int dWidth, int dHeight) {
    int l = 0, t = 0, w = 0, h = 0;
    panel().geometry(id, l, t, w, h);
    panel().setGeometry(id, l + dLeft, t + dTop, w + dWidth, h + dHeight);
}

// The panel's size as last laid out (resizing works from the change).
int windowWidth = 0;
int windowHeight = 0;

} // namespace

void forgetLayout() {
    windowWidth = 0;
    windowHeight = 0;
}

void rememberLayout() {
    panel().panelSize(windowWidth, windowHeight);
}

void zoom() {
    double x1 = 0, y1 = 0, x2 = 0, y2 = 0;
    panel().cursor(1, x1, y1);
    panel().cursor(2, x2, y2);
    if (!std::isfinite(x1) || !std::isfinite(x2)) return;
    // Whichever cursor is on the left starts the window, and the window keeps the minimum
    // width: a reversed or empty window would make the sweep step negative or zero.
    panel().setValue(PANEL_XSTART, std::min(x1, x2));
    panel().setValue(PANEL_XEND, std::max(x1, x2));
    return setWindow();
}

void resetZoom() {
    const double z = view.xZero.load();
    panel().setValue(PANEL_XSTART, 0.0);
    const double s = getXStart();
    panel().setValue(PANEL_XEND, panelState.defaultEnd[unitIndex()].load());
    const double e = getXEnd();
    view.xStart.store(s + z);
    view.xEnd.store(e + z);
}

void resizeWindow() {
    int width = 0, height = 0;
    panel().panelSize(width, height);
    if (width < kPanelMinWidth || height < kPanelMinHeight) {
        width = std::max(width, kPanelMinWidth);
        height = std::max(height, kPanelMinHeight);
        panel().setPanelSize(width, height);
    }
    // Before start-up has measured the panel its controls are still at the design size.
    if (windowWidth <= 0 || windowHeight <= 0) {
        windowWidth = kPanelWidth;
        windowHeight = kPanelHeight;
    }
    const int dW = width - windowWidth;
    const int dH = height - windowHeight;

    moveBy(PANEL_WAVEFORM, 0, 0, dW, dH);
    for (int id : controlArrayMembers(RIGHT)) moveBy(id, dW, 0, 0, 0);
    // The log is the column's one stretchable member: it takes the height the window gains or
    // loses, so it never runs into the time stamp below it at the smallest size.
    moveBy(PANEL_MESSAGE, 0, 0, 0, dH);
    for (int id : controlArrayMembers(BOTTOM)) moveBy(id, 0, dH, 0, 0);
    moveBy(PANEL_PANELTOP, 0, 0, dW, 0);
    moveBy(PANEL_VERSION, dW, 0, 0, 0);
    moveBy(PANEL_REMOTE, dW, 0, 0, 0);
    moveBy(PANEL_PANELBOTTOM, 0, 0, dW, 0);
    moveBy(PANEL_XSTART, 0, 0, dW / 3, 0);
    for (int id : {PANEL_FILTER, PANEL_FILTERWIDTH, PANEL_ZOOM, PANEL_RESETZOOM})
        moveBy(id, dW / 2, 0, 0, 0);
    moveBy(PANEL_XEND, (2 * dW) / 3, 0, dW / 3, 0);
    panel().setLabelLeft(PANEL_XEND, panel().labelLeft(PANEL_XEND) + dW / 3);
    panel().setDisplayLeft(PANEL_XEND, panel().displayLeft(PANEL_XEND) + dW / 3);
    moveBy(PANEL_DIEL, dW, 0, 0, 0);
    moveBy(PANEL_VC, dW, 0, 0, 0);

    windowWidth = width;
    windowHeight = height;
}

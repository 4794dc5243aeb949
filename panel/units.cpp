// Unit switching: converts the window and zero reference, keeps menus, labels and limits in step.
#include "panel/units.h"

#include "instrument/driver.h"
#include "panel/interface.h"
#include "panel/panel_state.h"
#include "panel/settings.h"
#include "panel/timebase.h"
#include "panel/true_profile.h"
#include "platform/panel_model.h"

#include <cmath>

using platform::panel;

// The default window, so that a restore before anything was saved still gives a usable one.

namespace {

constexpr double kMetresPerFoot = 0.3048;
constexpr double kSpeedOfLight = 3e8;

constexpr std::array<int, 6> kYMenuItem = {
    MENUBAR_YUNITS_Y1, MENUBAR_YUNITS_Y2, MENUBAR_YUNITS_Y3, MENUBAR_YUNITS_Y4, 0,
    MENUBAR_YUNITS_Y6};
constexpr std::array<double, 6> kYRangeLow = {-250, 0, 0, -1, 0, -90};
constexpr std::array<double, 6> kYRangeHigh = {250, 2, 500, 1, 1500, 10};
constexpr std::array<int, 6> kYDecimals = {0, 2, 0, 2, 2, 0};

// Metres of cable per nanosecond of travel.
double metresPerNs() {
    return (1.0 / std::sqrt(view.dielK.load())) * kSpeedOfLight * 1e-9;
}

// Factor from one time-domain unit (m, ft, ns) to another.
double conversion(XUnit from, XUnit to) {
    const double f = kMetresPerFoot;
    const double k = metresPerNs();
    // Row: new unit, column: old unit.
    const double table[3][3] = {{1.0, f, k}, {1.0 / f, 1.0, k / f}, {1.0 / k, f / k, 1.0}};
    return table[index(to)][index(from)];
}

// The units the window converts between; inches keep their numbers.
bool convertible(XUnit u) {
    return u == XUnit::Metres || u == XUnit::Feet || u == XUnit::Nanoseconds;
}

void showWindowInUnit() {
    const double z = view.xZero.load();
    const double hi = panelState.maxRange[index(view.xUnits.load())].load();
    panel().setRange(PANEL_XSTART, -z, hi);
    panel().setRange(PANEL_XEND, -z, hi);
    setXStart(view.xStart.load());
    setXEnd(view.xEnd.load());
}

} // namespace

void setXUnits(XUnit code) {
    const XUnit old = view.xUnits.load();
    const double s = getXStart();
    const double e = getXEnd();
    const double z = view.xZero.load();
    view.xUnits.store(code);

    if (convertible(code)) {
        constexpr std::array<int, 3> items = {MENUBAR_XUNITS_X1, MENUBAR_XUNITS_X2,
                                              MENUBAR_XUNITS_X3};
        for (std::size_t i = 0; i < items.size(); ++i) {
            panel().setMenuChecked(items[i], i == index(code));
            panel().setMenuDimmed(items[i], false);
        }
        panel().setMenuChecked(MENUBAR_XUNITS_X5, false);
        panel().setMenuDimmed(MENUBAR_XUNITS_X5, true);
    } else if (code == XUnit::GHz) {
        for (int item : {MENUBAR_XUNITS_X1, MENUBAR_XUNITS_X2, MENUBAR_XUNITS_X3}) {
            panel().setMenuChecked(item, false);
            panel().setMenuDimmed(item, true);
        }
        panel().setMenuChecked(MENUBAR_XUNITS_X5, true);
        panel().setMenuDimmed(MENUBAR_XUNITS_X5, false);
    }

    if (code == XUnit::GHz) {
        view.xZero.store(0.0);
        view.xStart.store(0.0);
        view.xEnd.store(panelState.maxRange[index(XUnit::GHz)].load());
    } else if (old == XUnit::GHz && convertible(code)) {
        // Back from the frequency domain: the window saved on the way in, not a conversion of
        // the GHz numbers.
        double c = 1.0;
        const XUnit from = panelState.savedXUnits.load();
        if (convertible(from)) c = conversion(from, code);
        view.xZero.store(panelState.savedXZero.load() * c);
        view.xStart.store(panelState.savedXStart.load() * c);
        view.xEnd.store(panelState.savedXEnd.load() * c);
    } else if (convertible(old) && convertible(code)) {
        const double c = conversion(old, code);
        const double zc = z * c;
        view.xZero.store(zc);
        view.xStart.store(zc + s * c);
        view.xEnd.store(e * c + zc);
    }
    // Inches, to or from: the numbers stay as they are.

    setXLabels();
    showWindowInUnit();
    // A window at one unit's least width can be narrower than another's (0.6 ft is 0.18 m):
    // the new unit's rule holds as it does for a typed window.
    if (convertible(code)) setWindow();
}

void setXLabels() {
    const std::size_t u = index(view.xUnits.load());
    panel().setLabel(PANEL_XSTART, labelStartX[u]);
    panel().setLabel(PANEL_XEND, labelEndX[u]);
    panel().setXAxisName(roundTrip(getMode()) ? labelFullX[u] : labelFullX2[u]);
    double lo = 0, hi = 0;
    panel().range(PANEL_XSTART, lo, hi);
    panel().setRange(PANEL_XSTART, lo, panelState.maxRange[u].load());
    panel().range(PANEL_XEND, lo, hi);
    panel().setRange(PANEL_XEND, lo, panelState.maxRange[u].load());
}

void setYUnits(YUnit code) {
    const std::size_t u = index(code);
    view.yUnits.store(code);
    for (std::size_t i = 0; i < kYMenuItem.size(); ++i)
        if (kYMenuItem[i] != 0) panel().setMenuChecked(kYMenuItem[i], i == u);
    const bool db = code == YUnit::Decibels;
    for (int item : {MENUBAR_YUNITS_Y1, MENUBAR_YUNITS_Y2, MENUBAR_YUNITS_Y3, MENUBAR_YUNITS_Y4})
        panel().setMenuDimmed(item, db);
    panel().setMenuDimmed(MENUBAR_YUNITS_Y6, !db);
    setYMinMax(kYRangeLow[u], kYRangeHigh[u]);
    panel().setYLabelPrecision(kYDecimals[u]);
    if (code == YUnit::Ohms) {
        panel().setDimmed(PANEL_DIFFERENTIAL, false);
    } else {
        // Single-ended again: the sampler ring, dimmed while differential, comes back with it.
        panel().setValue(PANEL_DIFFERENTIAL, 0);
        panel().setDimmed(PANEL_DIFFERENTIAL, db);
        panel().setDimmed(PANEL_SAMPLER, false);
    }
    setYLabels();
    updateTrueProfileItem();
}

void setYLabels() {
    panel().setYAxisName(labelFullY[index(view.yUnits.load())]);
}

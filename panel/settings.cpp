// Settings accessors: the panel controls are the one store, each setter applies its side effects.
#include "panel/settings.h"

#include "freqdomain/store.h"
#include "instrument/driver.h"
#include "panel/interface.h"
#include "panel/panel_state.h"
#include "panel/timebase.h"
#include "panel/timer.h"
#include "panel/true_profile.h"
#include "panel/units.h"
#include "platform/panel_model.h"

#include <cmath>

using platform::panel;

namespace {

// A toggle holds 0 or 1; anything else would leave the switch and the fields it governs
// disagreeing (the control shows "on" while the acquisition treats it as off).
int toggleValue(int v) {
    return v == 1 ? 1 : 0;
}

} // namespace

int getAutoAcquire() {
    return panel().intValue(PANEL_AUTOACQUIRE);
}

void setAutoAcquire(int v) {
    if (v == -1) v = getAutoAcquire();
    if (v == 0 || v == 1) panel().setValue(PANEL_AUTOACQUIRE, v);
}

int getAutoscale() {
    return panel().intValue(PANEL_AUTOSCALE);
}

void setAutoscale(int v) {
    if (v == -1) {
        v = getAutoscale();
    } else {
        v = toggleValue(v);
        panel().setValue(PANEL_AUTOSCALE, v);
    }
    const bool dim = v == 1;
    panel().setDimmed(PANEL_YMIN, dim);
    panel().setDimmed(PANEL_YMAX, dim);
}

int getAveraging() {
    return panel().intValue(PANEL_AVERAGING);
}

void setAveraging(int v) {
    panel().setValue(PANEL_AVERAGING, v);
}

int getColor() {
    return panel().menuChecked(MENUBAR_PLOT_DARK) ? 1 : 0;
}

double getDiel() {
    return panel().value(PANEL_DIEL);
}

void setDiel(double x) {
    // The control limits the value; dielK mirrors what it accepted, so the two never differ.
    if (std::isfinite(x) && x >= 0) panel().setValue(PANEL_DIEL, x);
    double k = getDiel();
    if (!(k > 0) || !std::isfinite(k)) k = view.dielK.load();
    view.dielK.store(k);
    panel().setValue(PANEL_VC, 1.0 / std::sqrt(k));
}

int getDiff() {
    return panel().intValue(PANEL_DIFFERENTIAL);
}

void setDiff(int v) {
    if (v == -1) v = getDiff();
    if (v == 1 && view.yUnits.load() != YUnit::Decibels) {
        panel().setValue(PANEL_DIFFERENTIAL, 1);
        setYUnits(YUnit::Ohms);
        panel().setDimmed(PANEL_SAMPLER, true);
    } else {
        panel().setValue(PANEL_DIFFERENTIAL, 0);
        setYUnits(view.yUnits.load());
        panel().setDimmed(PANEL_SAMPLER, false);
    }
}

int getFilter() {
    return panel().intValue(PANEL_FILTER);
}

void setFilter(int v) {
    if (v != -1) panel().setValue(PANEL_FILTER, toggleValue(v));
    panel().setDimmed(PANEL_FILTERWIDTH, getFilter() != 1);
}

int getFilterWidth() {
    return panel().intValue(PANEL_FILTERWIDTH);
}

void setFilterWidth(int v) {
    if (v != -1) panel().setValue(PANEL_FILTERWIDTH, v);
}

int getLED() {
    return panel().intValue(PANEL_LED);
}

void setLED(int v) {
    panel().setValue(PANEL_LED, v);
}

Mode getMode() {
    // The ring holds the codes.
    const int c = panel().intValue(PANEL_MODE);
    return isModeCode(c) ? modeFromCode(c) : Mode::TDR;
}

double getXStart() {
    return panel().value(PANEL_XSTART);
}
double getXEnd() {
    return panel().value(PANEL_XEND);
}

// The field limits what it shows; the absolute window is taken back from it so that the
// window swept is always the one on screen.
void setXStart(double x) {
    if (!std::isfinite(x)) return;
    const double z = view.xZero.load();
    panel().setValue(PANEL_XSTART, x - z);
    view.xStart.store(getXStart() + z);
}

void setXEnd(double x) {
    if (!std::isfinite(x)) return;
    const double z = view.xZero.load();
    panel().setValue(PANEL_XEND, x - z);
    view.xEnd.store(getXEnd() + z);
}

void setWindow() {
    double s = getXStart();
    double e = getXEnd();
    const double w = minWidth[index(view.xUnits.load())];
    const double z = view.xZero.load();
    if (e < s + w) {
        // Pushing the end out past the field's top would leave a window narrower than the
        // minimum, so the start moves down instead.
        double lo = 0, hi = 0;
        panel().range(PANEL_XEND, lo, hi);
        if (s + w > hi) s = hi - w;
        setXStart(s + z);
        setXEnd(s + z + w);
    } else {
        setXStart(s + z);
        setXEnd(e + z);
    }
}

double getYMin() {
    return panel().value(PANEL_YMIN);
}
double getYMax() {
    return panel().value(PANEL_YMAX);
}

void setYMinMax(double lo, double hi) {
    panel().setValue(PANEL_YMIN, lo);
    panel().setValue(PANEL_YMAX, hi);
}

int getStimulus() {
    return panel().intValue(PANEL_STIMULUS);
}
int getSampler() {
    return panel().intValue(PANEL_SAMPLER);
}

Setup readSetup() {
    Setup s;
    s.mode = getMode();
    s.differential = getDiff() == 1;
    s.stimulus = getStimulus();
    s.sampler = getSampler();
    s.averaging = getAveraging();
    s.filter = getFilter() == 1;
    s.filterWidthPs = getFilterWidth();
    s.autoscale = getAutoscale() == 1;
    s.yMin = getYMin();
    s.yMax = getYMax();
    s.xUnit = view.xUnits.load();
    s.yUnit = view.yUnits.load();
    s.xStart = view.xStart.load();
    s.xEnd = view.xEnd.load();
    s.xZero = view.xZero.load();
    s.dielectric = view.dielK.load();
    s.autoAcquire = getAutoAcquire() == 1;
    s.trueProfile = getTrueProfile();
    s.externalCal = getCalMode() == 1;
    s.interleave = solt.interleave(s.mode);
    return s;
}

std::string serialText(std::size_t n) {
    std::string s = platform::panel().text(PANEL_SERIAL);
    if (s.size() > n) s.resize(n);
    return s;
}

// Zone statistics and their read-outs beside the cursors.
#include "panel/zone_stats.h"

#include "acquisition/acquire.h"
#include "instrument/driver.h"
#include "panel/interface.h"
#include "panel/panel_state.h"
#include "panel/settings.h"
#include "platform/panel_model.h"
#include "platform/popups.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <vector>

namespace {

constexpr double kLightSpeed = 3e8;
// 10-90 % rise of the instrument's own step, by speed class.
constexpr double kStepRiseTimePs[2] = {35.0, 150.0};
constexpr double kMetresPerUnit[4] = {1.0, 0.3048, 0.0, 0.0254};

std::vector<double> reserved() {
    std::vector<double> v;
    v.reserve(platform::kMaxPlotPoints);
    return v;
}

} // namespace

ZoneStats zoneStatistics(std::span<const double> x, std::span<const double> y, double from,
                         double to, double nominal, double tolerancePercent, double minLength) {
    ZoneStats s;
    s.from = std::min(from, to);
    s.to = std::max(from, to);
    s.low = nominal * (1.0 - tolerancePercent / 100.0);
    s.high = nominal * (1.0 + tolerancePercent / 100.0);
    const std::size_t n = std::min(x.size(), y.size());
    // Welford's running mean and variance: one pass, no cancellation on a 50-ohm offset.
    double mean = 0, m2 = 0;
    for (std::size_t i = 0; i < n; ++i) {
        if (!(x[i] >= s.from && x[i] <= s.to) || !std::isfinite(y[i])) continue;
        if (s.points == 0) s.min = s.max = y[i];
        ++s.points;
        const double d = y[i] - mean;
        mean += d / s.points;
        m2 += d * (y[i] - mean);
        s.min = std::min(s.min, y[i]);
        s.max = std::max(s.max, y[i]);
    }
    if (s.points < 2) {
        s.verdict = ZoneVerdict::NoData;
        return s;
    }
    s.mean = mean;
    s.stddev = std::sqrt(m2 / (s.points - 1));
    if (!(s.to - s.from >= minLength))
        s.verdict = ZoneVerdict::TooShort;
    else
        s.verdict = s.min >= s.low && s.max <= s.high ? ZoneVerdict::Pass : ZoneVerdict::Fail;
    return s;
}

double zoneResolution(double riseTimePs, XUnit unit, double dielectric) {
    const double seconds = riseTimePs * 1e-12;
    if (unit == XUnit::Nanoseconds) return 4.0 * seconds * 1e9;
    if (domainOf(unit) != Domain::Time || !(dielectric > 0)) return 0.0;
    const double metres = seconds * kLightSpeed / std::sqrt(dielectric);
    return 4.0 * metres / kMetresPerUnit[index(unit)];
}

double shownRiseTimePs(int speedClass, bool filterOn, int filterWidthPs) {
    const double step = kStepRiseTimePs[speedClass == 0 ? 0 : 1];
    return filterOn ? std::max(step, static_cast<double>(filterWidthPs)) : step;
}

const char* verdictText(ZoneVerdict v) {
    switch (v) {
    case ZoneVerdict::Pass:
        return "PASS";
    case ZoneVerdict::Fail:
        return "FAIL";
    case ZoneVerdict::TooShort:
        return "TOO SHORT";
    case ZoneVerdict::NoData:
        break;
    }
    return "NO DATA";
}

bool parseZoneLimits(const std::string& text, double& nominal, double& tolerance,
                     std::string& error) {
    double v[2] = {0, 0};
    const char* p = text.data();
    const char* end = text.data() + text.size();
    for (double& out : v) {
        while (p < end && (*p == ' ' || *p == '\t')) ++p;
        auto [next, ec] = std::from_chars(p, end, out);
        if (ec != std::errc() || next == p) {
            error = "Give the nominal impedance in ohms and the tolerance in percent, for "
                    "example: 50 10";
            return false;
        }
        p = next;
    }
    while (p < end && (*p == ' ' || *p == '\t' || *p == '%')) ++p;
    if (p != end) {
        error = "Unexpected text after the tolerance: '" + std::string(p, end) + "'";
        return false;
    }
    if (!(v[0] > 0 && v[0] <= 1000)) {
        error = "The nominal impedance must lie between 0 and 1000 ohms";
        return false;
    }
    if (!(v[1] > 0 && v[1] < 100)) {
        error = "The tolerance must lie between 0 and 100 percent";
        return false;
    }
    nominal = v[0];
    tolerance = v[1];
    return true;
}

void updateZoneReadouts(double x1, double x2) {
    platform::PanelModel& p = platform::panel();
    // The trace as shown, from the model: the tick may be writing the next one meanwhile.
    // Reserved on a thread's first refresh, so none after it allocates.
    thread_local std::vector<double> x = reserved(), y = reserved();
    thread_local std::string text = [] {
        std::string t;
        t.reserve(128);
        return t;
    }();
    // Blank rather than hidden outside ohms: the backdrop keeps its shape.
    if (view.yUnits.load() != YUnit::Ohms || domainOf(view.xUnits.load()) != Domain::Time) {
        for (int id : {PANEL_C4, PANEL_ZONE, PANEL_ZONESTATS}) p.setText(id, "");
        return;
    }
    p.setText(PANEL_C4, " ZONE ");
    const double minLength =
        zoneResolution(shownRiseTimePs(instrument.speed, getFilter() == 1, getFilterWidth()),
                       view.xUnits.load(), view.dielK.load());
    x.clear();
    y.clear();
    const int reference = panelState.zoneReference.load();
    const int plot = reference > 0 ? panelState.zonePlot.load() : panelState.livePlot.load();
    if (plot > 0) p.plotData(plot, x, y);
    const ZoneStats s = zoneStatistics(x, y, x1, x2, panelState.zoneNominal.load(),
                                       panelState.zoneTolerance.load(), minLength);
    char line[128], stats[128];
    if (s.verdict == ZoneVerdict::NoData) {
        std::snprintf(line, sizeof line, "no trace between the cursors");
        stats[0] = '\0';
    } else {
        // The limits are the menu's; the field has room for the verdict and the mean.
        if (reference > 0)
            std::snprintf(line, sizeof line, "R%d %s  avg %.2f", reference, verdictText(s.verdict),
                          s.mean);
        else
            std::snprintf(line, sizeof line, "%s  avg %.2f Ohm", verdictText(s.verdict), s.mean);
        std::snprintf(stats, sizeof stats, "min %.2f  max %.2f  sd %.2f", s.min, s.max, s.stddev);
    }
    text.assign(line);
    p.setText(PANEL_ZONE, text);
    text.assign(stats);
    p.setText(PANEL_ZONESTATS, text);
    const int colour = s.verdict == ZoneVerdict::Pass   ? platform::makeColor(76, 200, 80)
                       : s.verdict == ZoneVerdict::Fail ? platform::makeColor(233, 83, 83)
                                                        : platform::makeColor(230, 190, 60);
    p.setTextColor(PANEL_ZONE, colour);
}

void askZoneLimits() {
    char current[64];
    std::snprintf(current, sizeof current, "%g %g", panelState.zoneNominal.load(),
                  panelState.zoneTolerance.load());
    std::string answer = current;
    while (platform::PromptPopup(
               "Zone Limits", "Nominal impedance (Ohm) and tolerance (%), e.g. 50 10:", answer) ==
           1) {
        double nominal = 0, tolerance = 0;
        std::string error;
        if (parseZoneLimits(answer, nominal, tolerance, error)) {
            panelState.zoneNominal.store(nominal);
            panelState.zoneTolerance.store(tolerance);
            return;
        }
        // The limits stay as they were until a valid pair is given or the box is cancelled.
        platform::MessagePopup("Zone Limits", error);
    }
}

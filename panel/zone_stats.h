// Impedance statistics over a stretch of the trace (a zone), with a verdict against a nominal
// impedance and a tolerance: the figures a cable or board test records.
#pragma once

#include "setup/vocabulary.h"

#include <atomic>
#include <span>
#include <string>

enum class ZoneVerdict { Pass, Fail, TooShort, NoData };

struct ZoneStats {
    double from = 0, to = 0; // the zone as given, in order from <= to
    int points = 0;
    double mean = 0, min = 0, max = 0;
    double stddev = 0;        // sample standard deviation (n - 1)
    double low = 0, high = 0; // the limits: nominal -/+ tolerance
    ZoneVerdict verdict = ZoneVerdict::NoData;
};

// Statistics of the points of y whose x lies in [from, to] (either order). The verdict is Pass
// when every one of them lies within nominal +- tolerancePercent %, Fail otherwise; TooShort,
// with the figures still computed, when the zone is shorter than minLength (the resolution the
// rise time allows); NoData when fewer than two finite points lie in it. Pure, no allocation.
ZoneStats zoneStatistics(std::span<const double> x, std::span<const double> y, double from,
                         double to, double nominal, double tolerancePercent, double minLength);

// Four rise-time lengths in an x unit (0 m, 1 ft, 2 ns, 3 in): shorter zones get a warning
// rather than a verdict. The trace's x axis is the delay as measured (round trip in
// reflection), so the conversion does not depend on the mode.
double zoneResolution(double riseTimePs, XUnit unit, double dielectric);
// The rise time the shown trace has: the instrument's own step, slowed by the filter if on.
double shownRiseTimePs(int speedClass, bool filterOn, int filterWidthPs);

const char* verdictText(ZoneVerdict v); // "PASS", "FAIL", "TOO SHORT", "NO DATA"

// Reads "50 10" (nominal ohms, tolerance percent) in the C locale; false with a message.
bool parseZoneLimits(const std::string& text, double& nominal, double& tolerance,
                     std::string& error);

// The zone read-outs beside the cursor read-outs: shown in ohms only, refreshed with them.
void updateZoneReadouts(double x1, double x2);
// "Zone Limits..." asks for the nominal and the tolerance.
void askZoneLimits();

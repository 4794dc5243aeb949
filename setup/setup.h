// The user's set-up as one value: what the panel's fields, rings and menus hold, taken once at
// the start of a cycle so that every step of it works from the same choices.
#pragma once

#include "setup/vocabulary.h"

// The window a sweep covers: absolute start and end in the x unit (the zero not taken off), the
// zero the x values are shown from, the dielectric constant that turns distance into time, and
// the fine delay steps the sweep starts later than `start` (one sweep of an interleaved record).
struct SweepWindow {
    XUnit xUnit = XUnit::Metres;
    double start = 0.0, end = 0.0;
    double zero = 0.0;
    double dielectric = 1.0;
    int offsetSteps = 0;
};

struct Setup {
    Mode mode = Mode::TDR;
    bool differential = false;
    int stimulus = 2;
    int sampler = 4;
    int averaging = 1;
    bool filter = false;
    int filterWidthPs = 0;
    bool autoscale = true;
    double yMin = 0.0, yMax = 0.0;
    XUnit xUnit = XUnit::Metres;
    YUnit yUnit = YUnit::Ohms;
    double xStart = 0.0, xEnd = 0.0; // absolute: the zero reference not taken off
    double xZero = 0.0;
    double dielectric = 1.0;
    bool autoAcquire = false;
    bool trueProfile = false;
    bool externalCal = false; // the calibration kind: the external reference
    // Sweeps a frequency-domain record interleaves: the calibration's, so that the device is
    // sampled as its standards were.
    int interleave = 1;

    Domain domain() const { return domainOf(xUnit); }
    SweepWindow window() const { return {xUnit, xStart, xEnd, xZero, dielectric, 0}; }
};

// The one rule for where the layer-peeled profile applies: reflection (TDR) in ohms,
// single-ended or differential.
constexpr bool trueProfileApplies(Mode mode, YUnit unit) {
    return mode == Mode::TDR && unit == YUnit::Ohms;
}

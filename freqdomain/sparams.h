// Return loss (S11) and insertion loss (S21) in dB against GHz: the calibration's correct() and
// the axis it is shown against.
#pragma once

#include "freqdomain/store.h"

// Any magnitude below this floor (down to exactly zero, a DUT identical to the LOAD) is shown at
// it rather than lower or as minus infinity; a result with no meaning (a zero denominator: no
// calibration for the sampler) is NaN, which the plot leaves out as a gap and the autoscale skips.
constexpr double kDbFloor = -200.0;
double magnitudeDb(double re, double im);

// The frequency of each shown bin in GHz, for records sampled `incrementSteps` delay steps apart
// over 2048 transform points (an interleaved record has the same bins: K times the points, K
// times closer).
void frequencyAxis(int incrementSteps, double timebaseSeconds, Waveform& x);

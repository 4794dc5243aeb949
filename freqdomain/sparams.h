// Return loss (S11, one-port SOLT correction) and insertion loss (S21, through normalisation)
// of the last frequency-domain acquisition, in dB against GHz.
#pragma once

#include "acquisition/acquire.h"
#include "freqdomain/convert.h"

// The DUT record and the working standards in, dB in wfmDataCombined and GHz in wfmDataX out.
int performS11();
int performS21();

// Any magnitude below this floor (down to exactly zero, a DUT identical to the LOAD) is shown at
// it rather than lower or as minus infinity; a result with no meaning (a zero denominator: no
// calibration for the sampler) is NaN, which the plot leaves out as a gap and the autoscale skips.
constexpr double kDbFloor = -200.0;
double magnitudeDb(double re, double im);

// Spacing of frequency bins in GHz for records sampled `increment` delay steps apart over 2048
// transform points: 1 / (2048 x increment x (timebase + 5 ns) / 65536).
double binSpacingGHz(int incrementSteps, double timebaseSeconds);

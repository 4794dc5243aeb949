// Switching between the time domain (step response against distance or time) and the
// frequency domain (S11 or S21 in dB against GHz), with the panel rearranged to match.
#pragma once

#include "setup/vocabulary.h"

// Entering the frequency domain needs a SOLT calibration of
// the current mode and offers one; without it the program stays where it was.
void setDomain(Domain domain);
// Dims what the domain in force leaves without meaning (the filter, dielectric, differential
// and zero items in the frequency domain; the filter width while the filter is off).
void applyDomainDimming();

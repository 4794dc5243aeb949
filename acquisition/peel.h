// True impedance profile: layer peeling of a reflected step response.
#pragma once

#include "instrument/driver.h"

// Below this two-way transmission through what has been peeled, too little of the step gets
// further for the rest of the trace to say anything: peeling stops there.
constexpr double kPeelMinTransmission = 0.02;
// The plain conversion's ceiling, kept by the profile.
constexpr double kPeelMaxOhms = 500.0;

// Turns one line's impedance trace, as the plain conversion gives it (each sample's reflection
// coefficient on its own against referenceOhms), into the profile of the lossless layered line
// that reflects exactly this step response: each sample is a layer of one sample's round trip,
// and the step reaching it has lost what every earlier layer reflected, together with their
// multiple reflections. Left as they are: samples before the incident edge has settled, those
// from a sample that is not a number on, and those behind a point that passes back too little
// of the step (kPeelMinTransmission) or reaches kPeelMaxOhms. No allocation.
void peelProfile(Waveform& ohms, double referenceOhms = 50.0);

// The SOLT calibration on the panel: the offer to load or measure one, and the guided sequences
// that prompt for each standard and store what the instrument measures.
#pragma once

#include <string>

// Offers "Load File" / "New Calibration" / "Cancel" for type 0 or 1; any other type means one
// is loaded already and the type is the current mode. 1 success, -1 cancelled, -2..-4 (and
// -5 for a refused file) when loading failed, -2 when a standard's sweep did not come back.
int performSOLT(int type);

// The prompt label of a sampler line ("PORT 1, CH 1+"; the 20-channel names when the stimulus
// ring carries them).
std::string soltSamplerLabel(int sampler);

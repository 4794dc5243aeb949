// Exports of what is shown: the waveform as CSV, the panel as a PNG image or on paper.
#pragma once

#include "instrument/driver.h"

#include <string>

int saveCSV();
// The same of any trace (a reference trace's), the file name offered from `name` when given.
int saveTraceCSV(const Waveform& x, const Waveform& y, const std::string& name);
int savePNG();
int printWaveform();

// File > Save Touchstone: the shown trace, S11 (mode 0) as .s1p or S21 (mode 1) as .s2p, from
// the corrected complex values of the visible bins. 1 saved, 0 cancelled, negative on failure
// (a message box outside the frequency domain, a log line otherwise).
int saveTouchstone();

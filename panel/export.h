// Exports of what is shown: the waveform as CSV, the panel as a PNG image or on paper.
#pragma once

int saveCSV();
int savePNG();
int printWaveform();

// File > Save Touchstone: the shown trace, S11 (mode 0) as .s1p or S21 (mode 1) as .s2p, from
// the corrected complex values of the visible bins. 1 saved, 0 cancelled, negative on failure
// (a message box outside the frequency domain, a log line otherwise).
int saveTouchstone();

// Exports of what is shown: the waveform as CSV, the panel as a PNG image or on paper.
#pragma once

#include <atomic>

// The first dialog of each kind after start-up opens in "datalogs" or "images".
extern std::atomic<int> defaultSaveCSV;
extern std::atomic<int> defaultSavePNG;

int saveCSV();
int savePNG();
int printWaveform();

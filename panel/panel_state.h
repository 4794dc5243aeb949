// What the panel keeps beside its controls: the handles of the traces it plots, the time-domain
// window saved while the frequency domain is shown, the window tables the model found sets, the
// zone limits and which file dialogs have opened once. Atomic: the tick reads them while
// unguarded callbacks write them.
#pragma once

#include "setup/vocabulary.h"

#include <array>
#include <atomic>

// The units and the window shown, which each cycle's set-up is read from. Atomic because
// unguarded callbacks write them while a tick may be reading them.
struct ViewWindow {
    std::atomic<XUnit> xUnits{XUnit::Metres};
    std::atomic<YUnit> yUnits{YUnit::Millivolts};
    std::atomic<double> xStart{0.0};
    std::atomic<double> xEnd{3.0};
    std::atomic<double> dielK{2.25};
    std::atomic<double> xZero{0.0};
};
// One per process, like the panel whose fields it mirrors.
extern ViewWindow view;

struct PanelState {
    // Plot handles of the live and the recalled trace (0: none).
    std::atomic<int> livePlot{0};
    std::atomic<int> storedPlot{0};
    // The time-domain window saved on entering the frequency domain.
    std::atomic<XUnit> savedXUnits{XUnit::Metres};
    std::atomic<YUnit> savedYUnits{YUnit::Millivolts};
    std::atomic<double> savedXZero{0.0};
    std::atomic<double> savedXStart{0.0};
    std::atomic<double> savedXEnd{3.0};
    // The window's top and default end per x unit (m, ft, ns, in, GHz); the GHz entries are
    // raised at start-up for speed class 0 instruments.
    std::array<std::atomic<double>, 5> maxRange = {15.0, 45.0, 74.0, 888.0, 2.4};
    std::array<std::atomic<double>, 5> defaultEnd = {3.0, 9.0, 15.0, 180.0, 2.4};
    // The on-screen zone between the cursors: its limits, set from the menu, kept for the run.
    std::atomic<double> zoneNominal{50.0};   // ohms
    std::atomic<double> zoneTolerance{10.0}; // percent
    // The trace the zone read-outs judge: 0 the live one, N reference trace N (its plot).
    std::atomic<int> zoneReference{0};
    std::atomic<int> zonePlot{0};
    // 1 until a kind's first file dialog, which opens in its data folder.
    std::atomic<int> defaultSaveCSV{1};
    std::atomic<int> defaultSavePNG{1};
    std::atomic<int> defaultSaveCAL{1};
    std::atomic<int> defaultSaveWaveform{1};
    std::atomic<int> defaultSaveSettings{1};
    std::atomic<int> defaultSaveTouchstone{1};
};
// One per process, like the panel.
extern PanelState panelState;

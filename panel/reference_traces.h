// Reference traces: Touchstone files (a network analyser's, a field solver's) shown as the step
// a TDR or TDT with this instrument's edge would have measured, over the live trace.
#pragma once

#include "freqdomain/network.h"
#include "setup/setup.h"

#include <string>
#include <vector>

constexpr std::size_t kMaxReferenceTraces = 8;

struct ReferenceInfo {
    std::string name; // the file's name, as the legend shows it
    std::string path;
    bool shown = true;
    int color = 0;
};

// File > Open Touchstone...: the file dialog, then addReferenceTrace. 1 added, 0 cancelled, -1
// refused (the log says why).
int openTouchstone();
// Reads the file and adds it as a shown trace: -1, with the reason in the log and the traces
// as they were, when it is no Touchstone file or eight are held already.
int addReferenceTrace(const std::string& path);
// Display > Reference Traces...: the list, and "show N", "hide N", "remove N" or "clear".
void manageReferenceTraces();
// Applies one such order; false with a message when it is none.
bool orderReferenceTraces(const std::string& order, std::string& error);
void clearReferenceTraces();
std::vector<ReferenceInfo> referenceTraces();

// Plots every shown trace for the set-up (its mode, units, window, dielectric and rise time),
// each with its file name in the legend; a trace that cannot be shown says why in the log once.
// Called by the cycle before it plots the live trace, so the cursors stay on the live one.
void drawReferenceTraces(const Setup& setup);
// The profile of trace i as drawReferenceTraces shows it; false with a message.
bool referenceProfile(std::size_t i, const Setup& setup, Waveform& x, Waveform& y,
                      std::string& error);
// The same of a network that is not held (the batch run's file).
bool networkProfile(const Network& network, StepResponse& cache, const Setup& setup, Waveform& x,
                    Waveform& y, std::string& error);
// What the file allows, for the log: its ports, points, band, reference and time limits.
std::string networkSummary(const std::string& name, const Network& network, double dielectric);

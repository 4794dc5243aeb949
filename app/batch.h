// `velt measure RECIPE`: one measurement without a window. The same start-up, detection,
// calibration and acquisition as on screen, driven through the panel model, with every popup
// answered from the recipe; zone verdicts on standard output, a result file and a report
// folder on disk.
#pragma once

#include "app/options.h"
#include "platform/popups.h"

#include <cstdio>
#include <string>

// Exit statuses of a batch run.
constexpr int kBatchPass = 0;
constexpr int kBatchFail = 1;
constexpr int kBatchError = 2; // instrument, file or recipe

struct BatchSetup {
    std::FILE* out = stdout; // zone lines and the closing line
    std::FILE* err = stderr; // what went wrong
    bool paced = true;       // the simulated link as slow as the real one
    // Where the operator is asked to leave the connector open: the window's popups (station
    // mode), else standard input.
    platform::PopupHandler* operatorPrompts = nullptr;
};

// Runs the recipe named in the options; returns the exit status. The folder written is
// reported on `out` and in the result.
int runMeasure(const Options& options, const BatchSetup& setup = {});

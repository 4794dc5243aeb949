// Program entry, start-up sequence and shutdown.
#pragma once

#include <string>

// Process-wide handles and sizes.
extern int panelHandle;
extern int menuHandle;
extern int bottomHandle;
extern int rightHandle;
extern int topHandle;
extern int windowWidth;
extern int windowHeight;

// Detected model (filled by model detection; empty until it exists).
extern char model[8];
extern int channels;
extern int speed;

constexpr const char* kVersionString = "2.8.0.1";

// The start-up sequence and event loop; returns the process exit status.
int veltMain();
// Shutdown: suspend the timer, wait for the running tick, autosave, quit.
void shutdown();

// Program entry, start-up sequence and shutdown.
#pragma once

#include "platform/shutdown.h"
#include "setup/version.h"

#include <string>

// How start-up shows the panel once it is loaded: the Qt view installs window->show(); tests
// and batch runs leave it empty.
void setDisplayPanel(void (*display)());

// "VELT v2.8.0 / QSB020": the version without its build number, then the model.
std::string versionLabel(const char* version, const char* modelCode);

// The start-up sequence and event loop; returns the process exit status.
int veltMain();

// Shutdown: suspend the timer, wait for the running tick, autosave, quit with status.
void shutdown(int status = 0);

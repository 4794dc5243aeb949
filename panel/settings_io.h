// Saving, loading and resetting the user's settings.
#pragma once

#include "files/settings_file.h"

#include <atomic>

// The program's set-up as the file keeps it.
SettingsRecord currentSettings();
// mode 1: user.ini in the working directory; any other: a file the user chooses.
int saveSettings(int mode);
int loadSettings(int mode);
int resetSettings();

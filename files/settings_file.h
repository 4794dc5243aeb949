// Settings file: the autosaved user.ini and user-chosen settings files.
#pragma once

// autosave 1: user.ini in the working directory; 0: a file the user chooses.
int loadSettings(int autosave);
int saveSettings(int autosave);

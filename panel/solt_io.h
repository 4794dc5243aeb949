// Saving and loading SOLT calibrations through the dialogs or at a path.
#pragma once

#include <atomic>
#include <string>

// type 0 S11, 1 S21, -1 the current mode. Results of saveSOLT: 1 saved, -1 dialog cancelled,
// -2 / -4 S11 / S21 file not opened, -3 / -5 a row not written, -6 not closed.
int saveSOLT(int type);
// Results of loadSOLT: 1 loaded, -1 dialog cancelled, -2 / -3 S11 / S21 file not opened, -4 not
// closed, -5 the file is short or malformed. Anything but 1 leaves the store untouched.
int loadSOLT(int type);

// The file at a path into the store, with the same all-or-nothing rule. Returns loadSOLT's codes
// from -2 on (without dialog) and logs as loadSOLT does.
int loadSOLTFile(int type, const std::string& path);
// The store into the file at a path; saveSOLT's codes from -2 on, logged as saveSOLT does.
int saveSOLTFile(int type, const std::string& path);

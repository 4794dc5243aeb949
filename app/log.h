// Program log, stopwatch and folder creation.
#pragma once

#include <string>

int writeMessage(int code, const std::string& text, int mode);
int startTimer();
int stopTimer(const std::string& label, int show);
// Seconds of the last stopTimer lap and its label (for benchmarks and tests).
double lastLapSeconds();
int createDir(const std::string& path, int verbose);

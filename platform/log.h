// Program log, stopwatch and folder creation.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

// One log line holds at most this many bytes, the terminating zero included.
constexpr int kLogLineSize = 384;

void writeMessage(int code, const std::string& text, int mode);
void startTimer();
void stopTimer(const std::string& label, int show);
// Seconds of the last stopTimer lap and its label (for benchmarks and tests).
double lastLapSeconds();
// The five folders beside user.ini where the file dialogs start.
constexpr const char* kDataFolders[] = {"calibrations", "datalogs", "images", "settings",
                                        "waveforms"};
int createDir(const std::string& path, int verbose);
// Appends text to the program log as it stands and echoes it to standard error.
void appendLog(const std::string& text);
// Where the log lines are shown (the panel's log box); none: standard error only.
void setLogSink(void (*sink)(const std::string& text));

// Program log lines, the stopwatch and the data folders.
#include "platform/log.h"

#include "platform/clock.h"

#include <cstdio>
#include <cstring>
#include <filesystem>

namespace {
std::atomic<std::uint32_t> stopwatchStart{0};
std::atomic<void (*)(const std::string&)> gLogSink{nullptr};
std::atomic<std::uint32_t> stopwatchStop{0};
std::atomic<float> stopwatchLap{0.0f};
} // namespace

void setLogSink(void (*sink)(const std::string& text)) {
    gLogSink.store(sink);
}

void appendLog(const std::string& text) {
    if (auto sink = gLogSink.load()) sink(text);
    // A terminal or a batch run sees the same lines as the log box.
    std::fputs(text.c_str(), stderr);
}

void writeMessage(int code, const std::string& text, int mode) {
    char line[kLogLineSize];
    int n = code != 0 ? std::snprintf(line, sizeof line, "> ERROR #%d: %s\n", code, text.c_str())
                      : std::snprintf(line, sizeof line, "> %s\n", text.c_str());
    // An over-long text is cut, but the line still ends, so the next message starts afresh.
    if (n >= static_cast<int>(sizeof line)) line[sizeof line - 2] = '\n';
    if (mode == 0) appendLog(line);
}

void startTimer() {
    stopwatchStart.store(platform::clockMs());
}

void stopTimer(const std::string& label, int show) {
    std::uint32_t stop = platform::clockMs();
    stopwatchStop.store(stop);
    // Unsigned difference: a lap across the 32-bit wrap of the tick counter stays right.
    std::uint32_t ticks = stop - stopwatchStart.load();
    float seconds = static_cast<float>(ticks / 1000.0);
    stopwatchLap.store(seconds);
    if (show == 1) {
        char line[kLogLineSize];
        std::snprintf(line, sizeof line, "%s: %3.3f\n", label.c_str(),
                      static_cast<double>(seconds));
        appendLog(line);
    }
}

double lastLapSeconds() {
    return stopwatchLap.load();
}

int createDir(const std::string& path, int verbose) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::file_status st = fs::status(path, ec);
    if (fs::is_directory(st)) {
        writeMessage(2011, "Directory already exists.", verbose ? 0 : -1);
        return -1;
    }
    // A file of the same name is no folder: the dialogs that start there would fail later.
    if (fs::exists(st) || !fs::create_directory(path, ec) || ec) {
        writeMessage(2012, "Log directory could not be created.", 0);
        return -2;
    }
    return 1;
}

// Recording production results: the database a run names, the local spool that keeps a record
// the database could not take, and `velt results`, which prints them back.
#pragma once

#include "files/results_db.h"

#include <condition_variable>
#include <cstdio>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

struct Options;

namespace results {

constexpr const char* kSpoolFile = "results-spool.sqlite";

enum class Delivery { Stored, Spooled, Lost };

// Writes records to the target; a record the target cannot take goes to the spool, and the spool
// goes to the target, oldest first, before the next record that reaches it. Not thread-safe: one
// owner (a run, or the queue below).
class Recorder {
  public:
    using Log = std::function<void(const std::string&)>;
    Recorder(std::string target, std::string spoolPath, Log log, int busyMs = 10000);
    Delivery record(const Record& record);
    // Sends the spool; the number sent, or -1 with the reason.
    int flush(std::string& error);
    std::string target() const { return displayTarget(target_); }

  private:
    bool connect(std::string& error);
    bool deliverSpool(std::string& error);
    bool putToTarget(const std::vector<Record>& records, std::string& error);

    std::string target_, spoolPath_;
    Log log_;
    int busyMs_;
    std::unique_ptr<Store> store_, spool_;
    bool spooling_ = false; // said once until the target is reached again
};

// How many records this process has stored in a database: what a statistics window watches.
std::uint64_t recordsStored();

// The recorder on a thread of its own, so a test or an acquisition never waits for a server:
// `done` runs on that thread once the record is stored, spooled or lost.
class RecordingQueue {
  public:
    explicit RecordingQueue(std::unique_ptr<Recorder> recorder);
    ~RecordingQueue(); // sends what is queued first
    RecordingQueue(const RecordingQueue&) = delete;
    RecordingQueue& operator=(const RecordingQueue&) = delete;
    void submit(Record record, std::function<void(Delivery)> done = nullptr);
    // Waits until everything submitted has been delivered (or spooled).
    void drain();

  private:
    void run();
    std::unique_ptr<Recorder> recorder_;
    std::mutex mutex_;
    std::condition_variable wake_, idle_;
    std::deque<std::pair<Record, std::function<void(Delivery)>>> queue_;
    bool busy_ = false, stop_ = false;
    std::thread thread_;
};

// The recorder the options ask for (nullptr with --results none), its spool in the data folder.
std::unique_ptr<Recorder> recorderFor(const Options& options, Recorder::Log log);
// The station's name: --station-name, else the host name.
std::string stationName(const Options& options);

// `velt results`: exit 0, or 2 with the reason on err.
int runResults(const Options& options, std::FILE* out, std::FILE* err);

} // namespace results

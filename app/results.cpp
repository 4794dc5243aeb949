// A record is never dropped quietly: the target, else the spool, else a message that names the
// report folder that still holds the measurement.
#include "app/results.h"

#include "app/options.h"

#include <nlohmann/json.hpp>

#include <atomic>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <unistd.h>

namespace fs = std::filesystem;

namespace results {

Recorder::Recorder(std::string target, std::string spoolPath, Log log, int busyMs)
    : target_(std::move(target)), spoolPath_(std::move(spoolPath)), log_(std::move(log)),
      busyMs_(busyMs) {}

bool Recorder::connect(std::string& error) {
    if (!store_) store_ = openStore(target_, error, busyMs_);
    return store_ != nullptr;
}

bool Recorder::putToTarget(const std::vector<Record>& records, std::string& error) {
    const bool wasOpen = store_ != nullptr;
    if (connect(error) && store_->put(records, error)) return true;
    store_.reset();
    // A connection that served before may be stale (the server restarted): once more, afresh.
    // A fresh one that failed means the database is out of reach; a second try would only
    // double the wait.
    return wasOpen && connect(error) && store_->put(records, error);
}

// False only when the target refused: a spool that cannot be read must not keep new records
// from the database.
bool Recorder::deliverSpool(std::string& error) {
    if (!spool_ && !fs::exists(spoolPath_)) return true;
    std::string spoolError;
    std::vector<Record> waiting;
    if ((!spool_ && !(spool_ = openStore(spoolPath_, spoolError, busyMs_))) ||
        !spool_->select(
            {}, [&](const Record& r) { waiting.push_back(r); }, spoolError)) {
        if (log_) log_("The spool cannot be read (" + spoolError + "); its records stay in it.");
        return true;
    }
    if (waiting.empty()) return true;
    // Sent before they leave the spool: a crash between the two sends them again, which
    // replaces them with themselves.
    if (!putToTarget(waiting, error)) return false;
    std::vector<std::string> ids;
    for (const Record& r : waiting) ids.push_back(r.id);
    if (!spool_->remove(ids, spoolError) && log_)
        log_("Spooled records sent but not cleared from the spool (" + spoolError +
             "); they will be sent again, which stores them once.");
    if (log_)
        log_(std::to_string(waiting.size()) + " spooled record" + (waiting.size() == 1 ? "" : "s") +
             " sent to " + displayTarget(target_) + ".");
    return true;
}

namespace {
std::atomic<std::uint64_t> gStored{0};
} // namespace

std::uint64_t recordsStored() {
    return gStored.load();
}

Delivery Recorder::record(const Record& record) {
    std::string error;
    if (deliverSpool(error) && putToTarget({record}, error)) {
        spooling_ = false;
        gStored.fetch_add(1);
        return Delivery::Stored;
    }
    std::string spoolError;
    if ((spool_ || (spool_ = openStore(spoolPath_, spoolError, busyMs_))) &&
        spool_->put({record}, spoolError)) {
        if (!spooling_ && log_)
            log_("Results database not reached (" + error + "): records are kept in " + spoolPath_ +
                 " and sent when it can be reached (velt results --flush).");
        spooling_ = true;
        return Delivery::Spooled;
    }
    if (log_)
        log_("The result of " + (record.serial.empty() ? "this measurement" : record.serial) +
             " could not be recorded (" + error + "; spool: " + spoolError + "); its report is " +
             (record.reportFolder.empty() ? "not written" : "in " + record.reportFolder) + ".");
    return Delivery::Lost;
}

int Recorder::flush(std::string& error) {
    if (!fs::exists(spoolPath_)) return 0;
    if (!spool_ && !(spool_ = openStore(spoolPath_, error, busyMs_))) return -1;
    std::size_t before = 0;
    if (!spool_->select(
            {}, [&](const Record&) { ++before; }, error))
        return -1;
    if (!deliverSpool(error)) return -1;
    spooling_ = false;
    return static_cast<int>(before);
}

RecordingQueue::RecordingQueue(std::unique_ptr<Recorder> recorder)
    : recorder_(std::move(recorder)), thread_([this] { run(); }) {}

RecordingQueue::~RecordingQueue() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void RecordingQueue::submit(Record record, std::function<void(Delivery)> done) {
    {
        std::lock_guard lock(mutex_);
        queue_.emplace_back(std::move(record), std::move(done));
    }
    wake_.notify_all();
}

void RecordingQueue::drain() {
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [this] { return queue_.empty() && !busy_; });
}

void RecordingQueue::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stop_ || !queue_.empty(); });
        if (queue_.empty()) return; // stopping, nothing left
        auto [record, done] = std::move(queue_.front());
        queue_.pop_front();
        busy_ = true;
        lock.unlock();
        const Delivery d = recorder_->record(record);
        if (done) done(d);
        lock.lock();
        busy_ = false;
        if (queue_.empty()) idle_.notify_all();
    }
}

std::unique_ptr<Recorder> recorderFor(const Options& o, Recorder::Log log) {
    if (o.results == "none") return nullptr;
    return std::make_unique<Recorder>(o.results, kSpoolFile, std::move(log));
}

std::string stationName(const Options& o) {
    if (!o.stationName.empty()) return o.stationName;
    char host[256] = "";
    if (gethostname(host, sizeof host - 1) != 0) return "unknown";
    return host;
}

namespace {

std::string number(double v, int decimals = -1) {
    if (!std::isfinite(v)) return "";
    char buf[48];
    auto r = decimals < 0
                 ? std::to_chars(buf, buf + sizeof buf, v)
                 : std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, decimals);
    return std::string(buf, r.ptr);
}

// RFC 4180: quoted when it holds a comma, a quote or a line break.
std::string csvField(const std::string& s) {
    if (s.find_first_of(",\"\r\n") == std::string::npos) return s;
    std::string out = "\"";
    for (char c : s) out += c == '"' ? std::string("\"\"") : std::string(1, c);
    return out + "\"";
}

constexpr const char* kCsvColumns =
    "id,time_utc,station,operator,lot,serial,recipe,recipe_sha256,model,instrument_serial,"
    "calibration_sha256,exit_status,verdict,source,retest,report_folder";
constexpr std::size_t kZoneColumns = 7; // nominal, tolerance, mean, min, max, sd, verdict

std::string fixedPart(const Record& r) {
    std::string line;
    for (const std::string* f :
         {&r.id, &r.time, &r.station, &r.operatorName, &r.lot, &r.serial, &r.recipe,
          &r.recipeSha256, &r.model, &r.instrumentSerial, &r.calibrationSha256})
        line += csvField(*f) + ",";
    line += std::to_string(r.exitStatus) + "," + r.verdict + "," + csvField(r.source) + "," +
            (r.retest ? "1" : "0") + "," + csvField(r.reportFolder);
    return line;
}

// Zones are columns, named by the zone, in the order they first appear; a record without a zone
// of that name leaves its cells empty. The names are known only at the end, so the rows wait.
bool printCsv(Store& store, const Query& q, std::FILE* out, std::string& error) {
    std::vector<std::string> names;
    struct Row {
        std::string fixed;
        std::vector<std::pair<std::size_t, std::string>> zones;
    };
    std::vector<Row> rows;
    const bool ok = store.select(
        q,
        [&](const Record& r) {
            Row row{fixedPart(r), {}};
            for (const ZoneRecord& z : r.zones) {
                std::size_t at = 0;
                while (at < names.size() && names[at] != z.name) ++at;
                if (at == names.size()) names.push_back(z.name);
                row.zones.emplace_back(at, number(z.nominal) + "," + number(z.tolerance) + "," +
                                               number(z.mean) + "," + number(z.minimum) + "," +
                                               number(z.maximum) + "," + number(z.sd) + "," +
                                               z.verdict);
            }
            rows.push_back(std::move(row));
        },
        error);
    if (!ok) return false;
    std::string text = kCsvColumns;
    for (const std::string& n : names)
        for (const char* c : {"nominal", "tolerance", "mean", "min", "max", "sd", "verdict"})
            text += "," + csvField(n + " " + c);
    text += "\n";
    const std::string empty(kZoneColumns - 1, ',');
    std::vector<const std::string*> cells(names.size());
    for (const Row& row : rows) {
        std::fill(cells.begin(), cells.end(), nullptr);
        for (const auto& [at, cell] : row.zones) cells[at] = &cell;
        text += row.fixed;
        for (const std::string* c : cells) text += "," + (c ? *c : empty);
        text += "\n";
        if (text.size() > (1u << 20)) {
            std::fwrite(text.data(), 1, text.size(), out);
            text.clear();
        }
    }
    std::fwrite(text.data(), 1, text.size(), out);
    return true;
}

nlohmann::ordered_json jsonNumber(double v) {
    return std::isfinite(v) ? nlohmann::ordered_json(v) : nlohmann::ordered_json(nullptr);
}

nlohmann::ordered_json toJson(const Record& r) {
    nlohmann::ordered_json j = {{"id", r.id},
                                {"time_utc", r.time},
                                {"station", r.station},
                                {"operator", r.operatorName},
                                {"lot", r.lot},
                                {"serial", r.serial},
                                {"recipe", r.recipe},
                                {"recipe_sha256", r.recipeSha256},
                                {"model", r.model},
                                {"instrument_serial", r.instrumentSerial},
                                {"calibration_sha256", r.calibrationSha256},
                                {"exit_status", r.exitStatus},
                                {"verdict", r.verdict},
                                {"source", r.source},
                                {"retest", r.retest},
                                {"report_folder", r.reportFolder}};
    nlohmann::ordered_json zones = nlohmann::ordered_json::array();
    for (const ZoneRecord& z : r.zones)
        zones.push_back({{"name", z.name},
                         {"nominal", jsonNumber(z.nominal)},
                         {"tolerance", jsonNumber(z.tolerance)},
                         {"mean", jsonNumber(z.mean)},
                         {"min", jsonNumber(z.minimum)},
                         {"max", jsonNumber(z.maximum)},
                         {"sd", jsonNumber(z.sd)},
                         {"verdict", z.verdict}});
    j["zones"] = zones;
    return j;
}

std::string padded(std::string s, std::size_t width) {
    if (s.size() < width) s.append(width - s.size(), ' ');
    return s;
}

std::string tableLine(const Record& r) {
    std::string zones;
    for (const ZoneRecord& z : r.zones)
        zones += (zones.empty() ? "" : "  ") + z.name + " " + number(z.mean, 2) + " " + z.verdict;
    return padded(r.time.substr(0, 19), 20) + padded(r.serial.empty() ? "-" : r.serial, 14) +
           padded(r.lot.empty() ? "-" : r.lot, 10) + padded(r.recipe, 16) +
           padded(r.verdict + (r.retest ? "*" : ""), 12) + padded(r.station, 12) +
           padded(r.operatorName.empty() ? "-" : r.operatorName, 10) + zones;
}

} // namespace

int runResults(const Options& o, std::FILE* out, std::FILE* err) {
    std::string error;
    if (o.flush) {
        Recorder recorder(o.results, kSpoolFile, [err](const std::string& m) {
            std::fprintf(err, "velt: %s\n", m.c_str());
        });
        const int sent = recorder.flush(error);
        if (sent < 0) {
            std::fprintf(err, "velt: results --flush: %s\n", error.c_str());
            return 2;
        }
        if (sent == 0) std::fprintf(err, "velt: no spooled records to send\n");
    }
    // Reading must not make a database: a mistyped file name is an error, not an empty list.
    if (!isServerTarget(o.results) && !fs::exists(o.results)) {
        std::fprintf(err, "velt: results: no database %s (nothing recorded yet?)\n",
                     o.results.c_str());
        return 2;
    }
    std::unique_ptr<Store> store = openStore(o.results, error);
    if (!store) {
        std::fprintf(err, "velt: results: %s\n", error.c_str());
        return 2;
    }
    Query q;
    q.recipe = o.queryRecipe;
    q.serial = o.serial;
    q.lot = o.lot;
    q.since = o.since;
    q.until = o.until;
    bool ok = true;
    std::size_t count = 0;
    if (o.format == "csv") {
        ok = printCsv(*store, q, out, error);
    } else if (o.format == "json") {
        std::fputs("[", out);
        ok = store->select(
            q,
            [&](const Record& r) {
                std::fputs(count++ ? ",\n  " : "\n  ", out);
                std::fputs(toJson(r).dump().c_str(), out);
            },
            error);
        std::fputs(count ? "\n]\n" : "]\n", out);
    } else {
        std::fprintf(out, "%s\n",
                     (padded("time (UTC)", 20) + padded("serial", 14) + padded("lot", 10) +
                      padded("recipe", 16) + padded("verdict", 12) + padded("station", 12) +
                      padded("operator", 10) + "zones (mean)")
                         .c_str());
        ok = store->select(
            q,
            [&](const Record& r) {
                ++count;
                std::fprintf(out, "%s\n", tableLine(r).c_str());
            },
            error);
        if (ok) std::fprintf(out, "%zu record%s\n", count, count == 1 ? "" : "s");
    }
    if (!ok) {
        std::fprintf(err, "velt: results: %s\n", error.c_str());
        return 2;
    }
    return 0;
}

} // namespace results

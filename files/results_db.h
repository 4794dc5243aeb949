// Production records: each judged measurement and its zones, kept in an SQLite file on one
// bench or a PostgreSQL server for a line of stations. One schema, one interface, two back ends.
#pragma once

#include <cmath>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace results {

struct ZoneRecord {
    std::string name;
    double nominal = 0, tolerance = 0; // ohms, percent
    double mean = NAN, minimum = NAN, maximum = NAN, sd = NAN;
    std::string verdict; // PASS, FAIL, WARN
};

struct Record {
    std::string id;   // unique over every station: 32 hex digits
    std::string time; // UTC, "2026-12-11T10:20:30.123456Z": sorts as it reads
    std::string station, operatorName, lot, serial;
    std::string recipe, recipeSha256;
    std::string model, instrumentSerial, calibrationSha256;
    int exitStatus = 0;
    std::string verdict; // PASS, FAIL, INCOMPLETE
    std::string source;  // measure, station, remote
    bool retest = false; // the serial was tested before and the operator asked again
    std::string reportFolder;
    std::vector<ZoneRecord> zones;
};

struct Query {
    std::string recipe, serial, lot, station;
    std::string since, until; // UTC, a date or a time; until a date includes that day
    std::size_t last = 0;     // only the newest N; 0: all
};

// The schema's version this program writes; an older database is migrated on first use, a
// newer one refused (a newer program made it).
constexpr int kSchemaVersion = 2;

// One zone of one record, as a control chart reads it; the views last for the call only.
struct ZoneValue {
    std::string_view zone, time, serial;
    double mean = NAN, nominal = NAN, tolerance = NAN;
};

class Store {
  public:
    virtual ~Store() = default;
    // Writes the records in one transaction, in order. A record whose id is stored already
    // replaces it, zones and all: sending one twice leaves it there once.
    virtual bool put(const std::vector<Record>& records, std::string& error) = 0;
    // The records the query selects, oldest first, each with its zones in order.
    virtual bool select(const Query& query, const std::function<void(const Record&)>& each,
                        std::string& error) = 0;
    // Each zone (only `zone` unless empty) of the records the query selects, oldest first.
    virtual bool selectZoneValues(const Query& query, const std::string& zone,
                                  const std::function<void(const ZoneValue&)>& each,
                                  std::string& error) = 0;
    virtual bool remove(const std::vector<std::string>& ids, std::string& error) = 0;
    // What the messages call it: the file's path or the URI without a password.
    virtual std::string name() const = 0;
};

// "postgresql://..." or "postgres://...": a libpq URI; anything else: an SQLite file, made with
// its schema when missing, waiting up to busyMs for another writer. Null with a message when it
// cannot be opened or migrated.
std::unique_ptr<Store> openStore(const std::string& target, std::string& error, int busyMs = 10000);
bool isServerTarget(const std::string& target);
// The target without a password a URI may carry, for messages and records.
std::string displayTarget(const std::string& target);

// 128 random bits as hex, and the current UTC time as Record::time writes it.
std::string newRecordId();
std::string utcNow();
// "2026-12-11" or "2026-12-11T10:20[:30]": what --since and --until take.
bool isQueryTime(const std::string& text);

} // namespace results

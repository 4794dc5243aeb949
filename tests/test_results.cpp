// The results database as a line meets it, told once against an SQLite file and once against a
// real PostgreSQL server: records read back as written, stations writing at once, and a
// database out of reach whose records wait in the spool and arrive once each.
#include "app/results.h"
#include "files/results_db.h"
#include "tests/support/pg_cluster.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
#include <filesystem>
#include <set>
#include <signal.h>
#include <sys/wait.h>
#include <thread>

namespace fs = std::filesystem;
using results::Delivery;
using results::Record;

namespace {

Record coupon(const std::string& serial, const std::string& time, const std::string& lot = "4711",
              const std::string& recipe = "cable-50ohm") {
    Record r;
    r.id = results::newRecordId();
    r.time = time;
    r.station = "bench-1";
    r.operatorName = "ann";
    r.lot = lot;
    r.serial = serial;
    r.recipe = recipe;
    r.recipeSha256 = std::string(64, 'a');
    r.model = "QSB020";
    r.verdict = "PASS";
    r.source = "measure";
    r.reportFolder = "/data/results/" + serial;
    r.zones = {{"trace", 50, 5, 50.03, 49.61, 50.48, 0.17, "PASS"},
               {"via, \"B\"", 85, 10, 91.2, 88.0, 95.5, NAN, "FAIL"}};
    return r;
}

enum class Backend { SQLite, PostgreSQL };

class ResultsStore : public testing::TestWithParam<Backend> {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/velt_results_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        if (GetParam() == Backend::PostgreSQL) {
            server_ = std::make_unique<testing_support::PgCluster>();
            ASSERT_TRUE(server_->ok()) << server_->why();
            target_ = server_->uri();
        } else {
            target_ = (dir_ / "results.sqlite").string();
        }
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::vector<Record> all(const results::Query& q = {}) {
        std::string error;
        auto store = results::openStore(target_, error);
        EXPECT_TRUE(store) << error;
        std::vector<Record> out;
        if (store) {
            EXPECT_TRUE(store->select(
                q, [&](const Record& r) { out.push_back(r); }, error));
        }
        return out;
    }
    results::Recorder recorder(int busyMs = 10000) {
        return results::Recorder(
            target_, (dir_ / results::kSpoolFile).string(),
            [this](const std::string& m) { log_.push_back(m); }, busyMs);
    }

    fs::path dir_;
    std::string target_;
    std::unique_ptr<testing_support::PgCluster> server_;
    std::vector<std::string> log_;
};

TEST_P(ResultsStore, RecordsReadBackAsWrittenSelectedByWhatAQualityEngineerAsks) {
    std::string error;
    auto store = results::openStore(target_, error);
    ASSERT_TRUE(store) << error;
    Record a = coupon("A-1", "2026-12-09T08:00:00.000Z");
    Record b = coupon("A-2", "2026-12-10T23:59:59.999Z");
    Record c = coupon("B-1", "2026-12-11T07:30:00.000Z", "4712", "cable-75ohm");
    b.retest = true;
    b.exitStatus = 1;
    b.verdict = "FAIL";
    ASSERT_TRUE(store->put({c, a}, error)) << error;
    ASSERT_TRUE(store->put({b}, error)) << error;
    // Sent again (a spool delivered twice): replaced, not doubled.
    a.verdict = "INCOMPLETE";
    ASSERT_TRUE(store->put({a}, error)) << error;

    const std::vector<Record> got = all();
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0].serial, "A-1"); // oldest first
    EXPECT_EQ(got[0].verdict, "INCOMPLETE");
    EXPECT_EQ(got[1].serial, "A-2");
    EXPECT_TRUE(got[1].retest);
    EXPECT_EQ(got[1].exitStatus, 1);
    ASSERT_EQ(got[1].zones.size(), 2u);
    EXPECT_EQ(got[1].zones[1].name, "via, \"B\"");
    EXPECT_DOUBLE_EQ(got[1].zones[0].mean, 50.03);
    EXPECT_DOUBLE_EQ(got[1].zones[1].maximum, 95.5);
    EXPECT_TRUE(std::isnan(got[1].zones[1].sd));
    EXPECT_EQ(got[2].recipe, "cable-75ohm");

    struct Case {
        results::Query q;
        std::vector<std::string> serials;
    };
    const auto q = [](auto set) {
        results::Query query;
        set(query);
        return query;
    };
    const Case cases[] = {
        {q([](auto& x) { x.recipe = "cable-50ohm"; }), {"A-1", "A-2"}},
        {q([](auto& x) { x.serial = "B-1"; }), {"B-1"}},
        {q([](auto& x) { x.lot = "4711"; }), {"A-1", "A-2"}},
        {q([](auto& x) { x.since = "2026-12-10"; }), {"A-2", "B-1"}},
        {q([](auto& x) { x.until = "2026-12-10"; }), {"A-1", "A-2"}}, // the whole day
        {q([](auto& x) { x.until = "2026-12-10T12:00"; }), {"A-1"}},
        {q([](auto& x) { x.lot = "4711", x.last = 1; }), {"A-2"}},
        {q([](auto& x) { x.serial = "nobody"; }), {}},
        {q([](auto& x) { x.serial = "x' OR '1'='1"; }), {}}, // a value, never SQL
    };
    for (const Case& t : cases) {
        std::vector<std::string> serials;
        for (const Record& r : all(t.q)) serials.push_back(r.serial);
        EXPECT_EQ(serials, t.serials)
            << t.q.recipe << t.q.serial << t.q.lot << t.q.since << t.q.until << t.q.last;
        // The control charts' read selects the same records, one zone of each.
        serials.clear();
        ASSERT_TRUE(store->selectZoneValues(
            t.q, got[1].zones[1].name,
            [&](const results::ZoneValue& v) { serials.emplace_back(v.serial); }, error))
            << error;
        EXPECT_EQ(serials, t.serials) << "zone read, " << t.q.serial << t.q.since << t.q.last;
    }
}

// Stations writing at once: every record there once. Processes, as on a line, each with its own
// connection.
TEST_P(ResultsStore, StationsRecordingAtOnceLoseAndDoubleNothing) {
    const int processes = GetParam() == Backend::SQLite ? 4 : 8;
    constexpr int kEach = 500;
    {
        std::string error; // the schema first, as the first station's start-up makes it
        ASSERT_TRUE(results::openStore(target_, error)) << error;
    }
    std::vector<pid_t> children;
    for (int p = 0; p < processes; ++p) {
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            results::Recorder rec(target_, (dir_ / ("spool" + std::to_string(p))).string(),
                                  nullptr);
            int stored = 0;
            for (int i = 0; i < kEach; ++i)
                stored += rec.record(coupon("P" + std::to_string(p) + "-" + std::to_string(i),
                                            results::utcNow())) == Delivery::Stored;
            _exit(stored == kEach ? 0 : 1);
        }
        children.push_back(pid);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(240);
    for (pid_t pid : children) {
        int status = -1;
        while (waitpid(pid, &status, WNOHANG) == 0 && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (std::chrono::steady_clock::now() >= deadline) kill(pid, SIGKILL);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a station spooled or hung";
    }
    std::set<std::string> serials, ids;
    const std::vector<Record> got = all();
    for (const Record& r : got) {
        serials.insert(r.serial);
        ids.insert(r.id);
        EXPECT_EQ(r.zones.size(), 2u);
    }
    EXPECT_EQ(got.size(), static_cast<std::size_t>(processes * kEach));
    EXPECT_EQ(serials.size(), got.size());
    EXPECT_EQ(ids.size(), got.size());
}

// The database out of reach mid-run (the server stopped; the file locked by another writer past
// the time-out): the measurements go on, their records spool, the log says so once, and the next
// record that gets through takes the spool with it, once each and in order.
TEST_P(ResultsStore, ADatabaseOutOfReachSpoolsAndTheNextConnectionDeliversOnce) {
    results::Recorder rec = recorder(200);
    std::vector<std::string> sent;
    const auto measure = [&](Delivery expected) {
        const Record r = coupon("S" + std::to_string(sent.size()), results::utcNow());
        EXPECT_EQ(rec.record(r), expected) << r.serial;
        sent.push_back(r.serial);
    };
    for (int i = 0; i < 3; ++i) measure(Delivery::Stored);

    sqlite3* holder = nullptr;
    if (server_) {
        ASSERT_TRUE(server_->stop());
    } else {
        ASSERT_EQ(sqlite3_open(target_.c_str(), &holder), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(holder, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
    }
    for (int i = 0; i < 4; ++i) measure(Delivery::Spooled);
    ASSERT_EQ(log_.size(), 1u) << "said once";
    EXPECT_NE(log_[0].find("records are kept in"), std::string::npos) << log_[0];

    if (server_) {
        ASSERT_TRUE(server_->start());
    } else {
        sqlite3_exec(holder, "ROLLBACK", nullptr, nullptr, nullptr);
        sqlite3_close(holder);
    }
    measure(Delivery::Stored); // the stale connection replaced, the spool first
    ASSERT_EQ(log_.size(), 2u);
    EXPECT_EQ(log_[1], "4 spooled records sent to " + results::displayTarget(target_) + ".");

    std::vector<std::string> got;
    for (const Record& r : all()) got.push_back(r.serial);
    EXPECT_EQ(got, sent);
    std::string error;
    EXPECT_EQ(rec.flush(error), 0) << "the spool is empty: " << error;
}

INSTANTIATE_TEST_SUITE_P(Backends, ResultsStore,
                         testing::Values(Backend::SQLite, Backend::PostgreSQL),
                         [](const auto& info) {
                             return info.param == Backend::SQLite ? "SQLite" : "PostgreSQL";
                         });

TEST(ResultsStore, AFileFromANewerProgramIsRefusedNotRewritten) {
    const std::string path = "/tmp/velt_results_newer.sqlite";
    fs::remove(path);
    std::string error;
    ASSERT_TRUE(results::openStore(path, error)) << error;
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    sqlite3_exec(db, "UPDATE schema_version SET version = 99", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    EXPECT_FALSE(results::openStore(path, error));
    EXPECT_NE(error.find("made by a newer VELT (schema 99)"), std::string::npos) << error;
    fs::remove(path);
}

TEST(ResultsStore, AFileOfTheFirstSchemaGainsTheChartIndexAndKeepsItsRecords) {
    const std::string path = "/tmp/velt_results_v1.sqlite";
    fs::remove(path);
    std::string error;
    ASSERT_TRUE(
        results::openStore(path, error)->put({coupon("V-1", "2026-12-09T08:00:00.000Z")}, error))
        << error;
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    // The file as the first schema left it.
    ASSERT_EQ(sqlite3_exec(db,
                           "DROP INDEX measurement_recipe_time_id; CREATE INDEX "
                           "measurement_recipe_time ON measurement (recipe, time_utc); UPDATE "
                           "schema_version SET version = 1",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    auto store = results::openStore(path, error);
    ASSERT_TRUE(store) << error;
    int count = 0;
    ASSERT_TRUE(store->select(
        {}, [&](const results::Record& r) { count += r.serial == "V-1"; }, error));
    EXPECT_EQ(count, 1);
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(db,
                       "SELECT (SELECT version FROM schema_version), (SELECT count(*) FROM "
                       "sqlite_master WHERE name = 'measurement_recipe_time_id')",
                       -1, &s, nullptr);
    ASSERT_EQ(sqlite3_step(s), SQLITE_ROW);
    EXPECT_EQ(sqlite3_column_int(s, 0), 2);
    EXPECT_EQ(sqlite3_column_int(s, 1), 1);
    sqlite3_finalize(s);
    sqlite3_close(db);
    fs::remove(path);
}

} // namespace

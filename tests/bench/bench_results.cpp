// The results database: one measurement recorded (one transaction, as a run makes it) on SQLite
// and on a local PostgreSQL server, and `velt results --format csv` over 100,000 records.
#include "app/options.h"
#include "app/results.h"
#include "files/results_db.h"
#include "tests/support/pg_cluster.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>

namespace {

results::Record coupon(int i) {
    results::Record r;
    r.id = results::newRecordId();
    r.time = results::utcNow();
    r.station = "bench-1";
    r.operatorName = "ann";
    r.lot = "L" + std::to_string(i / 500);
    r.serial = "S" + std::to_string(i);
    r.recipe = "cable-50ohm";
    r.recipeSha256 = std::string(64, 'a');
    r.model = "QSB020";
    r.verdict = "PASS";
    r.source = "measure";
    r.reportFolder = "/data/results/cable-50ohm-20261211-101010";
    r.zones = {{"cable", 50, 5, 50.03, 49.61, 50.48, 0.17, "PASS"},
               {"connector", 50, 10, 51.2, 48.0, 54.5, 1.1, "PASS"}};
    return r;
}

void recordEach(benchmark::State& state, const std::string& target, const std::string& spool) {
    results::Recorder recorder(target, spool, nullptr);
    int i = 0;
    for (auto _ : state)
        if (recorder.record(coupon(i++)) != results::Delivery::Stored)
            state.SkipWithError("spooled");
}

void BM_RecordOneMeasurementSQLite(benchmark::State& state) {
    const std::string dir = "/tmp/velt_bench_results";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    recordEach(state, dir + "/results.sqlite", dir + "/spool.sqlite");
    std::filesystem::remove_all(dir);
}
BENCHMARK(BM_RecordOneMeasurementSQLite)->Unit(benchmark::kMillisecond);

void BM_RecordOneMeasurementPostgreSQL(benchmark::State& state) {
    testing_support::PgCluster server;
    if (!server.ok()) return state.SkipWithError(server.why().c_str());
    recordEach(state, server.uri(), "/tmp/velt_bench_pg_spool.sqlite");
}
BENCHMARK(BM_RecordOneMeasurementPostgreSQL)->Unit(benchmark::kMillisecond);

void BM_ResultsCsv100k(benchmark::State& state) {
    const std::string path = "/tmp/velt_bench_100k.sqlite";
    std::filesystem::remove(path);
    {
        std::string error;
        auto store = results::openStore(path, error);
        std::vector<results::Record> batch;
        for (int i = 0; i < 100000; ++i) {
            batch.push_back(coupon(i));
            if (batch.size() == 5000) {
                store->put(batch, error);
                batch.clear();
            }
        }
    }
    Options o;
    o.results = path;
    o.format = "csv";
    std::FILE* sink = std::fopen("/dev/null", "w");
    for (auto _ : state)
        if (results::runResults(o, sink, stderr) != 0) state.SkipWithError("velt results failed");
    std::fclose(sink);
    std::filesystem::remove(path);
}
BENCHMARK(BM_ResultsCsv100k)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

// The statistics of one zone over 100,000 records, the database read included.
#include "app/spc.h"
#include "files/results_db.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <random>

namespace {

void BM_SpcOneZone100k(benchmark::State& state) {
    const std::string path = "/tmp/velt_bench_spc_100k.sqlite";
    std::filesystem::remove(path);
    std::string error;
    {
        auto store = results::openStore(path, error);
        std::mt19937 noise(7);
        std::normal_distribution<double> ohms(50.0, 0.4);
        std::vector<results::Record> batch;
        for (int i = 0; i < 100000; ++i) {
            results::Record r;
            r.id = results::newRecordId();
            r.time = "2026-12-11T10:00:00." + std::to_string(100000 + i) + "Z";
            r.station = "bench-1";
            r.lot = "L" + std::to_string(i / 500);
            r.serial = "S" + std::to_string(i);
            r.recipe = "cable-50ohm";
            r.verdict = "PASS";
            r.source = "measure";
            r.zones = {{"cable", 50, 5, ohms(noise), 49, 51, 0.2, "PASS"},
                       {"connector", 50, 10, ohms(noise), 48, 54, 1.1, "PASS"}};
            batch.push_back(std::move(r));
            if (batch.size() == 5000) {
                store->put(batch, error);
                batch.clear();
            }
        }
    }
    results::Query q;
    q.recipe = "cable-50ohm";
    for (auto _ : state) {
        auto store = results::openStore(path, error);
        std::vector<spc::ZoneStats> zones;
        if (!store || !spc::analyseStore(*store, q, "cable", 5, zones, error) ||
            zones.size() != 1 || zones[0].used != 100000)
            state.SkipWithError("no statistics");
    }
    std::filesystem::remove(path);
}
BENCHMARK(BM_SpcOneZone100k)->Unit(benchmark::kMillisecond)->Iterations(5);

} // namespace

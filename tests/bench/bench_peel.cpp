// Cost of the true impedance profile per trace: all 1024 samples peeled, the worst case.
#include "acquisition/peel.h"

#include <benchmark/benchmark.h>

namespace {

// 30 ohms then 75 ohms behind the reference line, as the plain conversion shows them, with the
// window starting on the line so that no sample is skipped.
Waveform plainTrace() {
    Waveform w;
    for (std::size_t i = 0; i < w.size(); ++i) w[i] = i < 100 ? 50.0 : i < 300 ? 30.0 : 67.9;
    return w;
}

void BM_PeelProfile(benchmark::State& state) {
    const Waveform plain = plainTrace();
    Waveform w;
    for (auto _ : state) {
        w = plain;
        peelProfile(w);
        benchmark::DoNotOptimize(w.data());
    }
}
BENCHMARK(BM_PeelProfile)->Unit(benchmark::kMicrosecond);

} // namespace

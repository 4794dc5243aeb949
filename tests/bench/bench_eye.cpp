// The eye through a lossy (RC, 60 ps) channel at 5 Gb/s, 32 samples a unit interval, the
// histogram included: PRBS 15 whole, and PRBS 23 as its first 2^20 bits.
#include "freqdomain/eye.h"

#include <benchmark/benchmark.h>

#include <cmath>

namespace {

eye::Step lossy() {
    eye::Step s{{}, 0.25e-12};
    for (double t = 0; t < 3e-9; t += s.dt) s.values.push_back(0.25 * (1 - std::exp(-t / 60e-12)));
    return s;
}

void BM_Eye(benchmark::State& state) {
    const eye::Step step = lossy();
    eye::Settings s;
    s.bitRate = 5e9;
    s.pattern = static_cast<eye::Pattern>(state.range(0));
    s.rjSeconds = 1e-12;
    s.noise = 0.001;
    for (auto _ : state) {
        const eye::Eye e = eye::compute(step, s);
        benchmark::DoNotOptimize(e.height);
    }
}
BENCHMARK(BM_Eye)
    ->Arg(static_cast<int>(eye::Pattern::Prbs15))
    ->Arg(static_cast<int>(eye::Pattern::Prbs23))
    ->Unit(benchmark::kMillisecond);

} // namespace

// The time-domain cycle against the unpaced simulated instrument, in parts, and how long the
// GUI thread can be held up by the panel model while the timer acquires continuously.
#include "acquisition/acquire.h"
#include "acquisition/filter.h"
#include "instrument/driver.h"
#include "panel/cycle.h"
#include "panel/interface.h"
#include "panel/panel_state.h"
#include "panel/settings.h"
#include "panel/timer.h"
#include "panel/units.h"
#include "platform/async_timer.h"
#include "platform/clock.h"
#include "platform/panel_model.h"
#include "simulator/sim_device.h"
#include "tests/support/test_support.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <memory>

using platform::panel;

namespace {

simulator::SimulatedInstrument& simulated() {
    static simulator::SimulatedInstrument sim;
    return sim;
}

// Panel, link and calibration as after start-up; differential selects the impedance pair.
void ready(bool differential) {
    static bool linked = false;
    testing_support::freshPanel();
    if (!linked) {
        platform::setSerialDevice(&simulated());
        instrument.open();
        linked = true;
    }
    calibrate(2, 5, 0);
    calibrate(2, 4, 0);
    setDiff(differential ? 1 : 0);
    tick.asyncCal = -1;
    tick.asyncAcqCount = 0;
}

void BM_AcquireCycle(benchmark::State& state) {
    ready(state.range(0) == 1);
    for (auto _ : state) acquire(1);
    state.SetLabel(state.range(0) == 1 ? "differential" : "single ended");
}
BENCHMARK(BM_AcquireCycle)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

void BM_InstrumentExchange(benchmark::State& state) {
    ready(false);
    for (auto _ : state) benchmark::DoNotOptimize(sweepShown(1));
}
BENCHMARK(BM_InstrumentExchange)->Unit(benchmark::kMicrosecond);

// Arguments: rise time in ps and sweep increment, chosen for n = 3, 22 and 1000.
void BM_ApplyFilter(benchmark::State& state) {
    const int inc = static_cast<int>(state.range(1)), width = static_cast<int>(state.range(0));
    state.counters["n"] = filterLength(width, inc, 7.5e-8);
    for (std::size_t i = 0; i < liveTrace.y.size(); ++i) liveTrace.y[i] = i < 512 ? 0.0 : 250.0;
    for (auto _ : state) {
        applyFilter(liveTrace.y, width, inc, 7.5e-8);
        benchmark::DoNotOptimize(liveTrace.y.data());
    }
}
BENCHMARK(BM_ApplyFilter)
    ->Args({0, 8})
    ->Args({200, 8})
    ->Args({100000, 1})
    ->Unit(benchmark::kMicrosecond);

void BM_ScaleYAxis(benchmark::State& state) {
    ready(false);
    sweepShown(1);
    liveTrace.y = instrument.recordAvg;
    for (auto _ : state) scaleYAxis(1);
}
BENCHMARK(BM_ScaleYAxis);

void BM_PlotLiveTrace(benchmark::State& state) {
    ready(false);
    sweepShown(1);
    int handle = 0;
    for (auto _ : state) {
        if (handle) panel().deletePlot(handle);
        handle = panel().plotXY(instrument.recordX.data(), instrument.recordAvg.data(), 1024,
                                kLiveTraceColor, kLiveTraceStyle, 0);
    }
}
BENCHMARK(BM_PlotLiveTrace);

// One read and one write of the panel model per iteration from this (the GUI's) thread while
// the timer thread acquires back to back; the counters report the longest either took.
void BM_GuiStallWhileAutoAcquiring(benchmark::State& state) {
    ready(false);
    panel().setValue(PANEL_AUTOACQUIRE, 1);
    platform::asyncTimer().start(0.001, onAsyncTimer);
    using clock = std::chrono::steady_clock;
    double worstRead = 0, worstWrite = 0;
    double toggle = 0;
    for (auto _ : state) {
        auto t0 = clock::now();
        benchmark::DoNotOptimize(panel().value(PANEL_XEND));
        auto t1 = clock::now();
        panel().setValue(PANEL_NOTES, toggle = 1 - toggle);
        auto t2 = clock::now();
        worstRead = std::max(worstRead, std::chrono::duration<double, std::micro>(t1 - t0).count());
        worstWrite =
            std::max(worstWrite, std::chrono::duration<double, std::micro>(t2 - t1).count());
    }
    const long ticks = platform::asyncTimer().ticks();
    platform::asyncTimer().discard();
    panel().setValue(PANEL_AUTOACQUIRE, 0);
    state.counters["max_read_us"] = worstRead;
    state.counters["max_write_us"] = worstWrite;
    state.counters["ticks"] = static_cast<double>(ticks);
}
BENCHMARK(BM_GuiStallWhileAutoAcquiring)->MinTime(1.0)->Unit(benchmark::kNanosecond);

} // namespace

// The frequency domain: one conversion, one S11 and one S21 correction, and a whole
// frequency-domain acquisition against the unpaced simulated instrument.
#include "acquisition/acquire.h"
#include "files/touchstone.h"
#include "freqdomain/convert.h"
#include "freqdomain/network.h"
#include "freqdomain/sparams.h"
#include "freqdomain/store.h"
#include "instrument/driver.h"
#include "panel/cycle.h"
#include "panel/interface.h"
#include "panel/panel_state.h"
#include "panel/ports.h"
#include "panel/settings.h"
#include "panel/timer.h"
#include "platform/panel_model.h"
#include "simulator/sim_device.h"
#include "tests/support/test_support.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <complex>
#include <numbers>

namespace {

// Step-like records with a reflection at 400 of 1024 samples, like the standards of a real run,
// sampled with `interleave` sweeps.
FdRecord dut;
void standards(int interleave) {
    for (FdRecord* r : {&solt.wfmShort, &solt.wfmOpen, &solt.wfmLoad, &solt.wfmThrough, &dut})
        r->interleave = interleave;
    for (std::size_t i = 0; i < dut.size(); ++i) {
        const double t = static_cast<double>(i) / interleave;
        const double s = 0.5 * (1 + std::tanh((t - 400) / 5));
        solt.wfmShort[i] = -s;
        solt.wfmOpen[i] = s;
        solt.wfmLoad[i] = 0.02 * s;
        solt.wfmThrough[i] = s - 1;
        dut[i] = 0.3 * s;
    }
    instrument.increment.store(56);
    solt.prepare();
}

void convert(benchmark::State& state, int interleave) {
    standards(interleave);
    Spectrum re{}, im{};
    for (auto _ : state) {
        convertFFT(solt.wfmOpen, re, im);
        benchmark::DoNotOptimize(re.data());
    }
}
void correct(benchmark::State& state, Mode mode, int interleave) {
    standards(interleave);
    for (auto _ : state) {
        solt.correct(mode, dut, liveTrace.y);
        benchmark::DoNotOptimize(liveTrace.y.data());
    }
}
// What a new working set costs the GUI thread (a sampler change, a calibration, a loaded file).
void select(benchmark::State& state, int interleave) {
    standards(interleave);
    for (Standard s : {Standard::Short, Standard::Open, Standard::Load, Standard::Through})
        solt.standard(s, 4) = solt.wfmShort;
    for (auto _ : state) solt.select(4);
}

// Plain sampling, and beside it the four interleaved sweeps of the 35 ps models.
const bool registered = [] {
    for (const int k : {1, kMaxInterleave}) {
        const std::string tail = k == 1 ? "" : "Interleaved";
        for (auto* b :
             {benchmark::RegisterBenchmark(("BM_ConvertFFT" + tail).c_str(), convert, k),
              benchmark::RegisterBenchmark(("BM_PerformS11" + tail).c_str(), correct, Mode::TDR, k),
              benchmark::RegisterBenchmark(("BM_PerformS21" + tail).c_str(), correct, Mode::TDT, k),
              benchmark::RegisterBenchmark(("BM_Select" + tail).c_str(), select, k)})
            b->Unit(benchmark::kMicrosecond);
    }
    return true;
}();

// Averaging 1: one offset sweep, one settle sweep and one window sweep, then S11 and the plot.
void BM_AcquireFrequencyDomain(benchmark::State& state) {
    static simulator::SimulatedInstrument sim;
    testing_support::freshPanel();
    platform::setSerialDevice(&sim);
    instrument.open();
    instrument.selectTiming(2);
    view.xUnits.store(XUnit::Metres);
    view.yUnits.store(YUnit::Rho);
    setStimulus(Mode::TDR, 2);
    calibrate(2, 4, 0);
    standards(1);
    view.xUnits.store(XUnit::GHz);
    view.yUnits.store(YUnit::Decibels);
    panelState.livePlot.store(0);
    panelState.storedPlot.store(0);
    for (auto _ : state) acquire(1);
    view.xUnits.store(XUnit::Metres);
    view.yUnits.store(YUnit::Millivolts);
}
BENCHMARK(BM_AcquireFrequencyDomain)->Unit(benchmark::kMicrosecond);

} // namespace

namespace {

// A network analyser's 10,001-point .s2p (DC to 20 GHz, 2 MHz apart) read and turned into the
// shown TDT profile: what opening a file, or a change of rise time, costs.
std::string analyserFile() {
    std::vector<SParamPoint> points;
    for (int i = 0; i <= 10000; ++i) {
        const double ghz = 0.002 * i;
        const std::complex<double> s21 =
            std::polar(std::exp(-0.05 * std::sqrt(ghz)), -2 * std::numbers::pi * ghz * 2.5);
        points.push_back({ghz, s21.real(), s21.imag()});
    }
    return formatTouchstone(2, points, {});
}

void BM_TouchstoneToProfile(benchmark::State& state) {
    const std::string text = analyserFile();
    Waveform x, y;
    std::string error;
    for (auto _ : state) {
        Network n;
        StepResponse step;
        if (!readTouchstone(text, 2, n, error) || !stepResponse(n, Mode::TDT, 35, step, error) ||
            !profileOver(step, {XUnit::Nanoseconds, 0, 10, 0, 1, 0}, YUnit::Normalized, x, y,
                         error))
            state.SkipWithError(error.c_str());
        benchmark::DoNotOptimize(y);
    }
}
BENCHMARK(BM_TouchstoneToProfile)->Unit(benchmark::kMillisecond);

// A new window or unit on a file already transformed: the redraw of each cycle.
void BM_ReferenceRedraw(benchmark::State& state) {
    Network n;
    StepResponse step;
    std::string error;
    readTouchstone(analyserFile(), 2, n, error);
    stepResponse(n, Mode::TDT, 35, step, error);
    Waveform x, y;
    for (auto _ : state) {
        profileOver(step, {XUnit::Nanoseconds, 0, 10, 0, 1, 0}, YUnit::Millivolts, x, y, error);
        benchmark::DoNotOptimize(y);
    }
}
BENCHMARK(BM_ReferenceRedraw)->Unit(benchmark::kMicrosecond);

} // namespace

// The frequency domain: one conversion, one S11 and one S21 correction, and a whole
// frequency-domain acquisition against the unpaced simulated instrument.
#include "acquisition/acquire.h"
#include "freqdomain/convert.h"
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

namespace {

// Step-like records with a reflection at sample 400, like the standards of a real run.
void standards() {
    for (std::size_t i = 0; i < 1024; ++i) {
        const double s = 0.5 * (1 + std::tanh((static_cast<double>(i) - 400) / 5));
        solt.wfmShort[i] = -s;
        solt.wfmOpen[i] = s;
        solt.wfmLoad[i] = 0.02 * s;
        solt.wfmThrough[i] = s - 1;
        liveTrace.y[i] = 0.3 * s;
    }
    instrument.increment.store(56);
    solt.prepare();
}

void BM_ConvertFFT(benchmark::State& state) {
    standards();
    Spectrum re{}, im{};
    for (auto _ : state) {
        convertFFT(solt.wfmOpen, re, im);
        benchmark::DoNotOptimize(re.data());
    }
}
BENCHMARK(BM_ConvertFFT)->Unit(benchmark::kMicrosecond);

void BM_PerformS11(benchmark::State& state) {
    standards();
    const Waveform dut = liveTrace.y;
    for (auto _ : state) {
        liveTrace.y = dut;
        solt.correct(Mode::TDR, liveTrace.y);
        benchmark::DoNotOptimize(liveTrace.y.data());
    }
}
BENCHMARK(BM_PerformS11)->Unit(benchmark::kMicrosecond);

void BM_PerformS21(benchmark::State& state) {
    standards();
    const Waveform dut = liveTrace.y;
    for (auto _ : state) {
        liveTrace.y = dut;
        solt.correct(Mode::TDT, liveTrace.y);
        benchmark::DoNotOptimize(liveTrace.y.data());
    }
}
BENCHMARK(BM_PerformS21)->Unit(benchmark::kMicrosecond);

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
    standards();
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

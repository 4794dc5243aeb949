// One acquisition against the simulator paced like the real 435000-baud link, as a ratio to the
// wire floor: the time the sweeps' bytes alone need on the line.
#include "acquisition/acquire.h"
#include "freqdomain/store.h"
#include "instrument/driver.h"
#include "panel/cycle.h"
#include "panel/panel_state.h"
#include "panel/settings.h"
#include "panel/timer.h"
#include "panel/units.h"
#include "platform/serial_device.h"
#include "simulator/sim_device.h"
#include "tests/support/test_support.h"

#include <benchmark/benchmark.h>

#include <chrono>

namespace {

// A sweep on the wire: "a", four window bytes, an acknowledgement, "r", 2048 sample bytes and
// the last acknowledgement, ten bits a byte.
constexpr double kSweepBytes = 1 + 4 + 1 + 1 + 2048 + 1;
constexpr double kSecondsPerByte = 10.0 / 435000.0;

// Acquisitions of the set-up `prepare` makes on a paced simulator of the model, timed against the
// wire floor of the sweeps they took.
template <typename Prepare>
void paced(benchmark::State& state, const char* model, Prepare prepare) {
    platform::SerialDevice* previous = platform::serialDevice();
    simulator::SimulatedInstrument sim(model);
    testing_support::freshPanel();
    platform::setSerialDevice(&sim);
    instrument.open();
    calibrate(2, 4, 0);
    setAveraging(static_cast<int>(state.range(0)));
    prepare();
    sim.setPaced(true);

    double seconds = 0, sweeps = 0;
    for (auto _ : state) {
        const long before = sim.sweepsServed();
        const auto t0 = std::chrono::steady_clock::now();
        acquire(0);
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        sweeps += static_cast<double>(sim.sweepsServed() - before);
    }
    state.counters["sweeps"] = sweeps / static_cast<double>(state.iterations());
    state.counters["ratio_to_wire_floor"] = seconds / (sweeps * kSweepBytes * kSecondsPerByte);

    sim.setPaced(false);
    view.xUnits.store(XUnit::Metres);
    view.yUnits.store(YUnit::Millivolts);
    platform::setSerialDevice(previous);
    if (previous != nullptr) instrument.open();
}

// Arguments: averages, window start in metres.
void BM_PacedAcquisition(benchmark::State& state) {
    paced(state, "QSB020", [&] {
        setXStart(static_cast<double>(state.range(1)));
        setXEnd(static_cast<double>(state.range(1)) + 3.0);
    });
}
BENCHMARK(BM_PacedAcquisition)
    ->ArgsProduct({{1, 4, 16}, {0, 2}})
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

// A frequency-domain trace of four interleaved sweep sets (the 35 ps models'), S11 and all.
// Argument: averages.
void BM_PacedFrequencyAcquisition(benchmark::State& state) {
    paced(state, "QSA004", [] {
        for (FdRecord* r : {&solt.wfmShort, &solt.wfmOpen, &solt.wfmLoad}) {
            r->interleave = kMaxInterleave;
            r->y.fill(r == &solt.wfmOpen ? 1.0 : -1.0);
        }
        solt.prepare();
        view.xUnits.store(XUnit::GHz);
        view.yUnits.store(YUnit::Decibels);
    });
}
BENCHMARK(BM_PacedFrequencyAcquisition)
    ->Arg(1)
    ->Arg(4)
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

} // namespace

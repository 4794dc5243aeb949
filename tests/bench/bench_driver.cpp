// Driver hot paths: sample decoding, count conversion, and whole acquisitions on the simulator.
#include "instrument/driver.h"
#include "instrument/transport.h"
#include "platform/clock.h"
#include "simulator/sim_device.h"

#include <benchmark/benchmark.h>

namespace {

void fillRawBytes() {
    for (std::size_t i = 0; i < instrument.link.bytes.size(); ++i)
        instrument.link.bytes[i] = static_cast<std::uint8_t>((i * 37u) & 0xFFu);
}

void BM_DecodeSweep(benchmark::State& state) {
    fillRawBytes();
    for (auto _ : state) {
        decodeSweep();
        benchmark::DoNotOptimize(instrument.link.samples.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 2048);
}
BENCHMARK(BM_DecodeSweep);

// Argument: the vertical unit (0 mV, 1 normalized, 2 ohm, 3 rho, 4 raw); second: polarity.
void BM_ConvertSweep(benchmark::State& state) {
    const int unit = static_cast<int>(state.range(0));
    instrument.polarity = static_cast<int>(state.range(1));
    instrument.samplActive = 4;
    instrument.cal.vstart[4] = 1000;
    instrument.cal.vampl[4] = 2000;
    for (std::size_t i = 0; i < instrument.link.samples.size(); ++i)
        instrument.link.samples[i] = i < 400 ? 1000.0 : 3000.0 + static_cast<double>(i % 7);
    int pass = 0;
    for (auto _ : state) {
        instrument.convertSweep(pass, yUnitFromCode(unit));
        pass = (pass + 1) & 15;
        benchmark::DoNotOptimize(instrument.runningMean.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_ConvertSweep)
    ->Args({0, 1})
    ->Args({0, 0})
    ->Args({1, 1})
    ->Args({2, 1})
    ->Args({3, 1})
    ->Args({3, 0})
    ->Args({4, 1});

// Argument: sweeps averaged. The simulator is unpaced, so this is the program's own cost plus
// the simulator's lookup, not the 435000-baud link.
void BM_VeltAcquire(benchmark::State& state) {
    platform::SerialDevice* previous = platform::serialDevice();
    simulator::SimulatedInstrument sim;
    platform::setVirtualTime(true);
    platform::setSerialDevice(&sim);
    if (instrument.open() != 1 || instrument.measureConstants(2, 4, Mode::TDR) != 1) {
        state.SkipWithError("simulated instrument did not open or calibrate");
        platform::setSerialDevice(previous);
        return;
    }
    instrument.stimulusPort = stimulusPortCode[2];
    instrument.samplerPort = samplerPortCode[4];
    instrument.sendChannelSetup(instrument.stimulusPort, instrument.samplerPort);
    const SweepWindow window{XUnit::Metres, 0.0, 3.0, 0.0, 2.25};
    const int count = static_cast<int>(state.range(0));
    for (auto _ : state) {
        if (instrument.acquire(count, YUnit::Rho, window) != 1) {
            state.SkipWithError("acquisition failed");
            break;
        }
        benchmark::DoNotOptimize(instrument.recordAvg.data());
    }
    usbftdi_close();
    platform::setSerialDevice(previous);
    // Another benchmark may have opened the link on the device we replaced.
    if (previous != nullptr) instrument.link.opened.store(1);
}
BENCHMARK(BM_VeltAcquire)->Arg(1)->Arg(16)->Unit(benchmark::kMicrosecond);

} // namespace

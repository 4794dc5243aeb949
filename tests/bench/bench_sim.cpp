// Cost of the simulated instrument: one sweep exchange, and recomputing a response after the
// configuration changed.
#include "instrument/driver.h"
#include "instrument/transport.h"
#include "platform/serial_device.h"
#include "simulator/sim_device.h"
#include "simulator/sim_physics.h"
#include "simulator/sim_scenario.h"

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

namespace {

// "a" with its window words, "r", 2048 bytes and the ack, through the real transport.
void BM_SimSweepExchange(benchmark::State& state) {
    simulator::SimulatedInstrument sim("QSB020");
    platform::setSerialDevice(&sim);
    if (usbftdi_open() != 1) state.SkipWithError("open failed");
    readRaw(1024, 8, 0); // the response is computed once, outside the loop
    for (auto _ : state) {
        benchmark::DoNotOptimize(readRaw(1024, 8, 0));
        benchmark::DoNotOptimize(instrument.link.samples.data());
    }
    usbftdi_close();
    platform::setSerialDevice(nullptr);
}
BENCHMARK(BM_SimSweepExchange)->Unit(benchmark::kMicrosecond);

// One reflection response from scratch, as after a connection or scenario change. Argument:
// speed class (the fast step needs a wider band).
void BM_SimResponseRecompute(benchmark::State& state) {
    simulator::physics::Config cfg;
    cfg.model = state.range(0) == 0 ? 3 : 5; // QSA012 or QSB020
    cfg.scenario = simulator::defaultScenario();
    cfg.connections.fill(simulator::Connection::Device);
    std::vector<float> out(simulator::physics::kGridPoints);
    simulator::physics::Workspace ws;
    for (auto _ : state) {
        simulator::physics::computeResponse(cfg, 2, 2, out.data(), ws);
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK(BM_SimResponseRecompute)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// What the next sweep costs after the GUI changed a connection: recompute plus the exchange.
void BM_SimSweepAfterConnectionChange(benchmark::State& state) {
    simulator::SimulatedInstrument sim("QSB020");
    platform::setSerialDevice(&sim);
    if (usbftdi_open() != 1) state.SkipWithError("open failed");
    bool open = false;
    for (auto _ : state) {
        open = !open;
        sim.setConnection(2, open ? simulator::Connection::Open : simulator::Connection::Device);
        benchmark::DoNotOptimize(readRaw(1024, 8, 0));
    }
    usbftdi_close();
    platform::setSerialDevice(nullptr);
}
BENCHMARK(BM_SimSweepAfterConnectionChange)->Unit(benchmark::kMillisecond);

// The worst first sweep a description can cause: a channel with the most sections allowed, on
// the fast step's wider band. Argument: speed class.
void BM_SimResponseMostSections(benchmark::State& state) {
    std::string text = "channel 2:";
    for (std::size_t i = 0; i < simulator::kMaxSections; ++i)
        text += i % 2 ? " line 60 0.05 2.25 0.2;" : " line 45 0.05 2.25 0.2;";
    std::string err;
    simulator::physics::Config cfg;
    cfg.model = state.range(0) == 0 ? 3 : 5; // QSA012 or QSB020
    cfg.scenario = simulator::parseScenario(text + " open\n", err).value_or(simulator::Scenario{});
    cfg.connections.fill(simulator::Connection::Device);
    if (cfg.scenario.channels[2].sections.size() != simulator::kMaxSections)
        state.SkipWithError(err.c_str());
    std::vector<float> out(simulator::physics::kGridPoints);
    simulator::physics::Workspace ws;
    for (auto _ : state) {
        simulator::physics::computeResponse(cfg, 2, 2, out.data(), ws);
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK(BM_SimResponseMostSections)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

} // namespace

// The simulated instrument on the wire: framing, replies, window words, faults and pacing.
#include "instrument/driver.h"
#include "simulator/sim_device.h"
#include "simulator/sim_physics.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

using simulator::Fault;
using simulator::SimulatedInstrument;
namespace physics = simulator::physics;

namespace {

using Bytes = std::vector<std::uint8_t>;

void send(SimulatedInstrument& sim, const Bytes& bytes) {
    std::size_t written = 0;
    ASSERT_EQ(sim.write(bytes.data(), bytes.size(), &written), 0);
    ASSERT_EQ(written, bytes.size());
}

Bytes receive(SimulatedInstrument& sim, std::size_t count) {
    Bytes out(count);
    std::size_t got = 0;
    EXPECT_EQ(sim.read(out.data(), count, &got), 0);
    out.resize(got);
    return out;
}

// Opens like the transport does, including both identification exchanges.
void openAndIdentify(SimulatedInstrument& sim) {
    ASSERT_EQ(sim.open(0), 0);
    send(sim, {'i'});
    receive(sim, 16);
    send(sim, {'i'});
    ASSERT_EQ(receive(sim, 1), Bytes{'.'});
}

void selectPorts(SimulatedInstrument& sim, int stimulus, int sampler) {
    send(sim, {'p'});
    send(sim, {stimulusPortCode[stimulus], samplerPortCode[sampler]});
    ASSERT_EQ(receive(sim, 1), Bytes{'.'});
}

// One sweep as the transport frames it: window words, then the 2048 data bytes and the ack.
std::array<int, 1024> sweep(SimulatedInstrument& sim, int start, int increment) {
    const auto first = static_cast<std::uint16_t>((static_cast<unsigned>(start) & 0xFFFF) >> 1);
    const auto last = static_cast<std::uint16_t>(
        ((static_cast<unsigned>(start) + static_cast<unsigned>(increment) * 1024u) & 0xFFFF) >> 1);
    send(sim, {'a'});
    send(sim, {static_cast<std::uint8_t>(first >> 8), static_cast<std::uint8_t>(first),
               static_cast<std::uint8_t>(last >> 8), static_cast<std::uint8_t>(last)});
    EXPECT_EQ(receive(sim, 1), Bytes{'.'});
    send(sim, {'r'});
    const Bytes data = receive(sim, 2048);
    EXPECT_EQ(data.size(), 2048u);
    EXPECT_EQ(receive(sim, 1), Bytes{'.'});
    std::array<int, 1024> samples{};
    for (std::size_t i = 0; i < 1024 && 2 * i + 1 < data.size(); ++i)
        samples[i] = data[2 * i] * 256 + data[2 * i + 1];
    return samples;
}

int firstAbove(const std::array<int, 1024>& s, int threshold) {
    for (int i = 0; i < 1024; ++i)
        if (s[i] >= threshold) return i;
    return -1;
}

// Index where the incident edge of a calibration-style sweep from 0 should cross half height.
double expectedEdgeIndex(int increment) {
    return physics::kIncidentEdge / (physics::kFineStep * increment);
}

} // namespace

TEST(SimProtocol, FirstIdentificationNamesTheModelLaterOnesAcknowledge) {
    SimulatedInstrument sim("QSA004");
    ASSERT_EQ(sim.open(0), 0);
    send(sim, {'i'});
    const Bytes id = receive(sim, 16);
    EXPECT_EQ(std::string(id.begin(), id.begin() + 15), "VELT-SIM QSA004");
    EXPECT_LE(id.size(), 16u);
    for (int k = 0; k < 3; ++k) {
        send(sim, {'i'});
        EXPECT_EQ(receive(sim, 4), Bytes{'.'});
    }
    // Reopening starts the identification over.
    ASSERT_EQ(sim.close(), 0);
    ASSERT_EQ(sim.open(0), 0);
    send(sim, {'i'});
    EXPECT_EQ(receive(sim, 16).size(), 16u);
    EXPECT_EQ(sim.protocolViolations(), 0);
}

TEST(SimProtocol, EveryCommandIsAcknowledgedAndASweepIs2048BytesThenAnAck) {
    SimulatedInstrument sim;
    openAndIdentify(sim);
    selectPorts(sim, 2, 4);
    sweep(sim, 0, 8);
    EXPECT_EQ(sim.sweepsServed(), 1);
    EXPECT_EQ(receive(sim, 1).size(), 0u) << "nothing may be left over";
    EXPECT_EQ(sim.protocolViolations(), 0);
}

TEST(SimProtocol, ArgumentsMayArriveSplitAcrossWrites) {
    SimulatedInstrument sim;
    openAndIdentify(sim);
    send(sim, {'p'});
    send(sim, {stimulusPortCode[2]});
    EXPECT_TRUE(receive(sim, 1).empty()) << "no ack before the command is complete";
    send(sim, {samplerPortCode[4]});
    EXPECT_EQ(receive(sim, 1), Bytes{'.'});
    send(sim, {'a', 0x00});
    send(sim, {0x00, 0x10});
    EXPECT_TRUE(receive(sim, 1).empty());
    send(sim, {0x00});
    EXPECT_EQ(receive(sim, 1), Bytes{'.'});
    EXPECT_EQ(sim.protocolViolations(), 0);
}

TEST(SimProtocol, InterleavedExchangesAndUnknownBytesAreCounted) {
    SimulatedInstrument sim;
    openAndIdentify(sim);
    send(sim, {'a'});
    send(sim, {'p'}); // a second exchange starts while "a" still owes four bytes
    EXPECT_EQ(sim.protocolViolations(), 1);
    send(sim, {stimulusPortCode[2], samplerPortCode[4]});
    EXPECT_EQ(receive(sim, 1), Bytes{'.'}) << "the new command is served";
    send(sim, {'z'});
    EXPECT_EQ(sim.protocolViolations(), 2);
    send(sim, {'r'});
    send(sim, {'i'}); // the sweep reply has not been read yet
    EXPECT_EQ(sim.protocolViolations(), 3);
}

TEST(SimProtocol, IncrementZeroSweepsOneDelayPosition) {
    SimulatedInstrument sim;
    sim.setNoise(false);
    openAndIdentify(sim);
    selectPorts(sim, 2, 4);
    const int afterEdge = static_cast<int>((physics::kIncidentEdge + 1e-9) / physics::kFineStep);
    const auto s = sweep(sim, afterEdge, 0);
    for (int v : s) ASSERT_EQ(v, s[0]);
    EXPECT_GT(s[0], physics::adcOffset(4) + 2000) << "one nanosecond after the edge: stepped up";
    const auto before = sweep(sim, 0, 0);
    EXPECT_EQ(before[0], physics::adcOffset(4));
}

TEST(SimProtocol, WindowWordsPlaceTheEdgeAtTheRequestedDelay) {
    SimulatedInstrument sim;
    sim.setNoise(false);
    openAndIdentify(sim);
    selectPorts(sim, 2, 4);
    const int threshold = physics::adcOffset(4) + 1500; // half the step
    for (int increment : {8, 11}) {
        const int edge = firstAbove(sweep(sim, 0, increment), threshold);
        EXPECT_NEAR(edge, expectedEdgeIndex(increment), 2.0) << "increment " << increment;
    }
    // A start 800 fine steps later moves the edge 100 samples earlier at increment 8; a wrong
    // start in the program's window arithmetic shows as a shifted trace.
    const int base = firstAbove(sweep(sim, 0, 8), threshold);
    EXPECT_EQ(firstAbove(sweep(sim, 800, 8), threshold), base - 100);
    // A start that wraps below zero (a negative calibration delay) lands near the end of the
    // grid, where the step has long settled.
    const auto wrapped = sweep(sim, -100, 0);
    EXPECT_GT(wrapped[0], threshold);
}

TEST(SimProtocol, UnknownPortCodesGiveAFlatBaseline) {
    SimulatedInstrument sim;
    sim.setNoise(false);
    openAndIdentify(sim);
    send(sim, {'p'});
    send(sim, {200, samplerPortCode[4]});
    EXPECT_EQ(receive(sim, 1), Bytes{'.'});
    for (int v : sweep(sim, 0, 8)) ASSERT_EQ(v, physics::adcOffset(4));
}

TEST(SimProtocol, NoiseIsAFewCountsAndAveragesAway) {
    SimulatedInstrument sim;
    openAndIdentify(sim);
    selectPorts(sim, 2, 4);
    const auto s = sweep(sim, 0, 0);
    double sum = 0, sq = 0;
    for (int v : s) {
        sum += v - physics::adcOffset(4);
        sq += double(v - physics::adcOffset(4)) * (v - physics::adcOffset(4));
    }
    const double mean = sum / 1024, sd = std::sqrt(sq / 1024 - mean * mean);
    EXPECT_NEAR(mean, 0.0, 0.5);
    EXPECT_GT(sd, 1.5);
    EXPECT_LT(sd, 6.0);
}

struct FaultCase {
    Fault fault;
    const char* name;
};

class SimFaults : public ::testing::TestWithParam<FaultCase> {};

TEST_P(SimFaults, EachFaultBreaksItsOwnPartOfTheExchange) {
    SimulatedInstrument sim;
    const Fault f = GetParam().fault;
    if (f == Fault::NoDevice) {
        sim.setFault(f, true);
        EXPECT_NE(sim.open(0), 0);
        sim.setFault(f, false);
        EXPECT_EQ(sim.open(0), 0);
        return;
    }
    if (f == Fault::WrongHandshake) {
        sim.setFault(f, true);
        ASSERT_EQ(sim.open(0), 0);
        send(sim, {'i'});
        receive(sim, 16);
        send(sim, {'i'});
        const Bytes ack = receive(sim, 1);
        ASSERT_EQ(ack.size(), 1u);
        EXPECT_NE(ack[0], '.');
        return;
    }
    openAndIdentify(sim);
    selectPorts(sim, 2, 4);
    sim.setFault(f, true);
    if (f == Fault::Unplugged) {
        std::uint8_t b = 'r';
        std::size_t n = 99;
        EXPECT_NE(sim.write(&b, 1, &n), 0);
        EXPECT_EQ(n, 0u);
        EXPECT_NE(sim.read(&b, 1, &n), 0);
        EXPECT_EQ(n, 0u);
        EXPECT_NE(sim.open(0), 0) << "an unplugged instrument cannot be reopened";
        sim.setFault(f, false);
        EXPECT_EQ(sim.open(0), 0);
        return;
    }
    send(sim, {'a'});
    send(sim, {0, 0, 0x10, 0});
    const Bytes ack = receive(sim, 1);
    send(sim, {'r'});
    const Bytes data = receive(sim, 2048);
    const Bytes lastAck = receive(sim, 1);
    if (f == Fault::LostAck) {
        EXPECT_TRUE(ack.empty());
        EXPECT_EQ(data.size(), 2048u);
        EXPECT_TRUE(lastAck.empty());
    } else { // ShortRead
        EXPECT_EQ(ack, Bytes{'.'});
        EXPECT_LT(data.size(), 2048u);
        EXPECT_GT(data.size(), 0u);
        EXPECT_TRUE(lastAck.empty()) << "a stalled sweep leaves nothing behind to misread";
    }
    EXPECT_EQ(sim.protocolViolations(), 0);
}

INSTANTIATE_TEST_SUITE_P(All, SimFaults,
                         ::testing::Values(FaultCase{Fault::NoDevice, "NoDevice"},
                                           FaultCase{Fault::WrongHandshake, "WrongHandshake"},
                                           FaultCase{Fault::ShortRead, "ShortRead"},
                                           FaultCase{Fault::LostAck, "LostAck"},
                                           FaultCase{Fault::Unplugged, "Unplugged"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SimProtocol, ClosedDeviceRefusesTraffic) {
    SimulatedInstrument sim;
    std::uint8_t b = 'i';
    std::size_t n = 0;
    EXPECT_NE(sim.write(&b, 1, &n), 0);
    EXPECT_NE(sim.read(&b, 1, &n), 0);
    EXPECT_NE(sim.close(), 0);
    EXPECT_NE(sim.open(1), 0) << "only device 0 exists";
}

TEST(SimProtocol, PacedSweepTakesItsLinkTime) {
    SimulatedInstrument sim;
    openAndIdentify(sim);
    sim.setPaced(true);
    const auto t0 = std::chrono::steady_clock::now();
    send(sim, {'r'});
    EXPECT_EQ(receive(sim, 2049).size(), 2049u);
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_GT(ms, 45.0); // 2049 bytes of 10 bits at 435000 baud
    sim.setPaced(false);
}

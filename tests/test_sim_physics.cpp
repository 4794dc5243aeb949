// What the simulated sampler sees, sample by sample, against the physics of the device under test.
#include "instrument/driver.h"
#include "instrument/transport.h"
#include "platform/serial_device.h"
#include "simulator/sim_device.h"
#include "simulator/sim_models.h"
#include "simulator/sim_physics.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <numbers>
#include <string>
#include <thread>

using simulator::Connection;
using simulator::SimulatedInstrument;
namespace physics = simulator::physics;

namespace {

// Round trip from the step source to the front connector and back, for channel ch.
double connectorReturn(int ch) {
    return physics::kIncidentEdge + 2.0 * (physics::internalDelay(ch) + physics::kConnectorDelay);
}

int finePosition(double seconds) {
    return static_cast<int>(std::lround(seconds / physics::kFineStep));
}

class SimPhysics : public ::testing::Test {
  protected:
    SimulatedInstrument sim{"QSB020"};

    void SetUp() override {
        sim.setNoise(false);
        platform::setSerialDevice(&sim);
        ASSERT_EQ(usbftdi_open(), 1);
    }
    void TearDown() override {
        usbftdi_close();
        platform::setSerialDevice(nullptr);
    }

    void load(const std::string& text) {
        std::string err;
        ASSERT_TRUE(sim.loadScenarioText(text, err)) << err;
    }

    // One sweep through the real transport, in counts above the sampler's ADC offset.
    std::array<double, 1024> sweep(int stim, int sampler, int start, int inc) {
        instrument.sendChannelSetup(stimulusPortCode[stim], samplerPortCode[sampler]);
        EXPECT_EQ(readRaw(1024, inc, start), 1);
        std::array<double, 1024> out{};
        for (int i = 0; i < 1024; ++i)
            out[i] = instrument.link.samples[i] - physics::adcOffset(sampler);
        return out;
    }

    double levelAt(int stim, int sampler, double seconds) {
        return sweep(stim, sampler, finePosition(seconds), 0)[0];
    }

    // Time at which the trace first reaches `level` after `from`, interpolated between steps.
    double crossing(int stim, int sampler, double from, double level, int inc = 2) {
        const int start = finePosition(from);
        const auto s = sweep(stim, sampler, start, inc);
        for (int i = 1; i < 1024; ++i) {
            if (s[i] >= level) {
                const double frac = (level - s[i - 1]) / (s[i] - s[i - 1]);
                return (start + inc * (i - 1 + frac)) * physics::kFineStep;
            }
        }
        return -1.0;
    }
};

struct EndingCase {
    const char* ending;
    double levelInSteps; // sampler level after the far end's reflection, in step heights
};

class SimEndings : public SimPhysics, public ::testing::WithParamInterface<EndingCase> {};

TEST_P(SimEndings, FarEndSetsTheSettledLevel) {
    load(std::string("channel 2: line 50 0.3 2.25 0; ") + GetParam().ending + "\n");
    const double a = physics::stepAmplitude(2);
    const double cableReturn = connectorReturn(2) + 2 * 0.3 * 1.5 / physics::kLightSpeed;
    EXPECT_NEAR(levelAt(2, 4, cableReturn - 0.5e-9), a, 0.01 * a) << "matched cable before the end";
    EXPECT_NEAR(levelAt(2, 4, cableReturn + 2e-9), GetParam().levelInSteps * a, 0.01 * a);
}

INSTANTIATE_TEST_SUITE_P(Endings, SimEndings,
                         ::testing::Values(EndingCase{"open", 2.0}, EndingCase{"short", 0.0},
                                           EndingCase{"load 50", 1.0}, EndingCase{"load 150", 1.5},
                                           EndingCase{"load 25", 2.0 / 3.0}));

struct LongLineCase {
    const char* device; // on channel 2, one line then the ending
    double dielK;
    double endLevel; // after the ending's reflection, in step heights
};

class SimLongLines : public SimPhysics, public ::testing::WithParamInterface<LongLineCase> {};

// Everything that arrives after the sampler's window must stay out of it: a long cable reads
// flat, and an ending inside the window arrives when the ground truth says, once.
TEST_P(SimLongLines, EndingArrivesWhereTheProfileSaysOrNotAtAll) {
    const LongLineCase& c = GetParam();
    load(std::string("channel 2: ") + c.device + "\n");
    const double a = physics::stepAmplitude(2);
    const double length = sim.impedanceProfile(2).back().distance;
    const double endReturn = connectorReturn(2) + 2.0 * length * std::sqrt(c.dielK) / 3e8;
    const int from = finePosition(connectorReturn(2) + 1e-9);
    const int inc = (physics::kGridPoints - from) / 1024;
    const auto s = sweep(2, 4, from, inc);
    double firstOff = -1.0, worstBefore = 0.0, worstAfter = 0.0, worstAt = 0.0;
    for (int i = 0; i < 1024; ++i) {
        const double t = (from + inc * i) * physics::kFineStep;
        if (t < endReturn - 0.3e-9 && std::abs(s[i] - a) > worstBefore) {
            worstBefore = std::abs(s[i] - a);
            worstAt = t;
        }
        if (t > endReturn + 2e-9)
            worstAfter = std::max(worstAfter, std::abs(s[i] - c.endLevel * a));
        if (firstOff < 0 && std::abs(s[i] - a) > 0.25 * a) firstOff = t;
    }
    EXPECT_LT(worstBefore, 0.01 * a) << "reflection at " << worstAt * 1e9 << " ns";
    EXPECT_LT(worstAfter, 0.02 * a) << "level after the ending";
    const double windowEnd = physics::kGridPoints * physics::kFineStep;
    if (endReturn > windowEnd) {
        EXPECT_LT(firstOff, 0.0) << "the far end shows at " << firstOff * 1e9 << " ns";
    } else {
        EXPECT_NEAR(firstOff, endReturn, 0.2e-9);
    }
}

INSTANTIATE_TEST_SUITE_P(Lengths, SimLongLines,
                         ::testing::Values(LongLineCase{"line 50 20 2.25 0; open", 2.25, 2.0},
                                           LongLineCase{"line 50 20 2.25 0; short", 2.25, 0.0},
                                           LongLineCase{"line 50 100 2.25 0; open", 2.25, 2.0},
                                           LongLineCase{"line 50 100 1 0.5; short", 1.0, 0.0},
                                           LongLineCase{"line 50 14 1 0; short", 1.0, 0.0},
                                           LongLineCase{"line 50 7 2.25 0; open", 2.25, 2.0},
                                           LongLineCase{"line 50 11 1 0; load 150", 1.0, 1.5}));

TEST_F(SimPhysics, StandardsAtTheConnectorReplaceTheDevice) {
    const double a = physics::stepAmplitude(2);
    const double after = connectorReturn(2) + 1e-9;
    sim.setConnection(2, Connection::Open);
    EXPECT_NEAR(levelAt(2, 4, after), 2 * a, 0.01 * a);
    sim.setConnection(2, Connection::Short);
    EXPECT_NEAR(levelAt(2, 4, after), 0.0, 0.01 * a);
    sim.setConnection(2, Connection::Load);
    EXPECT_NEAR(levelAt(2, 4, after), a, 0.01 * a);
    // Back to the device: the response is computed anew, not served from the old cache.
    sim.setConnection(2, Connection::Device);
    load("channel 2: line 50 1 2.25 0; short\n");
    EXPECT_NEAR(levelAt(2, 4, after), a, 0.01 * a);
}

TEST_F(SimPhysics, SectionImpedanceGivesItsReflectionCoefficient) {
    const double a = physics::stepAmplitude(2);
    for (double z : {75.0, 30.0}) {
        load("channel 2: line " + std::to_string(z) + " 1.0 2.25 0; load " + std::to_string(z) +
             "\n");
        const double rho = (z - 50) / (z + 50);
        EXPECT_NEAR(levelAt(2, 4, connectorReturn(2) + 5e-9), a * (1 + rho), 0.005 * a) << z;
    }
}

TEST_F(SimPhysics, OneMetreAtDielectricConstant2point25IsTenNanosecondsRoundTrip) {
    const double a = physics::stepAmplitude(2);
    sim.setConnection(2, Connection::Open);
    const double atConnector = crossing(2, 4, connectorReturn(2) - 1e-9, 1.5 * a);
    sim.setConnection(2, Connection::Device);
    load("channel 2: line 50 1.000 2.25 0; open\n");
    const double atEnd = crossing(2, 4, connectorReturn(2) + 9e-9, 1.5 * a);
    ASSERT_GT(atConnector, 0);
    ASSERT_GT(atEnd, 0);
    EXPECT_NEAR(atEnd - atConnector, 10e-9, 5e-12);
}

TEST_F(SimPhysics, NegativeLineMirrorsThePositiveLine) {
    const auto pos = sweep(2, 4, 0, 12);
    const auto neg = sweep(2, 5, 0, 12);
    for (int i = 0; i < 1024; ++i) ASSERT_NEAR(neg[i], -pos[i], 1.0) << i;
    EXPECT_GT(*std::max_element(pos.begin(), pos.end()), 2000);
}

TEST_F(SimPhysics, LossRoundsTheReturningEdgeButNotTheFinalLevel) {
    const double a = physics::stepAmplitude(2);
    load("channel 2: line 50 2.0 2.25 3.0; open\n");
    const double endReturn = connectorReturn(2) + 20e-9;
    const double early = levelAt(2, 4, endReturn + 0.3e-9);
    const double late = levelAt(2, 4, endReturn + 30e-9);
    EXPECT_LT(early, 1.9 * a);
    EXPECT_GT(late, early);
    EXPECT_NEAR(levelAt(2, 4, endReturn - 1e-9), a, 0.02 * a);
}

TEST_F(SimPhysics, ThroughCarriesTheStepToTheSameChannelOfTheOtherPort) {
    const double a = physics::stepAmplitude(2);
    sim.setConnection(2, Connection::Through);
    EXPECT_EQ(sim.connection(7), Connection::Through) << "both ends of a through follow";
    const double arrival = physics::kIncidentEdge + physics::internalDelay(2) +
                           physics::internalDelay(7) + 2 * physics::kConnectorDelay;
    EXPECT_NEAR(crossing(2, 14, arrival - 1e-9, 0.5 * a), arrival, 5e-12);
    EXPECT_NEAR(levelAt(2, 14, arrival + 2e-9), a, 0.01 * a);
    EXPECT_NEAR(levelAt(2, 15, arrival + 2e-9), -a, 0.01 * a);
    EXPECT_NEAR(levelAt(2, 4, connectorReturn(2) + 2e-9), a, 0.05 * a) << "a through looks matched";
    // The transmission calibration needs the step beyond half of a sweep from 0 at increment 8.
    EXPECT_GT(arrival / (8 * physics::kFineStep), 512);
    EXPECT_LT(arrival / (8 * physics::kFineStep), 1000);

    // Undoing one end frees the other; the port-2 sampler then sees nothing from stimulus 2.
    sim.setConnection(7, Connection::Open);
    EXPECT_EQ(sim.connection(2), Connection::Device);
    EXPECT_NEAR(levelAt(2, 14, arrival + 2e-9), 0.0, 1.0);
}

TEST_F(SimPhysics, DescribedThroughCableDelaysTheTransmittedStep) {
    // Default scenario: channel 3 is 0.15 m of 50-ohm line through to channel 8.
    const double a = physics::stepAmplitude(3);
    const double direct = physics::kIncidentEdge + physics::internalDelay(3) +
                          physics::internalDelay(8) + 2 * physics::kConnectorDelay;
    const double cable = 0.15 * 1.5 / physics::kLightSpeed;
    EXPECT_NEAR(crossing(3, 16, direct - 1e-9, 0.5 * a), direct + cable, 5e-12);
    EXPECT_LT((direct + cable) / (8 * physics::kFineStep), 1000);
    // Unplugging the far end leaves an open cable on channel 3.
    sim.setConnection(8, Connection::Open);
    EXPECT_NEAR(levelAt(3, 16, direct + cable + 2e-9), 0.0, 1.0);
    EXPECT_NEAR(levelAt(3, 6, connectorReturn(3) + 2 * cable + 1e-9), 2 * a, 0.02 * a);
}

TEST_F(SimPhysics, NearEndCrosstalkIsAPlateauOnTheNeighbouringPair) {
    // Default scenario, NEXT coupling 0.03: channel 1 (CH 2) is next to channel 2 (CH 1).
    const double a = physics::stepAmplitude(2);
    const double start = connectorReturn(2);
    EXPECT_NEAR(levelAt(2, 2, start - 0.5e-9), 0.0, 1.0) << "nothing before the connector";
    EXPECT_NEAR(levelAt(2, 2, start + 2e-9), 0.03 * a, 0.003 * a);
    EXPECT_NEAR(levelAt(2, 3, start + 2e-9), -0.03 * a, 0.003 * a);
    // Two positions away (CH 3) the coupling falls to a quarter.
    EXPECT_NEAR(levelAt(2, 0, start + 1e-9), 0.03 / 4 * a, 0.002 * a);
    // A standard on the victim's connector ends the coupled run.
    sim.setConnection(1, Connection::Load);
    EXPECT_NEAR(levelAt(2, 2, start + 2e-9), 0.0, 1.0);
}

TEST_F(SimPhysics, FarEndCrosstalkIsANegativePulseWithTheThroughStep) {
    // Default scenario: channels 3 and 4 are neighbouring throughs to 8 and 9.
    const double a = physics::stepAmplitude(3);
    const auto s = sweep(3, 18, finePosition(7e-9), 4);
    const double low = *std::min_element(s.begin(), s.end());
    EXPECT_LT(low, -0.01 * a);
    EXPECT_GT(low, -0.03 * a);
    EXPECT_NEAR(s[1023], 0.0, 2.0) << "a pulse, not a step";
}

struct ModelCase {
    const char* model;
};

class SimModels : public SimPhysics, public ::testing::WithParamInterface<ModelCase> {};

TEST_P(SimModels, OnlyFittedChannelsShowAStep) {
    ASSERT_TRUE(sim.setModel(GetParam().model));
    const auto& info = simulator::kModels[simulator::findModel(GetParam().model)];
    for (int ch = 0; ch < 10; ++ch) {
        const auto s = sweep(ch, 2 * ch, 0, 8);
        const double top = *std::max_element(s.begin(), s.end());
        if (info.stimulus[ch])
            EXPECT_GT(top, 2000) << "channel " << ch;
        else
            EXPECT_LT(top, 1.0) << "channel " << ch;
        EXPECT_EQ(sim.hasChannel(ch), info.stimulus[ch]);
    }
    EXPECT_EQ(sim.speedClass(), GetParam().model[2] == 'A' ? 0 : 1);
}

INSTANTIATE_TEST_SUITE_P(All, SimModels,
                         ::testing::Values(ModelCase{"QSA002"}, ModelCase{"QSA004"},
                                           ModelCase{"QSB008"}, ModelCase{"QSA012"},
                                           ModelCase{"QSB016"}, ModelCase{"QSB020"}),
                         [](const auto& info) { return std::string(info.param.model); });

TEST_F(SimPhysics, SpeedClassSetsTheRiseTime) {
    auto riseTime = [&] {
        const double a = physics::stepAmplitude(2);
        const double t10 = crossing(2, 4, 2e-9, 0.1 * a, 1);
        const double t90 = crossing(2, 4, 2e-9, 0.9 * a, 1);
        return t90 - t10;
    };
    ASSERT_TRUE(sim.setModel("QSA012"));
    EXPECT_NEAR(riseTime(), 35e-12, 5e-12);
    ASSERT_TRUE(sim.setModel("QSB016"));
    EXPECT_NEAR(riseTime(), 150e-12, 10e-12);
    EXPECT_FALSE(sim.setModel("QSX999"));
    EXPECT_EQ(sim.modelCode(), "QSB016");
}

TEST_F(SimPhysics, ImpedanceProfileFollowsTheDescriptionAndTheConnection) {
    auto p = sim.impedanceProfile(2); // default: 0.5 m of 50 ohms, 0.3 m of 75 ohms, open
    ASSERT_EQ(p.size(), 5u);
    EXPECT_DOUBLE_EQ(p[0].ohms, 50);
    EXPECT_DOUBLE_EQ(p[1].distance, 0.5);
    EXPECT_DOUBLE_EQ(p[2].ohms, 75);
    EXPECT_DOUBLE_EQ(p[4].distance, 0.8);
    EXPECT_TRUE(std::isinf(p[4].ohms));
    // The far end of a through sees the cable reversed and ends in the other instrument port.
    p = sim.impedanceProfile(8);
    ASSERT_EQ(p.size(), 3u);
    EXPECT_DOUBLE_EQ(p[1].distance, 0.15);
    EXPECT_DOUBLE_EQ(p[2].ohms, 50);
    sim.setConnection(2, Connection::Short);
    p = sim.impedanceProfile(2);
    ASSERT_EQ(p.size(), 1u);
    EXPECT_DOUBLE_EQ(p[0].ohms, 0);
}

TEST_F(SimPhysics, SParametersOfKnownDevices) {
    std::vector<double> f;
    std::vector<std::complex<double>> s11, s21;
    load("channel 2: line 75 0.5 2.25 0; load 75\nchannel 1: line 50 0.2 2.25 0; through\n");
    sim.sParameters(2, f, s11, s21);
    ASSERT_EQ(f.size(), s11.size());
    ASSERT_GE(f.size(), 100u);
    EXPECT_NEAR(f.front(), 0.01, 1e-12);
    EXPECT_NEAR(f.back(), 10.0, 1e-9);
    for (std::size_t i = 0; i < f.size(); ++i) {
        ASSERT_NEAR(std::abs(s11[i]), 0.2, 1e-9) << f[i]; // a matched 75-ohm line: 75 seen at once
        ASSERT_EQ(std::abs(s21[i]), 0.0);
    }
    sim.sParameters(1, f, s11, s21);
    for (std::size_t i = 0; i < f.size(); ++i) {
        ASSERT_NEAR(std::abs(s11[i]), 0.0, 1e-9);
        ASSERT_NEAR(std::abs(s21[i]), 1.0, 1e-9);
    }
    // Phase of a 1 ns line at 0.1 GHz.
    EXPECT_NEAR(std::arg(s21[9]), -2 * std::numbers::pi * 0.1e9 * 1e-9, 1e-6);
    // The trace settles at 1 + S11 at low frequency.
    load("channel 2: line 50 0.2 2.25 0; load 100\n");
    sim.sParameters(2, f, s11, s21);
    const double a = physics::stepAmplitude(2);
    EXPECT_NEAR(levelAt(2, 4, connectorReturn(2) + 5e-9), a * (1 + s11[0].real()), 0.01 * a);
}

} // namespace

namespace {

// The GUI thread changes connections while the timer thread sweeps: every sweep still shows one
// whole configuration, never a mix, and nothing tears.
TEST_F(SimPhysics, ConnectionChangesWhileSweepingGiveWholeTraces) {
    const double a = physics::stepAmplitude(2);
    sim.setConnection(2, Connection::Open);
    std::atomic<bool> stop{false};
    std::thread gui([&] {
        for (int k = 0; !stop.load(); ++k) {
            sim.setConnection(2, k % 2 ? Connection::Open : Connection::Short);
            std::this_thread::yield();
        }
    });
    const int at = finePosition(connectorReturn(2) + 1e-9);
    int mixed = 0, opens = 0;
    for (int n = 0; n < 40; ++n) {
        const auto s = sweep(2, 4, at, 0);
        const bool open = s[0] > 1.5 * a;
        opens += open;
        for (double v : s) mixed += std::abs(v - (open ? 2 * a : 0.0)) > 0.02 * a;
    }
    stop.store(true);
    gui.join();
    EXPECT_EQ(mixed, 0);
    EXPECT_GT(opens, 0);
    EXPECT_EQ(sim.protocolViolations(), 0);
}

} // namespace

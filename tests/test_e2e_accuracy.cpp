// End to end: the real driver and calibration against the simulated instrument, read against the
// simulator's ground truth.
#include "instrument/driver.h"
#include "instrument/transport.h"
#include "panel/timer.h"
#include "platform/serial_device.h"
#include "simulator/sim_device.h"
#include "simulator/sim_physics.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

using simulator::Connection;
using simulator::SimulatedInstrument;
namespace physics = simulator::physics;

namespace {

constexpr XUnit kMetres = XUnit::Metres;
constexpr YUnit kOhm = YUnit::Ohms, kRho = YUnit::Rho;

struct Setup {
    const char* model;
    int row; // timing row: 2 internal calibration, 3 external
};

class EndToEnd : public ::testing::TestWithParam<Setup> {
  protected:
    SimulatedInstrument sim{GetParam().model};

    void SetUp() override {
        testing_support::freshPanel();
        platform::setSerialDevice(&sim);
        ASSERT_EQ(instrument.open(), 1);
        ASSERT_EQ(instrument.selectTiming(GetParam().row), 1);
        view.xEnd = 6.0;
        ASSERT_EQ(instrument.measureConstants(2, 4, Mode::TDR), 1);
    }
    void TearDown() override {
        EXPECT_EQ(sim.protocolViolations(), 0);
        usbftdi_close();
        platform::setSerialDevice(nullptr);
    }

    void load(const std::string& text) {
        std::string err;
        ASSERT_TRUE(sim.loadScenarioText(text, err)) << err;
    }

    // Zero reference at the open front connector, as a user sets it.
    double zeroAtConnector() {
        sim.setConnection(2, Connection::Open);
        view.xZero.store(0);
        EXPECT_EQ(zeroShown(), 1);
        sim.setConnection(2, Connection::Device);
        return view.xZero.load();
    }

    // Every averaged point whose x lies in [from, to] (relative to the zero reference).
    template <typename Check> void forPoints(double from, double to, Check check) {
        int n = 0;
        for (std::size_t i = 0; i < instrument.recordX.size(); ++i)
            if (instrument.recordX[i] >= from && instrument.recordX[i] <= to) {
                check(instrument.recordX[i], instrument.recordAvg[i]);
                ++n;
            }
        EXPECT_GT(n, 20) << "window [" << from << ", " << to << "] holds too few points";
    }
};

TEST_P(EndToEnd, ZeroFindsTheOpenFrontConnector) {
    const double zero = zeroAtConnector();
    // The connector lies one internal round trip after the incident edge, which calibration
    // places edgeIdx calibration samples after x = 0.
    const double t =
        2 * (physics::internalDelay(2) + physics::kConnectorDelay) +
        instrument.timing.edgeIdx * instrument.timing.calIncrement * physics::kFineStep;
    EXPECT_NEAR(zero, t * physics::kLightSpeed / 1.5, 0.02);
}

TEST_P(EndToEnd, OneMetreCableEndsTwoMetresRoundTripFromTheZero) {
    const double zero = zeroAtConnector();
    load("channel 2: line 50 1.000 2.25 0; open\n");
    view.xZero.store(0);
    ASSERT_EQ(zeroShown(), 1);
    EXPECT_NEAR(view.xZero.load() - zero, 2.000, 0.01);
}

TEST_P(EndToEnd, OpenLineReadsRhoPlusOneBeyondItsEnd) {
    view.xZero.store(zeroAtConnector());
    load("channel 2: line 50 0.5 2.25 0; open\n");
    view.yUnits.store(kRho);
    ASSERT_EQ(sweepShown(4), 1);
    forPoints(1.2, 3.5, [](double x, double rho) { EXPECT_NEAR(rho, 1.0, 0.02) << x; });
    view.yUnits.store(kOhm);
    ASSERT_EQ(sweepShown(4), 1);
    forPoints(1.2, 3.5, [](double x, double ohm) { EXPECT_DOUBLE_EQ(ohm, 500.0) << x; });
}

TEST_P(EndToEnd, SectionImpedancesReadWithinTolerance) {
    view.xZero.store(zeroAtConnector());
    load("channel 2: line 50 1.0 2.25 0; line 75 1.0 2.25 0; load 75\n");
    view.yUnits.store(kOhm);
    ASSERT_EQ(sweepShown(16), 1);
    // Round trip: the 50-ohm metre spans 0..2 m, the 75-ohm one 2..4 m; keep off the edges.
    forPoints(0.2, 1.8, [](double x, double ohm) { EXPECT_NEAR(ohm, 50.0, 1.0) << x; });
    forPoints(2.2, 3.8, [](double x, double ohm) { EXPECT_NEAR(ohm, 75.0, 1.5) << x; });
}

// Averaging beats the noise without biasing the level: ohms are curved in rho. (Calibrated
// without noise, so that only the sweeps' noise is left to average.)
TEST_P(EndToEnd, AveragedImpedanceLosesTheNoiseAndKeepsTheLevel) {
    sim.setNoise(false);
    ASSERT_EQ(instrument.measureConstants(2, 4, Mode::TDR), 1);
    view.xZero.store(zeroAtConnector());
    load("channel 2: line 120 3.0 2.25 0; load 120\n");
    sim.setNoise(true);
    view.yUnits.store(kOhm);
    auto meanError = [&](int averaging) {
        EXPECT_EQ(sweepShown(averaging), 1);
        double sum = 0;
        int n = 0;
        forPoints(0.5, 5.5, [&](double, double ohm) { sum += ohm - 120, ++n; });
        return sum / n;
    };
    const double few = meanError(4), many = meanError(64);
    std::printf("[ figure ] %s: 120 ohm reads %+.3f ohm at 4 sweeps, %+.3f at 64\n",
                GetParam().model, few, many);
    EXPECT_LT(std::fabs(many), 0.05);
}

// Calibrated with the noise on, as a user calibrates: over seeds the calibration leaves no bias
// (the mean of |noise| at the level before the step once moved 120 ohm by +0.1) and a spread
// below what 64 sweeps leave.
TEST_P(EndToEnd, ACalibrationWithNoiseLeavesNoBiasFromSeedToSeed) {
    load("channel 2: line 120 1.0 2.25 0; load 120\n");
    view.yUnits.store(kOhm);
    double bias = 0, square = 0;
    for (std::uint64_t seed = 1; seed <= 8; ++seed) {
        sim.setSeed(seed);
        ASSERT_EQ(calibrate(2, 4, 0), 1); // as the program calibrates a line
        view.xZero.store(zeroAtConnector());
        ASSERT_EQ(sweepShown(64), 1);
        double sum = 0, n = 0;
        forPoints(0.3, 1.7, [&](double, double ohm) { sum += ohm - 120, ++n; });
        bias += sum / n / 8;
        square += sum * sum / (n * n) / 8;
    }
    const double spread = std::sqrt(square - bias * bias);
    EXPECT_LT(std::fabs(bias), 0.03);
    EXPECT_GT(spread, 0.0) << "every seed gave the same noise";
    EXPECT_LT(spread, 0.028);
}

// Transmission needs the second port, so only models that have one.
class EndToEndThrough : public EndToEnd {};

TEST_P(EndToEndThrough, TransmissionCalibratedOnAThroughMeasuresTheCableOneWay) {
    ASSERT_TRUE(sim.hasChannel(7));
    sim.setConnection(2, Connection::Through);
    ASSERT_EQ(instrument.measureConstants(2, 14, Mode::TDT), 1);
    EXPECT_GT(instrument.cal.calDelay[2], 0)
        << "the through step lies beyond 2.5 x timing.edgeIdx samples";
    instrument.sendChannelSetup(stimulusPortCode[2], samplerPortCode[14]);
    view.yUnits.store(YUnit::Millivolts);
    auto edgeAt = [] {
        double top = 0;
        for (double v : instrument.recordAvg) top = std::max(top, v);
        for (std::size_t i = 0; i < instrument.recordAvg.size(); ++i)
            if (instrument.recordAvg[i] >= top / 2) return instrument.recordX[i];
        return -1.0;
    };
    ASSERT_EQ(sweepShown(2), 1);
    const double direct = edgeAt();
    sim.setConnection(2, Connection::Device);
    load("channel 2: line 50 0.5 2.25 0; through\n");
    ASSERT_EQ(sweepShown(2), 1);
    EXPECT_NEAR(edgeAt() - direct, 0.5, 0.01) << "one way in transmission";
}

INSTANTIATE_TEST_SUITE_P(Models, EndToEnd,
                         ::testing::Values(Setup{"QSB020", 2}, Setup{"QSA002", 2},
                                           Setup{"QSB020", 3}, Setup{"QSA004", 3}),
                         [](const auto& info) {
                             return std::string(info.param.model) + "_row" +
                                    std::to_string(info.param.row);
                         });

INSTANTIATE_TEST_SUITE_P(Models, EndToEndThrough,
                         ::testing::Values(Setup{"QSB020", 2}, Setup{"QSB020", 3},
                                           Setup{"QSA004", 3}),
                         [](const auto& info) {
                             return std::string(info.param.model) + "_row" +
                                    std::to_string(info.param.row);
                         });

} // namespace

// The true impedance profile through the real driver and acquisition cycle, against the
// simulator's ground truth.
#include "acquisition/acquire.h"
#include "acquisition/peel.h"
#include "instrument/driver.h"
#include "instrument/transport.h"
#include "panel/callbacks.h"
#include "panel/cycle.h"
#include "panel/interface.h"
#include "panel/settings.h"
#include "panel/units.h"
#include "platform/panel_model.h"
#include "platform/serial_device.h"
#include "simulator/sim_device.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <string>

using simulator::Connection;

namespace {

// A device on channel 2 and where on the trace (round trip, metres from the connector, all
// sections at K 2.25 unless said) one of its sections must read true.
struct Case {
    const char* name;
    const char* dut;
    int section;     // which section of the ground truth
    double from, to; // on the trace
    double tolerance;
    bool againstPlain; // a single section: within the tolerance of the plain conversion instead
    double windowStart = 0;
};
void PrintTo(const Case& c, std::ostream* os) {
    *os << c.name;
}

// Channel 2 calibrated, with the zero reference at its front connector, in ohms.
class OnSimulator : public ::testing::Test {
  protected:
    simulator::SimulatedInstrument sim;
    virtual const char* model() const { return "QSB020"; }

    void SetUp() override {
        testing_support::freshPanel();
        ASSERT_TRUE(sim.setModel(model()));
        platform::setSerialDevice(&sim);
        ASSERT_EQ(instrument.open(), 1);
        ASSERT_EQ(instrument.selectTiming(2), 1);
        view.xEnd = 6.0;
        ASSERT_EQ(instrument.measureConstants(2, 4, Mode::TDR), 1);
        sim.setConnection(2, Connection::Open);
        ASSERT_EQ(zeroShown(), 1);
        sim.setConnection(2, Connection::Device);
        view.yUnits.store(YUnit::Ohms);
    }
    void TearDown() override {
        EXPECT_EQ(sim.protocolViolations(), 0);
        usbftdi_close();
        platform::setSerialDevice(nullptr);
    }
    void load(const char* dut) {
        std::string err;
        ASSERT_TRUE(sim.loadScenarioText(std::string("channel 2: ") + dut + "\n", err)) << err;
    }
    double truth(int section) { return sim.impedanceProfile(2).at(2 * section).ohms; }
};

class TrueProfile : public OnSimulator,
                    public ::testing::WithParamInterface<std::tuple<const char*, Case>> {
    const char* model() const override { return std::get<0>(GetParam()); }
};

TEST_P(TrueProfile, ReadsTheSectionBehindWhatLiesInFront) {
    const Case& c = std::get<1>(GetParam());
    load(c.dut);
    sim.setNoise(false);
    view.xStart.store(c.windowStart);
    ASSERT_EQ(sweepShown(1), 1);
    Waveform peeled = instrument.recordAvg;
    peelProfile(peeled);
    int n = 0;
    for (std::size_t i = 0; i < peeled.size(); ++i) {
        if (instrument.recordX[i] < c.from || instrument.recordX[i] > c.to) continue;
        const double want = c.againstPlain ? instrument.recordAvg[i] : truth(c.section);
        EXPECT_NEAR(peeled[i], want, c.tolerance) << "x " << instrument.recordX[i];
        ++n;
    }
    EXPECT_GT(n, 50);
}

constexpr double kAll = 1e9;
const Case kCases[] = {
    {"HighBehindLow", "line 30 0.3 2.25 0; line 75 0.3 2.25 0; open", 1, 0.68, 1.12, 0.5, false},
    // The dip of 0.04 m at K 4 spans 0.107 m of trace at K 2.25.
    {"AfterADip", "line 50 0.3 2.25 0; line 35 0.04 4 0; line 50 0.3 2.25 0; load 50", 2, 0.78,
     1.25, 0.5, false},
    {"WindowAfterTheEdge", "line 30 0.3 2.25 0; line 75 0.3 2.25 0; open", 1, 0.68, 1.12, 0.5,
     false, 1.0},
    // Single sections, from past the rise of their leading edge.
    {"SingleHigh", "line 75 0.5 2.25 0; load 75", 0, 0.08, kAll, 0.1, true},
    {"SingleLow", "line 30 0.5 2.25 0; load 30", 0, 0.08, kAll, 0.1, true},
    {"SingleLossyOpen", "line 50 1.0 2.25 0.3; open", 0, 0.08, 1.9, 0.1, true},
    // Behind a short nothing is peeled: the trace is the plain one.
    {"BehindAShort", "line 50 0.5 2.25 0; short", 0, 1.1, kAll, 1e-9, true},
};

INSTANTIATE_TEST_SUITE_P(Devices, TrueProfile,
                         ::testing::Combine(::testing::Values("QSB020", "QSA002"),
                                            ::testing::ValuesIn(kCases)),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param)) + "_" +
                                    std::get<1>(info.param).name;
                         });

// With noise and 16 averages the error grows as the step reaching a section shrinks: within
// 0.2 ohm over the two-way transmission of every interface in front of it.
TEST_F(OnSimulator, NoisyErrorGrowsOnlyWithTheTransmissionLostInFront) {
    load("line 30 0.3 2.25 0; line 75 0.3 2.25 0; line 40 0.3 2.25 0; line 65 0.3 2.25 0; "
         "line 50 0.3 2.25 0; line 30 0.3 2.25 0; line 75 0.3 2.25 0; load 50");
    view.xEnd.store(8.5);
    ASSERT_EQ(sweepShown(16), 1);
    Waveform peeled = instrument.recordAvg;
    peelProfile(peeled);
    double before = 50, transmission = 1;
    for (int s = 0; s < 7; ++s) {
        const double z = truth(s), k = (z - before) / (z + before);
        transmission *= 1 - k * k;
        before = z;
        for (std::size_t i = 0; i < peeled.size(); ++i) {
            if (instrument.recordX[i] > 0.6 * s + 0.16 &&
                instrument.recordX[i] < 0.6 * (s + 1) - 0.16) {
                EXPECT_NEAR(peeled[i], z, 0.2 / transmission) << "section " << s;
            }
        }
    }
}

// Through the acquisition cycle and the menu: each line of a pair is peeled, then summed.
TEST_F(OnSimulator, DifferentialPairReadsTwiceTheTrueLine) {
    ASSERT_EQ(instrument.measureConstants(2, 5, Mode::TDR), 1);
    instrument.selectChannels(2, 4);
    load("line 30 0.3 2.25 0; line 75 0.3 2.25 0; open");
    setDiff(1);
    auto at75 = [] {
        double sum = 0;
        int n = 0;
        for (std::size_t i = 0; i < instrument.recordX.size(); ++i)
            if (instrument.recordX[i] > 0.7 && instrument.recordX[i] < 1.1)
                sum += liveTrace.y[i], ++n;
        return sum / n;
    };
    acquire(0);
    EXPECT_NEAR(at75(), 2 * 67.9, 1.0) << "plain conversion while the item is off";
    onSetTrueProfile(MENUBAR, MENUBAR_YUNITS_TRUEPROFILE, nullptr, PANEL);
    acquire(0);
    EXPECT_NEAR(at75(), 150.0, 1.0);
    setYUnits(YUnit::Rho); // not ohms: dimmed, the plain trace, and the mark kept for the way back
    EXPECT_TRUE(platform::panel().menuDimmed(MENUBAR_YUNITS_TRUEPROFILE));
    onSetTrueProfile(MENUBAR, MENUBAR_YUNITS_TRUEPROFILE, nullptr, PANEL);
    EXPECT_TRUE(platform::panel().menuChecked(MENUBAR_YUNITS_TRUEPROFILE));
    acquire(0);
    EXPECT_NEAR(at75(), (67.9 - 50) / (67.9 + 50), 0.01);
}

} // namespace

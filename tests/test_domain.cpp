// Switching domains against the simulated instrument: what the panel offers on each side, and
// what comes back on the way out.
#include "acquisition/acquire.h"
#include "acquisition/timebase.h"
#include "acquisition/timer.h"
#include "app/settings.h"
#include "app/startup.h"
#include "freqdomain/solt.h"
#include "freqdomain/store.h"
#include "instrument/driver.h"
#include "instrument/transport.h"
#include "panel/callbacks.h"
#include "panel/domain.h"
#include "panel/interface.h"
#include "panel/ports.h"
#include "panel/units.h"
#include "platform/panel_model.h"
#include "platform/serial_device.h"
#include "simulator/sim_device.h"
#include "simulator/sim_operator.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

using platform::panel;
using simulator::SimulatedInstrument;

namespace {

std::vector<std::string> modeLabels() {
    std::vector<std::string> v;
    for (const auto& item : panel().ringItems(PANEL_MODE))
        v.push_back(item.label + "=" + std::to_string(item.value));
    return v;
}

struct Case {
    const char* code;
    int channels;
    std::vector<std::string> timeModes;
    std::vector<std::string> freqModes;
};

class Domain : public ::testing::TestWithParam<Case> {
  protected:
    SimulatedInstrument sim{GetParam().code};
    simulator::SoltOperator user{&sim};

    void SetUp() override {
        testing_support::freshPanel();
        testing_support::resetEnvironment();
        platform::setSerialDevice(&sim);
        ASSERT_EQ(velt_init(), 1);
        ASSERT_EQ(velt_params(2), 1);
        channels = GetParam().channels;
        // The mode ring as model detection leaves it.
        if (channels == 2) panel().ringDelete(PANEL_MODE, 1, 3);
        if (channels == 4) panel().ringDelete(PANEL_MODE, 2, 2);
        setStimulus(0, 2, -1);
        calS11.store(0);
        calS21.store(0);
        platform::setPopupHandler(&user);
        // Impedance over 0.5 to 2.5 m with the zero at 0.3 m.
        setXUnits(0);
        setYUnits(2);
        xStart.store(0.5);
        xEnd.store(2.5);
        applyZeroReference(0.3);
    }
    void TearDown() override {
        platform::setPopupHandler(nullptr);
        EXPECT_EQ(sim.protocolViolations(), 0);
        usbftdi_close();
        platform::setSerialDevice(nullptr);
        channels = 0;
    }
    void expectTimeDomainAsBefore() {
        EXPECT_EQ(xUnits.load(), 0);
        EXPECT_EQ(yUnits.load(), 2);
        EXPECT_NEAR(getXStart(), 0.2, 1e-9);
        EXPECT_NEAR(getXEnd(), 2.2, 1e-9);
        EXPECT_NEAR(xZero.load(), 0.3, 1e-12);
        EXPECT_EQ(modeLabels(), GetParam().timeModes);
        EXPECT_TRUE(panel().menuChecked(MENUBAR_DOMAIN_TIME));
        EXPECT_FALSE(panel().menuChecked(MENUBAR_DOMAIN_FREQ));
        EXPECT_FALSE(panel().menuDimmed(MENUBAR_CAL_SETZERO));
        EXPECT_TRUE(panel().menuDimmed(MENUBAR_CAL_SOLTCAL));
        EXPECT_TRUE(panel().menuDimmed(MENUBAR_CAL_LOADSOLT));
        EXPECT_FALSE(panel().dimmed(PANEL_FILTER));
    }
};

TEST_P(Domain, RoundTripGivesBackWindowZeroUnitAndModes) {
    calS11.store(1); // a calibration is in force: no offer
    setDomain(1);
    EXPECT_EQ(xUnits.load(), 4);
    EXPECT_EQ(yUnits.load(), 5);
    EXPECT_EQ(getXStart(), 0.0);
    EXPECT_EQ(getXEnd(), maxRange[4].load());
    EXPECT_EQ(modeLabels(), GetParam().freqModes);
    EXPECT_TRUE(panel().menuChecked(MENUBAR_DOMAIN_FREQ));
    EXPECT_TRUE(panel().menuDimmed(MENUBAR_CAL_SETZERO));
    EXPECT_TRUE(panel().menuDimmed(MENUBAR_CAL_RESETZERO));
    EXPECT_FALSE(panel().menuDimmed(MENUBAR_CAL_SOLTCAL));
    EXPECT_FALSE(panel().menuDimmed(MENUBAR_CAL_SAVESOLT));
    for (int id : {PANEL_DIFFERENTIAL, PANEL_FILTER, PANEL_FILTERWIDTH, PANEL_DIEL, PANEL_VC})
        EXPECT_TRUE(panel().dimmed(id)) << id;
    EXPECT_EQ(panel().xAxisName(), "FREQUENCY (GHz)");
    for (const auto& r : user.seen)
        EXPECT_EQ(r.kind, platform::PopupKind::Message) << "an offer despite a calibration";

    setDomain(0);
    expectTimeDomainAsBefore();
}

TEST_P(Domain, NewCalibrationThenTheTraceComesFromTheSelectedLine) {
    // The calibration ends on the last standard's line (port 2 or the negative line); the
    // first frequency-domain trace and the next tick's must come from the selected one.
    setDomain(1);
    ASSERT_EQ(xUnits.load(), 4);
    EXPECT_EQ(user.seen.back().title, "SOLT COMPLETE");
    EXPECT_EQ(samplerPort, samplerPortCode[static_cast<std::size_t>(getSampler())]);
    onSOLTCal(MENUBAR, MENUBAR_CAL_SOLTCAL, nullptr, PANEL);
    EXPECT_EQ(user.seen.back().title, "SOLT COMPLETE");
    onAsyncTimer();
    EXPECT_EQ(samplerPort, samplerPortCode[static_cast<std::size_t>(getSampler())]);
}

TEST_P(Domain, CancelledOfferStaysInTheTimeDomainUntouched) {
    user.offerAnswer = 3;
    setDomain(1);
    ASSERT_FALSE(user.seen.empty());
    EXPECT_EQ(user.seen.front().title, "S11 SOLT CALIBRATION REQUIRED");
    EXPECT_EQ(user.seen.back().title, "SOLT CANCELLED");
    EXPECT_EQ(user.seen.back().text,
              "SOLT calibration has been cancelled. Reverting to time domain.");
    expectTimeDomainAsBefore();
}

TEST_P(Domain, FailedLoadIsAnErrorAndStaysInTheTimeDomain) {
    user.offerAnswer = 1;
    user.filePath = "/nonexistent/folder/cal.s11";
    setDomain(1);
    EXPECT_EQ(user.seen.back().title, "SOLT ERROR");
    EXPECT_EQ(user.seen.back().text,
              "SOLT calibration could not be completed. Reverting to time domain.");
    EXPECT_EQ(calS11.load(), 0);
    expectTimeDomainAsBefore();
}

TEST_P(Domain, AskingForTheDomainInForceOnlyRemovesTheTraces) {
    calS11.store(1);
    setDomain(1);
    ASSERT_NE(WfmActive.load(), 0);
    const auto modes = modeLabels();
    setDomain(1);
    EXPECT_EQ(WfmActive.load(), 0);
    EXPECT_FALSE(panel().plotExists(1));
    EXPECT_EQ(xUnits.load(), 4);
    EXPECT_EQ(modeLabels(), modes);
    setDomain(0);
    setDomain(0);
    EXPECT_EQ(WfmActive.load(), 0);
    expectTimeDomainAsBefore();
}

INSTANTIATE_TEST_SUITE_P(
    Models, Domain,
    ::testing::Values(Case{"QSA002", 2, {"TDR=0"}, {"S11=0"}},
                      Case{"QSA004", 4, {"TDR=0", "TDT=1"}, {"S11=0", "S21=1"}},
                      Case{
                          "QSB008", 8, {"TDR=0", "TDT=1", "NEXT=2", "FEXT=3"}, {"S11=0", "S21=1"}}),
    [](const auto& info) { return std::string(info.param.code); });

} // namespace

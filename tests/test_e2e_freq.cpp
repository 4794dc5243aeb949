// End to end in the frequency domain: a guided SOLT calibration against the simulated
// instrument, then S11 and S21 of known devices read against the simulator's true S-parameters.
#include "acquisition/acquire.h"
#include "app/startup.h"
#include "files/solt_file.h"
#include "freqdomain/eye.h"
#include "freqdomain/network.h"
#include "freqdomain/solt.h"
#include "freqdomain/sparams.h"
#include "freqdomain/store.h"
#include "instrument/driver.h"
#include "instrument/transport.h"
#include "panel/callbacks.h"
#include "panel/cycle.h"
#include "panel/domain.h"
#include "panel/eye_view.h"
#include "panel/interface.h"
#include "panel/panel_state.h"
#include "panel/ports.h"
#include "panel/settings.h"
#include "panel/solt_guide.h"
#include "panel/solt_io.h"
#include "panel/timer.h"
#include "panel/zone_stats.h"
#include "platform/panel_model.h"
#include "platform/serial_device.h"
#include "simulator/sim_device.h"
#include "simulator/sim_operator.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <complex>
#include <cstdio>
#include <numbers>

using platform::panel;
using simulator::Connection;
using cd = std::complex<double>;

namespace {

// Each speed class is held to what a user is promised, up to where its edge carries content:
// 3 GHz for the 150 ps edge, 7 GHz for the 35 ps one (four interleaved sweeps a record).
struct Setup {
    const char* model;
    double fMax;         // GHz
    double s11Tolerance; // largest complex error up to fMax
    double s21ToleranceDb;
    double frequencyTolerance; // relative, of a null and of a phase slope
};

class FrequencyDomain : public ::testing::TestWithParam<Setup> {
  protected:
    simulator::SimulatedInstrument sim{GetParam().model};
    simulator::SoltOperator user{&sim};
    std::vector<double> f;    // shown frequencies up to fMax (bins 1, 2, ...)
    std::vector<cd> s11, s21; // the truth there

    void SetUp() override {
        testing_support::freshPanel();
        platform::setSerialDevice(&sim);
        ASSERT_EQ(instrument.open(), 1);
        ASSERT_EQ(instrument.selectTiming(2), 1);
        sim.setNoise(false);
        instrument.channels = 4; // port 1 CH 1 and port 2 CH 1 are calibrated
        instrument.speed = sim.speedClass();
        std::snprintf(instrument.model, sizeof instrument.model, "%s", GetParam().model);
        solt.store = StandardSet{};
        solt.calS11.store(0);
        solt.calS21.store(0);
        platform::setPopupHandler(&user);
    }
    void TearDown() override {
        platform::setPopupHandler(nullptr);
        EXPECT_EQ(sim.protocolViolations(), 0);
        usbftdi_close();
        platform::setSerialDevice(nullptr);
        instrument.channels = 0;
        instrument.speed = 0;
        instrument.model[0] = '\0';
    }
    void calibrateFor(int mode) {
        view.yUnits.store(YUnit::Rho);
        view.xUnits.store(XUnit::Nanoseconds);
        setStimulus(modeFromCode(mode), 2);
        ASSERT_EQ(performSOLT(mode), 1); // the operator reconnects the devices at the end
    }
    void load(const std::string& text) {
        std::string err;
        ASSERT_TRUE(sim.loadScenarioText(text, err)) << err;
    }
    // One frequency-domain acquisition as the timer makes it, and the truth at its bins.
    void measure(int averaging = 1, bool selectStandards = true) {
        view.yUnits.store(YUnit::Decibels);
        view.xUnits.store(XUnit::GHz);
        panel().setValue(PANEL_AVERAGING, averaging);
        if (selectStandards) solt.select(getSampler());
        ASSERT_EQ(calibrate(-1, -1, 0), 1);
        acquire(0);
        f.clear();
        for (std::size_t i = 1; instrument.recordX[i] <= GetParam().fMax; ++i)
            f.push_back(instrument.recordX[i]);
        sim.sParametersAt(2, f, s11, s21);
    }
    cd measured(std::size_t i) const { return solt.result[i + 1]; }
    double worstS11Error() const {
        double worst = 0;
        for (std::size_t i = 0; i < f.size(); ++i)
            worst = std::max(worst, std::abs(measured(i) - s11[i]));
        return worst;
    }
};

TEST_P(FrequencyDomain, S11OfKnownDevicesAgreesWithTheTruth) {
    calibrateFor(0);
    const std::pair<const char*, const char*> devices[] = {
        {"75-ohm quarter-wave section into 50 ohms", "line 75 0.05 2.25 0; load 50"},
        {"100 ohms behind 0.3 m of cable", "line 50 0.3 2.25 0; load 100"},
        {"35-ohm dip", "line 50 0.3 2.25 0; line 35 0.04 4.0 0; line 50 0.3 2.25 0; load 50"},
        {"delayed short", "line 50 0.2 2.25 0; short"},
    };
    for (const auto& [name, description] : devices) {
        load(std::string("channel 2: ") + description + "\n");
        measure();
        const double worst = worstS11Error();
        std::printf("[ figure ] %s, %s: worst |S11 - true| up to %.0f GHz = %.5f\n",
                    GetParam().model, name, GetParam().fMax, worst);
        EXPECT_LT(worst, GetParam().s11Tolerance) << name;
        EXPECT_NEAR(liveTrace.y[140], 20 * std::log10(std::abs(measured(139))), 1e-9);
    }
}

TEST_P(FrequencyDomain, ResonanceAndPhaseSlopeLandAtTheirTrueFrequency) {
    calibrateFor(0);
    // 5 cm of 75 ohms (dielectric 2.25) is half a wave at 2 GHz: no reflection there.
    load("channel 2: line 75 0.05 2.25 0; load 50\n");
    measure();
    std::size_t best = 0;
    for (std::size_t i = 1; i < 1024; ++i)
        if (instrument.recordX[i] > 1.5 && instrument.recordX[i] < 2.5 &&
            (best == 0 || liveTrace.y[i] < liveTrace.y[best]))
            best = i;
    std::printf("[ figure ] %s: half-wave null shown at %.4f GHz (true 2.0000)\n", GetParam().model,
                instrument.recordX[best]);
    EXPECT_NEAR(instrument.recordX[best], 2.0, 2.0 * GetParam().frequencyTolerance);

    // A short 0.2 m down the cable: the phase falls by 4 pi (1 ns) per GHz.
    load("channel 2: line 50 0.2 2.25 0; short\n");
    measure();
    auto slope = [&](auto value) {
        double unwrapped = 0, prev = 0, sx = 0, sy = 0, sxx = 0, sxy = 0;
        for (std::size_t i = 0; i < f.size(); ++i) {
            const double a = std::arg(value(i));
            unwrapped = i == 0 ? a : unwrapped + std::remainder(a - prev, 2 * std::numbers::pi);
            prev = a;
            sx += f[i], sy += unwrapped, sxx += f[i] * f[i], sxy += f[i] * unwrapped;
        }
        const double n = static_cast<double>(f.size());
        return (n * sxy - sx * sy) / (n * sxx - sx * sx);
    };
    const double shown = slope([&](std::size_t i) { return measured(i); });
    const double real = slope([&](std::size_t i) { return s11[i]; });
    std::printf("[ figure ] %s: delayed short phase slope %.4f rad/GHz (true %.4f)\n",
                GetParam().model, shown, real);
    EXPECT_NEAR(shown / real, 1.0, GetParam().frequencyTolerance);
}

TEST_P(FrequencyDomain, S21OfALossyCableAgreesWithItsInsertionLoss) {
    // One metre of cable losing 1 dB a metre at 1 GHz: 1.7 dB at 3 GHz.
    load("channel 2: line 50 1.0 2.25 1.0; through\n");
    calibrateFor(1);
    measure();
    double worst = 0;
    for (std::size_t i = 0; i < f.size(); ++i)
        worst = std::max(worst, std::abs(liveTrace.y[i + 1] - 20 * std::log10(std::abs(s21[i]))));
    std::printf("[ figure ] %s: worst S21 error up to %.0f GHz = %.4f dB\n", GetParam().model,
                GetParam().fMax, worst);
    EXPECT_LT(worst, GetParam().s21ToleranceDb);

    // The eye of the corrected S21 over 20 ns, against the eye of the simulator's own S21.
    panelState.savedXUnits.store(XUnit::Nanoseconds);
    panelState.savedXStart.store(0);
    panelState.savedXEnd.store(20);
    panelState.savedXZero.store(0);
    panelState.savedYUnits.store(YUnit::Millivolts);
    platform::EyeRequest request;
    request.source = 1;
    request.bitrateGbps = 2;
    const platform::EyeView measuredEye = LiveEye{}.compute(request);
    ASSERT_TRUE(measuredEye.ok) << measuredEye.error;
    Network truth;
    truth.ports = 2;
    for (std::size_t i = 1; i < instrument.recordX.size(); ++i)
        truth.hz.push_back(instrument.recordX[i] * 1e9);
    std::vector<double> ghz(instrument.recordX.begin() + 1, instrument.recordX.end());
    sim.sParametersAt(2, ghz, truth.s11, truth.s21);
    StepResponse step;
    Waveform x{}, y{};
    std::string error;
    ASSERT_TRUE(
        stepResponse(truth, Mode::TDT, shownRiseTimePs(instrument.speed, false, 0), step, error) &&
        profileOver(step, {XUnit::Nanoseconds, 0, 20, 0, 1, 0}, YUnit::Millivolts, x, y, error))
        << error;
    eye::Settings settings;
    ASSERT_TRUE(eye::settingsOf(request, settings));
    const eye::Eye trueEye = eye::compute(
        eye::stepOfTrace(x.data(), y.data(), x.size(), XUnit::Nanoseconds, 1), settings);
    const double height = std::stod(measuredEye.picture.figures.substr(7));
    std::printf("[ figure ] %s: eye height at 2 Gb/s %.2f mV from the corrected S21, %.2f mV "
                "from the true one\n",
                GetParam().model, height, trueEye.height);
    EXPECT_NEAR(height, trueEye.height, 0.03 * trueEye.amplitude);
}

TEST_P(FrequencyDomain, CalibrationLoadedFromTheMenuCorrectsTheSelectedSampler) {
    calibrateFor(0);
    const std::string path =
        ::testing::TempDir() + "velt_menu_load_" + std::to_string(getpid()) + ".s11";
    user.filePath = path;
    // In the file only the negative line (sampler 5) of port 1 CH 1 has standards.
    for (Standard s : {Standard::Short, Standard::Open, Standard::Load})
        solt.standard(s, 4) = FdRecord{};
    ASSERT_EQ(saveSOLT(0), 1);
    solt.store = StandardSet{};
    solt.select(4);
    view.yUnits.store(YUnit::Decibels);
    view.xUnits.store(XUnit::GHz);
    setSampler(5);
    onLoadSOLT(MENUBAR, MENUBAR_CAL_LOADSOLT, nullptr, PANEL);
    sim.setConnection(2, Connection::Short);
    measure(1, false);
    // With sampler 5's standards a short reads 0 dB; with none there would be no value at all.
    for (std::size_t i = 0; i < f.size(); ++i)
        ASSERT_NEAR(liveTrace.y[i + 1], 0.0, 0.05) << f[i] << " GHz";
    std::remove(path.c_str());
}

TEST_P(FrequencyDomain, WithNoiseTheErrorFallsAsTheRootOfTheAveraging) {
    calibrateFor(0);
    load("channel 2: line 50 0.3 2.25 0; load 100\n");
    auto rmsError = [&](int averaging) {
        measure(averaging);
        double sum = 0;
        for (std::size_t i = 0; i < f.size(); ++i) sum += std::norm(measured(i) - s11[i]);
        return std::sqrt(sum / static_cast<double>(f.size()));
    };
    const double clean = rmsError(1);
    sim.setNoise(true);
    const double few = rmsError(4), many = rmsError(64);
    std::printf("[ figure ] %s: rms |S11 - true| %.5f without noise; with noise %.5f at 4 "
                "sweeps, %.5f at 64\n",
                GetParam().model, clean, few, many);
    // What noise adds: sixteen times the sweeps, a quarter of it.
    EXPECT_NEAR(std::sqrt(few * few - clean * clean) / std::sqrt(many * many - clean * clean), 4.0,
                1.0);
}

// From NEXT or FEXT the standards are still measured in reflection, as the device is.
TEST_P(FrequencyDomain, EnteredFromCrosstalkS11IsCalibratedInReflection) {
    if (!sim.hasChannel(1)) GTEST_SKIP() << "no crosstalk modes on this model";
    instrument.channels = 8;
    load("channel 2: line 50 0.3 2.25 0; load 100\n");
    for (int mode : {2, 3}) {
        solt.calS11.store(0);
        setStimulus(modeFromCode(mode), 2);
        setDomain(Domain::Frequency);
        ASSERT_EQ(getMode(), Mode::TDR);
        measure();
        EXPECT_LT(worstS11Error(), GetParam().s11Tolerance) << "entered from mode " << mode;
        setDomain(Domain::Time);
    }
}

// A new calibration given up half way leaves the selected line's standards in force, even when
// the one measured before the cancel was wrong (an OPEN kept for the SHORT).
TEST_P(FrequencyDomain, ACancelledCalibrationLeavesTheTraceAsItWas) {
    calibrateFor(0);
    setStimulus(Mode::TDR, 7); // PORT 2, CH 1
    measure();
    const Waveform before = liveTrace.y;
    const int next = static_cast<int>(user.prompts.size());
    user.mistakes[next] = Connection::Open; // PORT 1, CH 1+ SHORT
    user.cancelAtPrompt = next + 1;
    EXPECT_EQ(performSOLT(-1), -1);
    measure(1, false);
    EXPECT_EQ(liveTrace.y, before);
}

// A file written with plain sampling (1024 rows) still corrects on a model that interleaves: the
// device is then swept plainly too, and the log says so once.
TEST_P(FrequencyDomain, APlainSampledFileStillCorrectsAndSaysSo) {
    calibrateFor(0);
    for (auto& standard : solt.store)
        for (FdRecord& r : standard) r.thinTo(1);
    const std::string path = ::testing::TempDir() + "velt_plain_" + std::to_string(getpid());
    ASSERT_EQ(saveSOLTFile(0, path), 1);
    solt.store = StandardSet{};
    ASSERT_EQ(loadSOLTFile(0, path), 1);
    const std::string log = panel().text(PANEL_MESSAGE);
    const bool fast = sim.speedClass() == 0;
    EXPECT_EQ(log.find("made with plain sampling") != std::string::npos, fast);
    EXPECT_EQ(log.find("made with plain sampling"), log.rfind("made with plain sampling"));
    load("channel 2: line 50 0.3 2.25 0; load 100\n");
    measure(4);
    EXPECT_EQ(liveTrace.fd.interleave, 1);
    for (std::size_t i = 0; f[i] < 1.0; ++i)
        ASSERT_LT(std::abs(measured(i) - s11[i]), 0.01) << f[i];
    // A new calibration given up after its first standard: this line's SHORT is then swept
    // finer than its OPEN and LOAD. Thinned to what they share it corrects as before, and so it
    // does saved and loaded again.
    user.cancelAtPrompt = static_cast<int>(user.prompts.size()) + 1;
    EXPECT_EQ(performSOLT(-1), -1);
    sim.setConnection(2, Connection::Device); // the operator left the SHORT connected
    for (int pass = 0; pass < 2; ++pass) {
        measure(4);
        for (std::size_t i = 0; f[i] < 1.0; ++i)
            ASSERT_LT(std::abs(measured(i) - s11[i]), 0.01) << f[i] << ", pass " << pass;
        ASSERT_EQ(saveSOLTFile(0, path), 1);
        solt.store = StandardSet{};
        ASSERT_EQ(loadSOLTFile(0, path), 1);
    }
    std::remove(path.c_str());
}

INSTANTIATE_TEST_SUITE_P(SpeedClasses, FrequencyDomain,
                         ::testing::Values(Setup{"QSB020", 3.0, 0.005, 0.1, 0.005},
                                           Setup{"QSA004", 7.0, 0.01, 0.1, 0.005}),
                         [](const auto& info) { return std::string(info.param.model); });

} // namespace

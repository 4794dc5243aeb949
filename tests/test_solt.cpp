// The guided SOLT calibration and the domain switch against the simulated instrument: prompts
// and their order per model, what is stored, what a cancel leaves, and the panel on either side.
#include "acquisition/acquire.h"
#include "app/startup.h"
#include "files/solt_file.h"
#include "files/waveform_file.h"
#include "freqdomain/solt.h"
#include "freqdomain/solt_check.h"
#include "freqdomain/store.h"
#include "instrument/driver.h"
#include "instrument/transport.h"
#include "panel/callbacks.h"
#include "panel/cycle.h"
#include "panel/domain.h"
#include "panel/interface.h"
#include "panel/panel_state.h"
#include "panel/ports.h"
#include "panel/settings.h"
#include "panel/solt_guide.h"
#include "panel/solt_io.h"
#include "panel/timebase.h"
#include "panel/timer.h"
#include "panel/units.h"
#include "panel/waveform_io.h"
#include "panel/zero.h"
#include "platform/panel_model.h"
#include "platform/serial_device.h"
#include "simulator/sim_device.h"
#include "simulator/sim_operator.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>

using platform::panel;

namespace {

std::vector<std::string> modeRing() {
    std::vector<std::string> v;
    for (const auto& item : panel().ringItems(PANEL_MODE))
        v.push_back(item.label + "=" + std::to_string(item.value));
    return v;
}

// A model's instrument after start-up, with impedance over 0.5 to 2.5 m and a 0.3 m zero.
class Solt : public ::testing::Test {
  protected:
    void start(const char* model, int channelCount, int mode) {
        sim.setModel(model);
        testing_support::freshPanel();
        platform::setSerialDevice(&sim);
        ASSERT_EQ(instrument.open(), 1);
        ASSERT_EQ(instrument.selectTiming(2), 1);
        instrument.channels = channelCount;
        if (instrument.channels == 2) panel().ringDelete(PANEL_MODE, 1, 3);
        if (instrument.channels == 4) panel().ringDelete(PANEL_MODE, 2, 2);
        solt.store = StandardSet{};
        solt.calS11.store(0);
        solt.calS21.store(0);
        setStimulus(modeFromCode(mode), 2);
        platform::setPopupHandler(&user);
        setYUnits(YUnit::Ohms);
        view.xStart.store(0.5);
        view.xEnd.store(2.5);
        setZero(0.3);
    }
    void TearDown() override {
        platform::setPopupHandler(nullptr);
        EXPECT_EQ(sim.protocolViolations(), 0);
        usbftdi_close();
        platform::setSerialDevice(nullptr);
        instrument.channels = 0;
    }
    void expectTimeDomainAsBefore() {
        EXPECT_EQ(view.xUnits.load(), XUnit::Metres);
        EXPECT_EQ(view.yUnits.load(), YUnit::Ohms);
        EXPECT_NEAR(getXStart(), 0.2, 1e-9);
        EXPECT_NEAR(getXEnd(), 2.2, 1e-9);
        EXPECT_NEAR(view.xZero.load(), 0.3, 1e-12);
        EXPECT_TRUE(panel().menuChecked(MENUBAR_DOMAIN_TIME));
        EXPECT_TRUE(panel().menuDimmed(MENUBAR_CAL_SOLTCAL));
        EXPECT_FALSE(panel().menuDimmed(MENUBAR_CAL_SETZERO));
        EXPECT_FALSE(panel().dimmed(PANEL_FILTER));
    }
    simulator::SimulatedInstrument sim;
    simulator::SoltOperator user{&sim};
};

std::string reflection(const std::string& label, const std::string& what) {
    return "CALIBRATE " + label + " | Set " + label + " to " + what +
           " and click OK.\nCalibration may take up to 15 seconds.";
}
std::string through(const std::string& from, const std::string& to) {
    return "CALIBRATE " + to + " | Connect " + from + " in THROUGH to " + to +
           " and click OK.\nCalibration may take up to 15 seconds.";
}

struct Sequence {
    const char* model;
    int channels, mode, prompts;
    std::vector<std::string> first; // the first prompts, in order
};
class Prompts : public Solt, public ::testing::WithParamInterface<Sequence> {};

TEST_P(Prompts, CompleteRunAsksForEveryStandardInOrderAndStoresIt) {
    start(GetParam().model, GetParam().channels, GetParam().mode);
    ASSERT_EQ(performSOLT(GetParam().mode), 1);
    ASSERT_EQ(static_cast<int>(user.prompts.size()), GetParam().prompts);
    for (std::size_t i = 0; i < GetParam().first.size(); ++i)
        EXPECT_EQ(user.prompts[i], GetParam().first[i]) << "prompt " << i;
    EXPECT_EQ((GetParam().mode == 0 ? solt.calS11 : solt.calS21).load(), 1);
    EXPECT_NE(panel()
                  .text(PANEL_MESSAGE)
                  .find("> SOLT completed successfully. Please manually "
                        "save file to disk if you want to use this "
                        "calibration again.\n"),
              std::string::npos);
    EXPECT_EQ(user.seen.back().title, "SOLT COMPLETE");
    EXPECT_TRUE(user.warnings.empty()) << user.warnings.front(); // noise is on
    expectTimeDomainAsBefore(); // the five overridden settings are back
    // A SHORT falls to -1, an OPEN rises to +1, a THROUGH arrives; absent channels stay zero.
    if (GetParam().mode == 0) {
        EXPECT_LT(solt.standard(Standard::Short, 4)[1000], -0.9);
        EXPECT_GT(solt.standard(Standard::Open, 15)[1000], 0.9);
        EXPECT_NEAR(solt.standard(Standard::Load, 5)[1000], 0.0, 0.05);
    } else {
        EXPECT_GT(solt.standard(Standard::Through, 14)[1000] -
                      solt.standard(Standard::Through, 14)[0],
                  0.5);
    }
    if (GetParam().channels < 20) {
        EXPECT_EQ(solt.standard(Standard::Load, 8), FdRecord{});
    }
}

INSTANTIATE_TEST_SUITE_P(
    Models, Prompts,
    ::testing::Values(
        Sequence{"QSA004",
                 4,
                 0,
                 12,
                 {reflection("PORT 1, CH 1+", "SHORT"), reflection("PORT 1, CH 1+", "OPEN"),
                  reflection("PORT 1, CH 1+", "50 OHM LOAD"), reflection("PORT 1, CH 1-", "SHORT"),
                  reflection("PORT 1, CH 1-", "OPEN"), reflection("PORT 1, CH 1-", "50 OHM LOAD"),
                  reflection("PORT 2, CH 1+", "SHORT"), reflection("PORT 2, CH 1+", "OPEN"),
                  reflection("PORT 2, CH 1+", "50 OHM LOAD"), reflection("PORT 2, CH 1-", "SHORT"),
                  reflection("PORT 2, CH 1-", "OPEN"), reflection("PORT 2, CH 1-", "50 OHM LOAD")}},
        Sequence{
            "QSA004",
            4,
            1,
            4,
            {through("PORT 1, CH 1+", "PORT 2, CH 1+"), through("PORT 2, CH 1+", "PORT 1, CH 1+"),
             through("PORT 1, CH 1-", "PORT 2, CH 1-"), through("PORT 2, CH 1-", "PORT 1, CH 1-")}},
        // All of port 1 (CH 1, 2, 3, 4, 5) before port 2.
        Sequence{"QSB020",
                 20,
                 0,
                 60,
                 {reflection("PORT 1, CH 1+", "SHORT"), reflection("PORT 1, CH 1+", "OPEN"),
                  reflection("PORT 1, CH 1+", "50 OHM LOAD"), reflection("PORT 1, CH 1-", "SHORT"),
                  reflection("PORT 1, CH 1-", "OPEN"), reflection("PORT 1, CH 1-", "50 OHM LOAD"),
                  reflection("PORT 1, CH 2+", "SHORT")}},
        Sequence{
            "QSB020",
            20,
            1,
            20,
            {through("PORT 1, CH 1+", "PORT 2, CH 1+"), through("PORT 2, CH 1+", "PORT 1, CH 1+"),
             through("PORT 1, CH 1-", "PORT 2, CH 1-"), through("PORT 2, CH 1-", "PORT 1, CH 1-"),
             through("PORT 1, CH 2+", "PORT 2, CH 2+")}}),
    [](const auto& info) {
        return std::string(info.param.model) + (info.param.mode == 0 ? "_S11" : "_S21");
    });

TEST_F(Solt, CancelAtAPromptRestoresTheSettingsAndKeepsWhatWasMeasured) {
    start("QSA004", 4, 0);
    user.cancelAtPrompt = 0;
    EXPECT_EQ(performSOLT(0), -1);
    EXPECT_TRUE(solt.store == StandardSet{});
    expectTimeDomainAsBefore();
    user.prompts.clear();
    user.seen.clear();
    user.cancelAtPrompt = 3; // the SHORT of PORT 1, CH 1-
    EXPECT_EQ(performSOLT(-1), -1);
    EXPECT_EQ(user.seen.front().title, "SOLT CALIBRATION"); // the already-loaded offer
    EXPECT_NE(solt.standard(Standard::Load, 4), FdRecord{});
    EXPECT_EQ(solt.standard(Standard::Short, 5), FdRecord{});
    EXPECT_EQ(solt.calS11.load(), 0);
    expectTimeDomainAsBefore();
}

struct Rings {
    const char* model;
    int channels;
    std::vector<std::string> time, frequency;
};
class Domain : public Solt, public ::testing::WithParamInterface<Rings> {};

TEST_P(Domain, RoundTripGivesBackWindowZeroUnitAndModes) {
    start(GetParam().model, GetParam().channels, 0);
    solt.calS11.store(1); // a calibration is in force: no offer
    setDomain(::Domain::Frequency);
    EXPECT_EQ(view.xUnits.load(), XUnit::GHz);
    EXPECT_EQ(view.yUnits.load(), YUnit::Decibels);
    EXPECT_EQ(getXEnd(), panelState.maxRange[4].load());
    EXPECT_EQ(modeRing(), GetParam().frequency);
    EXPECT_TRUE(panel().menuChecked(MENUBAR_DOMAIN_FREQ));
    EXPECT_TRUE(panel().menuDimmed(MENUBAR_CAL_RESETZERO));
    EXPECT_FALSE(panel().menuDimmed(MENUBAR_CAL_LOADSOLT));
    for (int id : {PANEL_DIFFERENTIAL, PANEL_FILTER, PANEL_FILTERWIDTH, PANEL_DIEL, PANEL_VC})
        EXPECT_TRUE(panel().dimmed(id)) << id;
    EXPECT_EQ(panel().xAxisName(), "FREQUENCY (GHz)");
    for (const auto& r : user.seen) EXPECT_EQ(r.kind, platform::PopupKind::Message) << r.title;
    setDomain(::Domain::Frequency); // the domain in force: only the trace goes
    EXPECT_EQ(panelState.livePlot.load(), 0);
    EXPECT_EQ(modeRing(), GetParam().frequency);
    setDomain(::Domain::Time);
    expectTimeDomainAsBefore();
    EXPECT_EQ(modeRing(), GetParam().time);
}

TEST_P(Domain, WithoutACalibrationACancelOrAFailedLoadStaysInTheTimeDomain) {
    start(GetParam().model, GetParam().channels, 0);
    user.offerAnswer = 3;
    setDomain(::Domain::Frequency);
    EXPECT_EQ(user.seen.front().title, "S11 SOLT CALIBRATION REQUIRED");
    EXPECT_EQ(user.seen.back().title + ": " + user.seen.back().text,
              "SOLT CANCELLED: SOLT calibration has been cancelled. Reverting to time domain.");
    expectTimeDomainAsBefore();
    user.offerAnswer = 1;
    user.filePath = "/nonexistent/cal.s11";
    setDomain(::Domain::Frequency);
    EXPECT_EQ(user.seen.back().title + ": " + user.seen.back().text,
              "SOLT ERROR: SOLT calibration could not be completed. Reverting to time domain.");
    EXPECT_EQ(solt.calS11.load(), 0);
    expectTimeDomainAsBefore();
    EXPECT_EQ(modeRing(), GetParam().time);
}

TEST_P(Domain, AfterANewCalibrationTheTraceComesFromTheSelectedLine) {
    // The calibration ends on the line of its last standard.
    start(GetParam().model, GetParam().channels, 0);
    setDomain(::Domain::Frequency);
    ASSERT_EQ(user.seen.back().title, "SOLT COMPLETE");
    EXPECT_EQ(instrument.samplerPort, samplerPortCode[static_cast<std::size_t>(getSampler())]);
}

// The last line's standards (PORT 2, CH 5-) become the working ones like any other's.
TEST(Store, TheLastLinesStandardsBecomeTheWorkingOnes) {
    solt.store = StandardSet{};
    solt.standard(Standard::Open, 19).y.fill(0.5);
    solt.select(19);
    EXPECT_EQ(solt.wfmOpen, solt.standard(Standard::Open, 19));
}

// A termination of 25 or 100 ohm is no 50-ohm LOAD; 40 and 60 ohm pass.
TEST(SoltCheck, ALoadFarFromFiftyOhmIsNamed) {
    for (const auto& [ohms, passes] :
         {std::pair{25.0, false}, {40.0, true}, {60.0, true}, {100.0, false}}) {
        FdRecord w;
        w.y.fill((ohms - 50) / (ohms + 50));
        EXPECT_EQ(checkStandard(Standard::Load, 4, w, StandardSet{}).problem == SoltProblem::None,
                  passes)
            << ohms;
    }
}

// Around S21: its offer cancelled, a recall cleared, and the way back to the time domain.
TEST_P(Domain, S21CancelledClearedAndLeftKeepEachDomainsRules) {
    if (GetParam().channels < 4) GTEST_SKIP() << "no S21 on this model";
    start(GetParam().model, GetParam().channels, 0);
    solt.calS11.store(1);
    setDomain(::Domain::Frequency);
    user.offerAnswer = 3;
    setStimulus(Mode::TDT, -1);
    EXPECT_EQ(getMode(), Mode::TDR) << "back to S11, the mode in force";
    acquire(1);
    for (const auto& r : user.seen) EXPECT_NE(r.title, "Error #3031");
    clearWaveform();
    for (int id : {PANEL_DIFFERENTIAL, PANEL_FILTER, PANEL_FILTERWIDTH, PANEL_DIEL})
        EXPECT_TRUE(panel().dimmed(id)) << id;
    EXPECT_TRUE(panel().menuDimmed(MENUBAR_CAL_SETZERO));
    solt.calS21.store(1);
    setStimulus(Mode::TDT, -1);
    setDomain(::Domain::Time);
    EXPECT_EQ(getMode(), Mode::TDT);
    EXPECT_EQ(view.yUnits.load(), YUnit::Millivolts) << "TDT shows no impedance";
    EXPECT_TRUE(panel().menuDimmed(MENUBAR_YUNITS_Y3));
}

INSTANTIATE_TEST_SUITE_P(
    Models, Domain,
    ::testing::Values(Rings{"QSA002", 2, {"TDR=0"}, {"S11=0"}},
                      Rings{"QSA004", 4, {"TDR=0", "TDT=1"}, {"S11=0", "S21=1"}},
                      Rings{
                          "QSB008", 8, {"TDR=0", "TDT=1", "NEXT=2", "FEXT=3"}, {"S11=0", "S21=1"}}),
    [](const auto& info) { return std::string(info.param.model); });

// The health check after each standard: a user's mistake, each warning with the number of
// prompts before it, and what the store holds once the user has answered.
struct Mistake {
    const char* name;
    int mode;
    std::map<int, std::optional<simulator::Connection>> mistakes; // by prompt index
    std::deque<int> answers;                                      // 1 Again, 2 Keep, 3 Cancel
    int result, prompts;
    std::vector<std::string> warnings; // "<prompts so far>: <text>"
    friend void PrintTo(const Mistake& m, std::ostream* os) { *os << m.name; }
};
class Check : public Solt, public ::testing::WithParamInterface<Mistake> {};

using simulator::Connection;
constexpr int kAgain = 1, kKeep = 2, kStop = 3;
const std::string kShortAsOpen = "1: PORT 1, CH 1+ SHORT looks wrong: it settles at +1.00, where "
                                 "a SHORT settles near -1: it looks like an OPEN.\n\nMeasure it "
                                 "again, or keep it?";
const std::string kSwapped = "2: PORT 1, CH 1+ OPEN looks wrong: it settles at -1.00 and the "
                             "SHORT at +1.00: SHORT and OPEN look swapped.\n\nMeasure the SHORT "
                             "and the OPEN again, or keep them?";

TEST_P(Check, MistakeIsNamedRightAfterItsStandardAndTheAnswerHolds) {
    const Mistake& m = GetParam();
    start("QSA004", 4, m.mode);
    user.mistakes = m.mistakes;
    user.checkAnswers = m.answers;
    user.checkAnswer = kStop; // a warning not foreseen ends the run
    ASSERT_EQ(performSOLT(m.mode), m.result);
    std::vector<std::string> warnings;
    int prompts = 0;
    for (const auto& r : user.seen) {
        prompts += r.title.rfind("CALIBRATE ", 0) == 0;
        if (r.title == "SOLT STANDARD CHECK")
            warnings.push_back(std::to_string(prompts) + ": " + r.text);
    }
    EXPECT_EQ(warnings, m.warnings);
    EXPECT_EQ(prompts, m.prompts);
    EXPECT_EQ((m.mode == 0 ? solt.calS11 : solt.calS21).load(), m.result == 1 ? 1 : 0);
    if (m.result != 1 || m.mode != 0) return;
    // Kept records stay as measured; a standard measured again replaces the wrong one.
    const double shortLevel = m.answers == std::deque<int>{kKeep, kKeep} ? 1.0 : -1.0;
    EXPECT_NEAR(solt.standard(Standard::Short, 4)[1000], shortLevel, 0.01);
    EXPECT_NEAR(solt.standard(Standard::Open, 4)[1000], -shortLevel, 0.01);
    EXPECT_NEAR(solt.standard(Standard::Load, 5)[1000], 0.0, 0.01);
}

// Parenthesised aggregate initialisation keeps each case to a few lines.
INSTANTIATE_TEST_SUITE_P(
    Mistakes, Check,
    ::testing::Values(
        // Kept at the SHORT, the swap is named at the OPEN, before the LOAD.
        Mistake("SwapKept", 0, {{0, Connection::Open}, {1, Connection::Short}}, {kKeep, kKeep}, 1,
                12, {kShortAsOpen, kSwapped}),
        // Measuring again at the swap goes back to the SHORT.
        Mistake("SwapMeasuredAgain", 0, {{0, Connection::Open}, {1, Connection::Short}},
                {kKeep, kAgain}, 1, 14, {kShortAsOpen, kSwapped}),
        Mistake("OpenNotConnected", 0, {{1, std::nullopt}}, {kAgain}, 1, 13,
                {"2: PORT 1, CH 1+ OPEN looks wrong: it is the same as the SHORT before it: the "
                 "connection was not changed.\n\nMeasure it again, or keep it?"}),
        // Only the standard just before counts as unchanged.
        Mistake("ShortForLoad", 0, {{5, Connection::Short}}, {kAgain}, 1, 13,
                {"6: PORT 1, CH 1- 50 OHM LOAD looks wrong: it settles at -1.00, where a LOAD "
                 "settles near 0: it looks like a SHORT.\n\nMeasure it again, or keep it?"}),
        Mistake("CancelAtTheCheck", 0, {{0, Connection::Load}}, {kStop}, -1, 1,
                {"1: PORT 1, CH 1+ SHORT looks wrong: it settles at +0.00, where a SHORT "
                 "settles near -1: it looks like a LOAD.\n\nMeasure it again, or keep it?"}),
        Mistake("ThroughNotConnected", 1, {{0, Connection::Open}}, {kAgain}, 1, 5,
                {"1: PORT 2, CH 1+ THROUGH looks wrong: nothing arrives from the other port (it "
                 "rises by +0.00, a THROUGH by about +1): the THROUGH is not connected.\n\n"
                 "Measure it again, or keep it?"})),
    [](const auto& info) { return std::string(info.param.name); });

// The last lines of the program log that start with the text.
std::vector<std::string> logLines(const std::string& start) {
    std::vector<std::string> lines;
    const std::string log = panel().text(PANEL_MESSAGE);
    for (std::size_t at = log.find("> " + start); at != std::string::npos;
         at = log.find("> " + start, at + 1))
        lines.push_back(log.substr(at + 2, log.find('\n', at) - at - 2));
    return lines;
}

TEST_F(Solt, LoadedFileWithWrongStandardsIsKeptAndEachIsLogged) {
    start("QSA004", 4, 0);
    ASSERT_EQ(performSOLT(0), 1);
    const auto path = std::filesystem::path(::testing::TempDir()) / "velt_health.s11";
    ASSERT_EQ(saveSOLTFile(0, path.string()), 1);
    ASSERT_EQ(loadSOLTFile(0, path.string()), 1);
    EXPECT_TRUE(logLines("Calibration check").empty()) << logLines("Calibration check")[0];
    // SHORT and OPEN of one line swapped, and a LOAD never measured.
    std::swap(solt.standard(Standard::Short, 5), solt.standard(Standard::Open, 5));
    solt.standard(Standard::Load, 14) = FdRecord{};
    ASSERT_EQ(saveSOLTFile(0, path.string()), 1);
    const StandardSet written = solt.store;
    solt.store = StandardSet{};
    ASSERT_EQ(loadSOLTFile(0, path.string()), 1); // kept as it is
    EXPECT_TRUE(solt.standard(Standard::Load, 14).empty());
    EXPECT_NEAR(solt.standard(Standard::Short, 5)[1000], written[index(Standard::Short)][1][1000],
                1e-5);
    EXPECT_EQ(logLines("Calibration check"),
              (std::vector<std::string>{
                  "Calibration check: PORT 1, CH 1- SHORT looks wrong: it settles at +1.00, "
                  "where a SHORT settles near -1: it looks like an OPEN.",
                  "Calibration check: PORT 1, CH 1- OPEN looks wrong: it settles at -1.00 and "
                  "the SHORT at +1.00: SHORT and OPEN look swapped.",
                  "Calibration check: PORT 2, CH 1+ 50 OHM LOAD looks wrong: the record is all "
                  "zero."}));
    std::filesystem::remove(path);
}

} // namespace

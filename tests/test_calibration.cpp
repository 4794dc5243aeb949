// Calibration: edge search, level windows, delays, retries and every result code on the wire.
#include "instrument/driver.h"
#include "instrument/transport.h"
#include "platform/clock.h"
#include "platform/recording_device.h"

#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;
using SampleAt = std::function<std::uint16_t(int)>;

constexpr std::uint8_t kAck = '.';
constexpr double kSentinel = -12345;
constexpr int kSentinelDelay = 4321;

// Calibration sweep with separately marked regions, so a level window that is one sample off
// shows in the measured means: 100 in the start window [200, e), 3000 in the end window [f, g),
// and below-threshold filler before the edge, other values after it.
SampleAt regions(int edge, int e, int f, int g) {
    return [=](int i) -> std::uint16_t {
        if (i < 200) return 0;
        if (i < e) return 100;
        if (i < edge) return 400;
        if (i < f) return 2000;
        if (i < g) return 3000;
        return 9999;
    };
}

SampleAt step(int edge, std::uint16_t low = 100, std::uint16_t high = 3000) {
    return [=](int i) { return i < edge ? low : high; };
}

class Calibration : public ::testing::Test {
  protected:
    void SetUp() override {
        instrument.isInit.store(0);
        ASSERT_EQ(testing_support::openFakeLink(dev), 1);
        instrument.stimulusPort = 5;
        instrument.samplerPort = 10;
        selectRow(2);

        instrument.stimActive = 2, instrument.samplActive = 4, instrument.samplPos = 4,
        instrument.samplNeg = 5, instrument.polarity = 1;
        instrument.cal.vstart.fill(kSentinel);
        instrument.cal.vend.fill(kSentinel);
        instrument.cal.vampl.fill(kSentinel);
        instrument.cal.calDelay.fill(kSentinelDelay);
        instrument.cal.delayTDR.fill(kSentinelDelay);
        instrument.cal.delayTDT.fill(kSentinelDelay);
    }
    void TearDown() override {
        instrument.isInit.store(0);
        instrument.link.opened.store(0);
        platform::setSerialDevice(nullptr);
    }

    void selectRow(int row) {
        dev.queueRead(kAck);
        ASSERT_EQ(instrument.selectTiming(row), 1);
        dev.clearRecord();
    }
    void queueSweep(const SampleAt& sample) {
        Bytes bytes(2048);
        for (int i = 0; i < 1024; ++i) {
            bytes[2 * i] = static_cast<std::uint8_t>(sample(i) >> 8);
            bytes[2 * i + 1] = static_cast<std::uint8_t>(sample(i) & 0xFF);
        }
        dev.queueRead(kAck);
        dev.queueRead(bytes);
        dev.queueRead(kAck);
    }
    // Port selection, offset sweep, baseline sweep and calibration sweep.
    void queueEdgeMeasurement(const SampleAt& calSweep, std::uint16_t baseline = 0) {
        dev.queueRead(kAck);
        queueSweep([](int) { return 0; });
        queueSweep([baseline](int) { return baseline; });
        queueSweep(calSweep);
    }
    // A sweep that comes back short after its request.
    void queueShortSweep() {
        dev.queueRead(kAck);
        dev.queueRead(Bytes(100, 0));
    }

    int sweepsRead() const {
        int n = 0;
        for (const auto& w : dev.writes()) n += w == Bytes{'r'};
        return n;
    }
    // Port codes of every "p" command, in order.
    std::vector<Bytes> portSelections() const {
        std::vector<Bytes> out;
        const auto w = dev.writes();
        for (std::size_t i = 0; i + 1 < w.size(); ++i)
            if (w[i] == Bytes{'p'}) out.push_back(w[i + 1]);
        return out;
    }
    void expectConstantsUntouched(int sampler, int stimulus) {
        const auto s = static_cast<std::size_t>(sampler);
        const auto t = static_cast<std::size_t>(stimulus);
        EXPECT_EQ(instrument.cal.vstart[s], kSentinel);
        EXPECT_EQ(instrument.cal.vend[s], kSentinel);
        EXPECT_EQ(instrument.cal.vampl[s], kSentinel);
        EXPECT_EQ(instrument.cal.calDelay[t], kSentinelDelay);
        EXPECT_EQ(instrument.cal.delayTDR[t], kSentinelDelay);
        EXPECT_EQ(instrument.cal.delayTDT[t], kSentinelDelay);
    }

    platform::RecordingDevice dev;
};

TEST_F(Calibration, WorkedReflectionExampleOnTheInternalRow) {
    // d = 97: start window 200..289, end window 397..461.
    queueEdgeMeasurement(regions(300, 290, 397, 462));
    const double before = platform::virtualSecondsElapsed();
    EXPECT_EQ(instrument.measureConstants(2, 4, Mode::TDR), 1);
    EXPECT_DOUBLE_EQ(platform::virtualSecondsElapsed() - before, 1.0);
    EXPECT_EQ(instrument.cal.vstart[4], 100.0);
    EXPECT_EQ(instrument.cal.vend[4], 3000.0);
    EXPECT_EQ(instrument.cal.vampl[4], 2900.0);
    EXPECT_EQ(instrument.cal.delayTDR[2], 760);
    EXPECT_EQ(instrument.cal.calDelay[2], 760);
    EXPECT_EQ(instrument.cal.delayTDT[2], kSentinelDelay);
    EXPECT_EQ(portSelections(), (std::vector<Bytes>{{5, 10}}));
    // Offset and baseline at one delay position, then the calibration sweep from delay 0.
    const auto w = dev.writes();
    std::vector<Bytes> windows;
    for (std::size_t i = 0; i + 1 < w.size(); ++i)
        if (w[i] == Bytes{'a'}) windows.push_back(w[i + 1]);
    EXPECT_EQ(windows, (std::vector<Bytes>{{0, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 0x10, 0x00}}));
}

struct WindowCase {
    int row, edge, e, f, g, delay;
};

class CalibrationWindows : public Calibration, public ::testing::WithParamInterface<WindowCase> {};

TEST_P(CalibrationWindows, LevelsComeFromExactlyTheGuardedWindows) {
    const WindowCase& c = GetParam();
    selectRow(c.row);
    queueEdgeMeasurement(regions(c.edge, c.e, c.f, c.g));
    EXPECT_EQ(instrument.measureConstants(2, 4, Mode::TDR), 1);
    EXPECT_EQ(instrument.cal.vstart[4], 100.0);
    EXPECT_EQ(instrument.cal.vend[4], 3000.0);
    EXPECT_EQ(instrument.cal.vampl[4], 2900.0);
    EXPECT_EQ(instrument.cal.calDelay[2], c.delay);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, CalibrationWindows,
    ::testing::Values(WindowCase{2, 300, 290, 397, 462, 760},
                      WindowCase{0, 300, 298, 317, 478, 1935},
                      WindowCase{1, 300, 297, 329, 706, 1935},
                      WindowCase{3, 400, 388, 519, 786, 2145},
                      // One sample left in the start window, then in the end window.
                      WindowCase{2, 211, 201, 308, 373, 48}, WindowCase{2, 212, 202, 309, 374, 56},
                      WindowCase{2, 925, 915, 1022, 1023, 5760}));

struct DriftCase {
    std::uint16_t baseline;
    std::uint16_t beforeStep; // above the threshold taken without the baseline, below the right one
};

class CalibrationDriftedBaseline : public Calibration,
                                   public ::testing::WithParamInterface<DriftCase> {};

// The edge threshold sits halfway up a nominal 1000-count step above the measured baseline, so
// a sample that only a threshold ignoring the baseline would take for the edge is not the edge.
TEST_P(CalibrationDriftedBaseline, EdgeThresholdRidesOnTheBaseline) {
    const DriftCase& c = GetParam();
    queueEdgeMeasurement(
        [c](int i) -> std::uint16_t {
            if (i < 299) return c.baseline;
            if (i == 299) return c.beforeStep;
            return static_cast<std::uint16_t>(c.baseline + 3000);
        },
        c.baseline);
    EXPECT_EQ(instrument.measureConstants(2, 4, Mode::TDR), 1);
    EXPECT_EQ(instrument.cal.calDelay[2], 760) << "edge found at sample 300";
    EXPECT_EQ(instrument.cal.vstart[4], c.baseline);
    EXPECT_EQ(instrument.cal.vampl[4], 3000.0);
}

INSTANTIATE_TEST_SUITE_P(Baselines, CalibrationDriftedBaseline,
                         ::testing::Values(DriftCase{300, 800}, DriftCase{600, 1100},
                                           DriftCase{250, 700}));

struct EarlyEdgeCase {
    int row, edge;
};

class CalibrationEarlyEdge : public Calibration,
                             public ::testing::WithParamInterface<EarlyEdgeCase> {};

TEST_P(CalibrationEarlyEdge, EdgeBeforeTheAcceptedIndexChangesOnlyTheChannelState) {
    selectRow(GetParam().row);
    queueEdgeMeasurement(step(GetParam().edge));
    EXPECT_EQ(instrument.measureConstants(3, 7, Mode::TDR), -2);
    expectConstantsUntouched(7, 3);
    EXPECT_EQ(instrument.stimActive, 3);
    EXPECT_EQ(instrument.samplActive, 7);
    EXPECT_EQ(instrument.polarity, 0);
    EXPECT_EQ(instrument.samplPos, 6);
    EXPECT_EQ(instrument.samplNeg, 7);
    EXPECT_EQ(instrument.stimulusPort, 8);
    EXPECT_EQ(instrument.samplerPort, 17);
}

INSTANTIATE_TEST_SUITE_P(Edges, CalibrationEarlyEdge,
                         ::testing::Values(EarlyEdgeCase{2, 204}, EarlyEdgeCase{2, 0},
                                           EarlyEdgeCase{3, 150}, EarlyEdgeCase{0, 84}));

struct EmptyWindowCase {
    int row;
    SampleAt sweep;
};

class CalibrationEmptyWindow : public Calibration,
                               public ::testing::WithParamInterface<EmptyWindowCase> {};

TEST_P(CalibrationEmptyWindow, AnEmptyLevelWindowStoresNothing) {
    selectRow(GetParam().row);
    queueEdgeMeasurement(GetParam().sweep);
    EXPECT_EQ(instrument.measureConstants(2, 4, Mode::TDR), -1);
    expectConstantsUntouched(4, 2);
}

INSTANTIATE_TEST_SUITE_P(
    Sweeps, CalibrationEmptyWindow,
    ::testing::Values(
        // A silent sampler: the search runs to 1023 and the end window is cut to nothing.
        EmptyWindowCase{2, [](int) { return 0; }}, EmptyWindowCase{3, [](int) { return 20; }},
        // Edges too close to the end: f = g = 1023.
        EmptyWindowCase{2, step(926)}, EmptyWindowCase{3, step(1000)},
        // Edges at or below index 210 (row 2) or 100 (row 0) leave nothing from 200 on.
        EmptyWindowCase{2, step(210)}, EmptyWindowCase{2, step(205)}, EmptyWindowCase{0, step(100)},
        EmptyWindowCase{0, step(85)}));

// An inverted step must not replace good constants: acquisition goes on with the old ones.
TEST_F(Calibration, NegativeAmplitudeIsReportedAndChangesNoConstant) {
    queueEdgeMeasurement([](int i) -> std::uint16_t {
        if (i < 300) return 100;
        return i >= 397 && i < 462 ? 50 : 2000;
    });
    EXPECT_EQ(instrument.measureConstants(2, 4, Mode::TDR), -1);
    expectConstantsUntouched(4, 2);
}

TEST_F(Calibration, ShortSweepDuringTheLevelMeasurementChangesNoConstant) {
    dev.queueRead(kAck);
    queueSweep([](int) { return 0; });
    queueShortSweep();
    instrument.link.samples.fill(3000); // stale counts that would otherwise look like a step
    EXPECT_EQ(instrument.measureConstants(2, 4, Mode::TDR), -2);
    expectConstantsUntouched(4, 2);
}

TEST_F(Calibration, UnknownChannelsAreRefusedWithoutTraffic) {
    EXPECT_EQ(instrument.measureConstants(10, 4, Mode::TDR), -1);
    EXPECT_EQ(instrument.measureConstants(2, 20, Mode::TDT), -1);
    EXPECT_EQ(instrument.measureConstants(-1, 0, Mode::TDR), -1);
    EXPECT_TRUE(dev.calls().empty());
    EXPECT_EQ(instrument.stimActive, 2);
}

struct TransmissionCase {
    int edge2;
    int delay;
};

class CalibrationTransmission : public Calibration,
                                public ::testing::WithParamInterface<TransmissionCase> {};

TEST_P(CalibrationTransmission, LevelsFromThePairsOwnStimulusDelayFromTheRequestedOne) {
    queueEdgeMeasurement(regions(300, 290, 397, 462));
    queueEdgeMeasurement(step(GetParam().edge2));
    const double before = platform::virtualSecondsElapsed();
    EXPECT_EQ(instrument.measureConstants(7, 5, Mode::TDT), 1);
    EXPECT_DOUBLE_EQ(platform::virtualSecondsElapsed() - before, 2.0);
    // Sampler 5 belongs to stimulus 2 (port code 5); the delay is taken with stimulus 7 (0).
    EXPECT_EQ(portSelections(), (std::vector<Bytes>{{5, 11}, {0, 11}}));
    EXPECT_EQ(instrument.cal.vstart[5], 100.0);
    EXPECT_EQ(instrument.cal.vampl[5], 2900.0);
    EXPECT_EQ(instrument.cal.delayTDT[7], GetParam().delay);
    EXPECT_EQ(instrument.cal.calDelay[7], GetParam().delay);
    EXPECT_EQ(instrument.cal.delayTDR[7], kSentinelDelay);
    EXPECT_EQ(instrument.polarity, 0);
    EXPECT_EQ(instrument.samplPos, 4);
    EXPECT_EQ(instrument.stimActive, 7);
    EXPECT_EQ(instrument.stimulusPort, 0);
}

// The transmitted edge is expected 2.5 x edgeIdx samples in; earlier ones give negative delays.
INSTANTIATE_TEST_SUITE_P(Edges, CalibrationTransmission,
                         ::testing::Values(TransmissionCase{600, 700}, TransmissionCase{513, 4},
                                           TransmissionCase{301, -1692},
                                           TransmissionCase{205, -2460}));

TEST_F(Calibration, NegativeTransmissionDelayWrapsIntoTheSweepWords) {
    queueEdgeMeasurement(regions(300, 290, 397, 462));
    queueEdgeMeasurement(step(301));
    ASSERT_EQ(instrument.measureConstants(7, 5, Mode::TDT), 1);
    ASSERT_EQ(instrument.cal.calDelay[7], -1692);
    dev.clearRecord();
    queueSweep([](int) { return 0; });
    queueSweep([](int) { return 3000; });
    ASSERT_EQ(instrument.acquire(1, YUnit::Rho, {XUnit::Metres, 0.0, 3.1, 0.0, 2.25}), 1);
    const auto w = dev.writes();
    ASSERT_GE(w.size(), 6u);
    // Second request: first = (65536 - 1692) / 2 = 31922, last = (-1692 + 12 x 1024) / 2 = 5298.
    EXPECT_EQ(w[3], (Bytes{'a'}));
    EXPECT_EQ(w[4], (Bytes{0x7C, 0xB2, 0x14, 0xB2}));
}

// A transmission calibration whose second edge fails keeps every old constant, levels included.
TEST_F(Calibration, FailedTransmittedEdgeChangesNoConstant) {
    queueEdgeMeasurement(regions(300, 290, 397, 462));
    queueEdgeMeasurement(step(204)); // edge too early
    EXPECT_EQ(instrument.measureConstants(7, 5, Mode::TDT), -3);
    expectConstantsUntouched(5, 7);

    queueEdgeMeasurement(regions(300, 290, 397, 462));
    dev.queueRead(kAck);
    queueShortSweep();
    EXPECT_EQ(instrument.measureConstants(7, 5, Mode::TDT), -3);
    expectConstantsUntouched(5, 7);
}

class CalibrationStartup : public Calibration, public ::testing::WithParamInterface<int> {};

TEST_P(CalibrationStartup, DuringStartUpEachEdgeMeasurementIsThreeSweepsWhateverTheReadings) {
    const int mode = GetParam();
    // Off-baseline readings everywhere: a baseline of 300 and a first sample of 300.
    auto offBaseline = [](int i) -> std::uint16_t { return i == 0 ? 300 : (i < 300 ? 100 : 3000); };
    queueEdgeMeasurement(offBaseline, 300);
    if (mode != 0) queueEdgeMeasurement(offBaseline, 300);
    EXPECT_EQ(instrument.measureConstants(2, 4, modeFromCode(mode)), 1);
    EXPECT_EQ(sweepsRead(), mode == 0 ? 3 : 6);
    EXPECT_EQ(ftrdbyte(), kNoByte); // nothing queued was left unread
}

INSTANTIATE_TEST_SUITE_P(Modes, CalibrationStartup, ::testing::Values(0, 1));

struct RetryCase {
    int badBaselines;
    int badFirstSamples;
    int sweeps;
};

class CalibrationRetry : public Calibration, public ::testing::WithParamInterface<RetryCase> {};

TEST_P(CalibrationRetry, RunningProgramRetriesOffBaselineSweepsUpToTenTimes) {
    instrument.isInit.store(1);
    const int bad = GetParam().badBaselines;
    const int badFirst = GetParam().badFirstSamples;
    dev.queueRead(kAck);
    queueSweep([](int) { return 0; });
    for (int n = 0; n < std::min(bad, 10) + 1; ++n) {
        const std::uint16_t level = n < bad ? 300 : 0;
        queueSweep([level](int) { return level; });
    }
    for (int n = 0; n < std::min(badFirst, 10) + 1; ++n) {
        const std::uint16_t first = n < badFirst ? 300 : 0;
        queueSweep([first](int i) -> std::uint16_t {
            if (i == 0) return first;
            return i < 300 ? 100 : 3000;
        });
    }
    EXPECT_EQ(instrument.measureConstants(2, 4, Mode::TDR), 1);
    EXPECT_EQ(sweepsRead(), GetParam().sweeps);
    EXPECT_EQ(ftrdbyte(), kNoByte);
    EXPECT_EQ(instrument.cal.calDelay[2], 760);
}

// When the retries run out the last sweep is used; that is no failure.
INSTANTIATE_TEST_SUITE_P(Readings, CalibrationRetry,
                         ::testing::Values(RetryCase{0, 0, 3}, RetryCase{2, 0, 5},
                                           RetryCase{0, 3, 6}, RetryCase{12, 0, 13},
                                           RetryCase{0, 12, 13}, RetryCase{12, 12, 23},
                                           RetryCase{10, 1, 14}));

TEST_F(Calibration, NegativeBaselineIsAlsoRetried) {
    instrument.isInit.store(1);
    dev.queueRead(kAck);
    queueSweep([](int) { return 500; }); // offset 500
    queueSweep([](int) { return 300; }); // baseline -200
    queueSweep([](int) { return 500; }); // baseline 0
    queueSweep([](int i) -> std::uint16_t { return i < 300 ? 600 : 3500; });
    EXPECT_EQ(instrument.measureConstants(2, 4, Mode::TDR), 1);
    EXPECT_EQ(sweepsRead(), 4);
    EXPECT_EQ(instrument.cal.vstart[4], 100.0);
    EXPECT_EQ(instrument.cal.vampl[4], 2900.0);
}

} // namespace

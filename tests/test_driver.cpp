// Driver: port selection, window arithmetic, sweep traffic, unit conversion and zero search.
#include "instrument/driver.h"
#include "instrument/transport.h"
#include "platform/clock.h"
#include "platform/recording_device.h"

#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;
using SampleAt = std::function<std::uint16_t(int)>;

constexpr std::uint8_t kAck = '.';
constexpr YUnit kMv = YUnit::Millivolts, kNorm = YUnit::Normalized, kOhm = YUnit::Ohms,
                kRho = YUnit::Rho, kRaw = YUnit::Raw;
const double kNaN = std::nan("");

struct Request {
    int first, last;
    bool operator==(const Request&) const = default;
};

void PrintTo(const Request& r, std::ostream* os) {
    *os << "{" << r.first << ", " << r.last << "}";
}

class Driver : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(testing_support::openFakeLink(dev), 1);
        instrument.stimulusPort = 5;
        instrument.samplerPort = 10;
        dev.queueRead(kAck);
        ASSERT_EQ(instrument.selectTiming(2), 1);
        dev.clearRecord();

        instrument.stimActive = 2, instrument.samplActive = 4, instrument.samplPos = 4,
        instrument.samplNeg = 5, instrument.polarity = 1;
        instrument.cal.calDelay.fill(0);
        instrument.cal.vstart.fill(1000); // vstart 1000 and vampl 2000 counts on every sampler
        instrument.cal.vampl.fill(2000);
    }
    void TearDown() override {
        instrument.link.opened.store(0);
        platform::setSerialDevice(nullptr);
    }
    int sweep(int count) { return instrument.acquire(count, unit, window); }
    int findZero(double x, int mode) { return instrument.findZero(x, mode, window, zero); }
    SweepWindow window{XUnit::Metres, 0.0, 3.0, 0.0, 2.25};
    YUnit unit = kRho;
    double zero = -1.0;

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
    void queueFlat(std::uint16_t value) {
        queueSweep([value](int) { return value; });
    }
    // Offset sweep, then per pass the settle sweep (when the window needs it) and the window.
    void queueAcquisition(int passes, bool settleFirst, std::uint16_t offset,
                          const SampleAt& window) {
        queueFlat(offset);
        for (int p = 0; p < passes; ++p) {
            if (settleFirst || p > 0) queueFlat(offset);
            queueSweep(window);
        }
    }

    std::vector<Request> sweepRequests() const {
        std::vector<Request> out;
        const auto w = dev.writes();
        for (std::size_t i = 0; i + 1 < w.size(); ++i)
            if (w[i] == Bytes{'a'} && w[i + 1].size() == 4)
                out.push_back({w[i + 1][0] * 256 + w[i + 1][1], w[i + 1][2] * 256 + w[i + 1][3]});
        return out;
    }
    int sweepsRead() const {
        int n = 0;
        for (const auto& w : dev.writes()) n += w == Bytes{'r'};
        return n;
    }
    // Everything queued was asked for, and nothing more.
    bool drained() { return ftrdbyte() == kNoByte; }

    platform::RecordingDevice dev;
};

struct WindowCase {
    int units;
    double start, end, k, zero;
    int delay;
    int increment;
    Request request;
    double x0, x1023;
};

class DriverWindow : public Driver, public ::testing::WithParamInterface<WindowCase> {};

TEST_P(DriverWindow, WindowBecomesSweepWordsAndXValues) {
    const WindowCase& c = GetParam();
    window = {xUnitFromCode(c.units), c.start, c.end, c.zero, c.k};
    instrument.cal.calDelay[2] = c.delay;
    queueAcquisition(1, c.start > 0, 0, [](int) { return 3000; });
    ASSERT_EQ(sweep(1), 1);
    EXPECT_EQ(instrument.increment.load(), c.increment);
    const auto req = sweepRequests();
    ASSERT_EQ(req.size(), c.start > 0 ? 3u : 2u);
    EXPECT_EQ(req.front(), (Request{0, 0}));
    EXPECT_EQ(req.back(), c.request);
    if (c.start > 0) {
        EXPECT_EQ(req[1], (Request{c.request.first, c.request.first}));
    }
    EXPECT_NEAR(instrument.recordX[0], c.x0, 1e-9);
    EXPECT_NEAR(instrument.recordX[1023], c.x1023, 1e-9);
    // Even spacing: the last point is one step short of the swept end.
    EXPECT_NEAR(instrument.recordX[512] - instrument.recordX[0], (c.x1023 - c.x0) * 512 / 1023,
                1e-9);
}

INSTANTIATE_TEST_SUITE_P(
    Windows, DriverWindow,
    ::testing::Values(
        // 12.4 increments truncate to 12: the end is rounded down to 3 m.
        WindowCase{0, 0, 3.1, 2.25, 0, 0, 12, {0, 6144}, 0, 3.0 * 1023 / 1024},
        // The quotient for exactly 3 m is 11.999999999999998.
        WindowCase{0, 0, 3.0, 2.25, 0, 0, 11, {0, 5632}, 0, 2.75 * 1023 / 1024},
        WindowCase{0, 0, 0.2, 2.25, 0, 0, 1, {0, 512}, 0, 0.25 * 1023 / 1024},
        WindowCase{0, 0, 15, 2.25, 0, 0, 59, {0, 30208}, 0, 14.75 * 1023 / 1024},
        // A reversed window sweeps one increment from its start; 3 m comes to 12287.99... counts.
        WindowCase{0, 3, 1, 2.25, 0, 0, 1, {6143, 6655}, 3, 3 + 0.25 * 1023 / 1024},
        WindowCase{2, 0, 10, 2.25, 0, 0, 8, {0, 4096}, 0, 10.0 * 1023 / 1024},
        WindowCase{1, 0, 10, 2.25, 0, 0, 12, {0, 6144}, 0, 3.0 / 0.3048 * 1023 / 1024},
        WindowCase{0, 0.5, 3, 2.25, 0, 0, 10, {1024, 6144}, 0.5, 0.5 + 2.5 * 1023 / 1024},
        WindowCase{0, 0, 3.1, 2.25, 1.0, 0, 12, {0, 6144}, -1.0, 3.0 * 1023 / 1024 - 1},
        // A negative calibration delay wraps into the words modulo 65536.
        WindowCase{0, 0, 3.1, 2.25, 0, -500, 12, {32518, 5894}, 0, 3.0 * 1023 / 1024}));

struct SweepCountCase {
    double start;
    int count;
    int sweeps;
};

class DriverSweepCount : public Driver, public ::testing::WithParamInterface<SweepCountCase> {};

TEST_P(DriverSweepCount, OneOffsetSweepThenSettleAndWindowSweepsPerPass) {
    window.start = GetParam().start;
    const int passes = std::max(GetParam().count, 1);
    queueAcquisition(passes, GetParam().start > 0, 0, [](int) { return 3000; });
    ASSERT_EQ(sweep(GetParam().count), 1);
    EXPECT_EQ(sweepsRead(), GetParam().sweeps);
    EXPECT_TRUE(drained());
}

INSTANTIATE_TEST_SUITE_P(Passes, DriverSweepCount,
                         ::testing::Values(SweepCountCase{0, 1, 2}, SweepCountCase{0.5, 1, 3},
                                           SweepCountCase{0, 3, 6}, SweepCountCase{0.5, 3, 7},
                                           SweepCountCase{0, 0, 2}, SweepCountCase{0, -4, 2}));

struct ConversionCase {
    int sampler;
    YUnit unit;
    std::uint16_t offset;
    std::uint16_t sample;
    double expected;
};

class DriverConversion : public Driver, public ::testing::WithParamInterface<ConversionCase> {};

TEST_P(DriverConversion, CountsBecomeTheVerticalUnit) {
    const ConversionCase& c = GetParam();
    instrument.samplerPort = samplerPortCode[static_cast<std::size_t>(c.sampler)];
    instrument.samplActive = c.sampler;
    unit = c.unit;
    const std::uint16_t sample = c.sample;
    queueAcquisition(1, false, c.offset, [sample](int) { return sample; });
    ASSERT_EQ(sweep(1), 1);
    EXPECT_EQ(instrument.polarity, c.sampler % 2 == 0 ? 1 : 0);
    EXPECT_NEAR(instrument.recordAvg[0], c.expected, 1e-9);
    EXPECT_NEAR(instrument.record[1023], c.expected, 1e-9);
}

const double kOhmFloor = 50 * 0.001 / 1.999;

// vstart 1000 and vampl 2000 counts on samplers 4 (positive line) and 5 (negative line).
INSTANTIATE_TEST_SUITE_P(
    Units, DriverConversion,
    ::testing::Values(
        ConversionCase{4, kRho, 0, 1000, -1}, ConversionCase{4, kRho, 0, 3000, 0},
        ConversionCase{4, kRho, 0, 5000, 1},
        // Every unit but mV and raw works on absolute offset-corrected counts.
        ConversionCase{4, kRho, 5000, 2000, 0}, ConversionCase{4, kMv, 0, 1000, 0},
        ConversionCase{4, kMv, 0, 3000, 250}, ConversionCase{4, kMv, 500, 3500, 250},
        ConversionCase{4, kMv, 5000, 2000, -500}, ConversionCase{4, kNorm, 0, 3000, 1},
        ConversionCase{4, kNorm, 0, 1000, 0}, ConversionCase{4, kOhm, 0, 3000, 50},
        ConversionCase{4, kOhm, 0, 4000, 150}, ConversionCase{4, kOhm, 0, 4998, 500},
        ConversionCase{4, kOhm, 0, 5000, 500}, ConversionCase{4, kOhm, 0, 9000, 500},
        ConversionCase{4, kOhm, 0, 1000, kOhmFloor}, ConversionCase{4, kOhm, 0, 0, kOhmFloor},
        ConversionCase{4, kRaw, 34, 1234, 1200}, ConversionCase{4, kRaw, 3000, 1000, -2000},
        // Negative line in mV keeps the sign: -vstart reads 0, -(vstart+vampl)
        // reads -250.
        ConversionCase{5, kMv, 5000, 4000, 0}, ConversionCase{5, kMv, 5000, 2000, -250},
        ConversionCase{5, kRho, 5000, 2000, 0}, ConversionCase{5, kRho, 0, 3000, 0},
        ConversionCase{5, kOhm, 5000, 2000, 50}, ConversionCase{5, kNorm, 5000, 1000, 1.5}));

TEST_F(Driver, PassesAreAveragedAndTheLastSweepIsKept) {
    unit = kRaw;
    instrument.recordAvg.fill(kNaN);
    instrument.runningMean.fill(kNaN);
    queueFlat(0);
    const std::uint16_t values[3] = {1000, 2000, 6000};
    for (int p = 0; p < 3; ++p) {
        if (p > 0) queueFlat(0);
        queueFlat(values[p]);
    }
    ASSERT_EQ(sweep(3), 1);
    for (std::size_t i = 0; i < 1024; ++i) {
        ASSERT_DOUBLE_EQ(instrument.recordAvg[i], 3000.0);
        ASSERT_DOUBLE_EQ(instrument.record[i], 6000.0);
    }
}

TEST_F(Driver, WithoutACalibratedAmplitudeOnlyRawCountsHaveAValue) {
    instrument.cal.vampl[4] = 0;
    queueAcquisition(1, false, 0, [](int) { return 3000; });
    ASSERT_EQ(sweep(1), 1);
    EXPECT_TRUE(std::isnan(instrument.recordAvg[0]));
    unit = kRaw;
    queueAcquisition(1, false, 0, [](int) { return 3000; });
    ASSERT_EQ(sweep(1), 1);
    EXPECT_EQ(instrument.recordAvg[0], 3000.0);
}

class DriverShortSweep : public Driver, public ::testing::WithParamInterface<int> {};

TEST_P(DriverShortSweep, AFailedAcquisitionChangesNoBufferAndStopsTheTraffic) {
    // Sweeps of a two-pass acquisition from 0: offset, window, settle, window.
    const int failing = GetParam();
    window.end = 3.1;
    instrument.increment = 33;
    instrument.recordX.fill(-7);
    instrument.record.fill(-8);
    instrument.recordAvg.fill(-9);
    for (int s = 0; s < failing; ++s) queueFlat(3000);
    dev.queueRead(kAck);
    dev.queueRead(Bytes(2047, 0));
    EXPECT_EQ(sweep(2), -2);
    EXPECT_EQ(sweepsRead(), failing + 1);
    EXPECT_EQ(instrument.increment.load(), 33);
    EXPECT_EQ(instrument.recordX[5], -7);
    EXPECT_EQ(instrument.record[5], -8);
    EXPECT_EQ(instrument.recordAvg[5], -9);
}

// The offset sweep fails (0), the first window sweep (1), the second window sweep (3).
INSTANTIATE_TEST_SUITE_P(Sweeps, DriverShortSweep, ::testing::Values(0, 1, 3));

TEST_F(Driver, ClosedLinkFailsTheAcquisitionWithoutTraffic) {
    instrument.link.opened.store(0);
    EXPECT_EQ(sweep(1), -1);
    EXPECT_TRUE(dev.calls().empty());
}

class DriverBadWindow : public Driver,
                        public ::testing::WithParamInterface<std::pair<double, double>> {};

TEST_P(DriverBadWindow, AnUnsweepableWindowIsRefusedWithoutTraffic) {
    window.end = GetParam().first;
    window.dielectric = GetParam().second;
    instrument.recordAvg.fill(-9);
    EXPECT_EQ(sweep(1), -3);
    EXPECT_TRUE(dev.calls().empty());
    EXPECT_EQ(instrument.recordAvg[0], -9);
}

INSTANTIATE_TEST_SUITE_P(Windows, DriverBadWindow,
                         ::testing::Values(std::pair{3.0, 0.0}, std::pair{3.0, -2.0},
                                           std::pair{kNaN, 2.25}, std::pair{3.0, kNaN},
                                           std::pair{HUGE_VAL, 2.25}));

struct OffsetCase {
    std::function<std::uint16_t(int)> sample;
    double offset;
};

class DriverOffset : public Driver, public ::testing::WithParamInterface<OffsetCase> {};

TEST_P(DriverOffset, OffsetIsTheMeanOfAZeroIncrementSweep) {
    queueSweep(GetParam().sample);
    double offset = -1;
    EXPECT_EQ(instrument.readOffset(offset), 1);
    EXPECT_EQ(offset, GetParam().offset);
    EXPECT_EQ(sweepRequests(), (std::vector<Request>{{0, 0}}));
}

INSTANTIATE_TEST_SUITE_P(Sweeps, DriverOffset,
                         ::testing::Values(OffsetCase{[](int i) { return i % 2; }, 0.5},
                                           OffsetCase{[](int i) { return i; }, 511.5},
                                           OffsetCase{[](int) { return 65535; }, 65535},
                                           OffsetCase{[](int i) { return i < 1023 ? 2 : 1; },
                                                      2047 / 1024.0}));

struct MeanCase {
    double low, high; // first and second half of the sweep
    double mean;
};

class DriverMean : public Driver, public ::testing::WithParamInterface<MeanCase> {};

TEST_P(DriverMean, MeanTruncatesEachSampleButNotTheResult) {
    for (std::size_t i = 0; i < 1024; ++i)
        instrument.link.samples[i] = i < 512 ? GetParam().low : GetParam().high;
    EXPECT_DOUBLE_EQ(instrument.meanArray(), GetParam().mean);
}

INSTANTIATE_TEST_SUITE_P(Samples, DriverMean,
                         ::testing::Values(MeanCase{3, 4, 3.5}, MeanCase{1.9, 1.9, 1.0},
                                           MeanCase{-1.9, -1.9, -1.0}, MeanCase{-3, 4, 0.5},
                                           MeanCase{65535, 65535, 65535}));

TEST_F(Driver, GivenZeroIsTakenWithoutTraffic) {
    EXPECT_EQ(findZero(2.5, 0), 2);
    EXPECT_EQ(zero, 2.5);
    EXPECT_EQ(findZero(0.0, 1), 2);
    EXPECT_EQ(zero, 0.0);
    EXPECT_EQ(findZero(kNaN, 0), -1);
    EXPECT_EQ(zero, 0.0);
    EXPECT_TRUE(dev.calls().empty());
}

struct ZeroCase {
    int mode;
    int crossing; // first index of the open's level
    int result;
};

class DriverZeroSearch : public Driver, public ::testing::WithParamInterface<ZeroCase> {};

TEST_P(DriverZeroSearch, OpenIsFoundInRhoFromAbsolutePositions) {
    window.zero = 1.0;
    const int crossing = GetParam().crossing;
    // rho 0 before the crossing, 0.4 after: above the single-ended threshold only.
    queueAcquisition(1, false, 0, [crossing](int i) { return i < crossing ? 3000 : 3800; });
    EXPECT_EQ(findZero(-1, GetParam().mode), GetParam().result);
    EXPECT_NEAR(zero, GetParam().result == 1 ? 2.75 * crossing / 1024 : 0.0, 1e-12);
}

INSTANTIATE_TEST_SUITE_P(Traces, DriverZeroSearch,
                         ::testing::Values(ZeroCase{0, 600, 1}, ZeroCase{0, 0, 1},
                                           ZeroCase{1, 600, -1}, ZeroCase{0, 1022, 1},
                                           // Index 1023 is never examined.
                                           ZeroCase{0, 1023, -1}));

TEST_F(Driver, ZeroSearchOnAFailedAcquisitionFindsNothing) {
    window.zero = 1.0;
    instrument.recordAvg.fill(1.0); // a stale open must not be found again
    dev.queueRead(kAck);
    EXPECT_EQ(findZero(-1, 0), -1);
    EXPECT_EQ(zero, 0.0);
}

struct ChannelCase {
    int stim, samp;
    double wait;
};

class DriverSetChan : public Driver, public ::testing::WithParamInterface<ChannelCase> {};

TEST_P(DriverSetChan, OnlyAStimulusChangeWaitsForTheSource) {
    const ChannelCase& c = GetParam();
    dev.queueRead(kAck);
    const double before = platform::virtualSecondsElapsed();
    EXPECT_EQ(instrument.selectChannels(c.stim, c.samp), 1);
    EXPECT_DOUBLE_EQ(platform::virtualSecondsElapsed() - before, c.wait);
    EXPECT_EQ(dev.written(), (Bytes{'p', stimulusPortCode[static_cast<std::size_t>(c.stim)],
                                    samplerPortCode[static_cast<std::size_t>(c.samp)]}));
    EXPECT_EQ(instrument.samplActive, c.samp);
    EXPECT_EQ(instrument.stimActive, 2);
}

INSTANTIATE_TEST_SUITE_P(Channels, DriverSetChan,
                         ::testing::Values(ChannelCase{2, 5, 0.0}, ChannelCase{2, 4, 0.0},
                                           ChannelCase{3, 6, 0.5}, ChannelCase{7, 14, 0.5},
                                           ChannelCase{9, 19, 0.5}));

TEST_F(Driver, UnknownChannelsAndRowsAreRefusedWithoutTraffic) {
    EXPECT_EQ(instrument.selectTiming(4), -1);
    EXPECT_EQ(instrument.timing.calIncrement, 8);
    EXPECT_EQ(instrument.selectChannels(10, 0), -1);
    EXPECT_EQ(instrument.selectChannels(0, 20), -1);
    EXPECT_EQ(instrument.selectChannels(-1, 4), -1);
    EXPECT_TRUE(dev.calls().empty());
    EXPECT_EQ(instrument.stimulusPort, 5);
    EXPECT_EQ(instrument.samplActive, 4);
}

struct RowCase {
    int row;
    double calIncrement;
    int edgeIdx;
};

class DriverParams : public Driver, public ::testing::WithParamInterface<RowCase> {};

TEST_P(DriverParams, RowLoadsTimingAndResendsThePorts) {
    dev.queueRead(kAck);
    EXPECT_EQ(instrument.selectTiming(GetParam().row), 1);
    EXPECT_EQ(instrument.timing.calIncrement, GetParam().calIncrement);
    EXPECT_EQ(instrument.timing.edgeIdx, GetParam().edgeIdx);
    EXPECT_EQ(instrument.timing.timebase, 7.5e-8);
    EXPECT_EQ(dev.written(), (Bytes{'p', 5, 10}));
}

// Row 3's quotient is 11.999999999999998 and truncates to 11.
INSTANTIATE_TEST_SUITE_P(Rows, DriverParams,
                         ::testing::Values(RowCase{0, 9, 85}, RowCase{1, 9, 85}, RowCase{2, 8, 205},
                                           RowCase{3, 11, 205}));

TEST_F(Driver, InitOpensTheLinkAndSelectsTheInternalRow) {
    instrument.link.opened.store(0);
    instrument.timing.calIncrement = 0;
    dev.queueRead(Bytes(16, 0x55));
    dev.queueRead(kAck);
    dev.queueRead(kAck);
    EXPECT_EQ(instrument.open(), 1);
    EXPECT_EQ(dev.written(), (Bytes{'i', 'i', 'p', 5, 10}));
    EXPECT_EQ(instrument.timing.calIncrement, 8);
}

// Any failing step of the open is a failed start: a bridge that opens but does not take its
// settings, or an instrument that does not answer, is no instrument. The link is closed again.
class DriverInitFailure : public Driver, public ::testing::WithParamInterface<int> {};

TEST_P(DriverInitFailure, EveryFailingOpenStepFailsTheStartAndClosesTheLink) {
    instrument.link.opened.store(0);
    switch (GetParam()) {
    case 1:
        dev.openStatus = 1;
        break;
    case 2:
        dev.baudStatus = 1;
        break;
    case 3:
        dev.dataStatus = 1;
        break;
    case 4:
        dev.flowStatus = 1;
        break;
    case 5:
        dev.timeoutStatus = 1;
        break;
    default:
        break; // 6: the instrument answers the handshake with something else
    }
    dev.queueRead(Bytes(16, 0x55));
    dev.queueRead('?');
    EXPECT_EQ(instrument.open(), -1);
    EXPECT_EQ(instrument.link.opened.load(), 0);
    EXPECT_EQ(dev.written().size(), GetParam() == 6 ? 2u : 0u); // no setup after a failure
}

INSTANTIATE_TEST_SUITE_P(Steps, DriverInitFailure, ::testing::Range(1, 7));

} // namespace

// Transport: link settings, handshake, sweep framing and sample decoding on the wire.
#include "instrument/driver.h"
#include "instrument/transport.h"
#include "platform/clock.h"
#include "platform/recording_device.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t kAck = '.';

class Transport : public ::testing::Test {
  protected:
    void SetUp() override {
        platform::setVirtualTime(true);
        instrument.link.opened.store(0);
        platform::setSerialDevice(&dev);
    }
    void TearDown() override {
        instrument.link.opened.store(0);
        platform::setSerialDevice(nullptr);
    }

    // The instrument's answer to the first "i" is drained, the second must be ".".
    void queueHandshake(std::uint8_t reply = kAck) {
        dev.queueRead(Bytes(16, 0x55));
        dev.queueRead(reply);
    }
    void openLink() {
        queueHandshake();
        ASSERT_EQ(usbftdi_open(), 1);
        dev.clearRecord();
    }
    void queueSweep(const Bytes& samples) {
        dev.queueRead(kAck);
        dev.queueRead(samples);
        dev.queueRead(kAck);
    }

    platform::RecordingDevice dev;
};

TEST_F(Transport, OpenAppliesTheLinkSettingsInOrderAndHandshakes) {
    queueHandshake();
    EXPECT_EQ(usbftdi_open(), 1);
    EXPECT_EQ(instrument.link.opened.load(), 1);
    const std::vector<std::string> expected = {"open 0",
                                               "setBaudRate 435000",
                                               "setDataCharacteristics 8 0 0",
                                               "setFlowControl 0 111 112",
                                               "setTimeouts 200 200",
                                               "write 1",
                                               "read 16",
                                               "write 1",
                                               "read 1"};
    EXPECT_EQ(dev.calls(), expected);
    EXPECT_EQ(dev.written(), (Bytes{'i', 'i'}));
}

struct FailingStep {
    int platform::RecordingDevice::*status;
    int code;
    std::size_t callsMade; // the failing call is the last one made
};

class TransportOpenStep : public Transport, public ::testing::WithParamInterface<FailingStep> {};

TEST_P(TransportOpenStep, FirstFailingSettingEndsTheOpenWithItsCodeAndLeavesTheLinkOpen) {
    dev.*(GetParam().status) = 1;
    queueHandshake();
    EXPECT_EQ(usbftdi_open(), GetParam().code);
    EXPECT_EQ(instrument.link.opened.load(), 1);
    EXPECT_EQ(dev.calls().size(), GetParam().callsMade);
    EXPECT_TRUE(dev.written().empty());
}

INSTANTIATE_TEST_SUITE_P(
    EachSetting, TransportOpenStep,
    ::testing::Values(FailingStep{&platform::RecordingDevice::baudStatus, -2, 2},
                      FailingStep{&platform::RecordingDevice::dataStatus, -3, 3},
                      FailingStep{&platform::RecordingDevice::flowStatus, -4, 4},
                      FailingStep{&platform::RecordingDevice::timeoutStatus, -5, 5}));

TEST_F(Transport, FailedOpenLeavesTheLinkClosedAndSweepsSendNothing) {
    dev.openStatus = 3;
    EXPECT_EQ(usbftdi_open(), -1);
    EXPECT_EQ(instrument.link.opened.load(), 0);
    dev.clearRecord();
    instrument.link.samples.fill(7.0);
    EXPECT_EQ(readRaw(1024, 0, 0), -1);
    EXPECT_EQ(ftwrbyte('p'), -1);
    EXPECT_EQ(ftrdbyte(), kNoByte);
    EXPECT_TRUE(dev.calls().empty());
    EXPECT_EQ(instrument.link.samples[0], 7.0);
}

TEST_F(Transport, NoDeviceAtAllFailsTheOpen) {
    platform::setSerialDevice(nullptr);
    EXPECT_EQ(usbftdi_open(), -1);
    EXPECT_EQ(instrument.link.opened.load(), 0);
}

class TransportHandshake : public Transport, public ::testing::WithParamInterface<Bytes> {};

TEST_P(TransportHandshake, AnythingButAFullStopIsRefusedWithTheLinkStillOpen) {
    dev.queueRead(Bytes(16, 0x55));
    dev.queueRead(GetParam()); // empty: the instrument stays silent
    EXPECT_EQ(usbftdi_open(), -6);
    EXPECT_EQ(instrument.link.opened.load(), 1);
}

// 0xAE is "." with the top bit set: it must not pass for "." after sign extension.
INSTANTIATE_TEST_SUITE_P(Replies, TransportHandshake,
                         ::testing::Values(Bytes{'x'}, Bytes{','}, Bytes{0xAE}, Bytes{0x00},
                                           Bytes{}));

struct ByteCase {
    std::uint8_t byte;
    int value;
};

class TransportReadByte : public Transport, public ::testing::WithParamInterface<ByteCase> {};

TEST_P(TransportReadByte, BytesComeBackSignExtendedAndSilenceIsNoByte) {
    openLink();
    dev.queueRead(GetParam().byte);
    EXPECT_EQ(ftrdbyte(), GetParam().value);
    EXPECT_EQ(ftrdbyte(), kNoByte);
}

INSTANTIATE_TEST_SUITE_P(Bytes, TransportReadByte,
                         ::testing::Values(ByteCase{0x2E, 46}, ByteCase{0x7F, 127},
                                           ByteCase{0x80, -128}, ByteCase{0xFF, -1},
                                           ByteCase{0x00, 0}));

struct WindowCase {
    int increment;
    int start;
    std::uint16_t first;
    std::uint16_t last;
};

class TransportWindow : public Transport, public ::testing::WithParamInterface<WindowCase> {};

TEST_P(TransportWindow, SweepRequestCarriesBothWordsBigEndianAfterTheCommand) {
    openLink();
    queueSweep(Bytes(2048, 0));
    ASSERT_EQ(readRaw(1024, GetParam().increment, GetParam().start), 1);
    const auto w = dev.writes();
    ASSERT_EQ(w.size(), 3u);
    EXPECT_EQ(w[0], Bytes{'a'});
    const Bytes words = {static_cast<std::uint8_t>(GetParam().first >> 8),
                         static_cast<std::uint8_t>(GetParam().first & 0xFF),
                         static_cast<std::uint8_t>(GetParam().last >> 8),
                         static_cast<std::uint8_t>(GetParam().last & 0xFF)};
    EXPECT_EQ(w[1], words);
    EXPECT_EQ(w[2], Bytes{'r'});
    const std::vector<std::string> order = {"write 1", "write 4",   "read 1",
                                            "write 1", "read 2048", "read 1"};
    EXPECT_EQ(dev.calls(), order);
}

// The mask comes before the halving, and negative starts wrap modulo 65536.
INSTANTIATE_TEST_SUITE_P(Words, TransportWindow,
                         ::testing::Values(WindowCase{0, 0, 0, 0}, WindowCase{0, 70000, 2232, 2232},
                                           WindowCase{0, -100, 32718, 32718},
                                           WindowCase{12, 0, 0, 6144},
                                           WindowCase{8, 1001, 500, 4596},
                                           WindowCase{59, 60000, 30000, 27440},
                                           WindowCase{1, -1024, 32256, 0}));

struct SampleCase {
    std::uint8_t high;
    std::uint8_t low;
    double value;
};

class TransportSample : public Transport, public ::testing::WithParamInterface<SampleCase> {};

TEST_P(TransportSample, SamplesAreUnsignedBigEndianAtEitherEndOfTheSweep) {
    openLink();
    Bytes samples(2048, 0);
    samples[0] = GetParam().high;
    samples[1] = GetParam().low;
    samples[2046] = GetParam().high;
    samples[2047] = GetParam().low;
    samples[2] = 0x01; // sample 1 = 256 tells high from low
    queueSweep(samples);
    ASSERT_EQ(readRaw(1024, 0, 0), 1);
    EXPECT_EQ(instrument.link.samples[0], GetParam().value);
    EXPECT_EQ(instrument.link.samples[1023], GetParam().value);
    EXPECT_EQ(instrument.link.samples[1], 256.0);
    EXPECT_EQ(instrument.link.samples[2], 0.0);
}

INSTANTIATE_TEST_SUITE_P(Samples, TransportSample,
                         ::testing::Values(SampleCase{0x12, 0x34, 4660.0},
                                           SampleCase{0xFF, 0xFF, 65535.0},
                                           SampleCase{0x80, 0x00, 32768.0},
                                           SampleCase{0x00, 0x01, 1.0}));

class TransportShortSweep : public Transport, public ::testing::WithParamInterface<std::size_t> {};

TEST_P(TransportShortSweep, ShortSweepFailsAndKeepsThePreviousSamples) {
    openLink();
    instrument.link.samples.fill(1234.0);
    dev.queueRead(kAck);
    dev.queueRead(Bytes(GetParam(), 0x11));
    EXPECT_EQ(readRaw(1024, 0, 0), -2);
    for (double sample : instrument.link.samples) ASSERT_EQ(sample, 1234.0);
}

INSTANTIATE_TEST_SUITE_P(Lengths, TransportShortSweep, ::testing::Values(0u, 1u, 2046u, 2047u));

TEST_F(Transport, CloseEndsTheLinkOnlyWhenTheDeviceClosed) {
    openLink();
    dev.closeStatus = 1;
    EXPECT_EQ(usbftdi_close(), -1);
    EXPECT_EQ(instrument.link.opened.load(), 1);
    dev.closeStatus = 0;
    EXPECT_EQ(usbftdi_close(), 1);
    EXPECT_EQ(instrument.link.opened.load(), 0);
    dev.clearRecord();
    EXPECT_EQ(usbftdi_close(), -1);
    EXPECT_TRUE(dev.calls().empty());
}

} // namespace

// USB serial transport: opens the bridge with its handshake and moves command bytes and sweeps.
#include "instrument/transport.h"

#include "instrument/driver.h"

#include "platform/serial_device.h"

#include <cstddef>

namespace {

constexpr int kWordLength8 = 8;
constexpr int kStopBits1 = 0;
constexpr int kParityNone = 0;
constexpr int kFlowNone = 0;
constexpr std::uint8_t kXon = 0x6F;
constexpr std::uint8_t kXoff = 0x70;
constexpr int kTimeoutMs = 200;
constexpr std::size_t kHandshakeDrain = 16;

// The bridge is only spoken to while the link is open; before that nothing may go on the wire.
platform::SerialDevice* openDevice() {
    if (instrument.link.opened.load() == 0) return nullptr;
    return platform::serialDevice();
}

} // namespace

int usbftdi_open() {
    platform::SerialDevice* dev = platform::serialDevice();
    if (dev == nullptr || dev->open(0) != 0) {
        instrument.link.opened.store(0);
        return -1;
    }
    instrument.link.opened.store(1);
    if (dev->setBaudRate(kBaudRate) != 0) return -2;
    if (dev->setDataCharacteristics(kWordLength8, kStopBits1, kParityNone) != 0) return -3;
    if (dev->setFlowControl(kFlowNone, kXon, kXoff) != 0) return -4;
    if (dev->setTimeouts(kTimeoutMs, kTimeoutMs) != 0) return -5;

    // The first "i" only flushes whatever the instrument had queued; the second must be
    // acknowledged.
    ftwrbyte('i');
    std::array<std::uint8_t, kHandshakeDrain> drain{};
    std::size_t drained = 0;
    dev->read(drain.data(), drain.size(), &drained);
    ftwrbyte('i');
    return ftrdbyte() == '.' ? 1 : -6;
}

const char* openFailureText(int status) {
    switch (status) {
    case -1:
        return "could not be opened (no device, no permission, or in use)";
    case -2:
        return "refused the baud rate";
    case -3:
        return "refused the data format";
    case -4:
        return "refused the flow control";
    case -5:
        return "refused the time-outs";
    case -6:
        return "opened, but the instrument did not answer the handshake";
    default:
        return "failed to open";
    }
}

int usbftdi_handshake() {
    if (instrument.link.opened.load() != 1 || instrument.link.lost.load()) return -1;
    ftwrbyte('i');
    return ftrdbyte() == '.' ? 1 : -1;
}

int usbftdi_close() {
    platform::SerialDevice* dev = openDevice();
    if (dev == nullptr || dev->close() != 0) return -1;
    instrument.link.opened.store(0);
    return 1;
}

int ftwrbytes(const std::uint8_t* data, std::size_t count) {
    platform::SerialDevice* dev = openDevice();
    if (dev == nullptr) return -1;
    std::size_t written = 0;
    int status = dev->write(data, count, &written);
    if (status == 0 && written != count) status = -1;
    return status;
}

int ftwrbyte(std::uint8_t c) {
    return ftwrbytes(&c, 1);
}

int ftrdbyte() {
    platform::SerialDevice* dev = openDevice();
    if (dev == nullptr) return kNoByte;
    std::uint8_t byte = 0;
    std::size_t received = 0;
    if (dev->read(&byte, 1, &received) != 0 || received != 1) return kNoByte;
    return static_cast<signed char>(byte);
}

// The two window words of a sweep request: delay positions in units of two fine steps, taken
// modulo 65536 before halving.
struct SweepWords {
    std::uint16_t first;
    std::uint16_t last;
};
static SweepWords sweepWords(int increment, int start) {
    // Unsigned arithmetic wraps exactly like the 16-bit words, so a negative start cannot
    // overflow.
    const auto first = static_cast<std::uint32_t>(start);
    const auto last = first + static_cast<std::uint32_t>(increment) * 1024u;
    return {static_cast<std::uint16_t>((first & 0xFFFFu) >> 1),
            static_cast<std::uint16_t>((last & 0xFFFFu) >> 1)};
}

void decodeSweep() {
    for (std::size_t i = 0; i < instrument.link.samples.size(); ++i)
        instrument.link.samples[i] = static_cast<double>(instrument.link.bytes[2 * i] * 256 +
                                                         instrument.link.bytes[2 * i + 1]);
}

int readRaw(int /*count*/, int increment, int start) {
    const SweepWords words = sweepWords(increment, start);
    platform::SerialDevice* dev = openDevice();
    if (dev == nullptr) return -1;

    const std::array<std::uint8_t, 4> window = {
        static_cast<std::uint8_t>(words.first >> 8), static_cast<std::uint8_t>(words.first),
        static_cast<std::uint8_t>(words.last >> 8), static_cast<std::uint8_t>(words.last)};
    ftwrbyte('a');
    ftwrbytes(window.data(), window.size());
    ftrdbyte();

    ftwrbyte('r');
    std::size_t received = 0;
    const int status =
        dev->read(instrument.link.bytes.data(), instrument.link.bytes.size(), &received);
    // A failing read is as unusable as a short one: the previous sweep stays in the link's samples.
    if (status != 0 || received < instrument.link.bytes.size()) return -2;
    ftrdbyte();

    decodeSweep();
    return 1;
}

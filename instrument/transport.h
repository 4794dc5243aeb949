// USB serial transport: the one open device, single-byte command exchanges and the sweep.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>

// The serial link's state: whether the device is open, and the last sweep as it came off the
// wire and as counts.
struct Link {
    // 1 from a successful open until a successful close.
    std::atomic<int> opened{0};
    // Set by the first lost or short sweep: the program is on its way out, and no tick talks to
    // the instrument again. Cleared by start-up.
    std::atomic<bool> lost{false};
    // Bytes of the last sweep as they came off the wire.
    std::array<std::uint8_t, 2048> bytes{};
    // Samples of the last complete sweep, in counts (the driver subtracts the offset in place).
    std::array<double, 1024> samples{};
};

constexpr int kBaudRate = 435000;
// A sweep's bytes on the line ("a", four window bytes, an acknowledgement, "r", 2048 sample bytes
// and the last acknowledgement), ten bits a byte: the least time a sweep takes.
constexpr double kSweepWireSeconds = (1 + 4 + 1 + 1 + 2048 + 1) * 10.0 / kBaudRate;

// What ftrdbyte yields when no byte arrived within the read time-out: outside the range of a
// sign-extended byte, so it never matches an acknowledgement.
constexpr int kNoByte = -256;

int usbftdi_open();
// What failed, for a result of usbftdi_open other than 1.
const char* openFailureText(int status);
int usbftdi_close();
// The identification byte once more: 1 when the instrument acknowledges it (a self-test).
int usbftdi_handshake();
int ftwrbyte(std::uint8_t c);
// The argument bytes of a command, in one write.
int ftwrbytes(const std::uint8_t* data, std::size_t count);
int ftrdbyte();
int readRaw(int count, int increment, int start);

// The link's bytes (big-endian unsigned 16-bit samples) into its samples.
void decodeSweep();

// USB serial transport: the one open device, single-byte command exchanges and the sweep.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

// 1 from a successful open until a successful close.
extern std::atomic<int> ftdiopened;
// Bytes of the last sweep as they came off the wire.
extern std::array<std::uint8_t, 2048> rawBytes;
// Samples of the last complete sweep, in counts (the driver subtracts the offset in place).
extern std::array<double, 1024> rawWaveform;

int usbftdi_open();
int usbftdi_close();
int ftwrbyte(std::uint8_t c);
int ftrdbyte();
int readRaw(int count, int increment, int start);

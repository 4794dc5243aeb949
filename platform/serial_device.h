// The USB serial bridge as the transport needs it. Every call returns 0 on success, like the
// vendor driver it replaces. Back ends: libftdi1, the simulated instrument, a recording fake.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace platform {

class SerialDevice {
  public:
    virtual ~SerialDevice() = default;
    virtual int open(int deviceIndex) = 0;
    virtual int setBaudRate(int baud) = 0;
    virtual int setDataCharacteristics(int wordLength, int stopBits, int parity) = 0;
    virtual int setFlowControl(int flow, std::uint8_t xon, std::uint8_t xoff) = 0;
    virtual int setTimeouts(int readMs, int writeMs) = 0;
    virtual int write(const std::uint8_t* data, std::size_t count, std::size_t* written) = 0;
    // Waits up to the read time-out for all count bytes; *received says how many came.
    virtual int read(std::uint8_t* data, std::size_t count, std::size_t* received) = 0;
    virtual int close() = 0;
    // The bridge's own serial number, for the records; empty when it has none.
    virtual std::string serialNumber() const { return ""; }
};

// The device the transport talks to. Not owned; nullptr means none (open fails).
void setSerialDevice(SerialDevice* device);
SerialDevice* serialDevice();

// The first FTDI device through libftdi1.
std::unique_ptr<SerialDevice> makeFtdiDevice();

} // namespace platform

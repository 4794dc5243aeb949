// A fake serial device for byte-level tests: records every call and write, answers reads from
// a queue, and can fail any step.
#pragma once

#include "platform/serial_device.h"

#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace platform {

class RecordingDevice : public SerialDevice {
  public:
    int open(int deviceIndex) override;
    int setBaudRate(int baud) override;
    int setDataCharacteristics(int wordLength, int stopBits, int parity) override;
    int setFlowControl(int flow, std::uint8_t xon, std::uint8_t xoff) override;
    int setTimeouts(int readMs, int writeMs) override;
    int write(const std::uint8_t* data, std::size_t count, std::size_t* written) override;
    int read(std::uint8_t* data, std::size_t count, std::size_t* received) override;
    int close() override;

    // Bytes the next reads deliver, in order.
    void queueRead(const std::vector<std::uint8_t>& bytes);
    void queueRead(std::uint8_t byte) { queueRead(std::vector<std::uint8_t>{byte}); }

    // Every written byte, in order; each write call as one entry.
    std::vector<std::uint8_t> written() const;
    std::vector<std::vector<std::uint8_t>> writes() const;
    // Names of the calls made, e.g. "open", "setBaudRate 435000", "read 2048".
    std::vector<std::string> calls() const;
    void clearRecord();

    // Status each step returns (0 = success).
    int openStatus = 0, baudStatus = 0, dataStatus = 0, flowStatus = 0, timeoutStatus = 0,
        closeStatus = 0;

  private:
    mutable std::mutex mutex_;
    std::deque<std::uint8_t> pending_;
    std::vector<std::vector<std::uint8_t>> writes_;
    std::vector<std::string> calls_;
};

} // namespace platform

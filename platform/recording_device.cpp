#include "platform/recording_device.h"

#include <atomic>

namespace platform {
namespace {
std::atomic<SerialDevice*> gDevice{nullptr};
}

void setSerialDevice(SerialDevice* device) {
    gDevice.store(device);
}
SerialDevice* serialDevice() {
    return gDevice.load();
}

int RecordingDevice::open(int deviceIndex) {
    std::lock_guard lock(mutex_);
    calls_.push_back("open " + std::to_string(deviceIndex));
    return openStatus;
}
int RecordingDevice::setBaudRate(int baud) {
    std::lock_guard lock(mutex_);
    calls_.push_back("setBaudRate " + std::to_string(baud));
    return baudStatus;
}
int RecordingDevice::setDataCharacteristics(int wordLength, int stopBits, int parity) {
    std::lock_guard lock(mutex_);
    calls_.push_back("setDataCharacteristics " + std::to_string(wordLength) + " " +
                     std::to_string(stopBits) + " " + std::to_string(parity));
    return dataStatus;
}
int RecordingDevice::setFlowControl(int flow, std::uint8_t xon, std::uint8_t xoff) {
    std::lock_guard lock(mutex_);
    calls_.push_back("setFlowControl " + std::to_string(flow) + " " + std::to_string(xon) + " " +
                     std::to_string(xoff));
    return flowStatus;
}
int RecordingDevice::setTimeouts(int readMs, int writeMs) {
    std::lock_guard lock(mutex_);
    calls_.push_back("setTimeouts " + std::to_string(readMs) + " " + std::to_string(writeMs));
    return timeoutStatus;
}
int RecordingDevice::write(const std::uint8_t* data, std::size_t count, std::size_t* written) {
    std::lock_guard lock(mutex_);
    calls_.push_back("write " + std::to_string(count));
    writes_.emplace_back(data, data + count);
    if (written) *written = count;
    return 0;
}
int RecordingDevice::read(std::uint8_t* data, std::size_t count, std::size_t* received) {
    std::lock_guard lock(mutex_);
    calls_.push_back("read " + std::to_string(count));
    std::size_t n = 0;
    while (n < count && !pending_.empty()) {
        data[n++] = pending_.front();
        pending_.pop_front();
    }
    if (received) *received = n;
    return 0;
}
int RecordingDevice::close() {
    std::lock_guard lock(mutex_);
    calls_.push_back("close");
    return closeStatus;
}
void RecordingDevice::queueRead(const std::vector<std::uint8_t>& bytes) {
    std::lock_guard lock(mutex_);
    pending_.insert(pending_.end(), bytes.begin(), bytes.end());
}
std::vector<std::uint8_t> RecordingDevice::written() const {
    std::lock_guard lock(mutex_);
    std::vector<std::uint8_t> all;
    for (auto& w : writes_) all.insert(all.end(), w.begin(), w.end());
    return all;
}
std::vector<std::vector<std::uint8_t>> RecordingDevice::writes() const {
    std::lock_guard lock(mutex_);
    return writes_;
}
std::vector<std::string> RecordingDevice::calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
}
void RecordingDevice::clearRecord() {
    std::lock_guard lock(mutex_);
    writes_.clear();
    calls_.clear();
}

} // namespace platform

// A fake instrument for deterministic cycle tests: every sweep is a clean step whose levels the
// test chooses, a sampler port can be made dead, and a hook runs at each sweep. It allocates
// nothing while serving, so allocation counts of the acquisition path stay meaningful.
#pragma once

#include "platform/serial_device.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <cstring>

namespace testing_support {

class SweepDevice : public platform::SerialDevice {
  public:
    // Counts before the step, at the step and (from doubleAt on) after a second step.
    double base = 1000, stepHeight = 2000, secondHeight = 0;
    int stepAt = 300, doubleAt = 1024;
    std::array<bool, 20> deadSampler{}; // by sampler port code
    bool ramp = false; // each sample reads its own delay position (in window words) instead
    void (*onSweep)(void* context, long sweep) = nullptr;
    void* context = nullptr;

    long sweeps() const { return sweeps_.load(); }
    int lastSamplerCode() const { return samplerCode_.load(); }
    int lastStimulusCode() const { return stimulusCode_.load(); }

    int open(int) override { return 0; }
    int setBaudRate(int) override { return 0; }
    int setDataCharacteristics(int, int, int) override { return 0; }
    int setFlowControl(int, std::uint8_t, std::uint8_t) override { return 0; }
    int setTimeouts(int, int) override { return 0; }
    int close() override { return 0; }

    int write(const std::uint8_t* data, std::size_t count, std::size_t* written) override {
        if (written) *written = count;
        if (count == 1) {
            command_ = data[0];
        } else if (command_ == 'p' && count == 2) {
            stimulusCode_ = data[0];
            samplerCode_ = data[1];
        } else if (command_ == 'a' && count == 4) {
            first_ = (data[0] << 8) | data[1];
            last_ = (data[2] << 8) | data[3];
        }
        return 0;
    }

    int read(std::uint8_t* data, std::size_t count, std::size_t* received) override {
        if (count == 2048 && command_ == 'r') {
            fillSweep(data);
            *received = count;
            const long n = sweeps_.fetch_add(1) + 1;
            if (onSweep) onSweep(context, n);
        } else if (count == 1) {
            data[0] = '.';
            *received = 1;
        } else {
            *received = 0; // the handshake drain
        }
        return 0;
    }

  private:
    void fillSweep(std::uint8_t* data) const {
        const int code = samplerCode_.load();
        const bool dead = code >= 0 && code < 20 && deadSampler[static_cast<std::size_t>(code)];
        for (int i = 0; i < 1024; ++i) {
            double v = ramp ? first_ + (last_ - first_) * i / 1024.0 : base;
            // A sweep at one delay position (first == last) sees no edge.
            if (!dead && !ramp && first_ != last_) {
                if (i >= stepAt) v += stepHeight;
                if (i >= doubleAt) v += secondHeight;
            }
            const auto counts = static_cast<std::uint16_t>(v);
            data[2 * i] = static_cast<std::uint8_t>(counts >> 8);
            data[2 * i + 1] = static_cast<std::uint8_t>(counts & 0xFF);
        }
    }

    std::uint8_t command_ = 0;
    int first_ = 0, last_ = 0;
    std::atomic<int> stimulusCode_{-1}, samplerCode_{-1};
    std::atomic<long> sweeps_{0};
};

} // namespace testing_support

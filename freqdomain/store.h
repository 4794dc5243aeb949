// The SOLT standards as measured time records: SHORT, OPEN, LOAD and THROUGH for every sampler
// line of both ports, and the four working records of the selected sampler.
#pragma once

#include "instrument/driver.h"

#include <array>
#include <atomic>

enum Standard { kShort = 0, kOpen = 1, kLoad = 2, kThrough = 3 };
constexpr int kStandards = 4;
constexpr int kSlotsPerStandard = 20; // 2 ports x 5 channels x 2 polarities

// A slot: port 0/1 (P1/P2), channel 0..4 (CH 1..CH 5), polarity 0 positive / 1 negative.
struct SlotId {
    int port;
    int channel;
    int polarity;
};

// Index of a slot within one standard: port, then channel, then polarity (the file order).
constexpr int slotIndex(int port, int channel, int polarity) {
    return port * 10 + channel * 2 + polarity;
}
constexpr int slotIndex(SlotId s) {
    return slotIndex(s.port, s.channel, s.polarity);
}

// Sampler line (0..19) to slot. Stimulus s drives samplers 2s and 2s + 1; stimulus 0..4 are
// port 1 channels 3, 2, 1, 4, 5 and 5..9 the same on port 2.
constexpr std::array<SlotId, 20> kSamplerSlot = {{
    {0, 2, 0}, {0, 2, 1}, {0, 1, 0}, {0, 1, 1}, {0, 0, 0}, {0, 0, 1}, {0, 3, 0},
    {0, 3, 1}, {0, 4, 0}, {0, 4, 1}, {1, 2, 0}, {1, 2, 1}, {1, 1, 0}, {1, 1, 1},
    {1, 0, 0}, {1, 0, 1}, {1, 3, 0}, {1, 3, 1}, {1, 4, 0}, {1, 4, 1},
}};

// The 80 stored records (zero at start), by standard and slot index. Reflection coefficient
// over the fixed 3.5 to 74 ns window, 1024 points.
using StandardSet = std::array<std::array<Waveform, kSlotsPerStandard>, kStandards>;

// The record of one standard for one sampler line (0..19).
Waveform& storedStandard(int standard, int sampler);

// Copies the four standards of a sampler (0..19) into the working records; any other value
// copies nothing.
void populateSOLT(int sampler);

constexpr int kSpectrumBins = 2048;
using Spectrum = std::array<double, kSpectrumBins>;
// Seven conversion slots, A to G (0 to 6): an input record and its spectrum each.
constexpr int kSlotCount = 7;

// The SOLT calibration: the standards measured, the working set of the selected line, the
// conversion slots and the corrected result of the last conversion. Filled by guarded work on
// the GUI thread; the tick reads it only while none runs.
struct SoltCalibration {
    StandardSet store{};
    // Working records read by S11 and S21; also the landing buffers of a calibration run.
    Waveform wfmShort{};
    Waveform wfmOpen{};
    Waveform wfmLoad{};
    Waveform wfmThrough{};
    std::array<Waveform, kSlotCount> slot{};
    std::array<Spectrum, kSlotCount> specReal{};
    std::array<Spectrum, kSlotCount> specImag{};
    // Corrected complex result of the last performS11 / performS21, per shown bin (0 to 1023).
    Spectrum fdReal{};
    Spectrum fdImag{};
    // 1 once a calibration of the kind is in force; never cleared while the program runs.
    std::atomic<int> calS11{0};
    std::atomic<int> calS21{0};
};
// One per process: 1.9 MB of records, never on a stack.
extern SoltCalibration solt;

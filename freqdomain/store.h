// The SOLT standards as measured time records: SHORT, OPEN, LOAD and THROUGH for every sampler
// line of both ports, and the four working records of the selected sampler.
#pragma once

#include "acquisition/acquire.h"
#include "instrument/driver.h"

#include <array>
#include <atomic>
#include <complex>

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
// over the fixed 3.5 to 74 ns window, each with the interleave it was swept with.
using StandardSet = std::array<std::array<FdRecord, kSlotsPerStandard>, kStandards>;

// The bins shown, 7.14 MHz apart: the only ones converted.
constexpr int kSpectrumBins = 1024;
using Spectrum = std::array<double, kSpectrumBins>;
constexpr std::size_t kShownBins = kSpectrumBins;

// The SOLT calibration: the standards measured, the working set of the selected line, and the
// corrected result of the last correction. Filled by guarded work on the GUI thread; the tick
// reads it only while none runs.
struct SoltCalibration {
    StandardSet store{};
    // Working records read by S11 and S21; also the landing buffers of a calibration run.
    // select() thins SHORT, OPEN and LOAD to the interleave they have in common.
    FdRecord wfmShort{};
    FdRecord wfmOpen{};
    FdRecord wfmLoad{};
    FdRecord wfmThrough{};
    // Corrected complex S11 or S21 of the last correction, per shown bin.
    std::array<std::complex<double>, kShownBins> result{};
    // 1 once a calibration of the kind is in force; never cleared while the program runs.
    std::atomic<int> calS11{0};
    std::atomic<int> calS21{0};

    // The record of one standard for one sampler line (0..19).
    FdRecord& standard(Standard which, int sampler);
    // The interleave the working set was swept with for a mode (TDT: the THROUGH's; the others:
    // the reflection standards'): a device record must be swept with it to be corrected.
    int interleave(Mode mode) const;
    // Copies the four standards of a sampler (0..19) into the working records and prepares
    // them; any other value changes nothing.
    void select(int sampler);
    // Converts what the working records contribute to every correction, once per working set
    // (select() does it), so that correct() converts only the device's record.
    void prepare();
    // A record (reflection coefficient, swept like the standards) in, its S11 (TDR: one-port
    // SOLT correction) or S21 (TDT: through normalisation) out, in dB per shown bin; the complex
    // values land in result. A record of another interleave than interleave(mode) has no
    // correction: every bin is NaN. Nothing is allocated.
    void correct(Mode mode, const FdRecord& record, Waveform& db);

  private:
    // What the standards contribute to one bin: L itself, O - S, (S - L) + (O - L),
    // 2 (S - L)(O - L) and THROUGH, side by side so that a correction reads one stream.
    struct Terms {
        std::complex<double> load, openShort, sum, twiceProduct, through;
    };
    std::array<Terms, kShownBins> terms_{};
    FdRecord work_{};
    int reflectionInterleave_ = 1; // of SHORT, OPEN and LOAD, set by prepare()
    Spectrum re_{}, im_{};         // the spectrum in hand
};
// One per process: 2.9 MB of records, never on a stack.
extern SoltCalibration solt;

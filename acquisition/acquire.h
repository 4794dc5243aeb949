// The sweeps of one cycle: the records, the differential combination and the processing.
#pragma once

#include "instrument/driver.h"
#include "setup/setup.h"

#include <atomic>
#include <initializer_list>

constexpr std::size_t kFdMaxPoints = 1024 * kMaxInterleave;

// A frequency-domain record: reflection coefficient over the fixed window, 1024 x interleave
// points in time order (the rest of y is unused). An all-zero record holds nothing measured.
struct FdRecord {
    std::array<double, kFdMaxPoints> y{};
    int interleave = 1;

    std::size_t size() const { return 1024u * static_cast<std::size_t>(interleave); }
    double& operator[](std::size_t i) { return y[i]; }
    double operator[](std::size_t i) const { return y[i]; }
    bool empty() const;
    // The record k interleaved sweeps would have given: every (interleave / k)-th point, the
    // first sweep's included. k must divide the interleave; an empty record takes any k.
    void thinTo(int k);
    bool operator==(const FdRecord&) const = default;
};
// The least interleave of the records that hold something (the one they can all be thinned to);
// 1 when none does.
int commonInterleave(std::initializer_list<const FdRecord*> records);

// The live trace: what the cycle shows (y against instrument.recordX), the two lines of a
// differential pair it was summed from, and in the frequency domain the record the correction
// starts from. Fixed buffers: a cycle allocates nothing.
struct Trace {
    Waveform y{};
    Waveform pos{};
    Waveform neg{};
    FdRecord fd{};
};
// One per process, written by the cycle that holds the instrument.
extern Trace liveTrace;

// The live trace's look.
constexpr int kLiveTraceColor = (113 << 16) | (233 << 8) | 70;
constexpr int kLiveTraceStyle = 5; // thick line
// The window of every frequency-domain record (the DUT's and the SOLT standards'):
// reflection coefficient from 3.5 to 74 ns, no zero offset.
constexpr YUnit kFdYUnit = YUnit::Rho;
constexpr XUnit kFdXUnit = XUnit::Nanoseconds;
constexpr double kFdStart = 3.5;
constexpr double kFdEnd = 74.0;
// Time needs no dielectric constant; any valid one gives the same sweep.
constexpr SweepWindow kFdWindow = {kFdXUnit, kFdStart, kFdEnd, 0.0, 1.0};
// A differential impedance reading never goes above this.
constexpr double kMaxDifferentialOhms = 500.0;

// Sweeps the line the set-up selects into the trace: the differential pair summed, the
// profile peeled and the filter applied where the set-up asks for them. In the frequency
// domain the record is the reflection coefficient the correction starts from. Returns 1, or
// the first failure of the driver's acquisitions; a stopped one leaves the trace as it was.
int measure(const Setup& setup, Instrument& instrument, Trace& trace);
// One frequency-domain record: `interleave` sweep sets of `count` sweeps over the fixed window,
// each started 1/interleave of the sample spacing after the one before, interleaved in time
// order as reflection coefficient. Returns what the driver's acquisition returned; a failed one
// leaves `into` as it was.
int acquireFrequencyRecord(Instrument& instrument, int count, int interleave, FdRecord& into);
// The sweeps such a record takes: per sweep set an offset sweep, then a settling sweep and a
// reading sweep for each of `count`.
constexpr int frequencyRecordSweeps(int count, int interleave) {
    return interleave * (1 + 2 * (count < 1 ? 1 : count));
}
void checkWaveform(int status);
// Outward-rounded autoscale range of data in a unit (pure; used by scaleYAxis).
void autoscaleRange(const Waveform& data, YUnit unit, double& lo, double& hi);
// Visible index range [first, last) of the frequency-domain trace for a shown window.
void visibleRange(const Waveform& x, double start, double end, int& first, int& last);

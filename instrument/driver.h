// Instrument driver: port codes, timing rows, window arithmetic and sample conversion.
#pragma once

#include "instrument/transport.h"
#include "setup/port_codes.h"
#include "setup/setup.h"
#include "setup/vocabulary.h"

#include <array>
#include <atomic>
#include <cstdint>

using Waveform = std::array<double, 1024>;

// Equivalent-time interleaving of frequency-domain records: K sweeps of one window, sweep j
// started j/K of the sample spacing later. A 35 ps edge (speed class 0) carries content far above
// the 7.3 GHz Nyquist frequency of plain sampling, which would fold back into the spectrum; four
// sweeps put it at 29 GHz, where the edge has none left. The 150 ps edge needs no more than one.
constexpr int kMaxInterleave = 4;
constexpr int interleaveFor(int speedClass) {
    return speedClass == 0 ? kMaxInterleave : 1;
}

// Timing parameter table, one row per setting.
constexpr std::array<double, 4> timebaseArr = {7.5e-8, 7.5e-8, 7.5e-8, 7.5e-8};
constexpr std::array<double, 4> calWindowArr = {1.2e-8, 1.2e-8, 1e-8, 1.5e-8};
constexpr std::array<double, 4> calGuardArr = {2e-10, 2e-10, 1e-9, 1e-9};
constexpr std::array<double, 4> calAdjustArr = {1.0, 1.75, 0.95, 1.75};
constexpr std::array<double, 4> calIdxAvgArr = {10.5, 14.0, 1.68, 3.25};
constexpr std::array<int, 4> edgeIdxArr = {85, 85, 205, 205};

// The timing row in use: the sweep's time base and the calibration's window, guard, averaging
// and step (calIncrement delay steps a calibration sample).
struct Timing {
    double timebase = timebaseArr[2];
    double calWindow = calWindowArr[2];
    double calGuard = calGuardArr[2];
    double calAdjust = calAdjustArr[2];
    double calIdxAvg = calIdxAvgArr[2];
    double calIncrement = 8;
    int edgeIdx = edgeIdxArr[2];
};

// Calibration sweeps a line's levels are averaged over: the amplitude error they leave (3 counts
// of noise on a 3000-count step, 66 samples after the edge) is then below what 64 averaged
// sweeps of a trace leave, for seven sweeps more (0.33 s on the real link).
constexpr int kLevelSweeps = 8;

// The calibration constants measureConstants measures: per sampler line its start level, end level
// and step amplitude in counts; per stimulus the edge delay in use and the last one measured in
// reflection and in transmission.
struct ChannelCalibration {
    std::array<double, 20> vstart{};
    std::array<double, 20> vend{};
    std::array<double, 20> vampl{};
    std::array<int, 10> calDelay{};
    std::array<int, 10> delayTDR{};
    std::array<int, 10> delayTDT{};
};

// One acquisition's counts as the instrument sent them (before the offset is taken off),
// averaged over its passes, with what they were taken at. A batch run installs a tap to keep
// them for its report; without one nothing is copied or called.
struct SweepSet {
    int stimulus = 0, sampler = 0; // channels
    int start = 0, increment = 0;  // delay positions
    int passes = 0;
    int offset = 0; // the offset sweep's level in whole counts
    const Waveform* counts = nullptr;
};
using SweepSetTap = void (*)(const SweepSet&);
// Called after each averaged sweep with (sweeps done, sweeps asked for); for progress displays.
using SweepProgressFn = void (*)(int done, int total);
// Asked before each sweep of an acquisition: true stops it there.
using SweepStopFn = bool (*)();
// What an acquisition that was stopped returns; it leaves the records as they were.
constexpr int kSweepsStopped = -4;

// The instrument the program drives: what start-up found, the line selected, the timing row
// and the constants its calibrations measured. Its driver runs on the GUI thread only while
// the tick is suspended, so the plain members are never written and read at once.
struct Instrument {
    // The model found at start-up (empty until then), its channel count and speed class.
    char model[8] = "";
    int channels = 0;
    int speed = 0;
    // Port codes last selected: stimulus channel 2 driving sampler 4.
    std::uint8_t stimulusPort = 5;
    std::uint8_t samplerPort = 10;
    int stimActive = 2;
    int samplActive = 4;
    int samplPos = 4;
    int samplNeg = 5;
    int polarity = 1;
    // Written by selectTiming (guarded, on the GUI thread); read by every sweep and calibration.
    Timing timing{};
    std::atomic<int> increment{1}; // read by the filter on either thread
    // Written by guarded calibrations and the tick's recalibration; read by every sweep.
    ChannelCalibration cal{};
    // 0 during start-up, 1 afterwards: switches on the calibration retries.
    std::atomic<int> isInit{0};
    // Set and cleared by guarded work on the GUI thread while the tick is suspended.
    std::atomic<SweepSetTap> sweepSetTap{nullptr};
    std::atomic<SweepProgressFn> sweepProgress{nullptr};
    std::atomic<SweepStopFn> shouldStop{nullptr};
    Link link;
    // The records of the last acquisition: its x axis, the last sweep, the average published
    // when every sweep came back whole, and the running mean the passes are folded into.
    Waveform recordX{};
    Waveform record{};
    Waveform recordAvg{};
    Waveform runningMean{};

    // Opens the link, loads timing row 2 and sends the port selection: 1, or -1 when the bridge
    // failed (the user is told which step).
    int open();
    // Loads a timing row (0 to 3) and resends the port selection; -1 for any other row.
    int selectTiming(int row);
    int sendChannelSetup(std::uint8_t stim, std::uint8_t samp);
    // Selects a stimulus and sampler channel, waiting for the step source when it moved.
    int selectChannels(int stim, int samp);
    // Waits for the instrument to settle, in steps of 50 ms: false as soon as shouldStop asks.
    bool settle(double seconds);
    // One sweep into the link's samples with the offset taken off (absolute counts for absFlag 1).
    int readData(int incrementSteps, int start, double offset, int absFlag);
    double meanArray() const;
    // The offset sweep's mean in counts (not cut to a whole count), with the status of its
    // sweep, so a failed offset sweep is not mistaken for a level.
    int readOffset(double& offset);
    // One pass of the conversion: the link's offset-corrected counts into the last sweep, folded
    // into runningMean as pass number `pass`.
    void convertSweep(int pass, YUnit yUnit);
    // `count` sweeps over the window, averaged into recordAvg (x values in recordX, the last
    // sweep in record). Besides 1, -1 and -2 (the link's) it returns -3 when the window cannot
    // be swept (a non-finite bound or a dielectric constant not above 0) and kSweepsStopped when
    // shouldStop said so before a sweep; a failed acquisition leaves the records and increment
    // as they were.
    int acquire(int count, YUnit yUnit, const SweepWindow& window);
    // The zero reference: x itself when it is 0 or more (2); for a negative x the first point of
    // a reflection-coefficient sweep over the window, measured from the instrument's origin, at
    // the open's threshold (1); -1 (zero 0) when there is none or x is not finite. sweepStatus,
    // when given, receives the search sweep's status: a lost link is not "no open".
    int findZero(double x, int thresholdMode, SweepWindow window, double& zero,
                 int* sweepStatus = nullptr);
    // Measures a line's start level, step amplitude and edge delay in a mode (reflection, or
    // transmission from the partner port); stores them only when all of it succeeded. 1, or -1
    // (bad channel or levels), -2 / -3 (the first / second edge not found or its sweep lost),
    // kSweepsStopped when shouldStop asked.
    // The levels are the mean of levelSweeps calibration sweeps: kLevelSweeps for a line to
    // measure on, one for a probe that only asks whether a channel answers.
    int measureConstants(int stimulus, int sampler, Mode mode, int levelSweeps = 1);
};
// One per process, like the serial link it talks through.
extern Instrument instrument;

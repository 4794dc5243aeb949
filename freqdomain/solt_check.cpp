// Thresholds are set against the simulator with its sampler noise on, 32 sweeps a standard:
// SHORT settles at -1.000, OPEN at +1.000, LOAD at 0.000 (each +-0.002, sample spread 0.0002),
// a THROUGH rises by 1.00 from its first sample, and one standard measured twice differs by
// 0.0003 to 0.0007 rms while different standards differ by 0.97 rms or more.
#include "freqdomain/solt_check.h"

#include "freqdomain/solt.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace {

// Halfway to zero: a SHORT or OPEN behind up to 6 dB of round-trip cable loss still passes.
constexpr double kReflectiveLevel = 0.5;
// A termination between 33 and 75 ohm passes: a worn load or a fixture's own mismatch is not
// flagged, a SHORT, an OPEN or a line left on a device under test mostly is.
constexpr double kLoadLevel = 0.2;
// A THROUGH behind the same 6 dB still rises by half.
constexpr double kThroughRise = 0.5;
// Twenty times the difference between two measurements of one standard, and fifty times
// smaller than the smallest between two different ones.
constexpr double kSameRms = 0.01;

constexpr const char* kNames[] = {"SHORT", "OPEN", "LOAD", "THROUGH"};

const FdRecord& recordOf(const StandardSet& set, Standard standard, int sampler) {
    const SlotId s = kSamplerSlot[static_cast<std::size_t>(sampler)];
    return set[index(standard)][static_cast<std::size_t>(slotIndex(s))];
}

std::string signedFixed(double v) {
    if (std::fabs(v) < 0.005) v = 0.0; // no "-0.00"
    std::string s = v >= 0.0 ? "+" : "";
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, 2);
    s.append(buf, r.ptr);
    return s;
}

// What a settled level looks like, for the message.
const char* looksLike(double level) {
    if (level <= -kReflectiveLevel) return "a SHORT";
    if (level >= kReflectiveLevel) return "an OPEN";
    if (std::fabs(level) < kLoadLevel) return "a LOAD";
    return "neither a SHORT, an OPEN nor a LOAD";
}

bool levelFits(Standard standard, double level) {
    if (standard == Standard::Short) return level <= -kReflectiveLevel;
    if (standard == Standard::Open) return level >= kReflectiveLevel;
    return std::fabs(level) < kLoadLevel;
}

} // namespace

// Mean of the last quarter of a record (about 56 to 74 ns), long after any connector ringing.
static double settledLevel(const FdRecord& w) {
    const std::size_t n = w.size();
    double sum = 0.0;
    for (std::size_t i = n - n / 4; i < n; ++i) sum += w.y[i];
    return sum / static_cast<double>(n / 4);
}

// Root mean square difference of two records at the samples they share (a record swept with
// more interleaved sweeps holds every sample of one swept with fewer).
static double rmsDifference(const FdRecord& a, const FdRecord& b) {
    const int k = std::min(a.interleave, b.interleave);
    const auto sa = static_cast<std::size_t>(a.interleave / k);
    const auto sb = static_cast<std::size_t>(b.interleave / k);
    const std::size_t n = 1024u * static_cast<std::size_t>(k);
    double sum = 0.0;
    for (std::size_t i = 0; i < n; ++i)
        sum += (a.y[i * sa] - b.y[i * sb]) * (a.y[i * sa] - b.y[i * sb]);
    return std::sqrt(sum / static_cast<double>(n));
}

SoltFinding checkStandard(Standard standard, int sampler, const FdRecord& record,
                          const StandardSet& set) {
    SoltFinding f;
    f.standard = standard;
    f.sampler = sampler;
    const std::string name = kNames[index(standard)];
    if (record.empty()) {
        f.problem = SoltProblem::Empty;
        f.why = "the record is all zero";
        return f;
    }
    const double level = settledLevel(record);
    if (standard == Standard::Through) {
        const double rise = level - record.y[0];
        if (rise < kThroughRise) {
            f.problem = SoltProblem::NoArrival;
            f.why = "nothing arrives from the other port (it rises by " + signedFixed(rise) +
                    ", a THROUGH by about +1): the THROUGH is not connected";
        }
        return f;
    }
    if (standard != Standard::Short) {
        const auto previous = static_cast<Standard>(index(standard) - 1);
        const FdRecord& before = recordOf(set, previous, sampler);
        if (!before.empty() && rmsDifference(record, before) < kSameRms) {
            f.problem = SoltProblem::Unchanged;
            f.why = "it is the same as the " + std::string(kNames[index(previous)]) +
                    " before it: the connection was not changed";
            return f;
        }
    }
    if (standard == Standard::Open && level <= -kReflectiveLevel) {
        const FdRecord& shortRecord = recordOf(set, Standard::Short, sampler);
        if (!shortRecord.empty() && settledLevel(shortRecord) >= kReflectiveLevel) {
            f.problem = SoltProblem::Swapped;
            f.why = "it settles at " + signedFixed(level) + " and the SHORT at " +
                    signedFixed(settledLevel(shortRecord)) + ": SHORT and OPEN look swapped";
            return f;
        }
    }
    if (!levelFits(standard, level)) {
        f.problem = SoltProblem::Level;
        const char* expected = standard == Standard::Short  ? "-1"
                               : standard == Standard::Open ? "+1"
                                                            : "0";
        f.why = "it settles at " + signedFixed(level) + ", where " +
                (standard == Standard::Open ? "an " : "a ") + name + " settles near " + expected +
                ": it looks like " + looksLike(level);
    }
    return f;
}

std::vector<SoltFinding> checkCalibration(int type, const StandardSet& set, int channelCount) {
    std::vector<SoltFinding> findings;
    for (int sampler = 0; sampler < 20; ++sampler) {
        if (!soltLineMeasured(type, sampler, channelCount)) continue;
        const std::size_t first = index(type == 0 ? Standard::Short : Standard::Through);
        const std::size_t last = index(type == 0 ? Standard::Load : Standard::Through);
        for (std::size_t i = first; i <= last; ++i) {
            const auto s = static_cast<Standard>(i);
            SoltFinding f = checkStandard(s, sampler, recordOf(set, s, sampler), set);
            if (f.problem != SoltProblem::None) findings.push_back(std::move(f));
        }
    }
    return findings;
}

std::string describeFinding(const SoltFinding& f, const std::string& label) {
    return label + " " + kStandardNames[index(f.standard)] + " looks wrong: " + f.why + ".";
}

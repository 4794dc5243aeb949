// Line-oriented description of the devices under test, parsed completely before use.
#include "simulator/sim_scenario.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>

namespace simulator {
namespace {

std::string_view trim(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
    return s;
}

std::vector<std::string_view> words(std::string_view s) {
    std::vector<std::string_view> out;
    std::size_t i = 0;
    while (i < s.size()) {
        while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
        std::size_t j = i;
        while (j < s.size() && !std::isspace(static_cast<unsigned char>(s[j]))) ++j;
        if (j > i) out.push_back(s.substr(i, j - i));
        i = j;
    }
    return out;
}

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

enum class Num { Ok, Invalid, OutOfRange };

// from_chars ignores the locale, so "0.5" means the same everywhere. A number too large or too
// small for a double ("1e400", "1e-400", "inf") is a number out of range, not a typing error.
Num number(std::string_view w, double& v) {
    const char* end = w.data() + w.size();
    auto [p, ec] = std::from_chars(w.data(), end, v);
    if (p != end || w.empty()) return Num::Invalid;
    if (ec == std::errc::result_out_of_range || (ec == std::errc() && std::isinf(v)))
        return Num::OutOfRange;
    return ec == std::errc() && std::isfinite(v) ? Num::Ok : Num::Invalid;
}

struct LineError {
    std::string text;
};

std::string quoted(std::string_view w) {
    return "'" + std::string(w) + "'";
}

// Shortest round-trip form, independent of the process locale.
std::string fmt(double v) {
    char buf[32];
    auto [p, ec] = std::to_chars(buf, buf + sizeof buf, v);
    return ec == std::errc() ? std::string(buf, p) : std::string("?");
}

std::string outOfRange(double lo, double hi, std::string_view what, std::string_view word) {
    return std::string(what) + " " + quoted(word) + " is out of range (" + fmt(lo) + " to " +
           fmt(hi) + ")";
}

// Reads one value and checks it against its range, naming the quantity in the message. A
// negative zero is refused where the range starts at 0: it would be shown as "-0 m".
std::string readValue(std::string_view word, double lo, double hi, std::string_view what,
                      double& v) {
    switch (number(word, v)) {
    case Num::Invalid:
        return "not a number: " + quoted(word);
    case Num::OutOfRange:
        return outOfRange(lo, hi, what, word);
    case Num::Ok:
        break;
    }
    if (v < lo || v > hi || (std::signbit(v) && !std::signbit(lo)))
        return outOfRange(lo, hi, what, word);
    return "";
}

// "line Z LEN DIELK [LOSS]" or an ending; returns an error text or "".
std::string parseElement(std::string_view element, ChannelDut& dut, bool& ended) {
    auto w = words(element);
    if (w.empty()) return "empty element between ';'";
    std::string kind = lower(w[0]);
    if (ended) return "nothing may follow the ending " + quoted(w[0]);
    if (kind == "line") {
        if (w.size() < 4 || w.size() > 5)
            return "'line' takes impedance, length, dielectric constant and optional loss";
        if (dut.sections.size() >= kMaxSections)
            return "more than " + std::to_string(kMaxSections) + " line sections on one channel";
        double v[4] = {0, 0, 0, 0};
        static constexpr double lo[4] = {1.0, 0.0, 1.0, 0.0},
                                hi[4] = {10000.0, 100.0, 100.0, 100.0};
        static constexpr std::string_view what[4] = {"impedance", "length", "dielectric constant",
                                                     "loss"};
        for (std::size_t i = 1; i < w.size(); ++i)
            if (std::string err = readValue(w[i], lo[i - 1], hi[i - 1], what[i - 1], v[i - 1]);
                !err.empty())
                return err;
        dut.sections.push_back(Section{v[0], v[1], v[2], v[3]});
        return "";
    }
    if (kind == "open" || kind == "short" || kind == "through") {
        if (w.size() != 1) return quoted(w[0]) + " takes no value";
        dut.ending = kind == "open"    ? Ending::Open
                     : kind == "short" ? Ending::Short
                                       : Ending::Through;
        ended = true;
        return "";
    }
    if (kind == "load") {
        if (w.size() != 2) return "'load' takes one value, the resistance in ohms";
        double r = 0;
        if (std::string err = readValue(w[1], 0.0, 1e6, "load resistance", r); !err.empty())
            return err;
        dut.ending = Ending::Load;
        dut.loadOhms = r;
        ended = true;
        return "";
    }
    return "unknown element " + quoted(w[0]) + " (expected line, open, short, load or through)";
}

std::string parseChannelLine(std::string_view rest, Scenario& sc, std::array<int, 10>& seenAt,
                             int lineNo) {
    auto colon = rest.find(':');
    if (colon == std::string_view::npos) return "expected 'channel N: ...'";
    auto numWords = words(rest.substr(0, colon));
    if (numWords.size() != 1) return "expected one channel number before ':'";
    // One digit: "-0", "+2" or "02" are not how a channel is written.
    const std::string_view n = numWords[0];
    if (n.size() != 1 || n[0] < '0' || n[0] > '9')
        return "channel " + quoted(n) + " is not a channel number 0 to 9";
    const int ch = n[0] - '0';
    if (seenAt[ch])
        return "channel " + std::to_string(ch) + " was already described on line " +
               std::to_string(seenAt[ch]);
    ChannelDut dut;
    dut.described = true;
    bool ended = false;
    std::string_view body = rest.substr(colon + 1);
    while (true) {
        auto semi = body.find(';');
        std::string_view element = trim(body.substr(0, semi));
        if (semi == std::string_view::npos && element.empty() && ended) break;
        std::string err = parseElement(element, dut, ended);
        if (!err.empty()) return err;
        if (semi == std::string_view::npos) break;
        body = body.substr(semi + 1);
    }
    if (!ended)
        return "channel " + std::to_string(ch) + " has no ending (open, short, load R or through)";
    sc.channels[ch] = std::move(dut);
    seenAt[ch] = lineNo;
    return "";
}

// Both ends of a through describe one cable; only one side may give it sections or an ending.
std::string checkThroughs(const Scenario& sc, const std::array<int, 10>& seenAt, int& lineNo) {
    for (int s = 0; s < 5; ++s) {
        const int p = s + 5;
        const ChannelDut& a = sc.channels[s];
        const ChannelDut& b = sc.channels[p];
        const bool aThrough = a.described && a.ending == Ending::Through;
        const bool bThrough = b.described && b.ending == Ending::Through;
        if (!aThrough && !bThrough) continue;
        const int near = aThrough ? s : p, far = aThrough ? p : s;
        const ChannelDut& farDut = sc.channels[far];
        if (!farDut.described) continue;
        lineNo = std::max(seenAt[near], seenAt[far]);
        if (farDut.ending != Ending::Through)
            return "channel " + std::to_string(far) + " is the far end of channel " +
                   std::to_string(near) + "'s through and cannot end in anything else";
        if (!a.sections.empty() && !b.sections.empty())
            return "both ends of the through " + std::to_string(s) + "-" + std::to_string(p) +
                   " have line sections; describe the cable on one side only";
    }
    return "";
}

std::string parseStatement(std::string_view line, Scenario& sc, std::array<int, 10>& seenAt,
                           bool& nextSeen, bool& fextSeen, int lineNo) {
    for (char c : line)
        if (static_cast<unsigned char>(c) < 0x20 && c != '\t')
            return "control character in the line";
    auto w = words(line);
    std::string key = lower(w[0]);
    if (key.rfind("channel", 0) == 0) return parseChannelLine(line.substr(7), sc, seenAt, lineNo);
    if (key != "coupling")
        return "unknown statement " + quoted(w[0]) +
               " (expected 'channel N: ...' or 'coupling next|fext K')";
    if (w.size() != 3) return "expected 'coupling next K' or 'coupling fext K'";
    std::string which = lower(w[1]);
    double k = 0;
    if (std::string err = readValue(w[2], 0.0, 0.5, "coupling", k); !err.empty()) return err;
    if (which == "next") {
        if (nextSeen) return "near-end coupling given twice";
        sc.nextCoupling = k;
        nextSeen = true;
    } else if (which == "fext") {
        if (fextSeen) return "far-end coupling given twice";
        sc.fextCoupling = k;
        fextSeen = true;
    } else {
        return "unknown coupling " + quoted(w[1]) + " (expected next or fext)";
    }
    return "";
}

} // namespace

std::optional<Scenario> parseScenario(std::string_view text, std::string& error) {
    Scenario sc;
    std::array<int, 10> seenAt{};
    bool nextSeen = false, fextSeen = false;
    auto fail = [&](int n, const std::string& what) {
        error = "line " + std::to_string(n) + ": " + what;
        return std::nullopt;
    };
    std::size_t pos = 0;
    for (int lineNo = 1;; ++lineNo) {
        const auto nl = text.find('\n', pos);
        std::string_view line =
            text.substr(pos, nl == std::string_view::npos ? std::string_view::npos : nl - pos);
        if (auto hash = line.find('#'); hash != std::string_view::npos) line = line.substr(0, hash);
        line = trim(line);
        if (!line.empty()) {
            if (std::string err = parseStatement(line, sc, seenAt, nextSeen, fextSeen, lineNo);
                !err.empty())
                return fail(lineNo, err);
        }
        if (nl == std::string_view::npos) break;
        pos = nl + 1;
    }
    int throughLine = 0;
    if (std::string err = checkThroughs(sc, seenAt, throughLine); !err.empty())
        return fail(throughLine, err);
    error.clear();
    return sc;
}

std::string_view defaultScenarioText() {
    return R"(# Built-in scenario: one example on every channel of a 20-channel instrument.
# Port 1
channel 2: line 50 0.5 2.25 0; line 75 0.3 2.25 0; open   # CH 1: 50 to 75 ohm step, open end
channel 1: line 50 1.0 2.25 0.3; open                     # CH 2: 1 m cable, a little loss
channel 0: line 50 0.25 2.25 0; short                     # CH 3: short cable, shorted
channel 3: line 50 0.15 2.25 0; through                   # CH 4: through to port 2 CH 4
channel 4: line 50 0.15 2.25 0; through                   # CH 5: through to port 2 CH 5
# Port 2
channel 7: line 50 2.0 2.25 1.0; open                     # CH 1: 2 m lossy cable
channel 6: line 50 0.3 2.25 0; line 35 0.04 4.0 0; line 50 0.3 2.25 0; load 50  # CH 2: a dip
channel 5: line 50 0.6 2.25 0; load 100                   # CH 3: cable into 100 ohms
# Coupling between neighbouring pairs
coupling next 0.03
coupling fext 0.02
)";
}

const Scenario& defaultScenario() {
    static const Scenario sc = [] {
        std::string err;
        auto parsed = parseScenario(defaultScenarioText(), err);
        return parsed ? *parsed : Scenario{};
    }();
    return sc;
}

std::string describeChannel(const Scenario& sc, int channel) {
    if (channel < 0 || channel > 9) return "";
    const ChannelDut& own = sc.channels[channel];
    const int partner = channel < 5 ? channel + 5 : channel - 5;
    const ChannelDut& far = sc.channels[partner];
    const bool farEnd = far.described && far.ending == Ending::Through && far.sections.size() > 0;
    if (!own.described && !(far.described && far.ending == Ending::Through))
        return "nothing connected";
    std::string out;
    auto add = [&](const Section& s) {
        if (!out.empty()) out += ", ";
        out += fmt(s.ohms) + " ohm " + fmt(s.length) + " m";
        if (s.lossDbPerM > 0) out += " (" + fmt(s.lossDbPerM) + " dB/m)";
    };
    if (farEnd && own.sections.empty())
        for (auto it = far.sections.rbegin(); it != far.sections.rend(); ++it) add(*it);
    else
        for (const Section& s : own.sections) add(s);
    if (!out.empty()) out += ", ";
    const bool through = (own.described && own.ending == Ending::Through) || !own.described;
    if (through) return out + "through to channel " + std::to_string(partner);
    switch (own.ending) {
    case Ending::Open:
        return out + "open";
    case Ending::Short:
        return out + "short";
    case Ending::Load:
        return out + fmt(own.loadOhms) + " ohm load";
    case Ending::Through:
        break;
    }
    return out;
}

std::optional<Connection> parseConnection(std::string_view word) {
    std::string w = lower(trim(word));
    if (w == "device") return Connection::Device;
    if (w == "short") return Connection::Short;
    if (w == "open") return Connection::Open;
    if (w == "load") return Connection::Load;
    if (w == "through") return Connection::Through;
    return std::nullopt;
}

std::string_view connectionName(Connection c) {
    switch (c) {
    case Connection::Device:
        return "DEVICE";
    case Connection::Short:
        return "SHORT";
    case Connection::Open:
        return "OPEN";
    case Connection::Load:
        return "LOAD";
    case Connection::Through:
        return "THROUGH";
    }
    return "DEVICE";
}

} // namespace simulator

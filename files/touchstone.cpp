// Touchstone writing and reading.
#include "files/touchstone.h"

#include "files/file_io.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <numbers>

namespace {

void append(std::string& out, double v) {
    char buf[32];
    // Nine significant digits: well below the noise of any measurement, and round-trips the
    // frequency grid exactly enough to line up with the CSV.
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 9);
    out.append(buf, ec == std::errc() ? end : buf);
}

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

std::string_view trimmed(std::string_view s) {
    const std::size_t a = s.find_first_not_of(" \t");
    if (a == std::string_view::npos) return {};
    return s.substr(a, s.find_last_not_of(" \t") - a + 1);
}

// The next blank-separated word of s, consumed.
std::string_view word(std::string_view& s) {
    s = trimmed(s);
    const std::size_t e = std::min(s.find_first_of(" \t"), s.size());
    const std::string_view w = s.substr(0, e);
    s.remove_prefix(e);
    return w;
}

bool number(std::string_view w, double& v) {
    // from_chars does not take a leading '+'.
    if (w.size() > 1 && w.front() == '+') w.remove_prefix(1);
    auto [end, ec] = std::from_chars(w.data(), w.data() + w.size(), v);
    return ec == std::errc() && end == w.data() + w.size() && std::isfinite(v);
}

enum class Format { MA, RI, DB };

struct Options {
    double hzPerUnit = 1e9;
    Format format = Format::MA;
    double reference = 50.0;
};

bool readOptions(std::string_view line, Options& o, std::string& error) {
    for (std::string_view w = word(line); !w.empty(); w = word(line)) {
        const std::string t = lower(w);
        if (t == "hz" || t == "khz" || t == "mhz" || t == "ghz")
            o.hzPerUnit = t == "hz" ? 1 : t == "khz" ? 1e3 : t == "mhz" ? 1e6 : 1e9;
        else if (t == "ma" || t == "ri" || t == "db")
            o.format = t == "ma" ? Format::MA : t == "ri" ? Format::RI : Format::DB;
        else if (t == "y" || t == "z" || t == "h" || t == "g") {
            error = "only S-parameters are read, not " + std::string(w);
            return false;
        } else if (t == "r") {
            if (!number(word(line), o.reference) || o.reference <= 0) {
                error = "R needs a positive reference impedance";
                return false;
            }
        } else if (t != "s") {
            error = "\"" + std::string(w) + "\" is no option";
            return false;
        }
    }
    return true;
}

std::complex<double> pairOf(Format f, double a, double b) {
    if (f == Format::RI) return {a, b};
    const double mag = f == Format::DB ? std::pow(10.0, a / 20.0) : a;
    return std::polar(mag, b * std::numbers::pi / 180.0);
}

} // namespace

std::string formatTouchstone(int ports, const std::vector<SParamPoint>& points,
                             const std::vector<std::string>& comment) {
    std::string out;
    for (const std::string& line : comment) out += "! " + line + "\n";
    out += "# GHz S RI R 50\n";
    for (const SParamPoint& p : points) {
        if (!std::isfinite(p.ghz) || !std::isfinite(p.re) || !std::isfinite(p.im)) continue;
        append(out, p.ghz);
        if (ports == 1) {
            out += ' ';
            append(out, p.re);
            out += ' ';
            append(out, p.im);
        } else {
            out += " 0 0 "; // S11
            append(out, p.re);
            out += ' ';
            append(out, p.im);
            out += " 0 0 0 0"; // S12, S22
        }
        out += '\n';
    }
    return out;
}

int touchstonePorts(std::string_view path) {
    const std::string ext = lower(path.substr(std::min(path.size(), path.rfind('.'))));
    return ext == ".s1p" ? 1 : ext == ".s2p" ? 2 : 0;
}

bool readTouchstone(std::string_view text, int ports, Network& out, std::string& error) {
    Network n;
    Options o;
    bool sawOptions = false, version2 = false, inData = false, noise = false;
    bool order12First = false, sawOrder = false, information = false;
    long declaredPoints = -1;
    int pendingReferences = 0, lineNo = 0, pointLine = 0;
    std::vector<double> values;
    auto fail = [&](int line, const std::string& why) {
        error = "line " + std::to_string(line) + ": " + why;
        return false;
    };
    while (!text.empty()) {
        const std::size_t nl = text.find('\n');
        std::string_view line = text.substr(0, nl);
        text.remove_prefix(nl == std::string_view::npos ? text.size() : nl + 1);
        ++lineNo;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        line = trimmed(line.substr(0, line.find('!')));
        if (line.empty()) continue;
        if (line.front() == '[') {
            const std::size_t close = line.find(']');
            if (close == std::string_view::npos) return fail(lineNo, "a keyword without its ]");
            const std::string key = lower(line.substr(1, close - 1));
            std::string_view arg = trimmed(line.substr(close + 1));
            if (key == "version") {
                if (sawOptions || version2 || !n.hz.empty() || !values.empty())
                    return fail(lineNo, "[Version] must come first");
                if (lower(word(arg)).rfind("2.0", 0) != 0)
                    return fail(lineNo, "only version 2.0 is read besides 1.x");
                version2 = true;
                ports = 0;
                continue;
            }
            if (!version2) return fail(lineNo, "a keyword in a version 1 file");
            if (information) {
                information = key != "end information";
                continue;
            }
            if (key == "number of ports") {
                double p = 0;
                if (!number(word(arg), p) || (p != 1 && p != 2))
                    return fail(lineNo, "only one- and two-port files are read");
                ports = static_cast<int>(p);
            } else if (key == "two-port data order") {
                const std::string order = lower(word(arg));
                if (order != "12_21" && order != "21_12")
                    return fail(lineNo, "[Two-Port Data Order] is 12_21 or 21_12");
                order12First = order == "12_21";
                sawOrder = true;
            } else if (key == "number of frequencies") {
                double p = 0;
                if (!number(word(arg), p) || p < 1 || p != std::floor(p) ||
                    p > static_cast<double>(kTouchstoneMaxPoints))
                    return fail(lineNo, "[Number of Frequencies] needs a whole number from 1 to " +
                                            std::to_string(kTouchstoneMaxPoints));
                declaredPoints = static_cast<long>(p);
            } else if (key == "reference") {
                if (ports == 0) return fail(lineNo, "[Reference] before [Number of Ports]");
                pendingReferences = ports;
                line = arg;
            } else if (key == "matrix format") {
                if (lower(word(arg)) != "full" && ports == 2)
                    return fail(lineNo, "only the full matrix format is read");
            } else if (key == "mixed-mode order") {
                return fail(lineNo, "mixed-mode data is not read");
            } else if (key == "network data") {
                if (ports == 0) return fail(lineNo, "[Number of Ports] missing");
                if (ports == 2 && !sawOrder) return fail(lineNo, "[Two-Port Data Order] missing");
                inData = true;
            } else if (key == "noise data" || key == "end") {
                noise = true;
            } else if (key == "begin information") {
                information = true;
            }
            if (key != "reference") continue;
        }
        if (noise || information) continue;
        if (line.empty()) continue;
        if (pendingReferences > 0) {
            for (std::string_view w = word(line); !w.empty(); w = word(line)) {
                double r = 0;
                if (!number(w, r) || r <= 0 || pendingReferences == 0)
                    return fail(lineNo, "[Reference] needs one positive impedance per port");
                if (pendingReferences-- == ports) n.referenceOhms = r;
            }
            continue;
        }
        if (line.front() == '#') {
            // Only the first option line counts, as the format says.
            if (!sawOptions && !readOptions(line.substr(1), o, error)) return fail(lineNo, error);
            sawOptions = true;
            n.referenceOhms = o.reference; // 2.0's [Reference], which follows, overrides it
            continue;
        }
        if (ports != 1 && ports != 2)
            return fail(lineNo, version2 ? "[Number of Ports] missing"
                                         : "not a .s1p or .s2p file: the name says no port count");
        if (version2 && !inData) return fail(lineNo, "data before [Network Data]");
        const std::size_t expected = ports == 1 ? 3 : 9;
        const bool starts = values.empty();
        if (starts) pointLine = lineNo;
        std::size_t onLine = 0;
        for (std::string_view w = word(line); !w.empty(); w = word(line), ++onLine) {
            double v = 0;
            if (!number(w, v)) return fail(lineNo, "\"" + std::string(w) + "\" is not a number");
            if (values.size() == expected)
                return fail(lineNo, "more than " + std::to_string(expected) + " values in a point");
            values.push_back(v);
        }
        // A two-port's noise block: five values a line, starting again at a lower frequency.
        if (!version2 && ports == 2 && starts && onLine == 5 && !n.hz.empty() &&
            values[0] * o.hzPerUnit <= n.hz.back()) {
            noise = true;
            values.clear();
            continue;
        }
        if (values.size() < expected) continue;
        const double hz = values[0] * o.hzPerUnit;
        if (hz < 0) return fail(pointLine, "a negative frequency");
        if (!n.hz.empty() && hz <= n.hz.back())
            return fail(pointLine,
                        hz == n.hz.back() ? "a frequency repeated" : "the frequencies do not rise");
        if (n.hz.size() == kTouchstoneMaxPoints)
            return fail(pointLine, "more than " + std::to_string(kTouchstoneMaxPoints) + " points");
        n.hz.push_back(hz);
        n.s11.push_back(pairOf(o.format, values[1], values[2]));
        if (ports == 2)
            n.s21.push_back(order12First ? pairOf(o.format, values[5], values[6])
                                         : pairOf(o.format, values[3], values[4]));
        values.clear();
    }
    if (!values.empty())
        return fail(pointLine, "a point of " + std::to_string(values.size()) + " values, not " +
                                   std::to_string(ports == 1 ? 3 : 9));
    if (pendingReferences > 0) return fail(lineNo, "[Reference] needs one impedance per port");
    if (n.hz.size() < kTouchstoneMinPoints)
        return fail(lineNo, std::to_string(n.hz.size()) + " points, fewer than " +
                                std::to_string(kTouchstoneMinPoints));
    if (declaredPoints >= 0 && static_cast<std::size_t>(declaredPoints) != n.hz.size())
        return fail(lineNo, std::to_string(n.hz.size()) + " points, not the " +
                                std::to_string(declaredPoints) + " [Number of Frequencies] says");
    n.ports = ports;
    out = std::move(n);
    return true;
}

bool loadTouchstone(const std::string& path, Network& out, std::string& error) {
    std::string text;
    const std::string name = std::filesystem::path(path).filename().string();
    switch (files::readWhole(path, kTouchstoneMaxBytes, text)) {
    case files::ReadResult::Ok:
        break;
    case files::ReadResult::OpenFailed:
        error = name + ": the file cannot be opened";
        return false;
    case files::ReadResult::TooLarge:
        error = name + ": larger than any Touchstone file of " +
                std::to_string(kTouchstoneMaxPoints) + " points";
        return false;
    default:
        error = name + ": the file could not be read to its end";
        return false;
    }
    if (!readTouchstone(text, touchstonePorts(path), out, error)) {
        error = name + " " + error;
        return false;
    }
    return true;
}

bool parseTouchstone(std::string_view text, int ports, std::vector<SParamPoint>& points,
                     std::string& error) {
    Network n;
    if (!readTouchstone(text, ports, n, error)) return false;
    points.clear();
    const std::vector<std::complex<double>>& term = ports == 1 ? n.s11 : n.s21;
    for (std::size_t i = 0; i < n.hz.size(); ++i)
        points.push_back({n.hz[i] * 1e-9, term[i].real(), term[i].imag()});
    return true;
}

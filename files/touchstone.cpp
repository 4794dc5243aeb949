// Touchstone writing and reading.
#include "files/touchstone.h"

#include "files/file_io.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <numbers>

namespace {

void append(std::string& out, double v) {
    char buf[32];
    // Nine significant digits: well below the noise of any measurement, and round-trips the
    // frequency grid exactly enough to line up with the CSV.
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 9);
    out.append(buf, ec == std::errc() ? end : buf);
}

bool readNumber(std::string_view& s, double& v) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    if (s.empty()) return false;
    // from_chars does not take a leading '+'.
    if (s.front() == '+') s.remove_prefix(1);
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc() || !std::isfinite(v)) return false;
    s.remove_prefix(static_cast<std::size_t>(end - s.data()));
    return s.empty() || s.front() == ' ' || s.front() == '\t' || s.front() == '!';
}

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
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

bool parseTouchstone(std::string_view text, int ports, std::vector<SParamPoint>& points,
                     std::string& error) {
    std::vector<SParamPoint> read;
    double ghzPerUnit = 1.0;
    std::string format = "ma";
    bool sawOptions = false;
    int lineNo = 0;
    const std::size_t values = ports == 1 ? 3 : 9;
    while (!text.empty()) {
        const std::size_t nl = text.find('\n');
        std::string_view line = text.substr(0, nl);
        text.remove_prefix(nl == std::string_view::npos ? text.size() : nl + 1);
        ++lineNo;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (auto bang = line.find('!'); bang != std::string_view::npos) line = line.substr(0, bang);
        if (line.find_first_not_of(" \t") == std::string_view::npos) continue;
        const std::string where = "line " + std::to_string(lineNo) + ": ";
        if (line.front() == '#') {
            if (sawOptions) {
                error = where + "a second option line";
                return false;
            }
            sawOptions = true;
            const std::string o = lower(line.substr(1));
            ghzPerUnit = o.find("ghz") != std::string::npos   ? 1.0
                         : o.find("mhz") != std::string::npos ? 1e-3
                         : o.find("khz") != std::string::npos ? 1e-6
                         : o.find("hz") != std::string::npos  ? 1e-9
                                                              : 1.0;
            format = o.find(" ri") != std::string::npos   ? "ri"
                     : o.find(" db") != std::string::npos ? "db"
                                                          : "ma";
            if (o.find(" s ") == std::string::npos && o.find(" s\t") == std::string::npos &&
                !o.ends_with(" s")) {
                error = where + "only S-parameters are read";
                return false;
            }
            if (o.find(" r ") != std::string::npos && o.find(" r 50") == std::string::npos) {
                error = where + "only a 50 ohm reference is read";
                return false;
            }
            continue;
        }
        double v[9] = {};
        for (std::size_t i = 0; i < values; ++i)
            if (!readNumber(line, v[i])) {
                error = where + "expected " + std::to_string(values) + " numbers";
                return false;
            }
        if (line.find_first_not_of(" \t") != std::string_view::npos) {
            error = where + "more than " + std::to_string(values) + " numbers";
            return false;
        }
        // The measured term: S11 (values 1, 2) or S21 (values 3, 4).
        const double a = ports == 1 ? v[1] : v[3];
        const double b = ports == 1 ? v[2] : v[4];
        SParamPoint p;
        p.ghz = v[0] * ghzPerUnit;
        if (format == "ri") {
            p.re = a;
            p.im = b;
        } else {
            const double mag = format == "db" ? std::pow(10.0, a / 20.0) : a;
            const double rad = b * std::numbers::pi / 180.0;
            p.re = mag * std::cos(rad);
            p.im = mag * std::sin(rad);
        }
        read.push_back(p);
    }
    if (!sawOptions) {
        error = "no option line (# GHz S RI R 50)";
        return false;
    }
    points = std::move(read);
    return true;
}

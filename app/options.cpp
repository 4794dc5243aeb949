// Command-line parsing: every option is checked here, so a bad one stops before any window.
#include "app/options.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace {

bool parseSeconds(std::string_view s, double& out) {
    double v = 0.0;
    // from_chars is locale-independent: "2.5" means the same whatever LC_NUMERIC says.
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc() || end != s.data() + s.size() || !std::isfinite(v) || v < 0.0)
        return false;
    out = v;
    return true;
}

} // namespace

std::string usageText() {
    return "Usage: velt [options]\n"
           "  --simulate             use the simulated instrument instead of USB\n"
           "  --model CODE           simulated model: QSA002 QSA004 QSB008 QSA012 QSB016 "
           "QSB020 (default QSB020)\n"
           "  --dut FILE             device under test for the simulated instrument\n"
           "  --connect CH=WHAT      connect DEVICE, SHORT, OPEN, LOAD or THROUGH to a "
           "channel (repeatable)\n"
           "  --auto-solt            the simulated instrument connects each SOLT standard as "
           "prompted and confirms the prompt\n"
           "  --frequency-domain CH  once started, show S11 of stimulus channel CH (0 to 9)\n"
           "  --no-noise             switch the simulated instrument's noise off\n"
           "  --unplug-after S       unplug the simulated instrument S seconds after start-up\n"
           "  --screenshot PATH      save the window as PNG, then exit\n"
           "  --screenshot-after S   seconds to run before the screenshot (default 4)\n"
           "  --light                start with the light background\n"
           "  --help                 show this help\n"
           "  --version              show the version\n";
}

ParseResult parseOptions(int argc, const char* const* argv) {
    ParseResult r;
    Options& o = r.options;
    bool sawModel = false, sawAfter = false;
    auto fail = [&r](std::string msg) {
        r.ok = false;
        r.error = std::move(msg);
        return r;
    };
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i] ? argv[i] : "";
        std::string_view name = arg, value;
        bool inlineValue = false;
        if (auto eq = arg.find('='); arg.starts_with("--") && eq != std::string_view::npos) {
            name = arg.substr(0, eq);
            value = arg.substr(eq + 1);
            inlineValue = true;
        }
        auto takeValue = [&](std::string_view& out) {
            if (inlineValue) {
                out = value;
            } else if (i + 1 < argc && argv[i + 1]) {
                out = argv[++i];
            } else {
                return false;
            }
            return !out.empty();
        };
        bool flag = name == "--simulate" || name == "--no-noise" || name == "--help" ||
                    name == "-h" || name == "--version" || name == "--light" ||
                    name == "--auto-solt";
        if (flag && inlineValue) return fail("option " + std::string(name) + " takes no value");
        if (name == "--simulate") {
            o.simulate = true;
        } else if (name == "--no-noise") {
            o.noise = false;
        } else if (name == "--light") {
            o.light = true;
        } else if (name == "--help" || name == "-h") {
            o.help = true;
        } else if (name == "--version") {
            o.version = true;
        } else if (name == "--model") {
            std::string_view v;
            if (!takeValue(v)) return fail("option --model needs a model code");
            if (std::find(kModelCodes.begin(), kModelCodes.end(), v) == kModelCodes.end())
                return fail("unknown model '" + std::string(v) +
                            "' (one of QSA002 QSA004 QSB008 QSA012 QSB016 QSB020)");
            o.model = v;
            sawModel = true;
        } else if (name == "--dut") {
            std::string_view v;
            if (!takeValue(v)) return fail("option --dut needs a file name");
            o.dutFile = v;
        } else if (name == "--connect") {
            std::string_view v;
            if (!takeValue(v)) return fail("option --connect needs CH=WHAT");
            if (v.find('=') == std::string_view::npos)
                return fail("option --connect needs CH=WHAT, got '" + std::string(v) + "'");
            o.connections.emplace_back(v);
        } else if (name == "--auto-solt") {
            o.autoSolt = true;
        } else if (name == "--frequency-domain") {
            std::string_view v;
            if (!takeValue(v) || v.size() != 1 || v[0] < '0' || v[0] > '9')
                return fail("option --frequency-domain needs a channel from 0 to 9");
            o.frequencyChannel = v[0] - '0';
        } else if (name == "--unplug-after") {
            std::string_view v;
            if (!takeValue(v)) return fail("option --unplug-after needs seconds");
            if (!parseSeconds(v, o.unplugAfter))
                return fail("option --unplug-after needs a number of seconds, got '" +
                            std::string(v) + "'");
        } else if (name == "--screenshot") {
            std::string_view v;
            if (!takeValue(v)) return fail("option --screenshot needs a file name");
            o.screenshotPath = v;
        } else if (name == "--screenshot-after") {
            std::string_view v;
            if (!takeValue(v)) return fail("option --screenshot-after needs seconds");
            if (!parseSeconds(v, o.screenshotAfter))
                return fail("option --screenshot-after needs a number of seconds, got '" +
                            std::string(v) + "'");
            sawAfter = true;
        } else {
            return fail("unknown option '" + std::string(arg) + "' (see --help)");
        }
    }
    if (o.help || o.version) return r;
    // Options for the simulated instrument would be silently ignored on real hardware.
    if (!o.simulate && (sawModel || !o.dutFile.empty() || !o.connections.empty() || !o.noise ||
                        o.unplugAfter >= 0 || o.autoSolt))
        return fail("--model, --dut, --connect, --no-noise, --unplug-after and --auto-solt need "
                    "--simulate");
    if (sawAfter && o.screenshotPath.empty()) return fail("--screenshot-after needs --screenshot");
    return r;
}

// Command-line parsing: every option is checked here, so a bad one stops before any window or
// instrument traffic.
#include "app/options.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <memory>

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

// Values are taken as text and checked below: the messages name what is wrong, and numbers are
// read in the C locale. expected(0, 1) lets an option given without its value reach the check.
struct Raw {
    std::vector<std::string> model, dut, unplugAfter, screenshot, screenshotAfter, out, frequency,
        averaging;
    std::vector<std::string> connect;
    bool noNoise = false;
};

constexpr const char* kModelHelp =
    "simulated model: QSA002 QSA004 QSB008 QSA012 QSB016 QSB020 (default QSB020)";

void addInstrumentOptions(CLI::App& app, Options& o, Raw& raw) {
    app.add_flag("--simulate", o.simulate, "use the simulated instrument instead of USB")
        ->disable_flag_override();
    app.add_option("--model", raw.model, kModelHelp)
        ->expected(0, 1)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
        ->type_name("CODE");
    app.add_option("--dut", raw.dut, "device under test for the simulated instrument")
        ->expected(0, 1)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
        ->type_name("FILE");
    app.add_option("--connect", raw.connect,
                   "connect DEVICE, SHORT, OPEN, LOAD or THROUGH to a channel (repeatable)")
        ->expected(0, 1)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
        ->type_name("CH=WHAT");
    app.add_flag("--no-noise", raw.noNoise, "switch the simulated instrument's noise off")
        ->disable_flag_override();
}

struct Parser {
    CLI::App app{"VELT: time-domain reflectometer front end", "velt"};
    CLI::App* measure = nullptr;
    Options o;
    Raw raw, rawMeasure;

    Parser() {
        app.allow_extras();
        app.set_help_flag("-h,--help", "show this help");
        addInstrumentOptions(app, o, raw);
        app.add_option("--unplug-after", raw.unplugAfter,
                       "unplug the simulated instrument S seconds after start-up")
            ->expected(0, 1)
            ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
            ->type_name("S");
        app.add_option("--screenshot", raw.screenshot, "save the window as PNG, then exit")
            ->expected(0, 1)
            ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
            ->type_name("PATH");
        app.add_option("--screenshot-after", raw.screenshotAfter,
                       "seconds to run before the screenshot (default 4)")
            ->expected(0, 1)
            ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
            ->type_name("S");
        app.add_flag("--auto-solt", o.autoSolt,
                     "the simulated instrument connects each SOLT standard as prompted and "
                     "confirms the prompt")
            ->disable_flag_override();
        app.add_option("--frequency-domain", raw.frequency,
                       "once started, show S11 of stimulus channel CH (0 to 9)")
            ->expected(0, 1)
            ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
            ->type_name("CH");
        app.add_option("--averaging", raw.averaging, "once started, average N sweeps (1 to 1000)")
            ->expected(0, 1)
            ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
            ->type_name("N");
        app.add_flag("--light", o.light, "start with the light background")
            ->disable_flag_override();
        app.add_flag("--version", o.version, "show the version")->disable_flag_override();

        measure = app.add_subcommand(
            "measure", "run a measurement recipe without a window; exit 0 when every zone "
                       "passes, 1 when one fails, 2 on an instrument, file or recipe error");
        measure->allow_extras();
        measure->set_help_flag("-h,--help", "show this help");
        measure->add_option("RECIPE", o.recipePath, "the recipe (JSON)")->type_name("FILE");
        addInstrumentOptions(*measure, o, rawMeasure);
        measure->add_option("--out", rawMeasure.out, "write the outputs to this folder")
            ->expected(0, 1)
            ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
            ->type_name("DIR");
    }
};

// The value of an option that takes one; false (with the message) when it came without one.
bool single(const std::vector<std::string>& given, std::string& out, const char* name,
            const char* what, std::string& error) {
    if (given.empty()) return true;
    out = given.back();
    if (!out.empty()) return true;
    error = std::string("option ") + name + " needs " + what;
    return false;
}

} // namespace

ParseResult parseOptions(int argc, const char* const* argv) {
    ParseResult r;
    auto fail = [&r](std::string msg) {
        r.ok = false;
        r.error = std::move(msg);
        return r;
    };
    auto parser = std::make_unique<Parser>();
    Parser& p = *parser;
    // CLI11 wants writable strings; a null argument counts as an empty one.
    std::vector<std::string> args;
    for (int i = argc - 1; i >= 1; --i) args.emplace_back(argv[i] ? argv[i] : "");
    try {
        p.app.parse(args);
    } catch (const CLI::CallForHelp&) {
        p.o.help = true;
        p.o.helpText = p.measure->parsed() ? p.measure->help() : p.app.help();
        r.options = std::move(p.o);
        return r;
    } catch (const CLI::ArgumentMismatch& e) {
        // The one mismatch left is a value given to a flag ("--simulate=yes").
        std::string what = e.what();
        for (const char* flag : {"simulate", "no-noise", "light", "auto-solt", "version"})
            if (what.starts_with(flag))
                return fail(std::string("option --") + flag + " takes no value");
        return fail(what);
    } catch (const CLI::Error& e) {
        return fail(e.what());
    }
    Options& o = p.o;
    if (o.version) {
        r.options = std::move(o);
        return r;
    }
    const bool measuring = p.measure->parsed();
    o.command = measuring ? Command::Measure : Command::Window;
    const std::vector<std::string>& extras =
        measuring && !p.measure->remaining().empty() ? p.measure->remaining() : p.app.remaining();
    if (!extras.empty()) {
        if (measuring && !extras.front().starts_with("-") && o.recipePath != extras.front())
            return fail("measure takes one recipe, got '" + extras.front() + "' as well");
        return fail("unknown option '" + extras.front() + "' (see --help)");
    }

    std::string error;
    for (Raw* raw : {&p.raw, &p.rawMeasure}) {
        std::string model;
        if (!single(raw->model, model, "--model", "a model code", error)) return fail(error);
        if (!raw->model.empty()) {
            if (std::find(kModelCodes.begin(), kModelCodes.end(), model) == kModelCodes.end())
                return fail("unknown model '" + model +
                            "' (one of QSA002 QSA004 QSB008 QSA012 QSB016 QSB020)");
            o.model = model;
            o.modelGiven = true;
        }
        if (!single(raw->dut, o.dutFile, "--dut", "a file name", error)) return fail(error);
        for (const std::string& c : raw->connect) {
            if (c.empty()) return fail("option --connect needs CH=WHAT");
            if (c.find('=') == std::string::npos)
                return fail("option --connect needs CH=WHAT, got '" + c + "'");
            o.connections.push_back(c);
        }
        if (raw->noNoise) o.noise = false;
    }
    std::string text;
    if (!single(p.raw.unplugAfter, text, "--unplug-after", "seconds", error)) return fail(error);
    if (!text.empty() && !parseSeconds(text, o.unplugAfter))
        return fail("option --unplug-after needs a number of seconds, got '" + text + "'");
    if (!single(p.raw.screenshot, o.screenshotPath, "--screenshot", "a file name", error))
        return fail(error);
    text.clear();
    if (!single(p.raw.screenshotAfter, text, "--screenshot-after", "seconds", error))
        return fail(error);
    if (!text.empty() && !parseSeconds(text, o.screenshotAfter))
        return fail("option --screenshot-after needs a number of seconds, got '" + text + "'");
    if (!single(p.rawMeasure.out, o.outFolder, "--out", "a folder", error)) return fail(error);
    if (!p.raw.frequency.empty()) {
        const std::string& ch = p.raw.frequency.back();
        if (ch.size() != 1 || ch[0] < '0' || ch[0] > '9')
            return fail("option --frequency-domain needs a channel from 0 to 9");
        o.frequencyChannel = ch[0] - '0';
    }
    text.clear();
    if (!single(p.raw.averaging, text, "--averaging", "a number of sweeps", error))
        return fail(error);
    if (!text.empty()) {
        int n = 0;
        const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
        if (ec != std::errc() || end != text.data() + text.size() || n < 1 || n > 1000)
            return fail("option --averaging needs a number of sweeps from 1 to 1000, got '" + text +
                        "'");
        o.averaging = n;
    }

    if (measuring) {
        if (o.recipePath.empty()) return fail("measure needs a recipe file");
        // A batch run has no window to unplug from or to photograph.
        if (o.unplugAfter >= 0 || !o.screenshotPath.empty() || o.autoSolt ||
            o.frequencyChannel >= 0)
            return fail("--unplug-after, --screenshot, --auto-solt and --frequency-domain do not "
                        "go with measure");
        // The recipe may ask for the simulator itself: the batch run checks the rest.
        r.options = std::move(o);
        return r;
    }
    // Options for the simulated instrument would be silently ignored on real hardware.
    if (!o.simulate && (o.modelGiven || !o.dutFile.empty() || !o.connections.empty() || !o.noise ||
                        o.unplugAfter >= 0 || o.autoSolt))
        return fail("--model, --dut, --connect, --no-noise, --unplug-after and --auto-solt need "
                    "--simulate");
    if (!p.raw.screenshotAfter.empty() && o.screenshotPath.empty())
        return fail("--screenshot-after needs --screenshot");
    r.options = std::move(o);
    return r;
}

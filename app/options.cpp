// Command-line parsing: every option is checked here, so a bad one stops before any window or
// instrument traffic.
#include "app/options.h"

#include "files/results_db.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <limits>
#include <memory>

namespace {

// A whole or real number in the C locale (from_chars is locale-independent: "2.5" means the
// same whatever LC_NUMERIC says), the whole text and within [lo, hi].
template <typename T> bool parseNumber(std::string_view s, T lo, T hi, T& out) {
    T v{};
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc() || end != s.data() + s.size() || !(v >= lo && v <= hi)) return false;
    out = v;
    return true;
}

constexpr const char* kModelHelp =
    "simulated model: QSA002 QSA004 QSB008 QSA012 QSB016 QSB020 (default QSB020)";

// What an option's value is, for "option --x needs <what>" when it came without one.
struct ValueName {
    const char* option;
    const char* what;
};
constexpr ValueName kValueNames[] = {
    {"--model", "a model code"},
    {"--dut", "a file name"},
    {"--connect", "CH=WHAT"},
    {"--unplug-after", "seconds"},
    {"--screenshot", "a file name"},
    {"--screenshot-after", "seconds"},
    {"--averaging", "a number of sweeps"},
    {"--out", "a folder"},
    {"--frequency-domain", "a channel from 0 to 9"},
    {"--remote", "[ADDRESS:]PORT"},
    {"--listen", "[ADDRESS:]PORT"},
    {"--data-dir", "a folder"},
    {"--seed", "a whole number or 'random'"},
    {"--reference", "a Touchstone file"},
    {"--results", "a database (a file, a postgresql:// URI or 'none')"},
    {"--serial", "a serial number"},
    {"--lot", "a lot"},
    {"--operator", "a name"},
    {"--station-name", "a name"},
    {"--station", "a recipe file"},
    {"--recipe", "a recipe name"},
    {"--since", "a date"},
    {"--until", "a date"},
    {"--format", "table, csv or json"},
    {"--zone", "a zone name"},
    {"--subgroup", "a subgroup size from 1 to 10"},
    {"--last", "a number of records"},
    {"--min-cpk", "a number"},
};

// "[ADDRESS:]PORT", an IPv6 address in brackets ("[::1]:5025").
bool parseEndpoint(const std::string& text, std::string& address, int& port) {
    const std::size_t colon = text.rfind(':');
    std::string host = colon == std::string::npos ? "" : text.substr(0, colon);
    const std::string number = colon == std::string::npos ? text : text.substr(colon + 1);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    int p = 0;
    if (!parseNumber(std::string_view(number), 1, 65535, p)) return false;
    if (colon != std::string::npos && host.empty()) return false;
    if (!host.empty()) address = host;
    port = p;
    return true;
}

// Numbers are taken as text and read below: the messages name what is wrong, and numbers are
// read in the C locale.
struct Parser {
    CLI::App app{"VELT: time-domain reflectometer front end", "velt"};
    CLI::App* measure = nullptr;
    CLI::App* serve = nullptr;
    CLI::App* results = nullptr;
    CLI::App* spc = nullptr;
    Options o;
    bool noNoise = false;
    std::string unplugAfter, screenshotAfter, frequency, averaging, remote, listen, seed;
    std::string subgroup, last, minCpk;

    void addDataOptions(CLI::App& a) {
        a.add_option("--data-dir", o.dataDir,
                     "keep the data folders and user.ini in DIR (created if missing) instead of "
                     "the working directory")
            ->type_name("DIR");
        a.add_flag("--user-data", o.userData,
                   "keep them in the user's data folder ($XDG_DATA_HOME/velt, else "
                   "~/.local/share/velt)");
    }

    void addResultsTarget(CLI::App& a) {
        a.add_option("--results", o.results,
                     "record each judged measurement in this database: an SQLite file (default "
                     "results.sqlite in the data folder), postgresql://user@host[:port]/db, or "
                     "none")
            ->type_name("TARGET");
    }
    void addRecordOptions(CLI::App& a) {
        addResultsTarget(a);
        a.add_option("--serial", o.serial, "the serial number of the device measured")
            ->type_name("S");
        a.add_option("--lot", o.lot, "the lot (order, panel or reel) it belongs to")
            ->type_name("L");
        a.add_option("--operator", o.operatorName, "who measures")->type_name("NAME");
        a.add_option("--station-name", o.stationName, "this station (default: the host name)")
            ->type_name("NAME");
    }

    void addInstrumentOptions(CLI::App& a) {
        a.add_flag("--simulate", o.simulate, "use the simulated instrument instead of USB");
        a.add_option("--model", o.model, kModelHelp)->type_name("CODE");
        a.add_option("--dut", o.dutFile, "device under test for the simulated instrument")
            ->type_name("FILE");
        a.add_option("--connect", o.connections,
                     "connect DEVICE, SHORT, OPEN, LOAD or THROUGH to a channel (repeatable)")
            ->type_name("CH=WHAT");
        a.add_flag("--no-noise", noNoise, "switch the simulated instrument's noise off");
        a.add_option("--seed", seed,
                     "start the simulated noise from seed N (0, the default, gives the same "
                     "noise every run) or from a random one, which the log names")
            ->type_name("N|random");
    }

    Parser() {
        app.allow_extras();
        app.set_help_flag("-h,--help", "show this help");
        // A repeated option counts once, the last one given; a flag takes no value.
        app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
        app.option_defaults()->disable_flag_override();
        addInstrumentOptions(app);
        addDataOptions(app);
        app.add_option("--unplug-after", unplugAfter,
                       "unplug the simulated instrument S seconds after start-up")
            ->type_name("S");
        app.add_option("--screenshot", o.screenshotPath, "save the window as PNG, then exit")
            ->type_name("PATH");
        app.add_option("--screenshot-after", screenshotAfter,
                       "seconds to run before the screenshot (default 4)")
            ->type_name("S");
        app.add_option("--reference", o.references,
                       "lay a Touchstone file (.s1p, .s2p) over the live trace (repeatable, up "
                       "to 8)")
            ->type_name("FILE");
        app.add_flag("--auto-solt", o.autoSolt,
                     "the simulated instrument connects each SOLT standard as prompted and "
                     "confirms the prompt");
        app.add_option("--frequency-domain", frequency,
                       "once started, show S11 of stimulus channel CH (0 to 9)")
            ->type_name("CH");
        app.add_option("--averaging", averaging, "once started, average N sweeps (1 to 1000)")
            ->type_name("N");
        app.add_flag("--light", o.light, "start with the light background");
        app.add_option("--remote", remote,
                       "serve SCPI remote control on PORT (on ADDRESS; default this machine only)")
            ->type_name("[ADDRESS:]PORT");
        app.add_flag("--version", o.version, "show the version");
        app.add_option("--station", o.stationRecipe,
                       "operator station: the window set up by RECIPE and locked to it; a scanned "
                       "serial starts each test")
            ->type_name("RECIPE");
        addRecordOptions(app);

        measure = app.add_subcommand(
            "measure", "run a measurement recipe without a window; exit 0 when every zone "
                       "passes, 1 when one fails, 2 on an instrument, file or recipe error");
        measure->allow_extras();
        measure->set_help_flag("-h,--help", "show this help");
        measure->add_option("RECIPE", o.recipePath, "the recipe (JSON)")->type_name("FILE");
        addInstrumentOptions(*measure);
        measure->add_option("--out", o.outFolder, "write the outputs to this folder")
            ->type_name("DIR");
        addRecordOptions(*measure);

        serve = app.add_subcommand("serve", "serve SCPI remote control without a window, until "
                                            "SYSTem:EXIT or a signal ends it");
        serve->allow_extras();
        serve->set_help_flag("-h,--help", "show this help");
        addInstrumentOptions(*serve);
        addDataOptions(*serve);
        serve
            ->add_option("--listen", listen,
                         "listen on PORT (on ADDRESS; default 127.0.0.1:5025, this machine only)")
            ->type_name("[ADDRESS:]PORT");
        addRecordOptions(*serve);

        results = app.add_subcommand("results", "list the recorded measurements, oldest first");
        results->allow_extras();
        results->set_help_flag("-h,--help", "show this help");
        addResultsTarget(*results);
        addDataOptions(*results);
        results->add_option("--recipe", o.queryRecipe, "only this recipe's")->type_name("NAME");
        results->add_option("--serial", o.serial, "only this serial's")->type_name("S");
        results->add_option("--lot", o.lot, "only this lot's")->type_name("L");
        results->add_option("--since", o.since, "from this UTC date or time (2026-12-11[T08:00])")
            ->type_name("DATE");
        results->add_option("--until", o.until, "up to this UTC date (the whole day) or time")
            ->type_name("DATE");
        results->add_option("--format", o.format, "table (default), csv or json")
            ->type_name("FORMAT");
        results->add_flag("--flush", o.flush,
                          "send the records spooled while the database could not be reached");

        spc = app.add_subcommand(
            "spc", "control charts and capability of each zone of a recipe's records");
        spc->allow_extras();
        spc->set_help_flag("-h,--help", "show this help");
        addResultsTarget(*spc);
        addDataOptions(*spc);
        spc->add_option("--recipe", o.queryRecipe, "the recipe's records (required)")
            ->type_name("NAME");
        spc->add_option("--zone", o.zone, "only this zone (default: every zone)")
            ->type_name("NAME");
        spc->add_option("--subgroup", subgroup,
                        "consecutive records per subgroup, 2 to 10 (default 5); 1: individuals "
                        "and moving ranges")
            ->type_name("N");
        spc->add_option("--since", o.since, "from this UTC date or time")->type_name("DATE");
        spc->add_option("--until", o.until, "up to this UTC date (the whole day) or time")
            ->type_name("DATE");
        spc->add_option("--lot", o.lot, "only this lot's")->type_name("L");
        spc->add_option("--station", o.queryStation, "only this station's")->type_name("S");
        spc->add_option("--last", last, "only the newest N records")->type_name("N");
        spc->add_option("--out", o.outFolder, "write spc.json and the charts here (default spc)")
            ->type_name("DIR");
        spc->add_option("--min-cpk", minCpk,
                        "exit 1 when a zone's Cpk falls below X or a rule is violated")
            ->type_name("X");
    }

    // The option given empty ("--dut="), or nullptr.
    const ValueName* emptyValue() const {
        for (const ValueName& v : kValueNames)
            for (const CLI::App* a :
                 {&app, static_cast<const CLI::App*>(measure), static_cast<const CLI::App*>(serve),
                  static_cast<const CLI::App*>(results), static_cast<const CLI::App*>(spc)})
                if (const CLI::Option* opt = a->get_option_no_throw(v.option))
                    if (opt->count() > 0 &&
                        std::ranges::any_of(opt->results(), [](auto& r) { return r.empty(); }))
                        return &v;
        return nullptr;
    }
};

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
        p.o.helpText = p.measure->parsed()   ? p.measure->help()
                       : p.serve->parsed()   ? p.serve->help()
                       : p.results->parsed() ? p.results->help()
                       : p.spc->parsed()     ? p.spc->help()
                                             : p.app.help();
        r.options = std::move(p.o);
        return r;
    } catch (const CLI::ArgumentMismatch& e) {
        // An option that needs a value came without one, or a flag came with one.
        const std::string what = e.what();
        for (const ValueName& v : kValueNames)
            if (what.starts_with(std::string(v.option) + ":"))
                return fail(std::string("option ") + v.option + " needs " + v.what);
        for (const char* flag :
             {"simulate", "no-noise", "light", "auto-solt", "version", "user-data", "flush"})
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
    const bool serving = p.serve->parsed();
    const bool charting = p.spc->parsed();
    const bool listing = p.results->parsed() || charting;
    o.command = measuring  ? Command::Measure
                : serving  ? Command::Serve
                : charting ? Command::Spc
                : listing  ? Command::Results
                           : Command::Window;
    const std::vector<std::string>& extras =
        measuring && !p.measure->remaining().empty() ? p.measure->remaining()
        : serving && !p.serve->remaining().empty()   ? p.serve->remaining()
        : listing && !p.results->remaining().empty() ? p.results->remaining()
        : charting && !p.spc->remaining().empty()    ? p.spc->remaining()
                                                     : p.app.remaining();
    if (!extras.empty()) {
        if (measuring && !extras.front().starts_with("-") && o.recipePath != extras.front())
            return fail("measure takes one recipe, got '" + extras.front() + "' as well");
        return fail("unknown option '" + extras.front() + "' (see --help)");
    }
    if (const ValueName* v = p.emptyValue())
        return fail(std::string("option ") + v->option + " needs " + v->what);

    o.resultsGiven = p.app.count("--results") + p.measure->count("--results") +
                         p.serve->count("--results") + p.results->count("--results") +
                         p.spc->count("--results") >
                     0;
    if (o.results.empty()) return fail("option --results needs a database");
    if (listing) {
        for (const auto& [name, value] : {std::pair{"--since", &o.since}, {"--until", &o.until}})
            if (!value->empty() && !results::isQueryTime(*value))
                return fail(std::string("option ") + name +
                            " needs a UTC date or time as 2026-12-11 or 2026-12-11T08:30, got '" +
                            *value + "'");
        if (o.format != "table" && o.format != "csv" && o.format != "json")
            return fail("option --format needs table, csv or json, got '" + o.format + "'");
        if (charting) {
            if (o.queryRecipe.empty()) return fail("spc needs --recipe NAME");
            if (!p.subgroup.empty() &&
                !parseNumber(std::string_view(p.subgroup), 1, 10, o.subgroup))
                return fail("option --subgroup needs a whole number from 1 to 10, got '" +
                            p.subgroup + "'");
            int newest = 0;
            if (!p.last.empty() && !parseNumber(std::string_view(p.last), 1, 100000000, newest))
                return fail("option --last needs a whole number of records from 1, got '" + p.last +
                            "'");
            o.last = static_cast<std::size_t>(newest);
            if (!p.minCpk.empty()) {
                if (!parseNumber(std::string_view(p.minCpk), 0.0, 100.0, o.minCpk))
                    return fail("option --min-cpk needs a number from 0 to 100, got '" + p.minCpk +
                                "'");
                o.minCpkGiven = true;
            }
        }
        if (o.results == "none")
            return fail(std::string(charting ? "spc" : "results") +
                        " --results none: no database to read");
        if (!o.dataDir.empty() && o.userData)
            return fail("--data-dir and --user-data name two folders");
        if (o.userData && (o.dataDir = userDataDir()).empty())
            return fail("--user-data needs XDG_DATA_HOME or HOME");
        r.options = std::move(o);
        return r;
    }
    o.modelGiven =
        p.app.count("--model") + p.measure->count("--model") + p.serve->count("--model") > 0;
    const std::string& endpoint = serving ? p.listen : p.remote;
    o.remote = serving || !p.remote.empty();
    if (!endpoint.empty() && !parseEndpoint(endpoint, o.remoteAddress, o.remotePort))
        return fail(std::string("option ") + (serving ? "--listen" : "--remote") +
                    " needs [ADDRESS:]PORT with a port from 1 to 65535, got '" + endpoint + "'");
    if (std::find(kModelCodes.begin(), kModelCodes.end(), o.model) == kModelCodes.end())
        return fail("unknown model '" + o.model +
                    "' (one of QSA002 QSA004 QSB008 QSA012 QSB016 QSB020)");
    for (const std::string& c : o.connections)
        if (c.find('=') == std::string::npos)
            return fail("option --connect needs CH=WHAT, got '" + c + "'");
    if (p.noNoise) o.noise = false;
    o.seedGiven = !p.seed.empty();
    if (p.seed == "random")
        o.randomSeed = true;
    else if (o.seedGiven && !parseNumber(p.seed, std::uint64_t{0},
                                         std::numeric_limits<std::uint64_t>::max(), o.seed))
        return fail("option --seed needs a whole number from 0 or 'random', got '" + p.seed + "'");
    constexpr double kInf = std::numeric_limits<double>::max(); // and no infinity
    if (!p.unplugAfter.empty() && !parseNumber(p.unplugAfter, 0.0, kInf, o.unplugAfter))
        return fail("option --unplug-after needs a number of seconds, got '" + p.unplugAfter + "'");
    if (!p.screenshotAfter.empty() && !parseNumber(p.screenshotAfter, 0.0, kInf, o.screenshotAfter))
        return fail("option --screenshot-after needs a number of seconds, got '" +
                    p.screenshotAfter + "'");
    if (!p.frequency.empty() &&
        (p.frequency.size() != 1 || !parseNumber(p.frequency, 0, 9, o.frequencyChannel)))
        return fail("option --frequency-domain needs a channel from 0 to 9");
    if (!p.averaging.empty() && !parseNumber(p.averaging, 1, 1000, o.averaging))
        return fail("option --averaging needs a number of sweeps from 1 to 1000, got '" +
                    p.averaging + "'");

    // Before measure's own checks: `velt --user-data measure r.json` keeps its data there too.
    if (!o.dataDir.empty() && o.userData)
        return fail("--data-dir and --user-data name two folders");
    if (o.userData && (o.dataDir = userDataDir()).empty())
        return fail("--user-data needs XDG_DATA_HOME or HOME");
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
    if (serving && (o.unplugAfter >= 0 || !o.screenshotPath.empty() || o.autoSolt ||
                    o.frequencyChannel >= 0 || o.light || o.averaging > 0))
        return fail("serve has no window: it takes the instrument options and --listen");
    if (!o.stationRecipe.empty() && (o.remote || o.frequencyChannel >= 0 || o.autoSolt))
        return fail("--station runs the recipe's measurement: no --remote, --frequency-domain or "
                    "--auto-solt");
    // Options for the simulated instrument would be silently ignored on real hardware.
    if (!o.simulate && (o.modelGiven || !o.dutFile.empty() || !o.connections.empty() || !o.noise ||
                        o.seedGiven || o.unplugAfter >= 0 || o.autoSolt))
        return fail("--model, --dut, --connect, --no-noise, --seed, --unplug-after and --auto-solt "
                    "need --simulate");
    if (!p.screenshotAfter.empty() && o.screenshotPath.empty())
        return fail("--screenshot-after needs --screenshot");
    r.options = std::move(o);
    return r;
}

std::string userDataDir() {
    const char* xdg = std::getenv("XDG_DATA_HOME");
    if (xdg != nullptr && xdg[0] == '/') return std::string(xdg) + "/velt";
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] != '\0') return std::string(home) + "/.local/share/velt";
    return "";
}

namespace {

// Troff text: a leading dot or quote would be a request, a backslash an escape, a hyphen may
// break.
std::string roff(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\\')
            out += "\\e";
        else if (c == '-')
            out += "\\-";
        else
            out += c;
    }
    if (!out.empty() && (out.front() == '.' || out.front() == '\'')) out.insert(0, "\\&");
    return out;
}

void manOptions(const CLI::App& a, std::string& out) {
    for (const CLI::Option* opt : a.get_options()) {
        std::string names;
        for (const std::string& n : opt->get_lnames()) names += (names.empty() ? "--" : ", --") + n;
        for (const std::string& n : opt->get_snames()) names += (names.empty() ? "-" : ", -") + n;
        if (names.empty()) names = opt->get_name(); // a positional argument
        const std::string type = opt->get_type_name();
        const std::string value = type.empty() ? "" : " " + type;
        out += ".TP\n.B " + roff(names) + (value.empty() ? "" : "\n.I " + roff(value.substr(1))) +
               "\n" + roff(opt->get_description()) + "\n";
    }
}

} // namespace

std::string manPage(const std::string& version) {
    Parser p;
    std::string out = ".TH VELT 1 \"\" \"VELT " + roff(version) + "\" \"User Commands\"\n";
    out += ".SH NAME\nvelt \\- time-domain reflectometer front end\n";
    out += ".SH SYNOPSIS\n.B velt\n[\\fIOPTION\\fR...]\n.br\n.B velt measure\n\\fIRECIPE\\fR "
           "[\\fIOPTION\\fR...]\n.br\n.B velt serve\n[\\fIOPTION\\fR...]\n.br\n.B velt "
           "results\n[\\fIOPTION\\fR...]\n.br\n.B velt spc\n[\\fIOPTION\\fR...]\n";
    out += ".SH DESCRIPTION\nVELT drives a USB time-domain reflectometer (or a simulated one), "
           "shows the step response "
           "as voltage, impedance or reflection coefficient against distance or time, and S11 "
           "and S21 after a SOLT calibration.\n";
    out += ".SH OPTIONS\n";
    manOptions(p.app, out);
    for (const CLI::App* sub : {p.measure, p.serve, p.results, p.spc}) {
        out +=
            ".SH " + roff("velt " + sub->get_name()) + "\n" + roff(sub->get_description()) + ".\n";
        manOptions(*sub, out);
    }
    out += ".SH FILES\nThe folders calibrations, datalogs, images, settings and waveforms and the "
           "file user.ini, in the working directory or the folder \\fB\\-\\-data\\-dir\\fR or "
           "\\fB\\-\\-user\\-data\\fR names.\n";
    out += ".SH SEE ALSO\n/usr/share/doc/velt/README.md, remote.md and batch.md there.\n";
    return out;
}

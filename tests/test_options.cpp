// Command-line parsing: accepted forms and every rejection with its message.
#include "app/options.h"

#include <gtest/gtest.h>

#include <cctype>
#include <set>
#include <string>
#include <vector>

namespace {

ParseResult parse(std::vector<const char*> args) {
    args.insert(args.begin(), "velt");
    return parseOptions(static_cast<int>(args.size()), args.data());
}

TEST(Options, NoArgumentsMeansTheFirstFtdiDevice) {
    ParseResult r = parse({});
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_FALSE(r.options.simulate);
    EXPECT_EQ(r.options.model, "QSB020");
    EXPECT_TRUE(r.options.screenshotPath.empty());
    EXPECT_FALSE(r.options.light);
}

TEST(Options, SimulatorWithEverything) {
    ParseResult r =
        parse({"--simulate", "--model", "QSA004", "--dut=line.dut", "--connect", "2=OPEN",
               "--connect=7=THROUGH", "--no-noise", "--screenshot", "shot.png",
               "--screenshot-after", "2.5", "--unplug-after", "10", "--light"});
    ASSERT_TRUE(r.ok) << r.error;
    const Options& o = r.options;
    EXPECT_TRUE(o.simulate);
    EXPECT_EQ(o.model, "QSA004");
    EXPECT_EQ(o.dutFile, "line.dut");
    EXPECT_EQ(o.connections, (std::vector<std::string>{"2=OPEN", "7=THROUGH"}));
    EXPECT_FALSE(o.noise);
    EXPECT_TRUE(parse({"--simulate"}).options.noise) << "noise is on unless switched off";
    EXPECT_EQ(o.screenshotPath, "shot.png");
    EXPECT_DOUBLE_EQ(o.screenshotAfter, 2.5);
    EXPECT_DOUBLE_EQ(o.unplugAfter, 10.0);
    EXPECT_LT(parse({"--simulate"}).options.unplugAfter, 0) << "never unplugged by default";
    EXPECT_TRUE(o.light);
}

// --user-data: $XDG_DATA_HOME/velt when it is an absolute path, else ~/.local/share/velt; for a
// batch run as well as for the window.
TEST(Options, UserDataFollowsXdgOnlyWhenItIsAbsolute) {
    const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
    setenv("HOME", "/home/u", 1);
    for (const char* xdg : {"/xdg", "rel"}) {
        setenv("XDG_DATA_HOME", xdg, 1);
        EXPECT_EQ(parse({"--user-data", "measure", "r.json"}).options.dataDir,
                  xdg[0] == '/' ? "/xdg/velt" : "/home/u/.local/share/velt");
    }
    unsetenv("XDG_DATA_HOME");
    setenv("HOME", home.c_str(), 1);
}

TEST(Options, FrequencyDomainDemonstration) {
    ParseResult r = parse({"--simulate", "--auto-solt", "--frequency-domain", "7"});
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_TRUE(r.options.autoSolt);
    EXPECT_EQ(r.options.frequencyChannel, 7);
    EXPECT_EQ(parse({"--auto-solt"}).error,
              "--model, --dut, --connect, --no-noise, --seed, --unplug-after and --auto-solt need "
              "--simulate");
    for (const char* bad : {"10", "x", "-1"})
        EXPECT_EQ(parse({"--frequency-domain", bad}).error,
                  "option --frequency-domain needs a channel from 0 to 9")
            << bad;
    EXPECT_FALSE(parse({"--simulate", "--auto-solt=yes"}).ok);
}

TEST(Options, EveryModelCodeIsAccepted) {
    for (std::string_view code : kModelCodes) {
        std::string s(code);
        ParseResult r = parse({"--simulate", "--model", s.c_str()});
        EXPECT_TRUE(r.ok) << code << ": " << r.error;
        EXPECT_EQ(r.options.model, code);
    }
}

TEST(Options, HelpAndVersionWinOverEverythingElse) {
    EXPECT_TRUE(parse({"--help", "--model", "QSA004"}).options.help);
    EXPECT_TRUE(parse({"--model", "QSA004", "--version"}).options.version);
}

TEST(Options, MeasureTakesTheRecipeAndTheInstrumentOptionsOnEitherSide) {
    ParseResult r = parse({"--no-noise", "measure", "cable.json", "--simulate", "--model=QSA004",
                           "--dut", "line60.dut", "--connect", "2=DEVICE", "--out", "res"});
    ASSERT_TRUE(r.ok) << r.error;
    const Options& o = r.options;
    EXPECT_EQ(o.command, Command::Measure);
    EXPECT_EQ(o.recipePath, "cable.json");
    EXPECT_TRUE(o.simulate);
    EXPECT_FALSE(o.noise);
    EXPECT_EQ(o.model, "QSA004");
    EXPECT_TRUE(o.modelGiven);
    EXPECT_EQ(o.dutFile, "line60.dut");
    EXPECT_EQ(o.connections, (std::vector<std::string>{"2=DEVICE"}));
    EXPECT_EQ(o.outFolder, "res");
    // The recipe may name the simulator itself, so --model alone is no error here.
    EXPECT_TRUE(parse({"measure", "r.json", "--model", "QSA002"}).ok);
    EXPECT_EQ(parse({}).options.command, Command::Window);
}

TEST(Options, EachCommandHasItsOwnHelp) {
    ParseResult top = parse({"--help"});
    ParseResult measure = parse({"measure", "--help"});
    ASSERT_TRUE(top.ok && measure.ok);
    EXPECT_TRUE(measure.options.help);
    for (const char* option : {"--simulate", "--screenshot-after", "--version", "measure"})
        EXPECT_NE(top.options.helpText.find(option), std::string::npos) << option;
    for (const char* option : {"RECIPE", "--out", "--dut", "exit 0"})
        EXPECT_NE(measure.options.helpText.find(option), std::string::npos) << option;
    EXPECT_EQ(measure.options.helpText.find("--screenshot"), std::string::npos);
}

struct Rejection {
    std::vector<const char*> args;
    const char* message; // part of the error text
};

class OptionsRejected : public testing::TestWithParam<Rejection> {};

TEST_P(OptionsRejected, WithAClearMessage) {
    ParseResult r = parse(GetParam().args);
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.error.find(GetParam().message), std::string::npos) << r.error;
}

INSTANTIATE_TEST_SUITE_P(
    Bad, OptionsRejected,
    testing::Values(
        Rejection{{"--frobnicate"}, "unknown option '--frobnicate'"},
        Rejection{{"results", "--format", "xml"}, "--format needs table, csv or json, got 'xml'"},
        Rejection{{"results", "--since", "yesterday"}, "--since needs a UTC date or time"},
        Rejection{{"results", "--until", "2026-13-01"}, "--until needs a UTC date or time"},
        Rejection{{"results", "--results", "none"}, "no database to read"},
        Rejection{{"spc"}, "spc needs --recipe NAME"},
        Rejection{{"spc", "--recipe", "r", "--subgroup", "11"},
                  "--subgroup needs a whole number from 1 to 10, got '11'"},
        Rejection{{"spc", "--recipe", "r", "--last", "0"}, "--last needs a whole number"},
        Rejection{{"spc", "--recipe", "r", "--min-cpk", "1,33"}, "--min-cpk needs a number"},
        Rejection{{"spc", "--recipe", "r", "--since", "May"}, "--since needs a UTC date or time"},
        Rejection{{"measure", "r.json", "--results"}, "--results needs a database"},
        Rejection{{"--simulate", "--station", "r.json", "--remote", "5025"},
                  "--station runs the recipe's measurement"},
        Rejection{{"-platform", "offscreen"}, "unknown option '-platform'"},
        Rejection{{"--simulate", "--model", "QSX999"}, "unknown model 'QSX999'"},
        Rejection{{"--simulate", "--model"}, "--model needs a model code"},
        Rejection{{"--simulate", "--model="}, "--model needs a model code"},
        Rejection{{"--simulate", "--dut"}, "--dut needs a file name"},
        Rejection{{"--simulate", "--connect", "OPEN"}, "needs CH=WHAT"},
        Rejection{{"--screenshot"}, "--screenshot needs a file name"},
        Rejection{{"--screenshot", "a.png", "--screenshot-after", "soon"},
                  "needs a number of seconds, got 'soon'"},
        Rejection{{"--screenshot", "a.png", "--screenshot-after", "-1"},
                  "needs a number of seconds"},
        Rejection{{"--screenshot", "a.png", "--screenshot-after", "2,5"},
                  "needs a number of seconds"},
        Rejection{{"--screenshot-after", "3"}, "needs --screenshot"},
        Rejection{{"--model", "QSA004"}, "need --simulate"},
        Rejection{{"--dut", "x.dut"}, "need --simulate"},
        Rejection{{"--connect", "2=OPEN"}, "need --simulate"},
        Rejection{{"--no-noise"}, "need --simulate"},
        Rejection{{"--unplug-after", "5"}, "need --simulate"},
        Rejection{{"--seed", "5"}, "need --simulate"},
        Rejection{{"--simulate", "--seed", "-1"}, "--seed needs a whole number from 0 or 'random'"},
        Rejection{{"--simulate", "--seed"}, "--seed needs a whole number or 'random'"},
        Rejection{{"--data-dir", "d", "--user-data", "measure", "a.json"}, "name two folders"},
        Rejection{{"--simulate", "--unplug-after", "x"}, "needs a number of seconds"},
        Rejection{{"--simulate", "--no-noise=1"}, "takes no value"},
        Rejection{{"--simulate=yes"}, "takes no value"},
        Rejection{{"measure"}, "measure needs a recipe file"},
        Rejection{{"measure", "a.json", "b.json"}, "got 'b.json' as well"},
        Rejection{{"measure", "a.json", "--screenshot", "x.png"}, "unknown option '--screenshot'"},
        Rejection{{"--screenshot", "x.png", "measure", "a.json"}, "do not go with measure"},
        Rejection{{"measure", "a.json", "--out"}, "--out needs a folder"},
        Rejection{{"measure", "a.json", "--model", "QSZ"}, "unknown model 'QSZ'"}));

} // namespace

// The manual is written from the option tables: every option --help lists for a command is in
// its section of the manual, and nothing else is.
TEST(Options, TheManualListsTheOptionsHelpLists) {
    auto optionsIn = [](const std::string& text, const std::string& marker) {
        std::set<std::string> names;
        for (std::size_t at = text.find(marker); at != std::string::npos;
             at = text.find(marker, at + 1)) {
            std::size_t end = at + marker.size();
            while (end < text.size() && (std::isalnum(static_cast<unsigned char>(text[end])) ||
                                         text[end] == '-' || text[end] == '\\'))
                ++end;
            std::string name = text.substr(at + marker.size(), end - at - marker.size());
            std::erase(name, '\\');
            names.insert(name);
        }
        return names;
    };
    const std::string man = manPage("1.0");
    const std::vector<std::pair<std::vector<std::string>, std::string>> commands = {
        {{"--help"}, man.substr(0, man.find(".SH velt measure"))},
        {{"measure", "--help"},
         man.substr(man.find(".SH velt measure"),
                    man.find(".SH velt serve") - man.find(".SH velt measure"))},
        {{"serve", "--help"},
         man.substr(man.find(".SH velt serve"),
                    man.find(".SH velt results") - man.find(".SH velt serve"))},
        {{"results", "--help"},
         man.substr(man.find(".SH velt results"),
                    man.find(".SH velt spc") - man.find(".SH velt results"))},
        {{"spc", "--help"}, man.substr(man.find(".SH velt spc"))}};
    for (const auto& [args, section] : commands) {
        std::vector<const char*> argv = {"velt"};
        for (const std::string& a : args) argv.push_back(a.c_str());
        const std::string help =
            parseOptions(static_cast<int>(argv.size()), argv.data()).options.helpText;
        EXPECT_EQ(optionsIn(help, "--"), optionsIn(section, ".B \\-\\-")) << args[0];
        EXPECT_NE(section.find(".B \\-\\-help, \\-h\n"), std::string::npos) << args[0];
    }
}

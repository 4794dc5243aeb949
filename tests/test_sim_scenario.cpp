// Device-under-test descriptions and connection options: what is accepted, what is refused.
#include "simulator/sim_device.h"
#include "simulator/sim_scenario.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

using simulator::Connection;
using simulator::Ending;
using simulator::SimulatedInstrument;

namespace {

TEST(SimScenario, GoodDescriptionParsesIntoSectionsEndingsAndCoupling) {
    std::string err;
    const auto sc =
        simulator::parseScenario("# a comment line\n"
                                 "\n"
                                 "channel 2: line 50 0.5 2.25 0; line 75 0.3 2.25; open\n"
                                 "  CHANNEL 7 :  load 25   # trailing comment\r\n"
                                 "channel 1: line 50 1e-1 4 0.5; short\n"
                                 "channel 3: line 60 0.2 2.25 0; through\n"
                                 "channel 8: through\n"
                                 "coupling next 0.02\n"
                                 "coupling FEXT 0.01",
                                 err);
    ASSERT_TRUE(sc) << err;
    const auto& c2 = sc->channels[2];
    ASSERT_EQ(c2.sections.size(), 2u);
    EXPECT_DOUBLE_EQ(c2.sections[1].ohms, 75);
    EXPECT_DOUBLE_EQ(c2.sections[1].length, 0.3);
    EXPECT_DOUBLE_EQ(c2.sections[1].lossDbPerM, 0.0) << "loss is optional";
    EXPECT_EQ(c2.ending, Ending::Open);
    EXPECT_EQ(sc->channels[7].ending, Ending::Load);
    EXPECT_DOUBLE_EQ(sc->channels[7].loadOhms, 25);
    EXPECT_DOUBLE_EQ(sc->channels[1].sections[0].length, 0.1);
    EXPECT_DOUBLE_EQ(sc->channels[1].sections[0].lossDbPerM, 0.5);
    EXPECT_EQ(sc->channels[3].ending, Ending::Through);
    EXPECT_DOUBLE_EQ(sc->nextCoupling, 0.02);
    EXPECT_DOUBLE_EQ(sc->fextCoupling, 0.01);
    EXPECT_FALSE(sc->channels[0].described) << "unnamed channels are bare connectors";
}

TEST(SimScenario, NumbersIgnoreTheProcessLocale) {
    // A comma-decimal locale must not change how "0.5" reads.
    const char* previous = std::setlocale(LC_NUMERIC, nullptr);
    const std::string saved = previous ? previous : "C";
    const bool switched = std::setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr;
    std::string err;
    const auto sc = simulator::parseScenario("channel 2: line 50 0.5 2.25 0; open\n", err);
    std::setlocale(LC_NUMERIC, saved.c_str());
    ASSERT_TRUE(sc) << err;
    EXPECT_DOUBLE_EQ(sc->channels[2].sections[0].length, 0.5);
    if (!switched) GTEST_LOG_(INFO) << "de_DE locale not installed; checked in the C locale";
}

TEST(SimScenario, DefaultScenarioShowsSomethingOnEveryChannel) {
    std::string err;
    const auto sc = simulator::parseScenario(simulator::defaultScenarioText(), err);
    ASSERT_TRUE(sc) << err;
    bool open = false, shorted = false, load = false, through = false, step = false;
    for (int ch = 0; ch < 10; ++ch) {
        const auto& c = sc->channels[ch];
        const auto& far = sc->channels[ch < 5 ? ch + 5 : ch - 5];
        EXPECT_TRUE(c.described || (far.described && far.ending == Ending::Through)) << ch;
        open |= c.ending == Ending::Open && c.described;
        shorted |= c.ending == Ending::Short;
        load |= c.ending == Ending::Load;
        through |= c.ending == Ending::Through;
        for (std::size_t i = 1; i < c.sections.size(); ++i)
            step |= c.sections[i].ohms != c.sections[i - 1].ohms;
    }
    EXPECT_TRUE(open && shorted && load && through && step);
    EXPECT_GT(sc->nextCoupling, 0);
    EXPECT_GT(sc->fextCoupling, 0);
}

struct BadCase {
    const char* text;
    int line;
    const char* mentions;
};

class SimScenarioErrors : public ::testing::TestWithParam<BadCase> {};

TEST_P(SimScenarioErrors, NamesTheLineAndTheProblemAndAppliesNothing) {
    SimulatedInstrument sim;
    const auto before = sim.impedanceProfile(2);
    std::string err;
    EXPECT_FALSE(sim.loadScenarioText(GetParam().text, err));
    EXPECT_EQ(err.rfind("line " + std::to_string(GetParam().line) + ": ", 0), 0u) << err;
    EXPECT_NE(err.find(GetParam().mentions), std::string::npos) << err;
    // The earlier, valid lines of the file are not applied either.
    const auto after = sim.impedanceProfile(2);
    ASSERT_EQ(after.size(), before.size());
    for (std::size_t i = 0; i < after.size(); ++i) EXPECT_EQ(after[i].ohms, before[i].ohms);
}

INSTANTIATE_TEST_SUITE_P(
    Malformed, SimScenarioErrors,
    ::testing::Values(
        BadCase{"channel 2: short\ncable 2: open\n", 2, "unknown statement 'cable'"},
        BadCase{"channel 2: line 50 0.5 2.25 0; open\nchannel 11: open\n", 2, "'11'"},
        BadCase{"channel 2 open\n", 1, "expected 'channel N: ...'"},
        BadCase{"channel 2: line 50 0.5; open\n", 1, "takes impedance, length"},
        BadCase{"channel 2: line 50 0,5 2.25 0; open\n", 1, "not a number: '0,5'"},
        BadCase{"channel 2: line -5 0.5 2.25 0; open\n", 1, "impedance '-5' is out of range"},
        BadCase{"channel 2: line 50 0.5 0.5 0; open\n", 1, "dielectric constant '0.5'"},
        BadCase{"channel 2: line 50 0.5 2.25 0\n", 1, "has no ending"},
        BadCase{"channel 2: open; line 50 1 2.25 0\n", 1, "nothing may follow the ending"},
        BadCase{"channel 2: load\n", 1, "'load' takes one value"},
        BadCase{"channel 2: line 50 1 2.25 0;; open\n", 1, "empty element"},
        BadCase{"channel 2: via 50; open\n", 1, "unknown element 'via'"},
        BadCase{"\n\nchannel 2: open\n# note\nchannel 2: short\n", 5,
                "already described on line 3"},
        BadCase{"coupling next 0.9\n", 1, "out of range"},
        BadCase{"coupling side 0.1\n", 1, "unknown coupling 'side'"},
        BadCase{"coupling next 0.1\ncoupling next 0.2\n", 2, "given twice"},
        BadCase{"channel 3: line 50 1 2.25 0; through\nchannel 8: open\n", 2,
                "far end of channel 3"},
        BadCase{"channel 3: line 50 1 2.25 0; through\n\nchannel 8: line 50 1 2.25 0; through\n", 3,
                "describe the cable on one side only"},
        // A negative zero would be shown as "-0 m"; a channel is one digit.
        BadCase{"channel 2: line 50 -0 2.25 0; open\n", 1, "length '-0' is out of range"},
        BadCase{"channel 2: line 50 1 2.25 -0.0; open\n", 1, "loss '-0.0' is out of range"},
        BadCase{"channel 2: load -0\n", 1, "load resistance '-0' is out of range"},
        BadCase{"coupling fext -0\n", 1, "coupling '-0' is out of range"},
        BadCase{"channel-0: open\n", 1, "channel '-0' is not a channel number"},
        BadCase{"channel 02: open\n", 1, "channel '02' is not a channel number"},
        // Numbers beyond a double are numbers out of range, not typing errors.
        BadCase{"channel 2: line 50 1e-400 2.25 0; open\n", 1, "length '1e-400' is out of range"},
        BadCase{"channel 2: load 1e400\n", 1, "load resistance '1e400' is out of range"},
        BadCase{"channel 2: line 50 1 inf 0; open\n", 1, "constant 'inf' is out of range"},
        BadCase{"channel 2: line 50 nan 2.25 0; open\n", 1, "not a number: 'nan'"}));

TEST(SimScenario, SectionsPerChannelAreBoundedByANamedLimit) {
    std::string many = "channel 2:";
    for (std::size_t i = 0; i < simulator::kMaxSections; ++i) many += " line 50 0.01 2.25;";
    std::string err;
    const auto atLimit = simulator::parseScenario(many + " open\n", err);
    ASSERT_TRUE(atLimit) << err;
    EXPECT_EQ(atLimit->channels[2].sections.size(), 100u);
    EXPECT_FALSE(simulator::parseScenario(many + " line 50 0.01 2.25; open\n", err));
    EXPECT_EQ(err, "line 1: more than 100 line sections on one channel");
}

TEST(SimScenario, FileErrorsNameTheFileAndLine) {
    SimulatedInstrument sim;
    std::string err;
    EXPECT_FALSE(sim.loadScenarioFile("/nonexistent/dut.txt", err));
    EXPECT_NE(err.find("/nonexistent/dut.txt: cannot open"), std::string::npos) << err;

    const auto path = std::filesystem::temp_directory_path() / "velt_test_dut.txt";
    {
        std::ofstream out(path);
        out << "channel 2: line 50 1.0 2.25 0; open\nchannel 7: line 50 1.0 2.25 0; opne\n";
    }
    EXPECT_FALSE(sim.loadScenarioFile(path.string(), err));
    EXPECT_NE(err.find("line 2: unknown element 'opne'"), std::string::npos) << err;
    {
        std::ofstream out(path);
        out << "channel 2: line 50 1.0 2.25 0; short\n";
    }
    EXPECT_TRUE(sim.loadScenarioFile(path.string(), err)) << err;
    EXPECT_EQ(sim.impedanceProfile(2).back().ohms, 0.0);
    {
        std::ofstream out(path, std::ios::binary);
        out << std::string("channel 2: open\0\0\0", 18);
    }
    EXPECT_FALSE(sim.loadScenarioFile(path.string(), err));
    EXPECT_NE(err.find("not a text file"), std::string::npos) << err;
    std::filesystem::remove(path);
}

TEST(SimConnections, OptionsAreParsedAndCheckedAgainstTheModel) {
    SimulatedInstrument sim("QSA004");
    std::string err;
    EXPECT_TRUE(sim.applyConnectionOption("2=open", err)) << err;
    EXPECT_EQ(sim.connection(2), Connection::Open);
    EXPECT_TRUE(sim.applyConnectionOption("7=THROUGH", err)) << err;
    EXPECT_EQ(sim.connection(2), Connection::Through);
    EXPECT_TRUE(sim.applyConnectionOption("2=Device", err)) << err;
    EXPECT_EQ(sim.connection(7), Connection::Device) << "the other end of the through is freed";

    struct {
        const char* option;
        const char* mentions;
    } bad[] = {{"2", "CH=WHAT"},
               {"x=OPEN", "'x' is not a channel"},
               {"12=OPEN", "'12'"},
               {"2=WIRE", "'WIRE' is not DEVICE"},
               {"1=OPEN", "no channel 1"},
               {"=OPEN", "'' is not a channel"},
               {"-0=OPEN", "'-0' is not a channel"},
               {"02=OPEN", "'02' is not a channel"},
               {"2=thru", "'thru' is not DEVICE"}};
    for (const auto& b : bad) {
        EXPECT_FALSE(sim.applyConnectionOption(b.option, err)) << b.option;
        EXPECT_NE(err.find(b.mentions), std::string::npos) << b.option << ": " << err;
    }
    EXPECT_EQ(sim.connection(2), Connection::Device) << "refused options change nothing";

    SimulatedInstrument small("QSA002");
    EXPECT_FALSE(small.applyConnectionOption("2=THROUGH", err));
    EXPECT_NE(err.find("no channel 7"), std::string::npos) << err;
}

TEST(SimConnections, NamesRoundTrip) {
    for (Connection c : {Connection::Device, Connection::Short, Connection::Open, Connection::Load,
                         Connection::Through})
        EXPECT_EQ(simulator::parseConnection(simulator::connectionName(c)), c);
    EXPECT_FALSE(simulator::parseConnection("shorted"));
}

} // namespace

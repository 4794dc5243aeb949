// SCPI text: header forms, line splitting and the names a remote client may use for files.
#include "app/remote.h"
#include "app/scpi.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

struct Header {
    const char* typed;
    const char* pattern;
    bool matches;
};

TEST(Scpi, HeadersMatchInLongOrShortFormAnyCaseWithOptionalNodes) {
    const Header cases[] = {
        {"SYST:ERR", "SYSTem:ERRor[:NEXT]", true},
        {"system:error:next", "SYSTem:ERRor[:NEXT]", true},
        {"SYSTE:ERR", "SYSTem:ERRor[:NEXT]", false},
        {"SYST:ERR:NEX", "SYSTem:ERRor[:NEXT]", false},
        {"AVER", "[SENSe]:AVERage[:COUNt]", true},
        {"sens:aver:coun", "[SENSe]:AVERage[:COUNt]", true},
        {"SENS:COUN", "[SENSe]:AVERage[:COUNt]", false},
        {"*idn", "*IDN", true},
        {"*IDNX", "*IDN", false},
        {"FETC:TRAC:X", "FETCh:TRACe[:Y]", false},
    };
    for (const Header& h : cases)
        EXPECT_EQ(scpi::headerMatches(h.typed, h.pattern), h.matches)
            << h.typed << " / " << h.pattern;
}

struct Line {
    const char* text;
    int error;
    std::size_t commands;
    const char* lastParam; // of the last command, "" for none
};

TEST(Scpi, LinesSplitAtSemicolonsOutsideStringsOrAreRefusedWhole) {
    const Line cases[] = {
        {"*IDN?", 0, 1, ""},
        {"UNIT:Y OHM;:AVER 4 ; AVER?", 0, 3, ""},
        {"MMEM:STOR:CSV \"a;b\"\"c.csv\"", 0, 1, "a;b\"c.csv"},
        {"ZONE:LIM 50 , 10", 0, 1, "10"},
        {"", 0, 0, ""},
        {"AVER 4,", scpi::kSyntaxError, 0, ""},
        {"MMEM:STOR:CSV \"open", scpi::kSyntaxError, 0, ""},
        {"AVER 7;*OPC;AVER 'x", scpi::kSyntaxError, 2, ""}, // those before it still run
        {"SYST::ERR?", scpi::kSyntaxError, 0, ""},
        {"\x01\xff garbage", scpi::kSyntaxError, 0, ""},
        {"AVER 4 5", scpi::kSyntaxError, 0, ""},
    };
    for (const Line& l : cases) {
        std::vector<scpi::Command> out;
        std::string why;
        EXPECT_EQ(scpi::parseLine(l.text, out, why), l.error) << l.text;
        ASSERT_EQ(out.size(), l.commands) << l.text;
        if (!out.empty()) {
            EXPECT_EQ(out.back().params.empty() ? "" : out.back().params.back().text, l.lastParam);
        }
    }
    double v = 0;
    EXPECT_TRUE(scpi::toNumber("+2.5e-3", v));
    EXPECT_DOUBLE_EQ(v, 2.5e-3);
    for (const char* bad : {"2,5", "nan", "inf", "-inf", "1e999", "", "0x10", "e5"})
        EXPECT_FALSE(scpi::toNumber(bad, v)) << bad;
    EXPECT_EQ(scpi::readNumber("1e999", v), scpi::NumberRead::OutOfRange);
}

// A name leaves the data folder in none of the ways a path can, and gets its kind's extension.
TEST(Scpi, FileNamesStayInsideTheDataFolder) {
    char tmpl[] = "/tmp/velt_scpi_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const fs::path previous = fs::current_path();
    fs::current_path(tmpl);
    fs::create_directories("datalogs/sub");
    fs::create_directory_symlink("/tmp", "datalogs/out");
    fs::create_symlink("/etc/passwd", "datalogs/link.csv");
    { std::ofstream("datalogs/sub/old.csv") << "1\n"; }
    struct Case {
        const char* name;
        bool reading;
        int error;
        const char* leaf;
    };
    const Case cases[] = {
        {"trace", false, 0, "trace.csv"},
        {"trace.txt", false, 0, "trace.txt"},
        {"sub/trace.csv", false, 0, "trace.csv"},
        {"sub/old", true, 0, "old.csv"},
        {"sub/none", true, scpi::kFileNameNotFound, ""},
        {"../trace.csv", false, scpi::kIllegalParameterValue, ""},
        {"/etc/passwd", true, scpi::kIllegalParameterValue, ""},
        {"sub/../../x", false, scpi::kIllegalParameterValue, ""},
        {"out/x.csv", false, scpi::kIllegalParameterValue, ""},
        {"link.csv", false, scpi::kIllegalParameterValue, ""},
        {"link.csv", true, scpi::kIllegalParameterValue, ""},
        {"a\rb", false, scpi::kIllegalParameterValue, ""},
        {"a\tb", false, scpi::kIllegalParameterValue, ""},
        {"", false, scpi::kIllegalParameterValue, ""},
        {".", false, scpi::kIllegalParameterValue, ""},
        {"sub/", false, scpi::kIllegalParameterValue, ""},
    };
    for (const Case& c : cases) {
        DataFile f;
        EXPECT_EQ(f.open("datalogs", c.name, ".csv", c.reading), c.error) << c.name;
        if (c.error == 0) {
            EXPECT_EQ(f.leaf(), c.leaf) << c.name;
        }
    }
    DataFile nul;
    EXPECT_EQ(nul.open("datalogs", std::string("a\0b", 3), ".csv", false),
              scpi::kIllegalParameterValue);
    fs::current_path(previous);
    fs::remove_all(tmpl);
}

} // namespace

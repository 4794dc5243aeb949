// Touchstone files: what a simulator reads back is what was measured, and a file that is not
// one is refused with its line named.
#include "files/touchstone.h"
#include "freqdomain/network.h"
#include "instrument/driver.h"
#include "panel/export.h"
#include "panel/reference_traces.h"
#include "platform/popups.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

namespace {

std::vector<SParamPoint> samplePoints() {
    // A lossy, delayed reflection: values of every sign and size, none of them round.
    std::vector<SParamPoint> pts;
    for (int i = 1; i <= 50; ++i) {
        const double f = 0.0732421875 * i;
        const double mag = 0.3 * std::exp(-0.05 * f);
        const double phase = -2 * std::numbers::pi * f * 1.37;
        pts.push_back({f, mag * std::cos(phase), mag * std::sin(phase)});
    }
    return pts;
}

class TouchstoneRoundTrip : public testing::TestWithParam<int> {};

TEST_P(TouchstoneRoundTrip, ReadsBackWhatWasWritten) {
    const int ports = GetParam();
    std::vector<SParamPoint> pts = samplePoints();
    pts.push_back({9.9, NAN, 0.0}); // a gap in the trace is left out
    const std::string text = formatTouchstone(ports, pts, {"VELT 2.8.0.1", "S11 not measured"});
    EXPECT_EQ(text.rfind("! VELT 2.8.0.1\n! S11 not measured\n# GHz S RI R 50\n", 0), 0u)
        << text.substr(0, 80);
    std::vector<SParamPoint> back;
    std::string error;
    ASSERT_TRUE(parseTouchstone(text, ports, back, error)) << error;
    ASSERT_EQ(back.size(), pts.size() - 1);
    for (std::size_t i = 0; i < back.size(); ++i) {
        EXPECT_NEAR(back[i].ghz, pts[i].ghz, 1e-8 * pts[i].ghz);
        EXPECT_NEAR(back[i].re, pts[i].re, 1e-9);
        EXPECT_NEAR(back[i].im, pts[i].im, 1e-9);
    }
    // Data lines have the number of values the port count calls for.
    const std::string firstData = text.substr(text.find("# GHz S RI R 50\n") + 16);
    const std::string line = firstData.substr(0, firstData.find('\n'));
    EXPECT_EQ(std::count(line.begin(), line.end(), ' '), ports == 1 ? 2 : 8) << line;
}

INSTANTIATE_TEST_SUITE_P(Ports, TouchstoneRoundTrip, testing::Values(1, 2));

TEST(Touchstone, OutsideTheFrequencyDomainTheMenuSaysWhyAndWritesNothing) {
    testing_support::freshPanel();
    view.yUnits.store(YUnit::Ohms);
    EXPECT_EQ(saveTouchstone(), -1);
    const auto shown = platform::defaultResponder().shown();
    ASSERT_EQ(shown.size(), 1u) << "no file dialog";
    EXPECT_EQ(shown[0].title, "Save Touchstone");
    EXPECT_NE(shown[0].text.find("switch to the frequency domain"), std::string::npos);
    view.yUnits.store(YUnit::Millivolts);
}

// n points of a file from `first` Hz in 10 MHz steps: each line is `line(i)` after the frequency.
std::string points(const char* head, int n, const std::string& line, double first = 10e6) {
    std::string out = head;
    for (int i = 0; i < n; ++i) out += std::to_string((first + 10e6 * i) * 1e-9) + line + "\n";
    return out;
}

struct Read {
    std::string text;
    int ports;
    double hz1, s11re, s11im, s21re, ohms; // of the first point; a message when refused
    const char* refused;
};

class TouchstoneFiles : public testing::TestWithParam<Read> {};

// Every variant a network analyser or field solver writes, and what is not one: named by line,
// and nothing half-read.
TEST_P(TouchstoneFiles, ReadAsTheFormatDefinesOrRefusedByLine) {
    const Read& r = GetParam();
    Network n;
    n.hz = {1};
    std::string error;
    ASSERT_EQ(readTouchstone(r.text, r.ports, n, error), r.refused == nullptr) << error;
    if (r.refused) {
        EXPECT_NE(error.find(r.refused), std::string::npos) << error;
        EXPECT_EQ(n.hz.size(), 1u);
        return;
    }
    EXPECT_NEAR(n.hz[0], r.hz1, 1e-6);
    EXPECT_NEAR(n.s11[0].real(), r.s11re, 1e-9);
    EXPECT_NEAR(n.s11[0].imag(), r.s11im, 1e-9);
    if (r.ports == 2 || !n.s21.empty()) {
        EXPECT_NEAR(n.s21[0].real(), r.s21re, 1e-9);
    }
    EXPECT_EQ(n.referenceOhms, r.ohms);
}

const std::string kMany = [] {
    std::string t = "# Hz S RI\n";
    for (int i = 1; i <= 100001; ++i) t += std::to_string(i) + " 0 0\n";
    return t;
}();

INSTANTIATE_TEST_SUITE_P(
    Files, TouchstoneFiles,
    testing::Values(
        // Defaults: GHz, MA, R 50; comments and CR LF.
        Read{points("! c\r\n", 16, " 0.5 180 ! x\r"), 1, 1e7, -0.5, 0, 0, 50, nullptr},
        Read{points("# MHz S DB R 75\n", 16, "e3 -20 90"), 1, 1e7, 0, 0.1, 0, 75, nullptr},
        Read{points("# khz ri s\n", 16, "e6 0.1 0.2"), 1, 1e7, 0.1, 0.2, 0, 50, nullptr},
        // Two ports: 11 21 12 22; a point over two lines; the noise block after the data.
        Read{points("# GHz S RI\n", 16, " 1 2 3 4 5 6 7 8") + "0.01 1 2 3 4\n", 2, 1e7, 1, 2, 3, 50,
             nullptr},
        Read{points("# GHz S RI\n", 16, " 1 2 3 4\n5 6 7 8"), 2, 1e7, 1, 2, 3, 50, nullptr},
        // Version 2.0: the data order it states, [Reference] on the next line.
        Read{points("[Version] 2.0\n# GHz S RI R 50\n[Number of Ports] 2\n[Two-Port Data Order] "
                    "12_21\n[Number of Frequencies] 16\n[Reference]\n60 60\n[Network Data]\n",
                    16, " 1 2 3 4 5 6 7 8") +
                 "[End]\n",
             0, 1e7, 1, 2, 5, 60, nullptr},
        Read{points("[Version] 2.0\n[Number of Ports] 1\n[Network Data]\n", 16, " 0.2 0"), 0, 1e7,
             0.2, 0, 0, 50, nullptr},
        Read{points("# GHz S RI\n", 16, " 0.1 0") + "0.05 0 0\n", 1, 0, 0, 0, 0, 0,
             "line 18: the frequencies do not rise"},
        Read{points("# GHz S RI\n", 16, " 0.1 0") + "0.16 0 0\n", 1, 0, 0, 0, 0, 0,
             "line 18: a frequency repeated"},
        Read{points("# GHz S RI\n", 16, " 0.1 0") + "0.2 0\n", 1, 0, 0, 0, 0, 0,
             "line 18: a point of 2 values, not 3"},
        Read{points("# GHz S RI\n", 16, " 0,1 0"), 1, 0, 0, 0, 0, 0,
             "line 2: \"0,1\" is not a number"},
        Read{points("# GHz S RI\n", 16, " 0.1 0 0"), 1, 0, 0, 0, 0, 0,
             "line 2: more than 3 values in a point"},
        Read{points("# GHz S RI\n", 15, " 0.1 0"), 1, 0, 0, 0, 0, 0, "15 points, fewer than 16"},
        Read{kMany, 1, 0, 0, 0, 0, 0, "line 100002: more than 100000 points"},
        Read{"# GHz Y RI\n", 1, 0, 0, 0, 0, 0, "line 1: only S-parameters are read, not Y"},
        Read{points("# GHz S RI\n", 16, " 0.1 0"), 0, 0, 0, 0, 0, 0, "line 2: not a .s1p or .s2p"},
        Read{"[Number of Ports] 1\n", 1, 0, 0, 0, 0, 0, "line 1: a keyword in a version 1 file"},
        Read{"[Version] 2.0\n[Number of Ports] 4\n", 0, 0, 0, 0, 0, 0,
             "line 2: only one- and two-port files are read"},
        Read{"[Version] 2.0\n[Number of Ports] 2\n[Network Data]\n", 0, 0, 0, 0, 0, 0,
             "line 3: [Two-Port Data Order] missing"},
        Read{points("[Version] 2.0\n[Number of Ports] 1\n[Number of Frequencies] 17\n[Network "
                    "Data]\n",
                    16, " 0.2 0"),
             0, 0, 0, 0, 0, 0, "16 points, not the 17 [Number of Frequencies] says"}));

using cd = std::complex<double>;

// S11 of lossless sections (ohms, metres) in a dielectric of 2.25, ended in a load.
cd sections(double hz, std::initializer_list<std::pair<double, double>> lines, double load) {
    cd z = load;
    for (auto it = std::rbegin(lines); it != std::rend(lines); ++it) {
        const cd t = std::tan(2 * std::numbers::pi * hz * 1.5 / 3e8 * it->second);
        z = it->first * (z + cd(0, 1) * it->first * t) / (it->first + cd(0, 1) * z * t);
    }
    return (z - 50.0) / (z + 50.0);
}

// A device of known sections, written as a Touchstone file a solver would write: each flat
// section at its impedance, each edge where its round trip puts it.
TEST(TouchstoneIn, KnownSectionsComeOutAtTheirImpedanceAndDistance) {
    std::vector<SParamPoint> pts;
    for (int i = 1; i <= 2000; ++i)
        pts.push_back({i * 0.01, sections(i * 1e7, {{50, 0.3}, {75, 0.25}}, 50).real(),
                       sections(i * 1e7, {{50, 0.3}, {75, 0.25}}, 50).imag()});
    Network n;
    std::string error;
    ASSERT_TRUE(readTouchstone(formatTouchstone(1, pts, {}), 1, n, error)) << error;
    StepResponse step;
    ASSERT_TRUE(stepResponse(n, Mode::TDR, 35, step, error)) << error;
    Waveform x, y;
    ASSERT_TRUE(profileOver(step, {XUnit::Metres, 0, 2, 0, 2.25, 0}, YUnit::Ohms, x, y, error));
    const double riseLength = 35e-12 * 3e8 / 1.5;
    double up = 0, down = 0;
    for (std::size_t i = 0; i < 1024; ++i) {
        // Behind the second edge the plain conversion shows what passed both edges.
        const double want = x[i] > 0.65 && x[i] < 1.05 ? 75 : 50;
        if ((x[i] > 0.05 && x[i] < 0.55) || (x[i] > 0.65 && x[i] < 1.05) || x[i] > 1.15) {
            EXPECT_NEAR(y[i], want, x[i] > 1.15 ? 1.0 : 0.5) << x[i];
        }
        if (i > 0 && y[i - 1] < 62.5 && y[i] >= 62.5) up = x[i];
        if (i > 0 && y[i - 1] > 62.5 && y[i] <= 62.5) down = x[i];
    }
    EXPECT_NEAR(up, 0.6, riseLength);
    EXPECT_NEAR(down, 1.1, riseLength);
    // The true profile peels what the plain conversion shows behind the second edge.
    ::Setup peeled;
    peeled.xStart = 0, peeled.xEnd = 2, peeled.dielectric = 2.25, peeled.trueProfile = true;
    StepResponse cache;
    ASSERT_TRUE(networkProfile(n, cache, peeled, x, y, error)) << error;
    for (std::size_t i = 0; i < 1024; ++i) {
        if (x[i] > 1.15) {
            EXPECT_NEAR(y[i], 50, 0.2) << x[i];
        }
    }
    // 10 MHz apart, the file tells nothing after 100 ns (less the edge's own start): a window
    // beyond it is refused.
    EXPECT_FALSE(
        profileOver(step, {XUnit::Nanoseconds, 0, 120, 0, 2.25, 0}, YUnit::Ohms, x, y, error));
    EXPECT_NE(error.find("past the 99.863 ns"), std::string::npos) << error;
}

} // namespace

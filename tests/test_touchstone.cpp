// Touchstone files: what a simulator reads back is what was measured, and a file that is not
// one is refused with its line named.
#include "files/touchstone.h"
#include "instrument/driver.h"
#include "panel/export.h"
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

TEST(Touchstone, OtherFormatsOfVersionOneAreRead) {
    std::vector<SParamPoint> p;
    std::string error;
    ASSERT_TRUE(parseTouchstone("# MHz S DB R 50\n1000 -20 90\n", 1, p, error)) << error;
    ASSERT_EQ(p.size(), 1u);
    EXPECT_DOUBLE_EQ(p[0].ghz, 1.0);
    EXPECT_NEAR(p[0].re, 0.0, 1e-12);
    EXPECT_NEAR(p[0].im, 0.1, 1e-12);
    ASSERT_TRUE(parseTouchstone("# ghz s ma r 50\r\n2 0.5 180 ! comment\r\n", 1, p, error));
    EXPECT_NEAR(p[0].re, -0.5, 1e-12);
}

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

struct Refused {
    const char* text;
    const char* message;
};

class TouchstoneRefused : public testing::TestWithParam<Refused> {};

TEST_P(TouchstoneRefused, NamesTheLine) {
    std::vector<SParamPoint> p = {{1, 2, 3}};
    std::string error;
    EXPECT_FALSE(parseTouchstone(GetParam().text, 1, p, error));
    EXPECT_NE(error.find(GetParam().message), std::string::npos) << error;
    EXPECT_EQ(p.size(), 1u) << "nothing is half-read";
}

INSTANTIATE_TEST_SUITE_P(
    Files, TouchstoneRefused,
    testing::Values(Refused{"1 0.1 0.2\n", "no option line"},
                    Refused{"# GHz S RI R 50\n1 0,1 0.2\n", "line 2: expected 3 numbers"},
                    Refused{"# GHz S RI R 50\n1 0.1\n", "line 2: expected 3 numbers"},
                    Refused{"# GHz S RI R 50\n1 0.1 0.2 0.3\n", "line 2: more than 3 numbers"},
                    Refused{"# GHz S RI R 50\n# GHz S RI R 50\n", "line 2: a second option"},
                    Refused{"# GHz Y RI R 50\n", "only S-parameters"},
                    Refused{"# GHz S RI R 75\n", "only a 50 ohm reference"},
                    Refused{"! c\n# GHz S RI R 50\n1 nan 0\n", "line 3: expected 3 numbers"}));

} // namespace

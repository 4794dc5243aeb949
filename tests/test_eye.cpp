// The eye through channels whose answers are known in closed form: an ideal through (the eye as
// open as the step), the same with random jitter, an RC channel whose peak-distortion eye is
// A (1 - 2 exp(-UI / tau)), PAM4's four levels, and the O.150 sequences' own properties.
#include "freqdomain/eye.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

constexpr double kA = 0.25;      // the step, 250 mV
constexpr double kDt = 0.25e-12; // its grid

// An ideal through: a linear edge of `rise` seconds (0 to 100 %) after 100 ps.
eye::Step ramp(double rise, double length = 3e-9) {
    eye::Step s{{}, kDt};
    for (double t = 0; t < length; t += kDt)
        s.values.push_back(kA * std::clamp((t - 100e-12) / rise, 0.0, 1.0));
    return s;
}
// A first-order (RC) channel of time constant tau.
eye::Step rc(double tau, double length = 3e-9) {
    eye::Step s{{}, kDt};
    for (double t = 0; t < length; t += kDt) s.values.push_back(kA * (1 - std::exp(-t / tau)));
    return s;
}

TEST(Eye, TheSequencesAreTheMaximalLengthOnesOfTheirPolynomials) {
    for (const eye::Polynomial& p : eye::kPolynomials) {
        const std::vector<std::uint8_t> bits = eye::prbs(p.pattern);
        const std::size_t period = (std::size_t{1} << p.order) - 1;
        ASSERT_EQ(bits.size(), std::min(period, eye::kMaxBits)) << p.name;
        if (period > eye::kMaxBits) continue;
        // An m-sequence: 2^(n-1) ones, longest run of ones n, of zeros n - 1.
        std::size_t ones = 0, run = 0, longestOne = 0, longestZero = 0;
        for (std::size_t i = 0; i < bits.size(); ++i) {
            ones += bits[i];
            run = i > 0 && bits[i] == bits[i - 1] ? run + 1 : 1;
            (bits[i] ? longestOne : longestZero) =
                std::max(bits[i] ? longestOne : longestZero, run);
        }
        EXPECT_EQ(ones, period / 2 + 1) << p.name;
        EXPECT_EQ(longestOne, static_cast<std::size_t>(p.order)) << p.name;
        EXPECT_EQ(longestZero, static_cast<std::size_t>(p.order - 1)) << p.name;
    }
}

struct Case {
    const char* name;
    eye::Step step;
    eye::Settings settings;
    double height, heightTolerance; // expected, absolute
    double widthLow, widthHigh;     // seconds
    long maskHits;                  // -1: no mask; -2: some
};

eye::Settings with(double gbps, eye::Pattern pattern, eye::Coding coding = eye::Coding::Nrz,
                   double rjPs = 0, int spu = 32) {
    eye::Settings s;
    s.bitRate = gbps * 1e9;
    s.pattern = pattern;
    s.coding = coding;
    s.rjSeconds = rjPs * 1e-12;
    s.samplesPerUi = spu;
    return s;
}

class EyeCases : public testing::TestWithParam<Case> {};

TEST_P(EyeCases, HeightWidthAndMaskAsTheChannelDictates) {
    const Case& c = GetParam();
    const eye::Eye e = eye::compute(c.step, c.settings);
    ASSERT_TRUE(e.ok) << e.error;
    EXPECT_NEAR(e.height, c.height, c.heightTolerance);
    EXPECT_GE(e.width, c.widthLow);
    EXPECT_LE(e.width, c.widthHigh);
    if (c.maskHits == -2)
        EXPECT_GT(e.maskHits, 0);
    else
        EXPECT_EQ(e.maskHits, c.maskHits);
}

eye::Settings masked(eye::Settings s, double widthUi, double height) {
    s.maskWidthUi = widthUi;
    s.maskHeight = height;
    return s;
}

// 5 Gb/s: UI 200 ps, 6.25 ps a sample. The ideal through's eye is the step (1 %), its width the
// unit interval less the slice of the 20 ps edge inside the decision level's bin (at most two
// samples). Random jitter of 5 ps RMS over PRBS 9's 256 edges spreads the crossings by about
// 2.5 to 3.5 sigma each side: the width closes by 25 to 35 ps, a sample either way. PAM4 at
// 10 Gb/s (5 GBd, the same UI): three eyes a third of the step high, each narrowed by the
// two thirds of the edge that a jump over two levels spends on the wrong side of it.
INSTANTIATE_TEST_SUITE_P(
    Channels, EyeCases,
    testing::Values(
        Case{"IdealThrough", ramp(20e-12), masked(with(5, eye::Pattern::Prbs7), 0.4, 0.1), kA,
             0.01 * kA, 200e-12 - 12.5e-12, 200e-12, 0},
        Case{"Jitter", ramp(20e-12), with(5, eye::Pattern::Prbs9, eye::Coding::Nrz, 5, 64), kA,
             0.01 * kA, 200e-12 - 35e-12 - 3.2e-12, 200e-12 - 25e-12 + 3.2e-12, -1},
        Case{"Pam4", ramp(20e-12), with(10, eye::Pattern::Prbs9, eye::Coding::Pam4), kA / 3,
             0.01 * kA, 200e-12 - 20e-12 * 2 / 3 - 1e-12, 200e-12 - 20e-12 * 2 / 3 + 1e-12, -1},
        Case{"ClosedByLoss", rc(60e-12), masked(with(40, eye::Pattern::Prbs15), 0.4, 0.02), 0,
             1e-3 * kA, 0, 1e-12, -2}),
    [](const auto& info) { return std::string(info.param.name); });

// The worst case equals peak distortion computed here from the RC pulse in closed form
// (p0 = A (1 - e^-a), p_k = p0 e^-ka for k >= 1, a = UI / tau: worst = A (1 - 2 e^-a)); the
// pattern's eye is never below it and falls with the bit rate, closing where the ISI sum
// passes the main cursor (a < ln 2). 16 and 20 Gb/s keep it above a tenth of the step.
TEST(Eye, PeakDistortionAndTheEyeFallingWithTheBitRate) {
    constexpr double kTau = 60e-12;
    double last = kA + 1;
    for (double gbps : {2.0, 5.0, 10.0, 16.0, 20.0, 40.0}) {
        const eye::Eye e = eye::compute(rc(kTau), with(gbps, eye::Pattern::Prbs15));
        ASSERT_TRUE(e.ok) << e.error;
        const double a = 1 / (gbps * 1e9) / kTau;
        EXPECT_NEAR(e.worstHeight, kA * (1 - 2 * std::exp(-a)), 0.002 * kA) << gbps;
        EXPECT_GE(e.height, std::max(0.0, e.worstHeight) - 1e-9) << gbps;
        EXPECT_LT(e.height, last) << gbps;
        // PRBS 15's longest runs (15 bits) leave a closed eye a hair open: 0.1 % of the step.
        if (a < std::log(2.0))
            EXPECT_LT(e.height, 1e-3 * kA) << gbps;
        else
            EXPECT_GT(e.height, 0.1 * kA) << gbps;
        EXPECT_TRUE(e.settled);
        last = e.height;
    }
}

} // namespace

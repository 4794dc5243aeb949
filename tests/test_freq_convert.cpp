// Spectrum conversion and the S11 / S21 corrections on records whose answer is known.
#include "acquisition/acquire.h"
#include "freqdomain/convert.h"
#include "freqdomain/sparams.h"
#include "freqdomain/store.h"

#include "tests/support/allocation_counter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <complex>
#include <cstdlib>
#include <new>
#include <numbers>

namespace {

// A smooth step from `from` to `to` around sample `at`, the shape an instrument records.
FdRecord edge(double from, double to, double at, double width = 5.0) {
    FdRecord w{};
    for (std::size_t i = 0; i < w.size(); ++i)
        w[i] = from + (to - from) * 0.5 * (1 + std::tanh((static_cast<double>(i) - at) / width));
    return w;
}

struct Spectra {
    Spectrum re{}, im{};
    explicit Spectra(const FdRecord& w) { convertFFT(w, re, im); }
    std::complex<double> operator[](int k) const {
        return {re[std::size_t(k)], im[std::size_t(k)]};
    }
};

TEST(ConvertFFT, ConstantRecordHasOnlyDC) {
    FdRecord flat{};
    flat.y.fill(0.25);
    const Spectra s(flat);
    EXPECT_NEAR(s[0].real(), 4096 * 0.25, 1e-9);
    for (int k = 1; k < kSpectrumBins; ++k) ASSERT_LT(std::abs(s[k]), 1e-9) << k;
}

TEST(ConvertFFT, ADelayedRecordDiffersOnlyByTheDelaysPhaseAndRepeatsBitIdentical) {
    // What makes a delayed through read as a lossless line, in even bins as in odd ones.
    const Spectra early(edge(-1, 0.4, 300)), late(edge(-1, 0.4, 337));
    for (int k = 1; k < 600; ++k)
        ASSERT_LT(
            std::abs(late[k] / early[k] - std::polar(1.0, -2 * std::numbers::pi * k * 37 / 2048.0)),
            1e-6)
            << "bin " << k;
    const Spectra again(edge(-1, 0.4, 300));
    EXPECT_EQ(again.re, early.re);
    EXPECT_EQ(again.im, early.im);
}

// Standards with an internal-path bump at 150 and their reflection at 400.
void standards() {
    const FdRecord base = edge(0, 0.02, 150, 3), down = edge(0, -0.9, 400), up = edge(0, 0.85, 402),
                   match = edge(0, 0.03, 401, 3);
    for (std::size_t i = 0; i < 1024; ++i) {
        solt.wfmShort[i] = base[i] + down[i];
        solt.wfmOpen[i] = base[i] + up[i];
        solt.wfmLoad[i] = base[i] + match[i];
    }
    solt.prepare();
}

struct Shown {
    const char* device;
    double db; // NaN: no value at all
};
class S11Device : public ::testing::TestWithParam<Shown> {};

TEST_P(S11Device, ReadsItsIdealReflection) {
    standards();
    const std::string d = GetParam().device;
    const FdRecord dut = d == "SHORT" ? solt.wfmShort : d == "OPEN" ? solt.wfmOpen : solt.wfmLoad;
    if (d == "uncalibrated") {
        solt.wfmShort = solt.wfmOpen = solt.wfmLoad = FdRecord{};
        solt.prepare();
    }
    solt.correct(Mode::TDR, dut, liveTrace.y);
    // Up to where the smooth test edges still carry spectrum above rounding.
    for (std::size_t i = 1; i < 700; ++i) {
        if (std::isnan(GetParam().db))
            ASSERT_TRUE(std::isnan(liveTrace.y[i])) << d << " bin " << i;
        else
            ASSERT_NEAR(liveTrace.y[i], GetParam().db, 1e-4) << d << " bin " << i;
    }
}

// A LOAD as device has |S11| = 0 exactly: shown at the floor, not as minus infinity.
INSTANTIATE_TEST_SUITE_P(Standards, S11Device,
                         ::testing::Values(Shown{"SHORT", 0.0}, Shown{"OPEN", 0.0},
                                           Shown{"LOAD", kDbFloor}, Shown{"uncalibrated", NAN}),
                         [](const auto& info) { return std::string(info.param.device); });

// A magnitude too small to show sits on the floor, never below it.
TEST(S11Floor, AMagnitudeJustAboveZeroSitsOnTheFloor) {
    EXPECT_EQ(magnitudeDb(1e-12, 0.0), kDbFloor);
    EXPECT_NEAR(magnitudeDb(1e-9, 0.0), -180.0, 1e-9);
}

class S21Scale : public ::testing::TestWithParam<std::pair<double, double>> {};

TEST_P(S21Scale, ScaledThroughReadsTheScale) {
    solt.wfmThrough = edge(-0.97, 0.02, 380);
    solt.prepare();
    FdRecord dut;
    for (std::size_t i = 0; i < 1024; ++i) dut[i] = GetParam().first * solt.wfmThrough[i];
    solt.correct(Mode::TDT, dut, liveTrace.y);
    for (std::size_t i = 1; i < 1024; ++i)
        ASSERT_NEAR(liveTrace.y[i], GetParam().second, 1e-6) << "bin " << i;
}

INSTANTIATE_TEST_SUITE_P(Through, S21Scale,
                         ::testing::Values(std::pair{1.0, 0.0}, std::pair{0.5, -6.0206}));

// The standards' spectra are made once per working set; the conversion being linear, the result
// is the closed formula on the spectra of the differences, to rounding.
TEST(Corrections, PreparedStandardsGiveTheFormulaOnTheDifferences) {
    standards();
    const FdRecord dut = edge(0, 0.3, 420);
    FdRecord a{}, b{}, c{}, d{};
    for (std::size_t i = 0; i < 1024; ++i) {
        a[i] = dut[i] - solt.wfmLoad[i];
        b[i] = solt.wfmOpen[i] - solt.wfmShort[i];
        c[i] = solt.wfmShort[i] - solt.wfmLoad[i];
        d[i] = solt.wfmOpen[i] - solt.wfmLoad[i];
    }
    const Spectra A(a), B(b), C(c), D(d);
    solt.correct(Mode::TDR, dut, liveTrace.y);
    for (int k = 1; k < 700; ++k) {
        const auto s11 = A[k] * B[k] / (A[k] * (C[k] + D[k]) - 2.0 * C[k] * D[k]);
        ASSERT_LT(std::abs(solt.result[std::size_t(k)] - s11), 1e-9 * std::abs(s11)) << k;
    }
}

TEST(Corrections, AllocateNothing) {
    standards();
    const FdRecord dut = solt.wfmOpen;
    solt.correct(Mode::TDR, dut, liveTrace.y); // the FFT plan is made on first use
    gAllocations = 0;
    gCounting = true;
    solt.correct(Mode::TDR, dut, liveTrace.y);
    solt.correct(Mode::TDT, dut, liveTrace.y);
    solt.select(4);
    gCounting = false;
    EXPECT_EQ(gAllocations.load(), 0);
}

} // namespace

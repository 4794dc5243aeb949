// Spectrum conversion and the S11 / S21 corrections on records whose answer is known.
#include "acquisition/acquire.h"
#include "freqdomain/convert.h"
#include "freqdomain/sparams.h"
#include "freqdomain/store.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <complex>
#include <cstdlib>
#include <new>
#include <numbers>

// Counts heap allocations while a test asks for it.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
namespace {
std::atomic<long> gAllocations{0};
std::atomic<bool> gCounting{false};
} // namespace
void* operator new(std::size_t n) {
    if (gCounting.load(std::memory_order_relaxed)) gAllocations.fetch_add(1);
    if (void* p = std::malloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

namespace {

// A smooth step from `from` to `to` around sample `at`, the shape an instrument records.
Waveform edge(double from, double to, double at, double width = 6.0) {
    Waveform w{};
    for (std::size_t i = 0; i < w.size(); ++i)
        w[i] = from + (to - from) * 0.5 * (1 + std::tanh((static_cast<double>(i) - at) / width));
    return w;
}

std::complex<double> bin(int slot, int k) {
    return {specReal[static_cast<std::size_t>(slot)][static_cast<std::size_t>(k)],
            specImag[static_cast<std::size_t>(slot)][static_cast<std::size_t>(k)]};
}

TEST(ConvertFFT, ConstantRecordHasOnlyDC) {
    wfmSlot[2].fill(0.25);
    convertFFT(2);
    EXPECT_NEAR(bin(2, 0).real(), 4096 * 0.25, 1e-9);
    for (int k = 1; k < kSpectrumBins; ++k) ASSERT_LT(std::abs(bin(2, k)), 1e-9) << k;
}

TEST(ConvertFFT, EvenBinsFromTheRampOddFromTheMirror) {
    // An ideal step: the ramp-corrected copy repeated twice has no odd bins, the mirrored
    // record no even ones, so each bin must equal the DFT of just one of them.
    Waveform step{};
    for (std::size_t i = 512; i < 1024; ++i) step[i] = 1.0;
    wfmSlot[0] = step;
    convertFFT(0);
    auto dft = [](auto sample, int k) {
        std::complex<double> s = 0;
        for (int n = 0; n < 2048; ++n)
            s += sample(n) * std::polar(1.0, -2 * std::numbers::pi * k * n / 2048.0);
        return s;
    };
    auto flat = [&](int n) { return step[std::size_t(n % 1024)] - (n % 1024) / 1024.0; };
    auto mirror = [&](int n) {
        return n < 1024 ? step[std::size_t(n)] : 1.0 - step[std::size_t(n - 1024)];
    };
    for (int k : {1, 2, 3, 10, 101, 512, 1023, 1024, 2047}) {
        const auto expected = (k % 2 == 0) ? dft(flat, k) : dft(mirror, k);
        EXPECT_NEAR(std::abs(bin(0, k) - expected), 0.0, 1e-8) << "bin " << k;
        EXPECT_NEAR(std::abs((k % 2 == 0 ? dft(mirror, k) : dft(flat, k))), 0.0, 1e-8) << k;
    }
}

TEST(ConvertFFT, ADelayedRecordDiffersOnlyByTheDelaysPhase) {
    // Settled step-like records: converting the same step 37 samples later must give the same
    // spectrum turned by exactly 2 pi k 37 / 2048 in every bin, even and odd. This is what
    // makes a delayed through read as a lossless line (a ramp over 1023 steps leaves an error
    // of 1/1023 of the step's spectrum in every even bin).
    wfmSlot[0] = edge(-1, 0.4, 300);
    wfmSlot[1] = edge(-1, 0.4, 337);
    convertFFT(0);
    convertFFT(1);
    for (int k = 1; k < 600; ++k) {
        const auto ratio = bin(1, k) / bin(0, k);
        const auto delay = std::polar(1.0, -2 * std::numbers::pi * k * 37 / 2048.0);
        ASSERT_LT(std::abs(ratio - delay), 1e-6) << "bin " << k;
    }
}

TEST(ConvertFFT, SlotsAreIndependentAndRepeatsBitIdentical) {
    wfmSlot[1] = edge(0, 1, 300);
    wfmSlot[6] = edge(-1, 0.5, 700);
    convertFFT(1);
    const Spectrum re1 = specReal[1], im1 = specImag[1];
    convertFFT(6);
    EXPECT_EQ(specReal[1], re1) << "converting G touched B";
    EXPECT_EQ(specImag[1], im1);
    convertFFT(1);
    EXPECT_EQ(specReal[1], re1) << "the same record twice gave different spectra";
    EXPECT_EQ(specImag[1], im1);
    // A slot number outside A..G changes nothing.
    const Spectrum re6 = specReal[6];
    convertFFT(7);
    convertFFT(-1);
    EXPECT_EQ(specReal[6], re6);
}

class S11Standards : public ::testing::Test {
  protected:
    void SetUp() override {
        // The internal path shows as an offset, a slope and a small early bump; each standard
        // then reflects at sample 400.
        Waveform base = edge(0, 0.02, 150, 3);
        wfmShort = wfmOpen = wfmLoad = base;
        const Waveform down = edge(0, -0.9, 400, 4), up = edge(0, 0.85, 402, 5),
                       match = edge(0, 0.03, 401, 3);
        for (std::size_t i = 0; i < 1024; ++i) {
            wfmShort[i] += down[i];
            wfmOpen[i] += up[i];
            wfmLoad[i] += match[i];
        }
        increment.store(56);
    }
};

struct ShownDb {
    const char* standard;
    double db;
};

class S11StandardAsDevice : public S11Standards, public ::testing::WithParamInterface<ShownDb> {};

TEST_P(S11StandardAsDevice, ReadsItsIdealReflection) {
    const std::string which = GetParam().standard;
    wfmDataCombined = which == "SHORT" ? wfmShort : which == "OPEN" ? wfmOpen : wfmLoad;
    performS11();
    // Up to where the smooth test edges still carry some spectrum above rounding.
    for (std::size_t i = 1; i < 700; ++i)
        ASSERT_NEAR(wfmDataCombined[i], GetParam().db, 1e-4) << which << " bin " << i;
}

// The LOAD as device has |S11| = 0 exactly: it is shown at the floor, never as -inf.
INSTANTIATE_TEST_SUITE_P(Standards, S11StandardAsDevice,
                         ::testing::Values(ShownDb{"SHORT", 0.0}, ShownDb{"OPEN", 0.0},
                                           ShownDb{"LOAD", kDbFloor}),
                         [](const auto& info) { return std::string(info.param.standard); });

TEST_F(S11Standards, NoCalibrationGivesGapsNotNumbers) {
    // A never-calibrated sampler: every standard zero, every denominator zero.
    wfmShort.fill(0);
    wfmOpen.fill(0);
    wfmLoad.fill(0);
    wfmDataCombined = edge(0, 0.5, 400);
    performS11();
    for (double v : wfmDataCombined) ASSERT_TRUE(std::isnan(v));
    double lo = 0, hi = 0;
    autoscaleRange(wfmDataCombined, 5, lo, hi);
    EXPECT_LT(hi, lo) << "an all-gap trace must give the invalid-waveform range";
}

TEST_F(S11Standards, AxisIsTheSweptSpacingNotTheNominalOne) {
    // 56 delay steps of 80 ns / 65536 over 2048 points: 7.142857 MHz a bin.
    wfmDataCombined = wfmOpen;
    performS11();
    EXPECT_NEAR(wfmDataX[140], 1.0, 1e-9);
    EXPECT_NEAR(wfmDataX[1023], 1023 / 140.0, 1e-9);
}

struct ThroughCase {
    double scale;
    double db;
};
class S21Through : public ::testing::TestWithParam<ThroughCase> {};

TEST_P(S21Through, ScaledThroughReadsTheScale) {
    // A through seen by a sampler with an offset before the step arrives.
    wfmThrough = edge(-0.97, 0.02, 380, 5);
    for (std::size_t i = 0; i < 1024; ++i) wfmDataCombined[i] = GetParam().scale * wfmThrough[i];
    increment.store(56);
    performS21();
    for (std::size_t i = 1; i < 1024; ++i)
        ASSERT_NEAR(wfmDataCombined[i], GetParam().db, 1e-6) << "bin " << i;
}

INSTANTIATE_TEST_SUITE_P(Scales, S21Through,
                         ::testing::Values(ThroughCase{1.0, 0.0}, ThroughCase{0.5, -6.0206}));

TEST_F(S11Standards, CorrectionsAllocateNothing) {
    wfmDataCombined = wfmOpen;
    performS11(); // the FFT plan is made once, on first use
    gAllocations = 0;
    gCounting = true;
    performS11();
    performS21();
    populateSOLT(4);
    gCounting = false;
    EXPECT_EQ(gAllocations.load(), 0);
}

TEST(S21, EmptyThroughSlotGivesGaps) {
    wfmThrough.fill(0);
    wfmDataCombined = edge(-1, 0, 300);
    performS21();
    for (double v : wfmDataCombined) ASSERT_TRUE(std::isnan(v));
}

TEST(Store, SamplerMapsToItsSlot) {
    // Sampler 4 is port 1 CH 1 positive; 13 is port 2 CH 2 negative; 19 port 2 CH 5 negative.
    soltStore[kShort][0].fill(1); // P1 CH1 Pos
    soltStore[kOpen][0].fill(2);
    soltStore[kLoad][0].fill(3);
    soltStore[kThrough][0].fill(4);
    soltStore[kLoad][13].fill(7);    // P2 CH2 Neg
    soltStore[kThrough][19].fill(9); // P2 CH5 Neg
    populateSOLT(4);
    EXPECT_EQ(wfmShort[0], 1);
    EXPECT_EQ(wfmOpen[500], 2);
    EXPECT_EQ(wfmLoad[1023], 3);
    EXPECT_EQ(wfmThrough[9], 4);
    populateSOLT(13);
    EXPECT_EQ(wfmLoad[0], 7);
    populateSOLT(19);
    EXPECT_EQ(wfmThrough[0], 9);
    const Waveform before = wfmThrough;
    EXPECT_EQ(populateSOLT(20), 1);
    EXPECT_EQ(populateSOLT(-1), 1);
    EXPECT_EQ(wfmThrough, before);
}

} // namespace

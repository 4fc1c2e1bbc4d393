#include "platform/accel/Fft.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <numbers>
#include <random>
#include <thread>
#include <vector>

namespace platform::accel {
namespace {

using cd = std::complex<double>;

std::vector<cd> naiveDft(const std::vector<cd>& x, int sign) {
    const std::size_t n = x.size();
    std::vector<cd> twiddle(n);
    for (std::size_t m = 0; m < n; ++m) {
        const double angle = sign * 2.0 * std::numbers::pi * static_cast<double>(m) / n;
        twiddle[m] = cd(std::cos(angle), std::sin(angle));
    }
    std::vector<cd> out(n);
    for (std::size_t k = 0; k < n; ++k) {
        cd sum = 0;
        for (std::size_t j = 0, m = 0; j < n; ++j, m = (m + k) % n) sum += x[j] * twiddle[m];
        out[k] = sum;
    }
    return out;
}

std::vector<float> randomReals(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> d(-1.0f, 1.0f);
    std::vector<float> v(n);
    for (auto& x : v) x = d(rng);
    return v;
}

// Single-precision error grows with the size and the magnitude of the sums.
double tolerance(std::size_t n) { return 1e-5 * std::sqrt(static_cast<double>(n)) * std::log2(n + 2.0) * 4; }

TEST(FftTest, RealForwardAndInverseMatchANaiveDoubleDft) {
    for (std::size_t n : {1u, 2u, 5u, 8u, 12u, 400u, 512u, 1000u, 1920u, 2048u}) {
        SCOPED_TRACE(n);
        auto fft = RealFft::make(n);
        ASSERT_TRUE(fft);
        const auto x = randomReals(n, static_cast<unsigned>(n));
        std::vector<cd> xd(x.begin(), x.end());
        const auto expected = naiveDft(xd, -1);

        std::vector<std::complex<float>> bins(fft->binCount());
        fft->forward(x, bins);
        for (std::size_t k = 0; k < bins.size(); ++k) {
            ASSERT_NEAR(bins[k].real(), expected[k].real(), tolerance(n)) << k;
            ASSERT_NEAR(bins[k].imag(), expected[k].imag(), tolerance(n)) << k;
        }

        std::vector<float> back(n);
        fft->inverse(bins, back);
        for (std::size_t j = 0; j < n; ++j) ASSERT_NEAR(back[j], n * x[j], tolerance(n) * n) << j;
    }
}

TEST(FftTest, ComplexForwardAndInverseMatchANaiveDoubleDft) {
    for (std::size_t n : {1u, 3u, 16u, 100u, 512u}) {
        SCOPED_TRACE(n);
        auto fft = ComplexFft::make(n);
        ASSERT_TRUE(fft);
        const auto re = randomReals(n, 11), im = randomReals(n, 12);
        std::vector<std::complex<float>> x(n);
        std::vector<cd> xd(n);
        for (std::size_t j = 0; j < n; ++j) {
            x[j] = {re[j], im[j]};
            xd[j] = {re[j], im[j]};
        }
        for (int sign : {-1, +1}) {
            const auto expected = naiveDft(xd, sign);
            std::vector<std::complex<float>> out(n);
            if (sign < 0)
                fft->forward(x, out);
            else
                fft->inverse(x, out);
            for (std::size_t k = 0; k < n; ++k) {
                ASSERT_NEAR(out[k].real(), expected[k].real(), tolerance(n)) << k;
                ASSERT_NEAR(out[k].imag(), expected[k].imag(), tolerance(n)) << k;
            }
        }
    }
}

TEST(FftTest, UnalignedAndInPlaceBuffersGiveTheSameResult) {
    const std::size_t n = 512;
    auto fft = RealFft::make(n);
    auto cfft = ComplexFft::make(n);
    ASSERT_TRUE(fft && cfft);
    const auto x = randomReals(n, 5);
    std::vector<std::complex<float>> reference(fft->binCount());
    fft->forward(x, reference);

    std::vector<float> shifted(n + 1);
    std::copy(x.begin(), x.end(), shifted.begin() + 1);
    std::vector<std::complex<float>> out(fft->binCount() + 1);
    fft->forward(std::span(shifted).subspan(1), std::span(out).subspan(1));
    for (std::size_t k = 0; k < reference.size(); ++k) ASSERT_EQ(out[k + 1], reference[k]);

    std::vector<std::complex<float>> c(x.begin(), x.end()), separate(n);
    cfft->forward(c, separate);
    cfft->forward(c, c);  // in place
    for (std::size_t k = 0; k < n; ++k) ASSERT_EQ(c[k], separate[k]);
}

TEST(FftTest, PackedLayoutPutsEachValueWhereTheRadix2RealFftDoes) {
    for (std::size_t log2n : {1u, 3u, 9u, 11u}) {
        const std::size_t n = std::size_t{1} << log2n;
        SCOPED_TRACE(n);
        auto fft = PackedRealFft::make(log2n);
        ASSERT_TRUE(fft);
        const auto x = randomReals(n, 21);
        std::vector<cd> xd(x.begin(), x.end());
        const auto X = naiveDft(xd, -1);

        std::vector<float> realp(n / 2), imagp(n / 2);
        fft->forward(x, realp, imagp);
        const double tol = 2 * tolerance(n);
        EXPECT_NEAR(realp[0], 2 * X[0].real(), tol);      // DC in the first real slot
        EXPECT_NEAR(imagp[0], 2 * X[n / 2].real(), tol);  // Nyquist in the first imaginary slot
        for (std::size_t k = 1; k < n / 2; ++k) {
            ASSERT_NEAR(realp[k], 2 * X[k].real(), tol) << k;
            ASSERT_NEAR(imagp[k], 2 * X[k].imag(), tol) << k;
        }

        // Inverse of the forward result is 2n times the input.
        std::vector<float> back(n);
        fft->inverse(realp, imagp, back);
        for (std::size_t j = 0; j < n; ++j) ASSERT_NEAR(back[j], 2.0 * n * x[j], tol * n) << j;
    }
}

TEST(FftTest, PackedLayoutOfACosineAtOneBin) {
    const std::size_t n = 16;
    auto fft = PackedRealFft::make(4);
    ASSERT_TRUE(fft);
    std::vector<float> x(n);
    for (std::size_t j = 0; j < n; ++j) x[j] = 1.0f + std::cos(2 * std::numbers::pi * 3 * j / n);
    std::vector<float> realp(n / 2), imagp(n / 2);
    fft->forward(x, realp, imagp);
    EXPECT_NEAR(realp[0], 2.0 * n, 1e-4);  // DC: sum of ones, doubled
    EXPECT_NEAR(imagp[0], 0.0, 1e-4);
    EXPECT_NEAR(realp[3], n, 1e-4);  // cosine: n/2 per side, doubled
    for (std::size_t k = 1; k < n / 2; ++k) {
        if (k != 3) {
            EXPECT_NEAR(realp[k], 0.0, 1e-4) << k;
        }
        EXPECT_NEAR(imagp[k], 0.0, 1e-4) << k;
    }
}

TEST(FftTest, InvalidSizesMakeNothing) {
    EXPECT_FALSE(RealFft::make(0));
    EXPECT_FALSE(ComplexFft::make(0));
    EXPECT_FALSE(PackedRealFft::make(0));
}

TEST(FftTest, OneTransformServesSeveralThreadsAtOnce) {
    const std::size_t n = 2048;
    auto fft = RealFft::make(n);
    ASSERT_TRUE(fft);
    const auto x = randomReals(n, 9);
    std::vector<std::complex<float>> reference(fft->binCount());
    fft->forward(x, reference);

    std::vector<std::thread> threads;
    std::vector<int> mismatches(6, 0);
    for (int t = 0; t < 6; ++t) {
        threads.emplace_back([&, t] {
            // Makes its own transform objects too, so planning races with execution.
            auto own = RealFft::make(n + 2 * t);
            (void)own;
            std::vector<std::complex<float>> out(fft->binCount());
            for (int i = 0; i < 50; ++i) {
                fft->forward(x, out);
                if (out != reference) ++mismatches[t];
            }
        });
    }
    for (auto& th : threads) th.join();
    for (int m : mismatches) EXPECT_EQ(m, 0);
}

}  // namespace
}  // namespace platform::accel

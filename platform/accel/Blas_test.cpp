#include "platform/accel/Blas.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace platform::accel {
namespace {

std::vector<double> randomValues(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> d(-1.0, 1.0);
    std::vector<double> v(n);
    for (auto& x : v) x = d(rng);
    return v;
}

// op(A)[i][l] with A stored row-major as rows×cols with row stride ld.
double at(const std::vector<double>& a, std::size_t ld, bool trans, std::size_t i, std::size_t l) {
    return trans ? a[l * ld + i] : a[i * ld + l];
}

// The library's default (a thread per core) never applies: one thread until
// a caller asks for more, and products stay right with more.
TEST(BlasTest, ThreadCountIsPinnedToOneUntilSet) {
    EXPECT_EQ(blasThreadCount(), kDefaultBlasThreads);
    EXPECT_EQ(kDefaultBlasThreads, 1);
    setBlasThreadCount(2);
    EXPECT_EQ(blasThreadCount(), 2);
    const std::size_t n = 256;
    std::vector<double> a = randomValues(n * n, 4), identity(n * n, 0.0), c(n * n, 0.0);
    for (std::size_t d = 0; d < n; ++d) identity[d * n + d] = 1;
    matmul(std::span<const double>(a), std::span<const double>(identity), std::span<double>(c), n, n, n);
    EXPECT_EQ(c, a);
    setBlasThreadCount(0);
    EXPECT_EQ(blasThreadCount(), 1);
}

TEST(BlasTest, GemmMatchesNaiveProductForEveryTransposeCombination) {
    const std::size_t m = 7, n = 5, k = 9;
    for (bool ta : {false, true}) {
        for (bool tb : {false, true}) {
            SCOPED_TRACE(testing::Message() << "transA " << ta << " transB " << tb);
            const std::size_t lda = ta ? m : k, ldb = tb ? k : n;
            const auto a = randomValues(k * m, 1), b = randomValues(k * n, 2), c0 = randomValues(m * n, 3);
            const double alpha = 0.5, beta = -2.0;
            std::vector<double> expected(m * n);
            for (std::size_t i = 0; i < m; ++i)
                for (std::size_t j = 0; j < n; ++j) {
                    double s = 0;
                    for (std::size_t l = 0; l < k; ++l) s += at(a, lda, ta, i, l) * at(b, ldb, tb, l, j);
                    expected[i * n + j] = alpha * s + beta * c0[i * n + j];
                }

            std::vector<double> cd = c0;
            gemm(ta ? Transpose::yes : Transpose::no, tb ? Transpose::yes : Transpose::no, m, n, k, alpha, a.data(),
                 lda, b.data(), ldb, beta, cd.data(), n);
            std::vector<float> af(a.begin(), a.end()), bf(b.begin(), b.end()), cf(c0.begin(), c0.end());
            gemm(ta ? Transpose::yes : Transpose::no, tb ? Transpose::yes : Transpose::no, m, n, k,
                 static_cast<float>(alpha), af.data(), lda, bf.data(), ldb, static_cast<float>(beta), cf.data(), n);
            for (std::size_t i = 0; i < m * n; ++i) {
                ASSERT_NEAR(cd[i], expected[i], 1e-12) << i;
                ASSERT_NEAR(cf[i], expected[i], 1e-5) << i;
            }
        }
    }
}

TEST(BlasTest, MatmulIsTheDenseRowMajorProduct) {
    // [1 2 3; 4 5 6] × [1 0; 0 1; 1 1] = [4 5; 10 11]
    const std::vector<float> a{1, 2, 3, 4, 5, 6}, b{1, 0, 0, 1, 1, 1};
    std::vector<float> c(4, -1);
    matmul(a, b, c, 2, 2, 3);
    EXPECT_EQ(c, (std::vector<float>{4, 5, 10, 11}));

    // An inner dimension of zero gives zeros, not the old contents.
    std::vector<float> z(4, 7);
    matmul(std::span<const float>(), std::span<const float>(), z, 2, 2, 0);
    EXPECT_EQ(z, (std::vector<float>(4, 0)));
}

TEST(BlasTest, GemvWithAndWithoutTranspose) {
    const std::vector<float> a{1, 2, 3, 4, 5, 6};  // 2×3
    const std::vector<float> x3{1, 1, 1}, x2{1, -1};
    std::vector<float> y2(2, 1), y3(3, 0);
    gemv(Transpose::no, 2, 3, 1.0f, a.data(), 3, x3.data(), 1, 1.0f, y2.data(), 1);
    EXPECT_EQ(y2, (std::vector<float>{7, 16}));
    gemv(Transpose::yes, 2, 3, 2.0f, a.data(), 3, x2.data(), 1, 0.0f, y3.data(), 1);
    EXPECT_EQ(y3, (std::vector<float>{-6, -6, -6}));
    const std::vector<double> ad{1, 2, 3, 4}, xd{1, 2};
    std::vector<double> yd(2);
    gemv(Transpose::no, 2, 2, 1.0, ad.data(), 2, xd.data(), 1, 0.0, yd.data(), 1);
    EXPECT_EQ(yd, (std::vector<double>{5, 11}));
}

}  // namespace
}  // namespace platform::accel

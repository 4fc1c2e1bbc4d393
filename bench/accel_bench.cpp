// The numeric layer against plain loops doing the same work, in the same run:
// FFTs of 512 and 2048 points, the 128×257 filter-bank product, and
// half-float conversion of 3.2 million values against a plain copy of the
// same data (conversion should run near memory bandwidth).

#include <benchmark/benchmark.h>

#include <cmath>
#include <complex>
#include <cstring>
#include <numbers>
#include <random>
#include <vector>

#include "bench/BenchMain.h"
#include "platform/accel/Blas.h"
#include "platform/accel/Fft.h"
#include "platform/accel/Half.h"

namespace {

using platform::accel::Half;

std::vector<float> randomFloats(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> d(-1.0f, 1.0f);
    std::vector<float> v(n);
    for (auto& x : v) x = d(rng);
    return v;
}

// Iterative radix-2 complex FFT with precomputed twiddles: the plain-loop baseline.
class PlainFft {
public:
    explicit PlainFft(std::size_t n) : n_(n), twiddle_(n / 2) {
        for (std::size_t k = 0; k < n / 2; ++k)
            twiddle_[k] = std::polar(1.0f, static_cast<float>(-2.0 * std::numbers::pi * k / n));
    }
    void run(std::vector<std::complex<float>>& a) const {
        for (std::size_t i = 1, j = 0; i < n_; ++i) {
            std::size_t bit = n_ >> 1;
            for (; j & bit; bit >>= 1) j ^= bit;
            j ^= bit;
            if (i < j) std::swap(a[i], a[j]);
        }
        for (std::size_t len = 2; len <= n_; len <<= 1) {
            const std::size_t step = n_ / len;
            for (std::size_t i = 0; i < n_; i += len)
                for (std::size_t k = 0; k < len / 2; ++k) {
                    const auto u = a[i + k];
                    const auto v = a[i + k + len / 2] * twiddle_[k * step];
                    a[i + k] = u + v;
                    a[i + k + len / 2] = u - v;
                }
        }
    }

private:
    std::size_t n_;
    std::vector<std::complex<float>> twiddle_;
};

void BM_PlainFft(benchmark::State& state) {
    const auto n = static_cast<std::size_t>(state.range(0));
    const auto x = randomFloats(n, 1);
    PlainFft fft(n);
    std::vector<std::complex<float>> a(n);
    for (auto _ : state) {
        for (std::size_t i = 0; i < n; ++i) a[i] = x[i];
        fft.run(a);
        benchmark::DoNotOptimize(a.data());
    }
}
BENCHMARK(BM_PlainFft)->Arg(512)->Arg(2048)->UseRealTime();

void BM_AccelRealFft(benchmark::State& state) {
    const auto n = static_cast<std::size_t>(state.range(0));
    const auto x = randomFloats(n, 1);
    auto fft = platform::accel::RealFft::make(n);
    std::vector<std::complex<float>> bins(fft->binCount());
    for (auto _ : state) {
        fft->forward(x, bins);
        benchmark::DoNotOptimize(bins.data());
    }
}
BENCHMARK(BM_AccelRealFft)->Arg(512)->Arg(2048)->UseRealTime();

void BM_AccelPackedRealFft(benchmark::State& state) {
    const auto n = static_cast<std::size_t>(state.range(0));
    const auto x = randomFloats(n, 1);
    auto fft = platform::accel::PackedRealFft::make(static_cast<std::size_t>(std::log2(n)));
    std::vector<float> re(n / 2), im(n / 2);
    for (auto _ : state) {
        fft->forward(x, re, im);
        benchmark::DoNotOptimize(re.data());
    }
}
BENCHMARK(BM_AccelPackedRealFft)->Arg(512)->Arg(2048)->UseRealTime();

// The mel filter bank: 128 bands × 257 bins, times one spectrum or 100 frames of spectra.
constexpr std::size_t kMels = 128, kBins = 257;

void plainProduct(const std::vector<float>& a, const std::vector<float>& b, std::vector<float>& c, std::size_t m,
                  std::size_t n, std::size_t p) {
    for (std::size_t i = 0; i < m; ++i)
        for (std::size_t j = 0; j < n; ++j) {
            float s = 0;
            for (std::size_t l = 0; l < p; ++l) s += a[i * p + l] * b[l * n + j];
            c[i * n + j] = s;
        }
}

void BM_PlainFilterbank(benchmark::State& state) {
    const auto frames = static_cast<std::size_t>(state.range(0));
    const auto a = randomFloats(kMels * kBins, 2), b = randomFloats(kBins * frames, 3);
    std::vector<float> c(kMels * frames);
    for (auto _ : state) {
        plainProduct(a, b, c, kMels, frames, kBins);
        benchmark::DoNotOptimize(c.data());
    }
}
BENCHMARK(BM_PlainFilterbank)->Arg(1)->Arg(100)->UseRealTime();

void BM_AccelFilterbank(benchmark::State& state) {
    const auto frames = static_cast<std::size_t>(state.range(0));
    const auto a = randomFloats(kMels * kBins, 2), b = randomFloats(kBins * frames, 3);
    std::vector<float> c(kMels * frames);
    for (auto _ : state) {
        platform::accel::matmul(a, b, c, kMels, frames, kBins);
        benchmark::DoNotOptimize(c.data());
    }
}
BENCHMARK(BM_AccelFilterbank)->Arg(1)->Arg(100)->UseRealTime();

constexpr std::size_t kHalfValues = 3'200'000;

void BM_CopyFloats(benchmark::State& state) {
    const auto x = randomFloats(kHalfValues, 4);
    std::vector<float> y(kHalfValues);
    for (auto _ : state) {
        std::memcpy(y.data(), x.data(), kHalfValues * sizeof(float));
        benchmark::DoNotOptimize(y.data());
    }
    state.SetBytesProcessed(state.iterations() * kHalfValues * sizeof(float));
}
BENCHMARK(BM_CopyFloats)->UseRealTime();

void BM_ScalarFloatToHalf(benchmark::State& state) {
    const auto x = randomFloats(kHalfValues, 4);
    std::vector<Half> y(kHalfValues);
    for (auto _ : state) {
        for (std::size_t i = 0; i < kHalfValues; ++i) y[i] = platform::accel::floatToHalf(x[i]);
        benchmark::DoNotOptimize(y.data());
    }
}
BENCHMARK(BM_ScalarFloatToHalf)->UseRealTime();

void BM_FloatToHalf(benchmark::State& state) {
    const auto x = randomFloats(kHalfValues, 4);
    std::vector<Half> y(kHalfValues);
    for (auto _ : state) {
        platform::accel::convertFloatToHalf(x, y);
        benchmark::DoNotOptimize(y.data());
    }
}
BENCHMARK(BM_FloatToHalf)->UseRealTime();

void BM_HalfToFloat(benchmark::State& state) {
    const auto x = randomFloats(kHalfValues, 4);
    std::vector<Half> h(kHalfValues);
    platform::accel::convertFloatToHalf(x, h);
    std::vector<float> y(kHalfValues);
    for (auto _ : state) {
        platform::accel::convertHalfToFloat(h, y);
        benchmark::DoNotOptimize(y.data());
    }
}
BENCHMARK(BM_HalfToFloat)->UseRealTime();

}  // namespace

PARLOWEN_RATIO_TARGET("BM_AccelRealFft/512/real_time", "BM_PlainFft/512/real_time", 0.5);
PARLOWEN_RATIO_TARGET("BM_AccelRealFft/2048/real_time", "BM_PlainFft/2048/real_time", 0.5);
PARLOWEN_RATIO_TARGET("BM_AccelPackedRealFft/512/real_time", "BM_PlainFft/512/real_time", 0.6);
PARLOWEN_RATIO_TARGET("BM_AccelFilterbank/1/real_time", "BM_PlainFilterbank/1/real_time", 1.0);
PARLOWEN_RATIO_TARGET("BM_AccelFilterbank/100/real_time", "BM_PlainFilterbank/100/real_time", 0.5);
// Near memory bandwidth: no slower than copying the same single-precision data.
PARLOWEN_RATIO_TARGET("BM_FloatToHalf/real_time", "BM_CopyFloats/real_time", 1.2);
PARLOWEN_RATIO_TARGET("BM_HalfToFloat/real_time", "BM_CopyFloats/real_time", 1.2);

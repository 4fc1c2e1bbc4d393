// The numeric layer against real references doing the same work, in the
// same run: FFTs of 512 and 2048 points against a direct FFTW real-to-complex
// plan (ours adds the packed layout and its scaling), the 128×257 filter-bank
// product on OpenBLAS (one thread) against a plain loop, and half-float
// conversion of 64 MB of floats against memcpy of the same 64 MB (data far
// larger than the caches, so both run at memory bandwidth).

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>
#include <numbers>
#include <random>
#include <vector>

#include <fftw3.h>

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

// FFTW itself: one real-to-complex plan on aligned arrays, made as the
// layer makes its plans (FFTW_MEASURE), executed directly.
void BM_FftwR2c(benchmark::State& state) {
    const auto n = static_cast<std::size_t>(state.range(0));
    const auto x = randomFloats(n, 1);
    auto* in = fftwf_alloc_real(n);
    auto* out = fftwf_alloc_complex(n / 2 + 1);
    const fftwf_plan plan = fftwf_plan_dft_r2c_1d(static_cast<int>(n), in, out, FFTW_MEASURE);
    std::copy(x.begin(), x.end(), in);
    for (auto _ : state) {
        fftwf_execute(plan);
        benchmark::DoNotOptimize(out);
        benchmark::ClobberMemory();
    }
    fftwf_destroy_plan(plan);
    fftwf_free(out);
    fftwf_free(in);
}
BENCHMARK(BM_FftwR2c)->Arg(512)->Arg(2048)->UseRealTime();

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

// 64 MB of floats: far beyond every cache level.
constexpr std::size_t kHalfValues = std::size_t{16} << 20;

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

// Within 1.3× of FFTW itself, our packed layout and scaling included.
PARLOWEN_RATIO_TARGET("BM_AccelRealFft/512/real_time", "BM_FftwR2c/512/real_time", 1.3);
PARLOWEN_RATIO_TARGET("BM_AccelRealFft/2048/real_time", "BM_FftwR2c/2048/real_time", 1.3);
PARLOWEN_RATIO_TARGET("BM_AccelPackedRealFft/512/real_time", "BM_FftwR2c/512/real_time", 1.3);
PARLOWEN_RATIO_TARGET("BM_AccelPackedRealFft/2048/real_time", "BM_FftwR2c/2048/real_time", 1.3);
PARLOWEN_RATIO_TARGET("BM_AccelFilterbank/1/real_time", "BM_PlainFilterbank/1/real_time", 1.0);
PARLOWEN_RATIO_TARGET("BM_AccelFilterbank/100/real_time", "BM_PlainFilterbank/100/real_time", 0.5);
// At least half of memcpy's bandwidth on the same 64 MB of floats.
PARLOWEN_RATIO_TARGET("BM_FloatToHalf/real_time", "BM_CopyFloats/real_time", 2.0);
PARLOWEN_RATIO_TARGET("BM_HalfToFloat/real_time", "BM_CopyFloats/real_time", 2.0);

#include "platform/accel/Half.h"

#include <algorithm>
#include <bit>
#include <cstddef>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define PARLOWEN_ACCEL_X86 1
#endif

namespace platform::accel {

Half floatToHalf(float value) {
    const std::uint32_t bits = std::bit_cast<std::uint32_t>(value);
    const auto sign = static_cast<std::uint16_t>((bits >> 16) & 0x8000u);
    std::uint32_t x = bits & 0x7fffffffu;

    if (x >= 0x7f800000u) {  // infinity or NaN
        if (x == 0x7f800000u) return sign | 0x7c00u;
        return static_cast<Half>(sign | 0x7e00u | ((x >> 13) & 0x03ffu));
    }
    // 65520 lies halfway between the largest half (65504) and 65536; the tie
    // goes to the even neighbour, which is infinity.
    if (x >= 0x477ff000u) return sign | 0x7c00u;

    if (x < 0x38800000u) {  // below the smallest normal half: subnormal or zero
        const std::uint32_t exponent = x >> 23;
        if (exponent < 102) return sign;  // below 2^-25 even with the largest mantissa
        const std::uint32_t mantissa = (x & 0x007fffffu) | 0x00800000u;
        const std::uint32_t shift = 126 - exponent;  // 14 ... 24
        std::uint32_t result = mantissa >> shift;
        const std::uint32_t rest = mantissa & ((1u << shift) - 1);
        const std::uint32_t halfway = 1u << (shift - 1);
        if (rest > halfway || (rest == halfway && (result & 1u))) ++result;
        return static_cast<Half>(sign | result);
    }

    // Normal: rebias the exponent and round the 13 dropped mantissa bits; a
    // carry out of the mantissa correctly bumps the exponent.
    x += 0x0fffu + ((x >> 13) & 1u);
    return static_cast<Half>(sign | ((x - 0x38000000u) >> 13));
}

float halfToFloat(Half value) {
    const std::uint32_t sign = static_cast<std::uint32_t>(value & 0x8000u) << 16;
    const std::uint32_t exponent = (value >> 10) & 0x1fu;
    const std::uint32_t mantissa = value & 0x03ffu;
    if (exponent == 0) {
        // Zero or subnormal: mantissa × 2^-24 is exact in single precision.
        const float magnitude = static_cast<float>(mantissa) * 0x1p-24f;
        return std::bit_cast<float>(sign | std::bit_cast<std::uint32_t>(magnitude));
    }
    if (exponent == 31) {
        if (mantissa == 0) return std::bit_cast<float>(sign | 0x7f800000u);
        return std::bit_cast<float>(sign | 0x7fc00000u | (mantissa << 13));
    }
    return std::bit_cast<float>(sign | ((exponent + 112) << 23) | (mantissa << 13));
}

namespace {

#ifdef PARLOWEN_ACCEL_X86
__attribute__((target("avx,f16c"))) void floatToHalfF16c(const float* src, Half* dst, std::size_t n) {
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        const __m256 v = _mm256_loadu_ps(src + i);
        const __m128i h = _mm256_cvtps_ph(v, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), h);
    }
    for (; i < n; ++i) dst[i] = floatToHalf(src[i]);
}

__attribute__((target("avx,f16c"))) void halfToFloatF16c(const Half* src, float* dst, std::size_t n) {
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        const __m128i h = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
        _mm256_storeu_ps(dst + i, _mm256_cvtph_ps(h));
    }
    for (; i < n; ++i) dst[i] = halfToFloat(src[i]);
}

bool hasF16c() {
    static const bool has = __builtin_cpu_supports("avx") && __builtin_cpu_supports("f16c");
    return has;
}
#endif

}  // namespace

void convertFloatToHalf(std::span<const float> source, std::span<Half> destination) {
    const std::size_t n = std::min(source.size(), destination.size());
#ifdef PARLOWEN_ACCEL_X86
    if (hasF16c()) {
        floatToHalfF16c(source.data(), destination.data(), n);
        return;
    }
#endif
    for (std::size_t i = 0; i < n; ++i) destination[i] = floatToHalf(source[i]);
}

void convertHalfToFloat(std::span<const Half> source, std::span<float> destination) {
    const std::size_t n = std::min(source.size(), destination.size());
#ifdef PARLOWEN_ACCEL_X86
    if (hasF16c()) {
        halfToFloatF16c(source.data(), destination.data(), n);
        return;
    }
#endif
    for (std::size_t i = 0; i < n; ++i) destination[i] = halfToFloat(source[i]);
}

}  // namespace platform::accel

#pragma once

// Fast Fourier transforms on FFTW (single precision). Transforms are
// unnormalised: forward computes X[k] = sum x[j]·e^(-2πi·jk/n), inverse the
// same sum with +i, so inverse(forward(x)) = n·x.
//
// Plans are made once per size and kind under one process-wide lock (the
// FFTW planner is not thread-safe) and kept for the life of the process, so
// making a transform object again for a size already seen is cheap. Running a
// transform is thread-safe: one object may serve several threads at once.

#include <complex>
#include <cstddef>
#include <optional>
#include <span>

namespace platform::accel {

namespace detail {
struct FftPlans;  // the FFTW plans of one size and kind
}

// Complex to complex, n points (any n ≥ 1).
class ComplexFft {
public:
    // Nothing for n = 0 or when FFTW cannot plan the size.
    static std::optional<ComplexFft> make(std::size_t n);

    std::size_t size() const { return n_; }
    // `in` and `out` hold n values each; they may be the same buffer.
    void forward(std::span<const std::complex<float>> in, std::span<std::complex<float>> out) const;
    void inverse(std::span<const std::complex<float>> in, std::span<std::complex<float>> out) const;

private:
    ComplexFft(std::size_t n, const detail::FftPlans* plans) : n_(n), plans_(plans) {}
    std::size_t n_;
    const detail::FftPlans* plans_;
};

// Real input, n points (any n ≥ 1): the n/2 + 1 non-redundant bins.
class RealFft {
public:
    static std::optional<RealFft> make(std::size_t n);

    std::size_t size() const { return n_; }
    std::size_t binCount() const { return n_ / 2 + 1; }
    // n real values in, n/2 + 1 bins out.
    void forward(std::span<const float> in, std::span<std::complex<float>> out) const;
    // n/2 + 1 bins of a Hermitian spectrum in, n real values out (unnormalised).
    void inverse(std::span<const std::complex<float>> in, std::span<float> out) const;

private:
    RealFft(std::size_t n, const detail::FftPlans* plans) : n_(n), plans_(plans) {}
    std::size_t n_;
    const detail::FftPlans* plans_;
};

// The packed layout and scaling of the radix-2 real FFT that some model front
// ends were built against (n = 2^log2n real values, two arrays of n/2):
//   forward: realp[0] = 2·X[0], imagp[0] = 2·X[n/2],
//            realp[k] = 2·Re X[k], imagp[k] = 2·Im X[k] for 0 < k < n/2;
//   inverse: takes that layout (of any spectrum Y) and returns
//            y[j] = sum over all n bins of Y[k]·e^(+2πi·jk/n),
//            so inverse(forward(x)) = 2n·x.
class PackedRealFft {
public:
    // log2n from 1 (2 points) up; nothing otherwise.
    static std::optional<PackedRealFft> make(std::size_t log2n);

    std::size_t size() const { return fft_.size(); }
    void forward(std::span<const float> in, std::span<float> realp, std::span<float> imagp) const;
    void inverse(std::span<const float> realp, std::span<const float> imagp, std::span<float> out) const;

private:
    explicit PackedRealFft(RealFft fft) : fft_(fft) {}
    RealFft fft_;
};

}  // namespace platform::accel

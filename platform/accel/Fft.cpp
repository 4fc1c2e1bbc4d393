#include "platform/accel/Fft.h"

#include <fftw3.h>

#include <cassert>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

namespace platform::accel {

namespace detail {

struct FftPlans {
    fftwf_plan forward = nullptr;
    fftwf_plan inverse = nullptr;
};

}  // namespace detail

namespace {

enum class Kind { complex, real };

std::mutex& plannerMutex() {
    static std::mutex m;
    return m;
}

struct AlignedFree {
    void operator()(void* p) const { fftwf_free(p); }
};
using AlignedBuffer = std::unique_ptr<void, AlignedFree>;

// Plans are made on aligned scratch arrays and kept for the life of the
// process; execution goes through FFTW's new-array functions, which are
// thread-safe, with caller buffers of the same alignment, or with per-thread
// aligned copies otherwise.
// Plans live until the process exits, when they are released so leak checkers stay quiet.
struct PlanCache {
    std::map<std::pair<Kind, std::size_t>, detail::FftPlans> plans;
    ~PlanCache() {
        std::lock_guard lock(plannerMutex());
        for (auto& [key, p] : plans) {
            fftwf_destroy_plan(p.forward);
            fftwf_destroy_plan(p.inverse);
        }
        fftwf_cleanup();
    }
};

const detail::FftPlans* plansFor(Kind kind, std::size_t n) {
    std::mutex& mutex = plannerMutex();  // made before the cache, so it outlives the cache's destructor
    static PlanCache planCache;
    auto& cache = planCache.plans;
    std::lock_guard lock(mutex);
    auto it = cache.find({kind, n});
    if (it != cache.end()) return &it->second;

    const int size = static_cast<int>(n);
    detail::FftPlans plans;
    const unsigned flags = FFTW_MEASURE;
    if (kind == Kind::complex) {
        AlignedBuffer in(fftwf_malloc(sizeof(fftwf_complex) * n));
        AlignedBuffer out(fftwf_malloc(sizeof(fftwf_complex) * n));
        if (!in || !out) return nullptr;
        auto* i = static_cast<fftwf_complex*>(in.get());
        auto* o = static_cast<fftwf_complex*>(out.get());
        plans.forward = fftwf_plan_dft_1d(size, i, o, FFTW_FORWARD, flags);
        plans.inverse = fftwf_plan_dft_1d(size, i, o, FFTW_BACKWARD, flags);
    } else {
        AlignedBuffer real(fftwf_malloc(sizeof(float) * n));
        AlignedBuffer bins(fftwf_malloc(sizeof(fftwf_complex) * (n / 2 + 1)));
        if (!real || !bins) return nullptr;
        auto* r = static_cast<float*>(real.get());
        auto* c = static_cast<fftwf_complex*>(bins.get());
        plans.forward = fftwf_plan_dft_r2c_1d(size, r, c, flags);
        plans.inverse = fftwf_plan_dft_c2r_1d(size, c, r, flags);
    }
    if (!plans.forward || !plans.inverse) {
        if (plans.forward) fftwf_destroy_plan(plans.forward);
        if (plans.inverse) fftwf_destroy_plan(plans.inverse);
        return nullptr;
    }
    return &cache.emplace(std::make_pair(kind, n), plans).first->second;
}

bool aligned(const void* p) { return fftwf_alignment_of(static_cast<float*>(const_cast<void*>(p))) == 0; }

// Per-thread aligned scratch, grown as needed and reused between calls.
class Scratch {
public:
    void* get(std::size_t bytes) {
        if (bytes > capacity_) {
            buffer_.reset(fftwf_malloc(bytes));
            capacity_ = buffer_ ? bytes : 0;
        }
        return buffer_.get();
    }

private:
    AlignedBuffer buffer_;
    std::size_t capacity_ = 0;
};

thread_local Scratch scratchIn;
thread_local Scratch scratchOut;

void runComplex(fftwf_plan plan, std::size_t n, const std::complex<float>* in, std::complex<float>* out) {
    const std::size_t bytes = sizeof(fftwf_complex) * n;
    // c2c may run in place only when FFTW planned it so; copy aliased input apart.
    if (aligned(in) && aligned(out) && in != out) {
        fftwf_execute_dft(plan, reinterpret_cast<fftwf_complex*>(const_cast<std::complex<float>*>(in)),
                          reinterpret_cast<fftwf_complex*>(out));
        return;
    }
    auto* i = static_cast<fftwf_complex*>(scratchIn.get(bytes));
    auto* o = static_cast<fftwf_complex*>(scratchOut.get(bytes));
    std::memcpy(i, in, bytes);
    fftwf_execute_dft(plan, i, o);
    std::memcpy(static_cast<void*>(out), o, bytes);
}

}  // namespace

std::optional<ComplexFft> ComplexFft::make(std::size_t n) {
    if (n == 0 || n > static_cast<std::size_t>(1) << 30) return std::nullopt;
    const auto* plans = plansFor(Kind::complex, n);
    if (!plans) return std::nullopt;
    return ComplexFft(n, plans);
}

void ComplexFft::forward(std::span<const std::complex<float>> in, std::span<std::complex<float>> out) const {
    assert(in.size() >= n_ && out.size() >= n_);
    runComplex(plans_->forward, n_, in.data(), out.data());
}

void ComplexFft::inverse(std::span<const std::complex<float>> in, std::span<std::complex<float>> out) const {
    assert(in.size() >= n_ && out.size() >= n_);
    runComplex(plans_->inverse, n_, in.data(), out.data());
}

std::optional<RealFft> RealFft::make(std::size_t n) {
    if (n == 0 || n > static_cast<std::size_t>(1) << 30) return std::nullopt;
    const auto* plans = plansFor(Kind::real, n);
    if (!plans) return std::nullopt;
    return RealFft(n, plans);
}

void RealFft::forward(std::span<const float> in, std::span<std::complex<float>> out) const {
    assert(in.size() >= n_ && out.size() >= binCount());
    const void* inEnd = in.data() + n_;
    const bool overlap = static_cast<const void*>(out.data()) < inEnd &&
                         static_cast<const void*>(in.data()) < static_cast<const void*>(out.data() + binCount());
    if (aligned(in.data()) && aligned(out.data()) && !overlap) {
        fftwf_execute_dft_r2c(plans_->forward, const_cast<float*>(in.data()),
                              reinterpret_cast<fftwf_complex*>(out.data()));
        return;
    }
    auto* i = static_cast<float*>(scratchIn.get(sizeof(float) * n_));
    auto* o = static_cast<fftwf_complex*>(scratchOut.get(sizeof(fftwf_complex) * binCount()));
    std::memcpy(i, in.data(), sizeof(float) * n_);
    fftwf_execute_dft_r2c(plans_->forward, i, o);
    std::memcpy(static_cast<void*>(out.data()), o, sizeof(fftwf_complex) * binCount());
}

void RealFft::inverse(std::span<const std::complex<float>> in, std::span<float> out) const {
    assert(in.size() >= binCount() && out.size() >= n_);
    // c2r destroys its input, so it always runs on a copy; the caller's bins stay intact.
    auto* i = static_cast<fftwf_complex*>(scratchIn.get(sizeof(fftwf_complex) * binCount()));
    std::memcpy(i, in.data(), sizeof(fftwf_complex) * binCount());
    if (aligned(out.data())) {
        fftwf_execute_dft_c2r(plans_->inverse, i, out.data());
        return;
    }
    auto* o = static_cast<float*>(scratchOut.get(sizeof(float) * n_));
    fftwf_execute_dft_c2r(plans_->inverse, i, o);
    std::memcpy(out.data(), o, sizeof(float) * n_);
}

std::optional<PackedRealFft> PackedRealFft::make(std::size_t log2n) {
    if (log2n < 1 || log2n > 30) return std::nullopt;
    auto fft = RealFft::make(static_cast<std::size_t>(1) << log2n);
    if (!fft) return std::nullopt;
    return PackedRealFft(*fft);
}

void PackedRealFft::forward(std::span<const float> in, std::span<float> realp, std::span<float> imagp) const {
    const std::size_t n = size();
    const std::size_t half = n / 2;
    assert(in.size() >= n && realp.size() >= half && imagp.size() >= half);
    thread_local std::vector<std::complex<float>> bins;
    bins.resize(half + 1);
    fft_.forward(in, bins);
    realp[0] = 2.0f * bins[0].real();
    imagp[0] = 2.0f * bins[half].real();
    for (std::size_t k = 1; k < half; ++k) {
        realp[k] = 2.0f * bins[k].real();
        imagp[k] = 2.0f * bins[k].imag();
    }
}

void PackedRealFft::inverse(std::span<const float> realp, std::span<const float> imagp, std::span<float> out) const {
    const std::size_t n = size();
    const std::size_t half = n / 2;
    assert(out.size() >= n && realp.size() >= half && imagp.size() >= half);
    thread_local std::vector<std::complex<float>> bins;
    bins.resize(half + 1);
    bins[0] = {realp[0], 0.0f};
    bins[half] = {imagp[0], 0.0f};
    for (std::size_t k = 1; k < half; ++k) bins[k] = {realp[k], imagp[k]};
    fft_.inverse(bins, out);
}

}  // namespace platform::accel

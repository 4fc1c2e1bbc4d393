#include "platform/accel/Blas.h"

#include <cblas.h>

#include <algorithm>
#include <cassert>
#include <mutex>

namespace platform::accel {

namespace {
CBLAS_TRANSPOSE toCblas(Transpose t) { return t == Transpose::yes ? CblasTrans : CblasNoTrans; }
blasint i(std::size_t v) { return static_cast<blasint>(v); }

std::once_flag pinned;
// Before the first product: the library's own default (every core) never applies.
void pinThreads() {
    std::call_once(pinned, [] { openblas_set_num_threads(kDefaultBlasThreads); });
}
}  // namespace

void setBlasThreadCount(int count) {
    pinThreads();
    openblas_set_num_threads(std::max(count, 1));
}

int blasThreadCount() {
    pinThreads();
    return openblas_get_num_threads();
}

void gemm(Transpose transA, Transpose transB, std::size_t m, std::size_t n, std::size_t k, float alpha,
          const float* a, std::size_t lda, const float* b, std::size_t ldb, float beta, float* c, std::size_t ldc) {
    if (m == 0 || n == 0) return;
    pinThreads();
    cblas_sgemm(CblasRowMajor, toCblas(transA), toCblas(transB), i(m), i(n), i(k), alpha, a, i(lda), b, i(ldb),
                beta, c, i(ldc));
}

void gemm(Transpose transA, Transpose transB, std::size_t m, std::size_t n, std::size_t k, double alpha,
          const double* a, std::size_t lda, const double* b, std::size_t ldb, double beta, double* c,
          std::size_t ldc) {
    if (m == 0 || n == 0) return;
    pinThreads();
    cblas_dgemm(CblasRowMajor, toCblas(transA), toCblas(transB), i(m), i(n), i(k), alpha, a, i(lda), b, i(ldb),
                beta, c, i(ldc));
}

void gemv(Transpose trans, std::size_t m, std::size_t n, float alpha, const float* a, std::size_t lda,
          const float* x, std::size_t incX, float beta, float* y, std::size_t incY) {
    if (m == 0 || n == 0) return;
    pinThreads();
    cblas_sgemv(CblasRowMajor, toCblas(trans), i(m), i(n), alpha, a, i(lda), x, i(incX), beta, y, i(incY));
}

void gemv(Transpose trans, std::size_t m, std::size_t n, double alpha, const double* a, std::size_t lda,
          const double* x, std::size_t incX, double beta, double* y, std::size_t incY) {
    if (m == 0 || n == 0) return;
    pinThreads();
    cblas_dgemv(CblasRowMajor, toCblas(trans), i(m), i(n), alpha, a, i(lda), x, i(incX), beta, y, i(incY));
}

namespace {
template <class T>
void denseProduct(std::span<const T> a, std::span<const T> b, std::span<T> c, std::size_t m, std::size_t n,
                  std::size_t p) {
    assert(a.size() >= m * p && b.size() >= p * n && c.size() >= m * n);
    if (p == 0) {  // BLAS refuses a row stride of 0; the empty sum is 0
        std::fill_n(c.begin(), m * n, T{0});
        return;
    }
    gemm(Transpose::no, Transpose::no, m, n, p, T{1}, a.data(), p, b.data(), n, T{0}, c.data(), n);
}
}  // namespace

void matmul(std::span<const float> a, std::span<const float> b, std::span<float> c, std::size_t m,
            std::size_t n, std::size_t p) {
    denseProduct(a, b, c, m, n, p);
}

void matmul(std::span<const double> a, std::span<const double> b, std::span<double> c, std::size_t m,
            std::size_t n, std::size_t p) {
    denseProduct(a, b, c, m, n, p);
}

}  // namespace platform::accel

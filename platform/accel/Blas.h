#pragma once

// Matrix products on OpenBLAS (cblas), row-major throughout.
//
// OpenBLAS would otherwise start one thread per core for a product and spin
// them: on a busy machine, or with several instances computing at once, that
// makes small products many times slower. The thread count is therefore
// explicit: one (kDefaultBlasThreads) unless a caller sets another.

#include <cstddef>
#include <span>

namespace platform::accel {

enum class Transpose { no, yes };

inline constexpr int kDefaultBlasThreads = 1;
// Sets the threads every later product may use (values below 1 count as 1).
void setBlasThreadCount(int count);
// The threads a product uses now; kDefaultBlasThreads until set.
int blasThreadCount();

// C = alpha·op(A)·op(B) + beta·C, op(A) m×k, op(B) k×n, C m×n, with leading
// dimensions (row strides) lda, ldb, ldc.
void gemm(Transpose transA, Transpose transB, std::size_t m, std::size_t n, std::size_t k, float alpha,
          const float* a, std::size_t lda, const float* b, std::size_t ldb, float beta, float* c, std::size_t ldc);
void gemm(Transpose transA, Transpose transB, std::size_t m, std::size_t n, std::size_t k, double alpha,
          const double* a, std::size_t lda, const double* b, std::size_t ldb, double beta, double* c,
          std::size_t ldc);

// y = alpha·op(A)·x + beta·y, A m×n (row stride lda), element strides incX, incY.
void gemv(Transpose trans, std::size_t m, std::size_t n, float alpha, const float* a, std::size_t lda,
          const float* x, std::size_t incX, float beta, float* y, std::size_t incY);
void gemv(Transpose trans, std::size_t m, std::size_t n, double alpha, const double* a, std::size_t lda,
          const double* x, std::size_t incX, double beta, double* y, std::size_t incY);

// Dense C (m×n) = A (m×p) · B (p×n), the plain product most callers want.
// The spans must hold at least m·p, p·n and m·n values.
void matmul(std::span<const float> a, std::span<const float> b, std::span<float> c, std::size_t m,
            std::size_t n, std::size_t p);
void matmul(std::span<const double> a, std::span<const double> b, std::span<double> c, std::size_t m,
            std::size_t n, std::size_t p);

}  // namespace platform::accel

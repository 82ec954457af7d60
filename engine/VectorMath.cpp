#include "VectorMath.h"

#if defined(__x86_64__)
#include <immintrin.h>
#include <sleef.h>
// sleef.h declares its AVX forms only when the whole file is built for AVX;
// here only one function is, so the one form it calls is declared here.
extern "C" __m256d Sleef_cinz_atan2d4_u10avx(__m256d y, __m256d x);
extern "C" __m512d Sleef_cinz_atan2d8_u10avx512fnofma(__m512d y, __m512d x);
#else
#include <cmath>
#endif

namespace globelayers {
namespace {

#if defined(__x86_64__)

// The last few values go through the same vector function, padded with a
// harmless pair, so every value is computed the same way wherever it sits.
constexpr double kPadY = 0.0, kPadX = 1.0;

void Atan2Sse2(const double* y, const double* x, double* out, std::size_t n) {
  std::size_t i = 0;
  for (; i + 2 <= n; i += 2) {
    _mm_storeu_pd(out + i, Sleef_cinz_atan2d2_u10sse2(_mm_loadu_pd(y + i), _mm_loadu_pd(x + i)));
  }
  if (i < n) {
    alignas(16) double ty[2] = {y[i], kPadY}, tx[2] = {x[i], kPadX}, to[2];
    _mm_store_pd(to, Sleef_cinz_atan2d2_u10sse2(_mm_load_pd(ty), _mm_load_pd(tx)));
    out[i] = to[0];
  }
}

__attribute__((target("avx"))) void Atan2Avx(const double* y, const double* x, double* out, std::size_t n) {
  std::size_t i = 0;
  for (; i + 4 <= n; i += 4) {
    _mm256_storeu_pd(out + i, Sleef_cinz_atan2d4_u10avx(_mm256_loadu_pd(y + i), _mm256_loadu_pd(x + i)));
  }
  if (i < n) {
    alignas(32) double ty[4] = {kPadY, kPadY, kPadY, kPadY}, tx[4] = {kPadX, kPadX, kPadX, kPadX}, to[4];
    for (std::size_t k = 0; i + k < n; ++k) ty[k] = y[i + k], tx[k] = x[i + k];
    _mm256_store_pd(to, Sleef_cinz_atan2d4_u10avx(_mm256_load_pd(ty), _mm256_load_pd(tx)));
    for (std::size_t k = 0; i + k < n; ++k) out[i + k] = to[k];
  }
}

// Eight at a time: the same deterministic function (no fused multiply-add
// either), so the same bits as the AVX and SSE2 forms.
__attribute__((target("avx512f"))) void Atan2Avx512(const double* y, const double* x, double* out, std::size_t n) {
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    _mm512_storeu_pd(out + i, Sleef_cinz_atan2d8_u10avx512fnofma(_mm512_loadu_pd(y + i), _mm512_loadu_pd(x + i)));
  }
  if (i < n) {
    alignas(64) double ty[8], tx[8], to[8];
    for (std::size_t k = 0; k < 8; ++k) ty[k] = kPadY, tx[k] = kPadX;
    for (std::size_t k = 0; i + k < n; ++k) ty[k] = y[i + k], tx[k] = x[i + k];
    _mm512_store_pd(to, Sleef_cinz_atan2d8_u10avx512fnofma(_mm512_load_pd(ty), _mm512_load_pd(tx)));
    for (std::size_t k = 0; i + k < n; ++k) out[i + k] = to[k];
  }
}

#else
// Elsewhere the C library's own atan2, one value at a time.
void Atan2Sse2(const double* y, const double* x, double* out, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) out[i] = std::atan2(y[i], x[i]);
}
void Atan2Avx(const double* y, const double* x, double* out, std::size_t n) { Atan2Sse2(y, x, out, n); }
void Atan2Avx512(const double* y, const double* x, double* out, std::size_t n) { Atan2Sse2(y, x, out, n); }
#endif

}  // namespace

TVectorIsa BestVectorIsa() {
#if defined(__x86_64__)
  static const TVectorIsa best = __builtin_cpu_supports("avx512f") ? TVectorIsa::Avx512
                                 : __builtin_cpu_supports("avx")   ? TVectorIsa::Avx
                                                                   : TVectorIsa::Sse2;
  return best;
#else
  return TVectorIsa::Sse2;
#endif
}

void Atan2ArrayWith(TVectorIsa isa, const double* y, const double* x, double* out, std::size_t n) {
  if (isa == TVectorIsa::Avx512) {
    Atan2Avx512(y, x, out, n);
  } else if (isa == TVectorIsa::Avx) {
    Atan2Avx(y, x, out, n);
  } else {
    Atan2Sse2(y, x, out, n);
  }
}

void Atan2Array(const double* y, const double* x, double* out, std::size_t n) {
  Atan2ArrayWith(BestVectorIsa(), y, x, out, n);
}

}  // namespace globelayers

// Arc tangents of whole arrays, four or two at a time.
//
// The values come from SLEEF's deterministic 1-ulp functions (the "cinz"
// family: no fused multiply-add), so a given input gives the same bits on
// every x86-64 processor, whether the AVX-512, AVX or SSE2 form runs. They differ
// from the C library's atan2 by at most one unit in the last place.
#pragma once

#include <cstddef>

namespace globelayers {

enum class TVectorIsa { Sse2, Avx, Avx512 };

// The best form this processor runs.
TVectorIsa BestVectorIsa();

// out[i] = atan2(y[i], x[i]) for i < n, in radians. `out` may alias neither
// input.
void Atan2Array(const double* y, const double* x, double* out, std::size_t n);

// The same with a chosen form; a form only where BestVectorIsa() gives it or
// a wider one.
void Atan2ArrayWith(TVectorIsa isa, const double* y, const double* x, double* out, std::size_t n);

}  // namespace globelayers

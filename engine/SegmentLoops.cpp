#include "SegmentLoops.h"

#include <algorithm>
#include <cmath>

#include "Geodesy.h"
#include "GridSampler.h"
#include "LayerModel.h"

// An AVX2 copy of each loop is picked at load time where the processor has
// it; contraction stays off (-ffp-contract=off), so both copies give the
// same bits.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define GLOBELAYERS_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define GLOBELAYERS_VECTOR_CLONES
#endif

namespace globelayers {

GLOBELAYERS_VECTOR_CLONES
void CentreArguments(int m, const double* __restrict sinAz, const double* __restrict cosAz, const TCentreTerms& k,
                     double* __restrict latY, double* __restrict latX, double* __restrict lonY,
                     double* __restrict lonX) {
  const double cosU = k.cosU, sy = k.sinSigma;
  const double cosUcy = k.cosUcy, sinUsy = k.sinUsy, sinUcy = k.sinUcy, cosUsy = k.cosUsy;
  for (int j = 0; j < m; ++j) {
    const double sinAlpha = sinAz[j], cosAlpha = cosAz[j];
    const double sinA = cosU * sinAlpha;
    const double b = cosUcy * cosAlpha - sinUsy;
    latY[j] = sinUcy + cosUsy * cosAlpha;
    latX[j] = std::sqrt(sinA * sinA + b * b);  // (1 - f) sqrt(...) with 1 - f exactly 1
    lonY[j] = sy * sinAlpha;
    lonX[j] = cosUcy - sinUsy * cosAlpha;
  }
}

GLOBELAYERS_VECTOR_CLONES
bool CentresToDegrees(int m, double lambdaRad, double guard, double* __restrict lat, double* __restrict lon,
                      char* __restrict nearWrap) {
  int any = 0;
  for (int j = 0; j < m; ++j) {
    lat[j] = lat[j] * kRadToDeg;
    double lambda2 = (lambdaRad + lon[j]) * kRadToDeg;
    const int near = std::fabs(std::fabs(lambda2) - 180) < guard ? 1 : 0;
    nearWrap[j] = static_cast<char>(near);
    any |= near;
    lambda2 = lambda2 < -180 ? lambda2 + 360 : lambda2;
    lambda2 = lambda2 > 180 ? lambda2 - 360 : lambda2;
    lon[j] = lambda2;
  }
  return any != 0;
}

GLOBELAYERS_VECTOR_CLONES
void KernelTermsArray(int n, double t, const double* __restrict r1, double r, double* __restrict cl,
                      double* __restrict q, double* __restrict u) {
  for (int k = 0; k < n; ++k) {
    const TKernelTerms terms = KernelTerms(t, r1[k], r);
    cl[k] = terms.cl;
    q[k] = terms.Q;
    u[k] = terms.u;
  }
}

GLOBELAYERS_VECTOR_CLONES
void KernelTermsBounds(int n, double tOut, double tIn, const double* __restrict r1, double r,
                       double* __restrict clOut, double* __restrict qOut, double* __restrict uOut,
                       double* __restrict clIn, double* __restrict qIn, double* __restrict uIn) {
  // KernelTerms line by line (Geodesy.h); each line is one rounding step.
  const double B = r * r;
  const auto bound = [&](double t, double r1k, double A, double T1, double twoRr1, double& cl, double& Q,
                         double& u) {
    const double T2 = (r1k * t) / (3 * r);
    const double T3 = t * t;
    const double P = twoRr1 * t;  // 2 * r * r1 * t, from the left
    const double c = T1 + T2 + T3 - 0.6666666666666666;
    double m = (B - P) + A;
    if (m < 0) m = 0;
    const double l = std::sqrt(m);
    Q = (t * t * t - t) * r;
    u = 2 * l + 2 * (r1k - r * t);
    cl = c * l;
  };
  for (int k = 0; k < n; ++k) {
    const double r1k = r1[k];
    const double A = r1k * r1k;
    const double T1 = A / (3 * B);
    const double twoRr1 = 2 * r * r1k;
    bound(tOut, r1k, A, T1, twoRr1, clOut[k], qOut[k], uOut[k]);
    bound(tIn, r1k, A, T1, twoRr1, clIn[k], qIn[k], uIn[k]);
  }
}

GLOBELAYERS_VECTOR_CLONES
void KernelPairsFinish(int n, const double* __restrict clOut, const double* __restrict qOut,
                       const double* __restrict uOut, const double* __restrict logOut,
                       const double* __restrict clIn, const double* __restrict qIn, const double* __restrict uIn,
                       const double* __restrict logIn, double* __restrict pair) {
  for (int k = 0; k < n; ++k) {
    pair[k] = KernelFinish({.cl = clOut[k], .Q = qOut[k], .u = uOut[k]}, logOut[k]) -
              KernelFinish({.cl = clIn[k], .Q = qIn[k], .u = uIn[k]}, logIn[k]);
  }
}

GLOBELAYERS_VECTOR_CLONES
void LocateArray(const TGridImports& g, int m, const double* __restrict lon, const double* __restrict lat,
                 double guard, int* __restrict ix, int* __restrict iy, double* __restrict t, double* __restrict u,
                 char* __restrict near) {
  const double wx = std::fabs(g.xStep), wy = std::fabs(g.yStep);
  const TGridFrame frame = GridFrame(g);
  for (int j = 0; j < m; ++j) {
    const TGridCell c = LocateInFrame(frame, lon[j], lat[j]);
    ix[j] = c.ix;
    iy[j] = c.iy;
    t[j] = c.t;
    u[j] = c.u;
    // There one unit in the last place of the position can turn a blank
    // node's weight from zero to nonzero.
    const bool line = std::fabs(c.t) * wx < guard || std::fabs(1 - c.t) * wx < guard ||
                      std::fabs(c.u) * wy < guard || std::fabs(1 - c.u) * wy < guard;
    near[j] = static_cast<char>(near[j] | (line ? 1 : 0));
  }
}

void InterpolateCells(const TGridImports& g, int m, const int* __restrict ix, const int* __restrict iy,
                      const double* __restrict t, const double* __restrict u, double* __restrict out) {
  // Cells ahead: enough to cover a miss's latency with the few segments'
  // work between, few enough that the lines stay in the first-level cache.
  constexpr int kAhead = 12;
  const float* values = g.values.data();
  const std::size_t ny = static_cast<std::size_t>(g.ny);
  const auto request = [&](int k) {
    const float* node = values + static_cast<std::size_t>(ix[k]) * ny + static_cast<std::size_t>(iy[k]);
    __builtin_prefetch(node);
    __builtin_prefetch(node + 1);
    __builtin_prefetch(node + ny);
    __builtin_prefetch(node + ny + 1);
  };
  for (int k = 0; k < std::min(kAhead, m); ++k) request(k);
  for (int j = 0; j < m; ++j) {
    if (j + kAhead < m) request(j + kAhead);
    out[j] = InterpolateCell(g, {.ix = ix[j], .iy = iy[j], .t = t[j], .u = u[j]});
  }
}

}  // namespace globelayers

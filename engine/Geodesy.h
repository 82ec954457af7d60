// The attraction kernel of a spherical layer and the direct geodetic problem.
//
// Glossary (radians and metres throughout):
//   psi  spherical distance from the computation point
//   r1   geocentric radius of an integration corner (Earth radius + elevation)
//   r    geocentric radius of the computation point (Earth radius + height)
//   t    cos(psi), no unit;  l  distance point to mass element, sqrt(r1^2 + r^2 - 2 r1 r t)
//   phi, lambda  latitude and longitude;  alpha  azimuth, clockwise from north
#pragma once

#include <cmath>

namespace globelayers {

// Engine constants. Printed digits depend on these exact doubles.
inline constexpr double kPi = 3.141592653589793;
inline constexpr double kTwoPi = 6.283185307179586;
inline constexpr double kHalfPi = 1.5707963267948966;
inline constexpr double kDegToRad = 0.017453292519943295;
inline constexpr double kRadToDeg = 57.29577951308232;
inline constexpr double kTiny = 1e-10;  // radians: cap threshold

// Antiderivative F(psi, r1; r) with d2F/(dr1 dpsi) = r1^2 sin(psi) (r - r1 t) / l^3:
// the vertical attraction of unit density per unit azimuth, positive toward
// the centre for mass below the point. Result in metres. Pure.
double AttractionKernel(double psi, double r1, double r);

// The kernel in two steps, so that many evaluations can take their
// logarithms in one tight loop: the terms before the logarithm, then the sum.
// AttractionKernelCos is exactly KernelFinish(KernelTerms(...), log(u)).
struct TKernelTerms {
  double cl;  // c * l, metres
  double Q;   // factor of the logarithm, metres
  double u;   // its argument, metres
};

inline TKernelTerms KernelTerms(double t, double r1, double r) {
  // Each line is one rounding step; the order is part of the result.
  const double A = r1 * r1;
  const double B = r * r;
  const double T1 = A / (3 * B);
  const double T2 = (r1 * t) / (3 * r);
  const double T3 = t * t;
  const double P = 2 * r * r1 * t;
  const double c = T1 + T2 + T3 - 0.6666666666666666;
  double m = (B - P) + A;  // squared distance point to element
  if (m < 0) m = 0;        // rounding when r1 ~ r and t ~ 1; NaN stays NaN
  const double l = std::sqrt(m);
  const double Q = (t * t * t - t) * r;
  const double u = 2 * l + 2 * (r1 - r * t);
  return {.cl = c * l, .Q = Q, .u = u};
}

// The same terms for rings next to the point, from d = 1 - cos(psi) given
// apart (formed as 2 sin^2(psi / 2), without cancellation). Within 1e-8
// radians t = cos(psi) holds only the rounding of 1, and the squared distance
// r^2 + r1^2 - 2 r r1 t loses every digit of the part that depends on psi;
// here it is (r1 - r)^2 + 2 r r1 d, t^3 - t is -t d (2 - d), and where the
// element lies below the point (r1 < r) the sum l + (r1 - r) in u is formed
// as 2 r r1 d / (l - (r1 - r)). Equal to KernelTerms(1 - d, r1, r) in exact
// arithmetic, not to its bits: only bands that ask for it take it.
inline TKernelTerms KernelTermsNear(double t, double d, double r1, double r) {
  const double A = r1 * r1;
  const double B = r * r;
  const double c = A / (3 * B) + (r1 * t) / (3 * r) + t * t - 0.6666666666666666;
  const double dr = r1 - r;  // metres
  const double l = std::sqrt(dr * dr + 2 * r * r1 * d);
  const double Q = -t * d * (2 - d) * r;
  const double lPlusDr = dr < 0 ? 2 * r * r1 * d / (l - dr) : l + dr;
  const double u = 2 * (lPlusDr + r * d);
  return {.cl = c * l, .Q = Q, .u = u};
}

// d = 1 - cos(psi) without cancellation, psi in radians; no unit.
inline double OneMinusCos(double psi) {
  const double s = std::sin(0.5 * psi);
  return 2 * s * s;
}

// ln u is taken only where it exists; at psi = 0 with r1 <= r, Q is 0 too.
inline bool KernelTakesLog(double u) { return u > 0 || std::isnan(u); }

inline double KernelFinish(const TKernelTerms& k, double logU) {
  return KernelTakesLog(k.u) ? k.cl + k.Q * logU : k.cl;
}

// The kernel with t = cos(psi) already known: same operations, same bits.
inline double AttractionKernelCos(double t, double r1, double r) {
  const TKernelTerms k = KernelTerms(t, r1, r);
  return KernelTakesLog(k.u) ? k.cl + k.Q * std::log(k.u) : k.cl;
}

// The kernel from both t = cos(psi) and d = 1 - cos(psi) (see KernelTermsNear).
inline double AttractionKernelNear(double t, double d, double r1, double r) {
  const TKernelTerms k = KernelTermsNear(t, d, r1, r);
  return KernelTakesLog(k.u) ? k.cl + k.Q * std::log(k.u) : k.cl;
}

struct TGeoPoint {
  double latDeg = 0;  // latitude, degrees, positive north
  double lonDeg = 0;  // longitude, degrees, in -180 .. 180 after one wrap
};

// Direct geodetic problem (Vincenty's nested form, iterating on sigma, the
// arc on the auxiliary sphere): the point reached from latitude phi1 and
// longitude lambda1 after the spherical distance psi (a path of a * psi
// metres) leaving at azimuth alpha1, on the ellipsoid of semi-major axis a
// and flattening f. The engine passes f = 0, where one pass of the loop gives
// the spherical answer.
TGeoPoint GeodeticDirect(double phi1,     // latitude of the start, radians
                         double lambda1,  // longitude of the start, radians
                         double psi,      // spherical distance, radians
                         double alpha1,   // azimuth at the start, radians, clockwise from north
                         double a,        // semi-major axis, metres
                         double f);       // flattening, no unit (0: a sphere of radius a)

}  // namespace globelayers

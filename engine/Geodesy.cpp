#include "Geodesy.h"

#include <cmath>

namespace globelayers {

double AttractionKernel(double psi, double r1, double r) {
  return AttractionKernelCos(std::cos(psi), r1, r);
}

// Vincenty's symbols: s path length (metres), k = 1 - f (no unit), U reduced
// latitude (radians; its sine, cosine and tangent are formed), sigma arc on
// the auxiliary sphere (radians), sigma1 that arc from the equator to the
// start, alpha the geodesic's azimuth where it crosses the equator (radians),
// c, d coefficients of the series in sigma (no unit), phi2, lambda2 the
// latitude and longitude reached (radians, then degrees).
//
// With f = 0, k is 1 and c is 1, so `k * x`, `x / k` and `/ c` multiply or
// divide by exactly 1 and change no bit. They stay: f is a parameter and
// this is the ellipsoid's formula; the fast evaluation, which knows f = 0,
// leaves them out. The product `a * psi`, divided by a again below, is no
// such case: (a * psi) / a need not be psi to the last bit, and the fast
// evaluation forms it the same way.
TGeoPoint GeodeticDirect(double phi1, double lambda1, double psi, double alpha1, double a,
                         double f) {
  const double s = a * psi;
  const double k = 1 - f;
  const double tanU = (k * std::sin(phi1)) / std::cos(phi1);
  const double sinAlpha = std::sin(alpha1);
  const double cosAlpha = std::cos(alpha1);
  const double twoSigma1 = (cosAlpha != 0 || std::isnan(cosAlpha)) ? 2 * std::atan2(tanU, cosAlpha) : 0;
  const double cosU = 1 / std::sqrt(tanU * tanU + 1);
  const double sinU = tanU * cosU;
  const double sinA = cosU * sinAlpha;
  const double cos2A = 1 - sinA * sinA;
  double x = std::sqrt((1 / k / k - 1) * cos2A + 1) + 1;
  x = (x - 2) / x;
  const double c = (x * x / 4 + 1) / (1 - x);
  const double d = (0.375 * x * x - 1) * x;
  const double sigma0 = s / k / a / c;
  double sigma = sigma0;

  double sy, cy, cz, e, sigmaPrev;
  do {
    sy = std::sin(sigma);
    cy = std::cos(sigma);
    cz = std::cos(twoSigma1 + sigma);
    e = 2 * cz * cz - 1;
    sigmaPrev = sigma;
    const double y = 2 * e - 1;
    sigma = ((((4 * sy * sy - 3) * y * cz * d / 6) + e * cy) * d / 4 - cz) * sy * d + sigma0;
  } while (std::fabs(sigma - sigmaPrev) > 5e-14);

  const double b = cosU * cy * cosAlpha - sinU * sy;
  double phi2 = std::atan2(sinU * cy + cosU * sy * cosAlpha, k * std::sqrt(sinA * sinA + b * b));
  const double dLambda = std::atan2(sy * sinAlpha, cosU * cy - sinU * sy * cosAlpha);
  const double C = ((-3 * cos2A + 4) * f + 4) * cos2A * f * 0.0625;
  const double D = ((e * cy * C + cz) * sy * C + sigma) * sinA;
  double lambda2 = lambda1 + dLambda - (1 - C) * D * f;

  phi2 *= kRadToDeg;
  lambda2 *= kRadToDeg;
  if (lambda2 < -180) lambda2 += 360;
  if (lambda2 > 180) lambda2 -= 360;
  return {.latDeg = phi2, .lonDeg = lambda2};
}

}  // namespace globelayers

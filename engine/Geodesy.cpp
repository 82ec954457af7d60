#include "Geodesy.h"

#include <cmath>

namespace globelayers {

double AttractionKernel(double psi, double r1, double r) {
  // Each line is one rounding step; the order is part of the result.
  const double t = std::cos(psi);
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
  // ln u is taken only where it exists; at psi = 0 with r1 <= r, Q is 0 too.
  if (u > 0 || std::isnan(u)) return c * l + Q * std::log(u);
  return c * l;
}

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
  return {phi2, lambda2};
}

}  // namespace globelayers

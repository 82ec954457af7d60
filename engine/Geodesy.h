// The attraction kernel of a spherical layer and the direct geodetic problem.
//
// Glossary (radians and metres throughout):
//   psi  spherical distance from the computation point
//   r1   geocentric radius of an integration corner (Earth radius + elevation)
//   r    geocentric radius of the computation point (Earth radius + height)
//   t    cos(psi);  l  distance point to mass element, sqrt(r1^2 + r^2 - 2 r1 r t)
#pragma once

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

struct TGeoPoint {
  double latDeg = 0;  // degrees, positive north
  double lonDeg = 0;  // degrees, in -180 .. 180 after one wrap
};

// Direct geodetic problem (Vincenty's nested form, iterating on sigma):
// the point reached from (phi1, lambda1) [radians] after the arc psi
// [radians; distance a*psi] leaving at azimuth alpha1 [radians, clockwise from
// north] on the ellipsoid of semi-major axis a [m] and flattening f. The
// engine passes f = 0, where one pass of the loop gives the spherical answer.
TGeoPoint GeodeticDirect(double phi1, double lambda1, double psi, double alpha1, double a,
                         double f);

}  // namespace globelayers

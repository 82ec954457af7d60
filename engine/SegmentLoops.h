// The per-segment arithmetic of one ring as flat loops over arrays, so the
// compiler can vectorise them. Each loop does, per element, exactly the
// operations of the scalar code it replaces (IEEE additions, products,
// quotients and square roots give the same bits in any vector width), and
// no loop sums across elements.
#pragma once

#include "GridImports.h"

namespace globelayers {

// Per point and ring: the products the direct problem forms from the
// latitude terms (U: the point's reduced latitude, on a sphere its latitude)
// and the ring's arc sigma (cy = cos sigma, sy = sin sigma). All without unit.
struct TCentreTerms {
  double cosU, sinSigma, cosUcy, sinUsy, sinUcy, cosUsy;
};

// The arguments of each centre's two arc tangents: latitude atan2(latY, latX),
// longitude offset atan2(lonY, lonX), both in radians. sinAz and cosAz are
// the sine and cosine of the m segments' azimuths; all arrays without unit.
void CentreArguments(int m, const double* sinAz, const double* cosAz, const TCentreTerms& k, double* latY,
                     double* latX, double* lonY, double* lonX);

// Radians to degrees with one wrap of the longitude into -180 .. 180: lat
// holds latitudes, lon longitude offsets from the point's longitude
// lambdaRad (radians); both come back in degrees, lon as longitudes.
// nearWrap[j] is set where the longitude before the wrap lies within `guard`
// degrees of +-180; returns whether any is.
bool CentresToDegrees(int m, double lambdaRad, double guard, double* lat, double* lon, char* nearWrap);

// KernelTerms(t, r1[k], r) for k < n: t = cos(psi) without unit, radii r1
// and r in metres; cl, q and u in metres.
void KernelTermsArray(int n, double t, const double* r1, double r, double* cl, double* q, double* u);

// KernelTermsArray at a ring's two bounds in one pass: tOut and tIn are the
// cosines of its outer and inner distance (no unit), radii r1 and r in
// metres; terms in metres. What does not depend on the bound (r1 squared,
// its share over 3 r^2, 2 r r1) is formed once per radius: the same
// operations as KernelTerms on the same values, so the same bits.
void KernelTermsBounds(int n, double tOut, double tIn, const double* r1, double r, double* clOut, double* qOut,
                       double* uOut, double* clIn, double* qIn, double* uIn);

// pair[k] = KernelFinish(out k, logOut[k]) - KernelFinish(in k, logIn[k]),
// in metres.
void KernelPairsFinish(int n, const double* clOut, const double* qOut, const double* uOut, const double* logOut,
                       const double* clIn, const double* qIn, const double* uIn, const double* logIn,
                       double* pair);

// LocateInGrid for m positions (lon, lat in degrees); near[j] |= 1 where a
// position lies within `guard` degrees of a node line of its cell. t and u
// are the weights across the cell, without unit.
void LocateArray(const TGridImports& g, int m, const double* lon, const double* lat, double guard, int* ix,
                 int* iy, double* t, double* u, char* near);

// InterpolateCell for m cells (ix, iy, weights t and u without unit) into
// out, each value to the bit as InterpolateCell gives it. The nodes of a
// cell are asked for from memory some cells ahead of their use: on a grid
// far larger than the caches every cell is a miss, and one at a time they
// would wait in turn.
void InterpolateCells(const TGridImports& g, int m, const int* ix, const int* iy, const double* t, const double* u,
                      double* out);

}  // namespace globelayers

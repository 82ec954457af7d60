// Glossary:
//   psi     spherical distance from the computation point, radians
//   psi0    inner distance of the first ring after the cap, radians
//   s       segment size, degrees
//   f       1 when ring 0 is the cap, else 0
//   n1, n2  rings below and beyond 90 degrees
//   R       Earth radius, metres
#include "RingLayout.h"

#include <climits>
#include <cmath>

#include "Geodesy.h"

namespace globelayers {
namespace {

constexpr double kArcSecToDeg = 1.0 / 3600;
// The cap's radius as a fraction of the segment size (a ratio, no unit).
constexpr double kCapFactor = 0.1;

// Segments of one ring: floor(cosEdge * azimuthSpan * R / (R * width)),
// left to right, R not cancelled: some quotients sit on an integer and the
// rounding decides. cosEdge is the radius of an edge circle of the ring on
// the unit sphere (the sine of the edge's distance); azimuthSpan and width
// in radians, R in metres.
int SegmentCount(double cosEdge, double azimuthSpan, double R, double width) {
  const double q = std::floor(cosEdge * azimuthSpan * R / (R * width));
  if (!(q >= 1)) return 1;  // 0, negative or not a number
  return q >= INT_MAX ? INT_MAX : static_cast<int>(q);
}

}  // namespace

std::optional<TRingLayout> BuildRingLayout(double psiFrom, double psiTo, double azimuthFrom,
                                           double azimuthTo, double segmentSizeArcSec,
                                           double earthRadiusM) {
  // A size that is not a positive finite number gives no meaningful ring
  // count: it is refused like a size that gives too many rings.
  if (!(segmentSizeArcSec > 0) || !std::isfinite(segmentSizeArcSec)) return std::nullopt;

  TRingLayout L;
  const double s = segmentSizeArcSec * kArcSecToDeg;  // degrees
  int f = 0;
  if (psiFrom <= kTiny) {
    L.capPresent = true;
    f = 1;
    L.startDistance = kCapFactor * s * kDegToRad;
  } else {
    L.startDistance = psiFrom;
  }
  const double psi0 = L.startDistance;

  // Ring counts as doubles first: a huge quotient must not overflow an int.
  double n1 = 0, n2 = 0;
  enum { kA, kB, kC } zone;
  if (psi0 < kHalfPi && psiTo > kHalfPi) {
    zone = kA;
    n1 = std::floor((kHalfPi - psi0) * kRadToDeg / s) + f;
    n2 = std::floor((psiTo - kHalfPi) * kRadToDeg / s);
  } else if (psiTo <= kHalfPi) {
    zone = kB;
    n1 = std::floor((psiTo - psi0) * kRadToDeg / s) + f;
  } else {
    zone = kC;
    n2 = std::floor((psiTo - psi0) * kRadToDeg / s);
  }
  if (std::isnan(n1) || std::isnan(n2)) return std::nullopt;
  // A band narrower than one segment gives a negative quotient: no rings.
  if (n1 < 0) n1 = 0;
  if (n2 < 0) n2 = 0;
  if (n1 + n2 > MaxRings) return std::nullopt;
  L.nearCount = static_cast<int>(n1);
  L.farCount = static_cast<int>(n2);

  switch (zone) {
    case kA:
      L.nearWidth = (kHalfPi - psi0) / (L.nearCount - f);
      L.farWidth = (psiTo - kHalfPi) / L.farCount;
      break;
    case kB:
      L.nearWidth = (psiTo - psi0) / (L.nearCount - f);
      L.farWidth = 0;
      break;
    case kC:
      L.nearWidth = 0;
      L.farWidth = (psiTo - psi0) / L.farCount;
      break;
  }
  L.farBase = psiFrom > kHalfPi ? psiFrom : kHalfPi;

  const double azimuthSpan = azimuthTo - azimuthFrom;  // radians
  const double R = earthRadiusM;
  // As many entries as rings: a band's memory follows its rings, not MaxRings.
  L.segmentCounts.assign(static_cast<std::size_t>(L.ringCount()), 0);
  if (L.capPresent && L.nearCount > 0) L.segmentCounts[0] = 1;
  for (int k = f; k < L.nearCount; ++k) {
    double edge = psi0 + (k + 1) * L.nearWidth;
    if (edge > kHalfPi) edge = kHalfPi;
    L.segmentCounts[k] = SegmentCount(std::cos(kHalfPi - edge), azimuthSpan, R, L.nearWidth);
  }
  for (int k = L.nearCount; k < L.ringCount(); ++k) {
    double edge = L.farBase + (k - L.nearCount) * L.farWidth;
    if (edge > kTwoPi) edge = kTwoPi;
    L.segmentCounts[k] = SegmentCount(std::cos(edge - kHalfPi), azimuthSpan, R, L.farWidth);
  }
  return L;
}

TRingBounds RingBounds(const TRingLayout& L, int k) {
  TRingBounds b;
  const double psi0 = L.startDistance;
  if (k < L.nearCount) {
    if (L.capPresent) {
      if (k == 0) {
        b.cap = true;
        b.psiIn = 0;
        b.psiOut = psi0;
        return b;
      }
      b.psiIn = psi0 + (k - 1) * L.nearWidth;
      b.psiOut = psi0 + k * L.nearWidth;
    } else {
      b.psiIn = psi0 + k * L.nearWidth;
      b.psiOut = psi0 + (k + 1) * L.nearWidth;
    }
    // The rings fill their span exactly by construction; the last outer
    // edge may land a rounding step above 90 degrees and must not be lost.
    b.skip = b.psiOut > kHalfPi + kTiny;
  } else {
    b.psiIn = L.farBase + (k - L.nearCount) * L.farWidth;
    b.psiOut = L.farBase + (k - L.nearCount + 1) * L.farWidth;
    b.skip = b.psiOut > kPi + kTiny;
  }
  return b;
}

std::int64_t SegmentTotal(const TRingLayout& L) {
  std::int64_t total = 0;
  for (int k = 0; k < L.ringCount(); ++k) {
    if (!RingBounds(L, k).skip) total += L.segmentCounts[k];
  }
  return total;
}

double SegmentMidAzimuth(int j, int m) {
  const double step = kTwoPi / m;
  return (j * step + (j + 1) * step) * 0.5;
}

}  // namespace globelayers

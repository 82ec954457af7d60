// Integration rings: the zone between two spherical distances cut into rings
// of spherical distance, each ring into equal azimuth segments that always go
// round the full circle. The azimuth span only sets how many segments a ring
// gets. Computed once per run; depends on no point.
//
// Glossary:
//   psi   spherical distance from the computation point, radians
//   psi0  inner distance of the first ring after the cap, radians
//   m_k   segments of ring k, an integer >= 1
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace globelayers {

inline constexpr int MaxRings = 8640;

// The most segments a point's zone may have: ten times a full circle at the
// finest segment size that MaxRings allows. Beyond it a run is refused.
inline constexpr std::int64_t kMaxSegmentsPerPoint = 1'000'000'000;

struct TRingLayout {
  bool capPresent = false;   // the zone starts at the point: ring 0 is the cap
  double startDistance = 0;  // psi0, radians: the cap's outer edge, or the zone's inner edge
  int nearCount = 0;         // n1: rings below 90 degrees, the cap included
  int farCount = 0;          // n2: rings beyond 90 degrees
  double nearWidth = 0;      // d1: width of a ring below 90 degrees, radians
  double farWidth = 0;       // d2: width of a ring beyond 90 degrees, radians
  double farBase = 0;        // b: inner distance of the first far ring, radians
  std::vector<int> segmentCounts;  // m_k: segments of ring k, one per ring (ringCount())
  bool nearPointKernel = false;    // its rings take the kernel for rings next to the point (TZone)

  int ringCount() const { return nearCount + farCount; }
};

// The rings of the zone psiFrom .. psiTo around any point. Empty when the
// zone needs more than MaxRings rings, or when the segment size is not a
// positive number.
std::optional<TRingLayout> BuildRingLayout(double psiFrom,            // spherical distance, radians
                                           double psiTo,              // spherical distance, radians
                                           double azimuthFrom,        // radians, clockwise from north
                                           double azimuthTo,          // radians, clockwise from north
                                           double segmentSizeArcSec,  // arc-seconds
                                           double earthRadiusM);      // metres

struct TRingBounds {
  double psiIn = 0;   // inner spherical distance, radians
  double psiOut = 0;  // outer spherical distance, radians
  bool skip = false;  // lies beyond 90 degrees (near) or 180 degrees (far)
  bool cap = false;   // the cap: one segment, sampled at the point itself
};

// Bounds of ring k, 0 <= k < ringCount().
TRingBounds RingBounds(const TRingLayout& layout, int k);

// Segments of all rings that are walked (skipped rings left out), counted
// without overflow.
std::int64_t SegmentTotal(const TRingLayout& layout);

// Mid spherical distance of a ring (radians).
inline double RingMidDistance(const TRingBounds& b) { return (b.psiIn + b.psiOut) * 0.5; }
// Mid azimuth of segment j of a ring of m segments round the full circle
// (radians, clockwise from north), 0 <= j < m.
double SegmentMidAzimuth(int j, int m);

}  // namespace globelayers

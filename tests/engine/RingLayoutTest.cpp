// Ring layouts of typical zones, the ring limit, and the ring bounds.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "Geodesy.h"
#include "RingLayout.h"

namespace globelayers {
namespace {

constexpr double kR = 6371001.0;

// The zone psiFromDeg .. psiToDeg (spherical distances, degrees), segments of
// segArcSec arc-seconds, azimuths azimuthFromDeg .. azimuthToDeg (degrees).
std::optional<TRingLayout> Layout(double psiFromDeg, double psiToDeg, double segArcSec,
                                  double azimuthFromDeg = 0, double azimuthToDeg = 360) {
  return BuildRingLayout(psiFromDeg * kDegToRad, psiToDeg * kDegToRad, azimuthFromDeg * kDegToRad,
                         azimuthToDeg * kDegToRad, segArcSec, kR);
}

TEST(RingLayout, DefaultZone) {
  const auto L = Layout(0, 180, 3600);
  ASSERT_TRUE(L);
  EXPECT_TRUE(L->capPresent);
  EXPECT_DOUBLE_EQ(L->startDistance, 0.1 * kDegToRad);
  EXPECT_EQ(L->nearCount, 90);
  EXPECT_EQ(L->farCount, 90);
  EXPECT_NEAR(L->nearWidth * kRadToDeg, 89.9 / 89, 1e-12);
  EXPECT_NEAR(L->farWidth * kRadToDeg, 1.0, 1e-12);
  EXPECT_EQ(L->segmentCounts[0], 1);
  EXPECT_EQ(L->segmentCounts[1], 13);
  EXPECT_EQ(L->segmentCounts[2], 19);
  EXPECT_EQ(L->segmentCounts[3], 25);
  // The far ring starting at 150 degrees sits a rounding step above 180
  // segments; the count is taken exactly as the expression rounds.
  EXPECT_EQ(L->segmentCounts[90 + 60], 180);
  EXPECT_EQ(SegmentTotal(*L), 41458);

  const TRingBounds cap = RingBounds(*L, 0);
  EXPECT_TRUE(cap.cap);
  EXPECT_EQ(cap.psiIn, 0.0);
  EXPECT_EQ(cap.psiOut, L->startDistance);
  const TRingBounds first = RingBounds(*L, 1);
  EXPECT_EQ(first.psiIn, L->startDistance);
  EXPECT_NEAR(first.psiOut * kRadToDeg, 0.1 + 89.9 / 89, 1e-12);
  for (int k = 0; k < L->ringCount(); ++k) EXPECT_FALSE(RingBounds(*L, k).skip) << k;
}

TEST(RingLayout, RingLimit) {
  const auto at75 = Layout(0, 180, 75);
  ASSERT_TRUE(at75);
  EXPECT_EQ(at75->nearCount + at75->farCount, 8640);
  EXPECT_EQ(at75->nearCount, 4320);
  EXPECT_FALSE(Layout(0, 180, 74));  // 4379 + 4378 rings
  EXPECT_FALSE(Layout(0, 180, 60));  // 10800 rings
}

// A band holds one segment count per ring it has, not per ring a band may
// have: 100,000 coarse zones used to take 35 KB each.
TEST(RingLayout, MemoryFollowsTheRings) {
  for (const double sizeArcSec : {3600.0, 75.0}) {
    const auto layout = Layout(1, 2, sizeArcSec);
    ASSERT_TRUE(layout);
    EXPECT_EQ(layout->segmentCounts.size(), static_cast<std::size_t>(layout->ringCount()));
  }
  EXPECT_EQ(Layout(1, 2, 3600)->segmentCounts.size(), 1u);  // one degree: one ring
}

TEST(RingLayout, SegmentSizeMustBePositive) {
  for (double size : {0.0, -3600.0, std::numeric_limits<double>::quiet_NaN(),
                      std::numeric_limits<double>::infinity(), 1e-300}) {
    EXPECT_FALSE(Layout(0, 180, size)) << size;
  }
}

TEST(RingLayout, ZoneCases) {
  struct Case {
    const char* name;
    double from, to;
    int nearCount, farCount;
    bool cap;
    double firstInDeg;  // inner distance of ring 0 (or the first far ring)
  };
  const Case cases[] = {
      {"near_only", 10, 20, 10, 0, false, 10},
      {"far_only", 100, 180, 0, 80, false, 100},
      {"to_exactly_90", 10, 90, 80, 0, false, 10},
      {"narrower_than_a_segment", 10, 10.5, 0, 0, false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto L = Layout(c.from, c.to, 3600);
    ASSERT_TRUE(L);
    EXPECT_EQ(L->capPresent, c.cap);
    EXPECT_EQ(L->nearCount, c.nearCount);
    EXPECT_EQ(L->farCount, c.farCount);
    if (L->ringCount() > 0) {
      EXPECT_NEAR(RingBounds(*L, 0).psiIn * kRadToDeg, c.firstInDeg, 1e-12);
      const TRingBounds last = RingBounds(*L, L->ringCount() - 1);
      EXPECT_NEAR(last.psiOut * kRadToDeg, c.to, 1e-9);
      EXPECT_NEAR((last.psiOut - last.psiIn) * kRadToDeg, 1.0, 1e-9);
    }
  }
}

TEST(RingLayout, LastNearRingIsKeptWhenItsEdgeRoundsAbove90Degrees) {
  // With 9000 arc-seconds the last near ring's outer edge lands one rounding
  // step above pi/2; dropping it would lose a 2.5-degree ring.
  const auto L = Layout(0, 180, 9000);
  ASSERT_TRUE(L);
  const TRingBounds last = RingBounds(*L, L->nearCount - 1);
  EXPECT_GE(last.psiOut, kHalfPi);
  EXPECT_FALSE(last.skip);
  for (int k = 0; k < L->ringCount(); ++k) EXPECT_FALSE(RingBounds(*L, k).skip) << k;
  // Every whole-number segment size that divides the zone keeps all rings.
  for (int size = 75; size <= 36000; size += 75) {
    const auto M = Layout(0, 180, size);
    ASSERT_TRUE(M) << size;
    for (int k = 0; k < M->ringCount(); ++k) ASSERT_FALSE(RingBounds(*M, k).skip) << size << " " << k;
  }
}

TEST(RingLayout, HalfAzimuthRangeHalvesSegmentCounts) {
  const auto full = Layout(0, 180, 3600, 0, 360);
  const auto half = Layout(0, 180, 3600, 0, 180);
  ASSERT_TRUE(full && half);
  EXPECT_EQ(half->segmentCounts[0], 1);
  for (int k = 1; k < full->ringCount(); ++k) {
    EXPECT_NEAR(half->segmentCounts[k], full->segmentCounts[k] / 2.0, 1.0) << k;
  }
}

TEST(RingLayout, SegmentAzimuthsCoverTheCircle) {
  EXPECT_DOUBLE_EQ(SegmentMidAzimuth(0, 4), kPi / 4);
  EXPECT_DOUBLE_EQ(SegmentMidAzimuth(3, 4), 7 * kPi / 4);
  EXPECT_DOUBLE_EQ(SegmentMidAzimuth(0, 1), kPi);
}

}  // namespace
}  // namespace globelayers

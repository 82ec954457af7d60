// The direct geodetic problem: worked examples, and GeographicLib's geodesic
// on a sphere as an independent oracle.
#include <gtest/gtest.h>

#include <GeographicLib/Geodesic.hpp>
#include <cmath>
#include <random>

#include "Geodesy.h"

namespace globelayers {
namespace {

constexpr double kR = 6371001.0;
constexpr double kTol = 1e-9;  // degrees

struct DirectCase {
  const char* name;
  double latDeg, lonDeg, psiDeg, aziDeg;
  double expectLat, expectLon;
};
void PrintTo(const DirectCase& c, std::ostream* os) { *os << c.name; }

class Direct : public testing::TestWithParam<DirectCase> {};

TEST_P(Direct, ReachesExpectedPoint) {
  const DirectCase& c = GetParam();
  const TGeoPoint p = GeodeticDirect(c.latDeg * kDegToRad, c.lonDeg * kDegToRad, c.psiDeg * kDegToRad,
                                     c.aziDeg * kDegToRad, kR, 0.0);
  EXPECT_NEAR(p.latDeg, c.expectLat, kTol);
  EXPECT_NEAR(p.lonDeg, c.expectLon, kTol);
}

const DirectCase kDirect[] = {
    {"zero_distance", 12.5, 48.25, 0, 33, 12.5, 48.25},
    {"zero_distance_wraps", 10, 200, 0, 33, 10, -160},
    {"north_along_meridian", 0, 20, 10, 0, 10, 20},
    {"east_across_dateline", 0, 170, 20, 90, 0, -170},
    {"start_at_350_goes_north", 0, 350, 1, 0, 1, -10},
    {"antipode", 30, 40, 180, 0, -30, -140},
    {"from_north_pole", 90, 10, 30, 45, 60, 145},
};

INSTANTIATE_TEST_SUITE_P(Examples, Direct, testing::ValuesIn(kDirect),
                         [](const auto& i) { return std::string(i.param.name); });

TEST(GeodeticDirect, AgreesWithGeographicLibOnASphere) {
  const GeographicLib::Geodesic sphere(kR, 0);
  std::mt19937_64 rng(20261210);
  std::uniform_real_distribution<double> lat(-89.9, 89.9), lon(-180, 180), psi(0, 179.9),
      azi(0, 360);
  for (int n = 0; n < 2000; ++n) {
    const double lat1 = lat(rng), lon1 = lon(rng), psiDeg = psi(rng), aziDeg = azi(rng);
    double lat2 = 0, lon2 = 0;
    sphere.Direct(lat1, lon1, aziDeg, kR * psiDeg * kDegToRad, lat2, lon2);
    const TGeoPoint p =
        GeodeticDirect(lat1 * kDegToRad, lon1 * kDegToRad, psiDeg * kDegToRad, aziDeg * kDegToRad, kR, 0.0);
    SCOPED_TRACE(testing::Message() << lat1 << " " << lon1 << " psi " << psiDeg << " azi " << aziDeg);
    EXPECT_NEAR(p.latDeg, lat2, kTol);
    double dLon = std::remainder(p.lonDeg - lon2, 360.0);
    EXPECT_NEAR(dLon, 0.0, kTol);
    EXPECT_GE(p.lonDeg, -180.0);
    EXPECT_LE(p.lonDeg, 180.0);
  }
}

}  // namespace
}  // namespace globelayers

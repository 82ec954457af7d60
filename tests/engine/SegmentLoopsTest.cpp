// The vectorised ring loops against the scalar code they replace: the same
// bits element by element (odd lengths, so vector bodies and their scalar
// tails both run), and the flags that send a centre back to the exact path.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "Geodesy.h"
#include "LayerModel.h"
#include "SegmentLoops.h"

namespace globelayers {
namespace {

constexpr int kLength = 103;

TEST(SegmentLoops, CentreArgumentsAsTheScalarFormulas) {
  std::mt19937_64 rng(1);
  std::uniform_real_distribution<double> angle(-3.2, 3.2);
  std::vector<double> sinAz(kLength), cosAz(kLength), latY(kLength), latX(kLength), lonY(kLength), lonX(kLength);
  for (int j = 0; j < kLength; ++j) sinAz[j] = std::sin(angle(rng)), cosAz[j] = std::cos(angle(rng));
  const double cosU = 0.6, sinU = 0.8, sy = 0.3, cy = std::sqrt(1 - 0.09);
  const TCentreTerms k{.cosU = cosU,
                       .sinSigma = sy,
                       .cosUcy = cosU * cy,
                       .sinUsy = sinU * sy,
                       .sinUcy = sinU * cy,
                       .cosUsy = cosU * sy};
  CentreArguments(kLength, sinAz.data(), cosAz.data(), k, latY.data(), latX.data(), lonY.data(), lonX.data());
  for (int j = 0; j < kLength; ++j) {
    const double sinA = cosU * sinAz[j];
    const double b = k.cosUcy * cosAz[j] - k.sinUsy;
    ASSERT_EQ(latY[j], k.sinUcy + k.cosUsy * cosAz[j]) << j;
    ASSERT_EQ(latX[j], std::sqrt(sinA * sinA + b * b)) << j;
    ASSERT_EQ(lonY[j], sy * sinAz[j]) << j;
    ASSERT_EQ(lonX[j], k.cosUcy - k.sinUsy * cosAz[j]) << j;
  }
}

TEST(SegmentLoops, DegreesWrapAndAntimeridianFlags) {
  // Longitude offsets (radians) from a point at 170 degrees east; the sum
  // before the wrap is what the flag looks at.
  const double lambdaRad = 170 * kDegToRad;
  struct TCase {
    double offsetDeg;
    bool near;
  } cases[] = {{0.5, false}, {10 - 1e-11, true}, {10 + 1e-11, true}, {9.9, false},
               {10.1, false}, {-350 + 1e-11, true}, {-349, false}, {200, false}};
  std::vector<double> lat, lon;
  for (const TCase& c : cases) lat.push_back(0.3), lon.push_back(c.offsetDeg * kDegToRad);
  std::vector<char> flags(lat.size(), 7);
  const std::vector<double> offsets = lon;
  EXPECT_TRUE(CentresToDegrees(int(lat.size()), lambdaRad, 1e-9, lat.data(), lon.data(), flags.data()));
  for (std::size_t j = 0; j < lat.size(); ++j) {
    SCOPED_TRACE(cases[j].offsetDeg);
    EXPECT_EQ(flags[j] != 0, cases[j].near);
    EXPECT_EQ(lat[j], 0.3 * kRadToDeg);
    double want = (lambdaRad + offsets[j]) * kRadToDeg;
    if (want < -180) want += 360;
    if (want > 180) want -= 360;
    EXPECT_EQ(lon[j], want);
  }
  double far[] = {0.1, 0.2, 0.3}, lats[] = {0, 0, 0};
  std::vector<char> none(3);
  EXPECT_FALSE(CentresToDegrees(3, lambdaRad, 1e-9, lats, far, none.data()));
}

TEST(SegmentLoops, KernelLoopsAsTheScalarKernel) {
  std::mt19937_64 rng(2);
  std::uniform_real_distribution<double> height(-11000, 9000);
  const double R = 6371001, rP = R + 120, tOut = std::cos(0.02), tIn = std::cos(0.01);
  std::vector<double> r1(kLength);
  for (double& r : r1) r = R + height(rng);
  r1[5] = rP;  // the point's own radius: m rounds to 0 or below
  std::vector<double> clO(kLength), qO(kLength), uO(kLength), clI(kLength), qI(kLength), uI(kLength);
  KernelTermsArray(kLength, tOut, r1.data(), rP, clO.data(), qO.data(), uO.data());
  KernelTermsArray(kLength, tIn, r1.data(), rP, clI.data(), qI.data(), uI.data());
  std::vector<double> logO(kLength), logI(kLength), pair(kLength);
  for (int k = 0; k < kLength; ++k) {
    const TKernelTerms o = KernelTerms(tOut, r1[k], rP), i = KernelTerms(tIn, r1[k], rP);
    ASSERT_EQ(clO[k], o.cl) << k;
    ASSERT_EQ(qO[k], o.Q) << k;
    ASSERT_EQ(uO[k], o.u) << k;
    ASSERT_EQ(clI[k], i.cl) << k;
    logO[k] = KernelTakesLog(uO[k]) ? std::log(uO[k]) : 0;
    logI[k] = KernelTakesLog(uI[k]) ? std::log(uI[k]) : 0;
  }
  KernelPairsFinish(kLength, clO.data(), qO.data(), uO.data(), logO.data(), clI.data(), qI.data(), uI.data(),
                    logI.data(), pair.data());
  for (int k = 0; k < kLength; ++k) {
    ASSERT_EQ(pair[k], AttractionKernelCos(tOut, r1[k], rP) - AttractionKernelCos(tIn, r1[k], rP)) << k;
  }
  // Both bounds in one pass: the same bits as the two passes, bound by bound
  // (including the radius where the squared distance rounds to 0 or below).
  std::vector<double> both[6];
  for (auto& v : both) v.assign(kLength, -7.0);
  KernelTermsBounds(kLength, tOut, tIn, r1.data(), rP, both[0].data(), both[1].data(), both[2].data(),
                    both[3].data(), both[4].data(), both[5].data());
  const std::vector<double>* separate[6] = {&clO, &qO, &uO, &clI, &qI, &uI};
  for (int a = 0; a < 6; ++a) {
    for (int k = 0; k < kLength; ++k) ASSERT_EQ(std::memcmp(&both[a][k], &(*separate[a])[k], sizeof(double)), 0) << a << " " << k;
  }
}

TEST(SegmentLoops, GridCellsAsTheScalarSamplerAndNodeLineFlags) {
  TGridImports g;
  g.nx = 41, g.ny = 31, g.xMin = -20, g.xStep = 1, g.yMin = 30, g.yStep = 1;
  g.values.assign(std::size_t(g.nx) * g.ny, 0.0f);
  std::mt19937_64 rng(3);
  std::uniform_real_distribution<double> lonAt(-40, 40), latAt(10, 80);
  std::vector<double> lon(kLength), lat(kLength);
  for (int j = 0; j < kLength; ++j) lon[j] = lonAt(rng), lat[j] = latAt(rng);
  // Positions on, next to and away from node lines, inside and outside.
  const double special[][2] = {{3, 40.5},          {3 + 1e-11, 40.5}, {3 - 1e-11, 40.5}, {3.5, 41 - 1e-11},
                               {3.5, 41.5},        {20, 60},          {-25, 45.5},       {-25 + 1e-11, 45.5},
                               {3 + 1e-6, 40.5}};
  const bool specialNear[] = {true, true, true, true, false, true, false, false, false};
  for (int s = 0; s < 9; ++s) lon[s] = special[s][0], lat[s] = special[s][1];
  std::vector<int> ix(kLength), iy(kLength);
  std::vector<double> t(kLength), u(kLength);
  std::vector<char> near(kLength, 0);
  LocateArray(g, kLength, lon.data(), lat.data(), 1e-9, ix.data(), iy.data(), t.data(), u.data(), near.data());
  for (int j = 0; j < kLength; ++j) {
    const TGridCell c = LocateInGrid(g, lon[j], lat[j]);
    ASSERT_EQ(ix[j], c.ix) << j;
    ASSERT_EQ(iy[j], c.iy) << j;
    ASSERT_EQ(t[j], c.t) << j;
    ASSERT_EQ(u[j], c.u) << j;
    if (j < 9) {
      EXPECT_EQ(near[j] != 0, specialNear[j]) << lon[j] << " " << lat[j];
    }
  }
  // Flags accumulate over grids: a set flag stays set.
  std::vector<char> set(kLength, 1);
  LocateArray(g, kLength, lon.data(), lat.data(), 1e-9, ix.data(), iy.data(), t.data(), u.data(), set.data());
  for (char f : set) {
    ASSERT_EQ(f, 1);
  }
}

// The samples of whole arrays of cells, with the nodes asked for ahead:
// every value as the scalar sampler gives it, at the grid's first and last
// cells (whose nodes end the buffer), outside the grid (extrapolated), and
// beside blank nodes with zero and with nonzero weight. Lengths shorter and
// longer than the distance it reads ahead.
TEST(SegmentLoops, CellSamplesAsTheScalarSampler) {
  TGridImports g;
  g.nx = 41, g.ny = 31, g.xMin = -20, g.xStep = 1, g.yMin = 30, g.yStep = 1;
  g.values.resize(std::size_t(g.nx) * g.ny);
  for (int ix = 0; ix < g.nx; ++ix) {
    for (int iy = 0; iy < g.ny; ++iy) g.at(ix, iy) = float(100 * std::sin(ix * 0.3) + 7 * iy);
  }
  g.at(11, 10) = kBlankMarker;  // at longitude -9, latitude 40
  std::mt19937_64 rng(5);
  std::uniform_real_distribution<double> lonAt(-30, 30), latAt(20, 70);
  std::vector<double> lon(kLength), lat(kLength);
  for (int j = 0; j < kLength; ++j) lon[j] = lonAt(rng), lat[j] = latAt(rng);
  // Corner nodes, the blank node, a cell with it at zero and at nonzero
  // weight, positions outside the grid.
  const double special[][2] = {{-20, 30},   {20, 60},    {19.99, 59.99}, {-9, 40},
                               {-10, 40.5}, {-9.5, 40.5}, {-25, 75},     {25, 25}};
  for (int s = 0; s < 8; ++s) lon[s] = special[s][0], lat[s] = special[s][1];
  std::vector<int> ix(kLength), iy(kLength);
  std::vector<double> t(kLength), u(kLength);
  std::vector<char> near(kLength, 0);
  LocateArray(g, kLength, lon.data(), lat.data(), 1e-9, ix.data(), iy.data(), t.data(), u.data(), near.data());
  for (const int m : {0, 1, 5, kLength}) {
    std::vector<double> out(kLength + 1, -7.0);
    InterpolateCells(g, m, ix.data(), iy.data(), t.data(), u.data(), out.data());
    for (int j = 0; j < m; ++j) {
      const double want = SampleGrid(g, lon[j], lat[j]);
      ASSERT_EQ(std::memcmp(&out[j], &want, sizeof want), 0) << m << " " << lon[j] << " " << lat[j];
    }
    ASSERT_EQ(out[m], -7.0);  // nothing written past the end
  }
  // The fixture holds both kinds of cell next to the blank.
  EXPECT_NE(SampleGrid(g, -10, 40.5), double{kBlankMarker});
  EXPECT_EQ(SampleGrid(g, -9.5, 40.5), double{kBlankMarker});
}

}  // namespace
}  // namespace globelayers

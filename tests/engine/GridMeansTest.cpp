// Block means for far bands and the zone presets: the pyramid keeps the
// grid's frame and constant values, a band on block means prints what a
// band on the coarser grid itself prints, and a preset run is the run of
// the bands it names.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "LayerRowText.h"
#include "Calculation.h"
#include "Geodesy.h"
#include "GridFixtures.h"
#include "GridMeans.h"
#include "PointEvaluation.h"
#include "RecordingPrompts.h"
#include "Zone.h"

namespace globelayers {
namespace {

using testing_fixtures::TempDir;
using testing_fixtures::WriteGlobalGrid;

// A loaded grid in memory: nx x ny nodes from (xMinDeg, yMinDeg) at the
// given spacings (degrees), node values from `value(ix, iy)`.
template <typename Value>
std::unique_ptr<TGridImports> MemoryGrid(int nx, int ny, double xMinDeg, double yMinDeg, double xStepDeg,
                                         double yStepDeg, Value value) {
  auto g = std::make_unique<TGridImports>();
  g->fileFormat = TGridFormat::kSurfer6;
  g->nx = static_cast<decltype(g->nx)>(nx);
  g->ny = static_cast<decltype(g->ny)>(ny);
  g->xMin = xMinDeg;
  g->yMin = yMinDeg;
  g->xStep = xStepDeg;
  g->yStep = yStepDeg;
  g->blankValue = kBlankMarker;
  BoundsFromSteps(*g);
  for (int ix = 0; ix < nx; ++ix) {
    for (int iy = 0; iy < ny; ++iy) g->at(ix, iy) = value(ix, iy);
  }
  return g;
}

// Sliding box means summed directly, node by node of the box (the sums
// that the running sums of TBoxMeansRows stand for): the node (jx, jy) of
// level `level`, or kBlankMarker. Each node of `grid` stands for its cell:
// weight 1 inside the box, the part of its cell inside at the box's ends;
// rows weighted by cos(latitude), each by its share of blanks; the grid's
// last column repeats its first where it spans a whole turn.
double DirectBoxNode(const TGridImports& grid, int level, double boxArcSec, bool massMeans, double R, int jx,
                     int jy) {
  const long stride = 1L << level, nx = grid.nx, ny = grid.ny;
  const bool wraps = std::fabs(std::fabs((nx - 1) * grid.xStep) - 360) < 1e-9;
  const double boxDeg = boxArcSec / 3600;  // degrees
  // The weight of node i of a box [centre - half, centre + half] (in
  // spacings): the length of [i - 1/2, i + 1/2] inside it.
  const auto inside = [](double centre, double half, long i) {
    const double lo = std::max(centre - half, i - 0.5), hi = std::min(centre + half, i + 0.5);
    return std::max(0.0, hi - lo);
  };
  const double halfRows = 0.5 * boxDeg / std::fabs(grid.yStep);
  double sum = 0, weight = 0, blank = 0;
  for (long iy = std::max(0L, long(std::floor(jy * stride - halfRows)));
       iy <= std::min(ny - 1, long(std::ceil(jy * stride + halfRows))); ++iy) {
    const double wy = inside(double(jy * stride), halfRows, iy);
    if (wy <= 0) continue;
    const double c = std::max(1e-6, std::cos((grid.yMin + iy * grid.yStep) * kDegToRad));
    const double halfColumns = std::min(0.5 * boxDeg / c, 180.0) / std::fabs(grid.xStep);
    double rowSum = 0, rowWeight = 0, rowBlank = 0;
    const long centre = jx * stride;
    for (long k = long(std::floor(centre - halfColumns)); k <= long(std::ceil(centre + halfColumns)); ++k) {
      const double wx = inside(double(centre), halfColumns, k);
      long column = k;
      if (wraps) column = ((k % (nx - 1)) + (nx - 1)) % (nx - 1);
      if (wx <= 0 || column < 0 || column >= nx) continue;
      const float v = grid.at(int(column), int(iy));
      if (v >= kBlankThreshold) {
        rowBlank += wx;
      } else {
        rowSum += wx * (massMeans ? MassOfHeight(v, R) : v);
        rowWeight += wx;
      }
    }
    const double rowAll = rowWeight + rowBlank;
    if (!(rowAll > 0)) continue;
    sum += wy * c * rowSum / rowAll;
    weight += wy * c * rowWeight / rowAll;
    blank += wy * c * rowBlank / rowAll;
  }
  if (!(blank < weight)) return kBlankMarker;
  return massMeans ? HeightOfMass(sum / weight, R) : sum / weight;
}

// Rough relief (metres), and the same with a blank patch and scattered
// blank nodes.
float Rough(int ix, int iy) { return float(2000 * std::sin(ix * 1.7) * std::cos(iy * 0.9) + 37 * ix - 11 * iy + 3000); }
float RoughWithBlanks(int ix, int iy) {
  if ((ix >= 7 && ix <= 9 && iy >= 4 && iy <= 6) || ix * iy % 11 == 3) return kBlankMarker;
  return Rough(ix, iy);
}

TEST(HalvedMeans, KeepsTheFrameAndHalvesTheNodes) {
  struct Case {
    int nx, ny;          // fine nodes
    int coarseNx, coarseNy;
  };
  for (const Case c : {Case{5, 9, 3, 5}, Case{4, 3, 2, 2}, Case{361, 181, 181, 91}}) {
    SCOPED_TRACE(c.nx);
    const auto fine = MemoryGrid(c.nx, c.ny, -10, 20, 0.5, -0.25, [](int, int) { return 1.0f; });
    const auto coarse = HalvedMeans(*fine);
    ASSERT_TRUE(coarse);
    EXPECT_EQ(coarse->nx, c.coarseNx);
    EXPECT_EQ(coarse->ny, c.coarseNy);
    EXPECT_EQ(coarse->xMin, -10);
    EXPECT_EQ(coarse->yMin, 20);
    EXPECT_EQ(coarse->xStep, 1.0);
    EXPECT_EQ(coarse->yStep, -0.5);  // rows from north to south stay so
    EXPECT_TRUE(coarse->loaded());
  }
  EXPECT_FALSE(HalvedMeans(*MemoryGrid(2, 9, 0, 0, 1, 1, [](int, int) { return 0.0f; })));
  EXPECT_FALSE(HalvedMeans(*MemoryGrid(9, 2, 0, 0, 1, 1, [](int, int) { return 0.0f; })));
}

// Weights 1/4, 1/2, 1/4: a constant stays exact, a plane stays the plane
// inside the grid, and a lone spike spreads with the weights' products.
TEST(HalvedMeans, MeansWithTentWeights) {
  const auto constant = HalvedMeans(*MemoryGrid(7, 7, 0, 0, 1, 1, [](int, int) { return 1234.567f; }));
  for (const float v : constant->values) EXPECT_EQ(v, 1234.567f);

  const auto plane = HalvedMeans(*MemoryGrid(9, 9, 0, 0, 1, 1, [](int ix, int iy) { return float(3 * ix - 2 * iy); }));
  for (int jx = 1; jx < 4; ++jx) {
    for (int jy = 1; jy < 4; ++jy) EXPECT_EQ(plane->at(jx, jy), float(6 * jx - 4 * jy));
  }

  const auto spike =
      HalvedMeans(*MemoryGrid(9, 9, 0, 0, 1, 1, [](int ix, int iy) { return ix == 4 && iy == 5 ? 16.0f : 0.0f; }));
  EXPECT_EQ(spike->at(2, 2), 16.0f * 0.5f * 0.25f);
  EXPECT_EQ(spike->at(2, 3), 16.0f * 0.5f * 0.25f);
  EXPECT_EQ(spike->at(1, 2), 0.0f);
}

// A coarse node is blank when at least half of its weight falls on blank
// nodes; otherwise the blanks are left out of its mean.
TEST(HalvedMeans, BlankWhereMostOfTheWeightIsBlank) {
  const auto grid = [](std::vector<std::pair<int, int>> blanks) {
    return MemoryGrid(5, 5, 0, 0, 1, 1, [blanks](int ix, int iy) {
      for (const auto& [bx, by] : blanks) {
        if (bx == ix && by == iy) return kBlankMarker;
      }
      return float(10 * ix + iy);
    });
  };
  // Around node (2, 2) of the fine grid: coarse node (1, 1).
  const auto centreBlank = HalvedMeans(*grid({{2, 2}}));  // a quarter of the weight
  const double others = (0.0625 * (11 + 13 + 31 + 33) + 0.125 * (12 + 21 + 23 + 32)) / 0.75;
  EXPECT_FLOAT_EQ(centreBlank->at(1, 1), float(others));
  const auto halfBlank = HalvedMeans(*grid({{2, 2}, {1, 2}, {3, 2}}));  // 1/4 + 1/8 + 1/8
  EXPECT_EQ(halfBlank->at(1, 1), kBlankMarker);
  EXPECT_EQ(halfBlank->blankCount, 1);
}

// Heights average as the mass above the sphere: (R + h*)^3 equals the
// weighted mean of (R + h)^3, formed here in long double from the cubes
// themselves; the inverse keeps heights from millimetres to kilometres.
TEST(HalvedMassMeans, KeepTheMassAboveTheSphere) {
  constexpr long double R = 6371001;  // metres
  const auto height = [](int ix, int iy) { return float(4000 * std::sin(1.3 * ix + 0.4 * iy) + 1000); };
  const auto grid = MemoryGrid(5, 5, 0, 0, 1, 1, height);
  const auto coarse = HalvedMassMeans(*grid, double(R));
  const auto linear = HalvedMeans(*grid);
  long double cubes = 0, weights = 0;
  for (int dx = -1; dx <= 1; ++dx) {
    for (int dy = -1; dy <= 1; ++dy) {
      const long double w = (dx == 0 ? 0.5L : 0.25L) * (dy == 0 ? 0.5L : 0.25L);
      cubes += w * std::pow(R + height(2 + dx, 2 + dy), 3.0L);
      weights += w;
    }
  }
  const long double expected = std::cbrt(cubes / weights) - R;
  EXPECT_NEAR(coarse->at(1, 1), double(expected), 1e-3);
  // The cube is convex: the mass mean lies above the mean of the heights,
  // by about their variance over R (here about a metre).
  EXPECT_GT(coarse->at(1, 1), linear->at(1, 1) + 0.5);

  const auto constant = HalvedMassMeans(*MemoryGrid(7, 7, 0, 0, 1, 1, [](int, int) { return -1234.567f; }), 6371001);
  for (const float v : constant->values) EXPECT_EQ(v, -1234.567f);

  for (const double h : {1e-3, -0.25, 1.0, 8848.0, -10994.0, 1e5}) {
    const double m = MassOfHeight(h, 6371001);
    // The long double cubes carry about 30 m^3 of rounding at R^3.
    EXPECT_NEAR(double((std::pow(R + h, 3.0L) - R * R * R)), m, 1e-9 * std::fabs(m) + 1e3) << h;
    EXPECT_NEAR(HeightOfMass(m, 6371001), h, 1e-13 * std::fabs(h)) << h;
  }
}

// A grid whose columns go once round the globe has no edge at its first
// and last column: their means take the nodes across the seam. Any other
// grid leaves the nodes outside it out.
TEST(HalvedMeans, GridRoundTheGlobeWrapsAtItsSeam) {
  struct Case {
    double xMinDeg, xStepDeg;  // degrees
    int nx;
    bool wraps;
  };
  for (const Case c : {Case{-180, 45, 9, true}, Case{0, 45, 9, true}, Case{180, -45, 9, true},
                       Case{-180, 40, 9, false}, Case{-180, 45, 8, false}}) {
    SCOPED_TRACE(c.xMinDeg + c.xStepDeg);
    // Column values 0, 10, 20, ...; the last column repeats the first.
    const auto grid = MemoryGrid(c.nx, 5, c.xMinDeg, -60, c.xStepDeg, 30, [c](int ix, int) {
      return float(c.wraps && ix == c.nx - 1 ? 0 : 10 * ix);
    });
    // Weights 1/4, 1/2, 1/4 on the columns before, at and after the first.
    const double expected = c.wraps ? 0.25 * 10 * (c.nx - 2) + 0.5 * 0 + 0.25 * 10 : (0.5 * 0 + 0.25 * 10) / 0.75;
    const std::unique_ptr<TGridImports> levels[] = {HalvedMeans(*grid), HalvedMassMeans(*grid, 6371001)};
    for (const auto& coarse : levels) {
      EXPECT_NEAR(coarse->at(0, 2), expected, 1e-3);  // metres: mass and plain means differ by far less
      if (c.wraps) {
        EXPECT_EQ(coarse->at(0, 2), coarse->at(coarse->nx - 1, 2));
      }
    }
  }
}

// Independent closed form of the vertical attraction, mGal, of a band of a
// spherical shell (radii rInner..rOuter metres, spherical distances
// psi1..psi2 radians, density rho g/cm3) at radius rP: the integral over
// cos(psi) in closed form, over the radius by 24-point Gauss-Legendre.
double ShellBandAttraction(double rInner, double rOuter, double psi1, double psi2, double rho, double rP) {
  constexpr double G = 0.006673;  // mGal per (g/cm3 times metres)
  // Antiderivative over t = cos(psi) of (rP - r t) / l^3, l^2 = rP^2 + r^2 - 2 rP r t.
  const auto F = [rP](double r, double t) {
    const double q = std::sqrt(rP * rP + r * r - 2 * rP * r * t);
    return ((rP * rP - r * r) / q - q) / (2 * rP * rP * r);
  };
  // Nodes and weights of 24-point Gauss-Legendre on [-1, 1], by Newton on P_24.
  constexpr int n = 24;
  double sum = 0;
  for (int i = 1; i <= n; ++i) {
    double x = std::cos(kPi * (i - 0.25) / (n + 0.5)), dp = 0;
    for (int it = 0; it < 100; ++it) {
      double p0 = 1, p1 = x;
      for (int k = 2; k <= n; ++k) {
        const double p2 = ((2 * k - 1) * x * p1 - (k - 1) * p0) / k;
        p0 = p1;
        p1 = p2;
      }
      dp = n * (x * p1 - p0) / (x * x - 1);
      const double dx = p1 / dp;
      x -= dx;
      if (std::fabs(dx) < 1e-16) break;
    }
    const double w = 2 / ((1 - x * x) * dp * dp);
    const double r = 0.5 * (rOuter + rInner) + 0.5 * (rOuter - rInner) * x;
    sum += w * r * r * (F(r, std::cos(psi1)) - F(r, std::cos(psi2)));
  }
  return G * rho * 2 * kPi * 0.5 * (rOuter - rInner) * sum;
}

// A layer whose top is rough in longitude (4000 m +- 4000 m, one period
// every 8 nodes of a 6' global grid) and whose bottom is flat, on a band
// 60..120 degrees away sampled at 48': the means at 48' hold one period
// per node, so the band must attract as a uniform shell whose top keeps
// the mass, (R + H*)^3 = mean of (R + h)^3. A shell at the mean height
// (the plain mean of the heights) misses it by far more than the tolerance.
TEST(ZoneGridMeans, FarBandOnRoughTopAttractsAsItsMass) {
  constexpr double R = 6371001, H0 = 4000, A = 4000, rho = 2.67;  // metres, metres, metres, g/cm3
  const auto top = [](int ix, int) { return float(H0 + A * std::cos(2 * kPi * ix / 8)); };
  long double cubes = 0;
  for (int ix = 0; ix < 8; ++ix) cubes += std::pow(R + static_cast<long double>(top(ix, 0)), 3.0L);
  const double hStar = double(std::cbrt(cubes / 8) - R);  // metres

  TLayerModel model;
  model[0].elevationGrid = MemoryGrid(3601, 1801, -180, -90, 0.1, 0.1, top);
  model[1].elevation = 0;
  model[1].density = rho;
  const std::vector<TZone> zones = {{60, 120, 2880, true}};
  const TZoneGridMeans means({{model[0].elevationGrid.get(), TGridRole::Elevation}}, zones, R);
  ASSERT_EQ(ZoneGrid(means.ForZone(0), *model[0].elevationGrid).xStep, 0.8);
  const auto layout = BuildRingLayout(60 * kDegToRad, 120 * kDegToRad, 0, 2 * kPi, 2880, R);
  ASSERT_TRUE(layout);
  const TRingTable table = BuildRingTable(*layout, R);
  const TRunContext ctx{.model = model,
                        .zones = {{.rings = *layout, .table = table, .standIns = means.ForZone(0)}},
                        .rowCount = 2,
                        .earthRadius = R,
                        .psiFrom = 60 * kDegToRad,
                        .psiTo = 120 * kDegToRad,
                        .increment = 0,
                        .priority = 0,
                        .twoPiG = 2.0 * kPi * 0.006673,
                        .unitFactor = 1.0,
                        .layout = MakeResultLayout(0, true, 2)};
  TPointEvaluator evaluator(ctx);
  for (const TCalcPoint& p : {TCalcPoint{.lambda = 0.05, .phi = 10, .pointNumber = 1, .height = 0},
                              TCalcPoint{.lambda = 179.93, .phi = -47.2, .pointNumber = 2, .height = 3500},
                              TCalcPoint{.lambda = -100, .phi = 89.9, .pointNumber = 3, .height = 10}}) {
    SCOPED_TRACE(p.pointNumber);
    const std::string line = evaluator.Evaluate(p);
    const double dte = std::stod(line.substr(line.find_last_of(' ', line.size() - 2)));  // mGal
    const double rP = R + p.height, psi1 = 60 * kDegToRad, psi2 = 120 * kDegToRad;
    const double shell = ShellBandAttraction(R, R + hStar, psi1, psi2, rho, rP);
    const double atMeanHeight = ShellBandAttraction(R, R + H0, psi1, psi2, rho, rP);
    EXPECT_NEAR(dte, shell, 0.002);
    EXPECT_GT(std::fabs(shell - atMeanHeight), 0.01);
  }
}

TEST(MeanLevel, NearestPowerOfTwoOfTheSegmentOverTheSpacing) {
  struct Case {
    double spacingArcSec, segmentArcSec;
    int level;
  };
  const Case cases[] = {{60, 60, 0},   {60, 84, 0},    {60, 85, 1},   {60, 900, 4},
                        {60, 1800, 5}, {60, 3600, 6},  {3600, 900, 0}, {0, 900, 0}};
  for (const Case& c : cases) {
    EXPECT_EQ(MeanLevel(c.spacingArcSec, c.segmentArcSec), c.level) << c.spacingArcSec << " " << c.segmentArcSec;
  }
}

// Each band that asks for means gets the level of its own segment size;
// the others sample the grid itself; a grid too small to halve that far
// serves with its coarsest level.
TEST(ZoneGridMeans, EachBandItsLevel) {
  const auto grid = MemoryGrid(37, 19, -180, -90, 10, 10, [](int ix, int iy) { return float(ix + iy); });
  const std::vector<TZone> zones = {{0, 10, 36000, false},
                                    {10, 40, 72000, true},
                                    {40, 90, 144000, true},
                                    {90, 180, 36000 * 64, true}};
  const TZoneGridMeans means({{grid.get(), TGridRole::Density}}, zones, 6371001);
  EXPECT_EQ(means.ForZone(0), nullptr);
  EXPECT_EQ(&ZoneGrid(means.ForZone(0), *grid), grid.get());
  const TGridImports& level1 = ZoneGrid(means.ForZone(1), *grid);
  const TGridImports& level2 = ZoneGrid(means.ForZone(2), *grid);
  const TGridImports& deepest = ZoneGrid(means.ForZone(3), *grid);
  EXPECT_EQ(level1.xStep, 20);
  EXPECT_EQ(level2.xStep, 40);
  // 37 x 19 nodes halve to 19 x 10, 10 x 5, 5 x 3, 3 x 2, then no further.
  EXPECT_EQ(deepest.nx, 3);
  EXPECT_EQ(deepest.ny, 2);
}

// A window of `whole` (columns c0 .. c0 + nc - 1, rows r0 .. r0 + nr - 1),
// as LoadGridWindow reads one.
std::unique_ptr<TGridImports> WindowOf(const TGridImports& whole, int c0, int nc, int r0, int nr) {
  auto part = MemoryGrid(nc, nr, whole.xMin + c0 * whole.xStep, whole.yMin + r0 * whole.yStep, whole.xStep,
                         whole.yStep, [&](int ix, int iy) { return whole.at(c0 + ix, r0 + iy); });
  part->fileXMin = whole.xMin, part->fileYMin = whole.yMin;
  part->fileNx = whole.nx, part->fileNy = whole.ny;
  part->column0 = c0, part->row0 = r0;
  return part;
}

// The pyramid and the box means of a grid read in a window come from its
// file read in strips of rows, never held whole: every level that a band
// samples must hold the bits of the same level of the whole grid. The strips come as a
// GDAL window would give them: from a block of 5 rows at or before the
// row asked, at most 7 rows, so that a strip starts before the row the
// pyramid needs next and holds fewer rows than asked.
struct StripCase {
  const char* name;
  int nx, ny;
  double xMin, yMin, step;  // degrees
  TGridRole role;
};
void PrintTo(const StripCase& c, std::ostream* os) { *os << c.name; }

const StripCase kStrips[] = {
    // 73 columns over a whole turn: the pyramid wraps at the seam; 37 rows
    // (odd) halve to 19, 10, 5, 3, 2.
    {"GlobeOfElevationsOddRows", 73, 37, -180, -90, 5, TGridRole::Elevation},
    // 40 x 26 nodes (even), densities, no wrap.
    {"RegionOfDensitiesEvenRows", 40, 26, 10, 40, 0.5, TGridRole::Density},
};

class ZoneGridMeansStrips : public testing::TestWithParam<StripCase> {};

TEST_P(ZoneGridMeansStrips, HoldTheBitsOfThePyramidOfTheWholeGrid) {
  const StripCase& c = GetParam();
  const auto whole = MemoryGrid(c.nx, c.ny, c.xMin, c.yMin, c.step, c.step, [](int ix, int iy) {
    // Rough, and blank in a patch that covers more than half of some
    // coarse nodes' weight and less of others'.
    if (ix >= 7 && ix <= 9 && iy >= 4 && iy <= 6) return kBlankMarker;
    return float(2000 * std::sin(ix * 1.7) * std::cos(iy * 0.9) + 37 * ix - 11 * iy);
  });
  const auto window = WindowOf(*whole, 10, 11, 5, 11);
  const double spacing = c.step * 3600;  // arc-seconds
  // Levels 1, 2 and 3, and one beyond the coarsest that can be formed;
  // box means of 3 and 11 spacings (levels 0 and 2), formed in the same
  // pass.
  const std::vector<TZone> zones = {
      {0, 10, spacing, false},
      {10, 40, 2 * spacing, true},
      {40, 90, 4 * spacing, true},
      {90, 120, 8 * spacing, true},
      {120, 140, 1024 * spacing, true},
      {.psiFromDeg = 140, .psiToDeg = 160, .segmentSizeArcSec = 3 * spacing, .blockMeans = true, .boxMeans = true},
      {.psiFromDeg = 160, .psiToDeg = 180, .segmentSizeArcSec = 11 * spacing, .blockMeans = true, .boxMeans = true}};
  int strips = 0;
  const TGridRowReader readRows = [&](std::int32_t row0, std::int32_t rows, TGridImports& strip) {
    EXPECT_GE(rows, 2);
    ++strips;
    const int first = row0 / 5 * 5, count = std::min({7, row0 + rows - first, c.ny - first});
    strip = *WindowOf(*whole, 0, c.nx, first, count);
    return true;
  };
  const TZoneGridMeans fromWhole({{whole.get(), c.role}}, zones, 6371001);
  const TZoneGridMeans fromStrips({{.grid = window.get(), .role = c.role, .readRows = readRows}}, zones, 6371001);
  EXPECT_GT(strips, 3);
  for (std::size_t z = 1; z < zones.size(); ++z) {
    SCOPED_TRACE(z);
    const TGridImports& a = ZoneGrid(fromWhole.ForZone(z), *whole);
    const TGridImports& b = ZoneGrid(fromStrips.ForZone(z), *window);
    ASSERT_NE(&a, whole.get());
    ASSERT_NE(&b, window.get());
    EXPECT_EQ(b.nx, a.nx);
    EXPECT_EQ(b.ny, a.ny);
    EXPECT_EQ(b.xMin, a.xMin);
    EXPECT_EQ(b.yMin, a.yMin);
    EXPECT_EQ(b.xStep, a.xStep);
    EXPECT_EQ(b.yMax, a.yMax);
    EXPECT_EQ(b.blankCount, a.blankCount);
    EXPECT_EQ(b.zMin, a.zMin);
    EXPECT_EQ(b.zMax, a.zMax);
    ASSERT_EQ(b.values.size(), a.values.size());
    EXPECT_EQ(std::memcmp(b.values.data(), a.values.data(), a.values.size() * sizeof(float)), 0);
  }
  EXPECT_GT(ZoneGrid(fromWhole.ForZone(1), *whole).blankCount, 0);
}

INSTANTIATE_TEST_SUITE_P(Engine, ZoneGridMeansStrips, testing::ValuesIn(kStrips),
                         [](const auto& info) { return std::string(info.param.name); });

// A box level whose bands stop short of 180 degrees keeps only the rows of
// the level within the stations' reach (windowOf), a window with the bits
// of those rows of the whole level, and only the file's rows under their
// boxes are read; a level for bands to 180 degrees is whole.
TEST(ZoneGridMeans, BoxLevelWithinTheReachKeepsItsRows) {
  const auto whole = MemoryGrid(73, 37, -180, -90, 5, 5, RoughWithBlanks);
  const auto window = WindowOf(*whole, 10, 11, 5, 11);
  const std::vector<TZone> zones = {
      {.psiFromDeg = 0, .psiToDeg = 30, .segmentSizeArcSec = 15 * 3600, .blockMeans = true, .boxMeans = true},
      {.psiFromDeg = 30, .psiToDeg = 180, .segmentSizeArcSec = 45 * 3600, .blockMeans = true, .boxMeans = true}};
  std::vector<double> reaches;  // degrees
  const auto windowOf = [&reaches](const TGridImports& level, double reachDeg) {
    reaches.push_back(reachDeg);
    return TNodeWindow{.column0 = 0, .columns = level.nx, .row0 = 6, .rows = 4};
  };
  int lowest = 1 << 30, highest = -1;  // rows of the file read
  const auto readRows = [&](std::int32_t row0, std::int32_t rows, TGridImports& strip) {
    lowest = std::min(lowest, int(row0));
    highest = std::max(highest, int(row0 + rows - 1));
    strip = *WindowOf(*whole, 0, whole->nx, row0, rows);
    return true;
  };
  // The 45-degree box reaches every row: read once with only the 15-degree
  // one, so that the rows read show.
  const TZoneGridMeans near({{.grid = window.get(), .role = TGridRole::Elevation, .readRows = readRows,
                              .windowOf = windowOf}},
                            {zones[0]}, 6371001);
  EXPECT_EQ(reaches, std::vector<double>{30});
  // Level 1 (every second row, 10 degrees apart), rows 6 .. 9 at 30 .. 0 S:
  // rows 12 .. 18 of the grid and 1.5 rows either side.
  EXPECT_GE(lowest, 9);
  EXPECT_LE(highest, 21);
  const TZoneGridMeans both({{.grid = window.get(), .role = TGridRole::Elevation, .readRows = readRows,
                              .windowOf = windowOf}},
                            zones, 6371001);
  const TZoneGridMeans fromWhole({{whole.get(), TGridRole::Elevation}}, zones, 6371001);
  for (const auto* means : {&near, &both}) {
    const TGridImports& kept = ZoneGrid(means->ForZone(0), *window);
    const TGridImports& all = ZoneGrid(fromWhole.ForZone(0), *whole);
    ASSERT_TRUE(kept.windowed());
    EXPECT_EQ(kept.row0, 6);
    EXPECT_EQ(kept.ny, 4);
    EXPECT_EQ(kept.fileNy, all.ny);
    EXPECT_EQ(kept.fileYMin, all.yMin);
    EXPECT_EQ(kept.yMin, all.yMin + 6 * all.yStep);
    ASSERT_EQ(kept.nx, all.nx);
    for (int jx = 0; jx < kept.nx; ++jx) {
      for (int jy = 0; jy < kept.ny; ++jy) ASSERT_EQ(kept.at(jx, jy), all.at(jx, jy + 6)) << jx << ", " << jy;
    }
  }
  const TGridImports& far = ZoneGrid(both.ForZone(1), *window);
  const TGridImports& farWhole = ZoneGrid(fromWhole.ForZone(1), *whole);
  EXPECT_FALSE(far.windowed());
  ASSERT_EQ(far.values.size(), farWhole.values.size());
  EXPECT_EQ(std::memcmp(far.values.data(), farWhole.values.data(), far.values.size() * sizeof(float)), 0);
}

// A band on block means is, to the printed digit, a band whose layers hold
// the block means as their grids: the fast evaluation and the reference
// sample the same stand-ins.
TEST(ZoneGridMeans, BandOnMeansPrintsTheMeansGridsRun) {
  const auto topo = [](int ix, int iy) { return float(1500 * std::sin(ix * 0.7) * std::cos(iy * 0.45) + 300); };
  TLayerModel model;
  model[0].elevationGrid = MemoryGrid(721, 361, -180, -90, 0.5, 0.5, topo);
  model[1].elevation = -2000;
  model[1].density = 2.67;
  TLayerModel meansModel;
  meansModel[0].elevationGrid = HalvedMassMeans(*HalvedMassMeans(*model[0].elevationGrid, 6371001), 6371001);
  meansModel[1].elevation = -2000;
  meansModel[1].density = 2.67;

  const std::vector<TZone> zones = {{5, 180, 7200, true}};
  const TZoneGridMeans means({{model[0].elevationGrid.get(), TGridRole::Elevation}}, zones, 6371001);
  ASSERT_EQ(ZoneGrid(means.ForZone(0), *model[0].elevationGrid).xStep, 2.0);  // 7200" at 1800": level 2
  const auto layout = BuildRingLayout(5 * kDegToRad, kPi, 0, 2 * kPi, 7200, 6371001);
  ASSERT_TRUE(layout);
  const TRingTable table = BuildRingTable(*layout, 6371001);
  const auto context = [&](const TLayerModel& m, const TGridStandIns* standIns) {
    return TRunContext{.model = m,
                       .zones = {{.rings = *layout, .table = table, .standIns = standIns}},
                       .rowCount = 2,
                       .earthRadius = 6371001,
                       .psiFrom = 5 * kDegToRad,
                       .psiTo = kPi,
                       .increment = 10,
                       .priority = 0,
                       .twoPiG = 2.0 * kPi * 0.006673,
                       .unitFactor = 1.0,
                       .layout = MakeResultLayout(10, false, 2)};
  };
  const TRunContext onMeans = context(model, means.ForZone(0));
  const TRunContext onGrid = context(model, nullptr);
  const TRunContext meansAsGrid = context(meansModel, nullptr);
  TPointEvaluator fastOnMeans(onMeans), fastOnGrid(onGrid), fastMeansAsGrid(meansAsGrid);
  for (const TCalcPoint& p : {TCalcPoint{.lambda = 12.3, .phi = 45.6, .pointNumber = 1, .height = 800},
                              TCalcPoint{.lambda = -179.9, .phi = -88, .pointNumber = 2, .height = 0}}) {
    const std::string line = fastOnMeans.Evaluate(p);
    EXPECT_EQ(line, fastMeansAsGrid.Evaluate(p));
    EXPECT_EQ(line, EvaluatePointReference(onMeans, p));
    EXPECT_NE(line, fastOnGrid.Evaluate(p));
  }
}

// Sliding box means on a 1-degree global grid (its columns wrap round):
// each node of the level the mean over a box of the given size on the
// ground, every node standing for its own cell. A step in longitude shows
// how much of the box each side holds; towards the poles the box spans
// 1 / cos(latitude) as many degrees of longitude. Expected fractions from
// the cells inside each box (rows a little off the node's latitude widen
// their boxes slightly: the tolerance).
TEST(SlidingBoxMeans, BoxOfTheSizeOnTheGround) {
  // 1 east of the zero meridian (column 180 on), and in 170..180 E.
  const auto step = MemoryGrid(361, 181, -180, -90, 1, 1, [](int ix, int) { return ix >= 180 ? 1.0f : 0.0f; });
  const auto nearSeam =
      MemoryGrid(361, 181, -180, -90, 1, 1, [](int ix, int) { return ix >= 351 && ix <= 359 ? 1.0f : 0.0f; });
  struct Case {
    const char* what;
    const TGridImports* grid;
    int jx, jy;       // level-1 node: 2 degrees apart from 180 W, 90 S
    double expected;  // no unit
    double tolerance;
  };
  const Case cases[] = {
      {"on the step, equator: 3 of 5 cells east", step.get(), 90, 45, 0.6, 1e-4},
      {"2 degrees east of it: all 5", step.get(), 91, 45, 1.0, 1e-3},
      {"on the step at 60 N: 5.5 of 10 cells", step.get(), 90, 75, 0.55, 2e-3},
      {"on the seam: 178 and 179 E of 178 E .. 178 W", nearSeam.get(), 0, 45, 0.4, 1e-4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const auto level = SlidingBoxMeans(*c.grid, 1, 5 * 3600, false, 6371001);
    ASSERT_TRUE(level);
    EXPECT_EQ(level->nx, 181);
    EXPECT_EQ(level->ny, 91);
    EXPECT_EQ(level->xStep, 2.0);
    EXPECT_EQ(level->xMin, -180);
    EXPECT_NEAR(level->at(c.jx, c.jy), c.expected, c.tolerance);
  }
  const auto constant = SlidingBoxMeans(*MemoryGrid(37, 19, -180, -90, 10, 10, [](int, int) { return 1234.5f; }), 2,
                                        30 * 3600, false, 6371001);
  for (const float v : constant->values) EXPECT_EQ(v, 1234.5f);
  EXPECT_FALSE(SlidingBoxMeans(*step, 1, 0, false, 6371001));
}

// The running sums of TBoxMeansRows against the direct sums over every
// node of each box (DirectBoxNode): equal to float rounding, blanks where
// the direct sums have them. The cases reach each branch: boxes across the
// seam, a box of half a turn near a pole (on an even and an odd number of
// columns round), a regional grid whose boxes the edges cut, blanks, level
// 0, a box narrower than a column near the equator, steps.
struct BoxCase {
  const char* name;
  int nx, ny;
  double xMin, yMin, xStep, yStep;  // degrees
  int level;
  double boxDeg;  // degrees of latitude
  bool massMeans;
  float (*value)(int ix, int iy);
};
void PrintTo(const BoxCase& c, std::ostream* os) { *os << c.name; }


const BoxCase kBoxes[] = {
    {"StepAtTheEquator", 361, 181, -180, -90, 1, 1, 1, 5, true, [](int, int iy) { return iy >= 90 ? 1000.0f : 0.0f; }},
    {"StepsAtTheSeam", 361, 181, -180, -90, 1, 1, 2, 9, false,
     [](int ix, int) { return ix >= 355 || ix < 3 ? 1.0f : 0.0f; }},
    {"BlanksOnAGlobe", 73, 37, -180, -90, 5, 5, 1, 17, true, RoughWithBlanks},
    {"HalfATurnNearThePole", 181, 91, -180, -90, 2, 2, 3, 30, true, Rough},
    {"HalfATurnOnAnOddTurn", 74, 37, -180, -90, 360.0 / 73, 5, 2, 40, false, Rough},
    {"RegionalDensitiesCutAtTheEdges", 40, 26, 10, 40, 0.5, 0.5, 1, 2, false, RoughWithBlanks},
    {"LevelZero", 121, 61, 0, -30, 0.25, 0.25, 0, 0.6, true, Rough},
    {"NarrowerThanAColumn", 37, 73, -180, -90, 10, 2.5, 0, 3, false, Rough},
};

class BoxMeansRows : public testing::TestWithParam<BoxCase> {};

TEST_P(BoxMeansRows, EqualTheDirectSums) {
  const BoxCase& c = GetParam();
  constexpr double R = 6371001;  // metres
  const auto grid = MemoryGrid(c.nx, c.ny, c.xMin, c.yMin, c.xStep, c.yStep, c.value);
  const auto level = SlidingBoxMeans(*grid, c.level, c.boxDeg * 3600, c.massMeans, R);
  ASSERT_TRUE(level);
  ASSERT_EQ(level->nx, (c.nx - 1) / (1 << c.level) + 1);
  ASSERT_EQ(level->ny, (c.ny - 1) / (1 << c.level) + 1);
  int blanks = 0;
  for (int jx = 0; jx < level->nx; ++jx) {
    for (int jy = 0; jy < level->ny; ++jy) {
      const double expected = DirectBoxNode(*grid, c.level, c.boxDeg * 3600, c.massMeans, R, jx, jy);
      const float got = level->at(jx, jy);
      if (expected == double{kBlankMarker}) {
        EXPECT_EQ(got, kBlankMarker) << jx << ", " << jy;
        ++blanks;
      } else {
        EXPECT_NEAR(got, expected, 4e-7 * std::max(1.0, std::fabs(expected))) << jx << ", " << jy;
      }
    }
  }
  EXPECT_EQ(level->blankCount, blanks);
}

// A constant grid stays exactly constant, in every geometry of the table.
TEST_P(BoxMeansRows, KeepAConstantGridExactly) {
  const BoxCase& c = GetParam();
  const auto grid = MemoryGrid(c.nx, c.ny, c.xMin, c.yMin, c.xStep, c.yStep, [](int, int) { return 1234.5f; });
  const auto level = SlidingBoxMeans(*grid, c.level, c.boxDeg * 3600, c.massMeans, 6371001);
  ASSERT_TRUE(level);
  for (const float v : level->values) ASSERT_EQ(v, 1234.5f);
  EXPECT_EQ(level->blankCount, 0);
}

INSTANTIATE_TEST_SUITE_P(Engine, BoxMeansRows, testing::ValuesIn(kBoxes),
                         [](const auto& info) { return std::string(info.param.name); });

// A box level comes from the coarsest overview whose spacing is at most a
// quarter of the box, read whole (the box reaches across its nodes), as
// the box means of the overview; a box too small for every overview comes
// from the grid itself.
TEST(SlidingBoxMeans, FromTheCoarsestOverviewOfAQuarterOfTheBox) {
  struct Case {
    std::vector<int> levels;
    double boxArcSec;
    int expected;  // index into levels, -1: none
  };
  const Case cases[] = {
      {{1, 2, 3}, 90, -1},   // 60" is more than a quarter of 90"
      {{1, 2, 3}, 240, 0},   // 60" exactly a quarter
      {{1, 2, 3}, 900, 1},   // 120"; 240" would be more than 225"
      {{3, 1, 2}, 960, 0},   // 240" exactly a quarter, in any order
      {{0}, 100000, -1},     // no coarser than the grid
      {{}, 900, -1},
  };
  for (const Case& c : cases) EXPECT_EQ(OverviewForBox(c.levels, 30, c.boxArcSec), c.expected) << c.boxArcSec;

  constexpr double R = 6371001;  // metres
  const auto grid = MemoryGrid(361, 181, -180, -90, 1, 1, Rough);
  const auto overview = MemoryGrid(181, 91, -180, -90, 2, 2, [](int ix, int iy) { return Rough(2 * ix, 2 * iy) + 1; });
  std::vector<double> reaches;  // degrees
  const TGridOverview source{.level = 1, .load = [&](double reachDeg) {
                               reaches.push_back(reachDeg);
                               return std::make_unique<TGridImports>(*overview);
                             }};
  const std::vector<TZone> zones = {
      {.psiFromDeg = 0, .psiToDeg = 45, .segmentSizeArcSec = 5 * 3600, .blockMeans = true, .boxMeans = true},
      {.psiFromDeg = 45, .psiToDeg = 90, .segmentSizeArcSec = 10 * 3600, .blockMeans = true, .boxMeans = true}};
  const TZoneGridMeans means({{.grid = grid.get(), .role = TGridRole::Elevation, .overviews = {source}}}, zones, R);
  EXPECT_EQ(reaches, std::vector<double>{180});
  const auto fromGrid = SlidingBoxMeans(*grid, BoxLevel(3600, 5 * 3600), 5 * 3600, true, R);
  const auto fromOverview = SlidingBoxMeans(*overview, BoxLevel(7200, 10 * 3600), 10 * 3600, true, R);
  const TGridImports& small = ZoneGrid(means.ForZone(0), *grid);
  const TGridImports& large = ZoneGrid(means.ForZone(1), *grid);
  EXPECT_EQ(small.xStep, fromGrid->xStep);
  EXPECT_EQ(large.xStep, fromOverview->xStep);
  ASSERT_EQ(small.values.size(), fromGrid->values.size());
  ASSERT_EQ(large.values.size(), fromOverview->values.size());
  EXPECT_EQ(std::memcmp(small.values.data(), fromGrid->values.data(), small.values.size() * sizeof(float)), 0);
  EXPECT_EQ(std::memcmp(large.values.data(), fromOverview->values.data(), large.values.size() * sizeof(float)), 0);
}

// Heights average as the mass above the sphere: columns alternately at sea
// level and 20 km, a box of two cells at the equator: (R + h*)^3 is the
// mean of R^3 and (R + 20 km)^3, 15.7 m above the mean height.
TEST(SlidingBoxMeans, HeightsKeepTheMass) {
  constexpr long double R = 6371001, H = 20000;  // metres
  const auto ridges = MemoryGrid(361, 181, -180, -90, 1, 1, [](int ix, int) { return ix % 2 ? float(H) : 0.0f; });
  const auto level = SlidingBoxMeans(*ridges, 1, 2 * 3600, true, double(R));
  const long double kept = std::cbrt((R * R * R + (R + H) * (R + H) * (R + H)) / 2) - R;
  EXPECT_NEAR(level->at(90, 45), double(kept), 2.0);
  EXPECT_GT(level->at(90, 45), double(H / 2) + 12);
}

// A band on box means samples a level of its own at two nodes per box at
// most (BoxLevel); two bands of one size share it, a band on the pyramid
// does not.
TEST(SlidingBoxMeans, ZonesOnBoxMeans) {
  const auto grid = MemoryGrid(361, 181, -180, -90, 1, 1, [](int ix, int iy) { return float(ix * iy % 7); });
  const std::vector<TZone> zones = {
      {.psiFromDeg = 0, .psiToDeg = 10, .segmentSizeArcSec = 3600},
      {.psiFromDeg = 10, .psiToDeg = 45, .segmentSizeArcSec = 4 * 3600, .blockMeans = true, .boxMeans = true},
      {.psiFromDeg = 45, .psiToDeg = 90, .segmentSizeArcSec = 4 * 3600, .blockMeans = true, .boxMeans = true},
      {.psiFromDeg = 90, .psiToDeg = 180, .segmentSizeArcSec = 4 * 3600, .blockMeans = true}};
  const TZoneGridMeans means({{grid.get(), TGridRole::Elevation}}, zones, 6371001);
  EXPECT_EQ(means.ForZone(0), nullptr);
  ASSERT_NE(means.ForZone(1), nullptr);
  const TGridImports& box = ZoneGrid(means.ForZone(1), *grid);
  EXPECT_EQ(box.xStep, 2.0);  // BoxLevel(1 deg, 4 deg) = 1: 2 nodes per box
  EXPECT_EQ(&ZoneGrid(means.ForZone(2), *grid), &box);
  const TGridImports& pyramid = ZoneGrid(means.ForZone(3), *grid);
  EXPECT_EQ(pyramid.xStep, 4.0);
  EXPECT_EQ(BoxLevel(60, 225), 1);
  EXPECT_EQ(BoxLevel(60, 1800), 4);
  EXPECT_EQ(BoxLevel(60, 3600), 5);
  // A box near the grid's spacing keeps every node, not every second one
  // (BoxWithinCell below for a box of one spacing).
  EXPECT_EQ(BoxLevel(60, 160), 0);
  EXPECT_EQ(BoxLevel(1200, 1800), 0);
  const std::vector<TZone> small = {
      {.psiFromDeg = 0, .psiToDeg = 180, .segmentSizeArcSec = 5400, .blockMeans = true, .boxMeans = true}};
  const TZoneGridMeans smallMeans({{grid.get(), TGridRole::Elevation}}, small, 6371001);
  ASSERT_NE(smallMeans.ForZone(0), nullptr);
  EXPECT_EQ(ZoneGrid(smallMeans.ForZone(0), *grid).xStep, 1.0);
}

// A box no wider than the spacing of latitude lies within one cell only
// where the rows stay near enough the equator: beyond the latitude whose
// cosine is box / (spacing of longitude) it spans more than a column.
TEST(BoxWithinCell, OnlyWhereNoRowWidensTheBoxBeyondAColumn) {
  struct Case {
    const char* what;
    double xStepDeg, yMinDeg, yStepDeg;  // degrees
    int ny;
    double boxArcSec;
    bool within;
  };
  const Case cases[] = {
      {"15' pole to pole, box 900\"", 0.25, -90, 0.25, 721, 900, false},
      {"15' to 40 N, box 900\": 1175\" of longitude there", 0.25, 0, 0.25, 161, 900, false},
      {"20' to 40 N, box 900\": 1175\" of 1200\"", 1.0 / 3, 0, 1.0 / 3, 121, 900, true},
      {"20' to 45 N, box 900\": 1273\" of 1200\"", 1.0 / 3, 0, 1.0 / 3, 136, 900, false},
      {"20' from 40 N south to the equator", 1.0 / 3, 40, -1.0 / 3, 121, 900, true},
      {"20' from 45 S north to the equator", 1.0 / 3, -45, 1.0 / 3, 136, 900, false},
      {"20' pole to pole, box 900\"", 1.0 / 3, -90, 1.0 / 3, 541, 900, false},
      {"1', box 900\": 15 rows", 1.0 / 60, -10, 1.0 / 60, 1201, 900, false},
      {"15' within 10 degrees of the equator, box 800\": 812\" of 900\"", 0.25, -10, 0.25, 81, 800, true},
      {"15' just off the equator, box of the spacing", 0.25, -0.25, 0.25, 3, 900, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const auto grid = MemoryGrid(9, c.ny, 0, c.yMinDeg, c.xStepDeg, c.yStepDeg, [](int, int) { return 0.0f; });
    EXPECT_EQ(BoxWithinCell(*grid, c.boxArcSec), c.within);
  }
}

// A global grid whose spacing is the box of a band: towards the poles the
// segments of that band span several columns, and sampling the grid itself
// there aliases its relief between them (on the 15' grid of `G1 | G15`, the
// band 10..45 degrees at 900" missed by 0.010 mGal where the 1' grid's box
// means missed by 0.0045). So the band samples box means of every node: the
// grid's own values at the equator, at 60 degrees (a box of two columns)
// the node with half of each neighbour. A regional grid whose rows keep the
// box within a cell is sampled itself.
TEST(BoxWithinCell, BandOfTheGridSpacingSamplesBoxMeansWhereTheBoxIsWider) {
  const auto alternate = [](int ix, int) { return float(ix % 2); };
  const auto global = MemoryGrid(361, 181, -180, -90, 1, 1, alternate);
  const std::vector<TZone> band = {
      {.psiFromDeg = 0, .psiToDeg = 180, .segmentSizeArcSec = 3600, .blockMeans = true, .boxMeans = true}};
  const TZoneGridMeans means({{global.get(), TGridRole::Density}}, band, 6371001);
  ASSERT_NE(means.ForZone(0), nullptr);
  const TGridImports& box = ZoneGrid(means.ForZone(0), *global);
  ASSERT_EQ(box.nx, 361);
  ASSERT_EQ(box.ny, 181);
  for (const int ix : {0, 1, 180, 181}) {
    SCOPED_TRACE(ix);
    EXPECT_NEAR(box.at(ix, 90), double(ix % 2), 1e-12);  // equator: the node's own cell
    EXPECT_NEAR(box.at(ix, 150), 0.5, 1e-12);            // 60 N: (v + (1 - v)) / 2
    EXPECT_NEAR(box.at(ix, 30), 0.5, 1e-12);             // 60 S
  }
  const auto regional = MemoryGrid(61, 121, 0, 0, 1.0 / 3, 1.0 / 3, alternate);
  const std::vector<TZone> narrow = {
      {.psiFromDeg = 0, .psiToDeg = 180, .segmentSizeArcSec = 900, .blockMeans = true, .boxMeans = true}};
  EXPECT_EQ(TZoneGridMeans({{regional.get(), TGridRole::Density}}, narrow, 6371001).ForZone(0), nullptr);
}

TEST(ZonePresets, RulesInTheGridSpacing) {
  const std::vector<TZone> standard = *PresetZones("Standard", 60);
  // The decades to 6 h take the kernel for rings next to the point.
  // The far bands on box means of the segment's size.
  const std::vector<TZone> expected = {{0, 0.00001, 0.0005625, false, true},     {0.00001, 0.0001, 0.005625, false, true},
                                       {0.0001, 0.001, 0.05625, false, true},    {0.001, 0.01, 0.5625, false, true},
                                       {0.01, 0.1, 5.625, false, true},          {0.1, 1, 28.125, false, false},
                                       {1, 3, 225, false, false},                {3, 10, 450, false, false},
                                       {10, 45, 1800, true, false, true},        {45, 180, 3600, true, false, true}};
  ASSERT_EQ(standard.size(), expected.size());
  for (std::size_t z = 0; z < expected.size(); ++z) {
    SCOPED_TRACE(z);
    EXPECT_DOUBLE_EQ(standard[z].psiFromDeg, expected[z].psiFromDeg);
    EXPECT_DOUBLE_EQ(standard[z].psiToDeg, expected[z].psiToDeg);
    EXPECT_DOUBLE_EQ(standard[z].segmentSizeArcSec, expected[z].segmentSizeArcSec);
    EXPECT_EQ(standard[z].blockMeans, expected[z].blockMeans);
    EXPECT_EQ(standard[z].nearPointKernel, expected[z].nearPointKernel);
    EXPECT_EQ(standard[z].boxMeans, expected[z].boxMeans);
  }
  EXPECT_FALSE(PresetZones("coarse", 60));
  EXPECT_FALSE(PresetZones("fine", 0));
  EXPECT_FALSE(PresetZones("fine", std::nan("")));

  // Whatever the spacing, the bands join from the point to 180 degrees; from
  // h = 3" (SRTM tiles) on, each band fits the ring limit, so a run takes it.
  for (const std::string& name : PresetNames()) {
    for (const double h : {1.0, 3.0, 5.0, 30.0, 60.0, 300.0, 3600.0, 36000.0}) {
      SCOPED_TRACE(name + " " + std::to_string(h));
      const std::vector<TZone> zones = *PresetZones(name, h);
      ASSERT_FALSE(zones.empty());
      EXPECT_EQ(zones.front().psiFromDeg, 0);
      EXPECT_EQ(zones.back().psiToDeg, 180);
      for (std::size_t z = 0; z < zones.size(); ++z) {
        EXPECT_LT(zones[z].psiFromDeg, zones[z].psiToDeg);
        EXPECT_GT(zones[z].segmentSizeArcSec, 0);
        if (h >= 3) {
          EXPECT_TRUE(BuildRingLayout(zones[z].psiFromDeg * kDegToRad, zones[z].psiToDeg * kDegToRad, 0, 2 * kPi,
                                      zones[z].segmentSizeArcSec, 6371001))
              << "zone " << z + 1;
        }
        if (z > 0) {
          EXPECT_EQ(zones[z].psiFromDeg, zones[z - 1].psiToDeg);
        }
      }
    }
  }
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// A preset run forms its bands from the finest grid's spacing (here the
// 1-degree grid, 3600") and prints what the run of those bands prints.
TEST(ZonePresets, PresetRunIsTheRunOfItsBands) {
  TempDir dir;
  TRunParameters params;
  params.dataFile = dir.Write("points.dat", "12.3 47.1 1 500\n-179.95 -33.3 2 2500\n");
  const std::string topo = WriteGlobalGrid(
      dir.File("topo.grd"), [](double x, double y) { return float(2000 * std::sin(x / 9) * std::cos(y / 7)); });
  params.layers = LayerRowsFromTexts({"@;" + topo + ";@;@", "-3000;@;2.67;@", "-30000;@;3.1;@"}, '.');
  params.rowCount = 3;
  TCalcEngine engine;
  TSilentProgress progress;
  test::TRecordingPrompts<> prompts;
  for (const std::string& name : PresetNames()) {
    SCOPED_TRACE(name);
    params.zone = TZonePreset{name};
    params.appendText = "_preset";
    ASSERT_EQ(engine.RunCalculation(params, progress, prompts), TRunOutcome::Completed);
    const std::vector<TZone> bands = *PresetZones(name, 3600);
    EXPECT_EQ(engine.UsedZones(), bands);
    params.zone = TZoneList{bands};
    params.appendText = "_listed";
    ASSERT_EQ(engine.RunCalculation(params, progress, prompts), TRunOutcome::Completed);
    EXPECT_EQ(ReadFile(dir.File("points_preset_dce.dat")), ReadFile(dir.File("points_listed_dce.dat")));
  }
  EXPECT_TRUE(prompts.messages.empty());

  params.zone = TZonePreset{"regional"};
  EXPECT_EQ(engine.RunCalculation(params, progress, prompts), TRunOutcome::Failed);
  EXPECT_EQ(engine.LastFault(), TRunFault::UnknownPreset);
  ASSERT_EQ(prompts.messages.size(), 1u);
  EXPECT_EQ(prompts.messages.front(), RunFaultMessage(TRunFault::UnknownPreset, "regional", "standard, fine"));
}

}  // namespace
}  // namespace globelayers

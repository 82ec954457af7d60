// Block means for far bands and the zone presets: the pyramid keeps the
// grid's frame and constant values, a band on block means prints what a
// band on the coarser grid itself prints, and a preset run is the run of
// the bands it names.
#include <gtest/gtest.h>

#include <cmath>
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
  const TZoneGridMeans means({grid.get()}, zones);
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
  meansModel[0].elevationGrid = HalvedMeans(*HalvedMeans(*model[0].elevationGrid));
  meansModel[1].elevation = -2000;
  meansModel[1].density = 2.67;

  const std::vector<TZone> zones = {{5, 180, 7200, true}};
  const TZoneGridMeans means({model[0].elevationGrid.get()}, zones);
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

TEST(ZonePresets, RulesInTheGridSpacing) {
  const std::vector<TZone> standard = *PresetZones("Standard", 60);
  const std::vector<TZone> expected = {{0, 0.0001, 0.0225, false},    {0.0001, 0.001, 0.225, false},
                                       {0.001, 0.01, 2.25, false},     {0.01, 0.1, 22.5, false},
                                       {0.1, 1, 225, false},           {1, 10, 900, false},
                                       {10, 180, 3600, true}};
  ASSERT_EQ(standard.size(), expected.size());
  for (std::size_t z = 0; z < expected.size(); ++z) {
    SCOPED_TRACE(z);
    EXPECT_DOUBLE_EQ(standard[z].psiFromDeg, expected[z].psiFromDeg);
    EXPECT_DOUBLE_EQ(standard[z].psiToDeg, expected[z].psiToDeg);
    EXPECT_DOUBLE_EQ(standard[z].segmentSizeArcSec, expected[z].segmentSizeArcSec);
    EXPECT_EQ(standard[z].blockMeans, expected[z].blockMeans);
  }
  EXPECT_FALSE(PresetZones("coarse", 60));
  EXPECT_FALSE(PresetZones("fine", 0));
  EXPECT_FALSE(PresetZones("fine", std::nan("")));

  // Whatever the spacing, the bands join from the point to 180 degrees.
  for (const std::string& name : PresetNames()) {
    for (const double h : {1.0, 30.0, 60.0, 300.0, 3600.0, 36000.0}) {
      SCOPED_TRACE(name + " " + std::to_string(h));
      const std::vector<TZone> zones = *PresetZones(name, h);
      ASSERT_FALSE(zones.empty());
      EXPECT_EQ(zones.front().psiFromDeg, 0);
      EXPECT_EQ(zones.back().psiToDeg, 180);
      for (std::size_t z = 0; z < zones.size(); ++z) {
        EXPECT_LT(zones[z].psiFromDeg, zones[z].psiToDeg);
        EXPECT_GT(zones[z].segmentSizeArcSec, 0);
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
  ASSERT_EQ(prompts.messages.size(), 1u);
  EXPECT_EQ(prompts.messages.front(), "Unknown zone preset 'regional': the presets are standard, fine.");
}

}  // namespace
}  // namespace globelayers

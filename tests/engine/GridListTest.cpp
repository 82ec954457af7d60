// Grid lists: a value from the first grid of the list that holds the
// position with a sample free of blanks, the last grid's extrapolation where
// none holds it; and whole runs whose list must print the very bytes of a
// run on one of its grids.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "Calculation.h"
#include "GridFixtures.h"
#include "LayerModel.h"
#include "LayerRowText.h"
#include "RecordingPrompts.h"

namespace globelayers {
namespace {

// A grid in memory from (xMin, yMin) at `step` degrees, value(x, y) at each
// node.
std::unique_ptr<TGridImports> MemoryGrid(int nx, int ny, double xMin, double yMin, double step,
                                         double (*value)(double x, double y)) {
  auto g = std::make_unique<TGridImports>();
  g->fileFormat = TGridFormat::kSurfer6;
  g->nx = nx, g->ny = ny, g->xMin = xMin, g->yMin = yMin, g->xStep = step, g->yStep = step;
  g->xMax = xMin + (nx - 1) * step, g->yMax = yMin + (ny - 1) * step;
  g->values.resize(std::size_t(nx) * std::size_t(ny));
  for (int ix = 0; ix < nx; ++ix) {
    for (int iy = 0; iy < ny; ++iy) g->at(ix, iy) = float(value(xMin + ix * step, yMin + iy * step));
  }
  return g;
}

// Linear surfaces: bilinear interpolation and extrapolation give them back
// exactly at the positions below (all values are short binary fractions).
double LocalRelief(double x, double y) { return 100 + 10 * x + y; }
double RegionalRelief(double x, double) { return x; }
double GlobalRelief(double, double) { return 7; }

TEST(GridList, TakesTheFirstGridThatHoldsThePositionFreeOfBlanks) {
  // local: 10..12 x 20..22 at 0.5 degrees, one blank node at (11.5, 21.5);
  // regional: 0..30 x 10..40 at 1 degree; global: the sphere at 1 degree.
  const auto local = MemoryGrid(5, 5, 10, 20, 0.5, LocalRelief);
  local->at(3, 3) = kBlankMarker;
  TGridTail regionalThenGlobal;
  regionalThenGlobal.push_back(MemoryGrid(31, 31, 0, 10, 1, RegionalRelief));
  regionalThenGlobal.push_back(MemoryGrid(361, 181, -180, -90, 1, GlobalRelief));
  TGridTail regionalOnly;
  regionalOnly.push_back(MemoryGrid(31, 31, 0, 10, 1, RegionalRelief));
  const TGridTail none;
  const double blank = kBlankMarker;

  struct Case {
    const char* what;
    const TGridTail& tail;
    double lambda, phi;  // degrees
    double expected;
  };
  const Case cases[] = {
      {"inside the first grid", regionalThenGlobal, 10.75, 20.25, 100 + 107.5 + 20.25},
      {"on the first grid's outer corner", regionalThenGlobal, 12, 22, 100 + 120 + 22},
      {"a blank node in the first grid's cell", regionalThenGlobal, 11.75, 21.25, 11.75},
      {"a blank node with zero weight", regionalThenGlobal, 11.25, 21, 100 + 112.5 + 21},
      {"beside the first grid, on the second", regionalThenGlobal, 12.25, 21, 12.25},
      {"beyond the second grid, on the third", regionalThenGlobal, -50.5, -60.25, 7},
      {"held by no grid: the last grid extrapolates", regionalOnly, 45.5, -2, 45.5},
      {"one grid: extrapolated as a single grid is", none, 9, 20.25, 100 + 90 + 20.25},
      {"one grid over a blank: blank", none, 11.75, 21.75, blank},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(SampleGridList(*local, c.tail, nullptr, c.lambda, c.phi), c.expected);
  }

  // Held only by grids that are blank there: blank, not the extrapolation
  // of a grid that does not hold it.
  const auto allBlank = MemoryGrid(3, 3, 40, 40, 1, GlobalRelief);
  for (float& v : allBlank->values) v = kBlankMarker;
  EXPECT_EQ(SampleGridList(*allBlank, regionalOnly, nullptr, 41, 41), blank);
  EXPECT_EQ(SampleGridList(*allBlank, regionalOnly, nullptr, 20, 20), 20.0);
}

double Five(double, double) { return 5; }

TEST(GridList, APositionInsideTheFirstGridStaysOnItWhateverItsRounding) {
  // Just west of a node line, a position's cell (from arc-seconds) and its
  // weight (from degrees) disagree by a few units in the last place: the
  // weight is then slightly below 0 in an inner cell, and the position is
  // still on the grid. 29.999999999999993 is 30 less two units.
  const auto first = MemoryGrid(361, 21, -180, -10, 1, Five);
  TGridTail global;
  global.push_back(MemoryGrid(361, 181, -180, -90, 1, GlobalRelief));
  for (const double lambda : {29.999999999999993, 30.0, -179.99999999999997, 179.99999999999997}) {
    SCOPED_TRACE(lambda);
    EXPECT_EQ(SampleGridList(*first, global, nullptr, lambda, 0.5), 5.0);
    EXPECT_EQ(SampleGridList(*first, global, nullptr, lambda, 9.999999999999998), 5.0);
  }
  EXPECT_EQ(SampleGridList(*first, global, nullptr, 30, 10.000000000000002), 7.0);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// Runs over a few stations near (0, 0): a rough global grid, a local grid
// around the stations, one that is blank everywhere, and density grids.
class GridListRun : public testing::Test {
 protected:
  GridListRun() {
    params.dataFile = dir.Write("points.dat", "0.3 0.2 1 150\n-0.45 0.6 2 900\n1.1 -0.7 3 20\n");
    params.increment = 1;
    const auto relief = [](double x, double y) { return float(2000 * std::sin(x / 9) * std::cos(y / 7)); };
    global = testing_fixtures::WriteGlobalGrid(dir.File("global.grd"), relief);
    // Finer and with relief of its own, over -10 .. 10 degrees.
    local = testing_fixtures::WriteSurfer6(dir.File("local.grd"), 161, 161, -10, 10, -10, 10, [](double x, double y) {
      return float(1500 * std::sin(x * 1.3) * std::cos(y * 0.9) + 300);
    });
    blank = testing_fixtures::WriteSurfer6(dir.File("blank.grd"), 81, 81, -5, 5, -5, 5,
                                           [](double, double) { return 1.70141e38f; });
    rhoGlobal = testing_fixtures::WriteGlobalGrid(dir.File("rho.grd"),
                                                  [](double x, double y) { return float(2.6 + 0.1 * std::sin(x + y)); });
    rhoLocal = testing_fixtures::WriteSurfer6(dir.File("rho local.grd"), 81, 81, -10, 10, -10, 10,
                                              [](double x, double y) { return float(2.8 + 0.05 * std::cos(x - y)); });
  }

  // The result file of a run whose top surface and lowest density are
  // `top` and `density` (grid cells), with a near band on the grids and a
  // far band on block means up to `outerDeg` degrees.
  std::string Run(const std::string& top, const std::string& density, double outerDeg) {
    params.appendText = "_" + std::to_string(++runs);
    params.zone = TZoneList{{{.psiFromDeg = 0, .psiToDeg = 1, .segmentSizeArcSec = 600},
                             {.psiFromDeg = 1, .psiToDeg = outerDeg, .segmentSizeArcSec = 3600, .blockMeans = true}}};
    const std::vector<std::string> rows = {"@;" + top + ";@;@", "0;@;2.67;@", "-3000;@;@;" + density};
    params.layers = LayerRowsFromTexts(rows, '.');
    params.rowCount = 3;
    const TRunOutcome outcome = engine.RunCalculation(params, progress, prompts, {.threads = 2});
    EXPECT_EQ(outcome, TRunOutcome::Completed) << top << " / " << density;
    return ReadFile(dir.File("points" + params.appendText + "_dce.dat"));
  }

  testing_fixtures::TempDir dir;
  TRunParameters params;
  TCalcEngine engine;
  TSilentProgress progress;
  test::TRecordingPrompts<> prompts;
  std::string global, local, blank, rhoGlobal, rhoLocal;
  int runs = 0;
};

TEST_F(GridListRun, ALocalGridOverEverythingTheBandsReachPrintsItsOwnRun) {
  // The bands reach 3 degrees from stations within 1.2 degrees of (0, 0):
  // inside both local grids, block means included.
  const std::string alone = Run(local, rhoLocal, 3);
  EXPECT_EQ(Run(local + " | " + global, rhoLocal + " | " + rhoGlobal, 3), alone);
  EXPECT_EQ(std::count(alone.begin(), alone.end(), '\n'), 4);
  // The global grids alone give other numbers: the lists did take the local grids.
  EXPECT_NE(Run(global, rhoGlobal, 3), alone);
}

TEST_F(GridListRun, ABlankLocalGridPrintsTheRunOnTheGridsAfterIt) {
  // Over the whole sphere, so that the far band's means of the global grid
  // are read too.
  const std::string alone = Run(global, rhoGlobal, 180);
  EXPECT_EQ(Run(blank + " | " + global, blank + " | " + rhoGlobal, 180), alone);
}

TEST_F(GridListRun, AGridOfAListThatFailsToLoadFailsTheRun) {
  params.appendText = "_missing";
  params.layers = LayerRowsFromTexts({"@;" + local + " | " + dir.File("none.grd") + ";@;@", "0;@;2.67;@"}, '.');
  params.rowCount = 2;
  EXPECT_EQ(engine.RunCalculation(params, progress, prompts), TRunOutcome::Failed);
  ASSERT_FALSE(prompts.messages.empty());
  EXPECT_NE(prompts.messages.back().find("none.grd"), std::string::npos) << prompts.messages.back();
}

}  // namespace
}  // namespace globelayers

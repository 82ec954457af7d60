// Grids of computation points: which grids a run refuses, where the nodes
// lie, and whole runs over a grid held against the same points in a file.
#include "PointGrid.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "Calculation.h"
#include "GridFixtures.h"
#include "LayerRowText.h"
#include "RasterWriter.h"
#include "RecordingPrompts.h"

namespace globelayers {
namespace {

using testing_fixtures::TempDir;
using testing_fixtures::WriteGlobalGrid;

TPointGrid Grid(double west, double east, double south, double north, double step) {
  return {.westDeg = west, .eastDeg = east, .southDeg = south, .northDeg = north, .stepDeg = step};
}

TEST(PointGrid, RefusalsNameTheValueAtFault) {
  struct Case {
    const char* name;
    TPointGrid grid;
    const char* message;
  };
  const Case cases[] = {
      {"empty_longitudes", Grid(5, 5, 0, 1, 1),
       "The grid of points runs from 5 to 5 degrees of longitude: the east edge must lie east of the west edge."},
      {"inverted_latitudes", Grid(0, 1, 10, -10, 1),
       "The grid of points runs from 10 to -10 degrees of latitude: the north edge must lie north of the south "
       "edge."},
      {"beyond_a_pole", Grid(0, 1, -91, 0, 1),
       "The grid of points runs from -91 to 0 degrees of latitude, beyond a pole: latitudes lie within -90 to 90 "
       "degrees."},
      {"more_than_a_turn", Grid(-180, 181, 0, 1, 1),
       "The grid of points runs from -180 to 181 degrees of longitude: it may span at most one turn, within -360 "
       "to 360 degrees."},
      {"step_zero", Grid(0, 1, 0, 1, 0), "The grid of points needs a step above 0 degrees, not 0."},
      {"step_nan", Grid(0, 1, 0, 1, std::nan("")),
       "The grid of points needs finite edges and step in degrees, not 0;1;0;1;nan."},
      // 0.3 goes into 1 three and a third times.
      {"step_does_not_divide", Grid(0, 1, 0, 0.9, 0.3),
       "The step of 0.3 degrees does not divide the range from 0 to 1 degrees of the grid of points into whole "
       "steps."},
      // Two millionths of a degree short of whole steps.
      {"step_misses_by_two_millionths", Grid(0, 1, 0, 1, 0.499999),
       "The step of 0.499999 degrees does not divide the range from 0 to 1 degrees of the grid of points into "
       "whole steps."},
      // 10000 x 10001 nodes: one row more than the limit allows (a step
      // of 2^-6 degree keeps every edge exact).
      {"one_row_too_many", Grid(0, 156.234375, -78.1171875, 78.1328125, 0.015625),
       "The grid of points has 10000 x 10001 nodes, more than the 100000000 a run may have."},
      {"steps_beyond_any_count", Grid(0, 360, -90, 90, 1e-9),
       "The grid of points has more than 100000000 nodes, the most a run may have: a step of 1e-09 degrees is too "
       "fine for 0 to 360 degrees."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(CheckPointGrid(c.grid).value_or("accepted"), c.message);
  }
  TPointGrid infiniteHeight = Grid(0, 1, 0, 1, 1);
  infiniteHeight.heightM = HUGE_VAL;
  EXPECT_EQ(CheckPointGrid(infiniteHeight).value_or("accepted"),
            "The height of the grid of points must be a finite number of metres, not inf.");
}

TEST(PointGrid, AcceptedGridsAndTheirNodeCounts) {
  struct Case {
    const char* name;
    TPointGrid grid;
    std::int64_t columns, rows;
  };
  const Case cases[] = {
      {"global_one_degree", Grid(-180, 180, -90, 90, 1), 361, 181},
      // 0.1 is not exact in binary: ten steps all the same.
      {"tenth_of_a_degree", Grid(10, 11, 45, 45.5, 0.1), 11, 6},
      // A millionth of a degree of slack, as the result file prints.
      {"within_a_millionth", Grid(0, 1, 0, 1, 0.3333333), 4, 4},
      {"exactly_the_limit", Grid(0, 156.234375, -78.1171875, 78.1171875, 0.015625), 10000, 10000},
      {"across_the_date_line", Grid(170, 190, 0, 2, 2), 11, 2},
      {"whole_turn_east_of_greenwich", Grid(0, 360, -90, 90, 90), 5, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(CheckPointGrid(c.grid), std::nullopt);
    EXPECT_EQ(GridColumns(c.grid), c.columns);
    EXPECT_EQ(GridRows(c.grid), c.rows);
  }
}

// Row by row from the south-west corner; the far edges exactly, even where
// the step does not add up to them in binary.
TEST(PointGrid, NodesRunFromTheSouthWestRowByRow) {
  TPointGrid grid = Grid(10, 10.3, -1, 0, 0.1);  // 4 x 11 nodes
  grid.heightM = 250.5;
  struct Case {
    std::int64_t index;
    double lambda, phi, number;
  };
  const Case cases[] = {
      {0, 10, -1, 1},
      {1, 10.1, -1, 2},
      {3, 10.3, -1, 4},
      {4, 10, -0.9, 5},
      {43, 10.3, 0, 44},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.index);
    const TCalcPoint node = GridNode(grid, c.index);
    EXPECT_NEAR(node.lambda, c.lambda, 1e-12);
    EXPECT_NEAR(node.phi, c.phi, 1e-12);
    EXPECT_EQ(node.pointNumber, c.number);
    EXPECT_EQ(node.height, 250.5);
  }
  EXPECT_EQ(GridNode(grid, 3).lambda, 10.3);
  EXPECT_EQ(GridNode(grid, 43).phi, 0.0);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// A run over a grid and a run over a point file that lists the grid's nodes
// by hand write the same bytes.
class GridRun : public testing::Test {
 protected:
  TRunOutcome Calc(TRunParameters params, const std::vector<std::string>& rows) {
    params.layers = LayerRowsFromTexts(rows, '.');
    params.rowCount = static_cast<int>(rows.size());
    return engine.RunCalculation(params, progress, prompts);
  }
  // The result of the same rows over the points of `pointText`.
  std::string PointFileResult(const std::string& pointText, const std::vector<std::string>& rows) {
    TRunParameters params;
    params.dataFile = dir.Write("points.dat", pointText);
    params.increment = 100;
    EXPECT_EQ(Calc(params, rows), TRunOutcome::Completed);
    return ReadFile(dir.File("points_dce.dat"));
  }

  TempDir dir;
  TCalcEngine engine;
  TSilentProgress progress;
  test::TRecordingPrompts<> prompts;
};

TEST_F(GridRun, GivesTheBytesOfItsNodesInAPointFile) {
  // The top rises 10 m per degree east and 1 m per degree north: bilinear
  // sampling gives it exactly at every node.
  const std::string top = WriteGlobalGrid(dir.File("top.grd"), [](double x, double y) {
    return static_cast<float>(10 * x + y);
  });
  const std::vector<std::string> rows = {"@;" + top + ";@;@", "-3000;@;2.67;@"};
  struct Case {
    const char* name;
    double heightM;
    bool aboveSurface;
    const char* points;  // the nodes by hand: longitude, latitude, number, height
  };
  const Case cases[] = {
      {"constant_height", 10000, false,
       "20 -2 1 10000\n21 -2 2 10000\n22 -2 3 10000\n20 -1 4 10000\n21 -1 5 10000\n22 -1 6 10000\n"},
      {"above_the_surface", 5.5, true,
       "20 -2 1 203.5\n21 -2 2 213.5\n22 -2 3 223.5\n20 -1 4 204.5\n21 -1 5 214.5\n22 -1 6 224.5\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string expected = PointFileResult(c.points, rows);
    TRunParameters params;
    params.dataFile = dir.File("run.ini");
    params.increment = 100;
    params.pointGrid = Grid(20, 22, -2, -1, 1);
    params.pointGrid->heightM = c.heightM;
    params.pointGrid->aboveSurface = c.aboveSurface;
    ASSERT_EQ(Calc(params, rows), TRunOutcome::Completed);
    EXPECT_EQ(ReadFile(dir.File("run_dce.dat")), expected);
    EXPECT_TRUE(prompts.messages.empty());
  }
}

// Above a constant top the heights count from its constant.
TEST_F(GridRun, AboveAConstantTop) {
  const std::vector<std::string> rows = {"120;@;@;@", "-3000;@;2.67;@"};
  const std::string expected = PointFileResult("5 5 1 130\n6 5 2 130\n5 6 3 130\n6 6 4 130\n", rows);
  TRunParameters params;
  params.dataFile = dir.File("run.ini");
  params.increment = 100;
  params.pointGrid = Grid(5, 6, 5, 6, 1);
  params.pointGrid->heightM = 10;
  params.pointGrid->aboveSurface = true;
  ASSERT_EQ(Calc(params, rows), TRunOutcome::Completed);
  EXPECT_EQ(ReadFile(dir.File("run_dce.dat")), expected);
}

// A node above a blank of the top grid has no height: the run fails naming
// it, and keeps the lines of the nodes before it.
TEST_F(GridRun, BlankTopUnderANodeFailsTheRunNamingIt) {
  const std::string top = WriteGlobalGrid(dir.File("top.grd"), [](double x, double) {
    return x > 20.5 && x < 21.5 ? 1.70141e38f : 100.0f;
  });
  TRunParameters params;
  params.dataFile = dir.File("run.ini");
  params.pointGrid = Grid(20, 22, 0, 1, 1);
  params.pointGrid->aboveSurface = true;
  EXPECT_EQ(Calc(params, {"@;" + top + ";@;@", "-3000;@;2.67;@"}), TRunOutcome::Failed);
  EXPECT_EQ(prompts.messages,
            std::vector<std::string>{"The top of the first layer is blank under node 2 (21.000000, 0.000000) of the "
                                     "grid of points, whose height counts from it."});
}

// A grid that no run can use is refused before anything is written, also
// when it comes in a record built elsewhere (another rank's, a caller's).
TEST_F(GridRun, UnusableGridIsRefusedBeforeAnythingIsWritten) {
  TRunParameters params;
  params.dataFile = dir.File("run.ini");
  params.pointGrid = Grid(0, 1, 0, 1, 0.3);
  EXPECT_EQ(Calc(params, {"0;@;@;@", "-3000;@;2.67;@"}), TRunOutcome::Failed);
  EXPECT_EQ(prompts.messages, std::vector<std::string>{"The step of 0.3 degrees does not divide the range from 0 to 1 "
                                                       "degrees of the grid of points into whole steps."});
  EXPECT_FALSE(std::filesystem::exists(dir.File("run_dce.dat")));
}

// Presses Cancel once, after the second point.
class TCancelOnce : public TSilentProgress {
 public:
  bool TakeCancelRequest() override { return ++asked == 2; }
  int asked = 0;
};

// The rasters come only from a completed run: a cancelled one keeps the
// text file's whole lines, writes no raster and leaves an earlier one as it
// was. A build without GDAL refuses every grid run, naming why.
TEST_F(GridRun, RastersOnlyFromACompletedRun) {
  const std::vector<std::string> rows = {"0;@;@;@", "-3000;@;2.67;@"};
  TRunParameters params;
  params.dataFile = dir.File("run.ini");
  params.pointGrid = Grid(0, 2, 0, 1, 1);
  params.pointGrid->geotiff = true;
  if (!RasterWritingAvailable()) {
    EXPECT_EQ(Calc(params, rows), TRunOutcome::Failed);
    EXPECT_EQ(prompts.messages, std::vector<std::string>{kNoRasterBuildText});
    EXPECT_FALSE(std::filesystem::exists(dir.File("run_dce.dat")));
    return;
  }
  ASSERT_EQ(Calc(params, rows), TRunOutcome::Completed);
  const std::string netCdf = ReadFile(dir.File("run_dce.nc"));
  EXPECT_FALSE(netCdf.empty());
  EXPECT_TRUE(std::filesystem::exists(dir.File("run_dce.tif")));

  params.pointGrid->heightM = 1000;  // another result, were it written
  TCancelOnce cancel;
  prompts.yesNoReplies = {true};
  params.layers = LayerRowsFromTexts(rows, '.');
  params.rowCount = 2;
  EXPECT_EQ(engine.RunCalculation(params, cancel, prompts), TRunOutcome::Cancelled);
  EXPECT_EQ(ReadFile(dir.File("run_dce.dat")).size(), ReadFile(dir.File("run_dce.dat")).rfind('\n') + 1);
  EXPECT_EQ(ReadFile(dir.File("run_dce.nc")), netCdf);
  for (const auto& entry : std::filesystem::directory_iterator(dir.File(""))) {
    EXPECT_EQ(entry.path().string().find(".tmp-"), std::string::npos) << entry.path();
  }
}

}  // namespace
}  // namespace globelayers

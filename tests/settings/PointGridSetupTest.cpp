// The [points] section of the settings file: read and saved as it stands,
// converted into the run's grid of points with refusals that name the key,
// and the names of the result file and run log of a grid run.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ResultFile.h"
#include "RunLog.h"
#include "RunSetup.h"
#include "TempDir.h"
#include "WindowState.h"

namespace globelayers {
namespace {

using testing_support::ReadFileText;
using testing_support::TempDir;
using testing_support::WriteFileText;

TPointGridText Points(std::vector<TZoneKeyText> keys) { return {"/d/map.ini", std::move(keys)}; }

TEST(PointGridSetup, KeysBecomeTheGrid) {
  struct Case {
    const char* name;
    std::vector<TZoneKeyText> keys;
    TPointGrid grid;
  };
  const Case cases[] = {
      {"height_absent", {{"grid", "-180;180;-90;90;1"}},
       {.westDeg = -180, .eastDeg = 180, .southDeg = -90, .northDeg = 90, .stepDeg = 1}},
      {"constant_height_blanks_and_case",
       {{"GRID", " 10.5 ; 11.5;-1;0 ;0.25 "}, {"Height", "10000"}, {"geotiff", "1"}},
       {.westDeg = 10.5, .eastDeg = 11.5, .southDeg = -1, .northDeg = 0, .stepDeg = 0.25, .heightM = 10000,
        .geotiff = true}},
      {"above_the_surface", {{"height", "surface+2.5"}, {"grid", "0;1;0;1;0.5"}},
       {.westDeg = 0, .eastDeg = 1, .southDeg = 0, .northDeg = 1, .stepDeg = 0.5, .heightM = 2.5,
        .aboveSurface = true}},
      {"below_the_surface", {{"grid", "0;1;0;1;0.5"}, {"height", "Surface-100"}},
       {.westDeg = 0, .eastDeg = 1, .southDeg = 0, .northDeg = 1, .stepDeg = 0.5, .heightM = -100,
        .aboveSurface = true}},
      {"on_the_surface", {{"grid", "0;1;0;1;0.5"}, {"height", "surface"}, {"geotiff", "0"}},
       {.westDeg = 0, .eastDeg = 1, .southDeg = 0, .northDeg = 1, .stepDeg = 0.5, .aboveSurface = true}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const TPointGridSetup setup = ConvertPointGrid(Points(c.keys));
    ASSERT_TRUE(setup.ok()) << setup.message;
    EXPECT_EQ(setup.grid, c.grid);
  }
}

TEST(PointGridSetup, RefusalsNameTheFileAndTheKey) {
  struct Case {
    const char* name;
    std::vector<TZoneKeyText> keys;
    std::string message;
  };
  const Case cases[] = {
      {"no_grid", {{"height", "100"}},
       "[points] of /d/map.ini holds no grid=WEST;EAST;SOUTH;NORTH;STEP: give the grid of points, or remove the "
       "section to use the point file"},
      {"unknown_key", {{"grid", "0;1;0;1;1"}, {"step", "1"}},
       "Unknown key step in [points] of /d/map.ini: the section takes grid, height and geotiff"},
      {"four_numbers", {{"grid", "0;1;0;1"}},
       "grid=0;1;0;1 in /d/map.ini is not WEST;EAST;SOUTH;NORTH;STEP, five numbers of degrees with a decimal point"},
      {"six_numbers", {{"grid", "0;1;0;1;1;1"}},
       "grid=0;1;0;1;1;1 in /d/map.ini is not WEST;EAST;SOUTH;NORTH;STEP, five numbers of degrees with a decimal "
       "point"},
      {"decimal_comma", {{"grid", "0;1;0;1;0,5"}},
       "grid=0;1;0;1;0,5 in /d/map.ini is not WEST;EAST;SOUTH;NORTH;STEP, five numbers of degrees with a decimal "
       "point"},
      {"surface_without_sign", {{"grid", "0;1;0;1;1"}, {"height", "surface100"}},
       "height=surface100 in /d/map.ini is not METRES or surface+METRES, a number of metres with a decimal point"},
      {"surface_sign_only", {{"grid", "0;1;0;1;1"}, {"height", "surface+"}},
       "height=surface+ in /d/map.ini is not METRES or surface+METRES, a number of metres with a decimal point"},
      {"height_word", {{"grid", "0;1;0;1;1"}, {"height", "high"}},
       "height=high in /d/map.ini is not METRES or surface+METRES, a number of metres with a decimal point"},
      {"geotiff_yes", {{"grid", "0;1;0;1;1"}, {"geotiff", "yes"}}, "geotiff=yes in /d/map.ini is not 0 or 1"},
      {"inverted", {{"grid", "1;0;0;1;1"}},
       "grid=1;0;0;1;1 in /d/map.ini: The grid of points runs from 1 to 0 degrees of longitude: the east edge must "
       "lie east of the west edge."},
      {"step_does_not_divide", {{"grid", "0;1;0;1;0.4"}},
       "grid=0;1;0;1;0.4 in /d/map.ini: The step of 0.4 degrees does not divide the range from 0 to 1 degrees of "
       "the grid of points into whole steps."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ConvertPointGrid(Points(c.keys)).message, c.message);
  }
}

// A state the checks accept, with two constant layers.
TWindowState RunnableState() {
  TWindowState s;
  s.layerRows = {{"0", "", "2.67", ""}, {"-1000", "", "", ""}};
  return s;
}

// The grid replaces the point file: none is needed, and the results take
// the settings file's name.
TEST(PointGridSetup, ReplacesThePointFileAndNamesTheResults) {
  TWindowState state = RunnableState();
  state.points = {"/d/maps/global.ini", {{"grid", "-180;180;-90;90;1"}, {"height", "10000"}}};
  state.appendText = "_10km";
  const TRunSetup setup = PrepareRun(state, '.');
  ASSERT_TRUE(setup.ok()) << setup.message;
  ASSERT_TRUE(setup.params.pointGrid);
  EXPECT_EQ(setup.params.pointGrid->heightM, 10000);
  EXPECT_EQ(OutputFileName(setup.params.dataFile, setup.params.appendText, kResultFileEnding),
            "/d/maps/global_10km_dce.dat");
  EXPECT_EQ(RunLogFileName(state), "/d/maps/global_10km_dce.con");

  state.points.keys[0].value = "-180;180;-90;90;0.7";
  const TRunSetup refused = PrepareRun(state, '.');
  EXPECT_EQ(refused.fault, TRunSetupFault::Check);
  EXPECT_EQ(refused.message.substr(0, 45), "grid=-180;180;-90;90;0.7 in /d/maps/global.in");

  // Without the section the point file is required as before.
  state.points = {};
  EXPECT_EQ(PrepareRun(state, '.').message, "Input data file is required");
}

TEST(PointGridFile, SavedAsItStandsAndReadBack) {
  TempDir dir;
  const std::string path = dir / "map.ini";
  TWindowState saved;
  saved.points = {path, {{"grid", "0;10;40;50;0.5"}, {"height", "surface+5"}}};
  ASSERT_TRUE(SaveCfgFile(saved, path));
  const std::string text = ReadFileText(path);
  EXPECT_TRUE(text.ends_with("[points]\ngrid=0;10;40;50;0.5\nheight=surface+5\n")) << text;
  TWindowState read;
  ASSERT_TRUE(ReadCfgFile(read, path));
  EXPECT_EQ(read, saved);

  // A save without the grid removes the section and leaves the rest.
  WriteFileText(path, text + "[Other]\nleft=10\n");
  read.points = {};
  ASSERT_TRUE(SaveCfgFile(read, path));
  EXPECT_EQ(ReadFileText(path).find("[points]"), std::string::npos);
  EXPECT_NE(ReadFileText(path).find("[Other]\nleft=10\n"), std::string::npos);
}

TEST(PointGridFile, RunLogNamesTheGridNotThePointFile) {
  TWindowState state = RunnableState();
  state.pointFile = "/d/points.dat";
  std::string plain = RunLogText(state, {9, 5, 7}, {10, 0, 59});
  const std::string completed = "Run completed.\n";
  ASSERT_TRUE(plain.ends_with(completed));
  plain.resize(plain.size() - completed.size());
  // The grid replaces the point file, which stays in the settings: the
  // log says where the points came from instead of naming it.
  const std::string named = "Data file: /d/points.dat\n";
  ASSERT_NE(plain.find(named), std::string::npos);
  plain.replace(plain.find(named), named.size(), "Data file: none: the points are the nodes of the grid below\n");
  state.points = {"/d/map.ini", {{"grid", "0;10;40;50;0.5"}, {"height", "surface+5"}}};
  EXPECT_EQ(RunLogText(state, {9, 5, 7}, {10, 0, 59}),
            plain + "Points grid=0;10;40;50;0.5\nPoints height=surface+5\n" + completed);
}

}  // namespace
}  // namespace globelayers

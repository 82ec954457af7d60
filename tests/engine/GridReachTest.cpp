// Grids read only within the reach of a run's stations: a window must give
// every position within the reach the very bits that the whole file gives,
// across the seam of a global grid, over a pole and beyond a local grid's
// edge; and whole runs on windows must print the bytes of runs on whole
// grids.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "Calculation.h"
#include "GridFixtures.h"
#include "GridReach.h"
#include "GridSampler.h"
#include "LayerRowText.h"
#include "PointEvaluation.h"
#include "RecordingPrompts.h"

namespace globelayers {
namespace {

constexpr double kRad = 0.017453292519943295;  // radians per degree

// The position `psiDeg` from (latDeg, lonDeg) at azimuth `azDeg`, on the
// sphere (degrees): the textbook formulas, not the engine's.
void Destination(double latDeg, double lonDeg, double psiDeg, double azDeg, double& lat, double& lon) {
  const double p1 = latDeg * kRad, psi = psiDeg * kRad, az = azDeg * kRad;
  const double p2 = std::asin(std::sin(p1) * std::cos(psi) + std::cos(p1) * std::sin(psi) * std::cos(az));
  const double dl = std::atan2(std::sin(az) * std::sin(psi) * std::cos(p1), std::cos(psi) - std::sin(p1) * std::sin(p2));
  lat = p2 / kRad;
  lon = lonDeg + dl / kRad;
  if (lon > 180) lon -= 360;
  if (lon < -180) lon += 360;
}

bool SameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

struct Station {
  double lat, lon;  // degrees
};

struct ReachCase {
  const char* name;
  int nx, ny;
  double xMin, xMax, yMin, yMax;  // degrees
  std::vector<Station> stations;
  double psiDeg;
  bool columnsCut, rowsCut;  // whether the window leaves out columns, rows
};

void PrintTo(const ReachCase& c, std::ostream* os) { *os << c.name; }

const ReachCase kReach[] = {
    {"MidLatitudes", 721, 361, -180, 180, -90, 90, {{45, 10}, {46.5, 12.25}}, 3, true, true},
    {"AcrossTheSeamOfAGridFrom180West", 721, 361, -180, 180, -90, 90, {{-20, 179.6}, {-21, -179.2}}, 2, false, true},
    {"AcrossZeroOfAGridFrom0To360", 721, 361, 0, 360, -90, 90, {{5, -0.7}, {5.5, 1.1}}, 2, false, true},
    {"WestLongitudesOnAGridFrom0To360", 721, 361, 0, 360, -90, 90, {{-30, -50}, {-31, -48}}, 4, true, true},
    {"CapOverThePole", 721, 361, -180, 180, -90, 90, {{88.2, 30}}, 3, false, true},
    {"NearThePoleWithoutIt", 721, 361, -180, 180, -90, 90, {{80, 30}}, 5, true, true},
    {"LocalGridAroundTheStations", 201, 151, 8.5, 18.5, 40, 47.5, {{44, 13}, {43.2, 12.1}}, 1.5, true, true},
    {"StationsBesideALocalGrid", 201, 151, 8.5, 18.5, 40, 47.5, {{38, 5}}, 2.5, true, true},
    {"WholeGlobe", 721, 361, -180, 180, -90, 90, {{45, 10}}, 180, false, false},
};

class GridReach : public testing::TestWithParam<ReachCase> {};

TEST_P(GridReach, WindowSamplesEveryPositionWithinReachAsTheWholeFile) {
  const ReachCase& c = GetParam();
  testing_fixtures::TempDir dir;
  const std::string path = testing_fixtures::WriteSurfer6(
      dir.File("g.grd"), c.nx, c.ny, c.xMin, c.xMax, c.yMin, c.yMax,
      [](double x, double y) { return float(1000 * std::sin(x * 0.37) * std::cos(y * 0.23) + 3 * x - y); });
  TStationArea area;
  for (const Station& s : c.stations) area.Add(s.lat, s.lon);
  test::TRecordingPrompts<> prompts;
  TGridImports whole, part;
  ASSERT_TRUE(LoadGrid(whole, path, prompts));
  const TWindowChooser choose = [&](const TGridImports& g) { return area.WindowOf(g, c.psiDeg); };
  ASSERT_EQ(LoadGridWindow(part, path, prompts, choose).fault, TGridFault::kNone);
  EXPECT_EQ(part.nx < whole.nx, c.columnsCut) << part.column0 << " + " << part.nx;
  EXPECT_EQ(part.ny < whole.ny, c.rowsCut) << part.row0 << " + " << part.ny;

  int compared = 0;
  for (const Station& s : c.stations) {
    for (const double share : {0.0, 0.3, 0.7, 0.99, 1.0}) {
      for (int a = 0; a < 720; ++a) {
        double lat = 0, lon = 0;
        Destination(s.lat, s.lon, share * c.psiDeg, a * 0.5, lat, lon);
        const double expected = SampleGrid(whole, lon, lat), got = SampleGrid(part, lon, lat);
        ASSERT_TRUE(SameBits(got, expected)) << "at " << lon << ", " << lat << ": " << got << " not " << expected;
        // The grid's own cells, as a list asks: inside the window exactly
        // where inside the file.
        EXPECT_EQ(GridHolds(part, LocateInGrid(part, lon, lat)), GridHolds(whole, LocateInGrid(whole, lon, lat)))
            << lon << ", " << lat;
        ++compared;
      }
    }
  }
  EXPECT_GT(compared, 0);
}

INSTANTIATE_TEST_SUITE_P(Engine, GridReach, testing::ValuesIn(kReach),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(GridReachArea, NoStationOrOneAtNoPositionReadsTheWholeGrid) {
  TGridImports g;
  g.nx = 361, g.ny = 181, g.xMin = -180, g.xStep = 1, g.yMin = -90, g.yStep = 1, g.xMax = 180, g.yMax = 90;
  const TStationArea none;
  TStationArea lost;
  lost.Add(10, 10);
  lost.Add(std::nan(""), 3);
  for (const TStationArea* area : {&none, static_cast<const TStationArea*>(&lost)}) {
    const TNodeWindow w = area->WindowOf(g, 1);
    EXPECT_EQ(w.column0, 0);
    EXPECT_EQ(w.columns, 361);
    EXPECT_EQ(w.row0, 0);
    EXPECT_EQ(w.rows, 181);
  }
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// Whole runs with bands on the grids themselves (no block means), where
// windows are read: each must print the bytes of the same run on whole
// grids (a loader of its own reads every grid whole).
class ReachRun : public testing::Test {
 protected:
  ReachRun() {
    const auto relief = [](double x, double y) { return float(2000 * std::sin(x / 9) * std::cos(y / 7)); };
    global = testing_fixtures::WriteGlobalGrid(dir.File("global.grd"), relief);
    // 0.125-degree nodes over -10 .. 10 degrees, and the half of it east of 0.
    const auto fine = [](double x, double y) { return float(1500 * std::sin(x * 1.3) * std::cos(y * 0.9) + 300); };
    local = testing_fixtures::WriteSurfer6(dir.File("local.grd"), 161, 161, -10, 10, -10, 10, fine);
    half = testing_fixtures::WriteSurfer6(dir.File("half.grd"), 81, 161, 0, 10, -10, 10, fine);
    near = testing_fixtures::WriteSurfer6(dir.File("near.grd"), 49, 49, -3, 3, -3, 3, fine);
    rho = testing_fixtures::WriteGlobalGrid(dir.File("rho.grd"), [](double x, double y) { return float(2.6 + 0.1 * std::sin(x + y)); });
  }

  std::string Run(const std::string& points, const std::string& top, bool whole,
                  TZoneChoice zone = TZoneList{{{.psiFromDeg = 0, .psiToDeg = 0.5, .segmentSizeArcSec = 300},
                                                {.psiFromDeg = 0.5, .psiToDeg = 3, .segmentSizeArcSec = 1800}}}) {
    params.dataFile = dir.Write("points.dat", points);
    params.appendText = std::string("_").append(std::to_string(++runs));
    params.increment = 1;
    params.zone = std::move(zone);
    const std::string topRow = std::string("@;").append(top).append(";@;@");
    params.layers = LayerRowsFromTexts({topRow, "0;@;2.67;@", "-3000;@;@;" + rho}, '.');
    params.rowCount = 3;
    TRunOptions options{.threads = 2};
    if (whole) options.loadGrid = [](TGridImports& g, const std::string& f, IUserPrompts& p) { return LoadGrid(g, f, p); };
    EXPECT_EQ(engine.RunCalculation(params, progress, prompts, options), TRunOutcome::Completed) << top;
    return ReadFile(dir.File("points" + params.appendText + "_dce.dat"));
  }

  testing_fixtures::TempDir dir;
  TRunParameters params;
  TCalcEngine engine;
  TSilentProgress progress;
  test::TRecordingPrompts<> prompts;
  std::string global, local, half, near, rho;
  int runs = 0;
};

TEST_F(ReachRun, WindowsPrintTheBytesOfWholeGrids) {
  struct Case {
    const char* what;
    std::string points;
  };
  const Case cases[] = {
      {"near (0, 0)", "0.3 0.2 1 150\n-0.45 0.6 2 900\n1.1 -0.7 3 20\n"},
      {"across the antimeridian", "179.2 -12 1 10\n-179.6 -12.5 2 400\n"},
      {"near the north pole", "20 88.5 1 0\n"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Run(c.points, global, false), Run(c.points, global, true)) << c.what;
  }
  const std::string nearZero = cases[0].points;
  EXPECT_EQ(Run(nearZero, local + " | " + global, false), Run(nearZero, local + " | " + global, true));
}

// A preset on a global 6' grid: its bands on point samples reach 600 h =
// 60 degrees, so the grid is read in a window, and its far band's box means
// (3 degrees, 60 .. 180 degrees) come from the file read in strips. The run
// must print the bytes of the run on the whole grid, whose box means are
// formed in memory.
TEST_F(ReachRun, APresetsBoxMeansFromStripsPrintTheBytesOfTheWholeGrid) {
  const auto relief = [](double x, double y) { return float(1800 * std::sin(x / 3) * std::cos(y / 2) + 400); };
  const std::string sixMinutes = testing_fixtures::WriteSurfer6(dir.File("global6.grd"), 3601, 1801, -180, 180,
                                                                -90, 90, relief);
  const std::string points = "0.3 0.2 1 150\n-0.45 0.6 2 900\n";
  EXPECT_EQ(Run(points, sixMinutes, false, TZonePreset{"standard"}),
            Run(points, sixMinutes, true, TZonePreset{"standard"}));
}

TEST_F(ReachRun, ALocalGridOverTheReachPrintsItsOwnRunAndItsHalfChangesNothing) {
  // Stations east of 1 degree, bands to 3 degrees: inside the local grid and
  // inside its eastern half.
  const std::string points = "4.3 0.2 1 150\n5.45 -0.6 2 900\n6.1 1.7 3 20\n";
  const std::string alone = Run(points, local, false);
  EXPECT_EQ(Run(points, local + " | " + global, false), alone);
  EXPECT_EQ(Run(points, half + " | " + global, false), alone);
  EXPECT_NE(Run(points, global, false), alone);  // the lists did take the local grid
}

TEST_F(ReachRun, AFarBandOfMuchCoarserSegmentsTakesTheGlobalGridOfTheList) {
  // The local grid's spacing is 450 arc-seconds, the global grid's 3600.
  // A far band of segments ten times the local spacing, and no finer than
  // the global one, reads the global grid alone, so the local grid may as
  // well end where the near band does (near.grd, its nodes within 3
  // degrees); a far band of finer segments reads the local grid where it
  // holds the positions, which near.grd does not.
  const std::string points = "0.3 0.2 1 150\n-0.45 0.6 2 900\n";
  struct Case {
    double farSegmentArcSec;
    bool localRead;  // by the far band
  };
  for (const Case c : {Case{4500, false}, Case{3600, true}, Case{7200, false}}) {
    const TZoneChoice zones =
        TZoneList{{{.psiFromDeg = 0, .psiToDeg = 1, .segmentSizeArcSec = 300},
                   {.psiFromDeg = 1, .psiToDeg = 20, .segmentSizeArcSec = c.farSegmentArcSec, .blockMeans = true}}};
    const std::string onLocal = Run(points, local + " | " + global, false, zones);
    const std::string onNear = Run(points, near + " | " + global, false, zones);
    EXPECT_EQ(onLocal == onNear, !c.localRead) << c.farSegmentArcSec;
    // The same run with every grid read whole (as a front end that loads
    // them itself does) prints the same bytes.
    EXPECT_EQ(Run(points, local + " | " + global, true, zones), onLocal) << c.farSegmentArcSec;
  }
}

// A preset on a list of a 15" tile and the 1-degree global grid: the
// tile's rule out to the tile's reach, the 1' rule's far bands beyond (not
// the tile's 900" far band). The bands come from the grids' files alone,
// so a station beside the tile gets the same; and the windows that the
// run plans from them must give the bytes of whole grids.
TEST_F(ReachRun, APresetOnAListTakesTheCoarseGridsSizesBeyondTheFineGrid) {
  const auto fine = [](double x, double y) { return float(800 * std::sin(x * 40) * std::cos(y * 30) + 1500); };
  const std::string tile = testing_fixtures::WriteSurfer6(dir.File("tile.grd"), 121, 121, 10, 10.5, 45, 45.5, fine);
  const std::vector<TZone> tileRule = *PresetZones("standard", 15);
  ASSERT_EQ(tileRule.back().segmentSizeArcSec, 900);  // 60 h
  // The tile's corners lie 0.622 degrees apart (0.63 with a spacing beyond each edge, rounded up).
  TGridImports loaded;
  test::TRecordingPrompts<> quiet;
  ASSERT_TRUE(LoadGrid(loaded, tile, quiet));
  ASSERT_DOUBLE_EQ(ExtentDiameterDeg(loaded), 0.63);
  struct Case {
    const char* what;
    std::string points, top;
    std::vector<TPresetSpacing> spacings;  // arc-seconds, degrees: what the bands must follow
  };
  const std::string inside = "10.2 45.1 1 1500\n10.41 45.33 2 1700\n";
  const Case cases[] = {
      {"the global grid alone: its own rule", inside, global, {{3600, 180}}},
      {"stations on the tile", inside, tile + " | " + global, {{15, 0.63}, {3600, 180}}},
      {"a station 5 degrees beside the tile", "15.3 44 1 300\n", tile + " | " + global, {{15, 0.63}, {3600, 180}}},
  };
  for (const Case& c : cases) {
    const std::string windowed = Run(c.points, c.top, false, TZonePreset{"standard"});
    const std::vector<TZone> used = engine.UsedZones();
    EXPECT_EQ(used, *PresetZones("standard", c.spacings)) << c.what;
    EXPECT_EQ(Run(c.points, c.top, true, TZonePreset{"standard"}), windowed) << c.what;
  }
  // Beyond the tile: 0.63 .. 1 degree at 28.125" and on to 180 degrees in
  // the 1' rule, the last band 3600" on block means.
  const std::vector<TZone> nested = *PresetZones("standard", cases[1].spacings);
  const auto cut = std::find_if(nested.begin(), nested.end(), [](const TZone& z) { return z.psiFromDeg == 0.63; });
  ASSERT_NE(cut, nested.end());
  EXPECT_EQ(cut->segmentSizeArcSec, 28.125);
  EXPECT_EQ(nested.back().segmentSizeArcSec, 3600);
  EXPECT_TRUE(nested.back().blockMeans);
}

// A front end that loads the grids itself, in another process (the MPI
// ranks): given the stations, its window loader is handed the choice of
// the run's own reads, so it reads the same windows and prints the same
// bytes; a loader of whole grids reads them whole.
TEST_F(ReachRun, AWindowLoaderReadsTheWindowsOfTheRunsOwnReads) {
  TStationArea stations;  // the points "0.3 0.2 ..." and "-0.45 0.6 ..." (longitude, latitude)
  stations.Add(0.2, 0.3);
  stations.Add(0.6, -0.45);
  params.dataFile = dir.Write("served.dat", "");
  params.increment = 1;
  params.layers = LayerRowsFromTexts({"@;" + local + " | " + global + ";@;@", "0;@;2.67;@", "-3000;@;@;" + rho}, '.');
  params.rowCount = 3;
  // Where each grid of the run lies in its file, row by row: first column
  // and row, columns and rows, and the file's columns (0 when read whole).
  using TPlaces = std::vector<std::vector<std::int32_t>>;
  const auto served = [&](const TRunOptions& options) {
    TPlaces places;
    TCalcEngine other;
    EXPECT_TRUE(other.ServeRun(
        params, prompts, options,
        [&places](const TRunContext& ctx) {
          const auto place = [&places](const TGridImports& g) {
            places.push_back({g.column0, g.row0, g.nx, g.ny, g.fileNx});
          };
          place(*ctx.model[0].elevationGrid);
          for (const auto& more : ctx.model[0].elevationMore) place(*more);
          place(*ctx.model[2].densityGrid);
        },
        &stations));
    return places;
  };
  struct Case {
    TZoneChoice zone;
    bool windows;  // whether the run reads the local grid in a window
  };
  const Case cases[] = {
      {TZoneList{{{.psiFromDeg = 0, .psiToDeg = 0.5, .segmentSizeArcSec = 300},
                  {.psiFromDeg = 0.5, .psiToDeg = 3, .segmentSizeArcSec = 1800}}},
       true},
      // Its bands on point samples reach past the local grid's edges, 10
      // degrees from the stations: read whole (its box means no longer
      // decide it).
      {TZonePreset{"standard"}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.zone.index());
    params.zone = c.zone;
    const TPlaces own = served({});
    ASSERT_EQ(own.size(), 3u);
    EXPECT_EQ(own[0][4] > 0, c.windows);
    TRunOptions windowLoader;
    int calls = 0;
    windowLoader.loadGridWindow = [&calls](TGridImports& g, const std::string& file, IUserPrompts& p,
                                           const TWindowChooser& choose) {
      ++calls;
      return LoadGridWindow(g, file, p, choose).fault == TGridFault::kNone;
    };
    EXPECT_EQ(served(windowLoader), own);
    EXPECT_EQ(calls, 3);
    TRunOptions wholeLoader;
    wholeLoader.loadGrid = [](TGridImports& g, const std::string& f, IUserPrompts& p) { return LoadGrid(g, f, p); };
    for (const auto& place : served(wholeLoader)) EXPECT_EQ(place[4], 0);
  }
  EXPECT_TRUE(prompts.messages.empty());
}

TEST(GridReachBands, ReadAGridOfAListUnlessMuchCoarserAndAGlobalGridFollows) {
  const auto geometry = [](double xMin, double xMax, double yMin, double yMax, double step) {
    TGridImports g;
    g.xMin = xMin, g.xMax = xMax, g.yMin = yMin, g.yMax = yMax, g.xStep = g.yStep = step;
    return g;
  };
  const TGridImports fine = geometry(10, 12, 40, 42, 1.0 / 120);      // 30 arc-seconds
  const TGridImports regional = geometry(0, 30, 30, 50, 1.0 / 60);    // 60 arc-seconds
  const TGridImports nodes = geometry(-180, 180, -90, 90, 0.25);      // global, nodes on the poles
  const TGridImports pixels = geometry(-179.875, 179.875, -89.875, 89.875, 0.25);  // global, pixel centres
  struct Case {
    const char* what;
    std::vector<const TGridImports*> list;
    double segmentArcSec;
    bool readsFirst;
  };
  // The global grids' spacing is 900 arc-seconds.
  const Case cases[] = {
      {"a single grid", {&fine}, 1e5, true},
      {"segments of ten spacings and more, a global grid as fine after", {&fine, &nodes}, 900, false},
      {"segments just under ten spacings", {&fine, &nodes}, 299.99, true},
      {"segments finer than the global grid's spacing", {&fine, &nodes}, 899.99, true},
      {"a global grid of pixel centres after", {&fine, &pixels}, 1800, false},
      {"a regional grid after, no global one", {&fine, &regional}, 1e5, true},
      {"a global grid after a regional one", {&fine, &regional, &nodes}, 900, false},
  };
  for (const Case& c : cases) {
    const TZone zone{.psiFromDeg = 1, .psiToDeg = 180, .segmentSizeArcSec = c.segmentArcSec, .blockMeans = true};
    EXPECT_EQ(BandReadsGrid(zone, c.list, 0), c.readsFirst) << c.what;
    EXPECT_TRUE(BandReadsGrid(zone, c.list, c.list.size() - 1)) << c.what;  // the last grid always
  }
  EXPECT_FALSE(CoversGlobe(regional));
  EXPECT_TRUE(CoversGlobe(nodes));
  EXPECT_TRUE(CoversGlobe(pixels));
  // A window of a global file, read around a few stations, is the file's
  // to the rule: a band must not read the fine grid because less of the
  // global one was read.
  TGridImports window = geometry(8, 12, 40, 44, 0.25);
  window.nx = 17, window.ny = 17;
  window.fileXMin = -180, window.fileYMin = -90, window.fileNx = 1441, window.fileNy = 721;
  window.column0 = 752, window.row0 = 520;
  EXPECT_TRUE(CoversGlobe(window));
  const TZone far{.psiFromDeg = 1, .psiToDeg = 180, .segmentSizeArcSec = 900, .blockMeans = true};
  EXPECT_FALSE(BandReadsGrid(far, {&fine, &window}, 0));
}

// The diameter of a grid's extent, against the distance of its farthest
// corners by the textbook formula; a window stands for its whole file.
TEST(GridReachPresets, ExtentDiameterIsTheFarthestCornersRoundedUp) {
  const auto corners = [](double lat0, double lon0, double lat1, double lon1) {  // degrees
    const double a = std::sin(0.5 * (lat1 - lat0) * kRad), b = std::sin(0.5 * (lon1 - lon0) * kRad);
    return 2 * std::asin(std::sqrt(a * a + std::cos(lat0 * kRad) * std::cos(lat1 * kRad) * b * b)) / kRad;
  };
  TGridImports tile;  // an SRTM 3" tile: nodes from 86 to 87 E, 27 to 28 N
  const double h = 1.0 / 1200;  // degrees
  tile.nx = tile.ny = 1201, tile.xStep = h, tile.yStep = -h;
  tile.xMin = 86, tile.xMax = 87, tile.yMin = 28, tile.yMax = 27;
  const double diagonal = corners(27 - h, 86 - h, 28 + h, 87 + h);  // 1.339 degrees, a spacing beyond each edge
  EXPECT_GE(ExtentDiameterDeg(tile), diagonal);
  EXPECT_DOUBLE_EQ(ExtentDiameterDeg(tile), 1.4);

  TGridImports window = tile;  // its nodes near 86.5 E 27.5 N
  window.fileNx = window.fileNy = 1201, window.fileXMin = 86, window.fileYMin = 28;
  window.nx = window.ny = 101, window.xMin = 86.45, window.xMax = 86.55, window.yMin = 27.55, window.yMax = 27.45;
  EXPECT_DOUBLE_EQ(ExtentDiameterDeg(window), 1.4);

  TGridImports wide = tile;  // half a turn of longitude: an antipode may lie inside
  wide.xMin = -90, wide.xMax = 90;
  EXPECT_EQ(ExtentDiameterDeg(wide), 180);
}

// Preset bands of a run whose grids reach different distances: each
// distance in the rule of the finest spacing that reaches it, a coarse
// grid's beyond the first taken as at most 1' and never finer than the
// rule before; on a tile, 60 h .. 600 h finer in `fine` and 600 h .. 2700 h
// on point samples of the tile.
// The expectations cut the one-spacing rules by hand where the next grid
// takes over.
TEST(GridReachPresets, FarSizesFollowTheGridsThatReachThem) {
  const auto band = [](double from, double to, TZone sized) {  // degrees
    sized.psiFromDeg = from;
    sized.psiToDeg = to;
    return sized;
  };
  for (const char* preset : {"standard", "fine"}) {
    SCOPED_TRACE(preset);
    const std::vector<TZone> srtm = *PresetZones(preset, 3);   // a 3" tile
    const std::vector<TZone> one = *PresetZones(preset, 60);   // a 1' grid
    const std::vector<TZone> r30 = *PresetZones(preset, 30);   // a 30" grid
    // The 3" rule: decades to 0.05 degrees, 0.05 .. 0.15, 0.15 .. 0.5,
    // 0.5 .. 2.25, on; the 1' rule: ..., 1 .. 3, 3 .. 10, 10 .. 45,
    // 45 .. 180; the 30" rule: ..., 0.5 .. 1.5, 1.5 .. 5, 5 .. 22.5,
    // 22.5 .. 180 degrees.
    ASSERT_EQ(srtm.size(), 10u);
    ASSERT_DOUBLE_EQ(srtm[8].psiToDeg, 2.25);
    ASSERT_EQ(one.size(), 10u);
    ASSERT_DOUBLE_EQ(one[6].psiFromDeg, 1);
    ASSERT_DOUBLE_EQ(one[7].psiFromDeg, 3);
    ASSERT_EQ(r30.size(), 10u);
    ASSERT_DOUBLE_EQ(r30[6].psiFromDeg, 0.5);
    ASSERT_DOUBLE_EQ(r30[7].psiFromDeg, 1.5);
    // On a tile, 0.05 .. 0.5 degrees in one band, in `fine` at 3.75" (1.25 h,
    // not the rule's 1.875 h and 3.75 h), and the band 0.5 .. 2.25 degrees,
    // cut where the tile ends, on point samples of the tile itself
    // (arc-seconds), not means.
    const bool standard = std::string(preset) == "standard";
    TZone tileMiddle = band(0.05, 0.5, srtm[6]);
    tileMiddle.segmentSizeArcSec = standard ? 11.25 : 3.75;
    const TZone tileBand{.psiFromDeg = 0.5, .psiToDeg = 1.4, .segmentSizeArcSec = standard ? 90.0 : 45.0,
                         .blockMeans = false};
    ASSERT_DOUBLE_EQ(srtm[7].psiToDeg, 0.5);
    ASSERT_EQ(srtm[6].segmentSizeArcSec, standard ? 11.25 : 5.625);  // a grid that reaches everywhere
    ASSERT_TRUE(srtm[8].blockMeans);                                  // keeps its rule
    std::vector<TZone> in20(srtm.begin(), srtm.begin() + 6);  // to 0.05 degrees
    in20.push_back(tileMiddle);
    in20.push_back(tileBand);
    in20.push_back(band(1.4, 3, one[6]));
    in20.push_back(one[7]);
    in20.push_back(one[8]);
    in20.push_back(one[9]);
    // 1.4 .. 1.5 degrees is wider than two of the 30" rule's segments there.
    std::vector<TZone> in30(srtm.begin(), srtm.begin() + 6);
    in30.push_back(tileMiddle);
    in30.push_back(tileBand);
    in30.push_back(band(1.4, 1.5, r30[6]));
    in30.push_back(r30[7]);
    in30.push_back(r30[8]);
    in30.push_back(r30[9]);
    // The 1' rule's band before 10 degrees, cut to 0.01 degrees, is narrower
    // than two of its segments: the 3" band before takes it.
    std::vector<TZone> sliver(srtm.begin(), srtm.begin() + 6);
    sliver.push_back(tileMiddle);
    sliver.push_back(band(0.5, 2.25, tileBand));
    sliver.push_back(band(2.25, 10, srtm[9]));
    sliver.push_back(one[8]);
    sliver.push_back(one[9]);
    struct Case {
      const char* what;
      std::vector<TPresetSpacing> spacings;  // arc-seconds, degrees
      std::vector<TZone> zones;
    };
    const Case cases[] = {
        {"a single 1' grid: its rule unchanged", {{60, 180}}, one},
        {"a single 20' grid: its rule unchanged", {{1200, 180}}, *PresetZones(preset, 1200)},
        {"a 1' global grid before a 15' one: the 1' rule", {{60, 180}, {900, 180}}, one},
        {"a 3\" tile (reaching 1.4 degrees) before a 20' global grid", {{3, 1.4}, {1200, 180}}, in20},
        {"the same with the grids given the other way round", {{1200, 180}, {3, 1.4}}, in20},
        {"a 3\" tile before a 30\" global grid", {{3, 1.4}, {30, 180}}, in30},
        {"a 3\" tile reaching 9.99 degrees before a 20' grid", {{3, 9.99}, {1200, 180}}, sliver},
        {"a 3\" tile and a 20' grid, both reaching 180 degrees", {{3, 180}, {1200, 180}}, srtm},
        {"a 450\" grid reaching 8.6 degrees before a 1 degree one: its own rule", {{450, 8.6}, {3600, 180}},
         *PresetZones(preset, 450)},
    };
    for (const Case& c : cases) EXPECT_EQ(*PresetZones(preset, c.spacings), c.zones) << c.what;
    EXPECT_FALSE(PresetZones(preset, std::vector<TPresetSpacing>{}));
    EXPECT_FALSE(PresetZones(preset, std::vector<TPresetSpacing>{{0, 180}}));
  }
  // The documented 1' rule of `fine`, as the settings file would give it.
  // The decades to 6 h take the kernel for rings next to the point.
  const std::vector<TZone> fine1 = {
      {0, 0.00001, 0.00028125, false, true},   {0.00001, 0.0001, 0.0028125, false, true},
      {0.0001, 0.001, 0.028125, false, true},  {0.001, 0.01, 0.28125, false, true},
      {0.01, 0.1, 2.8125, false, true},        {0.1, 1, 14.0625, false},
      {1, 3, 112.5, false},                    {3, 10, 225, false},
      {10, 45, 900, true, false, true},        {45, 180, 1800, true, false, true}};
  const std::vector<TZone> formed = *PresetZones("fine", std::vector<TPresetSpacing>{{60, 180}});
  ASSERT_EQ(formed.size(), fine1.size());
  for (std::size_t k = 0; k < fine1.size(); ++k) {  // the rule's bounds are products in h: to the last bits
    EXPECT_DOUBLE_EQ(formed[k].psiFromDeg, fine1[k].psiFromDeg) << k;
    EXPECT_DOUBLE_EQ(formed[k].psiToDeg, fine1[k].psiToDeg) << k;
    EXPECT_DOUBLE_EQ(formed[k].segmentSizeArcSec, fine1[k].segmentSizeArcSec) << k;
    EXPECT_EQ(formed[k].blockMeans, fine1[k].blockMeans) << k;
    EXPECT_EQ(formed[k].nearPointKernel, fine1[k].nearPointKernel) << k;
    EXPECT_EQ(formed[k].boxMeans, fine1[k].boxMeans) << k;
  }
}

// What a run's grid lists give the presets: the last grid of a list
// reaches everywhere, a grid before it as far as its extent's diameter.
TEST(GridReachPresets, ListsReachAsFarAsTheirGridsExtend) {
  TGridImports tile;
  tile.xStep = 1.0 / 1200, tile.yStep = -1.0 / 1200;  // degrees: 3"
  tile.xMin = 86, tile.xMax = 87, tile.yMin = 28, tile.yMax = 27;
  TGridImports etopo;
  etopo.xStep = etopo.yStep = 1.0 / 3;  // degrees: 20'
  etopo.xMin = -180, etopo.xMax = 180, etopo.yMin = -90, etopo.yMax = 90;
  const std::vector<TPresetSpacing> spacings = PresetSpacings({{&tile, &etopo}, {&tile}});
  ASSERT_EQ(spacings.size(), 3u);
  EXPECT_DOUBLE_EQ(spacings[0].spacingArcSec, 3);
  EXPECT_DOUBLE_EQ(spacings[0].reachDeg, 1.4);
  EXPECT_DOUBLE_EQ(spacings[1].spacingArcSec, 1200);
  EXPECT_EQ(spacings[1].reachDeg, 180);
  EXPECT_EQ(spacings[2].reachDeg, 180);  // the tile alone: its rule everywhere
}

}  // namespace
}  // namespace globelayers

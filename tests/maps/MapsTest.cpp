// Value to colour, longitude/latitude to pixel, and grid pictures.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <functional>
#include <thread>

#include "ColourMap.h"
#include "GridFixtures.h"
#include "GridPicture.h"
#include "MapProjection.h"

namespace globelayers {
namespace {

using testing_fixtures::TempDir;
using testing_fixtures::WriteSurfer6;

// Relative luminance (Rec. 709 weights on sRGB), enough to see an order.
double Luminance(TRgb c) { return 0.2126 * c.r + 0.7152 * c.g + 0.0722 * c.b; }

TEST(ColourMap, SequentialEndsAndRisingLightness) {
  EXPECT_EQ(SequentialColour(0), (TRgb{0x44, 0x01, 0x54}));
  EXPECT_EQ(SequentialColour(1), (TRgb{0xFD, 0xE7, 0x25}));
  EXPECT_EQ(SequentialColour(-3), SequentialColour(0));
  EXPECT_EQ(SequentialColour(7), SequentialColour(1));
  EXPECT_EQ(SequentialColour(std::nan("")), SequentialColour(0));
  for (int i = 1; i <= 100; ++i)
    EXPECT_GT(Luminance(SequentialColour(i / 100.0)), Luminance(SequentialColour((i - 1) / 100.0))) << i;
}

TEST(ColourMap, DivergingIsGreyInTheMiddleAndDarkensBothWays) {
  EXPECT_EQ(DivergingColour(0.5), (TRgb{221, 221, 221}));
  for (int i = 1; i <= 50; ++i) {
    EXPECT_LT(Luminance(DivergingColour(0.5 + i / 100.0)), Luminance(DivergingColour(0.5 + (i - 1) / 100.0)));
    EXPECT_LT(Luminance(DivergingColour(0.5 - i / 100.0)), Luminance(DivergingColour(0.5 - (i - 1) / 100.0)));
  }
  // The blank colour is neither map's.
  for (int i = 0; i <= 1000; ++i) {
    EXPECT_NE(SequentialColour(i / 1000.0), kBlankColour);
    EXPECT_NE(DivergingColour(i / 1000.0), kBlankColour);
  }
}

TEST(ColourMap, ScaleChoiceAndPositions) {
  struct Case { const char* name; double lo, hi, value; bool diverging; double t; };
  const Case cases[] = {
      {"positive, minimum", 2, 10, 2, false, 0},
      {"positive, maximum", 2, 10, 10, false, 1},
      {"positive, quarter", 2, 10, 4, false, 0.25},
      {"negative only", -10, -2, -4, false, 0.75},
      {"touching zero stays one-signed", 0, 8, 2, false, 0.25},
      {"one value", 5, 5, 5, false, 0.5},
      {"both signs: zero in the middle", -2, 8, 0, true, 0.5},
      {"both signs: maximum at the end", -2, 8, 8, true, 1},
      {"both signs: minimum short of its end", -2, 8, -2, true, 0.375},
      {"outside is clamped", 2, 10, 50, false, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const TColourScale s = MakeColourScale(c.lo, c.hi);
    EXPECT_EQ(s.diverging, c.diverging);
    EXPECT_DOUBLE_EQ(ScalePosition(s, c.value), c.t);
    EXPECT_EQ(ColourOf(s, c.value), c.diverging ? DivergingColour(c.t) : SequentialColour(c.t));
  }
}

TEST(MapProjection, StationsFitWithTheirMarginAndNorthUp) {
  // 10..14 E, 40..42 N in 400 x 300 pixels: the standard parallel is 41 N.
  const TLonLatBox box{10, 14, 40, 42};
  const TMapFrame f = TMapFrame::Fit(box, 400, 300, 0.1);
  const double k = std::cos(41 * 0.017453292519943295);
  // Width 4k deg, height 2 deg, margins 0.4k on every side: the width decides.
  const double scale = 400 / (4 * k + 0.8 * k);
  EXPECT_NEAR(f.PixelsPerDegreeLat(), scale, 1e-9);
  const TPixelPoint centre = f.ToPixel(12, 41);
  EXPECT_NEAR(centre.x, 200, 1e-9);
  EXPECT_NEAR(centre.y, 150, 1e-9);
  const TPixelPoint ne = f.ToPixel(14, 42), sw = f.ToPixel(10, 40);
  EXPECT_LT(ne.y, sw.y);  // north up
  EXPECT_GT(ne.x, sw.x);  // east right
  EXPECT_NEAR(ne.x - sw.x, 4 * k * scale, 1e-9);
  EXPECT_NEAR(sw.x, 0.4 * k * scale, 1e-9);  // the margin
  EXPECT_NEAR(sw.y - ne.y, 2 * scale, 1e-9);
  double lon = 0, lat = 0;
  f.ToLonLat(f.ToPixel(13.25, 40.5), lon, lat);
  EXPECT_NEAR(lon, 13.25, 1e-12);
  EXPECT_NEAR(lat, 40.5, 1e-12);
  const TLonLatBox v = f.Visible();
  EXPECT_LT(v.lonMinDeg, 10);
  EXPECT_GT(v.latMaxDeg, 42);
}

TEST(MapProjection, OneStationAndPolarStationsGetAFiniteMap) {
  const TMapFrame one = TMapFrame::Fit({5, 5, 50, 50}, 200, 100);
  EXPECT_TRUE(std::isfinite(one.PixelsPerDegreeLat()));
  EXPECT_NEAR(one.ToPixel(5, 50).x, 100, 1e-9);
  const TMapFrame polar = TMapFrame::Fit({-180, 180, 89, 90}, 200, 100);
  EXPECT_GT(polar.ToPixel(180, 90).x, polar.ToPixel(-180, 90).x);
  EXPECT_LE(polar.ToPixel(180, 90).x, 200);
  EXPECT_GE(polar.ToPixel(-180, 90).x, 0);
}

// The frame widens the stations' area to the rectangle's shape but never
// past a pole or beyond one turn of longitude; there it keeps the aspect and
// leaves part of the rectangle unused. Expected extents worked out by hand
// from the margin (8 % of the larger side) and the standard parallel.
TEST(MapProjection, FrameStopsAtThePolesAndOneTurn) {
  const double cos5 = std::cos(5 * 0.017453292519943295);
  const double cos80 = std::cos(80 * 0.017453292519943295);
  const double cos74 = std::cos(74.5 * 0.017453292519943295);
  struct Case {
    const char* name;
    TLonLatBox box;
    double width, height;  // pixels
    TLonLatBox visible;
    double usedWidth, usedHeight;  // pixels
  };
  const Case cases[] = {
      // Margins 28.8 deg; the tall rectangle would show -270..270 N.
      {"the world in a tall rectangle", {-180, 180, -60, 60}, 400, 600, {-180, 180, -90, 90}, 400, 200},
      // 0..100 E plus 8 deg each side decides; a line along the equator.
      {"a line of stations, square", {0, 100, -1, 1}, 400, 400, {-8, 108, -58, 58}, 400, 400},
      {"a line of stations, tall", {0, 100, -1, 1}, 200, 400, {-8, 108, -90, 90}, 200, 180 * 200 / 116.0},
      // The margin of 1.6 deg stops at the North Pole; the height decides.
      {"up to the North Pole", {0, 1, 70, 90}, 300, 300,
       {0.5 - 21.6 / (2 * cos80), 0.5 + 21.6 / (2 * cos80), 68.4, 90}, 300, 300},
      // One turn at 5 N: width 360 cos 5 deg of latitude decides.
      {"all longitudes, wide", {-180, 180, 0, 10}, 800, 200,
       {-180, 180, 5 - 45 * cos5, 5 + 45 * cos5}, 800, 200},
      // Narrow and tall near the South Pole: the widening runs into the
      // pole and goes north instead. Margin 29 * 0.08 = 2.32 deg, so the
      // width is 1 cos 74.5 + 4.64 deg of latitude over 40 pixels.
      {"from the South Pole northward", {0, 1, -89, -60}, 40, 600,
       {0.5 - 0.5 * (cos74 + 4.64) / cos74, 0.5 + 0.5 * (cos74 + 4.64) / cos74, -90, -90 + 15 * (cos74 + 4.64)},
       40, 600},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const TMapFrame f = TMapFrame::Fit(c.box, c.width, c.height);
    EXPECT_NEAR(f.WidthPx(), c.usedWidth, 1e-9);
    EXPECT_NEAR(f.HeightPx(), c.usedHeight, 1e-9);
    const TLonLatBox v = f.Visible();
    EXPECT_NEAR(v.lonMinDeg, c.visible.lonMinDeg, 1e-9);
    EXPECT_NEAR(v.lonMaxDeg, c.visible.lonMaxDeg, 1e-9);
    EXPECT_NEAR(v.latMinDeg, c.visible.latMinDeg, 1e-9);
    EXPECT_NEAR(v.latMaxDeg, c.visible.latMaxDeg, 1e-9);
    // Every corner of the stations' area lies within the frame.
    for (double lon : {c.box.lonMinDeg, c.box.lonMaxDeg})
      for (double lat : {c.box.latMinDeg, c.box.latMaxDeg}) {
        const TPixelPoint p = f.ToPixel(lon, lat);
        EXPECT_GE(p.x, -1e-9);
        EXPECT_LE(p.x, f.WidthPx() + 1e-9);
        EXPECT_GE(p.y, -1e-9);
        EXPECT_LE(p.y, f.HeightPx() + 1e-9);
      }
  }
}

TEST(MapProjection, DegreeLabelsNameTheHemisphere) {
  struct Case { double deg, step; bool latitude; const char* expected; };
  const Case cases[] = {
      {40, 10, true, "40\u00B0N"},       {-35, 5, true, "35\u00B0S"},     {0, 10, true, "0\u00B0"},
      {15, 5, false, "15\u00B0E"},       {-120, 30, false, "120\u00B0W"}, {0, 30, false, "0\u00B0"},
      {180, 60, false, "180\u00B0"},     {-180, 60, false, "180\u00B0"},  {190, 10, false, "170\u00B0W"},
      {350, 10, false, "10\u00B0W"},     {12.5, 0.5, false, "12.5\u00B0E"}, {-0.25, 0.05, true, "0.25\u00B0S"},
      {1e-12, 0.1, true, "0.0\u00B0"},   {-1e-12, 1, false, "0\u00B0"},
  };
  for (const Case& c : cases) EXPECT_EQ(DegreeLabel(c.deg, c.step, c.latitude), c.expected) << c.deg;
}

TEST(MapProjection, GraticuleSteps) {
  struct Case { double span; int steps; double expected; };
  const Case cases[] = {{4, 5, 1},   {10, 5, 2},     {360, 6, 60},  {400, 6, 90}, {180, 6, 30},
                        {0.3, 5, 0.1}, {45, 5, 10},  {70, 5, 15},   {1, 10, 0.1}, {2000, 6, 180}};
  for (const Case& c : cases) EXPECT_DOUBLE_EQ(GraticuleStep(c.span, c.steps), c.expected) << c.span;
}

// A grid of 4 columns (10..13 E) by 3 rows (40..42 N) whose value is its
// latitude, with the south-west node blank.
std::string GradientGrid(const TempDir& dir) {
  return WriteSurfer6(dir.File("g.grd"), 4, 3, 10, 13, 40, 42, [](double x, double y) {
    return x == 10 && y == 40 ? 1.70141e38f : float(y);
  });
}

TEST(GridPicture, FactsAndNorthUpRaster) {
  TempDir dir;
  const TGridPicture p = ReadGridPicture(GradientGrid(dir), 256);
  ASSERT_TRUE(p.ok) << p.message;
  EXPECT_EQ(p.facts.nx, 4);
  EXPECT_EQ(p.facts.ny, 3);
  EXPECT_EQ(p.facts.xStepDeg, 1);
  EXPECT_EQ(p.facts.minValue, 40);  // the blank is no minimum
  EXPECT_EQ(p.facts.maxValue, 42);
  EXPECT_DOUBLE_EQ(p.facts.blankShare, 1.0 / 12);
  EXPECT_EQ(FactsText(p.facts),
            "Surfer 6 grid, 4 x 3 nodes\nlon 10 to 13, step 1 deg\nlat 40 to 42, step 1 deg\n"
            "min 40, max 42\nblanks 8.3 %");
  ASSERT_EQ(p.raster.width, 4);
  ASSERT_EQ(p.raster.height, 3);
  EXPECT_EQ(p.raster.at(3, 0), 42);  // row 0 is north
  EXPECT_EQ(p.raster.at(3, 2), 40);
  EXPECT_TRUE(std::isnan(p.raster.at(0, 2)));  // the south-west blank
  EXPECT_EQ(RasterValueAt(p.raster, p.facts, 12.9, 41.9), 42);
  // Smooth sampling: between the node rows at 40 and 41 N, in the column at
  // 12 E (no blank among its neighbours), the latitude itself.
  EXPECT_NEAR(RasterValueSmooth(p.raster, p.facts, 12, 40.25), 40.25, 1e-6);
  EXPECT_NEAR(RasterValueSmooth(p.raster, p.facts, 12.5, 41.75), 41.75, 1e-6);
  // Next to the blank corner the nearest cell is taken.
  EXPECT_TRUE(std::isnan(RasterValueSmooth(p.raster, p.facts, 10.1, 40.1)));
  EXPECT_EQ(RasterValueAt(p.raster, p.facts, 11.2 - 360, 40.6), 41);  // longitudes counted 0..360
  EXPECT_TRUE(std::isnan(RasterValueAt(p.raster, p.facts, 20, 41)));
}

TEST(GridPicture, LargeGridsAreSampledNotCopied) {
  TempDir dir;
  const std::string path = WriteSurfer6(dir.File("big.grd"), 600, 300, 0, 599, -50, 249,
                                        [](double, double y) { return float(y); });
  const TGridPicture p = ReadGridPicture(path, 100);
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(p.raster.width, 100);
  EXPECT_EQ(p.raster.height, 100);
  EXPECT_GT(p.raster.at(50, 0), 240);   // northern row
  EXPECT_LT(p.raster.at(50, 99), -40);  // southern row
  EXPECT_EQ(p.facts.maxValue, 249);
}

TEST(GridPicture, CellsAreBlockMeansAndBlankByMajority) {
  // 4 x 4 nodes into 2 x 2 cells: the south-west block holds one blank (a
  // mean of the other three), the south-east block three (blank).
  TGridImports g;
  g.nx = 4, g.ny = 4;
  g.values.assign(16, 0);
  for (int ix = 0; ix < 4; ++ix)
    for (int iy = 0; iy < 4; ++iy) g.at(ix, iy) = float(10 * ix + iy);
  g.at(0, 0) = kBlankMarker;
  g.at(2, 0) = g.at(3, 0) = g.at(3, 1) = kBlankMarker;
  const TGridRaster r = RasterOf(g, 2);
  ASSERT_EQ(r.width, 2);
  EXPECT_FLOAT_EQ(r.at(0, 1), (1 + 10 + 11) / 3.0f);  // south-west
  EXPECT_TRUE(std::isnan(r.at(1, 1)));              // south-east
  EXPECT_FLOAT_EQ(r.at(0, 0), (2 + 3 + 12 + 13) / 4.0f);  // north-west
  EXPECT_FLOAT_EQ(r.at(1, 0), (22 + 23 + 32 + 33) / 4.0f);
}

TEST(GridPicture, ReadersMessagesAreKeptAsText) {
  TempDir dir;
  TGridPicture p = ReadGridPicture(dir.File("missing.grd"), 64);
  EXPECT_FALSE(p.ok);
  EXPECT_EQ(p.fault, TGridFault::kNotOpened);
  // Said once, not once per reader that tried the file, without the line
  // breaks around it.
  const auto trimmed = [](std::string text) {
    while (!text.empty() && text.front() == '\n') text.erase(0, 1);
    while (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
  };
  EXPECT_EQ(p.message, trimmed(GridFaultMessage(TGridFault::kNotOpened, dir.File("missing.grd"))));
  p = ReadGridPicture(dir.Write("text.grd", "not a grid at all, just text"), 64);
  EXPECT_FALSE(p.ok);
  EXPECT_EQ(p.fault, TGridFault::kUnknownFormat);
  EXPECT_EQ(p.message, trimmed(GridFaultMessage(TGridFault::kUnknownFormat, dir.File("text.grd"))));
}

TEST(GridPicture, ReliefIsLitFromTheNorthWest) {
  // A ridge rising to the east: slopes facing west are bright, east dark.
  TGridRaster r{.width = 5, .height = 3, .values = {}};
  for (int row = 0; row < 3; ++row)
    for (float v : {0.f, 1.f, 2.f, 1.f, 0.f}) r.values.push_back(v);
  r.values[0] = std::nanf("");
  const std::vector<float> s = ShadeRelief(r);
  EXPECT_TRUE(std::isnan(s[0]));
  EXPECT_GT(s[1 * 5 + 1], s[1 * 5 + 3]) << "the slope facing west should be the brighter";
  for (float v : s) {
    if (!std::isnan(v)) {
      EXPECT_TRUE(v >= 0 && v <= 1);
    }
  }
}

// The coast is the grid's 0 line, interpolated between nodes, in the
// grid's degrees: a height that is 0 along a known meridian or parallel
// must give a line along it, across the whole of the grid's cells (half a
// spacing beyond the outer nodes, as the relief is drawn).
TEST(GridPicture, ZeroLineFollowsTheCoast) {
  if (!ContourLinesAvailable()) GTEST_SKIP() << "a build without GDAL draws no coast";
  struct TCase {
    const char* name;
    std::function<float(double, double)> height;  // metres at longitude, latitude (degrees)
    bool alongMeridian;
    double atDeg;  // where the line lies, degrees
  };
  const TCase cases[] = {
      {"sea to the west", [](double x, double) { return float(100 * (x - 11.5)); }, true, 11.5},
      {"sea to the north", [](double, double y) { return float(41.25 - y); }, false, 41.25},
      {"uneven slope", [](double x, double) { return float(x < 12 ? (x - 12.25) * 10 : (x - 12.25) * 1000); },
       true, 12.25},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string path = WriteSurfer6(dir.File("coast.grd"), 5, 3, 10, 14, 40, 42, c.height);
    const TGridPicture p = ReadGridPicture(path, 64);
    ASSERT_TRUE(p.ok) << p.message;
    const std::vector<TContourLine> lines = ZeroLineOf(p.raster, p.facts);
    ASSERT_FALSE(lines.empty());
    double lo = 1e9, hi = -1e9;
    for (const TContourLine& line : lines)
      for (const TContourPoint& q : line) {
        EXPECT_NEAR(c.alongMeridian ? q.lonDeg : q.latDeg, c.atDeg, 1e-6);
        lo = std::min(lo, c.alongMeridian ? q.latDeg : q.lonDeg);
        hi = std::max(hi, c.alongMeridian ? q.latDeg : q.lonDeg);
      }
    EXPECT_NEAR(lo, c.alongMeridian ? 39.5 : 9.5, 1e-6);
    EXPECT_NEAR(hi, c.alongMeridian ? 42.5 : 14.5, 1e-6);
  }
  // All land: no coast; a blank node breaks the line rather than bridging it.
  TempDir dir;
  const std::string land = WriteSurfer6(dir.File("land.grd"), 5, 3, 10, 14, 40, 42, [](double, double) { return 5.f; });
  const TGridPicture p = ReadGridPicture(land, 64);
  EXPECT_TRUE(ZeroLineOf(p.raster, p.facts).empty());
  const std::string holed = WriteSurfer6(dir.File("holed.grd"), 5, 3, 10, 14, 40, 42, [](double x, double y) {
    return x == 11 && y == 41 ? 1.70141e38f : float(100 * (x - 11.5));
  });
  const TGridPicture h = ReadGridPicture(holed, 64);
  for (const TContourLine& line : ZeroLineOf(h.raster, h.facts))
    for (const TContourPoint& q : line) EXPECT_FALSE(q.latDeg > 40.5 && q.latDeg < 41.5) << q.latDeg;
}

TEST(GridPictureCache, ReadsAFileOnceUntilItChanges) {
  TempDir dir;
  const std::string path = GradientGrid(dir);
  TGridPictureCache cache(2, 64);
  const auto first = cache.Get(path);
  EXPECT_EQ(cache.Get(path), first);
  EXPECT_EQ(cache.Reads(), 1);
  // A rewritten file (new size and time) is read again.
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  WriteSurfer6(path, 5, 3, 10, 14, 40, 42, [](double, double y) { return float(y); });
  EXPECT_EQ(cache.Get(path)->facts.nx, 5);
  EXPECT_EQ(cache.Reads(), 2);
  // A missing file is not kept: it is looked at again.
  cache.Get(dir.File("none.grd"));
  cache.Get(dir.File("none.grd"));
  EXPECT_EQ(cache.Reads(), 4);
}

}  // namespace
}  // namespace globelayers

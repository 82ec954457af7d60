// Layer row set-up and grid sampling.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "LayerRowText.h"
#include "GridFixtures.h"
#include "LayerModel.h"
#include "RecordingPrompts.h"

namespace globelayers {
namespace {

using testing_fixtures::TempDir;
using testing_fixtures::WriteSurfer6;

// An in-memory grid with values f(x, y) at its nodes.
TGridImports MakeGrid(int nx, int ny, double xMin, double xStep, double yMin, double yStep,
                      const std::function<float(double, double)>& f) {
  TGridImports g;
  g.fileFormat = TGridFormat::kSurfer6;
  g.nx = nx;
  g.ny = ny;
  g.xMin = xMin;
  g.xStep = xStep;
  g.yMin = yMin;
  g.yStep = yStep;
  g.values.resize(static_cast<std::size_t>(nx) * ny);
  for (int ix = 0; ix < nx; ++ix)
    for (int iy = 0; iy < ny; ++iy) g.at(ix, iy) = f(xMin + ix * xStep, yMin + iy * yStep);
  return g;
}

TEST(SampleGrid, InterpolatesAndExtrapolates) {
  // Columns 0..10 degrees whose value is their x; constant along y.
  const TGridImports byX = MakeGrid(11, 5, 0, 1, 40, 1, [](double x, double) { return float(x); });
  const TGridImports world =
      MakeGrid(361, 181, -180, 1, -90, 1, [](double x, double y) { return float(x * 1000 + y); });
  const TGridImports from0 = MakeGrid(361, 3, 0, 1, -1, 1, [](double x, double) { return float(x); });
  const TGridImports to359 = MakeGrid(360, 3, 0, 1, -1, 1, [](double x, double) { return float(x); });
  const TGridImports eastPositive = MakeGrid(31, 3, 200, 1, -1, 1, [](double x, double) { return float(x); });
  struct Case { const char* name; const TGridImports& g; double lon, lat, expected; };
  const Case cases[] = {
      {"node", byX, 3, 41, 3},
      {"inside_cell", byX, 3.25, 41.5, 3.25},
      {"beyond_last_column", byX, 12, 42, 12},
      {"before_first_column", byX, -3, 42, -3},
      {"beyond_last_row", byX, 5, 50, 5},
      {"last_column_of_world", world, 180, 10, 180 * 1000 + 10},
      {"last_row_of_world", world, 20, 90, 20 * 1000 + 90},
      // A longitude beside the grid that one turn brings onto it is read
      // there: -10 on a 0..360 grid is 350, -150 on a 200..230 grid is 210,
      // and 350 on the world grid is -10.
      {"negative_longitude_on_0_360", from0, -10, 0, 350},
      {"west_of_0_on_east_positive_region", eastPositive, -150, 0, 210},
      {"beyond_180_on_world", world, 350, 10, -10 * 1000 + 10},
      // No turn brings -0.5 onto a grid from 0 to 359 degrees: extrapolated
      // from the first cell, as is 12 on a grid of 0..10 degrees above.
      {"gap_of_a_grid_without_its_360_column", to359, -0.5, 0, -0.5},
  };
  for (const Case& c : cases) {
    EXPECT_NEAR(SampleGrid(c.g, c.lon, c.lat), c.expected, 1e-9 * (1 + std::abs(c.expected))) << c.name;
  }
}

TEST(SampleGrid, BlankNodeWithWeightMakesTheSampleBlank) {
  TGridImports g = MakeGrid(3, 3, 0, 1, 0, 1, [](double, double) { return 100.0f; });
  g.at(1, 1) = 1.70141e38f;
  // Any weight on the blank node, however small: blank, never 1e37 metres.
  EXPECT_GT(SampleGrid(g, 0.5, 0.5), 1e38);
  EXPECT_GT(SampleGrid(g, 0.999, 0.01), 1e38);
  // On the line x = 0 the blank column has weight 0: a real value.
  EXPECT_DOUBLE_EQ(SampleGrid(g, 0, 0.5), 100.0);
  EXPECT_DOUBLE_EQ(SampleGrid(g, 2, 2), 100.0);
}

TEST(SampleGrid, ElevationAndDensityReadTheirOwnGrid) {
  TLayerModel model;
  model[1].elevationGrid = std::make_unique<TGridImports>(
      MakeGrid(4, 4, 0, 1, 0, 1, [](double x, double y) { return float(x + 10 * y); }));
  model[1].densityGrid = std::make_unique<TGridImports>(*model[1].elevationGrid);
  EXPECT_EQ(SampleElevation(model, 1, 1.3, 2.7), SampleDensity(model, 1, 1.3, 2.7));
  EXPECT_NEAR(SampleElevation(model, 1, 1.3, 2.7), 1.3 + 27, 1e-12);
}

class SetupRow : public testing::Test {
 protected:
  TempDir dir;
  test::TRecordingPrompts<> prompts;
  TLayerModel model;
  std::string Grid(const std::string& name, float v) {
    return WriteSurfer6(dir.File(name), 3, 3, 0, 2, 0, 2, [v](double, double) { return v; });
  }
};

TEST_F(SetupRow, ConstantsAndGrids) {
  EXPECT_TRUE(SetupLayerRow(model, 0, "0;@;@;@", '.', prompts));
  EXPECT_EQ(model[0].elevation, 0.0);
  EXPECT_FALSE(model[0].elevationGrid);
  EXPECT_EQ(model[0].density, NoValue);
  EXPECT_FALSE(model[0].densityGrid);

  const std::string topo = Grid("topo.grd", 5);
  EXPECT_TRUE(SetupLayerRow(model, 1, "100;" + topo + ";@;@", '.', prompts));
  ASSERT_TRUE(model[1].elevationGrid);
  EXPECT_TRUE(model[1].elevationGrid->loaded());
  EXPECT_EQ(model[1].elevation, NoValue);

  const std::string rho = Grid("rho.grd", 2.9f);
  EXPECT_TRUE(SetupLayerRow(model, 2, "-2500;@;2.9;" + rho, '.', prompts));
  EXPECT_EQ(model[2].elevation, -2500.0);
  EXPECT_EQ(model[2].density, NoValue);
  ASSERT_TRUE(model[2].densityGrid);

  EXPECT_TRUE(SetupLayerRow(model, 3, "-35000,5;@;2,67;@", ',', prompts));
  EXPECT_EQ(model[3].elevation, -35000.5);
  EXPECT_EQ(model[3].density, 2.67);
  EXPECT_TRUE(prompts.messages.empty());
  EXPECT_EQ(std::bit_cast<std::uint64_t>(NoValue), 0xC7D2CED32A16A1B1u);
}

TEST_F(SetupRow, MissingGridStopsTheRow) {
  model[1].density = 1.5;  // left over from an earlier run
  const std::string missing = dir.File("missing.grd");
  EXPECT_FALSE(SetupLayerRow(model, 1, "100;" + missing + ";2.67;@", '.', prompts));
  EXPECT_EQ(prompts.messages, std::vector<std::string>{GridFaultMessage(TGridFault::kNotOpened, missing)});
  EXPECT_EQ(model[1].elevation, 100.0);
  ASSERT_TRUE(model[1].elevationGrid);  // attached, failed, never sampled
  EXPECT_FALSE(model[1].elevationGrid->loaded());
  EXPECT_EQ(model[1].density, 1.5);  // the density cells were not processed
}

TEST_F(SetupRow, GridOfNoKnownFormatStopsTheRowWithAMessage) {
  const std::string text = dir.Write("heights.txt", "10 20 30\n40 50 60\n");
  EXPECT_FALSE(SetupLayerRow(model, 1, "100;" + text + ";2.67;@", '.', prompts));
  EXPECT_EQ(prompts.messages, std::vector<std::string>{GridFaultMessage(TGridFault::kUnknownFormat, text)});
}

// A node that is NaN or an infinity is a blank: near it the sample is
// blank (the run drops the segment), and where it has no weight the sample
// is the neighbours' value, never NaN from 0 times an infinity.
TEST_F(SetupRow, NonFiniteNodesSampleLikeBlanks) {
  for (const float bad : {std::numeric_limits<float>::quiet_NaN(), -std::numeric_limits<float>::infinity()}) {
    SCOPED_TRACE(bad);
    const std::string grid = WriteSurfer6(dir.File("bad.grd"), 3, 3, 0, 2, 0, 2, [bad](double x, double y) {
      return x == 1 && y == 1 ? bad : 7.0f;
    });
    ASSERT_TRUE(SetupLayerRow(model, 0, "@;" + grid + ";@;@", '.', prompts));
    EXPECT_EQ(SampleElevation(model, 0, 0.5, 0.5), double{kBlankMarker});
    EXPECT_EQ(SampleElevation(model, 0, 0, 2), 7.0);
    EXPECT_EQ(SampleElevation(model, 0, 2, 1.5), 7.0);
  }
  EXPECT_TRUE(prompts.messages.empty());
}

TEST_F(SetupRow, CellErrors) {
  // "@ " is not an empty cell: a number that does not convert, or a path.
  try {
    SetupLayerRow(model, 0, "@ ;@;@;@", '.', prompts);
    FAIL() << "no conversion error";
  } catch (const TConversionError& e) {
    EXPECT_STREQ(e.what(), "'@ ' is not a valid floating point value");
  }
  EXPECT_THROW(SetupLayerRow(model, 1, "0;@;2.67 g;@", '.', prompts), TConversionError);
  EXPECT_THROW(SetupLayerRow(model, 1, "0;@;2.67;@", ',', prompts), TConversionError);
  EXPECT_FALSE(SetupLayerRow(model, 1, "0;@ ;@;@", '.', prompts));
  try {
    SetupLayerRow(model, 1, "0;@", '.', prompts);
    FAIL() << "no index error";
  } catch (const TListIndexError& e) {
    EXPECT_STREQ(e.what(), "List index out of bounds (2)");
  }
}

}  // namespace
}  // namespace globelayers

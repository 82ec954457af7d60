// Block means from a file's overviews: a band on block means whose level an
// overview of the file serves samples that overview (GDAL's plain block
// means) and the grid itself is read only where the bands on point samples
// reach; a file without overviews has its means formed from its rows read
// in strips, to the bits of the means of the whole grid. The fixtures are GeoTIFFs with overviews that GDAL builds here, as
// `gdaladdo -r average` does.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "Calculation.h"
#include "GdalFixtures.h"
#include "GridFixtures.h"
#include "GridReach.h"
#include "LayerRowText.h"
#include "PointEvaluation.h"
#include "PointFile.h"
#include "RecordingPrompts.h"

namespace globelayers {
namespace {

using testing_fixtures::TempDir;

// A rough surface, metres: waves of about 1 degree, so that a block of a
// degree holds hundreds of metres of relief and its mass-keeping mean
// lies centimetres above its plain mean.
double Relief(double lonDeg, double latDeg) {
  return 1500 * std::sin(lonDeg * 0.09) * std::cos(latDeg * 0.07) + 800 * std::sin(lonDeg * 6.1 + latDeg * 4.3);
}

// A global grid of 0.25 degrees (1440 x 720 pixel centres from 179.875 W,
// 89.875 S), Float32 in 256 x 256 tiles; with overviews of factors 2, 4
// and 8 when asked.
std::string WriteGlobal(const std::string& path, bool overviews, test::TNodes& nodes) {
  nodes = {.nx = 1440, .ny = 720, .xMin = -179.875, .xStep = 0.25, .yMin = -89.875, .yStep = 0.25, .values = {}};
  nodes.values.resize(std::size_t(nodes.nx) * nodes.ny);
  for (int ix = 0; ix < nodes.nx; ++ix)
    for (int iy = 0; iy < nodes.ny; ++iy)
      nodes.values[std::size_t(ix) * nodes.ny + iy] =
          float(Relief(nodes.xMin + ix * nodes.xStep, nodes.yMin + iy * nodes.yStep));
  auto mem = test::MemRaster(nodes, test::TRows::kNorthFirst);
  test::SetGeographic(*mem);
  test::CopyWith(*mem, "GTiff", path, {"TILED=YES", "BLOCKXSIZE=256", "BLOCKYSIZE=256", "COMPRESS=DEFLATE"});
  if (overviews) {
    test::TDataset update(GDALDataset::Open(path.c_str(), GDAL_OF_RASTER | GDAL_OF_UPDATE));
    int factors[] = {2, 4, 8};
    if (!update || update->BuildOverviews("AVERAGE", 3, factors, 0, nullptr, nullptr, nullptr) != CE_None)
      throw std::runtime_error("GDAL could not build the overviews of " + path);
  }
  return path;
}

class OverviewMeans : public testing::Test {
 protected:
  // The bands: point samples of 900" (the grid's spacing) to 2 degrees,
  // then block means of 1 degree (level 2) to 30 and of 2 degrees (level
  // 3) beyond.
  void SetUpRun(const std::string& grid) {
    params.dataFile = dir.Write("points.dat", "10.2 45.1 1 120\n");
    params.increment = 1;
    params.zone = TZoneList{{{.psiFromDeg = 0, .psiToDeg = 2, .segmentSizeArcSec = 900},
                             {.psiFromDeg = 2, .psiToDeg = 30, .segmentSizeArcSec = 3600, .blockMeans = true},
                             {.psiFromDeg = 30, .psiToDeg = 180, .segmentSizeArcSec = 7200, .blockMeans = true}}};
    params.layers = LayerRowsFromTexts({"@;" + grid + ";@;@", "-2000;@;2.67;@"}, '.');
    params.rowCount = 2;
  }
  // Serves the run on `grid` with stations (or without, whole grids
  // through a loader of its own) and evaluates kPoints.
  std::vector<std::string> Serve(const std::string& grid, bool stations,
                                 const std::function<void(const TRunContext&)>& look = {}) {
    SetUpRun(grid);
    TStationArea area;
    area.Add(45.1, 10.2);
    area.Add(44.6, 9.7);
    TRunOptions options;
    if (!stations) options.loadGrid = [](TGridImports& g, const std::string& f, IUserPrompts& p) { return LoadGrid(g, f, p); };
    std::vector<std::string> lines;
    TCalcEngine engine;
    test::TRecordingPrompts<> prompts;
    EXPECT_TRUE(engine.ServeRun(params, prompts, options, [&](const TRunContext& ctx) {
      if (look) look(ctx);
      TPointEvaluator evaluator(ctx);
      for (const char* point : {"10.2 45.1 1 120\n", "9.7 44.6 2 900\n"})
        lines.push_back(evaluator.Evaluate(*ParsePointLine(point)));
    }, stations ? &area : nullptr));
    EXPECT_TRUE(prompts.messages.empty()) << prompts.messages.front();
    return lines;
  }

  TempDir dir;
  TRunParameters params;
};

const TGridImports* StandIn(const TRunContext& ctx, std::size_t zone) {
  const TGridImports* grid = ctx.model[0].elevationGrid.get();
  if (ctx.zones[zone].standIns == nullptr) return nullptr;
  for (const auto& [model, means] : *ctx.zones[zone].standIns)
    if (model == grid) return means;
  return nullptr;
}

TEST_F(OverviewMeans, FarBandsSampleTheOverviewsAndTheGridIsReadNearTheStationsOnly) {
  test::TNodes nodes;
  const std::string path = WriteGlobal(dir.File("ov.tif"), true, nodes);
  bool looked = false;
  const auto look = [&](const TRunContext& ctx) {
    looked = true;
    const TGridImports& grid = *ctx.model[0].elevationGrid;
    // Within 2 degrees of the stations: two tiles of 256 x 256 nodes (the
    // columns 747 .. 771 cross a tile's edge), not 1440 x 720 nodes.
    EXPECT_TRUE(grid.windowed());
    EXPECT_EQ(grid.nx, 512);
    EXPECT_EQ(grid.ny, 256);
    // Zone 2 samples the overview of factor 4: 360 x 180 nodes of 1
    // degree, centred on the blocks of 4 x 4 nodes, each their plain mean.
    const TGridImports* degree = StandIn(ctx, 1);
    ASSERT_NE(degree, nullptr);
    EXPECT_EQ(degree->windowed() ? degree->fileNx : degree->nx, 360);
    EXPECT_EQ(degree->xStep, 1);
    EXPECT_EQ(degree->windowed() ? degree->fileXMin : degree->xMin, -179.5);
    int compared = 0;
    for (int ix = 0; ix < degree->nx; ++ix) {
      for (int iy = 0; iy < degree->ny; ++iy) {
        const int bx = (ix + degree->column0) * 4, by = (iy + degree->row0) * 4;
        double sum = 0;
        for (int dx = 0; dx < 4; ++dx)
          for (int dy = 0; dy < 4; ++dy) sum += nodes.at(bx + dx, by + dy);
        ASSERT_NEAR(degree->at(ix, iy), sum / 16, 2e-3) << ix << ", " << iy;
        ++compared;
      }
    }
    EXPECT_GT(compared, 100);
    // Zone 3, whole: the overview of factor 8.
    const TGridImports* two = StandIn(ctx, 2);
    ASSERT_NE(two, nullptr);
    EXPECT_FALSE(two->windowed());
    EXPECT_EQ(two->nx, 180);
    EXPECT_EQ(two->xMin, -179);
  };
  const std::vector<std::string> windowed = Serve(path, true, look);
  EXPECT_TRUE(looked);
  // Whole grids and whole overviews (as the MPI front end loads them):
  // the same bytes.
  EXPECT_EQ(Serve(path, false), windowed);
}

TEST_F(OverviewMeans, WithoutOverviewsTheMeansComeFromTheFileInStripsAndPrintTheWholeGridsBytes) {
  test::TNodes nodes;
  const std::string plain = WriteGlobal(dir.File("plain.tif"), false, nodes);
  const auto look = [&](const TRunContext& ctx) {
    // The grid near the stations only, as with overviews.
    EXPECT_TRUE(ctx.model[0].elevationGrid->windowed());
    EXPECT_EQ(ctx.model[0].elevationGrid->nx, 512);
    // The mass-keeping pyramid on the file's own nodes: level 2 from the
    // first node, (1440 - 1) / 4 + 1 nodes.
    const TGridImports* degree = StandIn(ctx, 1);
    ASSERT_NE(degree, nullptr);
    EXPECT_EQ(degree->nx, 360);
    EXPECT_EQ(degree->xMin, -179.875);
  };
  const std::vector<std::string> own = Serve(plain, true, look);
  // Whole grids, means formed in memory: the same bytes.
  EXPECT_EQ(Serve(plain, false), own);
  // The overviews' plain means differ from the mass-keeping ones.
  const std::string path = WriteGlobal(dir.File("ov.tif"), true, nodes);
  EXPECT_NE(Serve(path, true), own);
}

}  // namespace
}  // namespace globelayers

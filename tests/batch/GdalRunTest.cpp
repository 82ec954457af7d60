// Whole runs on rasters that GDAL reads: the example's topography, written
// by GDAL's drivers in every common layout, must give the Surfer run's
// result file byte for byte; a refused raster ends the run as a missing grid
// does.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "BatchRun.h"
#include "GdalFixtures.h"
#include "GridImports.h"
#include "RecordingPrompts.h"

namespace globelayers {
namespace {

namespace fs = std::filesystem;
using test::CopyWith;
using test::MemRaster;
using test::TNodes;
using test::TRows;

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteText(const fs::path& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  const auto at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

// The example's nodes as the native reader loads them.
TNodes NativeNodes(const fs::path& file) {
  test::TRecordingPrompts<> prompts;
  TGridImports grid;
  EXPECT_TRUE(LoadGrid(grid, file.string(), prompts));
  TNodes n{.nx = grid.nx, .ny = grid.ny, .xMin = grid.xMin, .xStep = grid.xStep, .yMin = grid.yMin,
           .yStep = grid.yStep, .values = {}};
  n.values.assign(grid.values.begin(), grid.values.end());
  return n;
}

class GdalRunFolder : public testing::Test {
 protected:
  void SetUp() override {
    const auto* info = testing::UnitTest::GetInstance()->current_test_info();
    std::string name = info->name();
    std::replace(name.begin(), name.end(), '/', '_');
    dir_ = fs::temp_directory_path() / ("globelayers-gdalrun-" + std::to_string(::getpid()) + "-" + name);
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    previous_ = fs::current_path();
    fs::current_path(dir_);
    for (const char* file : {"example.ini", "stations.dat", "topography.grd", "crustbase.grd"})
      fs::copy_file(fs::path(GLOBELAYERS_EXAMPLES_DIR) / file, dir_ / file);
  }
  void TearDown() override {
    fs::current_path(previous_);
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  int Run(const std::string& settings) {
    err_.str("");
    std::ostringstream out;
    return RunBatch({settings}, out, err_, false);
  }
  fs::path dir_, previous_;
  std::ostringstream err_;
};

struct LayoutCase {
  const char* name;
  std::function<std::string(const TNodes&)> write;  // returns the file name, in the current folder
};

std::string GeoTiff(const TNodes& n, const char* name, TRows rows, bool point) {
  auto mem = MemRaster(n, rows);
  test::SetGeographic(*mem);
  if (point) mem->SetMetadataItem("AREA_OR_POINT", "Point");
  return CopyWith(*mem, "GTiff", name);
}

const LayoutCase kLayouts[] = {
    {"GeoTiffNorthUp", [](const TNodes& n) { return GeoTiff(n, "topography.tif", TRows::kNorthFirst, false); }},
    {"GeoTiffSouthUp", [](const TNodes& n) { return GeoTiff(n, "topography.tif", TRows::kSouthFirst, false); }},
    {"GeoTiffPixelIsPoint", [](const TNodes& n) { return GeoTiff(n, "topography.tif", TRows::kNorthFirst, true); }},
    // Read a row of tiles at a time in stripes of whole tiles.
    {"GeoTiffTiled",
     [](const TNodes& n) {
       auto mem = MemRaster(n, TRows::kNorthFirst);
       test::SetGeographic(*mem);
       return CopyWith(*mem, "GTiff", "topography.tif", {"TILED=YES", "BLOCKXSIZE=16", "BLOCKYSIZE=16", "COMPRESS=DEFLATE"});
     }},
    {"NetcdfGmtGridline", [](const TNodes& n) { return test::WriteGmtNetcdf(n, "topography.nc"); }},
    {"NetcdfCf",
     [](const TNodes& n) {
       auto mem = MemRaster(n, TRows::kNorthFirst);
       test::SetGeographic(*mem);
       return CopyWith(*mem, "netCDF", "topography.nc");
     }},
    {"EsriAsciiGrid",
     [](const TNodes& n) {
       auto mem = MemRaster(n, TRows::kNorthFirst);
       return CopyWith(*mem, "AAIGrid", "topography.asc", {"SIGNIFICANT_DIGITS=9"});
     }},
};

class GdalRun : public GdalRunFolder, public testing::WithParamInterface<LayoutCase> {};

TEST_P(GdalRun, SameResultFileAsTheSurferGrid) {
  const std::string name = GetParam().write(NativeNodes("topography.grd"));
  WriteText("example.ini", Replaced(ReadText("example.ini"), "=topography.grd", "=" + name));
  ASSERT_EQ(Run("example.ini"), kBatchCompleted) << err_.str();
  EXPECT_EQ(ReadText("stations_example_dce.dat"),
            ReadText(fs::path(GLOBELAYERS_EXAMPLES_DIR) / "expected" / "stations_example_dce.dat"));
}

INSTANTIATE_TEST_SUITE_P(Layouts, GdalRun, testing::ValuesIn(kLayouts),
                         [](const auto& info) { return std::string(info.param.name); });

// The crust base as a named netCDF subdataset beside other variables, the
// topography as a GeoTIFF: the same run again.
TEST_F(GdalRunFolder, BothGridsThroughGdal) {
  const TNodes topography = NativeNodes("topography.grd");
  const TNodes crust = NativeNodes("crustbase.grd");
  GeoTiff(topography, "topography.tif", TRows::kNorthFirst, false);
  TNodes zero = crust;
  std::fill(zero.values.begin(), zero.values.end(), 0.0);
  test::WriteGmtNetcdf(crust, "model.nc", "z", &zero);
  std::string settings = Replaced(ReadText("example.ini"), "=topography.grd", "=topography.tif");
  settings = Replaced(settings, "=crustbase.grd", "=NETCDF:\"model.nc\":z");
  WriteText("example.ini", settings);
  ASSERT_EQ(Run("example.ini"), kBatchCompleted) << err_.str();
  EXPECT_EQ(ReadText("stations_example_dce.dat"),
            ReadText(fs::path(GLOBELAYERS_EXAMPLES_DIR) / "expected" / "stations_example_dce.dat"));
}

// A 0..360 netCDF grid and its -180..180 GeoTIFF twin hold the same nodes;
// segment centres come in -180..180, and a centre beside a grid that one
// turn brings onto it is read there. The example's stations, all round the
// globe, give one result file from either twin and from the Surfer grid.
TEST_F(GdalRunFolder, ZeroTo360TwinGivesTheSameResult) {
  const TNodes world = NativeNodes("topography.grd");  // -180 .. 180 by 1 degree
  ASSERT_EQ(world.xMin, -180);
  ASSERT_EQ(world.nx, 361);
  TNodes shifted = world;
  shifted.xMin = 0;
  for (int ix = 0; ix < 361; ++ix)
    for (int iy = 0; iy < world.ny; ++iy)
      shifted.values[std::size_t(ix) * world.ny + iy] = world.at(ix <= 180 ? ix + 180 : ix - 180, iy);
  test::WriteGmtNetcdf(shifted, "shifted.nc");
  GeoTiff(world, "world.tif", TRows::kNorthFirst, false);

  const std::string settings = ReadText("example.ini");
  const auto run = [&](const std::string& topography) {
    WriteText("twin.ini", Replaced(settings, "=topography.grd", "=" + topography));
    EXPECT_EQ(Run("twin.ini"), kBatchCompleted) << err_.str();
    return ReadText("stations_example_dce.dat");
  };
  const std::string surfer = run("topography.grd");
  EXPECT_EQ(surfer, ReadText(fs::path(GLOBELAYERS_EXAMPLES_DIR) / "expected" / "stations_example_dce.dat"));
  EXPECT_EQ(run("shifted.nc"), surfer);
  EXPECT_EQ(run("world.tif"), surfer);
}

// A raster that GDAL opens but refuses ends the run as a grid that is not
// there: the run fails before its first point and writes no result file.
TEST_F(GdalRunFolder, RefusedRasterEndsTheRunAsAMissingGrid) {
  const std::string settings = ReadText("example.ini");
  WriteText("missing.ini", Replaced(settings, "=topography.grd", "=nowhere.grd"));
  ASSERT_EQ(Run("missing.ini"), kBatchFailed);
  EXPECT_FALSE(fs::exists("stations_example_dce.dat"));

  TNodes n = NativeNodes("topography.grd");
  auto mem = MemRaster(n, TRows::kNorthFirst);
  double rotated[6] = {-180.5, 1, 0.001, 90.5, 0, -1};
  mem->SetGeoTransform(rotated);
  CopyWith(*mem, "GTiff", "rotated.tif");
  WriteText("rotated.ini", Replaced(settings, "=topography.grd", "=rotated.tif"));
  ASSERT_EQ(Run("rotated.ini"), kBatchFailed);
  // Said as the grid's load says it, reason and all (GdalGridTest holds the words).
  test::TRecordingPrompts<> quiet;
  TGridImports grid;
  const TGridLoad load = LoadGridFile(grid, "rotated.tif", quiet);
  EXPECT_EQ(load.fault, TGridFault::kGeometry);
  EXPECT_NE(load.reason.find("(terms 0.001 and 0)"), std::string::npos) << load.reason;
  EXPECT_EQ(err_.str(), GridFaultMessage(load.fault, "rotated.tif", load.reason) + "\n");
  EXPECT_FALSE(fs::exists("stations_example_dce.dat"));
}

}  // namespace
}  // namespace globelayers

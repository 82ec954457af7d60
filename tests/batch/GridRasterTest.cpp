// A run over a grid of points writes, beside its text file, a CF netCDF
// file and on request a GeoTIFF: read back through GDAL, they hold node by
// node the text file's numbers to its printed digits, on the grid's nodes
// in WGS 84.
#include <gdal_priv.h>
#include <gtest/gtest.h>
#include <ogr_spatialref.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "BatchRun.h"

namespace globelayers {
namespace {

namespace fs = std::filesystem;

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::vector<std::string>> Fields(const std::string& text) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    std::istringstream fields(line);
    rows.emplace_back(std::istream_iterator<std::string>(fields), std::istream_iterator<std::string>());
  }
  return rows;
}

// The example's stack on a 5 x 4 node grid, 5 degrees apart, 100 m above
// its topography.
constexpr char kPoints[] = "[points]\ngrid=-10;10;40;55;5\nheight=surface+100\n";

class GridRaster : public testing::Test {
 protected:
  void SetUp() override {
    GDALAllRegister();
    dir_ = fs::temp_directory_path() / ("globelayers-gridraster-" + std::to_string(::getpid()) + "-" +
                                        testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    previous_ = fs::current_path();
    fs::current_path(dir_);
    for (const char* file : {"example.ini", "topography.grd", "crustbase.grd"})
      fs::copy_file(fs::path(GLOBELAYERS_EXAMPLES_DIR) / file, dir_ / file);
  }
  void TearDown() override {
    fs::current_path(previous_);
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  int Run(const std::string& extraKeys, std::vector<std::string> args = {}) {
    std::ofstream(dir_ / "map.ini", std::ios::binary) << ReadText(dir_ / "example.ini") << kPoints << extraKeys;
    args.push_back("map.ini");
    std::ostringstream out;
    err_.str("");
    return RunBatch(args, out, err_, false);
  }
  fs::path dir_, previous_;
  std::ostringstream err_;
};

using TDataset = std::unique_ptr<GDALDataset>;
TDataset Open(const std::string& name) {
  return TDataset(GDALDataset::Open(name.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY));
}

// The quantities of the example's layout (two layers, a gradient) in the
// text file's column order after the point's four values.
const char* const kQuantities[] = {"DTE_layer1", "DTE_raised_layer1", "VGDRE_layer1",
                                   "DTE_layer2", "DTE_raised_layer2", "VGDRE_layer2",
                                   "DTE",        "DTE_raised",        "VGDRE"};

// The printed decimals of each of those columns (the layers' layout prints
// the summed gradient with five too).
const int kDecimals[] = {5, 5, 5, 5, 5, 5, 5, 5, 5};

TEST_F(GridRaster, NetCdfHoldsTheTextFileNodeByNode) {
  ASSERT_EQ(Run(""), kBatchCompleted) << err_.str();
  const auto lines = Fields(ReadText(dir_ / "map_example_dce.dat"));
  ASSERT_EQ(lines.size(), 1u + 20u);
  EXPECT_FALSE(fs::exists(dir_ / "map_example_dce.tif"));  // only on request
  for (std::size_t q = 0; q < std::size(kQuantities); ++q) {
    SCOPED_TRACE(kQuantities[q]);
    const TDataset nc = Open(std::string("NETCDF:\"map_example_dce.nc\":") + kQuantities[q]);
    ASSERT_TRUE(nc);
    ASSERT_EQ(nc->GetRasterXSize(), 5);
    ASSERT_EQ(nc->GetRasterYSize(), 4);
    // Pixel centres on the nodes: from -12.5 to 12.5 east, 57.5 to 37.5 north.
    double transform[6] = {};
    ASSERT_EQ(nc->GetGeoTransform(transform), CE_None);
    EXPECT_NEAR(transform[0], -12.5, 1e-9);
    EXPECT_NEAR(transform[1], 5, 1e-9);
    EXPECT_NEAR(transform[3], 57.5, 1e-9);
    EXPECT_NEAR(transform[5], -5, 1e-9);
    const OGRSpatialReference* srs = nc->GetSpatialRef();
    ASSERT_NE(srs, nullptr);
    OGRSpatialReference wgs84;
    wgs84.importFromEPSG(4326);
    EXPECT_TRUE(srs->IsSame(&wgs84, std::vector<const char*>{"IGNORE_DATA_AXIS_TO_SRS_AXIS_MAPPING=YES"}.data()));
    GDALRasterBand* band = nc->GetRasterBand(1);
    EXPECT_STREQ(band->GetUnitType(), q % 3 == 2 ? "mGal/m" : "mGal");
    std::vector<double> values(20);
    ASSERT_EQ(band->RasterIO(GF_Read, 0, 0, 5, 4, values.data(), 5, 4, GDT_Float64, 0, 0), CE_None);
    // Text lines run from the south-west corner, raster rows from the north.
    for (std::size_t node = 0; node < 20; ++node) {
      const std::vector<std::string>& line = lines[node + 1];
      const double lon = std::stod(line[0]), lat = std::stod(line[1]);
      const int column = static_cast<int>(std::lround((lon + 10) / 5));
      const int row = static_cast<int>(std::lround((55 - lat) / 5));
      char printed[64];
      std::snprintf(printed, sizeof printed, "%.*f", kDecimals[q], values[static_cast<std::size_t>(row * 5 + column)]);
      EXPECT_EQ(printed, line[4 + q]) << "node " << line[2];
    }
  }
  // The settings that made it, as global attributes.
  const TDataset nc = Open("map_example_dce.nc");
  ASSERT_TRUE(nc);
  EXPECT_STREQ(nc->GetMetadataItem("NC_GLOBAL#points_grid"), "-10;10;40;55;5");
  EXPECT_STREQ(nc->GetMetadataItem("NC_GLOBAL#Conventions"), "CF-1.8");
}

TEST_F(GridRaster, GeoTiffOnRequestHasABandPerQuantity) {
  for (const auto& [keys, args] : {std::pair{std::string("geotiff=1\n"), std::vector<std::string>{}},
                                   std::pair{std::string(""), std::vector<std::string>{"--geotiff"}}}) {
    SCOPED_TRACE(keys.empty() ? "flag" : "key");
    fs::remove(dir_ / "map_example_dce.tif");
    ASSERT_EQ(Run(keys, args), kBatchCompleted) << err_.str();
    const auto lines = Fields(ReadText(dir_ / "map_example_dce.dat"));
    const TDataset tif = Open("map_example_dce.tif");
    ASSERT_TRUE(tif);
    ASSERT_EQ(tif->GetRasterCount(), static_cast<int>(std::size(kQuantities)));
    double transform[6] = {};
    ASSERT_EQ(tif->GetGeoTransform(transform), CE_None);
    EXPECT_EQ(transform[0], -12.5);
    EXPECT_EQ(transform[3], 57.5);
    for (int q = 0; q < tif->GetRasterCount(); ++q) {
      GDALRasterBand* band = tif->GetRasterBand(q + 1);
      EXPECT_STREQ(band->GetDescription(), kQuantities[q]);
      double southWest = 0;  // node 1: last row, first column
      ASSERT_EQ(band->RasterIO(GF_Read, 0, 3, 1, 1, &southWest, 1, 1, GDT_Float64, 0, 0), CE_None);
      char printed[64];
      std::snprintf(printed, sizeof printed, "%.*f", kDecimals[q], southWest);
      EXPECT_EQ(printed, lines[1][4 + static_cast<std::size_t>(q)]);
    }
  }
}

// --geotiff without a grid of points has nothing to write.
TEST_F(GridRaster, GeoTiffFlagWithoutAGridIsRefused) {
  std::ostringstream out;
  err_.str("");
  fs::copy_file(fs::path(GLOBELAYERS_EXAMPLES_DIR) / "stations.dat", dir_ / "stations.dat");
  EXPECT_EQ(RunBatch({"--geotiff", "example.ini"}, out, err_, false), kBatchFailed);
  EXPECT_NE(err_.str().find("--geotiff needs a grid of points"), std::string::npos) << err_.str();
  EXPECT_FALSE(fs::exists(dir_ / "stations_example_dce.dat"));
}

}  // namespace
}  // namespace globelayers

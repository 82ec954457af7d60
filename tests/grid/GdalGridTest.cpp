// Rasters read through GDAL: every fixture is written here by GDAL's own
// drivers. The nodes must come out exactly where the writer put them,
// whatever the format's registration and row order; values follow the
// band's NoData, scale and offset; every unusable raster is refused with
// its reason before anything is allocated.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "../engine/GermanLocale.h"
#include "GdalFixtures.h"
#include "GridImports.h"
#include "RecordingPrompts.h"

namespace globelayers {
namespace {

using test::CopyWith;
using test::MemRaster;
using test::TNodes;
using test::TRows;

namespace fs = std::filesystem;

class TTempFolder {
 public:
  TTempFolder() {
    static int counter = 0;
    path_ = fs::temp_directory_path() / ("gl_gdal_" + std::to_string(::getpid()) + "_" + std::to_string(counter++));
    fs::create_directories(path_);
  }
  ~TTempFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  fs::path path_;
};

// 4 x 3 nodes from (10.25, 40.25) by 0.5 degrees; every value distinct and
// exact as a float, the south-west node first.
TNodes SmallNodes() {
  TNodes n{.nx = 4, .ny = 3, .xMin = 10.25, .xStep = 0.5, .yMin = 40.25, .yStep = 0.5, .values = {}};
  n.values.resize(12);
  for (int ix = 0; ix < 4; ++ix)
    for (int iy = 0; iy < 3; ++iy) n.values[std::size_t(ix) * 3 + iy] = 100 * iy + ix + 0.25;
  return n;
}

struct GeometryCase {
  const char* name;
  std::function<std::string(const TNodes&, const std::string& folder)> write;
};

std::string GeoTiff(const TNodes& n, const std::string& path, TRows rows, bool point) {
  auto mem = MemRaster(n, rows);
  test::SetGeographic(*mem);
  if (point) mem->SetMetadataItem("AREA_OR_POINT", "Point");
  return CopyWith(*mem, "GTiff", path);
}

const GeometryCase kGeometry[] = {
    {"GeoTiffNorthUp", [](const TNodes& n, const std::string& d) { return GeoTiff(n, d + "/n.tif", TRows::kNorthFirst, false); }},
    {"GeoTiffSouthUp", [](const TNodes& n, const std::string& d) { return GeoTiff(n, d + "/s.tif", TRows::kSouthFirst, false); }},
    {"GeoTiffPixelIsPoint", [](const TNodes& n, const std::string& d) { return GeoTiff(n, d + "/p.tif", TRows::kNorthFirst, true); }},
    {"NetcdfGmtGridline", [](const TNodes& n, const std::string& d) { return test::WriteGmtNetcdf(n, d + "/gmt.nc"); }},
    {"NetcdfCf",
     [](const TNodes& n, const std::string& d) {
       auto mem = MemRaster(n, TRows::kNorthFirst);
       test::SetGeographic(*mem);
       return CopyWith(*mem, "netCDF", d + "/cf.nc");
     }},
    {"EsriAsciiGrid",
     [](const TNodes& n, const std::string& d) {
       auto mem = MemRaster(n, TRows::kNorthFirst);
       return CopyWith(*mem, "AAIGrid", d + "/g.asc", {"SIGNIFICANT_DIGITS=9"});
     }},
    {"ErdasImagine",
     [](const TNodes& n, const std::string& d) {
       auto mem = MemRaster(n, TRows::kNorthFirst);
       test::SetGeographic(*mem);
       return CopyWith(*mem, "HFA", d + "/g.img");
     }},
};

class GdalGeometry : public testing::TestWithParam<GeometryCase> {};

// The loaded grid holds the written nodes, south row first, at exactly the
// written positions.
TEST_P(GdalGeometry, NodesWhereTheWriterPutThem) {
  TTempFolder folder;
  const TNodes n = SmallNodes();
  const std::string path = GetParam().write(n, folder.File(""));
  test::TRecordingPrompts<> prompts;
  TGridImports grid;
  ASSERT_TRUE(LoadGrid(grid, path, prompts)) << testing::PrintToString(prompts.messages);
  EXPECT_TRUE(prompts.messages.empty());
  EXPECT_EQ(grid.fileFormat, kGdalRasterFormat);
  EXPECT_TRUE(grid.loaded());
  ASSERT_EQ(grid.nx, 4);
  ASSERT_EQ(grid.ny, 3);
  EXPECT_EQ(grid.xMin, 10.25);
  EXPECT_EQ(grid.xStep, 0.5);
  EXPECT_EQ(grid.yMin, 40.25);
  EXPECT_EQ(grid.yStep, 0.5);
  EXPECT_EQ(grid.xMax, 11.75);
  EXPECT_EQ(grid.yMax, 41.25);
  for (int ix = 0; ix < 4; ++ix)
    for (int iy = 0; iy < 3; ++iy) EXPECT_EQ(grid.at(ix, iy), float(n.at(ix, iy))) << ix << "," << iy;
  EXPECT_EQ(grid.zMin, 0.25);
  EXPECT_EQ(grid.zMax, 203.25);
  EXPECT_EQ(grid.blankCount, 0);
}

INSTANTIATE_TEST_SUITE_P(Formats, GdalGeometry, testing::ValuesIn(kGeometry),
                         [](const auto& info) { return std::string(info.param.name); });

// A netCDF file that holds two variables opens as neither; GDAL's
// subdataset name picks one.
TEST(GdalSubdataset, NamedVariableIsRead) {
  TTempFolder folder;
  const TNodes z = SmallNodes();
  TNodes w = z;
  for (double& v : w.values) v = -v;
  const std::string path = test::WriteGmtNetcdf(z, folder.File("two.nc"), "z", &w);

  test::TRecordingPrompts<> prompts;
  TGridImports plain;
  EXPECT_FALSE(LoadGrid(plain, path, prompts));
  ASSERT_EQ(prompts.messages.size(), 1u);
  EXPECT_EQ(prompts.messages[0], "\nError by reading grid " + path +
                                     "\nit holds 2 rasters and none by itself; name one as the layer's grid, "
                                     "such as NETCDF:\"" + path + "\":z or NETCDF:\"" + path + "\":w");
  EXPECT_TRUE(plain.values.empty());

  prompts.messages.clear();
  TGridImports grid;
  ASSERT_TRUE(LoadGrid(grid, "NETCDF:\"" + path + "\":w", prompts)) << testing::PrintToString(prompts.messages);
  EXPECT_TRUE(prompts.messages.empty());
  EXPECT_EQ(grid.at(3, 2), -203.25f);
  EXPECT_EQ(grid.at(0, 0), -0.25f);

  // A subdataset of a file that is not there: the native readers' three
  // opening messages, as for any missing grid.
  const std::string missing = "NETCDF:\"" + folder.File("none.nc") + "\":w";
  prompts.messages.clear();
  EXPECT_FALSE(LoadGrid(grid, missing, prompts));
  EXPECT_EQ(prompts.messages, std::vector<std::string>{"Error by opening file " + missing + "\n"});
}

// Raw band values to stored values: NoData before scale and offset, then the
// scaled value narrowed to float; a NaN is a blank in any float band.
struct ValueCase {
  const char* name;
  GDALDataType type;
  std::vector<double> raw;  // row-major from the north: 2 x 2
  bool hasNoData;
  double noData, scale, offset;
  std::vector<float> stored;  // same order
  int blanks;
};

constexpr float kB = kBlankMarker;
const ValueCase kValues[] = {
    {"Byte", GDT_Byte, {0, 7, 255, 9}, true, 9, 1, 0, {0, 7, 255, kB}, 1},
    {"Int16ScaledWithNoData", GDT_Int16, {-32768, -2, 1000, 3}, true, -32768, 0.5, 100, {kB, 99, 600, 101.5f}, 1},
    {"UInt16", GDT_UInt16, {65535, 0, 1, 2}, false, 0, 1, 0, {65535, 0, 1, 2}, 0},
    {"Int32Narrowed", GDT_Int32, {16777217, -5, 2147483647, 0}, true, 0, 1, 0, {16777216, -5, 2147483648.0f, kB}, 1},
    {"Float32NoDataAsFloat", GDT_Float32, {-3.4028234663852886e38, 1.5, NAN, 2.5}, true, -3.4028234663852886e38, 1, 0,
     {kB, 1.5f, kB, 2.5f}, 2},
    {"Float64BeyondFloat", GDT_Float64, {1e300, -9999, 0.1, 1.70141e38}, true, -9999, 1, 0,
     {kB, kB, 0.1f, 1.70141e38f}, 3},
};

class GdalValues : public testing::TestWithParam<ValueCase> {};

TEST_P(GdalValues, StoredAsTheNativeReadersStoreThem) {
  const ValueCase& c = GetParam();
  TTempFolder folder;
  TNodes n{.nx = 2, .ny = 2, .xMin = 0, .xStep = 1, .yMin = 0, .yStep = 1, .values = {}};
  // Column-major south first from the row-major north-first raw values.
  n.values = {c.raw[2], c.raw[0], c.raw[3], c.raw[1]};
  auto mem = MemRaster(n, TRows::kNorthFirst, c.type);
  GDALRasterBand* band = mem->GetRasterBand(1);
  if (c.hasNoData) band->SetNoDataValue(c.noData);
  if (c.scale != 1) band->SetScale(c.scale);
  if (c.offset != 0) band->SetOffset(c.offset);
  const std::string path = CopyWith(*mem, "GTiff", folder.File("v.tif"));

  test::TRecordingPrompts<> prompts;
  TGridImports grid;
  ASSERT_TRUE(LoadGrid(grid, path, prompts)) << testing::PrintToString(prompts.messages);
  const float stored[4] = {grid.at(0, 1), grid.at(1, 1), grid.at(0, 0), grid.at(1, 0)};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(stored[i], c.stored[i]) << "value " << i;
  EXPECT_EQ(grid.blankCount, c.blanks);
  EXPECT_EQ(grid.blankValue, 1.70141e38);
}

INSTANTIATE_TEST_SUITE_P(Types, GdalValues, testing::ValuesIn(kValues),
                         [](const auto& info) { return std::string(info.param.name); });

// Each unusable raster: the reading message, the reason on the next line,
// nothing allocated, the caller's grid left empty.
struct RefusalCase {
  const char* name;
  std::function<std::string(const std::string& folder)> write;
  std::string reason;  // the message's second line; a prefix when `prefixOnly`
  bool prefixOnly = false;
};

// A raster of nx x ny nodes with the geotransform `gt`: a GeoTIFF, or a VRT
// (created by its driver, without sources: it reads as zeros) for the
// geotransforms that the GeoTIFF writer would not store as they are.
std::string WithGeoTransform(const std::string& path, const char* driver, std::vector<double> gt,
                             int nx = 3, int ny = 3) {
  test::RegisterGdal();
  if (std::string(driver) == "VRT") {
    GDALDriver* vrt = GetGDALDriverManager()->GetDriverByName("VRT");
    test::TDataset ds(vrt->Create(path.c_str(), nx, ny, 1, GDT_Float32, nullptr));
    ds->SetGeoTransform(gt.data());
    return path;
  }
  TNodes n{.nx = nx, .ny = ny, .xMin = 0, .xStep = 1, .yMin = 0, .yStep = 1, .values = {}};
  n.values.assign(std::size_t(nx) * ny, 1.0);
  auto mem = MemRaster(n, TRows::kNorthFirst);
  mem->SetGeoTransform(gt.data());
  return CopyWith(*mem, driver, path);
}

const RefusalCase kRefusals[] = {
    {"Rotated", [](const std::string& d) { return WithGeoTransform(d + "/r.tif", "GTiff", {0, 1, 0.25, 3, 0, -1}); },
     "its geotransform is rotated or sheared (terms 0.25 and 0); only north-up and south-up grids are read"},
    {"Sheared", [](const std::string& d) { return WithGeoTransform(d + "/s.vrt", "VRT", {0, 1, 0, 3, -0.5, -1}); },
     "its geotransform is rotated or sheared (terms 0 and -0.5); only north-up and south-up grids are read"},
    {"ZeroSpacing", [](const std::string& d) { return WithGeoTransform(d + "/z.vrt", "VRT", {0, 0, 0, 3, 0, -1}); },
     "its node spacing is zero (0 by 1 degrees)"},
    {"NotFinite",
     [](const std::string& d) { return WithGeoTransform(d + "/f.vrt", "VRT", {0, INFINITY, 0, 3, 0, -1}); },
     "its geotransform holds a number that is not finite (0, inf, 3, -1)"},
    {"OneColumn", [](const std::string& d) { return WithGeoTransform(d + "/c.tif", "GTiff", {0, 1, 0, 3, 0, -1}, 1, 5); },
     "it has 1 x 5 nodes; a grid needs at least 2 each way"},
    {"OneRow", [](const std::string& d) { return WithGeoTransform(d + "/w.tif", "GTiff", {0, 1, 0, 3, 0, -1}, 5, 1); },
     "it has 5 x 1 nodes; a grid needs at least 2 each way"},
    {"NoGeotransform",
     [](const std::string& d) {
       GDALDriver* tif = GetGDALDriverManager()->GetDriverByName("GTiff");
       test::TDataset ds(tif->Create((d + "/plain.tif").c_str(), 3, 3, 1, GDT_Float32, nullptr));
       return d + "/plain.tif";
     },
     "it has no geotransform, so nothing places its nodes on the globe"},
    {"Projected",
     [](const std::string& d) {
       TNodes n{.nx = 3, .ny = 3, .xMin = 500000, .xStep = 1000, .yMin = 5e6, .yStep = 1000, .values = {}};
       n.values.assign(9, 1.0);
       auto mem = MemRaster(n, TRows::kNorthFirst);
       OGRSpatialReference utm;
       utm.importFromEPSG(32632);
       mem->SetSpatialRef(&utm);
       return CopyWith(*mem, "GTiff", d + "/utm.tif");
     },
     "it is in the projected coordinate system \"WGS 84 / UTM zone 32N\"; a grid must be in longitude and "
     "latitude degrees"},
    {"ComplexValues",
     [](const std::string& d) {
       test::RegisterGdal();
       GDALDriver* tif = GetGDALDriverManager()->GetDriverByName("GTiff");
       test::TDataset ds(tif->Create((d + "/c.tif").c_str(), 3, 3, 1, GDT_CFloat32, nullptr));
       double gt[6] = {0, 1, 0, 3, 0, -1};
       ds->SetGeoTransform(gt);
       return d + "/c.tif";
     },
     "its values are of the type CFloat32; Byte, Int16, UInt16, Int32, UInt32, Float32 and Float64 are read"},
    {"TooLargeForMemory",
     [](const std::string& d) {
       test::RegisterGdal();
       GDALDriver* vrt = GetGDALDriverManager()->GetDriverByName("VRT");
       test::TDataset ds(vrt->Create((d + "/huge.vrt").c_str(), 2000000000, 2000000000, 1, GDT_Float32, nullptr));
       double gt[6] = {-180, 1e-7, 0, 90, 0, -1e-7};
       ds->SetGeoTransform(gt);
       return d + "/huge.vrt";
     },
     "its 2000000000 x 2000000000 nodes need 14901161193.8 GiB of memory, more than this computer's ", true},
};

class GdalRefusal : public testing::TestWithParam<RefusalCase> {};

TEST_P(GdalRefusal, NamesFileAndReason) {
  test::RegisterGdal();
  TTempFolder folder;
  const std::string path = GetParam().write(folder.File(""));
  test::TRecordingPrompts<> prompts;
  TGridImports grid;
  EXPECT_FALSE(LoadGrid(grid, path, prompts));
  ASSERT_EQ(prompts.messages.size(), 1u) << testing::PrintToString(prompts.messages);
  const std::string expected = "\nError by reading grid " + path + "\n" + GetParam().reason;
  if (GetParam().prefixOnly)
    EXPECT_EQ(prompts.messages[0].substr(0, expected.size()), expected);
  else
    EXPECT_EQ(prompts.messages[0], expected);
  EXPECT_EQ(grid.fileFormat, 3);
  EXPECT_FALSE(grid.loaded());
  EXPECT_TRUE(grid.values.empty());
  EXPECT_EQ(grid.values.capacity(), 0u);
  EXPECT_EQ(grid.nx, 0);
}

INSTANTIATE_TEST_SUITE_P(Unusable, GdalRefusal, testing::ValuesIn(kRefusals),
                         [](const auto& info) { return std::string(info.param.name); });

// A file that neither the native readers nor GDAL open keeps the one
// reading message of a grid of no known format.
TEST(GdalUnknown, TextFileKeepsTheReadingMessageAlone) {
  TTempFolder folder;
  const std::string path = folder.File("notes.grd");
  std::ofstream(path) << "not a grid at all\n";
  test::TRecordingPrompts<> prompts;
  TGridImports grid;
  EXPECT_FALSE(LoadGrid(grid, path, prompts));
  EXPECT_EQ(prompts.messages, std::vector<std::string>{"\nError by reading grid " + path});
  EXPECT_EQ(grid.fileFormat, 3);
}

// Counts beyond the native 16-bit limit: a raster of 40000 x 2 nodes, the
// last column's node at its own value.
TEST(GdalCounts, BeyondSixteenBits) {
  TTempFolder folder;
  TNodes n{.nx = 40000, .ny = 2, .xMin = -180, .xStep = 0.009, .yMin = 0, .yStep = 1, .values = {}};
  n.values.resize(80000);
  for (int ix = 0; ix < n.nx; ++ix) n.values[std::size_t(ix) * 2] = ix, n.values[std::size_t(ix) * 2 + 1] = -ix;
  auto mem = MemRaster(n, TRows::kNorthFirst);
  const std::string path = CopyWith(*mem, "GTiff", folder.File("wide.tif"), {"TILED=YES"});
  test::TRecordingPrompts<> prompts;
  TGridImports grid;
  ASSERT_TRUE(LoadGrid(grid, path, prompts));
  ASSERT_EQ(grid.nx, 40000);
  EXPECT_EQ(grid.at(39999, 0), 39999.0f);
  EXPECT_EQ(grid.at(39999, 1), -39999.0f);
  EXPECT_EQ(grid.at(32768, 1), -32768.0f);
}

// The window runs under the user's locale: a decimal comma must change
// neither the text grid's values nor the numbers of a refusal.
TEST(GdalLocale, DecimalCommaChangesNothing) {
  TTempFolder folder;
  const TNodes n = SmallNodes();
  const std::string text = kGeometry[5].write(n, folder.File(""));  // ESRI ASCII grid
  const std::string rotated =
      WithGeoTransform(folder.File("r.tif"), "GTiff", {0, 1, 0.25, 3, 0, -1});
  test::TGermanLocale german;
  if (!german.active()) GTEST_SKIP() << "de_DE.UTF-8 is not installed (scripts/setup.sh makes it)";
  test::TRecordingPrompts<> prompts;
  TGridImports grid;
  ASSERT_TRUE(LoadGrid(grid, text, prompts)) << testing::PrintToString(prompts.messages);
  EXPECT_EQ(grid.xMin, 10.25);
  EXPECT_EQ(grid.at(2, 1), 102.25f);
  EXPECT_FALSE(LoadGrid(grid, rotated, prompts));
  ASSERT_EQ(prompts.messages.size(), 1u);
  EXPECT_NE(prompts.messages[0].find("(terms 0.25 and 0)"), std::string::npos) << prompts.messages[0];
}

}  // namespace
}  // namespace globelayers

// Rasters read through GDAL: every fixture is written here by GDAL's own
// drivers. The nodes must come out exactly where the writer put them,
// whatever the format's registration and row order; values follow the
// band's NoData, scale and offset; every unusable raster is refused with
// its reason before anything is allocated.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <thread>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "../engine/GermanLocale.h"
#include "GdalFence.h"
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
  EXPECT_EQ(grid.fileFormat, TGridFormat::kGdalRaster);
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
  const TGridLoad outcome = LoadGridFile(plain, path, prompts);
  EXPECT_EQ(outcome.fault, TGridFault::kNoSingleRaster);
  EXPECT_EQ(outcome.reason, "it holds 2 rasters and none by itself; name one as the layer's grid, "
                            "such as NETCDF:\"" + path + "\":z or NETCDF:\"" + path + "\":w");
  EXPECT_EQ(prompts.messages, std::vector<std::string>{GridFaultMessage(outcome.fault, path, outcome.reason)});
  EXPECT_TRUE(plain.values.empty());

  prompts.messages.clear();
  TGridImports grid;
  ASSERT_TRUE(LoadGrid(grid, "NETCDF:\"" + path + "\":w", prompts)) << testing::PrintToString(prompts.messages);
  EXPECT_TRUE(prompts.messages.empty());
  EXPECT_EQ(grid.at(3, 2), -203.25f);
  EXPECT_EQ(grid.at(0, 0), -0.25f);

  // A subdataset of a file that is not there: the opening message, as for
  // any missing grid.
  const std::string missing = "NETCDF:\"" + folder.File("none.nc") + "\":w";
  prompts.messages.clear();
  EXPECT_EQ(LoadGridFile(grid, missing, prompts).fault, TGridFault::kNotOpened);
  EXPECT_EQ(prompts.messages, std::vector<std::string>{GridFaultMessage(TGridFault::kNotOpened, missing)});
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
  TGridFault fault;
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
    {"Rotated", TGridFault::kGeometry, [](const std::string& d) { return WithGeoTransform(d + "/r.tif", "GTiff", {0, 1, 0.25, 3, 0, -1}); },
     "its geotransform is rotated or sheared (terms 0.25 and 0); only north-up and south-up grids are read"},
    {"Sheared", TGridFault::kGeometry, [](const std::string& d) { return WithGeoTransform(d + "/s.vrt", "VRT", {0, 1, 0, 3, -0.5, -1}); },
     "its geotransform is rotated or sheared (terms 0 and -0.5); only north-up and south-up grids are read"},
    {"ZeroSpacing", TGridFault::kGeometry, [](const std::string& d) { return WithGeoTransform(d + "/z.vrt", "VRT", {0, 0, 0, 3, 0, -1}); },
     "its node spacing is zero (0 by 1 degrees)"},
    {"NotFinite", TGridFault::kGeometry,
     [](const std::string& d) { return WithGeoTransform(d + "/f.vrt", "VRT", {0, INFINITY, 0, 3, 0, -1}); },
     "its geotransform holds a number that is not finite (0, inf, 3, -1)"},
    {"OneColumn", TGridFault::kGeometry, [](const std::string& d) { return WithGeoTransform(d + "/c.tif", "GTiff", {0, 1, 0, 3, 0, -1}, 1, 5); },
     "it has 1 x 5 nodes; a grid needs at least 2 each way"},
    {"OneRow", TGridFault::kGeometry, [](const std::string& d) { return WithGeoTransform(d + "/w.tif", "GTiff", {0, 1, 0, 3, 0, -1}, 5, 1); },
     "it has 5 x 1 nodes; a grid needs at least 2 each way"},
    {"NoGeotransform", TGridFault::kGeometry,
     [](const std::string& d) {
       GDALDriver* tif = GetGDALDriverManager()->GetDriverByName("GTiff");
       test::TDataset ds(tif->Create((d + "/plain.tif").c_str(), 3, 3, 1, GDT_Float32, nullptr));
       return d + "/plain.tif";
     },
     "it has no geotransform, so nothing places its nodes on the globe"},
    {"Projected", TGridFault::kNotDegrees,
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
    {"ComplexValues", TGridFault::kValueType,
     [](const std::string& d) {
       test::RegisterGdal();
       GDALDriver* tif = GetGDALDriverManager()->GetDriverByName("GTiff");
       test::TDataset ds(tif->Create((d + "/c.tif").c_str(), 3, 3, 1, GDT_CFloat32, nullptr));
       double gt[6] = {0, 1, 0, 3, 0, -1};
       ds->SetGeoTransform(gt);
       return d + "/c.tif";
     },
     "its values are of the type CFloat32; Byte, Int16, UInt16, Int32, UInt32, Float32 and Float64 are read"},
    {"TooLargeForMemory", TGridFault::kTooLarge,
     [](const std::string& d) {
       test::RegisterGdal();
       GDALDriver* vrt = GetGDALDriverManager()->GetDriverByName("VRT");
       test::TDataset ds(vrt->Create((d + "/huge.vrt").c_str(), 2000000000, 2000000000, 1, GDT_Float32, nullptr));
       double gt[6] = {-180, 1e-7, 0, 90, 0, -1e-7};
       ds->SetGeoTransform(gt);
       return d + "/huge.vrt";
     },
     "its 2000000000 x 2000000000 nodes need 14901161193.8 GiB of memory, more than the ", true},
};

class GdalRefusal : public testing::TestWithParam<RefusalCase> {};

TEST_P(GdalRefusal, NamesFileAndReason) {
  test::RegisterGdal();
  TTempFolder folder;
  const std::string path = GetParam().write(folder.File(""));
  test::TRecordingPrompts<> prompts;
  TGridImports grid;
  const TGridLoad outcome = LoadGridFile(grid, path, prompts);
  EXPECT_EQ(outcome.fault, GetParam().fault);
  if (GetParam().prefixOnly)
    EXPECT_EQ(outcome.reason.substr(0, GetParam().reason.size()), GetParam().reason);
  else
    EXPECT_EQ(outcome.reason, GetParam().reason);
  // Said once, the reason on a line of its own.
  EXPECT_EQ(prompts.messages, std::vector<std::string>{GridFaultMessage(outcome.fault, path, outcome.reason)});
  EXPECT_EQ(grid.fileFormat, TGridFormat::kNone);
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
  EXPECT_EQ(LoadGridFile(grid, path, prompts).fault, TGridFault::kUnknownFormat);
  EXPECT_EQ(prompts.messages, std::vector<std::string>{GridFaultMessage(TGridFault::kUnknownFormat, path)});
  EXPECT_EQ(grid.fileFormat, TGridFormat::kNone);
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

// A window of a raster read through GDAL: rounded out to whole blocks of
// a tiled band (rows only for strips), every node the file's own, placed
// by the file's first node.
struct GdalWindowCase {
  const char* name;
  TRows rows;
  std::vector<std::string> options;  // GTiff creation options
  TNodeWindow asked, read;
};
void PrintTo(const GdalWindowCase& c, std::ostream* os) { *os << c.name; }

class GdalWindow : public testing::TestWithParam<GdalWindowCase> {};

TEST_P(GdalWindow, HoldsWholeBlocksOfTheFilesNodes) {
  const GdalWindowCase& c = GetParam();
  TTempFolder folder;
  TNodes n{.nx = 40, .ny = 30, .xMin = -20.125, .xStep = 0.25, .yMin = 30.125, .yStep = 0.25, .values = {}};
  n.values.resize(std::size_t(n.nx) * n.ny);
  for (int ix = 0; ix < n.nx; ++ix)
    for (int iy = 0; iy < n.ny; ++iy) n.values[std::size_t(ix) * n.ny + iy] = 1000 * iy + ix + 0.5;
  auto mem = MemRaster(n, c.rows);
  test::SetGeographic(*mem);
  const std::string path = CopyWith(*mem, "GTiff", folder.File("w.tif"), c.options);
  test::TRecordingPrompts<> prompts;
  TGridImports whole, part;
  ASSERT_TRUE(LoadGrid(whole, path, prompts));
  const TWindowChooser choose = [&c](const TGridImports&) { return c.asked; };
  ASSERT_EQ(LoadGridWindow(part, path, prompts, choose).fault, TGridFault::kNone);
  EXPECT_TRUE(prompts.messages.empty());
  ASSERT_TRUE(part.windowed());
  EXPECT_EQ(part.column0, c.read.column0);
  EXPECT_EQ(part.nx, c.read.columns);
  EXPECT_EQ(part.row0, c.read.row0);
  EXPECT_EQ(part.ny, c.read.rows);
  EXPECT_EQ(part.fileXMin, whole.xMin);
  EXPECT_EQ(part.fileYMin, whole.yMin);
  EXPECT_EQ(part.fileNx, 40);
  EXPECT_EQ(part.fileNy, 30);
  EXPECT_EQ(part.xMin, whole.xMin + part.column0 * whole.xStep);
  EXPECT_EQ(part.yMin, whole.yMin + part.row0 * whole.yStep);
  for (int ix = 0; ix < part.nx; ++ix)
    for (int iy = 0; iy < part.ny; ++iy)
      ASSERT_EQ(part.at(ix, iy), float(n.at(ix + part.column0, iy + part.row0))) << ix << "," << iy;
}

// Grid rows 3 .. 6 are GDAL rows 23 .. 26 of a north-up raster of 30 rows:
// blocks of 16 round them out to GDAL rows 16 .. 29, grid rows 0 .. 13.
const GdalWindowCase kGdalWindows[] = {
    {"TiledNorthUp", TRows::kNorthFirst, {"TILED=YES", "BLOCKXSIZE=16", "BLOCKYSIZE=16"}, {17, 5, 3, 4}, {16, 16, 0, 14}},
    {"TiledSouthUp", TRows::kSouthFirst, {"TILED=YES", "BLOCKXSIZE=16", "BLOCKYSIZE=16"}, {17, 5, 3, 4}, {16, 16, 0, 16}},
    {"StripsOfFourRows", TRows::kNorthFirst, {"BLOCKYSIZE=4"}, {17, 5, 3, 4}, {17, 5, 2, 8}},
    {"StripsOfOneRow", TRows::kSouthFirst, {"BLOCKYSIZE=1"}, {0, 3, 27, 3}, {0, 3, 27, 3}},
};

INSTANTIATE_TEST_SUITE_P(Gdal, GdalWindow, testing::ValuesIn(kGdalWindows),
                         [](const auto& info) { return std::string(info.param.name); });

// A tiled GeoTIFF is read a row of tiles at a time in stripes of whole
// tiles (a few megabytes each: 512 x 512 tiles make two stripes of
// 2600 columns as floats, three as doubles). Every node, blank count and
// value range must be the file's, read whole or in a window across the
// stripes.
struct GdalTileCase {
  const char* name;
  GDALDataType type;
  double fraction;  // added to every value: 0 for Int16, 0.5 for Float64
};
void PrintTo(const GdalTileCase& c, std::ostream* os) { *os << c.name; }

class GdalTiles : public testing::TestWithParam<GdalTileCase> {};

TEST_P(GdalTiles, StripesOfWholeTilesHoldTheFilesNodes) {
  const GdalTileCase& c = GetParam();
  TTempFolder folder;
  constexpr double kNoData = -32768;
  TNodes n{.nx = 2600, .ny = 700, .xMin = -10.0125, .xStep = 0.025, .yMin = 30.0125, .yStep = 0.025, .values = {}};
  n.values.resize(std::size_t(n.nx) * n.ny);
  std::int32_t blanks = 0;
  double zMin = 1e9, zMax = -1e9;
  for (int ix = 0; ix < n.nx; ++ix) {
    for (int iy = 0; iy < n.ny; ++iy) {
      double v = (ix * 7 + iy * 13) % 30000 - 15000 + c.fraction;
      if ((ix * 31 + iy * 17) % 997 == 0) {
        v = kNoData;
        ++blanks;
      } else {
        zMin = std::min(zMin, v);
        zMax = std::max(zMax, v);
      }
      n.values[std::size_t(ix) * n.ny + iy] = v;
    }
  }
  auto mem = MemRaster(n, TRows::kNorthFirst, c.type);
  mem->GetRasterBand(1)->SetNoDataValue(kNoData);
  test::SetGeographic(*mem);
  const std::string path = CopyWith(*mem, "GTiff", folder.File("t.tif"),
                                    {"TILED=YES", "BLOCKXSIZE=512", "BLOCKYSIZE=512", "COMPRESS=DEFLATE"});
  const auto expected = [&n](int ix, int iy) {
    const double v = n.at(ix, iy);
    return v == kNoData ? kBlankMarker : float(v);
  };
  test::TRecordingPrompts<> prompts;
  TGridImports whole, part;
  ASSERT_TRUE(LoadGrid(whole, path, prompts));
  ASSERT_EQ(whole.nx, n.nx);
  ASSERT_EQ(whole.ny, n.ny);
  EXPECT_EQ(whole.blankCount, blanks);
  EXPECT_EQ(whole.zMin, zMin);
  EXPECT_EQ(whole.zMax, zMax);
  for (int ix = 0; ix < n.nx; ++ix)
    for (int iy = 0; iy < n.ny; ++iy) ASSERT_EQ(whole.at(ix, iy), expected(ix, iy)) << ix << "," << iy;

  // Columns 600 .. 2570, rows 100 .. 649: tiles from column 512 and GDAL
  // row 0 (the north-up raster's rows 50 .. 599) out to the file's edges,
  // two stripes as floats and as doubles.
  const TWindowChooser choose = [](const TGridImports&) { return TNodeWindow{600, 1971, 100, 550}; };
  ASSERT_EQ(LoadGridWindow(part, path, prompts, choose).fault, TGridFault::kNone);
  EXPECT_TRUE(prompts.messages.empty());
  ASSERT_TRUE(part.windowed());
  EXPECT_EQ(part.column0, 512);
  EXPECT_EQ(part.nx, 2088);
  EXPECT_EQ(part.row0, 0);
  EXPECT_EQ(part.ny, 700);
  for (int ix = 0; ix < part.nx; ++ix)
    for (int iy = 0; iy < part.ny; ++iy)
      ASSERT_EQ(part.at(ix, iy), expected(ix + part.column0, iy + part.row0)) << ix << "," << iy;
}

const GdalTileCase kTiles[] = {
    {"Int16ReadAsFloat", GDT_Int16, 0},
    {"Float64ReadAsDouble", GDT_Float64, 0.5},
};

INSTANTIATE_TEST_SUITE_P(Gdal, GdalTiles, testing::ValuesIn(kTiles),
                         [](const auto& info) { return std::string(info.param.name); });

// Overviews that GDAL builds (as `gdaladdo -r average` does) are listed
// with the geometry of their pixel centres and read in place of the grid:
// each node the plain mean of the block of nodes that it covers.
TEST(GdalOverviews, ListedAndReadAsBlockMeansOfTheFile) {
  TTempFolder folder;
  // 64 x 32 nodes of 0.5 degrees from (0.25, 0.25): pixels from (0, 0).
  TNodes n{.nx = 64, .ny = 32, .xMin = 0.25, .xStep = 0.5, .yMin = 0.25, .yStep = 0.5, .values = {}};
  n.values.resize(std::size_t(n.nx) * n.ny);
  for (int ix = 0; ix < n.nx; ++ix)
    for (int iy = 0; iy < n.ny; ++iy) n.values[std::size_t(ix) * n.ny + iy] = ix + 100 * iy;
  auto mem = MemRaster(n, TRows::kNorthFirst);
  test::SetGeographic(*mem);
  const std::string plain = CopyWith(*mem, "GTiff", folder.File("plain.tif"));
  const std::string path = CopyWith(*mem, "GTiff", folder.File("ov.tif"));
  {
    test::TDataset update(GDALDataset::Open(path.c_str(), GDAL_OF_RASTER | GDAL_OF_UPDATE));
    ASSERT_TRUE(update);
    int factors[] = {2, 4};
    ASSERT_EQ(update->BuildOverviews("AVERAGE", 2, factors, 0, nullptr, nullptr, nullptr), CE_None);
  }
  EXPECT_TRUE(GridOverviews(plain).empty());
  const std::vector<TGridImports> overviews = GridOverviews(path);
  ASSERT_EQ(overviews.size(), 2u);
  struct Expected {
    int nx, ny;
    double xMin, yMin, step;  // degrees
  };
  const Expected geometry[] = {{32, 16, 0.5, 0.5, 1}, {16, 8, 1, 1, 2}};
  for (std::size_t k = 0; k < 2; ++k) {
    EXPECT_EQ(overviews[k].nx, geometry[k].nx) << k;
    EXPECT_EQ(overviews[k].ny, geometry[k].ny) << k;
    EXPECT_EQ(overviews[k].xMin, geometry[k].xMin) << k;
    EXPECT_EQ(overviews[k].yMin, geometry[k].yMin) << k;
    EXPECT_EQ(overviews[k].xStep, geometry[k].step) << k;
    EXPECT_EQ(overviews[k].yStep, geometry[k].step) << k;
  }
  // Node (jx, jy) of the coarser one: the mean of nodes 4 jx .. 4 jx + 3,
  // 4 jy .. 4 jy + 3, that is 4 jx + 1.5 + 100 (4 jy + 1.5).
  test::TRecordingPrompts<> prompts;
  TGridImports coarse, part;
  ASSERT_EQ(LoadGridOverview(coarse, path, prompts, 1, {}).fault, TGridFault::kNone);
  ASSERT_EQ(coarse.nx, 16);
  ASSERT_EQ(coarse.ny, 8);
  for (int jx = 0; jx < 16; ++jx)
    for (int jy = 0; jy < 8; ++jy) ASSERT_EQ(coarse.at(jx, jy), float(4 * jx + 1.5 + 100 * (4 * jy + 1.5))) << jx << "," << jy;
  // In a window, placed by the overview's first node.
  const TWindowChooser choose = [](const TGridImports&) { return TNodeWindow{4, 3, 2, 3}; };
  ASSERT_EQ(LoadGridOverview(part, path, prompts, 1, choose).fault, TGridFault::kNone);
  ASSERT_TRUE(part.windowed());
  EXPECT_EQ(part.fileNx, 16);
  EXPECT_EQ(part.fileXMin, 1);
  for (int ix = 0; ix < part.nx; ++ix)
    for (int iy = 0; iy < part.ny; ++iy)
      ASSERT_EQ(part.at(ix, iy), coarse.at(ix + part.column0, iy + part.row0)) << ix << "," << iy;
  EXPECT_TRUE(prompts.messages.empty());
  // An overview that the file does not have fails as a read.
  TGridImports none;
  EXPECT_EQ(LoadGridOverview(none, path, prompts, 2, {}).fault, TGridFault::kReadFailed);
}

// GDAL looks for a file's overviews beside it as well (FILE.ovr, FILE.aux)
// when asked for them. Such a file that is no regular file, or one that
// the fence refuses, leaves the grid without overviews: a FIFO there would
// block the read for ever. A writer opens the FIFO after 2 s at the
// latest, so that a read that does block ends and the test fails instead
// of hanging.
TEST(GdalOverviews, AFileBesideTheGridThatIsNoPlainFileGivesNoOverviews) {
  TTempFolder folder;
  TNodes n{.nx = 8, .ny = 4, .xMin = 0.25, .xStep = 0.5, .yMin = 0.25, .yStep = 0.5, .values = {}};
  n.values.assign(std::size_t(n.nx) * n.ny, 1.0f);
  auto mem = MemRaster(n, TRows::kNorthFirst);
  test::SetGeographic(*mem);
  struct Case {
    const char* grid;
    const char* beside;  // the file GDAL would take for its overviews
  };
  for (const Case c : {Case{"a.tif", "a.tif.ovr"}, Case{"b.tif", "b.tif.OVR"}, Case{"c.tif", "c.aux"},
                       Case{"d.tif", "d.tif.aux"}}) {
    SCOPED_TRACE(c.beside);
    const std::string path = CopyWith(*mem, "GTiff", folder.File(c.grid));
    const std::string fifo = folder.File(c.beside);
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::atomic<bool> done{false};
    std::thread writer([&] {
      const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
      while (!done && std::chrono::steady_clock::now() < until) std::this_thread::sleep_for(std::chrono::milliseconds(10));
      for (int k = 0; k < 300 && !done; ++k) {  // a reader waits: let it go
        const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0) {
          ::close(fd);
          break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
    });
    const auto start = std::chrono::steady_clock::now();
    const std::vector<TGridImports> overviews = GridOverviews(path);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    done = true;
    writer.join();
    EXPECT_TRUE(overviews.empty());
    EXPECT_LT(seconds, 1.5) << "the overview scan opened the FIFO";
    test::TRecordingPrompts<> prompts;
    TGridImports overview;
    EXPECT_NE(LoadGridOverview(overview, path, prompts, 0, {}).fault, TGridFault::kNone);
  }
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

namespace globelayers {
namespace {

// A listener on 127.0.0.1 that counts the connections made to it: a grid
// that makes the program fetch anything would show here.
class TLocalListener {
 public:
  TLocalListener() {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd_, 16) != 0 || ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
      throw std::runtime_error("no listener on 127.0.0.1");
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] {
      while (!stop_) {
        const int client = ::accept(fd_, nullptr, nullptr);
        if (client >= 0) {
          ++connections_;
          ::close(client);
        } else {
          std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
      }
    });
  }
  ~TLocalListener() {
    stop_ = true;
    thread_.join();
    ::close(fd_);
  }
  int port() const { return port_; }
  int connections() const { return connections_; }

 private:
  int fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> connections_{0};
  std::thread thread_;
};

void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string Big32(std::uint32_t v) {
  return {char(v >> 24), char((v >> 16) & 0xFF), char((v >> 8) & 0xFF), char(v & 0xFF)};
}

// A classic netCDF file (CDF-1) of one float variable z(y, x) on 4 x 3
// nodes, with the counts given: a sound file with 2 dimensions, x of 4.
std::string ClassicNetcdf(std::uint32_t dimensionCount, std::uint32_t xLength) {
  std::string h = "CDF\x01" + Big32(0);
  h += Big32(0x0A) + Big32(dimensionCount);
  h += Big32(1) + std::string("x\0\0\0", 4) + Big32(xLength);
  h += Big32(1) + std::string("y\0\0\0", 4) + Big32(3);
  h += Big32(0) + Big32(0);  // no global attributes
  h += Big32(0x0B) + Big32(1);
  h += Big32(1) + std::string("z\0\0\0", 4) + Big32(2) + Big32(1) + Big32(0);
  h += Big32(0) + Big32(0);  // no variable attributes
  h += Big32(5) + Big32(48);
  const std::uint32_t begin = std::uint32_t(h.size() + 4);
  h += Big32(begin);
  return h + std::string(48, '\0');
}

struct FenceCase {
  const char* name;
  // Writes the files into `folder` and returns the grid name to load.
  std::function<std::string(const std::string& folder, int port)> write;
  const char* said;  // a part of the reason; empty when the fault has none
  TGridFault fault = TGridFault::kFenced;
};

std::string Vrt(const std::string& folder, const std::string& source, bool raw = false) {
  const std::string path = folder + "/mosaic.vrt";
  const std::string band =
      raw ? "<VRTRasterBand dataType=\"Float32\" band=\"1\" subClass=\"VRTRawRasterBand\">"
            "<SourceFilename relativeToVRT=\"0\">" + source + "</SourceFilename>"
            "<ImageOffset>0</ImageOffset><PixelOffset>4</PixelOffset><LineOffset>16</LineOffset>"
            "</VRTRasterBand>"
          : "<VRTRasterBand dataType=\"Float32\" band=\"1\"><SimpleSource>"
            "<SourceFilename relativeToVRT=\"0\">" + source + "</SourceFilename><SourceBand>1</SourceBand>"
            "</SimpleSource></VRTRasterBand>";
  WriteBytes(path, "<VRTDataset rasterXSize=\"4\" rasterYSize=\"3\">"
                   "<GeoTransform>10, 0.5, 0, 41.5, 0, -0.5</GeoTransform>" + band + "</VRTDataset>");
  return path;
}

const FenceCase kFenceCases[] = {
    {"VrtRawSourceIsAFifo",
     [](const std::string& d, int) {
       ::mkfifo((d + "/raw.bin").c_str(), 0600);
       return Vrt(d, d + "/raw.bin", true);
     },
     "is not a regular file"},
    {"VrtSourceIsStandardInput", [](const std::string& d, int) { return Vrt(d, "/vsistdin/"); },
     "names one of GDAL's virtual file systems"},
    {"VrtSourceIsAUrl",
     [](const std::string& d, int port) {
       return Vrt(d, "/vsicurl/http://127.0.0.1:" + std::to_string(port) + "/x.tif");
     },
     "names one of GDAL's virtual file systems"},
    {"VrtSourceIsAPlainUrl",
     [](const std::string& d, int port) { return Vrt(d, "http://127.0.0.1:" + std::to_string(port) + "/x.tif"); },
     "is an address, not a local file"},
    {"VrtNamesItself", [](const std::string& d, int) { return Vrt(d, d + "/mosaic.vrt"); }, "more than 8 deep"},
    {"WmsDescriptionAsTif",
     [](const std::string& d, int port) {
       WriteBytes(d + "/world.tif", "<GDAL_WMS><Service name=\"WMS\"><ServerUrl>http://127.0.0.1:" +
                                        std::to_string(port) +
                                        "/wms?</ServerUrl><Layers>x</Layers></Service>"
                                        "<DataWindow><UpperLeftX>-180</UpperLeftX><UpperLeftY>90</UpperLeftY>"
                                        "<LowerRightX>180</LowerRightX><LowerRightY>-90</LowerRightY>"
                                        "<SizeX>360</SizeX><SizeY>180</SizeY></DataWindow></GDAL_WMS>");
       return d + "/world.tif";
     },
     "", TGridFault::kUnknownFormat},
    {"VrtSourceIsAWmsDescription",
     [](const std::string& d, int port) {
       WriteBytes(d + "/world.xml", "<GDAL_WMS><Service name=\"WMS\"><ServerUrl>http://127.0.0.1:" +
                                        std::to_string(port) + "/wms?</ServerUrl></Service></GDAL_WMS>");
       return Vrt(d, d + "/world.xml");
     },
     "is not a raster of a format that grids are read from"},
    {"WmsName",
     [](const std::string&, int port) { return "WMS:http://127.0.0.1:" + std::to_string(port) + "/wms?"; },
     "", TGridFault::kNotOpened},
    {"NetcdfDeclaresTwoBillionDimensions",
     [](const std::string& d, int) {
       WriteBytes(d + "/bad.nc", ClassicNetcdf(0x7FFFFFFF, 4));
       return d + "/bad.nc";
     },
     "its netCDF header is damaged: it declares 2147483647 dimensions, more than the file could hold"},
    {"NetcdfVariableLargerThanTheFile",
     [](const std::string& d, int) {
       WriteBytes(d + "/big.nc", ClassicNetcdf(2, 0x7FFFFFFF));
       return d + "/big.nc";
     },
     "its netCDF header is damaged: a variable of 6442450941 values is larger than the file's"},
    {"AsciiGridDeclaresMoreNodesThanItHolds",
     [](const std::string& d, int) {
       WriteBytes(d + "/huge.asc",
                  "ncols 30000\nnrows 30000\nxllcorner 0\nyllcorner 0\ncellsize 0.001\n1 2 3 4\n");
       return d + "/huge.asc";
     },
     "its header declares 900000000 nodes, more than its", TGridFault::kOverclaimed},
    // Written sparse, it holds none of its 1.6e9 nodes: they would fit in
    // memory and take minutes to read as NoData.
    {"UncompressedGeoTiffDeclaresMoreNodesThanItHolds",
     [](const std::string& d, int) {
       GDALDriver* tiff = GetGDALDriverManager()->GetDriverByName("GTiff");
       const char* options[] = {"SPARSE_OK=TRUE", nullptr};
       test::TDataset ds(tiff->Create((d + "/sparse.tif").c_str(), 40000, 40000, 1, GDT_Int16,
                                      const_cast<char**>(options)));
       double gt[6] = {-180, 0.009, 0, 90, 0, -0.0045};
       ds->SetGeoTransform(gt);
       return d + "/sparse.tif";
     },
     "its header declares 1600000000 nodes, more than its", TGridFault::kOverclaimed},
};

class GdalFence : public testing::TestWithParam<FenceCase> {};

// Nothing behind a grid name blocks, fetches or allocates what a damaged
// header claims: each is refused at once with one message, and the local
// listener sees no connection.
TEST_P(GdalFence, RefusedAtOnceWithoutAnyRequest) {
  test::RegisterGdal();
  TTempFolder folder;
  TLocalListener listener;
  const std::string name = GetParam().write(folder.File(""), listener.port());
  ::alarm(30);  // a grid that blocks ends the test program
  test::TRecordingPrompts<> prompts;
  TGridImports grid;
  const auto start = std::chrono::steady_clock::now();
  const TGridLoad outcome = LoadGridFile(grid, name, prompts);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  ::alarm(0);
  EXPECT_EQ(outcome.fault, GetParam().fault);
  EXPECT_NE(outcome.reason.find(GetParam().said), std::string::npos) << outcome.reason;
  EXPECT_EQ(outcome.reason.empty(), std::string(GetParam().said).empty()) << outcome.reason;
  EXPECT_EQ(prompts.messages, std::vector<std::string>{GridFaultMessage(outcome.fault, name, outcome.reason)});
  EXPECT_LT(seconds, 5.0);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(listener.connections(), 0);
  EXPECT_TRUE(grid.values.empty());
}

INSTANTIATE_TEST_SUITE_P(Hostile, GdalFence, testing::ValuesIn(kFenceCases),
                         [](const auto& info) { return std::string(info.param.name); });

// The fence lets a sound classic netCDF file through to GDAL (which here
// finds no coordinates for it) and a VRT of a local GeoTIFF loads.
TEST(GdalFence, SoundFilesPass) {
  test::RegisterGdal();
  TTempFolder folder;
  WriteBytes(folder.File("sound.nc"), ClassicNetcdf(2, 4));
  EXPECT_EQ(NetcdfHeaderRefusal(folder.File("sound.nc")), "");
  const std::string tif = GeoTiff(SmallNodes(), folder.File("small.tif"), TRows::kNorthFirst, false);
  test::TRecordingPrompts<> prompts;
  TGridImports grid;
  EXPECT_TRUE(LoadGrid(grid, Vrt(folder.File(""), tif), prompts)) << testing::PrintToString(prompts.messages);
  EXPECT_EQ(grid.nx, 4);
}

// A raw band's file holds bare values of no raster format: the fence lets
// a regular file through, and the values land where the VRT puts them
// (GDAL row 0 is the north row, the grid's last).
TEST(GdalFence, VrtRawBandOverARegularFileLoads) {
  test::RegisterGdal();
  TTempFolder folder;
  std::string bytes;
  for (int k = 0; k < 12; ++k) {
    const float v = 100.0f + float(k);  // row r, column c holds 100 + 4r + c
    bytes.append(reinterpret_cast<const char*>(&v), sizeof v);
  }
  WriteBytes(folder.File("values.bin"), bytes);
  test::TRecordingPrompts<> prompts;
  TGridImports grid;
  ASSERT_TRUE(LoadGrid(grid, Vrt(folder.File(""), folder.File("values.bin"), true), prompts))
      << testing::PrintToString(prompts.messages);
  ASSERT_EQ(grid.nx, 4);
  ASSERT_EQ(grid.ny, 3);
  EXPECT_EQ(grid.at(0, 2), 100.0f);
  EXPECT_EQ(grid.at(3, 2), 103.0f);
  EXPECT_EQ(grid.at(0, 0), 108.0f);
  EXPECT_EQ(grid.at(3, 0), 111.0f);
}

}  // namespace
}  // namespace globelayers

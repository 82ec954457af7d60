// Rasters that the native readers do not know, read through GDAL: GeoTIFF,
// netCDF (GMT-style and CF), ESRI ASCII grids, ERDAS Imagine, VRT and every
// other raster format of the GDAL build, behind the fence of GdalFence.h.
// Only in a build with GDAL (GLOBELAYERS_HAVE_GDAL).
//
// Band 1 of a GDAL raster into a TGridImports, with the native readers'
// rules: every check before the values are allocated, values narrowed to
// float, anything that is no finite float stored as the blank marker, a
// failed read leaving the caller's grid as it was.
//
// Geometry: gt is GDAL's geotransform, whose (gt[0], gt[3]) is the outer
// corner of pixel (0, 0) and gt[1], gt[5] the pixel's width and height in
// degrees, whatever the file's registration (GDAL turns a GeoTIFF with
// AREA_OR_POINT=Point, or a netCDF file whose coordinates give nodes, into
// corners itself). The grid's nodes are the pixel centres: node ix of a row
// lies at gt[0] + (ix + 0.5) * gt[1] degrees of longitude. Rows that GDAL
// gives from the north (gt[5] < 0) are turned round into the grid's
// south-first rows; a south-up raster (gt[5] > 0) keeps its order.
//
// Memory: the values are the only large allocation. They are read a block
// of whole rows at a time (a few megabytes, a whole number of the band's
// natural blocks), or for a tiled GeoTIFF a row of tiles at a time in
// stripes of whole tiles, through GDAL's block cache, which is kept small:
// every block is used whole by the one read that fetched it.
//
// Overviews: band 1's overviews (a GeoTIFF's own, or a .ovr file that GDAL
// finds beside the file) are read as grids of their own pixel centres, on
// request (LoadGridOverview), with the band's values rules.
#include <unistd.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <exception>
#include <filesystem>
#include <memory>
#include <mutex>
#include <type_traits>
#include <utility>
#include <vector>

#include <cpl_conv.h>
#include <cpl_error.h>
#include <gdal_priv.h>
#include <ogr_spatialref.h>

#include "FilePtr.h"
#include "GdalFence.h"
#include "GridChecks.h"
#include "GridFormats.h"
#include "InputFile.h"
#include "StopRequest.h"
#include "NumberText.h"

namespace globelayers {
namespace {

constexpr GIntBig kGdalCacheBytes = GIntBig{16} << 20;  // bytes of GDAL's block cache, whole process
constexpr std::size_t kRowBlockBytes = std::size_t{4} << 20;  // bytes of raw values per read
constexpr double kDegreeRad = 0.017453292519943295;          // radians per degree

void InitialiseGdal() {
  static std::once_flag once;
  std::call_once(once, [] {
    GDALAllRegister();
    GDALSetCacheMax64(kGdalCacheBytes);
    // A VRT could carry Python code for its pixels: grids are data, never code.
    CPLSetConfigOption("GDAL_VRT_ENABLE_PYTHON", "NO");
  });
}

// GDAL's own messages go nowhere while a grid is read (they would reach
// standard error behind the user's back); the last one is kept for the
// reason that the user sees.
class TQuietGdal {
 public:
  TQuietGdal() {
    CPLPushErrorHandler(CPLQuietErrorHandler);
    CPLErrorReset();
  }
  ~TQuietGdal() { CPLPopErrorHandler(); }
  TQuietGdal(const TQuietGdal&) = delete;
  TQuietGdal& operator=(const TQuietGdal&) = delete;
};

std::string LastGdalMessage() {
  const char* message = CPLGetLastErrorMsg();
  return message != nullptr && message[0] != '\0' ? message : "GDAL gave no reason";
}

struct TDatasetCloser {
  void operator()(GDALDataset* dataset) const { GDALClose(GDALDataset::ToHandle(dataset)); }
};
using TDatasetPtr = std::unique_ptr<GDALDataset, TDatasetCloser>;

TGridLoad Refused(TGridFault fault, std::string reason) { return {fault, std::move(reason)}; }

double GiB(double bytes) { return bytes / double(std::uint64_t{1} << 30); }

// How a raw band value becomes a stored value. GDAL compares a band's
// NoData in the band's own type, so a Float32 band's NoData is taken as the
// float nearest it; NoData is tested before scale and offset apply.
struct TValueRule {
  bool hasNoData = false;
  double noData = 0;         // in the band's units, before scale and offset
  bool scaled = false;       // scale or offset other than 1 and 0
  double scale = 1, offset = 0;
  bool signedBytes = false;  // a Byte band that GDAL 3.6 marks PIXELTYPE=SIGNEDBYTE
};

struct TValueTally {
  std::int64_t blanks = 0;
  double zMin = 1e39, zMax = -1e39;  // stay so when every node is blank
};

// One raw value (as read into the buffer type) to the float that is stored.
template <class T>
float StoredValue(T raw, const TValueRule& rule, TValueTally& tally) {
  double v = double(raw);
  if (rule.signedBytes && v >= 128) v -= 256;
  if (std::isnan(v) || (rule.hasNoData && v == rule.noData)) {
    ++tally.blanks;
    return kBlankMarker;
  }
  if (rule.scaled) v = v * rule.scale + rule.offset;
  // The blank test compares the double, before it is narrowed.
  if (!std::isfinite(v) || std::fabs(v) > double(FLT_MAX)) {
    ++tally.blanks;
    return kBlankMarker;
  }
  const float stored = static_cast<float>(v);
  if (!std::isfinite(stored)) {  // rounded up past the largest float
    ++tally.blanks;
    return kBlankMarker;
  }
  if (v >= kSurferBlank) {
    ++tally.blanks;
    return stored;
  }
  if (v < tally.zMin) tally.zMin = v;
  if (v > tally.zMax) tally.zMax = v;
  return stored;
}

// A block of GDAL rows firstRow .. firstRow + rows - 1 and of the grid's
// columns column0 .. column0 + columns - 1 (rows counted from the raster's
// first row, row-major, `columns` values a row) into the column-major
// values; GDAL row r is grid row ny-1-r when GDAL's rows run from the north.
void PlaceBlock(TGridImports& grid, bool northUp, int column0, int columns, int firstRow, int rows,
                const float* rowMajor) {
  const std::size_t ny = std::size_t(grid.ny), width = std::size_t(columns);
  for (std::size_t c = 0; c < width; ++c) {
    float* column = grid.values.data() + (std::size_t(column0) + c) * ny;
    const float* source = rowMajor + c;
    if (northUp) {
      float* target = column + (ny - 1 - std::size_t(firstRow));
      for (int r = 0; r < rows; ++r, source += width) *(target - r) = *source;
    } else {
      float* target = column + std::size_t(firstRow);
      for (int r = 0; r < rows; ++r, source += width) target[r] = *source;
    }
  }
}

// Whole rows at a time: a whole number of the band's blocks when they are
// rows of a sensible height, else as many rows as fit in kRowBlockBytes.
int RowsPerRead(GDALRasterBand& band, int nx, int ny, std::size_t valueBytes) {
  int blockX = 0, blockY = 0;
  band.GetBlockSize(&blockX, &blockY);
  const std::size_t rowBytes = std::size_t(nx) * valueBytes;
  std::size_t rows = std::max<std::size_t>(1, kRowBlockBytes / rowBytes);
  if (blockY > 1 && std::size_t(blockY) * rowBytes <= 4 * kRowBlockBytes)
    rows = std::max<std::size_t>(std::size_t(blockY), rows / std::size_t(blockY) * std::size_t(blockY));
  return int(std::min<std::size_t>(rows, std::size_t(ny)));
}

// The part of the raster that a grid holds: its first column and first
// GDAL row (counted from the raster's first row, whichever way rows run).
struct TRasterOffset {
  int column = 0;
  int row = 0;
};

// The pieces in which the values are read: whole rows (a whole number of
// the band's blocks when they are rows of a sensible height), or, for a
// tiled GeoTIFF, one row of tiles at a time in stripes of whole tiles. A
// row of tiles of a global 30" grid is 169 tiles, more than GDAL's block
// cache holds: reading it a few rows at a time would decode every tile
// again for each read, and a tile-aligned stripe decodes each tile once.
struct TReadPieces {
  int rows = 1;     // GDAL rows a piece
  int columns = 1;  // columns a piece
};

TReadPieces PiecesOf(GDALDataset& dataset, GDALRasterBand& band, int nx, int ny, std::size_t valueBytes) {
  int blockX = 0, blockY = 0;
  band.GetBlockSize(&blockX, &blockY);
  const char* driver = dataset.GetDriver() != nullptr ? dataset.GetDriver()->GetDescription() : "";
  const bool tiles = EQUAL(driver, "GTiff") && blockX > 1 && blockY > 1 && blockX < band.GetXSize() &&
                     std::size_t(blockX) * std::size_t(blockY) * valueBytes <= kRowBlockBytes;
  if (!tiles) return {.rows = RowsPerRead(band, nx, ny, valueBytes), .columns = nx};
  const std::size_t tilesPerRead = std::max<std::size_t>(1, kRowBlockBytes / (std::size_t(blockX) * std::size_t(blockY) * valueBytes));
  return {.rows = std::min(blockY, ny), .columns = int(std::min<std::size_t>(tilesPerRead * std::size_t(blockX), std::size_t(nx)))};
}

// `at` lies on the band's blocks where they are tiles (BlockWindow), so
// that every piece is whole tiles.
template <class T>
std::string ReadValues(GDALRasterBand& band, TReadPieces pieces, TGridImports& grid, bool northUp, TRasterOffset at,
                       const TValueRule& rule, TValueTally& tally) {
  constexpr GDALDataType kBufferType = std::is_same_v<T, float> ? GDT_Float32 : GDT_Float64;
  const int nx = grid.nx, ny = grid.ny;
  std::vector<T> raw(std::size_t(pieces.rows) * std::size_t(pieces.columns));
  std::vector<float> decoded;
  if constexpr (!std::is_same_v<T, float>) decoded.resize(raw.size());
  for (int first = 0; first < ny; first += pieces.rows) {
    const int rows = std::min(pieces.rows, ny - first);
    for (int column0 = 0; column0 < nx; column0 += pieces.columns) {
      if (LongStepStopRequested()) return "the run was stopped while the grid was read";
      const int columns = std::min(pieces.columns, nx - column0);
      if (band.RasterIO(GF_Read, at.column + column0, at.row + first, columns, rows, raw.data(), columns, rows,
                        kBufferType, 0, 0, nullptr) != CE_None) {
        return CFormat("GDAL could not read its rows %d to %d: ", at.row + first + 1, at.row + first + rows) +
               LastGdalMessage();
      }
      const std::size_t count = std::size_t(rows) * std::size_t(columns);
      float* out = nullptr;
      if constexpr (std::is_same_v<T, float>) {
        out = raw.data();  // decoded in place
      } else {
        out = decoded.data();
      }
      if constexpr (std::is_same_v<T, float>) {
        // Values that a float holds as they are: the same rule without the
        // widening, the common case of large grids.
        const float noData = rule.hasNoData ? float(rule.noData) : std::nanf("");
        const float blank = float(kSurferBlank);  // the least float at or above it
        std::int64_t blanks = 0;
        float zMin = float(tally.zMin <= double(FLT_MAX) ? tally.zMin : FLT_MAX);
        float zMax = float(tally.zMax >= -double(FLT_MAX) ? tally.zMax : -FLT_MAX);
        bool any = false;
        for (std::size_t i = 0; i < count; ++i) {
          const float v = raw[i];
          if (!std::isfinite(v) || v == noData) {
            ++blanks;
            out[i] = kBlankMarker;
          } else if (v >= blank) {
            ++blanks;
          } else {
            any = true;
            zMin = std::min(zMin, v);
            zMax = std::max(zMax, v);
          }
        }
        tally.blanks += blanks;
        if (any) {
          tally.zMin = std::min(tally.zMin, double(zMin));
          tally.zMax = std::max(tally.zMax, double(zMax));
        }
      } else {
        for (std::size_t i = 0; i < count; ++i) out[i] = StoredValue(raw[i], rule, tally);
      }
      PlaceBlock(grid, northUp, column0, columns, first, rows, out);
    }
  }
  return {};
}

bool TypeRead(GDALDataType type) {
  switch (type) {
    case GDT_Byte:
    case GDT_Int16:
    case GDT_UInt16:
    case GDT_Int32:
    case GDT_UInt32:
    case GDT_Float32:
    case GDT_Float64:
      return true;
    default:
      return false;
  }
}

// Every type whose values a float holds exactly is read as float; the
// others, and any scaled band, as double and narrowed after scaling.
bool ReadAsFloat(GDALDataType type, const TValueRule& rule) {
  if (rule.scaled || rule.signedBytes) return false;
  return type == GDT_Byte || type == GDT_Int16 || type == GDT_UInt16 || type == GDT_Float32;
}

// Why the raster's coordinate system is not longitude and latitude in
// degrees; empty when it is, or when it has none (taken as degrees, as a
// Surfer file is).
std::string CrsRefusal(const GDALDataset& dataset) {
  const OGRSpatialReference* crs = dataset.GetSpatialRef();
  if (crs == nullptr || crs->IsEmpty()) return {};
  const char* name = crs->GetName();
  const std::string quoted = std::string("\"") + (name != nullptr ? name : "unnamed") + "\"";
  if (crs->IsProjected())
    return "it is in the projected coordinate system " + quoted +
           "; a grid must be in longitude and latitude degrees";
  if (!crs->IsGeographic())
    return "its coordinate system " + quoted + " is not one of longitude and latitude degrees";
  const char* unitName = nullptr;
  const double radPerUnit = crs->GetAngularUnits(&unitName);
  if (std::fabs(radPerUnit - kDegreeRad) > 1e-12)
    return std::string("its angles are in ") + (unitName != nullptr ? unitName : "an unnamed unit") +
           ", not in degrees";
  return {};
}

// For a file that holds several rasters and none by itself (a netCDF file
// with several variables): the names to choose from.
std::string SubdatasetHint(GDALDataset& dataset) {
  CSLConstList items = dataset.GetMetadata("SUBDATASETS");
  std::vector<std::string> names;
  for (int i = 0; items != nullptr && items[i] != nullptr; ++i) {
    const std::string item = items[i];
    const auto equals = item.find('=');
    if (equals != std::string::npos && item.find("_NAME=") != std::string::npos)
      names.push_back(item.substr(equals + 1));
  }
  if (names.empty()) return "it holds no raster band";
  std::string text = CFormat("it holds %zu rasters and none by itself; name one as the layer's grid, ", names.size());
  text += names.size() == 1 ? "as " + names.front() : "such as " + names.front() + " or " + names[1];
  return text;
}

// "   123456 kB" into 123456; false when it is no such number.
bool ParseKib(const char* text, unsigned long long& kib) {
  while (*text == ' ' || *text == '\t') ++text;
  if (*text < '0' || *text > '9') return false;
  kib = 0;
  for (; *text >= '0' && *text <= '9'; ++text) kib = kib * 10 + unsigned(*text - '0');
  return true;
}

// The memory that can be had now: MemAvailable of /proc/meminfo, else the
// physical memory.
std::uint64_t AvailableMemoryBytes() {
  if (TFilePtr info{std::fopen("/proc/meminfo", "re")}) {
    char line[256];
    while (std::fgets(line, sizeof line, info.get()) != nullptr) {
      unsigned long long kib = 0;
      if (std::strncmp(line, "MemAvailable:", 13) == 0 && ParseKib(line + 13, kib)) return std::uint64_t(kib) * 1024;
    }
  }
  const long pages = ::sysconf(_SC_PHYS_PAGES);
  const long pageBytes = ::sysconf(_SC_PAGE_SIZE);
  if (pages <= 0 || pageBytes <= 0) return UINT64_MAX;  // unknown: leave it to the allocation
  return std::uint64_t(pages) * std::uint64_t(pageBytes);
}

// Formats whose files store every value, as text or raw binary: a header
// that declares more nodes than the files could hold is damaged, and is
// refused before memory for the nodes is taken. An uncompressed GeoTIFF is
// one of them: a 30 KB file that declares 65535 x 32768 nodes would
// otherwise take 8 GB and minutes before it failed. (GDAL can write
// uncompressed GeoTIFFs "sparse", leaving out blocks of nothing but NoData;
// such a grid larger than its file is refused too.)
std::string DeclaredNodesRefusal(GDALDataset& dataset, GDALDataType type, std::uint64_t nodes) {
  const char* driver = dataset.GetDriver() != nullptr ? dataset.GetDriver()->GetDescription() : "";
  const bool text = EQUAL(driver, "AAIGrid") || EQUAL(driver, "GRASSASCIIGrid") || EQUAL(driver, "GSAG") ||
                    EQUAL(driver, "XYZ");
  const char* compression = dataset.GetMetadataItem("COMPRESSION", "IMAGE_STRUCTURE");
  const bool uncompressedTiff = EQUAL(driver, "GTiff") && (compression == nullptr || EQUAL(compression, "NONE"));
  const bool raw = EQUAL(driver, "EHdr") || EQUAL(driver, "ENVI") || EQUAL(driver, "GSBG") ||
                   EQUAL(driver, "GS7BG") || EQUAL(driver, "BT") || EQUAL(driver, "ERS") || uncompressedTiff;
  if (!text && !raw) return {};
  std::uint64_t fileBytes = 0;
  char** files = dataset.GetFileList();
  for (int i = 0; files != nullptr && files[i] != nullptr; ++i) {
    const TInputFile input = OpenInputFile(files[i]);
    if (input.status == TInputOpen::kOpened) fileBytes += input.sizeBytes;
  }
  CSLDestroy(files);
  // A value of a text grid takes at least a digit and a separator.
  const long double needed = text ? 2.0L * (long double)nodes - 1 : (long double)nodes * GDALGetDataTypeSizeBytes(type);
  if (needed <= (long double)fileBytes) return {};
  return CFormat("its header declares %llu nodes, more than its %llu bytes of %s can hold",
                 (unsigned long long)nodes, (unsigned long long)fileBytes, text ? "text" : "values");
}

// The window that `choose` asks, rounded out to whole blocks of the band:
// rows always, columns where the band is tiled (a strip's columns are cut
// in memory instead). Returns the raster offset of the window's first node.
TRasterOffset BlockWindow(GDALRasterBand& band, const TGridImports& geometry, bool northUp, TNodeWindow& window) {
  int blockX = 0, blockY = 0;
  band.GetBlockSize(&blockX, &blockY);
  const int nx = geometry.nx, ny = geometry.ny;
  const auto roundOut = [](int& first, int& length, int block, int count) {
    if (block <= 1 || block >= count) return;
    const int end = std::min(count, (first + length + block - 1) / block * block);
    first = first / block * block;
    length = end - first;
  };
  roundOut(window.column0, window.columns, blockX, nx);
  // GDAL's rows of the window, from the raster's first row.
  int gdalRow = northUp ? ny - (window.row0 + window.rows) : window.row0;
  roundOut(gdalRow, window.rows, blockY, ny);
  window.row0 = northUp ? ny - (gdalRow + window.rows) : gdalRow;
  return {.column = window.column0, .row = gdalRow};
}

// Band 1, or its overview `overview` (counted from 0, the finest first;
// -1 for the band itself). An overview covers the band's extent with fewer
// pixels: its geotransform is the band's with the pixel size scaled.
TGridLoad ReadOpened(GDALDataset& dataset, TGridImports& grid, const TWindowChooser* choose, int overview) {
  if (dataset.GetRasterCount() < 1) return Refused(TGridFault::kNoSingleRaster, SubdatasetHint(dataset));
  GDALRasterBand& base = *dataset.GetRasterBand(1);
  GDALRasterBand* chosen = &base;
  if (overview >= 0 && (overview >= base.GetOverviewCount() || (chosen = base.GetOverview(overview)) == nullptr))
    return Refused(TGridFault::kReadFailed, CFormat("it has no overview %d", overview + 1));
  GDALRasterBand& band = *chosen;
  const GDALDataType type = base.GetRasterDataType();
  if (!TypeRead(type) || !TypeRead(band.GetRasterDataType()))
    return Refused(TGridFault::kValueType, std::string("its values are of the type ") + GDALGetDataTypeName(type) +
                   "; Byte, Int16, UInt16, Int32, UInt32, Float32 and Float64 are read");

  const int nx = band.GetXSize(), ny = band.GetYSize();
  if (nx < 2 || ny < 2)
    return Refused(TGridFault::kGeometry, CFormat("it has %d x %d nodes; a grid needs at least 2 each way", nx, ny));

  double gt[6] = {0, 1, 0, 0, 0, 1};
  if (dataset.GetGeoTransform(gt) != CE_None)
    return Refused(TGridFault::kGeometry, "it has no geotransform, so nothing places its nodes on the globe");
  if (gt[2] != 0 || gt[4] != 0)
    return Refused(TGridFault::kGeometry, CFormat("its geotransform is rotated or sheared (terms %g and %g); "
                                                  "only north-up and south-up grids are read",
                                                  gt[2], gt[4]));
  for (const double term : {gt[0], gt[1], gt[3], gt[5]})
    if (!std::isfinite(term))
      return Refused(TGridFault::kGeometry,
                     CFormat("its geotransform holds a number that is not finite (%g, %g, %g, %g)", gt[0], gt[1],
                             gt[3], gt[5]));
  if (&band != &base) {
    gt[1] *= double(dataset.GetRasterXSize()) / nx;
    gt[5] *= double(dataset.GetRasterYSize()) / ny;
  }
  if (gt[1] == 0 || gt[5] == 0)
    return Refused(TGridFault::kGeometry,
                   CFormat("its node spacing is zero (%g by %g degrees)", gt[1], std::fabs(gt[5])));
  if (std::string crs = CrsRefusal(dataset); !crs.empty()) return Refused(TGridFault::kNotDegrees, std::move(crs));

  TGridImports work;
  work.nx = nx;
  work.ny = ny;
  const bool northUp = gt[5] < 0;
  work.xMin = gt[0] + 0.5 * gt[1];
  work.xStep = gt[1];
  if (northUp) {
    work.yMin = gt[3] + (double(ny) - 0.5) * gt[5];  // the centre of GDAL's last row
    work.yStep = -gt[5];
  } else {
    work.yMin = gt[3] + 0.5 * gt[5];
    work.yStep = gt[5];
  }
  CompleteBoundsFromSteps(work);
  if (!GeometryUsable(work))
    return Refused(TGridFault::kGeometry,
                   CFormat("its nodes lie beyond %g degrees or closer together than %g degrees "
                           "(x from %g by %g, y from %g by %g)",
                           kMaxNodeDeg, kMinSpacingDeg, work.xMin, work.xStep, work.yMin, work.yStep));

  TNodeWindow window = ChosenWindow(work, choose);
  TRasterOffset at;
  if (Partial(window, work)) {
    at = BlockWindow(band, work, northUp, window);
    if (Partial(window, work)) NarrowToWindow(work, window);
  }

  TValueRule rule;
  int hasNoData = 0;
  const double noData = base.GetNoDataValue(&hasNoData);
  rule.hasNoData = hasNoData != 0 && !std::isnan(noData);  // a NaN NoData is a NaN value: blank anyway
  rule.noData = noData;
  if (rule.hasNoData && type == GDT_Float32) {
    // GDAL compares a Float32 band's values with its NoData as floats.
    if (std::fabs(noData) <= double(FLT_MAX))
      rule.noData = double(static_cast<float>(noData));
    else if (std::isfinite(noData))
      rule.hasNoData = false;  // no float equals it
  }
  int hasScale = 0, hasOffset = 0;
  const double scale = base.GetScale(&hasScale);
  const double offset = base.GetOffset(&hasOffset);
  rule.scale = hasScale ? scale : 1;
  rule.offset = hasOffset ? offset : 0;
  rule.scaled = rule.scale != 1 || rule.offset != 0;
  if (!std::isfinite(rule.scale) || !std::isfinite(rule.offset))
    return Refused(TGridFault::kValueType,
                   CFormat("its scale %g or offset %g is not a finite number", rule.scale, rule.offset));
  if (type == GDT_Byte) {
    const char* pixelType = base.GetMetadataItem("PIXELTYPE", "IMAGE_STRUCTURE");
    rule.signedBytes = pixelType != nullptr && std::strcmp(pixelType, "SIGNEDBYTE") == 0;
  }

  // The values must be in the files and fit in memory: refused before
  // anything is allocated.
  const std::uint64_t nodes = std::uint64_t(dataset.GetRasterXSize()) * std::uint64_t(dataset.GetRasterYSize());
  if (std::string refusal = DeclaredNodesRefusal(dataset, type, nodes); !refusal.empty())
    return Refused(TGridFault::kOverclaimed, std::move(refusal));
  const std::uint64_t bytes = std::uint64_t(work.nx) * std::uint64_t(work.ny) * sizeof(float);
  const std::uint64_t memory = AvailableMemoryBytes();
  if (bytes / sizeof(float) > work.values.max_size() || bytes > memory)
    return Refused(TGridFault::kTooLarge,
                   CFormat("its %d x %d nodes need %.1f GiB of memory, more than the %.1f GiB this computer "
                           "has available",
                           work.nx, work.ny, GiB(double(bytes)), GiB(double(memory))));
  try {
    AllocateValues(work);
  } catch (const std::bad_alloc&) {
    return Refused(TGridFault::kNoMemory, CFormat("memory for its %d x %d nodes (%.1f GiB) could not be had",
                                                  work.nx, work.ny, GiB(double(bytes))));
  }

  TValueTally tally;
  const bool asFloat = ReadAsFloat(type, rule);
  const TReadPieces pieces = PiecesOf(dataset, band, work.nx, work.ny, asFloat ? sizeof(float) : sizeof(double));
  const std::string failure = asFloat ? ReadValues<float>(band, pieces, work, northUp, at, rule, tally)
                                      : ReadValues<double>(band, pieces, work, northUp, at, rule, tally);
  if (!failure.empty()) return Refused(TGridFault::kReadFailed, failure);
  work.blankValue = kSurferBlank;
  work.blankCount = std::int32_t(std::min<std::int64_t>(tally.blanks, INT32_MAX));
  work.zMin = tally.zMin;
  work.zMax = tally.zMax;
  work.zRange = tally.zMax - tally.zMin;
  grid = std::move(work);
  return {};
}

// The file of a subdataset name, or `name` itself when it is none.
std::string GdalFilePart(const std::string& name) {
  return NamesGdalSubdataset(name) ? SubdatasetFile(name) : name;
}

// GDAL looks for a file's overviews beside it as well, when asked for
// them: FILE.ovr (or .OVR), and an Erdas FILE.aux or FILE with its
// extension replaced by .aux. Each such file that exists must be a regular
// file behind the same fence as the grid (a FIFO there would block the
// read for ever, a VRT could fetch); empty when none is in the way.
std::string OverviewFilesRefusal(const std::string& path) {
  namespace fs = std::filesystem;
  const std::string stem = fs::path(path).replace_extension().string();
  for (const std::string& beside : {path + ".ovr", path + ".OVR", path + ".aux", path + ".AUX", stem + ".aux",
                                    stem + ".AUX"}) {
    std::error_code error;
    const fs::file_status status = fs::status(beside, error);  // through links
    if (status.type() == fs::file_type::not_found) continue;
    if (error || status.type() != fs::file_type::regular)
      return "the file beside it that would hold its overviews, " + beside + ", is no regular file";
    if (std::string refusal = GdalFenceRefusal(beside, beside); !refusal.empty()) return refusal;
  }
  return {};
}

}  // namespace

bool IsGdalCandidate(std::span<const unsigned char>) { return true; }

TGridLoad ReadGdalRaster(TGridImports& grid, const TGridInput& input) {
  const std::string& name = input.name;
  try {
    InitialiseGdal();
    TQuietGdal quiet;
    // Uncompressed GeoTIFF rows straight from the file into the read's
    // buffer, past the block cache (other formats ignore it).
    CPLSetThreadLocalConfigOption("GTIFF_DIRECT_IO", "YES");
    struct TResetDirectIo {
      ~TResetDirectIo() { CPLSetThreadLocalConfigOption("GTIFF_DIRECT_IO", nullptr); }
    } resetDirectIo;
    // Local files only, by the drivers on the list, with nothing behind
    // them that could block or fetch.
    if (std::string refusal = GdalFenceRefusal(name, GdalFilePart(name)); !refusal.empty())
      return Refused(TGridFault::kFenced, std::move(refusal));
    if (input.overview >= 0) {
      if (std::string refusal = OverviewFilesRefusal(GdalFilePart(name)); !refusal.empty())
        return Refused(TGridFault::kFenced, std::move(refusal));
    }
    const TDatasetPtr dataset(
        GDALDataset::Open(name.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY, AllowedGridDrivers()));
    if (!dataset) return {TGridFault::kUnknownFormat, {}};
    return ReadOpened(*dataset, grid, input.choose, input.overview);
  } catch (const std::exception& e) {
    return Refused(TGridFault::kReadFailed, std::string("reading it failed: ") + e.what());
  }
}

int GdalOverviewCount(const std::string& name) {
  try {
    InitialiseGdal();
    TQuietGdal quiet;
    if (!GdalFenceRefusal(name, GdalFilePart(name)).empty()) return 0;
    if (!OverviewFilesRefusal(GdalFilePart(name)).empty()) return 0;
    const TDatasetPtr dataset(
        GDALDataset::Open(name.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY, AllowedGridDrivers()));
    if (!dataset || dataset->GetRasterCount() < 1) return 0;
    return std::max(0, dataset->GetRasterBand(1)->GetOverviewCount());
  } catch (const std::exception&) {
    return 0;
  }
}

bool NamesGdalSubdataset(const std::string& name) {
  std::error_code ignored;
  if (std::filesystem::exists(name, ignored)) return false;  // a file of that name is read as a file
  const std::string file = SubdatasetFile(name);
  return file != name && !file.empty() && OpenInputFile(file).status == TInputOpen::kOpened;
}

}  // namespace globelayers

#if defined(__SANITIZE_ADDRESS__)
// Sanitizer builds only. Debian's GDAL 3.6 releases some of its own objects
// with free() that it made with operator new (seen in GDALDataset's
// destructor on the driver-probing path of every open); AddressSanitizer
// would end every program that opens a raster. The check stays on for
// everything else; ASAN_OPTIONS in the environment still adds to this.
extern "C" const char* __asan_default_options() { return "alloc_dealloc_mismatch=0"; }
#endif

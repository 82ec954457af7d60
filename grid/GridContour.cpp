#include "GridContour.h"

#ifdef GLOBELAYERS_HAVE_GDAL
#include <cpl_error.h>
#include <gdal.h>
#include <gdal_alg.h>
#include <ogr_api.h>

#include <cmath>
#include <mutex>
#endif

namespace globelayers {

#ifdef GLOBELAYERS_HAVE_GDAL

namespace {

// Blank cells are given this value and named as GDAL's no-data: its
// contour generator knows no NaN.
constexpr double kBlankValue = -3.0e38;

// Closes a GDAL dataset however the function leaves.
struct TDatasetCloser {
  GDALDatasetH handle = nullptr;
  ~TDatasetCloser() {
    if (handle != nullptr) GDALClose(handle);
  }
};

}  // namespace

bool ContourLinesAvailable() { return true; }

std::vector<TContourLine> ContourLines(const TContourRaster& raster, double level) {
  std::vector<TContourLine> lines;
  if (raster.width < 2 || raster.height < 2 || raster.values == nullptr ||
      (long long)raster.width * raster.height > kMaxContourCells || !(raster.cellWidthDeg > 0) ||
      !(raster.cellHeightDeg > 0) || !std::isfinite(level))
    return lines;
  static std::once_flag once;
  std::call_once(once, [] { GDALAllRegister(); });
  // GDAL's messages would reach standard error: the map goes without.
  CPLPushErrorHandler(CPLQuietErrorHandler);
  struct TPop {
    ~TPop() { CPLPopErrorHandler(); }
  } pop;

  // Both in memory: nothing is opened by name, nothing reaches a disk.
  GDALDriverH rasterDriver = GDALGetDriverByName("MEM");
  GDALDriverH vectorDriver = GDALGetDriverByName("Memory");
  if (rasterDriver == nullptr || vectorDriver == nullptr) return lines;
  TDatasetCloser source{GDALCreate(rasterDriver, "", raster.width, raster.height, 1, GDT_Float32, nullptr)};
  if (source.handle == nullptr) return lines;
  double transform[6] = {raster.westEdgeDeg, raster.cellWidthDeg, 0, raster.northEdgeDeg, 0, -raster.cellHeightDeg};
  GDALSetGeoTransform(source.handle, transform);
  GDALRasterBandH band = GDALGetRasterBand(source.handle, 1);
  std::vector<float> row(static_cast<std::size_t>(raster.width));
  for (int y = 0; y < raster.height; ++y) {
    const float* in = raster.values + static_cast<std::size_t>(y) * raster.width;
    for (int x = 0; x < raster.width; ++x) row[x] = std::isnan(in[x]) ? float(kBlankValue) : in[x];
    if (GDALRasterIO(band, GF_Write, 0, y, raster.width, 1, row.data(), raster.width, 1, GDT_Float32, 0, 0) != CE_None)
      return lines;
  }

  TDatasetCloser target{GDALCreate(vectorDriver, "", 0, 0, 0, GDT_Unknown, nullptr)};
  if (target.handle == nullptr) return lines;
  OGRLayerH layer = GDALDatasetCreateLayer(target.handle, "contour", nullptr, wkbLineString, nullptr);
  if (layer == nullptr) return lines;
  double levels[1] = {level};
  if (GDALContourGenerate(band, 0, 0, 1, levels, TRUE, kBlankValue, layer, -1, -1, nullptr, nullptr) != CE_None)
    return lines;

  OGR_L_ResetReading(layer);
  while (OGRFeatureH feature = OGR_L_GetNextFeature(layer)) {
    OGRGeometryH geometry = OGR_F_GetGeometryRef(feature);
    const int count = geometry != nullptr ? OGR_G_GetPointCount(geometry) : 0;
    if (count >= 2) {
      TContourLine& line = lines.emplace_back();
      line.reserve(static_cast<std::size_t>(count));
      for (int i = 0; i < count; ++i) line.push_back({OGR_G_GetX(geometry, i), OGR_G_GetY(geometry, i)});
    }
    OGR_F_Destroy(feature);
  }
  return lines;
}

#else

bool ContourLinesAvailable() { return false; }

std::vector<TContourLine> ContourLines(const TContourRaster&, double) { return {}; }

#endif

}  // namespace globelayers

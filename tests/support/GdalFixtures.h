// Rasters written by GDAL's own drivers, for the tests of the GDAL reader:
// a grid's nodes in memory (MEM), then copied into a file by the driver
// under test, or written variable by variable through GDAL's
// multidimensional API where a layout (a GMT-style netCDF file) needs it.
// Only in a build with GDAL.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <cpl_string.h>
#include <gdal_priv.h>
#include <ogr_spatialref.h>

namespace globelayers::test {

// Nodes as the grid holds them: column-major, row 0 at yMin (south).
struct TNodes {
  int nx = 0, ny = 0;
  double xMin = 0, xStep = 1;  // degrees of longitude
  double yMin = 0, yStep = 1;  // degrees of latitude
  std::vector<double> values;  // node (ix, iy) at ix * ny + iy
  double at(int ix, int iy) const { return values[std::size_t(ix) * std::size_t(ny) + std::size_t(iy)]; }
};

struct TDatasetCloser {
  void operator()(GDALDataset* d) const { GDALClose(GDALDataset::ToHandle(d)); }
};
using TDataset = std::unique_ptr<GDALDataset, TDatasetCloser>;

inline void RegisterGdal() {
  static const bool once = [] {
    GDALAllRegister();
    return true;
  }();
  (void)once;
}

enum class TRows { kNorthFirst, kSouthFirst };

// An in-memory raster of the nodes: pixel centres on the nodes, rows from
// the north (gt[5] < 0) or from the south (gt[5] > 0).
inline TDataset MemRaster(const TNodes& n, TRows rows, GDALDataType type = GDT_Float32, int bands = 1) {
  RegisterGdal();
  GDALDriver* mem = GetGDALDriverManager()->GetDriverByName("MEM");
  TDataset ds(mem->Create("", n.nx, n.ny, bands, type, nullptr));
  const bool north = rows == TRows::kNorthFirst;
  const double yMax = n.yMin + (n.ny - 1) * n.yStep;
  double gt[6] = {n.xMin - 0.5 * n.xStep, n.xStep, 0, north ? yMax + 0.5 * n.yStep : n.yMin - 0.5 * n.yStep,
                  0, north ? -n.yStep : n.yStep};
  ds->SetGeoTransform(gt);
  std::vector<double> line(std::size_t(n.nx) * std::size_t(n.ny));
  for (int r = 0; r < n.ny; ++r)
    for (int ix = 0; ix < n.nx; ++ix) line[std::size_t(r) * n.nx + ix] = n.at(ix, north ? n.ny - 1 - r : r);
  for (int b = 1; b <= bands; ++b)
    if (ds->GetRasterBand(b)->RasterIO(GF_Write, 0, 0, n.nx, n.ny, line.data(), n.nx, n.ny, GDT_Float64, 0, 0,
                                       nullptr) != CE_None)
      throw std::runtime_error("MEM write failed");
  return ds;
}

inline void SetGeographic(GDALDataset& ds) {
  OGRSpatialReference wgs84;
  wgs84.SetWellKnownGeogCS("WGS84");
  wgs84.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
  ds.SetSpatialRef(&wgs84);
}

// `source` copied into `path` by `driver` with its creation options.
inline std::string CopyWith(GDALDataset& source, const char* driver, const std::string& path,
                            const std::vector<std::string>& options = {}) {
  CPLStringList list;
  for (const auto& o : options) list.AddString(o.c_str());
  GDALDriver* d = GetGDALDriverManager()->GetDriverByName(driver);
  if (d == nullptr) throw std::runtime_error(std::string("no GDAL driver ") + driver);
  TDataset copy(d->CreateCopy(path.c_str(), &source, FALSE, list.List(), nullptr, nullptr));
  if (!copy) throw std::runtime_error("GDAL could not write " + path);
  return path;
}

// A netCDF file in the layout of GMT's own grids: 1-D coordinate variables
// x and y holding the node positions (south first) and z(y, x) in float,
// with node_offset 0 (gridline registration: the coordinates are the
// nodes), written variable by variable.
inline std::string WriteGmtNetcdf(const TNodes& n, const std::string& path, const char* variable = "z",
                                  const TNodes* second = nullptr) {
  RegisterGdal();
  GDALDriver* d = GetGDALDriverManager()->GetDriverByName("netCDF");
  TDataset ds(d->CreateMultiDimensional(path.c_str(), nullptr, nullptr));
  if (!ds) throw std::runtime_error("GDAL could not create " + path);
  auto root = ds->GetRootGroup();
  auto dimX = root->CreateDimension("x", GDAL_DIM_TYPE_HORIZONTAL_X, "", n.nx);
  auto dimY = root->CreateDimension("y", GDAL_DIM_TYPE_HORIZONTAL_Y, "", n.ny);
  const auto f64 = GDALExtendedDataType::Create(GDT_Float64);
  const auto f32 = GDALExtendedDataType::Create(GDT_Float32);
  const auto str = GDALExtendedDataType::CreateString();
  const auto writeAxis = [&](const char* name, const std::shared_ptr<GDALDimension>& dim, double first,
                             double step, int count) {
    auto axis = root->CreateMDArray(name, {dim}, f64);
    // As GMT writes a geographic grid's axes.
    const bool isX = name[0] == 'x';
    axis->CreateAttribute("long_name", {}, str)->Write(isX ? "longitude" : "latitude");
    axis->CreateAttribute("units", {}, str)->Write(isX ? "degrees_east" : "degrees_north");
    std::vector<double> v(count);
    for (int i = 0; i < count; ++i) v[i] = first + i * step;
    const GUInt64 start[1] = {0};
    const size_t size[1] = {size_t(count)};
    axis->Write(start, size, nullptr, nullptr, f64, v.data());
    const double range[2] = {v.front(), v.back()};
    auto actual = axis->CreateAttribute("actual_range", {2}, f64);
    actual->Write(range, 2);
  };
  writeAxis("x", dimX, n.xMin, n.xStep, n.nx);
  writeAxis("y", dimY, n.yMin, n.yStep, n.ny);
  const auto writeVariable = [&](const char* name, const TNodes& nodes) {
    auto z = root->CreateMDArray(name, {dimY, dimX}, f32);
    std::vector<float> v(std::size_t(n.nx) * std::size_t(n.ny));
    for (int iy = 0; iy < n.ny; ++iy)
      for (int ix = 0; ix < n.nx; ++ix) v[std::size_t(iy) * n.nx + ix] = float(nodes.at(ix, iy));
    const GUInt64 start[2] = {0, 0};
    const size_t size[2] = {size_t(n.ny), size_t(n.nx)};
    z->Write(start, size, nullptr, nullptr, f32, v.data());
    z->CreateAttribute("node_offset", {}, GDALExtendedDataType::Create(GDT_Int32))->Write(0.0);
  };
  writeVariable(variable, n);
  if (second != nullptr) writeVariable("w", *second);
  root->CreateAttribute("Conventions", {}, GDALExtendedDataType::CreateString())->Write("COARDS, CF-1.5");
  return path;
}

}  // namespace globelayers::test

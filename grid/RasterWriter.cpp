#include "RasterWriter.h"

#ifdef GLOBELAYERS_HAVE_GDAL
#include <cpl_conv.h>
#include <cpl_error.h>
#include <gdal_priv.h>
#include <ogr_spatialref.h>

#include <mutex>
#endif

namespace globelayers {

#ifdef GLOBELAYERS_HAVE_GDAL

namespace {

void RegisterDrivers() {
  static std::once_flag once;
  std::call_once(once, [] { GDALAllRegister(); });
}

// GDAL's last message, for the user's.
std::string GdalReason() {
  const char* reason = CPLGetLastErrorMsg();
  return reason && *reason ? std::string(": ") + reason : std::string();
}

// WGS 84 in longitude, latitude order.
OGRSpatialReference Wgs84() {
  OGRSpatialReference srs;
  srs.importFromEPSG(4326);
  srs.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
  return srs;
}

}  // namespace

struct TRasterWriter::TImpl {
  TRasterFormat format = TRasterFormat::NetCdf;
  TRasterGeometry geometry;
  std::string path;
  std::unique_ptr<GDALDataset> dataset;
  std::vector<std::shared_ptr<GDALMDArray>> arrays;  // netCDF: one per quantity

  bool Fail(std::string& message, const char* what) {
    message = std::string(what) + " " + path + GdalReason();
    arrays.clear();
    dataset.reset();
    return false;
  }

  bool OpenNetCdf(const std::vector<TRasterQuantity>& quantities,
                  const std::vector<std::pair<std::string, std::string>>& attributes, std::string& message) {
    GDALDriver* driver = GetGDALDriverManager()->GetDriverByName("netCDF");
    if (!driver) return Fail(message, "No netCDF driver in GDAL to write");
    dataset.reset(driver->CreateMultiDimensional(path.c_str(), nullptr, nullptr));
    if (!dataset) return Fail(message, "Error by opening file");
    const std::shared_ptr<GDALGroup> root = dataset->GetRootGroup();
    const auto text = [](const std::shared_ptr<GDALMDArray>& array, const char* name, const std::string& value) {
      const auto attribute = array->CreateAttribute(name, {}, GDALExtendedDataType::CreateString());
      return attribute && attribute->Write(value.c_str());
    };
    const auto globalText = [&root](const std::string& name, const std::string& value) {
      const auto attribute = root->CreateAttribute(name, {}, GDALExtendedDataType::CreateString());
      return attribute && attribute->Write(value.c_str());
    };
    if (!globalText("Conventions", "CF-1.8")) return Fail(message, "Error by writing file");
    for (const auto& [name, value] : attributes) {
      if (!globalText(name, value)) return Fail(message, "Error by writing file");
    }
    const auto real = GDALExtendedDataType::Create(GDT_Float64);
    const auto lat = root->CreateDimension("lat", GDAL_DIM_TYPE_HORIZONTAL_Y, "NORTH",
                                           static_cast<GUInt64>(geometry.rows));
    const auto lon = root->CreateDimension("lon", GDAL_DIM_TYPE_HORIZONTAL_X, "EAST",
                                           static_cast<GUInt64>(geometry.columns));
    if (!lat || !lon) return Fail(message, "Error by writing file");
    // The coordinate variables hold the nodes as the text result prints them.
    const struct {
      std::shared_ptr<GDALDimension> dimension;
      const char* standardName;
      const char* longName;
      const char* units;
      double from, to;
    } axes[] = {{lat, "latitude", "latitude", "degrees_north", geometry.southDeg, geometry.northDeg},
                {lon, "longitude", "longitude", "degrees_east", geometry.westDeg, geometry.eastDeg}};
    for (const auto& axis : axes) {
      const auto array = root->CreateMDArray(axis.dimension->GetName(), {axis.dimension}, real);
      if (!array || !text(array, "standard_name", axis.standardName) || !text(array, "long_name", axis.longName) ||
          !text(array, "units", axis.units)) {
        return Fail(message, "Error by writing file");
      }
      const auto n = static_cast<std::size_t>(axis.dimension->GetSize());
      std::vector<double> nodes(n);
      for (std::size_t i = 0; i < n; ++i) {
        nodes[i] = i + 1 == n ? axis.to
                              : axis.from + (axis.to - axis.from) * static_cast<double>(i) / static_cast<double>(n - 1);
      }
      const GUInt64 start[] = {0};
      const size_t count[] = {n};
      if (!array->Write(start, count, nullptr, nullptr, real, nodes.data())) {
        return Fail(message, "Error by writing file");
      }
      axis.dimension->SetIndexingVariable(array);
    }
    const OGRSpatialReference srs = Wgs84();
    for (const TRasterQuantity& quantity : quantities) {
      const auto array = root->CreateMDArray(quantity.name, {lat, lon}, real);
      if (!array || !text(array, "long_name", quantity.longName) || !text(array, "units", quantity.units)) {
        return Fail(message, "Error by writing file");
      }
      array->SetSpatialRef(&srs);
      arrays.push_back(array);
    }
    return true;
  }

  bool OpenGeoTiff(const std::vector<TRasterQuantity>& quantities,
                   const std::vector<std::pair<std::string, std::string>>& attributes, std::string& message) {
    GDALDriver* driver = GetGDALDriverManager()->GetDriverByName("GTiff");
    if (!driver) return Fail(message, "No GeoTIFF driver in GDAL to write");
    // Large rasters need BigTIFF; GDAL chooses it when the size asks for it.
    const char* options[] = {"BIGTIFF=IF_SAFER", "INTERLEAVE=BAND", nullptr};
    dataset.reset(driver->Create(path.c_str(), static_cast<int>(geometry.columns), static_cast<int>(geometry.rows),
                                 static_cast<int>(quantities.size()), GDT_Float64, const_cast<char**>(options)));
    if (!dataset) return Fail(message, "Error by opening file");
    // Pixel centres on the nodes: the pixels reach half a step beyond the edges.
    const double dx = (geometry.eastDeg - geometry.westDeg) / static_cast<double>(geometry.columns - 1);
    const double dy = (geometry.northDeg - geometry.southDeg) / static_cast<double>(geometry.rows - 1);
    double transform[6] = {geometry.westDeg - dx / 2, dx, 0, geometry.northDeg + dy / 2, 0, -dy};
    const OGRSpatialReference srs = Wgs84();
    if (dataset->SetGeoTransform(transform) != CE_None || dataset->SetSpatialRef(&srs) != CE_None) {
      return Fail(message, "Error by writing file");
    }
    for (const auto& [name, value] : attributes) dataset->SetMetadataItem(name.c_str(), value.c_str());
    for (std::size_t q = 0; q < quantities.size(); ++q) {
      GDALRasterBand* band = dataset->GetRasterBand(static_cast<int>(q) + 1);
      band->SetDescription(quantities[q].name.c_str());
      band->SetUnitType(quantities[q].units.c_str());
      band->SetMetadataItem("long_name", quantities[q].longName.c_str());
    }
    return true;
  }
};

bool RasterWritingAvailable() { return true; }

TRasterWriter::TRasterWriter() : impl_(std::make_unique<TImpl>()) {}

TRasterWriter::~TRasterWriter() {
  impl_->arrays.clear();
  impl_->dataset.reset();
}

bool TRasterWriter::Open(const std::string& path, TRasterFormat format, const TRasterGeometry& geometry,
                         const std::vector<TRasterQuantity>& quantities,
                         const std::vector<std::pair<std::string, std::string>>& attributes, std::string& message) {
  RegisterDrivers();
  CPLErrorReset();
  impl_->format = format;
  impl_->geometry = geometry;
  impl_->path = path;
  CPLPushErrorHandler(CPLQuietErrorHandler);
  const bool opened = format == TRasterFormat::NetCdf ? impl_->OpenNetCdf(quantities, attributes, message)
                                                      : impl_->OpenGeoTiff(quantities, attributes, message);
  CPLPopErrorHandler();
  return opened;
}

bool TRasterWriter::WriteRow(long long row, const std::vector<double>& values, std::string& message) {
  TImpl& d = *impl_;
  if (!d.dataset) return false;
  const auto columns = static_cast<std::size_t>(d.geometry.columns);
  CPLPushErrorHandler(CPLQuietErrorHandler);
  bool ok = true;
  if (d.format == TRasterFormat::NetCdf) {
    const auto real = GDALExtendedDataType::Create(GDT_Float64);
    for (std::size_t q = 0; q < d.arrays.size() && ok; ++q) {
      const GUInt64 start[] = {static_cast<GUInt64>(row), 0};
      const size_t count[] = {1, columns};
      ok = d.arrays[q]->Write(start, count, nullptr, nullptr, real, values.data() + q * columns);
    }
  } else {
    // GeoTIFF rows run from the north.
    const int line = static_cast<int>(d.geometry.rows - 1 - row);
    for (int q = 0; q < d.dataset->GetRasterCount() && ok; ++q) {
      ok = d.dataset->GetRasterBand(q + 1)->RasterIO(GF_Write, 0, line, static_cast<int>(columns), 1,
                                                      const_cast<double*>(values.data() + q * columns),
                                                      static_cast<int>(columns), 1, GDT_Float64, 0, 0) == CE_None;
    }
  }
  CPLPopErrorHandler();
  if (!ok) d.Fail(message, "Error by writing file");
  return ok;
}

bool TRasterWriter::Close(std::string& message) {
  TImpl& d = *impl_;
  if (!d.dataset) return false;
  CPLPushErrorHandler(CPLQuietErrorHandler);
  CPLErrorReset();
  d.arrays.clear();
  d.dataset->FlushCache(true);
  d.dataset.reset();  // closes the file
  const bool ok = CPLGetLastErrorType() < CE_Failure;
  CPLPopErrorHandler();
  if (!ok) message = "Error by writing file " + d.path + GdalReason();
  return ok;
}

#else  // no GDAL

struct TRasterWriter::TImpl {};

bool RasterWritingAvailable() { return false; }

TRasterWriter::TRasterWriter() = default;
TRasterWriter::~TRasterWriter() = default;

bool TRasterWriter::Open(const std::string&, TRasterFormat, const TRasterGeometry&, const std::vector<TRasterQuantity>&,
                         const std::vector<std::pair<std::string, std::string>>&, std::string& message) {
  message = kNoRasterBuildText;
  return false;
}

bool TRasterWriter::WriteRow(long long, const std::vector<double>&, std::string&) { return false; }

bool TRasterWriter::Close(std::string&) { return false; }

#endif

}  // namespace globelayers

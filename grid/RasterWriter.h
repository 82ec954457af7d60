// Result rasters through GDAL: a CF netCDF file and a GeoTIFF, written row
// by row from the south, so that only one row of values is ever held. In a
// build without GDAL every Open fails with kNoRasterBuildText.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace globelayers {

// Why a run cannot write rasters in this build.
inline constexpr char kNoRasterBuildText[] =
    "This build has no GDAL: it cannot write netCDF or GeoTIFF results. Remove the grid of points, or use a build "
    "with GDAL (Debian's libgdal-dev).";

// Whether this build writes rasters.
bool RasterWritingAvailable();

enum class TRasterFormat { NetCdf, GeoTiff };

// One quantity of the raster: a netCDF variable, a GeoTIFF band.
struct TRasterQuantity {
  std::string name;      // variable name / band description: "DTE", "DTE_layer2"
  std::string longName;  // CF long_name
  std::string units;     // "mGal", "microGal", "mGal/m"
};

// Where the nodes lie: columns from westDeg to eastDeg, rows from southDeg
// to northDeg, evenly spaced, edges exact.
struct TRasterGeometry {
  long long columns = 0;
  long long rows = 0;
  double westDeg = 0, eastDeg = 0;    // degrees of longitude, first and last column
  double southDeg = 0, northDeg = 0;  // degrees of latitude, first and last row
};

class TRasterWriter {
 public:
  TRasterWriter();
  ~TRasterWriter();  // closes; the caller decides whether the file stays
  TRasterWriter(const TRasterWriter&) = delete;
  TRasterWriter& operator=(const TRasterWriter&) = delete;

  // Creates `path` (replacing what is there). `attributes` become global
  // attributes (netCDF) or dataset metadata (GeoTIFF). False with `message`
  // naming the file when it cannot be created.
  bool Open(const std::string& path, TRasterFormat format, const TRasterGeometry& geometry,
            const std::vector<TRasterQuantity>& quantities,
            const std::vector<std::pair<std::string, std::string>>& attributes, std::string& message);
  // Row `row` (0: the southernmost) of every quantity: quantity q's value
  // of column c at values[q * columns + c]. False with `message` on a write error.
  bool WriteRow(long long row, const std::vector<double>& values, std::string& message);
  // Writes what is pending and closes; false with `message` when that failed.
  bool Close(std::string& message);

 private:
  struct TImpl;
  std::unique_ptr<TImpl> impl_;
};

}  // namespace globelayers

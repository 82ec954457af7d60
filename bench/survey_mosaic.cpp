// The data of bench/survey_mosaic.sh: a survey region's 1-arc-second DEM as
// 1 x 1 degree GeoTIFF tiles (written through GDAL, Int16, tiled 256 x 256,
// ZSTD with horizontal differencing), the 30-arc-second global grid around
// it (GeoTIFF, the same layout; ZSTD level 1, as the default level 9 took
// 5 s a tile on the loaded 2-core machine) and the stations of one 1 x 1 degree survey
// area, on the surface.
//   build/bench/globelayers_surveymosaic DIR LON0 LAT0 TILES STATIONS
// writes DIR/tiles/N<lat>E<lon>.tif for TILES x TILES degrees from LON0
// LAT0 (degrees, whole), DIR/global30.tif and DIR/stations.dat (STATIONS
// stations in the degree at the middle of the tiles: lon lat id height, the
// height that the tiles' bilinear surface has there, metres) and
// DIR/slopes.dat (id, slope of the surface's cell under the station,
// degrees). A tile holds 3601 x 3601 nodes, its edges shared with its
// neighbours, as SRTM tiles do.
//
// The surface: the waves of bench/grid_reach.cpp (30 degrees down to 4
// arc-minutes, 5 to 2400 m) everywhere, and inside the tiles relief of
// 0.4 to 1.8 km waves (25 to 120 m, slopes up to about 50 degrees) that
// fades out over the outer half degree of the tiles, so the tiles meet the
// global grid without a step. A node of the global grid holds the mean of
// the surface over its 30" cell (each wave's box mean, exactly), as a
// grid averaged down from the 1" relief would.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <gdal_priv.h>

namespace {

constexpr double kRad = 0.017453292519943295;  // radians per degree

struct TWave {
  double amplitude;  // metres
  double cyclesX;    // waves per radian of longitude
  double cyclesY;    // waves per radian of latitude
  double phase;      // radians
};

// Waves of the whole globe, as bench/grid_reach.cpp: sin in longitude times
// cos in latitude.
constexpr std::array<TWave, 6> kSwell{{
    {2400, 12, 12, 0.3},
    {900, 97, 122, 1.1},
    {500, 403, 514, 2.0},
    {300, 1601, 2206, 0.7},
    {160, 3203, 4022, 1.9},
    {90, 5399, 5398, 2.6},
}};

// The survey region's relief: wavelengths of 1.8, 0.9 and 0.4 km (near 45
// degrees north, where a degree of longitude is 79 km).
constexpr std::array<TWave, 3> kRelief{{
    {120, 15727, 22350, 0.4},
    {60, 31486, 44743, 2.2},
    {25, 70830, 100575, 1.3},
}};

// Box mean of sin(k x + p) over a cell of `width` radians centred on x,
// over the value at x: sin(k w / 2) / (k w / 2).
double BoxFactor(double k, double width) {
  const double a = k * width / 2;
  return a == 0 ? 1 : std::sin(a) / a;
}

struct TRegion {
  double lon0, lat0, lon1, lat1;  // degrees
};

// 1 inside the tiles, fading (cosine) to 0 over their outer half degree.
double Fade(const TRegion& r, double lon, double lat) {
  const double inside = std::min({lon - r.lon0, r.lon1 - lon, lat - r.lat0, r.lat1 - lat});  // degrees
  if (inside <= 0) return 0;
  if (inside >= 0.5) return 1;
  return 0.5 - 0.5 * std::cos(inside / 0.5 * M_PI);
}

// The surface on a lattice of nodes `cell` degrees apart, or its means
// over cells of that size (`means`): the waves are separable, so each row
// is a sum of column tables times row factors.
class TLattice {
 public:
  TLattice(const TRegion& region, double lonW, int nx, double cell, bool means)
      : region_(region), lonW_(lonW), cell_(cell), means_(means), nx_(nx) {
    const double w = means ? cell * kRad : 0;
    for (std::size_t k = 0; k < kAll; ++k) {
      const TWave& s = Wave(k);
      columns_[k].resize(nx);
      for (int ix = 0; ix < nx; ++ix)
        columns_[k][ix] = s.amplitude * std::sin(s.cyclesX * (lonW + ix * cell) * kRad + s.phase) *
                          BoxFactor(s.cyclesX, w);
    }
  }
  // Row of latitude lat (degrees) into out[0 .. nx).
  void Row(double lat, std::int16_t* out) const {
    const double w = means_ ? cell_ * kRad : 0;
    std::array<double, kAll> f{};
    for (std::size_t k = 0; k < kAll; ++k) {
      const TWave& s = Wave(k);
      f[k] = std::cos(s.cyclesY * lat * kRad + (k < kSwell.size() ? 0 : s.phase)) * BoxFactor(s.cyclesY, w);
    }
    const bool relief = lat > region_.lat0 && lat < region_.lat1;
    for (int ix = 0; ix < nx_; ++ix) {
      double v = 200;
      for (std::size_t k = 0; k < kSwell.size(); ++k) v += f[k] * columns_[k][ix];
      if (relief) {
        const double fade = Fade(region_, lonW_ + ix * cell_, lat);
        if (fade > 0) {
          double d = 0;
          for (std::size_t k = kSwell.size(); k < kAll; ++k) d += f[k] * columns_[k][ix];
          v += fade * d;
        }
      }
      out[ix] = static_cast<std::int16_t>(std::lround(v));
    }
  }

 private:
  static constexpr std::size_t kAll = kSwell.size() + kRelief.size();
  static const TWave& Wave(std::size_t k) { return k < kSwell.size() ? kSwell[k] : kRelief[k - kSwell.size()]; }
  TRegion region_;
  double lonW_, cell_;  // degrees
  bool means_;
  int nx_;
  std::array<std::vector<double>, kAll> columns_;
};

// A north-up Int16 GeoTIFF of nx x ny nodes, its pixels centred on the
// nodes from (lonW, latN), `step` degrees apart, rows filled by `row`.
template <class Row>
bool WriteTiff(const std::string& path, int nx, int ny, double lonW, double latN, double step, Row row) {
  GDALDriver* driver = GetGDALDriverManager()->GetDriverByName("GTiff");
  const char* options[] = {"TILED=YES", "BLOCKXSIZE=256", "BLOCKYSIZE=256", "COMPRESS=ZSTD", "ZSTD_LEVEL=1", "PREDICTOR=2",
                           "BIGTIFF=IF_SAFER", nullptr};
  GDALDataset* out = driver->Create(path.c_str(), nx, ny, 1, GDT_Int16, const_cast<char**>(options));
  if (out == nullptr) return false;
  double gt[6] = {lonW - step / 2, step, 0, latN + step / 2, 0, -step};
  out->SetGeoTransform(gt);
  out->SetProjection(SRS_WKT_WGS84_LAT_LONG);
  std::vector<std::int16_t> block(std::size_t(nx) * 256);
  bool ok = true;
  for (int y0 = 0; y0 < ny && ok; y0 += 256) {
    const int rows = std::min(256, ny - y0);
    for (int j = 0; j < rows; ++j) row(y0 + j, &block[std::size_t(j) * nx]);
    ok = out->GetRasterBand(1)->RasterIO(GF_Write, 0, y0, nx, rows, block.data(), nx, rows, GDT_Int16, 0, 0) ==
         CE_None;
  }
  GDALClose(out);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 6) {
    std::fprintf(stderr, "usage: %s DIR LON0 LAT0 TILES STATIONS\n", argv[0]);
    return 2;
  }
  const std::string dir = argv[1];
  const int lon0 = std::atoi(argv[2]), lat0 = std::atoi(argv[3]), tiles = std::atoi(argv[4]);
  const int stations = std::atoi(argv[5]);
  const TRegion region{double(lon0), double(lat0), double(lon0 + tiles), double(lat0 + tiles)};
  GDALAllRegister();
  CPLSetConfigOption("GDAL_NUM_THREADS", "1");

  // Tiles of 1": 3601 nodes each way.
  constexpr int kTileNodes = 3601;
  constexpr double kArcSec = 1.0 / 3600;  // degrees
  for (int ty = 0; ty < tiles; ++ty) {
    for (int tx = 0; tx < tiles; ++tx) {
      const int lonW = lon0 + tx, latS = lat0 + ty;
      char name[64];
      std::snprintf(name, sizeof name, "/tiles/N%02dE%03d.tif", latS, lonW);
      const TLattice lattice(region, lonW, kTileNodes, kArcSec, false);
      const bool ok = WriteTiff(dir + name, kTileNodes, kTileNodes, lonW, latS + 1.0, kArcSec,
                                [&](int iy, std::int16_t* out) { lattice.Row(latS + 1.0 - iy * kArcSec, out); });
      if (!ok) {
        std::fprintf(stderr, "cannot write %s%s\n", dir.c_str(), name);
        return 1;
      }
    }
    std::fprintf(stderr, "tile row %d of %d\n", ty + 1, tiles);
  }

  // The global grid: 30" cell means, 43201 x 21601 nodes from 180 W, 90 N.
  constexpr double kCell = 30.0 / 3600;  // degrees
  const TLattice global(region, -180, 43201, kCell, true);
  if (!WriteTiff(dir + "/global30.tif", 43201, 21601, -180, 90, kCell,
                 [&](int iy, std::int16_t* out) { global.Row(90 - iy * kCell, out); })) {
    std::fprintf(stderr, "cannot write %s/global30.tif\n", dir.c_str());
    return 1;
  }

  // Stations in the middle degree, a lattice of about sqrt(STATIONS) a
  // side shaken off the nodes, each on the tiles' bilinear surface.
  std::FILE* points = std::fopen((dir + "/stations.dat").c_str(), "w");
  std::FILE* slopes = std::fopen((dir + "/slopes.dat").c_str(), "w");
  if (points == nullptr || slopes == nullptr) return 1;
  const int side = std::max(1, int(std::ceil(std::sqrt(double(stations)))));
  const double midLon = lon0 + tiles / 2, midLat = lat0 + tiles / 2;  // degrees, whole
  std::uint32_t seed = 12345;
  const auto shake = [&seed] {  // 0 .. 1
    seed = seed * 1664525u + 1013904223u;
    return (seed >> 8) / 16777216.0;
  };
  for (int n = 0; n < stations; ++n) {
    const double lon = midLon + (n % side + shake()) / side, lat = midLat + (n / side + shake()) / side;
    const double fx = (lon - lon0) * 3600, fy = (lat - lat0) * 3600;  // arc-seconds from the tiles' corner
    const double ix = std::floor(fx), iy = std::floor(fy), u = fx - ix, v = fy - iy;
    // The four nodes of the station's cell, as the tiles hold them.
    const auto z = [&](double i, double j) {
      const TLattice node(region, lon0 + i / 3600, 1, kArcSec, false);
      std::int16_t value;
      node.Row(lat0 + j / 3600, &value);
      return double(value);
    };
    const double z00 = z(ix, iy), z10 = z(ix + 1, iy), z01 = z(ix, iy + 1), z11 = z(ix + 1, iy + 1);
    const double height = (1 - v) * ((1 - u) * z00 + u * z10) + v * ((1 - u) * z01 + u * z11);
    // The cell's slope: its mean gradient over the node distances, metres.
    const double dx = 6371000 * kRad * kArcSec * std::cos(lat * kRad), dy = 6371000 * kRad * kArcSec;
    const double gx = ((z10 - z00) + (z11 - z01)) / 2 / dx, gy = ((z01 - z00) + (z11 - z10)) / 2 / dy;
    std::fprintf(points, "%.6f %.6f %d %.3f\n", lon, lat, n + 1, height);
    std::fprintf(slopes, "%d %.1f\n", n + 1, std::atan(std::hypot(gx, gy)) / kRad);
  }
  return std::fclose(points) == 0 && std::fclose(slopes) == 0 ? 0 : 1;
}

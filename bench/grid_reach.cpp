// The data of bench/grid_reach.sh: a rough 1-arc-minute global surface as a
// Surfer 6 grid (21601 x 10801 nodes, 0.93 GB), and in a build with GDAL
// the same surface averaged by GDAL's warper to 15 arc-minutes (1441 x 721
// nodes on the 15' lattice, pixels of 0.25 degrees centred on the nodes).
//   build/bench/globelayers_gridreach G1.grd [G15.tif]
// The surface: a sum of waves from 30 degrees down to 4 arc-minutes
// (5 to 2400 m), slopes up to about 35 degrees.
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#ifdef GLOBELAYERS_HAVE_GDAL
#include <gdal_priv.h>
#include <gdal_utils.h>
#endif

namespace {

constexpr int kNx = 21601, kNy = 10801;
constexpr double kRad = 0.017453292519943295;  // radians per degree

struct TWave {
  double amplitude;  // metres
  double cyclesX;    // waves round the equator
  double cyclesY;    // waves from pole to pole
  double phase;      // radians
};

// From a continent-size swell to the 4' ripples of rough terrain.
constexpr std::array<TWave, 6> kWaves{{
    {2400, 12, 6, 0.3},
    {900, 97, 61, 1.1},
    {500, 403, 257, 2.0},
    {300, 1601, 1103, 0.7},
    {160, 3203, 2011, 1.9},
    {90, 5399, 2699, 2.6},
}};

bool WriteG1(const char* path) {
  std::FILE* f = std::fopen(path, "wb");
  if (f == nullptr) return false;
  std::fwrite("DSBB", 1, 4, f);
  const std::int16_t counts[2] = {kNx, kNy};
  std::fwrite(counts, 2, 2, f);
  const double bounds[6] = {-180, 180, -90, 90, -5000, 5000};
  std::fwrite(bounds, 8, 6, f);
  // Separable waves: a table per column and per row.
  std::vector<std::array<double, kWaves.size()>> columns(kNx);
  for (int ix = 0; ix < kNx; ++ix) {
    const double x = (-180 + ix / 60.0) * kRad;
    for (std::size_t k = 0; k < kWaves.size(); ++k) columns[ix][k] = std::sin(kWaves[k].cyclesX * x + kWaves[k].phase);
  }
  std::vector<float> row(kNx);
  for (int iy = 0; iy < kNy; ++iy) {
    const double y = (-90 + iy / 60.0) * kRad;
    std::array<double, kWaves.size()> c{};
    for (std::size_t k = 0; k < kWaves.size(); ++k) c[k] = kWaves[k].amplitude * std::cos(kWaves[k].cyclesY * y * 2);
    for (int ix = 0; ix < kNx; ++ix) {
      double v = 200;
      for (std::size_t k = 0; k < kWaves.size(); ++k) v += c[k] * columns[ix][k];
      row[ix] = float(v);
    }
    if (std::fwrite(row.data(), 4, kNx, f) != std::size_t(kNx)) return false;
  }
  return std::fclose(f) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s G1.grd [G15.tif]\n", argv[0]);
    return 2;
  }
  if (!WriteG1(argv[1])) {
    std::fprintf(stderr, "cannot write %s\n", argv[1]);
    return 1;
  }
  if (argc < 3) return 0;
#ifdef GLOBELAYERS_HAVE_GDAL
  GDALAllRegister();
  GDALDatasetH source = GDALOpen(argv[1], GA_ReadOnly);
  if (source == nullptr) return 1;
  const char* args[] = {"-te", "-180.125", "-90.125", "180.125", "90.125", "-tr", "0.25", "0.25",
                        "-r", "average", "-ot", "Float32", "-of", "GTiff", nullptr};
  GDALWarpAppOptions* options = GDALWarpAppOptionsNew(const_cast<char**>(args), nullptr);
  int failed = 0;
  GDALDatasetH out = GDALWarp(argv[2], nullptr, 1, &source, options, &failed);
  GDALWarpAppOptionsFree(options);
  if (out != nullptr) GDALClose(out);
  GDALClose(source);
  return failed || out == nullptr ? 1 : 0;
#else
  std::fprintf(stderr, "a build without GDAL cannot average the grid\n");
  return 1;
#endif
}

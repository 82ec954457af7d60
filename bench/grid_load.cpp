// Load time and peak memory of a 1-arc-minute global grid (21601 x 10801
// nodes). Writes the grid once (streamed, row by row) if it is missing, then
// loads it with the project's reader and prints the figures.
//   build/bench/globelayers_gridload [s6|s7] [path]
// In a build with GDAL, also:
//   build/bench/globelayers_gridload compare [repetitions]
// writes the same nodes as a Surfer 6 grid and as a Float32 GeoTIFF (north-up,
// uncompressed strips) and loads them alternately, each load in a process
// of its own so that its peak memory is its own; prints every load, then the
// medians and the ratio of the GeoTIFF's to the Surfer 6 grid's.
//   build/bench/globelayers_gridload arcsec30 [path]
// writes a 30-arc-second global Float32 GeoTIFF (43201 x 21601 nodes, 3.5 GiB)
// and loads it once.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#ifdef GLOBELAYERS_HAVE_GDAL
#include <gdal_priv.h>
#include <ogr_spatialref.h>
#endif

#include "GridImports.h"

namespace {

constexpr int kNx = 21601, kNy = 10801;

class TPrintPrompts : public globelayers::IUserPrompts {
 public:
  void ShowMessage(const std::string& text) override { std::fprintf(stderr, "%s\n", text.c_str()); }
  bool AskYesNo(const std::string&) override { return false; }
};

double Value(int ix, int iy) { return 3000 * std::sin(ix * 0.001) * std::cos(iy * 0.0013); }

void Write(const std::string& path, bool surfer7) {
  std::ofstream out(path, std::ios::binary);
  const auto put = [&out](const auto& v) { out.write(reinterpret_cast<const char*>(&v), sizeof v); };
  if (surfer7) {
    out.write("DSRB", 4), put(std::int32_t{4}), put(std::int32_t{2});
    out.write("GRID", 4), put(std::int32_t{72}), put(std::int32_t{kNy}), put(std::int32_t{kNx});
    for (double v : {-180.0, -90.0, 1.0 / 60, 1.0 / 60, -3000.0, 3000.0, 0.0, 1.70141e38}) put(v);
    out.write("DATA", 4), put(std::int32_t(std::int64_t{kNx} * kNy * 8 > INT32_MAX ? 0 : kNx * kNy * 8));
  } else {
    out.write("DSBB", 4), put(std::int16_t{kNx}), put(std::int16_t{kNy});
    for (double v : {-180.0, 180.0, -90.0, 90.0, -3000.0, 3000.0}) put(v);
  }
  std::vector<char> row;
  for (int iy = 0; iy < kNy; ++iy) {
    row.clear();
    for (int ix = 0; ix < kNx; ++ix) {
      if (surfer7) {
        const double v = Value(ix, iy);
        row.insert(row.end(), reinterpret_cast<const char*>(&v), reinterpret_cast<const char*>(&v) + 8);
      } else {
        const float v = float(Value(ix, iy));
        row.insert(row.end(), reinterpret_cast<const char*>(&v), reinterpret_cast<const char*>(&v) + 4);
      }
    }
    out.write(row.data(), static_cast<std::streamsize>(row.size()));
  }
}

struct TLoadFigures {
  bool loaded = false;
  double seconds = 0;
  double cpuSeconds = 0;  // user and system time of the load: less disturbed by a busy machine
  double peakMiB = 0;     // the process's peak resident memory after the load
  double floatsMiB = 0;   // the grid's float values
  float probe = 0;        // node (100, 200), so that a fast wrong load shows
  int nx = 0, ny = 0;
};

TLoadFigures LoadOnce(const std::string& path) {
  TPrintPrompts prompts;
  globelayers::TGridImports grid;
  TLoadFigures f;
  const auto cpu = [](const rusage& u) {
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + 1e-6 * double(u.ru_utime.tv_usec + u.ru_stime.tv_usec);
  };
  rusage before{};
  getrusage(RUSAGE_SELF, &before);
  const auto t0 = std::chrono::steady_clock::now();
  f.loaded = globelayers::LoadGrid(grid, path, prompts);
  f.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  f.cpuSeconds = cpu(usage) - cpu(before);
  f.peakMiB = usage.ru_maxrss / 1024.0;
  f.floatsMiB = double(grid.nx) * double(grid.ny) * 4 / (1 << 20);
  f.nx = grid.nx, f.ny = grid.ny;
  if (f.loaded) f.probe = grid.at(100, 200);
  return f;
}

void Print(const std::string& path, const TLoadFigures& f) {
  std::printf("%s: %s, %d x %d nodes, value %.3f at (100, 200)\n", path.c_str(), f.loaded ? "loaded" : "FAILED",
              f.nx, f.ny, f.probe);
  std::printf("load time %.2f s (CPU %.2f s); peak memory %.0f MiB (float values %.0f MiB)\n", f.seconds,
              f.cpuSeconds, f.peakMiB, f.floatsMiB);
}

#ifdef GLOBELAYERS_HAVE_GDAL
// The same nodes as Write's Surfer 6 grid, north-up, uncompressed strips.
void WriteGeoTiff(const std::string& path, int nx, int ny) {
  GDALAllRegister();
  GDALDriver* tif = GetGDALDriverManager()->GetDriverByName("GTiff");
  const char* options[] = {"BIGTIFF=IF_SAFER", nullptr};
  GDALDataset* ds = tif->Create(path.c_str(), nx, ny, 1, GDT_Float32, const_cast<char**>(options));
  const double step = 360.0 / (nx - 1);  // degrees
  double gt[6] = {-180 - step / 2, step, 0, 90 + step / 2, 0, -step};
  ds->SetGeoTransform(gt);
  OGRSpatialReference wgs84;
  wgs84.SetWellKnownGeogCS("WGS84");
  ds->SetSpatialRef(&wgs84);
  std::vector<float> row(nx);
  GDALRasterBand* band = ds->GetRasterBand(1);
  for (int r = 0; r < ny; ++r) {
    const int iy = ny - 1 - r;  // GDAL's first row is the northern one
    for (int ix = 0; ix < nx; ++ix) row[ix] = float(Value(ix, iy));
    if (band->RasterIO(GF_Write, 0, r, nx, 1, row.data(), nx, 1, GDT_Float32, 0, 0, nullptr) != CE_None) break;
  }
  GDALClose(ds);
}

// One load in a fresh process (this program again, mode "load"): its peak
// memory is the load's alone, not what the writer left behind in this one.
TLoadFigures LoadInChild(const char* self, const std::string& path) {
  int fds[2];
  if (pipe(fds) != 0) return {};
  const pid_t child = fork();
  if (child == 0) {
    close(fds[0]);
    const std::string fd = std::to_string(fds[1]);
    execl(self, self, "load", path.c_str(), fd.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  TLoadFigures f;
  const ssize_t got = read(fds[0], &f, sizeof f);
  close(fds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  if (got != ssize_t(sizeof f)) f.loaded = false;
  return f;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

int Compare(const char* self, int repetitions) {
  const auto temp = std::filesystem::temp_directory_path();
  const std::string s6 = (temp / "globelayers_1min_s6.grd").string();
  const std::string tif = (temp / "globelayers_1min.tif").string();
  if (!std::filesystem::exists(s6)) {
    std::printf("writing %s ...\n", s6.c_str());
    Write(s6, false);
  }
  if (!std::filesystem::exists(tif)) {
    std::printf("writing %s ...\n", tif.c_str());
    WriteGeoTiff(tif, kNx, kNy);
  }
  std::vector<double> s6Seconds, tifSeconds, s6Cpu, tifCpu, s6Peak, tifPeak;
  bool ok = true;
  for (int rep = 0; rep < repetitions; ++rep) {
    for (const bool geoTiff : {false, true}) {
      const std::string& path = geoTiff ? tif : s6;
      const TLoadFigures f = LoadInChild(self, path);
      Print(path, f);
      ok = ok && f.loaded;
      (geoTiff ? tifSeconds : s6Seconds).push_back(f.seconds);
      (geoTiff ? tifCpu : s6Cpu).push_back(f.cpuSeconds);
      (geoTiff ? tifPeak : s6Peak).push_back(f.peakMiB);
    }
  }
  const double floatsMiB = double(kNx) * kNy * 4 / (1 << 20);
  std::printf("\nmedians of %d loads each (float values %.0f MiB):\n", repetitions, floatsMiB);
  std::printf("  Surfer 6: %.2f s (CPU %.2f s), peak %.0f MiB\n", Median(s6Seconds), Median(s6Cpu), Median(s6Peak));
  std::printf("  GeoTIFF:  %.2f s (CPU %.2f s), peak %.0f MiB\n", Median(tifSeconds), Median(tifCpu),
              Median(tifPeak));
  std::printf("  GeoTIFF / Surfer 6: time %.2f, CPU time %.2f; GeoTIFF peak memory over float values %.3f\n",
              Median(tifSeconds) / Median(s6Seconds), Median(tifCpu) / Median(s6Cpu), Median(tifPeak) / floatsMiB);
  return ok ? 0 : 1;
}

int ThirtyArcSeconds(const std::string& path) {
  if (!std::filesystem::exists(path)) {
    std::printf("writing %s ...\n", path.c_str());
    WriteGeoTiff(path, 43201, 21601);
  }
  const TLoadFigures f = LoadOnce(path);
  Print(path, f);
  return f.loaded ? 0 : 1;
}
#endif

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "s6";
#ifdef GLOBELAYERS_HAVE_GDAL
  if (mode == "compare") return Compare(argv[0], argc > 2 ? std::max(1, std::atoi(argv[2])) : 5);
  if (mode == "load" && argc > 3) {  // the child of compare: figures to the descriptor given
    const TLoadFigures f = LoadOnce(argv[2]);
    return write(std::atoi(argv[3]), &f, sizeof f) == ssize_t(sizeof f) ? 0 : 1;
  }
  if (mode == "arcsec30")
    return ThirtyArcSeconds(argc > 2 ? argv[2]
                                     : (std::filesystem::temp_directory_path() / "globelayers_30sec.tif").string());
#endif
  const bool surfer7 = mode == "s7";
  const std::string path = argc > 2 ? argv[2]
                                    : (std::filesystem::temp_directory_path() /
                                       (surfer7 ? "globelayers_1min_s7.grd" : "globelayers_1min_s6.grd"))
                                          .string();
  if (!std::filesystem::exists(path)) {
    std::printf("writing %s ...\n", path.c_str());
    Write(path, surfer7);
  }
  const TLoadFigures f = LoadOnce(path);
  Print(path, f);
  return f.loaded ? 0 : 1;
}

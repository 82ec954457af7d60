// Benchmarks of the innermost operations and of a whole run.
//   cmake -S . -B build -DGLOBELAYERS_BENCH=ON && cmake --build build -j
//   build/bench/globelayers_bench
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "Calculation.h"
#include "Geodesy.h"
#include "GridImports.h"
#include "GridMeans.h"
#include "LayerModel.h"
#include "RingLayout.h"
#include "SegmentLoops.h"
#include "VectorMath.h"

namespace gl = globelayers;

namespace {

void BM_AttractionKernel(benchmark::State& state) {
  double psi = 0.25, r1 = 6371000.0, r = 6371100.0;  // radians, metres
  for (auto _ : state) {
    benchmark::DoNotOptimize(psi);
    benchmark::DoNotOptimize(gl::AttractionKernel(psi, r1, r));
  }
}
BENCHMARK(BM_AttractionKernel);

void BM_GeodeticDirect(benchmark::State& state) {
  double lat = 0.8, lon = 0.2, psi = 0.3, azi = 1.1;  // radians
  for (auto _ : state) {
    benchmark::DoNotOptimize(lat);
    benchmark::DoNotOptimize(gl::GeodeticDirect(lat, lon, psi, azi, 6371001.0, 0.0));
  }
}
BENCHMARK(BM_GeodeticDirect);

class TQuietPrompts : public gl::IUserPrompts {
 public:
  void ShowMessage(const std::string& text) override { std::fprintf(stderr, "%s\n", text.c_str()); }
  bool AskYesNo(const std::string&) override { return false; }
};

// A global 1-degree Surfer 6 grid of smooth synthetic topography.
std::string MakeTopography(const std::filesystem::path& dir) {
  const std::string path = (dir / "topo1deg.grd").string();
  std::ofstream out(path, std::ios::binary);
  const std::int16_t nx = 361, ny = 181;
  const double head[] = {-180, 180, -90, 90, -8000, 6000};
  out.write("DSBB", 4);
  out.write(reinterpret_cast<const char*>(&nx), 2);
  out.write(reinterpret_cast<const char*>(&ny), 2);
  out.write(reinterpret_cast<const char*>(head), sizeof head);
  for (int iy = 0; iy < ny; ++iy) {
    for (int ix = 0; ix < nx; ++ix) {
      const double x = -180 + ix, y = -90 + iy;
      const float v = float(3000 * std::sin(x * 0.05) * std::cos(y * 0.07) - 1000);
      out.write(reinterpret_cast<const char*>(&v), 4);
    }
  }
  return path;
}

// A whole run: default zone, one layer between a 1-degree grid and sea level.
// Arguments: points, increment (m), threads.
void BM_WholeRun(benchmark::State& state) {
  const int points = static_cast<int>(state.range(0));
  const auto dir = std::filesystem::temp_directory_path() / "globelayers_bench";
  std::filesystem::create_directories(dir);
  const std::string grid = MakeTopography(dir);
  {
    std::ofstream pts(dir / "points.dat");
    for (int i = 0; i < points; ++i) {
      pts << (-170 + (i * 37) % 340) << ' ' << (-80 + (i * 23) % 160) << ' ' << i + 1 << " 100\n";
    }
  }
  gl::TRunParameters p;
  p.dataFile = (dir / "points.dat").string();
  p.layers = {{.elevation = {.grids = {{grid}}}}, {.elevation = {.constant = 0.0}, .density = {.constant = 2.67}}};
  p.rowCount = 2;
  p.increment = static_cast<double>(state.range(1));
  gl::TRunOptions options;
  options.threads = static_cast<int>(state.range(2));
  const auto layout = gl::BuildRingLayout(0, gl::kPi, 0, gl::kTwoPi, 3600, 6371001);
  long segments = 0;
  for (int k = 0; k < layout->ringCount(); ++k) segments += layout->segmentCounts[k];

  gl::TCalcEngine engine;
  gl::TSilentProgress progress;
  TQuietPrompts prompts;
  for (auto _ : state) {
    if (engine.RunCalculation(p, progress, prompts, options) != gl::TRunOutcome::Completed) {
      state.SkipWithError("run failed");
      break;
    }
  }
  state.counters["s_per_point"] = benchmark::Counter(
      double(points), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
  state.counters["ns_per_segment"] = benchmark::Counter(
      double(points) * segments * 1e-9,
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
// The irreducible work of the same run, without any bookkeeping, organised
// as the run organises it (a ring at a time, through the same loops): per
// segment the two arc tangents of its centre, their conversion to degrees,
// one grid sample at the centre, and the square root and logarithm of each
// kernel evaluation (2 per segment, 4 with an increment). The arguments of the arc tangents
// are prepared once, outside the timing. The whole run's
// ns_per_segment over this one's is the overhead ratio. Arguments: points,
// increment.
void BM_FloorLoop(benchmark::State& state) {
  const int points = static_cast<int>(state.range(0));
  const int kernels = state.range(1) != 0 ? 4 : 2;
  const auto dir = std::filesystem::temp_directory_path() / "globelayers_bench";
  std::filesystem::create_directories(dir);
  const std::string gridPath = MakeTopography(dir);
  TQuietPrompts prompts;
  gl::TGridImports grid;
  gl::LoadGrid(grid, gridPath, prompts);
  const auto layout = gl::BuildRingLayout(0, gl::kPi, 0, gl::kTwoPi, 3600, 6371001);
  // Per ring the arc tangents' arguments for a point at 40 degrees north.
  struct TRing {
    std::vector<double> y1, x1, y2, x2;
  };
  std::vector<TRing> rings;
  std::size_t segments = 0, widest = 0;
  const double su = std::sin(0.7), cu = std::cos(0.7);
  for (int k = 0; k < layout->ringCount(); ++k) {
    const int m = layout->segmentCounts[k];
    const double psi = gl::RingMidDistance(gl::RingBounds(*layout, k));
    const double ss = std::sin(psi), cs = std::cos(psi);
    TRing ring;
    for (int j = 0; j < m; ++j) {
      const double a = gl::SegmentMidAzimuth(j, m), sa = std::sin(a), ca = std::cos(a);
      const double b = cu * cs * ca - su * ss;
      ring.y1.push_back(su * cs + cu * ss * ca);
      ring.x1.push_back(std::sqrt(cu * sa * cu * sa + b * b));
      ring.y2.push_back(ss * sa);
      ring.x2.push_back(cu * cs - su * ss * ca);
    }
    segments += m;
    widest = std::max<std::size_t>(widest, m);
    rings.push_back(std::move(ring));
  }
  std::vector<double> phi(widest), dl(widest), h(widest), logs(widest * kernels), t(widest), u(widest);
  std::vector<int> ix(widest), iy(widest);
  std::vector<char> near(widest);
  double sink = 0;
  for (auto _ : state) {
    for (int p = 0; p < points; ++p) {
      const double lonRad = (-170 + (p * 37) % 340) * gl::kDegToRad;
      for (const TRing& ring : rings) {
        const int m = static_cast<int>(ring.y1.size());
        gl::Atan2Array(ring.y1.data(), ring.x1.data(), phi.data(), m);
        gl::Atan2Array(ring.y2.data(), ring.x2.data(), dl.data(), m);
        gl::CentresToDegrees(m, lonRad, 1e-9, phi.data(), dl.data(), near.data());
        gl::LocateArray(grid, m, dl.data(), phi.data(), 1e-9, ix.data(), iy.data(), t.data(), u.data(),
                        near.data());
        for (int j = 0; j < m; ++j) h[j] = gl::InterpolateCell(grid, {ix[j], iy[j], t[j], u[j]});
        for (int j = 0; j < m; ++j) {
          for (int k = 0; k < kernels; ++k) {
            const double v = 2.0e4 + h[j] + k;
            logs[j * kernels + k] = std::sqrt(v) + std::log(v);
          }
        }
        sink += logs[m - 1];
      }
    }
    benchmark::DoNotOptimize(sink);
  }
  state.counters["ns_per_segment"] = benchmark::Counter(
      double(points) * double(segments) * 1e-9,
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_FloorLoop)->Args({20, 0})->Args({20, 1})->Unit(benchmark::kMillisecond)->UseRealTime();

// One level of box means of a 1' global grid (21601 x 10801 nodes, 0.93 GB
// of floats, made once): the fine preset's two far bands at h = 1', boxes
// of 900" (level 3) and 1800" (level 4), heights averaged as mass. Prints
// one node of each level first, so that a fast wrong answer shows.
const gl::TGridImports& GlobalOneMinuteGrid() {
  static const std::unique_ptr<gl::TGridImports> grid = [] {
    auto g = std::make_unique<gl::TGridImports>();
    g->fileFormat = gl::TGridFormat::kSurfer6;
    g->nx = 21601, g->ny = 10801;
    g->xMin = -180, g->yMin = -90;
    g->xStep = g->yStep = 1.0 / 60;  // degrees
    g->blankValue = gl::kBlankMarker;
    gl::BoundsFromSteps(*g);
    for (int ix = 0; ix < g->nx; ++ix) {
      for (int iy = 0; iy < g->ny; ++iy)
        g->at(ix, iy) = float(1500 + 1000 * std::sin(ix * 0.013) * std::cos(iy * 0.021) + 200 * std::sin(ix * 0.5));
    }
    return g;
  }();
  return *grid;
}

void BM_SlidingBoxMeans(benchmark::State& state) {
  const gl::TGridImports& grid = GlobalOneMinuteGrid();
  const int level = int(state.range(0));
  const double boxArcSec = double(state.range(1));  // arc-seconds
  static bool shown[2] = {false, false};
  for (auto _ : state) {
    const auto means = gl::SlidingBoxMeans(grid, level, boxArcSec, true, 6371001);
    benchmark::DoNotOptimize(means->values.data());
    if (!shown[level & 1]) {
      std::printf("box %.0f\" level %d: node (100, 80) %.6f m\n", boxArcSec, level, double(means->at(100, 80)));
      shown[level & 1] = true;
    }
  }
}
BENCHMARK(BM_SlidingBoxMeans)->Args({3, 900})->Args({4, 1800})->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK(BM_WholeRun)
    ->Args({20, 0, 1})
    ->Args({20, 1, 1})
    ->Args({1000, 0, 1})
    ->Args({1000, 0, 2})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();

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
#include <string>
#include <vector>

#include "Calculation.h"
#include "Geodesy.h"
#include "GridImports.h"
#include "LayerModel.h"
#include "RingLayout.h"
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
  p.layerRows = {"@;" + grid + ";@;@", "0;@;2.67;@"};
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
// The irreducible work of the same run, without any bookkeeping: per segment
// the two arc tangents of its centre (through the same vector function, a
// ring at a time), its square root, one grid sample, and the square root and
// logarithm of each kernel evaluation (2 per segment, 4 with an increment).
// The whole run's ns_per_segment over this one's is the overhead ratio.
// Arguments: points, increment.
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
  struct TRing {
    std::vector<double> sinA, cosA;
    double t;
  };
  std::vector<TRing> rings;
  std::size_t segments = 0, widest = 0;
  for (int k = 0; k < layout->ringCount(); ++k) {
    const int m = layout->segmentCounts[k];
    TRing ring{{}, {}, std::cos(gl::RingBounds(*layout, k).psiOut)};
    for (int j = 0; j < m; ++j) {
      const double a = gl::SegmentMidAzimuth(j, m);
      ring.sinA.push_back(std::sin(a));
      ring.cosA.push_back(std::cos(a));
    }
    segments += m;
    widest = std::max<std::size_t>(widest, m);
    rings.push_back(std::move(ring));
  }
  std::vector<double> y1(widest), x1(widest), y2(widest), x2(widest), phi(widest), dl(widest);
  double sink = 0;
  for (auto _ : state) {
    for (int p = 0; p < points; ++p) {
      const double lat = (-80 + (p * 23) % 160) * gl::kDegToRad, lon = (-170 + (p * 37) % 340);
      const double su = std::sin(lat), cu = std::cos(lat);
      for (const TRing& ring : rings) {
        const std::size_t m = ring.sinA.size();
        for (std::size_t j = 0; j < m; ++j) {
          const double b = cu * ring.cosA[j] - su * 0.3;
          y1[j] = su + cu * ring.cosA[j];
          x1[j] = std::sqrt(ring.sinA[j] * ring.sinA[j] + b * b);
          y2[j] = 0.3 * ring.sinA[j];
          x2[j] = cu - su * ring.cosA[j];
        }
        gl::Atan2Array(y1.data(), x1.data(), phi.data(), m);
        gl::Atan2Array(y2.data(), x2.data(), dl.data(), m);
        for (std::size_t j = 0; j < m; ++j) {
          const double h = gl::SampleGrid(grid, lon + dl[j] * gl::kRadToDeg, phi[j] * gl::kRadToDeg);
          double acc = 0;
          for (int k = 0; k < kernels; ++k) {
            const double v = 2.0e10 + h * 1e5 + k - ring.t * 1e7;
            acc += std::sqrt(v) + std::log(v);
          }
          sink += acc;
        }
      }
    }
    benchmark::DoNotOptimize(sink);
  }
  state.counters["ns_per_segment"] = benchmark::Counter(
      double(points) * double(segments) * 1e-9,
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_FloorLoop)->Args({20, 0})->Args({20, 1})->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK(BM_WholeRun)
    ->Args({20, 0, 1})
    ->Args({20, 1, 1})
    ->Args({1000, 0, 1})
    ->Args({1000, 0, 2})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();

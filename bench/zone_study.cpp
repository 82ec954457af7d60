// Convergence study of zone layouts: how far each layout's DTE lies from a
// much finer layout's, how much it moves when every segment size is halved,
// what far-zone point samples of a rough grid cost in aliasing, and what a
// point costs. Rerun it to check the presets in docs/zones.md.
//   cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DGLOBELAYERS_BENCH=ON
//   cmake --build build -j2 --target globelayers_zone_study
//   build/bench/globelayers_zone_study [seed [referenceFarArcSec]]
//   build/bench/globelayers_zone_study cost    (the time per point only)
// (defaults: seed 1, the far bands' references at 56.25"; about 70 s on 2
// cores). Step 1 splits the zone into decades of distance and
// converges each band on its own; step 2 runs whole layouts against the sum
// of the bands' references (a point's DTE is the sum over its bands); step 3
// repeats the far bands on block means of the grid.
//
// The model: one layer, a synthetic 1-arc-minute global topography over sea
// level (2.67 g/cm3, negative mass below sea level), built in memory (about
// 0.9 GB of floats). Everything is deterministic from the seed.
//
// Glossary:
//   h     the grid spacing, 60 arc-seconds
//   psi   spherical distance from the computation point, degrees here
//   DTE   attraction of the stack at the point, mGal
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "Calculation.h"
#include "Geodesy.h"
#include "GridImports.h"
#include "GridMeans.h"
#include "GridSampler.h"
#include "LayerModel.h"
#include "PointEvaluation.h"
#include "RingLayout.h"
#include "Zone.h"

namespace gl = globelayers;

namespace {

constexpr double kEarthRadiusM = 6371001;          // metres
constexpr double kGravityConstant = 0.006673;      // G: mGal per (g/cm3 times metres)
constexpr double kDensity = 2.67;                  // g/cm3
constexpr double kSpacingArcSec = 60;              // h: the grid spacing, arc-seconds
constexpr int kColumns = 21601, kRows = 10801;     // nodes of the 1-arc-minute global grid
constexpr int kNodesPerDegree = 60;                // 1-arc-minute nodes per degree

// One cosine of a separable term: a * cos(2 pi (x - x0) / wavelength), x in degrees.
struct TWave {
  double wavelengthDeg;  // degrees
  double phaseDeg;       // degrees
};

// A table of one factor along one axis: value per node.
std::vector<double> WaveTable(const TWave& w, double originDeg, int count) {
  std::vector<double> t(count);
  for (int i = 0; i < count; ++i) {
    const double x = originDeg + double(i) / kNodesPerDegree;
    t[i] = std::cos(2 * gl::kPi * (x - w.phaseDeg) / w.wavelengthDeg);
  }
  return t;
}

// Where the roughness envelope peaks (it is a product of max(0, cos) along
// longitude, period 50 degrees, and along latitude, period 40 degrees).
constexpr double kRoughLonDeg = 10.3, kRoughLatDeg = 35.2;  // degrees

// The synthetic topography, metres: smooth long-wavelength terms (1500 m at
// 120 degrees down to 500 m at 15 degrees) plus, inside the envelope, short
// wavelengths from 2 degrees (1200 m) to 3 arc-minutes (150 m), whose slopes
// reach 0.15 to 0.2 each, 0.5 together: mountains. Each term is a product of
// a longitude and a latitude cosine, with phases drawn from the seed.
std::unique_ptr<gl::TGridImports> MakeTopography(std::uint64_t seed) {
  auto g = std::make_unique<gl::TGridImports>();
  g->fileFormat = gl::TGridFormat::kSurfer7;
  g->nx = kColumns;
  g->ny = kRows;
  g->xMin = -180;
  g->yMin = -90;
  g->xStep = g->yStep = 1.0 / kNodesPerDegree;
  g->blankValue = gl::kBlankMarker;
  g->zMin = -9000;
  g->zMax = 9000;
  gl::BoundsFromSteps(*g);

  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> unit(0, 1);
  struct TTerm {
    double amplitudeM;               // metres
    double lonWavelengthDeg, latWavelengthDeg;  // degrees
  };
  const TTerm smooth[] = {{1500, 120, 90}, {900, 45, 37}, {500, 15, 13}};
  const TTerm rough[] = {{1200, 2.0, 1.7}, {800, 0.5, 0.43}, {500, 0.2, 0.23}, {300, 0.1, 0.09}, {150, 0.05, 0.047}};
  std::vector<std::vector<double>> sx, sy, rx, ry;
  std::vector<double> sa, ra;
  for (const TTerm& t : smooth) {
    sa.push_back(t.amplitudeM);
    sx.push_back(WaveTable({t.lonWavelengthDeg, unit(rng) * t.lonWavelengthDeg}, -180, kColumns));
    sy.push_back(WaveTable({t.latWavelengthDeg, unit(rng) * t.latWavelengthDeg}, -90, kRows));
  }
  for (const TTerm& t : rough) {
    ra.push_back(t.amplitudeM);
    rx.push_back(WaveTable({t.lonWavelengthDeg, unit(rng) * t.lonWavelengthDeg}, -180, kColumns));
    ry.push_back(WaveTable({t.latWavelengthDeg, unit(rng) * t.latWavelengthDeg}, -90, kRows));
  }
  std::vector<double> ex = WaveTable({50, kRoughLonDeg}, -180, kColumns);
  std::vector<double> ey = WaveTable({40, kRoughLatDeg}, -90, kRows);
  for (double& v : ex) v = std::max(0.0, v);
  for (double& v : ey) v = std::max(0.0, v);

  const auto fill = [&](int ixFrom, int ixTo) {
    for (int ix = ixFrom; ix < ixTo; ++ix) {
      float* column = &g->values[std::size_t(ix) * kRows];
      for (int iy = 0; iy < kRows; ++iy) {
        double s = -500, r = 0;  // metres
        for (std::size_t k = 0; k < sa.size(); ++k) s += sa[k] * sx[k][ix] * sy[k][iy];
        for (std::size_t k = 0; k < ra.size(); ++k) r += ra[k] * rx[k][ix] * ry[k][iy];
        column[iy] = float(s + ex[ix] * ey[iy] * r);
      }
    }
  };
  std::thread other(fill, 0, kColumns / 2);
  fill(kColumns / 2, kColumns);
  other.join();
  return g;
}

gl::TLayerModel OneLayer(std::unique_ptr<gl::TGridImports> top) {
  gl::TLayerModel model;
  model[0].elevationGrid = std::move(top);
  model[1].elevation = 0;  // metres: sea level
  model[1].density = kDensity;
  return model;
}

// A zone layout ready to run: its bands (split where one exceeds the ring
// limit), their rings and ring tables.
struct TBuiltLayout {
  std::vector<gl::TZone> bands;
  std::vector<std::unique_ptr<gl::TRingLayout>> rings;
  std::vector<std::unique_ptr<gl::TRingTable>> tables;
  std::unique_ptr<gl::TZoneGridMeans> means;  // block means of the bands that ask for them
  std::int64_t segments = 0;  // per point
};

void AddBand(TBuiltLayout& built, const gl::TZone& band) {
  auto layout = gl::BuildRingLayout(band.psiFromDeg * gl::kDegToRad, band.psiToDeg * gl::kDegToRad, 0,
                                    2 * gl::kPi, band.segmentSizeArcSec, kEarthRadiusM);
  if (!layout) {  // more rings than one band may hold: two bands of half the width
    gl::TZone inner = band, outer = band;
    inner.psiToDeg = outer.psiFromDeg = 0.5 * (band.psiFromDeg + band.psiToDeg);
    AddBand(built, inner);
    AddBand(built, outer);
    return;
  }
  built.bands.push_back(band);
  built.rings.push_back(std::make_unique<gl::TRingLayout>(*layout));
  built.tables.push_back(std::make_unique<gl::TRingTable>(gl::BuildRingTable(*layout, kEarthRadiusM)));
  built.segments += built.tables.back()->segmentCount();
}

// The bands' rings, and the block means of `topography` for the bands that
// ask for them (as a run forms them).
TBuiltLayout Build(const std::vector<gl::TZone>& bands, const gl::TGridImports& topography) {
  TBuiltLayout built;
  for (const gl::TZone& b : bands) AddBand(built, b);
  built.means = std::make_unique<gl::TZoneGridMeans>(std::vector<const gl::TGridImports*>{&topography}, built.bands);
  return built;
}

gl::TRunContext Context(const gl::TLayerModel& model, const TBuiltLayout& built) {
  std::vector<gl::TZoneRings> zones;
  for (std::size_t z = 0; z < built.bands.size(); ++z) {
    zones.push_back({*built.rings[z], *built.tables[z], built.means->ForZone(z)});
  }
  return gl::TRunContext{.model = model,
                         .zones = zones,
                         .rowCount = 2,
                         .earthRadius = kEarthRadiusM,
                         .psiFrom = built.bands.front().psiFromDeg * gl::kDegToRad,
                         .psiTo = built.bands.back().psiToDeg * gl::kDegToRad,
                         .increment = 0,
                         .priority = 0,
                         .twoPiG = 2.0 * gl::kPi * kGravityConstant,
                         .unitFactor = 1.0,
                         .layout = gl::MakeResultLayout(0, true, 2)};
}

// DTE of every point (mGal) and the wall time of the whole set (seconds),
// on `threads` threads, each with its own evaluator.
struct TEvaluated {
  std::vector<double> dteMGal;
  double seconds = 0;
};

TEvaluated Evaluate(const gl::TRunContext& ctx, const std::vector<gl::TCalcPoint>& points, int threads) {
  TEvaluated out;
  out.dteMGal.assign(points.size(), 0);
  const auto start = std::chrono::steady_clock::now();
  const auto work = [&](int t) {
    gl::TPointEvaluator evaluator(ctx);
    for (std::size_t i = t; i < points.size(); i += threads) {
      // Without increment and per-layer columns the line ends in the summed DTE.
      const std::string line = evaluator.Evaluate(points[i]);
      out.dteMGal[i] = std::strtod(line.c_str() + line.find_last_of(' ', line.size() - 2), nullptr);
    }
  };
  std::vector<std::thread> others;
  for (int t = 1; t < threads; ++t) others.emplace_back(work, t);
  work(0);
  for (auto& t : others) t.join();
  out.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return out;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// Every segment size divided by `factor`.
std::vector<gl::TZone> Refined(std::vector<gl::TZone> bands, double factor) {
  for (auto& b : bands) b.segmentSizeArcSec /= factor;
  return bands;
}

double MaxAbsDiff(const std::vector<double>& a, const std::vector<double>& b) {
  double m = 0;
  for (std::size_t i = 0; i < a.size(); ++i) m = std::max(m, std::abs(a[i] - b[i]));
  return m;
}

std::string Describe(const std::vector<gl::TZone>& bands) {
  std::string s;
  for (const auto& b : bands) {
    char piece[96];
    std::snprintf(piece, sizeof piece, "%s%g..%g@%g\"%s", s.empty() ? "" : " ", b.psiFromDeg, b.psiToDeg,
                  b.segmentSizeArcSec, b.blockMeans ? "m" : "");
    s += piece;
  }
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  // "cost": only the time per point of the default and the presets.
  const bool costOnly = argc > 1 && std::string(argv[1]) == "cost";
  const std::uint64_t seed = argc > 1 && !costOnly ? std::strtoull(argv[1], nullptr, 10) : 1;
  const double h = kSpacingArcSec;  // arc-seconds
  // Segment size of the far bands' references, arc-seconds: finer than h.
  const double refFarArcSec = argc > 2 ? std::strtod(argv[2], nullptr) : 56.25;
  const auto t0 = std::chrono::steady_clock::now();
  const auto elapsed = [&] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(); };

  gl::TLayerModel model = OneLayer(MakeTopography(seed));
  const gl::TGridImports& topo = *model[0].elevationGrid;
  std::printf("topography: %d x %d nodes, seed %llu, built in %.1f s\n", int(topo.nx), int(topo.ny),
              static_cast<unsigned long long>(seed), elapsed());

  // Stations: two on rough terrain, one on smooth terrain; each on the
  // surface and 100 m above it.
  struct TSite {
    const char* name;
    double lambdaDeg, phiDeg;  // degrees
  };
  const TSite sites[] = {{"rough1", kRoughLonDeg + 0.013, kRoughLatDeg - 0.027},
                         {"rough2", kRoughLonDeg + 50.37, kRoughLatDeg - 39.79},
                         {"smooth", kRoughLonDeg + 25.11, kRoughLatDeg + 0.31}};
  std::vector<gl::TCalcPoint> points;
  for (const TSite& s : sites) {
    const double surfaceM = gl::SampleGrid(topo, s.lambdaDeg, s.phiDeg);
    for (double aboveM : {0.0, 100.0}) {
      points.push_back({.lambda = s.lambdaDeg, .phi = s.phiDeg, .pointNumber = double(points.size() + 1),
                        .height = surfaceM + aboveM});
      std::printf("point %zu: %s %+.0f m, lambda %.3f phi %.3f height %.1f m\n", points.size(), s.name, aboveM,
                  s.lambdaDeg, s.phiDeg, points.back().height);
    }
  }
  const std::size_t n = points.size();

  if (costOnly) {
    // The default and the presets in turn, seven rounds, so that a drift of
    // the machine's speed touches them alike; medians per point.
    struct TTimed {
      const char* name;
      std::vector<gl::TZone> bands;
      std::vector<double> one, two;  // seconds for all points, per round
    };
    std::vector<TTimed> timed = {{"default", {{0, 180, 3600}}, {}, {}},
                                 {"standard", *gl::PresetZones("standard", h), {}, {}},
                                 {"fine", *gl::PresetZones("fine", h), {}, {}}};
    std::vector<TBuiltLayout> built;
    for (const TTimed& t : timed) {
      const double before = elapsed();
      built.push_back(Build(t.bands, topo));
      std::printf("%s: rings and block means formed in %.2f s\n", t.name, elapsed() - before);
    }
    for (int round = 0; round < 7; ++round) {
      for (std::size_t k = 0; k < timed.size(); ++k) {
        const gl::TRunContext ctx = Context(model, built[k]);
        timed[k].one.push_back(Evaluate(ctx, points, 1).seconds);
        timed[k].two.push_back(Evaluate(ctx, points, 2).seconds);
      }
    }
    std::printf("\ncost per point, medians of 7 rounds (ms):\n%-9s %9s %9s %9s %12s\n", "layout", "segments",
                "1 thread", "2 threads", "vs default");
    const double defaultTwo = Median(timed[0].two);
    for (std::size_t k = 0; k < timed.size(); ++k) {
      std::printf("%-9s %9lld %9.2f %9.2f %11.1fx\n", timed[k].name, static_cast<long long>(built[k].segments),
                  1e3 * Median(timed[k].one) / n, 1e3 * Median(timed[k].two) / n,
                  Median(timed[k].two) / defaultTwo);
    }
    return 0;
  }

  // Step 1: the bands, decades of distance. Each is evaluated at its
  // finest size (the band's reference) and at sizes doubling from there.
  struct TBandStudy {
    double fromDeg, toDeg;   // degrees
    double finestArcSec;     // arc-seconds: the band's reference
    int doublings;           // coarser sizes tried
    std::vector<double> sizes;                // arc-seconds, finest first
    std::vector<std::vector<double>> dte;     // per size, per point, mGal
  };
  // Decades of distance up to 1 degree, their finest size 1/128 of the outer
  // bound (finer sizes next to the point meet the rounding floor of the
  // kernel near psi = 0, about 0.002 mGal); then 1..10, 10..45 and 45..180
  // degrees, finest 56.25" (3600" / 64, below h, so that doublings reach
  // 3600").
  std::vector<TBandStudy> bands = {
      {0, 0.001, 0.028125, 7, {}, {}},        {0.001, 0.01, 0.28125, 7, {}, {}},
      {0.01, 0.1, 2.8125, 7, {}, {}},         {0.1, 1, 28.125, 7, {}, {}},
      {1, 10, refFarArcSec, 7, {}, {}},       {10, 45, refFarArcSec, 7, {}, {}},
      {45, 180, refFarArcSec, 7, {}, {}},
  };
  std::vector<double> refTotal(n, 0);  // mGal: sum of the bands' references
  std::printf("\nstep 1: each band alone; max over the points of |DTE - band reference|, mGal\n");
  for (TBandStudy& b : bands) {
    for (int j = 0; j <= b.doublings; ++j) {
      const double size = b.finestArcSec * std::pow(2.0, j);
      const TBuiltLayout built = Build({{b.fromDeg, b.toDeg, size}}, topo);
      b.sizes.push_back(size);
      b.dte.push_back(Evaluate(Context(model, built), points, 2).dteMGal);
      std::printf("  %g..%g deg @ %9.4f\" (%10lld segments): %.5f", b.fromDeg, b.toDeg, size,
                  static_cast<long long>(built.segments), MaxAbsDiff(b.dte.back(), b.dte.front()));
      if (j == 0) {
        std::printf("  reference:");
        for (double v : b.dte.front()) std::printf(" %.5f", v);
      } else {
        std::printf("  per point:");
        for (std::size_t i = 0; i < n; ++i) std::printf(" %+.5f", b.dte.back()[i] - b.dte.front()[i]);
      }
      std::printf("   [%.0f s]\n", elapsed());
      std::fflush(stdout);
    }
    for (std::size_t i = 0; i < n; ++i) refTotal[i] += b.dte.front()[i];
  }
  std::printf("reference DTE per point, mGal:");
  for (double v : refTotal) std::printf(" %.5f", v);
  std::printf("\n");

  // Step 2: whole layouts, each a rule in h, against the sum of the bands'
  // references; with the change when every size is halved and the time per
  // point (medians of 3, one and two threads) in this same run.
  struct TCandidate {
    const char* name;
    std::vector<gl::TZone> bands;
  };
  // Decade bands from the point to 60 h (1 degree): 0 .. 0.006 h, then
  // 0.006 h .. 0.06 h and so on to 6 h .. 60 h, band i at its outer bound
  // divided by k[i]; then the far bands.
  const auto decades = [&](std::vector<double> k, std::vector<gl::TZone> far) {
    std::vector<gl::TZone> out;
    double fromArcSec = 0, toArcSec = 0.006 * h;
    for (double ki : k) {
      out.push_back({fromArcSec / 3600, toArcSec / 3600, toArcSec / ki});
      fromArcSec = toArcSec;
      toArcSec *= 10;
    }
    out.insert(out.end(), far.begin(), far.end());
    return out;
  };
  // Far bands sampling block means carry "m" (true below).
  const std::vector<TCandidate> candidates = {
      {"default", {{0, 180, 3600}}},
      {"A", {{0, 0.1, h / 2}, {0.1, 1, 2 * h}, {1, 180, 60 * h}}},
      {"std-pt", decades({16, 16, 16, 16, 16}, {{1, 10, 15 * h}, {10, 180, 60 * h}})},
      {"standard", *gl::PresetZones("standard", h)},
      {"M10-pt", decades({32, 32, 32, 64, 64}, {{1, 10, 3.75 * h}, {10, 45, 30 * h}, {45, 180, 60 * h}})},
      {"M10", decades({32, 32, 32, 64, 64}, {{1, 10, 3.75 * h}, {10, 45, 30 * h, true}, {45, 180, 60 * h, true}})},
      {"fine-pt", decades({64, 64, 64, 64, 64}, {{1, 10, 3.75 * h}, {10, 180, 15 * h}})},
      {"F30", decades({64, 64, 64, 64, 64}, {{1, 10, 3.75 * h}, {10, 180, 30 * h, true}})},
      {"fine", *gl::PresetZones("fine", h)},
      {"fine-900", decades({64, 64, 64, 64, 64}, {{1, 10, 3.75 * h}, {10, 45, 15 * h, true}, {45, 180, 30 * h, true}})},
  };
  std::printf("\nstep 2: whole layouts (max over the points, mGal; ms per point)\n");
  std::printf("%-9s %-70s\n          %9s %9s %9s %8s %8s\n", "layout", "bands (deg..deg@size)", "segments", "halving",
              "vs ref", "ms 1thr", "ms 2thr");
  for (const TCandidate& c : candidates) {
    const TBuiltLayout built = Build(c.bands, topo);
    const gl::TRunContext ctx = Context(model, built);
    std::vector<double> one, two;
    TEvaluated result;
    for (int rep = 0; rep < 3; ++rep) {
      result = Evaluate(ctx, points, 1);
      one.push_back(result.seconds);
      two.push_back(Evaluate(ctx, points, 2).seconds);
    }
    const TEvaluated halved = Evaluate(Context(model, Build(Refined(c.bands, 2), topo)), points, 2);
    std::printf("%-9s %-70s\n          %9lld %9.5f %9.5f %8.2f %8.2f\n", c.name, Describe(c.bands).c_str(),
                static_cast<long long>(built.segments), MaxAbsDiff(result.dteMGal, halved.dteMGal),
                MaxAbsDiff(result.dteMGal, refTotal), 1e3 * Median(one) / n, 1e3 * Median(two) / n);
    std::printf("          per point vs ref:");
    for (std::size_t i = 0; i < n; ++i) std::printf(" %+.5f", result.dteMGal[i] - refTotal[i]);
    std::printf("\n");
    std::fflush(stdout);
  }

  // Step 3: far-zone aliasing. The far bands at each coarser size, sampled
  // on the 1-arc-minute grid and on its block means at that size (the
  // pyramid level a run takes).
  std::printf("\nstep 3: far bands, point samples of the 1' grid vs block means at the segment size;\n"
              "max over the points of |DTE - band reference|, mGal\n");
  for (const TBandStudy& b : bands) {
    if (b.fromDeg < 1) continue;
    for (std::size_t j = 1; j < b.sizes.size(); ++j) {
      if (b.sizes[j] < 2 * h) continue;
      const TBuiltLayout built = Build({{b.fromDeg, b.toDeg, b.sizes[j], true}}, topo);
      const TEvaluated means = Evaluate(Context(model, built), points, 2);
      const gl::TGridImports& level = gl::ZoneGrid(built.means->ForZone(0), topo);
      std::printf("  %g..%g deg @ %6.0f\" (means every %4.0f\"): point samples %.5f   block means %.5f\n", b.fromDeg,
                  b.toDeg, b.sizes[j], gl::FinerSpacingArcSec(level), MaxAbsDiff(b.dte[j], b.dte.front()),
                  MaxAbsDiff(means.dteMGal, b.dte.front()));
      std::fflush(stdout);
    }
  }
  std::printf("\ntotal %.0f s\n", elapsed());
  return 0;
}

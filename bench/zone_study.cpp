// Convergence study of the zone presets on three surfaces: how far each
// layout's DTE lies from a converged reference, band by band and in total,
// and what a point costs. Rerun it to check the presets in docs/zones.md.
//   cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DGLOBELAYERS_BENCH=ON
//   cmake --build build -j2 --target globelayers_zone_study
//   build/bench/globelayers_zone_study [sites [surface [cache [NAME]]]]  (the study; NAME: only the candidates named so)
//   build/bench/globelayers_zone_study cost [all|NAME]     (the time per point only)
//   build/bench/globelayers_zone_study roughness [surface] (the surfaces' figures only)
//   build/bench/globelayers_zone_study real|realfar|realall DEM_FOLDER ...  (the SRTM tiles, below)
// sites: places per surface (1 to 8, default 8: four named, then the
// steepest of each quarter of the globe), each with a station on the
// surface and one 10 m above it; surface: today, rough or steep (default
// all three, one after the other); cache: a folder keeping the reference
// between runs.
//
// The reference of a point is the sum of references of the bands 0..0.001,
// 0.001..0.01, 0.01..0.1, 0.1..1, 1..10, 10..45 and 45..180 degrees, each at
// a fine size on point samples of the grid (1/512 of the outer bound up to
// 1 degree, 28.125" to 10 degrees, 56.25" beyond, 28.125" on the steep
// surface, where 56.25" was not converged enough) and at twice and four
// times that size: a Richardson estimate where the band's order of
// convergence shows, and shown converged by its change from the same
// estimate one halving coarser. A layout is measured band by band (its bands cut at
// those bounds) and whole.
//
// The model: one layer, a synthetic 1-arc-minute global topography over sea
// level (2.67 g/cm3, negative mass below sea level), built in memory (about
// 0.9 GB of floats). Everything is deterministic from fixed seeds.
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
#include <functional>
#include <memory>
#include <utility>
#include <random>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "Calculation.h"
#include "Geodesy.h"
#include "GridImports.h"
#include "GridMeans.h"
#include "GridReach.h"
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

// A 1-arc-minute global grid of zeros.
std::unique_ptr<gl::TGridImports> EmptyGlobalGrid() {
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
  return g;
}

// Where the roughness envelope peaks (it is a product of max(0, cos) along
// longitude, period 50 degrees, and along latitude, period 40 degrees).
constexpr double kRoughLonDeg = 10.3, kRoughLatDeg = 35.2;  // degrees

// The synthetic topography, metres: smooth long-wavelength terms (1500 m at
// 120 degrees down to 500 m at 15 degrees) plus, inside the envelope, short
// wavelengths from 2 degrees (1200 m) to 3 arc-minutes (150 m), whose slopes
// reach 0.15 to 0.2 each, 0.5 together: mountains. Each term is a product of
// a longitude and a latitude cosine, with phases drawn from the seed.
// steepness: factor on the short wavelengths (1: slopes to about 0.5).
std::unique_ptr<gl::TGridImports> MakeTopography(std::uint64_t seed, double steepness) {
  auto g = EmptyGlobalGrid();

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
    ra.push_back(steepness * t.amplitudeM);
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


// A surface rough everywhere: a sum of separable cosine products with an
// isotropic power spectrum falling as k^-2.87 (each octave's variance in
// proportion to wavelength^0.87), from 180 degrees down to the grid's
// Nyquist wavelength 2 h, scaled to an RMS of 1.2 km; phases and
// wavelengths drawn from the seed. The slope was chosen so that
// neighbouring nodes differ as on the relief a demanding user tried: about
// 51 m on average (k^-3 to 2 h gives 34 m; PrintRoughness shows the figures).
std::unique_ptr<gl::TGridImports> MakeRoughEverywhere(std::uint64_t seed) {
  auto g = EmptyGlobalGrid();
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> unit(0, 1);
  constexpr int kOctaves = 13, kTermsPerOctave = 6;  // the 13th: 2.6' nominal
  constexpr double kRmsM = 1200;                     // metres
  constexpr double kVarianceExponent = 0.87;         // spectrum k^-(2 + this), no unit
  constexpr double kNyquistDeg = 2.0 / kNodesPerDegree;  // degrees: 2 h
  const auto octaveWeight = [](int j) { return std::pow(360.0 / std::pow(2.0, j), kVarianceExponent); };
  std::vector<std::vector<double>> sx, sy;
  std::vector<double> amplitude;
  double weightSum = 0;
  for (int j = 1; j <= kOctaves; ++j) weightSum += octaveWeight(j);
  for (int j = 1; j <= kOctaves; ++j) {
    const double lengthDeg = 360.0 / std::pow(2.0, j);
    const double sigma = kRmsM * std::sqrt(octaveWeight(j) / weightSum);  // metres, this octave
    for (int t = 0; t < kTermsPerOctave; ++t) {
      // Longitude wavelengths divide 360 degrees: no step at the seam.
      const double turns = std::clamp(std::round(360.0 / (lengthDeg * (0.7 + 0.7 * unit(rng)))), 1.0,
                                      360.0 / kNyquistDeg);
      const double lonDeg = 360.0 / turns;
      const double latDeg = std::max(kNyquistDeg, lengthDeg * (0.7 + 0.7 * unit(rng)));
      amplitude.push_back(2 * sigma / std::sqrt(double(kTermsPerOctave)));
      sx.push_back(WaveTable({lonDeg, unit(rng) * lonDeg}, -180, kColumns));
      sy.push_back(WaveTable({latDeg, unit(rng) * latDeg}, -90, kRows));
    }
  }
  const auto fill = [&](int ixFrom, int ixTo) {
    for (int ix = ixFrom; ix < ixTo; ++ix) {
      float* column = &g->values[std::size_t(ix) * kRows];
      for (int iy = 0; iy < kRows; ++iy) {
        double s = 0;  // metres
        for (std::size_t k = 0; k < amplitude.size(); ++k) s += amplitude[k] * sx[k][ix] * sy[k][iy];
        column[iy] = float(s);
      }
    }
  };
  std::thread other(fill, 0, kColumns / 2);
  fill(kColumns / 2, kColumns);
  other.join();
  return g;
}

// RMS, mean and largest difference between neighbouring columns, and the
// steepest slope between neighbours along a parallel (degrees), within 80
// degrees of the equator.
void PrintRoughness(const gl::TGridImports& g) {
  double sum2 = 0, diffSum = 0, diffMax = 0, slopeMax = 0;
  std::int64_t count = 0;
  for (int ix = 0; ix + 1 < g.nx; ++ix) {
    for (int iy = 1; iy + 1 < g.ny; ++iy) {
      // Next to the poles the columns meet: those rows tell nothing of slopes.
      if (std::fabs(g.yMin + iy * g.yStep) > 80) continue;
      const double v = g.at(ix, iy), d = std::fabs(g.at(ix + 1, iy) - v);
      const double spacingM = kEarthRadiusM * gl::kDegToRad / kNodesPerDegree *
                              std::cos((g.yMin + iy * g.yStep) * gl::kDegToRad);
      sum2 += v * v;
      diffSum += d;
      diffMax = std::max(diffMax, d);
      slopeMax = std::max(slopeMax, std::atan(d / spacingM) / gl::kDegToRad);
      ++count;
    }
  }
  std::printf("  RMS %.0f m; neighbouring columns %.1f m apart on average, %.0f m at most; steepest slope %.0f deg\n",
              std::sqrt(sum2 / count), diffSum / count, diffMax, slopeMax);
}

gl::TLayerModel OneLayer(std::unique_ptr<gl::TGridImports> top) {
  gl::TLayerModel model;
  model[0].elevationGrid = std::move(top);
  model[1].elevation = 0;  // metres: sea level
  model[1].density = kDensity;
  return model;
}

// Block means of a surface at every level a band may ask for, formed once:
// a band at segment size s samples the level MeanLevel(h, s), as in a run.
class TMeansByLevel {
 public:
  explicit TMeansByLevel(const gl::TGridImports& topography) : topography_(&topography) {
    std::vector<gl::TZone> levels;
    for (int level = 1; level <= kLevels; ++level) {
      levels.push_back({.psiFromDeg = 0, .psiToDeg = 180, .segmentSizeArcSec = kSpacingArcSec * std::pow(2.0, level),
                        .blockMeans = true});
    }
    means_ = std::make_unique<gl::TZoneGridMeans>(
        std::vector<gl::TRoledGrid>{{&topography, gl::TGridRole::Elevation}}, levels, kEarthRadiusM);
  }
  const gl::TGridStandIns* For(const gl::TZone& band) const {
    if (!band.blockMeans) return nullptr;
    if (band.boxMeans) return Box(band.segmentSizeArcSec);
    const int level = std::min(kLevels, gl::MeanLevel(kSpacingArcSec, band.segmentSizeArcSec));
    return level > 0 ? means_->ForZone(level - 1) : nullptr;
  }

  // Sliding box means of a segment size, formed when first asked for:
  // nodes every 2^L h with L = max(1, floor(log2(size / h) - 0.5)), about
  // two nodes per box.
  const gl::TGridStandIns* Box(double sizeArcSec) const {
    for (const auto& [size, standIns] : boxes_) {
      if (size == sizeArcSec) return standIns.get();
    }
    if (!(sizeArcSec > kSpacingArcSec)) return nullptr;  // the grid itself, as in a run
    const int level = gl::BoxLevel(kSpacingArcSec, sizeArcSec);
    const auto start = std::chrono::steady_clock::now();
    grids_.push_back(gl::SlidingBoxMeans(*topography_, level, sizeArcSec, true, kEarthRadiusM));
    std::printf("    box means of %g\" at level %d formed in %.1f s\n", sizeArcSec, level,
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    auto standIns = std::make_unique<gl::TGridStandIns>();
    standIns->emplace_back(topography_, grids_.back().get());
    boxes_.emplace_back(sizeArcSec, std::move(standIns));
    return boxes_.back().second.get();
  }

 private:
  static constexpr int kLevels = 8;  // up to 256 h
  std::unique_ptr<gl::TZoneGridMeans> means_;
  const gl::TGridImports* topography_;
  mutable std::vector<std::unique_ptr<gl::TGridImports>> grids_;
  mutable std::vector<std::pair<double, std::unique_ptr<gl::TGridStandIns>>> boxes_;
};

// A zone layout ready to run: its bands (split where one exceeds the ring
// limit), their rings and ring tables.
struct TBuiltLayout {
  std::vector<gl::TZone> bands;
  std::vector<std::unique_ptr<gl::TRingLayout>> rings;
  std::vector<std::unique_ptr<gl::TRingTable>> tables;
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
  layout->nearPointKernel = band.nearPointKernel;
  built.bands.push_back(band);
  built.rings.push_back(std::make_unique<gl::TRingLayout>(*layout));
  built.tables.push_back(std::make_unique<gl::TRingTable>(gl::BuildRingTable(*layout, kEarthRadiusM)));
  built.segments += built.tables.back()->segmentCount();
}

TBuiltLayout Build(const std::vector<gl::TZone>& bands) {
  TBuiltLayout built;
  for (const gl::TZone& b : bands) AddBand(built, b);
  return built;
}

// The run context of a layout; meansOf(z) gives band z's block means or
// nullptr.
template <typename MeansOfBand>
gl::TRunContext ContextWith(const gl::TLayerModel& model, const TBuiltLayout& built, MeansOfBand meansOf) {
  std::vector<gl::TZoneRings> zones;
  for (std::size_t z = 0; z < built.bands.size(); ++z) {
    zones.push_back({*built.rings[z], *built.tables[z], meansOf(z)});
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

gl::TRunContext Context(const gl::TLayerModel& model, const TBuiltLayout& built, const TMeansByLevel& means) {
  return ContextWith(model, built, [&](std::size_t z) { return means.For(built.bands[z]); });
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
                  b.segmentSizeArcSec, b.boxMeans ? "b" : b.blockMeans ? "m" : "");
    s += piece;
  }
  return s;
}


// A surface of the study and its stations.
struct TSite {
  const char* name;
  double lambdaDeg, phiDeg;  // degrees
};
struct TSurface {
  const char* name;
  std::unique_ptr<gl::TGridImports> (*make)();
  std::vector<TSite> sites;  // the first `sites` are taken
  // arc-seconds: the reference's size in 10..45 and 45..180 degrees, the
  // coarsest whose change from twice the size keeps the reference's total
  // within a tenth of 0.01 mGal on this surface (each halving costs 4
  // times: 45..180 degrees at 28.125" is about 576 million segments a station).
  double farReferenceArcSec;
};

const TSurface kSurfaces[] = {
    // Today's: steep mountains over about a quarter of the globe.
    {"today",
     [] { return MakeTopography(1, 1.0); },
     {{"rough1", kRoughLonDeg + 0.013, kRoughLatDeg - 0.027},
      {"smooth", kRoughLonDeg + 25.11, kRoughLatDeg + 0.31},
      {"rough2", kRoughLonDeg + 50.37, kRoughLatDeg - 39.79},
      {"edge", kRoughLonDeg - 12.4, kRoughLatDeg + 9.7}},
     56.25},
    // Rough everywhere: a k^-2.87 spectrum down to 2 h, RMS 1.2 km.
    {"rough",
     [] { return MakeRoughEverywhere(2); },
     {{"r1", 10.313, 35.173}, {"r2", -71.29, -12.83}, {"r3", 120.71, 48.22}, {"r4", -150.18, 20.47}},
     56.25},
    // Today's with short wavelengths 1.8 times as high: slopes to about 0.9
    // (42 degrees), steeper than 30 degrees over wide areas.
    {"steep",
     [] { return MakeTopography(3, 1.8); },
     {{"rough1", kRoughLonDeg + 0.013, kRoughLatDeg - 0.027},
      {"rough2", kRoughLonDeg + 50.37, kRoughLatDeg - 39.79},
      {"smooth", kRoughLonDeg + 25.11, kRoughLatDeg + 0.31},
      {"edge", kRoughLonDeg - 12.4, kRoughLatDeg + 9.7}},
     // At 56.25" its far bands still moved by 0.0009 and 0.0011 from twice
     // that size, 0.0018 summed at the station `edge`.
     28.125},
};

// The steepest place of each quarter of the globe (west and east of the
// zero meridian, north and south, within 60 degrees of the equator), by
// the central differences
// of the nodes along both axes; the site lies a fraction of a spacing off
// the node, so that its station does not sit on the grid's node lines.
std::vector<TSite> SteepSites(const gl::TGridImports& g) {
  constexpr double kOffNode = 0.37;  // spacings: distance of the site from the steepest node
  static const char* const kNames[] = {"steepSW", "steepNW", "steepSE", "steepNE"};
  std::vector<TSite> out;
  for (int sector = 0; sector < 4; ++sector) {
    const int ixFrom = sector < 2 ? 1 : kColumns / 2, ixTo = sector < 2 ? kColumns / 2 : kColumns - 1;
    const int iyFrom = sector % 2 ? 90 * kNodesPerDegree : 30 * kNodesPerDegree, iyTo = iyFrom + 60 * kNodesPerDegree;
    double best = -1;
    int bestX = ixFrom, bestY = iyFrom;
    for (int ix = ixFrom; ix < ixTo; ++ix) {
      for (int iy = iyFrom; iy < iyTo; ++iy) {
        const double cosPhi = std::cos((g.yMin + iy * g.yStep) * gl::kDegToRad);
        const double dx = (g.at(ix + 1, iy) - g.at(ix - 1, iy)) / cosPhi, dy = g.at(ix, iy + 1) - g.at(ix, iy - 1);
        const double slope2 = dx * dx + dy * dy;  // square metres per (2 spacings)^2
        if (slope2 > best) {
          best = slope2;
          bestX = ix;
          bestY = iy;
        }
      }
    }
    const double spacingM = 2 * kEarthRadiusM * gl::kDegToRad / kNodesPerDegree;  // metres: 2 spacings
    out.push_back({kNames[sector], g.xMin + (bestX + kOffNode) * g.xStep, g.yMin + (bestY + kOffNode) * g.yStep});
    std::printf("  %s: steepest node at %.3f E %.3f N, slope %.0f deg\n", kNames[sector], g.xMin + bestX * g.xStep,
                g.yMin + bestY * g.yStep, std::atan(std::sqrt(best) / spacingM) / gl::kDegToRad);
  }
  return out;
}

// Sites of a surface: its named places, then the steep ones.
std::vector<TSite> SitesOf(const TSurface& surface, const gl::TGridImports& topo, int sites) {
  std::vector<TSite> all = surface.sites;
  if (sites > int(all.size())) {
    const std::vector<TSite> steep = SteepSites(topo);
    all.insert(all.end(), steep.begin(), steep.end());
  }
  all.resize(std::min(all.size(), std::size_t(sites)));
  return all;
}

// Stations of a surface: each site on the surface and 10 m above it.
std::vector<gl::TCalcPoint> Stations(const TSurface& surface, const gl::TGridImports& topo, int sites) {
  std::vector<gl::TCalcPoint> points;
  for (const TSite& s : SitesOf(surface, topo, sites)) {
    const double surfaceM = gl::SampleGrid(topo, s.lambdaDeg, s.phiDeg);
    for (double aboveM : {0.0, 10.0}) {
      points.push_back({.lambda = s.lambdaDeg, .phi = s.phiDeg, .pointNumber = double(points.size() + 1),
                        .height = surfaceM + aboveM});
      std::printf("  station %zu: %s %+.0f m, lambda %.3f phi %.3f height %.1f m\n", points.size(), s.name, aboveM,
                  s.lambdaDeg, s.phiDeg, points.back().height);
    }
  }
  return points;
}

// The bands of the reference: decades to 1 degree at 1/512 of the outer
// bound, but the first at 1/128 (finer sizes next to the point meet the
// kernel's rounding floor near psi = 0, about 0.002 mGal), then 1..10 at
// 28.125" and 10..45 and 45..180 degrees on point samples at the surface's
// farReferenceArcSec (56.25" or 28.125", finer than h; the sizes below are
// then not used). Each band is also run at twice and four times its size: the
// three give its order of convergence and a Richardson estimate.
// order: the order the band is expected to converge in (1 where the cap
// at the point, flat-topped, misses the slope around a station on the
// surface; 2 for the midpoint rule elsewhere).
struct TStudyBand {
  double fromDeg, toDeg;  // degrees
  double refArcSec;       // arc-seconds
  int order;
};
constexpr TStudyBand kStudyBands[] = {{0, 0.001, 0.028125, 1}, {0.001, 0.01, 0.0703125, 2},
                                      {0.01, 0.1, 0.703125, 2}, {0.1, 1, 7.03125, 2},
                                      {1, 10, 28.125, 2},       {10, 45, 56.25, 2},
                                      {45, 180, 56.25, 2}};
constexpr int kStudyBandCount = int(std::size(kStudyBands));

// The finest size of study band b on a surface, arc-seconds.
double ReferenceArcSec(int b, const TSurface& surface) {
  return kStudyBands[b].fromDeg >= 10 ? surface.farReferenceArcSec : kStudyBands[b].refArcSec;
}

// One band of the reference: its DTE per station at sizes s, 2 s and 4 s
// (mGal), and what they make of it.
struct TReferenceBand {
  std::vector<double> atSize[3];
  double observedOrder = 0;  // from the RMS over the stations of the last two halvings
  std::vector<double> best;      // the band's reference, mGal per station
  std::vector<double> previous;  // the same one halving coarser, mGal per station
};

// The band's reference, and how far it is converged: the value at the
// finest size, measured against the value at twice the size; or, where the
// order of convergence shows, Richardson's estimate
// R(s) + (R(s) - R(2 s)) / (2^p - 1), measured against the same estimate
// one halving coarser (from 2 s and 4 s). The order shows where the
// observed order (of the RMS over the stations) is within half a unit of p
// and the two estimates agree better than the two values do, station by
// station at most: on the far bands the RMS can look second order while
// single stations are not, and there the estimates move more than the
// values. Returns whether the band was extrapolated.
bool Settle(TReferenceBand& band, int order) {
  const std::size_t n = band.atSize[0].size();
  double fine2 = 0, coarse2 = 0;  // mGal^2
  for (std::size_t i = 0; i < n; ++i) {
    fine2 += std::pow(band.atSize[0][i] - band.atSize[1][i], 2);
    coarse2 += std::pow(band.atSize[1][i] - band.atSize[2][i], 2);
  }
  band.observedOrder = fine2 > 0 && coarse2 > 0 ? 0.5 * std::log2(coarse2 / fine2) : 0;
  band.best = band.atSize[0];
  band.previous = band.atSize[1];
  if (std::fabs(band.observedOrder - order) > 0.5) return false;
  const double divisor = std::pow(2.0, order) - 1;
  std::vector<double> best(n), previous(n);
  for (std::size_t i = 0; i < n; ++i) {
    best[i] = band.atSize[0][i] + (band.atSize[0][i] - band.atSize[1][i]) / divisor;
    previous[i] = band.atSize[1][i] + (band.atSize[1][i] - band.atSize[2][i]) / divisor;
  }
  if (MaxAbsDiff(best, previous) >= MaxAbsDiff(band.best, band.previous)) return false;
  band.best = best;
  band.previous = previous;
  return true;
}

// Nodes and weights of n-point Gauss-Legendre on [-1, 1], by Newton on P_n.
std::vector<std::pair<double, double>> GaussLegendre(int n) {
  std::vector<std::pair<double, double>> nodes;
  for (int i = 1; i <= n; ++i) {
    double x = std::cos(gl::kPi * (i - 0.25) / (n + 0.5)), dp = 0;
    for (int it = 0; it < 100; ++it) {
      double p0 = 1, p1 = x;
      for (int k = 2; k <= n; ++k) {
        const double p2 = ((2 * k - 1) * x * p1 - (k - 1) * p0) / k;
        p0 = p1;
        p1 = p2;
      }
      dp = n * (x * p1 - p0) / (x * x - 1);
      const double dx = p1 / dp;
      x -= dx;
      if (std::fabs(dx) < 1e-16) break;
    }
    nodes.push_back({x, 2 / ((1 - x * x) * dp * dp)});
  }
  return nodes;
}

// What the sphere adds to the plane's column integral: for a column at
// sea-level distance x (metres, psi = x / R) from sea level to its top T,
// seen from height H (metres), the integral over the column's height of the
// sphere's radial attraction per unit of x dx dalpha, minus the plane's
// (H - z) / (x^2 + (H - z)^2)^(3/2). On the sphere the column at height z
// lies (1 + z / R) farther out and is (1 + z / R)^2 wider: near the station
// that makes its band 0..0.001 deg about H / R larger, up to 0.0013 mGal at
// H = 1000 m, which the plane alone misses. Gauss-Legendre in z on panels
// graded towards z = H, where the integrand peaks over a width of about x.
// Result in 1/metre.
double SphereOverPlane(double x, double T, double H, const std::vector<std::pair<double, double>>& gauss) {
  const double R = kEarthRadiusM;
  const double psi = x / R;                                  // radians
  const double halfSine = std::sin(0.5 * psi);
  const double d = 2 * halfSine * halfSine;                  // 1 - cos(psi), no cancellation
  const double areaRatio = psi > 0 ? std::sin(psi) / psi : 1;
  const auto sphere = [&](double z) {
    const double r = R + H, r1 = R + z;
    const double l2 = (H - z) * (H - z) + 2 * r * r1 * d;
    const double s = r1 / R;
    return s * s * areaRatio * ((H - z) + r1 * d) / (l2 * std::sqrt(l2));
  };
  const auto plane = [&](double z) {
    const double l2 = x * x + (H - z) * (H - z);
    return (H - z) / (l2 * std::sqrt(l2));
  };
  const double lo = std::min(0.0, T), hi = std::max(0.0, T);
  std::vector<double> cuts = {lo, hi};
  for (double c : {0.1, 0.3, 1.0, 3.0, 10.0, 30.0, 100.0, 300.0, 1000.0, 3000.0}) {
    for (double z : {H - c * x, H + c * x}) {
      if (z > lo && z < hi) cuts.push_back(z);
    }
  }
  if (H > lo && H < hi) cuts.push_back(H);
  std::sort(cuts.begin(), cuts.end());
  double sum = 0;
  for (std::size_t k = 0; k + 1 < cuts.size(); ++k) {
    const double z0 = cuts[k], z1 = cuts[k + 1];
    for (const auto& [xz, wz] : gauss) {
      const double z = 0.5 * (z0 + z1) + 0.5 * (z1 - z0) * xz;
      sum += 0.5 * (z1 - z0) * wz * (sphere(z) - plane(z));
    }
  }
  return T >= 0 ? sum : -sum;  // the column runs from 0 to T: downwards where T < 0
}

// The innermost band 0..radiusDeg of one station, mGal, without rings: the
// vertical attraction of the columns between sea level and the surface,
// radial integral in closed form on the plane, plus what the sphere adds
// (SphereOverPlane), over the disc by Gauss-Legendre in distance and
// azimuth (panels of 0..1, 1..10, 10..40 m and on; azimuth panels of 11.25
// degrees, their bounds on the node lines through a station at a node).
// Independent of the engine's kernel and its rings: their cap
// (flat-topped) and the kernel's rounding next to the point leave the
// engine's band first order, and noisy where it forms cos(psi). nodes: per
// panel and axis.
double InnermostBandPlanar(const gl::TGridImports& topo, const gl::TCalcPoint& p, double radiusDeg, int nodes) {
  const double a = kEarthRadiusM * radiusDeg * gl::kDegToRad;  // metres
  const double cosPhi = std::cos(p.phi * gl::kDegToRad);
  const auto gauss = GaussLegendre(nodes);
  const double rBounds[] = {0, 1, 10, 40, a};  // metres
  constexpr int kAzimuthPanels = 32;
  double sum = 0;  // metres: the area integral of the column's 1/distance terms
  for (int rp = 0; rp + 1 < int(std::size(rBounds)); ++rp) {
    const double r0 = rBounds[rp], r1 = std::min(a, rBounds[rp + 1]);
    if (r1 <= r0) continue;
    for (const auto& [xr, wr] : gauss) {
      const double r = 0.5 * (r0 + r1) + 0.5 * (r1 - r0) * xr;
      double ring = 0;
      for (int ap = 0; ap < kAzimuthPanels; ++ap) {
        const double a0 = 2 * gl::kPi * ap / kAzimuthPanels, a1 = 2 * gl::kPi * (ap + 1) / kAzimuthPanels;
        for (const auto& [xa, wa] : gauss) {
          const double alpha = 0.5 * (a0 + a1) + 0.5 * (a1 - a0) * xa;  // azimuth from north, radians
          const double north = r * std::cos(alpha), east = r * std::sin(alpha);  // metres
          const double top = gl::SampleGrid(topo, p.lambda + east / (kEarthRadiusM * cosPhi) / gl::kDegToRad,
                                            p.phi + north / kEarthRadiusM / gl::kDegToRad);
          const double dz = p.height - top;  // metres
          ring += 0.5 * (a1 - a0) * wa *
                  (1 / std::sqrt(r * r + dz * dz) - 1 / std::sqrt(r * r + p.height * p.height) +
                   SphereOverPlane(r, top, p.height, gauss));
        }
      }
      sum += 0.5 * (r1 - r0) * wr * r * ring;
    }
  }
  return kGravityConstant * kDensity * sum;
}

// The reference of every study band for these stations, each size read
// from the cache folder when an earlier run with the same stations left it
// there (one file per band and size, so that a run stopped half way keeps
// what it finished and a finer reference reuses the coarser sizes), else
// evaluated and stored.
std::vector<TReferenceBand> Reference(const gl::TLayerModel& model, const TMeansByLevel& means,
                                      const std::vector<gl::TCalcPoint>& points, const TSurface& surface,
                                      const std::string& cacheStem, const std::function<double()>& elapsed) {
  const std::size_t n = points.size();
  std::vector<TReferenceBand> bands(kStudyBandCount);
  std::printf("  reference bands: changes from doubling the size, max over the stations, mGal\n");
  for (int b = 0; b < kStudyBandCount; ++b) {
    const TStudyBand& band = kStudyBands[b];
    const double sizeArcSec = ReferenceArcSec(b, surface);
    bool fromCache = true;
    for (int k = 0; k < 3; ++k) {
      const double size = sizeArcSec * std::pow(2.0, k);  // arc-seconds
      char suffix[48];
      std::snprintf(suffix, sizeof suffix, "_b%d_%g.ref", b, size);
      const std::string cacheName = cacheStem.empty() ? std::string() : cacheStem + suffix;
      std::vector<double> cached;
      if (std::FILE* in = cacheName.empty() ? nullptr : std::fopen(cacheName.c_str(), "r")) {
        double v = 0;
        while (std::fscanf(in, "%lf", &v) == 1) cached.push_back(v);
        std::fclose(in);
      }
      if (cached.size() == n) {
        bands[b].atSize[k] = cached;
        continue;
      }
      fromCache = false;
      const TBuiltLayout built = Build({{band.fromDeg, band.toDeg, size}});
      bands[b].atSize[k] = Evaluate(Context(model, built, means), points, 2).dteMGal;
      if (std::FILE* out = cacheName.empty() ? nullptr : std::fopen(cacheName.c_str(), "w")) {
        for (double v : bands[b].atSize[k]) std::fprintf(out, "%.17g\n", v);
        std::fclose(out);
      }
    }
    const bool extrapolated = Settle(bands[b], band.order);
    std::printf("    %g..%g deg @ %g\": s vs 2s %.5f, 2s vs 4s %.5f, order %.2f (expected %d), %s %.5f%s  [%.0f s]\n",
                band.fromDeg, band.toDeg, sizeArcSec, MaxAbsDiff(bands[b].atSize[0], bands[b].atSize[1]),
                MaxAbsDiff(bands[b].atSize[1], bands[b].atSize[2]), bands[b].observedOrder, band.order,
                extrapolated ? "Richardson's estimate vs the same from 2s and 4s" : "not extrapolated, s vs 2s",
                MaxAbsDiff(bands[b].best, bands[b].previous), fromCache ? " (cache)" : "", elapsed());
    if (b == 0) {
      // Next to the point the rings are first order and noisy: the band's
      // reference is the quadrature over the disc, its convergence the
      // change from half the nodes.
      std::vector<double> coarse(n), fine(n);
      for (std::size_t i = 0; i < n; ++i) {
        coarse[i] = InnermostBandPlanar(*model[0].elevationGrid, points[i], band.toDeg, 8);
        fine[i] = InnermostBandPlanar(*model[0].elevationGrid, points[i], band.toDeg, 16);
      }
      std::printf("      quadrature over the disc, 16 nodes vs 8 per panel: %.7f; rings at s minus quadrature, max %.5f, per station:",
                  MaxAbsDiff(fine, coarse), MaxAbsDiff(bands[b].atSize[0], fine));
      for (std::size_t i = 0; i < n; ++i) std::printf(" %+.4f", bands[b].atSize[0][i] - fine[i]);
      std::printf("\n");
      bands[b].best = fine;
      bands[b].previous = coarse;
    }
    std::fflush(stdout);
  }
  return bands;
}

// A layout's bands cut at the bounds of study band b.
std::vector<gl::TZone> Clipped(const std::vector<gl::TZone>& bands, const TStudyBand& b) {
  std::vector<gl::TZone> out;
  for (gl::TZone z : bands) {
    z.psiFromDeg = std::max(z.psiFromDeg, b.fromDeg);
    z.psiToDeg = std::min(z.psiToDeg, b.toDeg);
    if (z.psiToDeg > z.psiFromDeg) out.push_back(z);
  }
  return out;
}

// Max and RMS of differences, mGal.
struct TSpread {
  double max = 0, sum2 = 0;
  int count = 0;
  void Add(double d) {
    max = std::max(max, std::fabs(d));
    sum2 += d * d;
    ++count;
  }
  double Rms() const { return count ? std::sqrt(sum2 / count) : 0; }
};

// Decade bands from the point to 60 h (1 degree): with n ring counts, the
// first from the point to 60 h / 10^(n - 1) (0.006 h for five, 0.0006 h for
// six), then a decade each up to 6 h .. 60 h, band i at its outer bound over
// rings[i]; then the far bands. All but the last decade take the kernel for
// rings next to the point, as the presets do, unless nearKernel is false.
std::vector<gl::TZone> Decades(std::vector<double> rings, std::vector<gl::TZone> far, bool nearKernel = true) {
  std::vector<gl::TZone> out;
  double fromArcSec = 0, toArcSec = 60 * kSpacingArcSec / std::pow(10.0, double(rings.size()) - 1);
  for (std::size_t i = 0; i < rings.size(); ++i) {
    out.push_back({.psiFromDeg = fromArcSec / 3600, .psiToDeg = toArcSec / 3600,
                   .segmentSizeArcSec = toArcSec / rings[i], .nearPointKernel = nearKernel && i + 1 < rings.size()});
    fromArcSec = toArcSec;
    toArcSec *= 10;
  }
  out.insert(out.end(), far.begin(), far.end());
  return out;
}

struct TCandidate {
  std::string name;
  std::vector<gl::TZone> bands;
  TSpread perBand[kStudyBandCount];
  TSpread total;
  std::int64_t segments = 0;
};

std::vector<TCandidate> Candidates() {
  const double h = kSpacingArcSec;
  std::vector<TCandidate> c;
  const auto add = [&c](std::string name, std::vector<gl::TZone> bands) {
    TCandidate t;
    t.name = std::move(name);
    t.bands = std::move(bands);
    c.push_back(std::move(t));
  };
  add("standard", *gl::PresetZones("standard", h));
  add("fine", *gl::PresetZones("fine", h));
  // The presets before the kernel for rings next to the point: five decades
  // from the point, the kernel from cos(psi).
  add("S-last128-cos", Decades({64, 64, 64, 64, 128}, {{1, 10, 3.75 * h}, {10, 45, 30 * h, true}, {45, 180, 60 * h, true}}, false));
  add("F-last256-cos", Decades({64, 64, 64, 64, 256}, {{1, 10, 1.875 * h}, {10, 45, 15 * h, true}, {45, 180, 30 * h, true}}, false));
  // Six decades, the kernel next to the point; rings per decade and far
  // sizes. Names: S or F, rings of the first five decades, the size of
  // 1..10 deg on point samples, of 10..45 and 45..180 deg on means.
  const auto six = [](double k, double last) { return std::vector<double>{k, k, k, k, k, last}; };
  add("S64-225pt-1800m-3600m", Decades(six(64, 128), {{1, 10, 3.75 * h}, {10, 45, 30 * h, true}, {45, 180, 60 * h, true}}));
  add("S96-225pt-1800m-3600m", Decades(six(96, 128), {{1, 10, 3.75 * h}, {10, 45, 30 * h, true}, {45, 180, 60 * h, true}}));
  add("S64-225pt-1800m-1800m", Decades(six(64, 128), {{1, 10, 3.75 * h}, {10, 45, 30 * h, true}, {45, 180, 30 * h, true}}));
  add("F64-112pt-900m-1800m", Decades(six(64, 256), {{1, 10, 1.875 * h}, {10, 45, 15 * h, true}, {45, 180, 30 * h, true}}));
  add("F96-112pt-900m-1800m", Decades(six(96, 256), {{1, 10, 1.875 * h}, {10, 45, 15 * h, true}, {45, 180, 30 * h, true}}));
  add("F128-112pt-900m-1800m", Decades(six(128, 256), {{1, 10, 1.875 * h}, {10, 45, 15 * h, true}, {45, 180, 30 * h, true}}));
  add("F96-112pt-900m-900m", Decades(six(96, 256), {{1, 10, 1.875 * h}, {10, 45, 15 * h, true}, {45, 180, 15 * h, true}}));
  add("F128-112pt-900m-900m", Decades(six(128, 256), {{1, 10, 1.875 * h}, {10, 45, 15 * h, true}, {45, 180, 15 * h, true}}));
  add("F128-75pt-900m-900m", Decades(six(128, 256), {{1, 10, 1.25 * h}, {10, 45, 15 * h, true}, {45, 180, 15 * h, true}}));
  // Sliding box means of the segment's own size (b) in the far bands and
  // beyond 3 degrees: the bands 1..3 deg on point samples (p), 3..10 on
  // box means.
  const auto box = [](double from, double to, double size) {
    return gl::TZone{.psiFromDeg = from, .psiToDeg = to, .segmentSizeArcSec = size, .blockMeans = true, .boxMeans = true};
  };
  const auto points = [](double from, double to, double size) {
    return gl::TZone{.psiFromDeg = from, .psiToDeg = to, .segmentSizeArcSec = size};
  };
  add("F-112p-900b-900b", Decades(six(128, 256), {points(1, 10, 112.5), box(10, 45, 900), box(45, 180, 900)}));
  add("F-112p-1800b-1800b", Decades(six(128, 256), {points(1, 10, 112.5), box(10, 45, 1800), box(45, 180, 1800)}));
  add("F-112p-1800b-3600b", Decades(six(128, 256), {points(1, 10, 112.5), box(10, 45, 1800), box(45, 180, 3600)}));
  add("F-112p3-225b-1800b-1800b",
      Decades(six(128, 256), {points(1, 3, 112.5), box(3, 10, 225), box(10, 45, 1800), box(45, 180, 1800)}));
  add("F-112p3-450b-1800b-3600b",
      Decades(six(128, 256), {points(1, 3, 112.5), box(3, 10, 450), box(10, 45, 1800), box(45, 180, 3600)}));
  add("F-225b-1800b-1800b", Decades(six(128, 256), {box(1, 10, 225), box(10, 45, 1800), box(45, 180, 1800)}));
  add("S-225p-3600b-3600b", Decades(six(64, 128), {points(1, 10, 225), box(10, 45, 3600), box(45, 180, 3600)}));
  add("S-225p3-450b-1800b-3600b",
      Decades(six(64, 128), {points(1, 3, 225), box(3, 10, 450), box(10, 45, 1800), box(45, 180, 3600)}));
  add("S-450b-3600b-3600b", Decades(six(64, 128), {box(1, 10, 450), box(10, 45, 3600), box(45, 180, 3600)}));
  add("S-225p3-900b-3600b", Decades(six(64, 128), {points(1, 3, 225), box(3, 10, 900), box(10, 180, 3600)}));
  // Second round: box means where the first round kept the bounds (far
  // bands), point samples coarser beyond 3 or 5 degrees.
  add("F2-112p-900b-1800b", Decades(six(128, 256), {points(1, 10, 112.5), box(10, 45, 900), box(45, 180, 1800)}));
  add("F2-112p3-225p-900b-1800b",
      Decades(six(128, 256), {points(1, 3, 112.5), points(3, 10, 225), box(10, 45, 900), box(45, 180, 1800)}));
  add("F2-112p5-225p-900b-1800b",
      Decades(six(128, 256), {points(1, 5, 112.5), points(5, 10, 225), box(10, 45, 900), box(45, 180, 1800)}));
  add("F2-112p3-150p-900b-1800b",
      Decades(six(128, 256), {points(1, 3, 112.5), points(3, 10, 150), box(10, 45, 900), box(45, 180, 1800)}));
  add("S2-225p-1800b-3600b", Decades(six(64, 128), {points(1, 10, 225), box(10, 45, 1800), box(45, 180, 3600)}));
  add("S2-225p-900b-3600b", Decades(six(64, 128), {points(1, 10, 225), box(10, 45, 900), box(45, 180, 3600)}));
  add("S2-225p3-450p-1800b-3600b",
      Decades(six(64, 128), {points(1, 3, 225), points(3, 10, 450), box(10, 45, 1800), box(45, 180, 3600)}));
  return c;
}

void PrintSpreads(const std::vector<TCandidate>& candidates, const char* title) {
  std::printf("\n%s: |layout - reference|, max / RMS over the stations, mGal\n%-22s", title, "layout");
  for (const TStudyBand& b : kStudyBands) std::printf(" %15s", (std::to_string(b.fromDeg).substr(0, 5) + ".." +
                                                                std::to_string(b.toDeg).substr(0, 5)).c_str());
  std::printf(" %15s %9s\n", "total", "segments");
  for (const TCandidate& c : candidates) {
    std::printf("%-22s", c.name.c_str());
    for (const TSpread& s : c.perBand) std::printf("  %6.4f/%6.4f", s.max, s.Rms());
    std::printf("  %6.4f/%6.4f %9lld\n", c.total.max, c.total.Rms(), static_cast<long long>(c.segments));
  }
  std::fflush(stdout);
}

// The innermost study band (0 .. 0.06 h) of layouts that differ only next
// to the point, against the quadrature over the disc: the kernel from
// cos(psi) or from 1 - cos(psi) formed apart, 64 or 128 rings, and decades
// of 64 rings added inwards (each a tenth of the one outside it).
void InnermostStudy(const gl::TLayerModel& model, const TMeansByLevel& means,
                    const std::vector<gl::TCalcPoint>& points) {
  const TStudyBand& band = kStudyBands[0];
  const std::size_t n = points.size();
  std::vector<double> quadrature(n);
  for (std::size_t i = 0; i < n; ++i) {
    quadrature[i] = InnermostBandPlanar(*model[0].elevationGrid, points[i], band.toDeg, 16);
  }
  // Decades from 0.06 h inwards: `decades` of them, each at its outer bound
  // over `rings`, the innermost from the point.
  const auto layout = [&](int decades, double rings, bool nearKernel) {
    std::vector<gl::TZone> bands;
    double toDeg = band.toDeg;
    for (int d = 0; d < decades; ++d) {
      const double fromDeg = d + 1 == decades ? 0 : toDeg / 10;
      bands.insert(bands.begin(), gl::TZone{.psiFromDeg = fromDeg, .psiToDeg = toDeg,
                                            .segmentSizeArcSec = toDeg * 3600 / rings,
                                            .nearPointKernel = nearKernel});
      toDeg = fromDeg;
    }
    return bands;
  };
  struct TInner {
    const char* name;
    std::vector<gl::TZone> bands;
  };
  const TInner layouts[] = {
      {"2x64 cos", layout(2, 64, false)},        {"2x64 near", layout(2, 64, true)},
      {"2x128 near", layout(2, 128, true)},      {"3x64 near", layout(3, 64, true)},
      {"4x64 near", layout(4, 64, true)},        {"5x64 near", layout(5, 64, true)},
      {"3x64 cos", layout(3, 64, false)},        {"4x64 cos", layout(4, 64, false)},
  };
  std::printf("  band 0..%g deg minus the quadrature, mGal: max / RMS, segments; per station\n", band.toDeg);
  for (const TInner& l : layouts) {
    const TBuiltLayout built = Build(l.bands);
    const std::vector<double> dte = Evaluate(Context(model, built, means), points, 2).dteMGal;
    TSpread spread;
    for (std::size_t i = 0; i < n; ++i) spread.Add(dte[i] - quadrature[i]);
    std::printf("  %-12s %.5f / %.5f %7lld:", l.name, spread.max, spread.Rms(), static_cast<long long>(built.segments));
    for (std::size_t i = 0; i < n; ++i) std::printf(" %+.5f", dte[i] - quadrature[i]);
    std::printf("\n");
    std::fflush(stdout);
  }
}

// ---- Real terrain: the SRTM 3" tiles, nested in the ETOPO 20' grid ----
//   globelayers_zone_study real DEM_FOLDER
// DEM_FOLDER holds srtm3_N27E086_everest.tif, srtm3_N27E088_kangchenjunga.tif
// and etopo20_global.tif. Measured here: the bands within 0.4 degrees of
// each station (the tile reaches 0.5 degrees from its centre), band by band,
// at the presets' sizes and at finer and coarser ones, against a reference at
// a sixteenth of the 64-ring size (an eighth in 0.05..0.4 degrees), shown
// converged by its change from twice its size. Twelve places near the
// Everest tile's centre, four near Kangchenjunga's, and each tile's summit
// and steepest node; each station on the surface and 10 m above. Beyond
// the tile's edge the bands see the 20' grid (the Everest summit is 0.012
// degrees from the edge).

constexpr double kRealSpacingArcSec = 3;  // h of the SRTM tiles, arc-seconds

class TPrintedPrompts final : public gl::IUserPrompts {
 public:
  void ShowMessage(const std::string& text) override { std::fprintf(stderr, "%s\n", text.c_str()); }
  bool AskYesNo(const std::string& text) override {
    std::fprintf(stderr, "%s (no)\n", text.c_str());
    return false;
  }
};

std::unique_ptr<gl::TGridImports> LoadRealGrid(const std::string& path) {
  auto grid = std::make_unique<gl::TGridImports>();
  TPrintedPrompts prompts;
  if (!gl::LoadGrid(*grid, path, prompts)) return nullptr;
  return grid;
}

// A tile's places: twelve near its centre (off the node lines), its highest
// node and its steepest node (largest gradient of the bilinear surface's
// central differences), both off the edges and voids of the tile.
std::vector<TSite> RealSites(const gl::TGridImports& tile, int nearCentre) {
  std::vector<TSite> sites;
  const double lonC = tile.xMin + 0.5 * (tile.nx - 1) * tile.xStep;
  const double latC = tile.yMin + 0.5 * (tile.ny - 1) * tile.yStep;
  const double dLon[] = {-0.0317, -0.0104, 0.0129, 0.0342};  // degrees
  const double dLat[] = {-0.0213, 0.0011, 0.0237};           // degrees
  for (double a : dLat) {
    for (double o : dLon) {
      if (int(sites.size()) < nearCentre) sites.push_back({"centre", lonC + o, latC + a});
    }
  }
  int topX = 0, topY = 0, steepX = 0, steepY = 0;
  double slopeMax = 0, topM = -1e9;  // degrees; metres
  const auto blank = [&](int ix, int iy) { return tile.at(ix, iy) > gl::kBlankThreshold; };
  for (int ix = 2; ix < tile.nx - 2; ++ix) {
    for (int iy = 2; iy < tile.ny - 2; ++iy) {
      // Next to a void the surface is not known: no site there.
      bool nearVoid = false;
      for (int a = -2; a <= 2; ++a) {
        for (int b = -2; b <= 2; ++b) nearVoid = nearVoid || blank(ix + a, iy + b);
      }
      if (nearVoid) continue;
      if (tile.at(ix, iy) > topM) topM = tile.at(ix, iy), topX = ix, topY = iy;
      const double lat = tile.yMin + iy * tile.yStep;
      const double dxM = 2 * kEarthRadiusM * tile.xStep * gl::kDegToRad * std::cos(lat * gl::kDegToRad);
      const double dyM = 2 * kEarthRadiusM * tile.yStep * gl::kDegToRad;
      const double gx = (tile.at(ix + 1, iy) - tile.at(ix - 1, iy)) / dxM;
      const double gy = (tile.at(ix, iy + 1) - tile.at(ix, iy - 1)) / dyM;
      const double slope = std::atan(std::hypot(gx, gy)) / gl::kDegToRad;
      if (slope > slopeMax) slopeMax = slope, steepX = ix, steepY = iy;
    }
  }
  sites.push_back({"summit", tile.xMin + topX * tile.xStep, tile.yMin + topY * tile.yStep});
  sites.push_back({"steepest", tile.xMin + steepX * tile.xStep, tile.yMin + steepY * tile.yStep});
  std::printf("  highest node %.0f m; steepest node %.0f deg (central differences)\n", tile.at(topX, topY), slopeMax);
  return sites;
}

std::vector<gl::TCalcPoint> RealStations(const gl::TLayerModel& model, const std::vector<TSite>& sites) {
  std::vector<gl::TCalcPoint> points;
  for (const TSite& s : sites) {
    const double surfaceM = gl::SampleElevation(model, 0, s.lambdaDeg, s.phiDeg);
    for (double aboveM : {0.0, 10.0}) {
      points.push_back({.lambda = s.lambdaDeg, .phi = s.phiDeg, .pointNumber = double(points.size() + 1),
                        .height = surfaceM + aboveM});
    }
    std::printf("  station %zu: %-9s lambda %.5f phi %.5f height %.1f m\n", points.size() - 1, s.name, s.lambdaDeg,
                s.phiDeg, surfaceM);
  }
  return points;
}

gl::TRunContext RealContext(const gl::TLayerModel& model, const TBuiltLayout& built,
                            const gl::TZoneGridMeans* means = nullptr) {
  return ContextWith(model, built, [&](std::size_t z) { return means ? means->ForZone(z) : nullptr; });
}

// The study bands on the tiles: the presets' near decades (from the point
// to 60 h = 0.05 degrees) and 0.05..0.4 degrees. Each carries the size the
// others are tried against: its outer bound over 64 rings, and 1.875 h (the
// fine preset's middle band) in the last.
std::vector<gl::TZone> RealStudyBands() {
  std::vector<gl::TZone> bands;
  double fromArcSec = 0;
  for (const double spacings : {0.006, 0.06, 0.6, 6.0, 60.0}) {
    const double toArcSec = spacings * kRealSpacingArcSec;
    bands.push_back({fromArcSec / 3600, toArcSec / 3600, toArcSec / 64});
    fromArcSec = toArcSec;
  }
  bands.push_back({fromArcSec / 3600, 0.4, 1.875 * kRealSpacingArcSec});
  return bands;
}

// One band at one size: max and RMS of its difference from the band's
// reference, for the stations on the surface and 10 m above.
struct TRealRow {
  double sizeArcSec;
  TSpread onSurface, above;
  std::int64_t segments;
};

// The sizes tried in a study band: twice its size down to a quarter (the
// near bands at 32 to 256 rings), and, where the size
// comes near h, multiples of h (h, 2/3 h, h/2, h/3, h/4), to see whether
// sizes that fit the node lines fare better.
std::vector<double> RealSizes(const gl::TZone& band) {
  const double fine = band.segmentSizeArcSec;  // arc-seconds
  std::vector<double> sizes = {2 * fine, fine, fine / 2, fine / 4};
  if (2 * fine >= kRealSpacingArcSec) {
    for (double k : {1.0, 2.0 / 3, 0.5, 1.0 / 3, 0.25}) sizes.push_back(kRealSpacingArcSec * k);
  }
  return sizes;
}

// A near-zone layout on the study bands: the size index (into RealSizes)
// of each band.
struct TRealCandidate {
  std::string name;
  std::vector<int> sizeIndex;  // per study band
  TSpread onSurface, above;
  std::int64_t segments = 0;
};

std::vector<TRealCandidate> RealCandidates(std::size_t bandCount) {
  // Index 0: twice the band's size (standard's middle band), 1: its size
  // (64 rings per near band, fine's middle band), 2: half (128 rings),
  // 3: a quarter (256 rings). The presets: standard 64/128, fine 64/256.
  std::vector<TRealCandidate> c;
  const auto add = [&](std::string name, int third, int fourth, int last) {
    std::vector<int> index(bandCount, 1);
    index[bandCount - 3] = third;
    index[bandCount - 2] = fourth;
    index[bandCount - 1] = last;
    c.push_back({std::move(name), index, {}, {}, 0});
  };
  for (int last : {0, 1}) {
    const std::string preset = last == 0 ? "standard" : "fine";
    for (int third : {1, 2, 3}) {
      for (int fourth : {1, 2, 3}) {
        add(preset + " " + std::to_string(64 << (third - 1)) + "/" + std::to_string(64 << (fourth - 1)), third,
            fourth, last);
      }
    }
  }
  return c;
}

int RealTerrainStudy(const std::string& folder) {
  const auto t0 = std::chrono::steady_clock::now();
  const auto elapsed = [&] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(); };
  std::unique_ptr<gl::TGridImports> etopo = LoadRealGrid(folder + "/etopo20_global.tif");
  if (!etopo) return 1;
  struct TTile {
    const char* file;
    int nearCentre;  // places near the centre
  };
  const TTile tiles[] = {{"srtm3_N27E086_everest.tif", 12}, {"srtm3_N27E088_kangchenjunga.tif", 4}};
  const std::vector<gl::TZone> bands = RealStudyBands();
  std::vector<std::vector<TRealRow>> all(bands.size());
  std::vector<TSpread> refChange(bands.size());
  std::vector<TRealCandidate> candidates = RealCandidates(bands.size());
  for (const TTile& t : tiles) {
    std::printf("\n=== %s nested in etopo20_global.tif\n", t.file);
    gl::TLayerModel model;
    model[0].elevationGrid = LoadRealGrid(folder + "/" + t.file);
    if (!model[0].elevationGrid) return 1;
    model[0].elevationMore.push_back(std::make_unique<gl::TGridImports>(*etopo));
    model[1].elevation = 0;  // metres: sea level
    model[1].density = kDensity;
    const std::vector<gl::TCalcPoint> points = RealStations(model, RealSites(*model[0].elevationGrid, t.nearCentre));
    const std::size_t n = points.size();
    // dte[b][k][i]: band b at its size k, station i, minus the band's reference.
    std::vector<std::vector<std::vector<double>>> miss(bands.size());
    for (std::size_t b = 0; b < bands.size(); ++b) {
      const gl::TZone& band = bands[b];
      const auto run = [&](double size) {
        const TBuiltLayout built = Build({{band.psiFromDeg, band.psiToDeg, size}});
        return std::make_pair(Evaluate(RealContext(model, built), points, 2).dteMGal, built.segments);
      };
      // The reference: a sixteenth of the band's size in the near bands
      // (1024 rings), an eighth in the wide last band (16 million segments a
      // station there).
      const double refDivisor = b + 1 < bands.size() ? 16 : 8;
      const double refSize = band.segmentSizeArcSec / refDivisor;  // arc-seconds
      const std::vector<double> ref = run(refSize).first;
      const std::vector<double> check = run(2 * refSize).first;
      for (std::size_t i = 0; i < n; ++i) refChange[b].Add(check[i] - ref[i]);
      const std::vector<double> sizes = RealSizes(band);
      if (all[b].empty()) {
        for (double size : sizes) all[b].push_back({size, {}, {}, 0});
      }
      std::printf("  band %g..%g deg, reference at %g\", change from twice that %.5f [%.0f s]\n", band.psiFromDeg,
                  band.psiToDeg, refSize, MaxAbsDiff(ref, check), elapsed());
      for (std::size_t k = 0; k < sizes.size(); ++k) {
        const auto [dte, segments] = run(sizes[k]);
        TRealRow& row = all[b][k];
        row.segments = segments;
        std::vector<double> d(n);
        for (std::size_t i = 0; i < n; ++i) {
          d[i] = dte[i] - ref[i];
          (i % 2 == 0 ? row.onSurface : row.above).Add(d[i]);
        }
        if (k == 1) {
          std::printf("    at %g\" per station:", sizes[k]);
          for (double v : d) std::printf(" %+.4f", v);
          std::printf("\n");
        }
        miss[b].push_back(std::move(d));
      }
      std::fflush(stdout);
    }
    for (TRealCandidate& c : candidates) {
      c.segments = 0;
      for (std::size_t b = 0; b < bands.size(); ++b) c.segments += all[b][c.sizeIndex[b]].segments;
      for (std::size_t i = 0; i < n; ++i) {
        double sum = 0;  // mGal
        for (std::size_t b = 0; b < bands.size(); ++b) sum += miss[b][c.sizeIndex[b]][i];
        (i % 2 == 0 ? c.onSurface : c.above).Add(sum);
      }
    }
  }
  std::printf("\nreal tiles: |band at size - reference|, max / RMS over the stations, mGal [%.0f s]\n", elapsed());
  std::printf("%-16s %10s %9s %17s %17s\n", "band (deg)", "size (\")", "segments", "on the surface", "10 m above");
  for (std::size_t b = 0; b < bands.size(); ++b) {
    char name[48];
    std::snprintf(name, sizeof name, "%g..%g", bands[b].psiFromDeg, bands[b].psiToDeg);
    for (const TRealRow& row : all[b]) {
      std::printf("%-16s %10.6g %9lld   %6.4f / %6.4f   %6.4f / %6.4f\n", name, row.sizeArcSec,
                  static_cast<long long>(row.segments), row.onSurface.max, row.onSurface.Rms(), row.above.max,
                  row.above.Rms());
    }
    std::printf("%-16s reference: change from twice its size %.5f\n", name, refChange[b].max);
  }
  std::printf("\nreal tiles, the bands to 0.4 deg together (rings in 0.0005..0.005 / 0.005..0.05 deg)\n");
  std::printf("%-20s %9s %17s %17s\n", "layout", "segments", "on the surface", "10 m above");
  for (const TRealCandidate& c : candidates) {
    std::printf("%-20s %9lld   %6.4f / %6.4f   %6.4f / %6.4f\n", c.name.c_str(), static_cast<long long>(c.segments),
                c.onSurface.max, c.onSurface.Rms(), c.above.max, c.above.Rms());
  }
  std::printf("\ntotal %.0f s\n", elapsed());
  return 0;
}

// ---- Real terrain beyond 0.4 degrees: the far bands on the tiles ----
//   globelayers_zone_study realfar DEM_FOLDER [PLACES]
// The same places as `real` (PLACES near the Everest tile's centre, 12 if
// not given, a third of them near Kangchenjunga's, and each tile's summit
// and steepest node), stations on the surface. The presets on the list
// `tile | etopo20` take the tile's 3" rule out to the tile's reach (1.4
// degrees) and, beyond, the 1' rule (a coarser spacing than 1' counts as
// 1' there; the 20' grid's own rule was tried too: its point samples from
// 20 degrees on missed by 0.100 mGal in `standard` and 0.020 in `fine`,
// on means at the same sizes by 0.021 and 0.0086, at 1125" by 0.0042, with
// one place near each tile's centre).
// Measured band by band between
// the presets' bounds from 0.4 degrees out, against point samples at sizes
// where the band no longer changes: a reference at size s, shown converged
// by its change from 2 s. Block means where the preset asks for them,
// formed from both grids as a run forms them.

struct TFarRow {
  TSpread change;                   // reference against twice its size
  TSpread miss[2];                  // standard, fine
  double sizeArcSec[2] = {0, 0};    // the presets' sizes in the band
  bool means[2] = {false, false};
  std::int64_t segments[2] = {0, 0};
};

int RealFarStudy(const std::string& folder, int nearCentre) {
  const auto t0 = std::chrono::steady_clock::now();
  const auto elapsed = [&] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(); };
  std::unique_ptr<gl::TGridImports> etopo = LoadRealGrid(folder + "/etopo20_global.tif");
  if (!etopo) return 1;
  struct TTile {
    const char* file;
    int nearCentre;  // places near the centre
  };
  const TTile tiles[] = {{"srtm3_N27E086_everest.tif", nearCentre},
                         {"srtm3_N27E088_kangchenjunga.tif", std::max(1, nearCentre / 3)}};
  // Study bands and the sizes of their references (arc-seconds, point
  // samples): about 10 to 35 million segments a station each.
  struct TStudyBand {
    double fromDeg, toDeg, refArcSec;
  };
  const TStudyBand study[] = {{0.4, 0.5, 0.703125}, {0.5, 1.4, 1.40625}, {1.4, 10, 28.125}, {10, 45, 112.5},
                              {45, 180, 225}};
  constexpr std::size_t kBands = std::size(study);
  const char* presets[2] = {"standard", "fine"};
  std::vector<TFarRow> rows(kBands);
  TSpread total[2], totalHalved[2];  // beyond 0.4 degrees; the same with the presets' sizes halved

  for (const TTile& t : tiles) {
    std::printf("\n=== %s nested in etopo20_global.tif\n", t.file);
    gl::TLayerModel model;
    model[0].elevationGrid = LoadRealGrid(folder + "/" + t.file);
    if (!model[0].elevationGrid) return 1;
    model[0].elevationMore.push_back(std::make_unique<gl::TGridImports>(*etopo));
    model[1].elevation = 0;  // metres: sea level
    model[1].density = kDensity;
    const std::vector<gl::TCalcPoint> both = RealStations(model, RealSites(*model[0].elevationGrid, t.nearCentre));
    std::vector<gl::TCalcPoint> points;  // on the surface
    for (std::size_t i = 0; i < both.size(); i += 2) points.push_back(both[i]);
    const std::size_t n = points.size();
    const std::vector<gl::TPresetSpacing> spacings =
        gl::PresetSpacings({{model[0].elevationGrid.get(), model[0].elevationMore[0].get()}});
    const std::vector<gl::TRoledGrid> grids = {{model[0].elevationGrid.get(), gl::TGridRole::Elevation},
                                               {model[0].elevationMore[0].get(), gl::TGridRole::Elevation}};
    // One band list evaluated, its block means formed as a run forms them.
    const auto run = [&](const std::vector<gl::TZone>& bands) {
      const TBuiltLayout built = Build(bands);
      const gl::TZoneGridMeans means(grids, built.bands, kEarthRadiusM);
      return std::make_pair(Evaluate(RealContext(model, built, &means), points, 2).dteMGal, built.segments);
    };
    std::vector<double> sum[2], sumHalved[2];
    for (int p = 0; p < 2; ++p) sum[p].assign(n, 0), sumHalved[p].assign(n, 0);
    for (std::size_t b = 0; b < kBands; ++b) {
      const TStudyBand& band = study[b];
      const std::vector<double> ref = run({{band.fromDeg, band.toDeg, band.refArcSec}}).first;
      const std::vector<double> check = run({{band.fromDeg, band.toDeg, 2 * band.refArcSec}}).first;
      for (std::size_t i = 0; i < n; ++i) rows[b].change.Add(check[i] - ref[i]);
      std::printf("  band %g..%g deg, reference at %g\", change from twice that %.5f [%.0f s]\n", band.fromDeg,
                  band.toDeg, band.refArcSec, MaxAbsDiff(ref, check), elapsed());
      for (int p = 0; p < 2; ++p) {
        // The preset's bands within the study band, cut at its bounds.
        std::vector<gl::TZone> cut;
        const std::vector<gl::TZone> preset = *gl::PresetZones(presets[p], spacings);
        for (const gl::TZone& z : preset) {
          const double from = std::max(z.psiFromDeg, band.fromDeg), to = std::min(z.psiToDeg, band.toDeg);
          if (!(to > from)) continue;
          gl::TZone piece = z;  // its means of either kind with it
          piece.psiFromDeg = from;
          piece.psiToDeg = to;
          cut.push_back(piece);
        }
        rows[b].sizeArcSec[p] = cut.front().segmentSizeArcSec;
        rows[b].means[p] = cut.front().blockMeans;
        const auto [dte, segments] = run(cut);
        rows[b].segments[p] = segments;
        std::printf("    %-8s at %g\"%s:", presets[p], cut.front().segmentSizeArcSec, cut.front().blockMeans ? " means" : "");
        for (std::size_t i = 0; i < n; ++i) {
          rows[b].miss[p].Add(dte[i] - ref[i]);
          sum[p][i] += dte[i] - ref[i];
          std::printf(" %+.4f", dte[i] - ref[i]);
        }
        std::printf("\n");
        for (gl::TZone& z : cut) z.segmentSizeArcSec /= 2;
        const std::vector<double> halved = run(cut).first;
        for (std::size_t i = 0; i < n; ++i) sumHalved[p][i] += halved[i] - ref[i];
      }
      // Other sizes and samplings tried in the band (arc-seconds; m: block means).
      std::vector<std::vector<gl::TZone>> tried;
      if (band.fromDeg >= 10) {
        for (double size : {3600.0, 1800.0, 900.0}) {
          tried.push_back({{band.fromDeg, band.toDeg, size, false}});
          tried.push_back({{band.fromDeg, band.toDeg, size, true}});
        }
      } else if (band.fromDeg == 0.5) {
        for (double size : {90.0, 45.0, 22.5, 11.25}) {
          tried.push_back({{0.5, 1.4, size, false}});
          tried.push_back({{0.5, 1.4, size, true}});
          tried.push_back({{.psiFromDeg = 0.5, .psiToDeg = 1.4, .segmentSizeArcSec = size, .blockMeans = true,
                            .boxMeans = true}});
        }
      }
      for (const std::vector<gl::TZone>& layout : tried) {
        const auto [dte, segments] = run(layout);
        TSpread miss;
        for (std::size_t i = 0; i < n; ++i) miss.Add(dte[i] - ref[i]);
        std::printf("    tried");
        for (const gl::TZone& z : layout) {
          std::printf(" %g..%g@%g%s", z.psiFromDeg, z.psiToDeg, z.segmentSizeArcSec,
                      z.boxMeans ? "b" : z.blockMeans ? "m" : "");
        }
        std::printf(": %6.4f / %6.4f (%lld segments)\n", miss.max, miss.Rms(), static_cast<long long>(segments));
      }
      std::fflush(stdout);
    }
    for (int p = 0; p < 2; ++p) {
      for (std::size_t i = 0; i < n; ++i) {
        total[p].Add(sum[p][i]);
        totalHalved[p].Add(sumHalved[p][i]);
      }
    }
  }

  std::printf("\nreal tiles beyond 0.4 deg: |preset band - reference|, max / RMS over the stations on the surface, "
              "mGal [%.0f s]\n", elapsed());
  std::printf("%-12s %10s %10s %22s %22s\n", "band (deg)", "reference", "change", "standard", "fine");
  for (std::size_t b = 0; b < kBands; ++b) {
    std::printf("%g..%-8g %9g\" %10.5f", study[b].fromDeg, study[b].toDeg, study[b].refArcSec, rows[b].change.max);
    for (int p = 0; p < 2; ++p) {
      std::printf("   %7g\"%s %6.4f / %6.4f (%lld)", rows[b].sizeArcSec[p], rows[b].means[p] ? "m" : " ",
                  rows[b].miss[p].max, rows[b].miss[p].Rms(), static_cast<long long>(rows[b].segments[p]));
    }
    std::printf("\n");
  }
  for (int p = 0; p < 2; ++p) {
    std::printf("%-8s 0.4..180 deg: %6.4f / %6.4f; at half its sizes %6.4f / %6.4f\n", presets[p], total[p].max,
                total[p].Rms(), totalHalved[p].max, totalHalved[p].Rms());
  }
  // Segments per point of the presets on this list, before (the tile's rule
  // to 180 degrees) and now.
  gl::TGridImports tileGeometry = *etopo;  // a geometry only: 86 .. 87 E, 27 .. 28 N at 3"
  tileGeometry.xStep = 1.0 / 1200, tileGeometry.yStep = -1.0 / 1200;
  tileGeometry.xMin = 86, tileGeometry.xMax = 87, tileGeometry.yMin = 28, tileGeometry.yMax = 27;
  const std::vector<gl::TPresetSpacing> spacings = gl::PresetSpacings({{&tileGeometry, etopo.get()}});
  for (int p = 0; p < 2; ++p) {
    std::int64_t before = 0, now = 0;
    const std::vector<gl::TZone> tileRule = *gl::PresetZones(presets[p], kRealSpacingArcSec);
    const std::vector<gl::TZone> nested = *gl::PresetZones(presets[p], spacings);
    const auto count = [](const gl::TZone& z) {  // from the rings alone: no tables of 66 million entries
      const auto layout = gl::BuildRingLayout(z.psiFromDeg * gl::kDegToRad, z.psiToDeg * gl::kDegToRad, 0, 2 * gl::kPi,
                                              z.segmentSizeArcSec, kEarthRadiusM);
      return layout ? gl::SegmentTotal(*layout) : std::int64_t{-1};
    };
    for (const gl::TZone& z : tileRule) before += count(z);
    for (const gl::TZone& z : nested) now += count(z);
    std::printf("%-8s segments per point on tile | etopo20: %lld before, %lld now\n", presets[p],
                static_cast<long long>(before), static_cast<long long>(now));
  }
  std::printf("\ntotal %.0f s\n", elapsed());
  return 0;
}

// ---- Real terrain from the point to 180 degrees: both presets whole ----
//   globelayers_zone_study realall DEM_FOLDER [CACHE_FOLDER]
// The 20 places of `real` (twelve near the Everest tile's centre, four
// near Kangchenjunga's, each tile's summit and steepest node), each with a
// station on the surface and one 10 m above. Both presets as a run forms
// them on the list `tile | etopo20` (PresetZones with the list's
// spacings), band by band and whole, against a reference in the presets'
// own bands: the near decades at 1024 rings, the bands beyond at sizes
// where they no longer change (point samples). The reference is shown
// converged by its change from twice its sizes, per station, summed over
// the bands. A station's total miss is its whole run against the sum of
// its reference bands, not the sum of the bands' maxima. Then the tile's
// band 600 h .. 2700 h (cut at the tile's reach) at other sizes, on point
// samples and on block means, and the totals it would give. The references
// are kept in CACHE_FOLDER, one file per tile and band.

// A band of the reference, and its size.
struct TRealReference {
  gl::TZone band;
  std::vector<double> ref, check;  // per station: at the band's size and at twice it, mGal
};

// The reference size of a band of the presets on `tile | etopo20`,
// arc-seconds: 1024 rings in the near decades, a sixteenth of the 64-ring
// size (512 had left 0.0027 in 0.005 .. 0.05 degrees); beyond, the sizes
// that `real` and `realfar` found converged.
double RealReferenceSize(const gl::TZone& band) {
  if (band.psiToDeg <= 0.05 * (1 + 1e-9)) return band.psiToDeg * 3600 / 1024;
  if (band.psiToDeg <= 0.5 * (1 + 1e-9)) return 0.703125;
  if (band.psiToDeg <= 1.4 * (1 + 1e-9)) return 1.40625;
  if (band.psiToDeg <= 10 * (1 + 1e-9)) return 28.125;
  if (band.psiToDeg <= 45 * (1 + 1e-9)) return 112.5;
  return 225;
}

// Reads a band's reference kept by an earlier run: its first line names
// the band, its size and the station count, so that a file of another
// band or station set is never taken.
bool ReadRealReference(const std::string& name, const std::string& header, std::size_t n, TRealReference& r) {
  std::FILE* in = std::fopen(name.c_str(), "r");
  if (!in) return false;
  char line[256] = {};
  const bool same = std::fgets(line, sizeof line, in) && header + "\n" == line;
  std::vector<double> values;
  double v = 0;
  while (same && std::fscanf(in, "%lf", &v) == 1) values.push_back(v);
  std::fclose(in);
  if (values.size() != 2 * n) return false;
  r.ref.assign(values.begin(), values.begin() + std::ptrdiff_t(n));
  r.check.assign(values.begin() + std::ptrdiff_t(n), values.end());
  return true;
}

void WriteRealReference(const std::string& name, const std::string& header, const TRealReference& r) {
  std::FILE* out = std::fopen(name.c_str(), "w");
  if (!out) return;
  std::fprintf(out, "%s\n", header.c_str());
  for (double v : r.ref) std::fprintf(out, "%.17g\n", v);
  for (double v : r.check) std::fprintf(out, "%.17g\n", v);
  std::fclose(out);
}

// Misses per station of one layout, the stations on the surface at even
// indices and those 10 m above at odd ones.
struct TStationMiss {
  std::vector<double> d;  // mGal
  TSpread OnSurface() const {
    TSpread s;
    for (std::size_t i = 0; i < d.size(); i += 2) s.Add(d[i]);
    return s;
  }
  TSpread Above() const {
    TSpread s;
    for (std::size_t i = 1; i < d.size(); i += 2) s.Add(d[i]);
    return s;
  }
};

int RealAllStudy(const std::string& folder, const std::string& cacheDir) {
  const auto t0 = std::chrono::steady_clock::now();
  const auto elapsed = [&] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(); };
  std::unique_ptr<gl::TGridImports> etopo = LoadRealGrid(folder + "/etopo20_global.tif");
  if (!etopo) return 1;
  struct TTile {
    const char* file;
    const char* stem;  // for the cache's file names
    int nearCentre;    // places near the centre
  };
  const TTile tiles[] = {{"srtm3_N27E086_everest.tif", "everest", 12},
                         {"srtm3_N27E088_kangchenjunga.tif", "kangchenjunga", 4}};
  const char* presets[2] = {"standard", "fine"};
  // Other sizes tried (arc-seconds) in the tile's band 600 h .. 2700 h, on
  // point samples and on means, and in the band before it, 60 h .. 600 h.
  const double triedTile[] = {90, 45, 30, 22.5, 11.25};
  const double triedMiddle[] = {11.25, 5.625, 3.75, 2.8125, 1.875};
  struct TVariant {
    bool tile;  // the tile's band, else the band before it
    gl::TZone band;
    std::int64_t segments = 0;
    TStationMiss miss;
  };
  std::vector<TVariant> variants;

  std::vector<gl::TZone> bounds;            // the reference bands: the presets' bands
  std::vector<TStationMiss> refChange;      // per band
  std::vector<TStationMiss> bandMiss[2];    // per preset and band
  TStationMiss wholeMiss[2], bandSum[2], refTotalChange;
  std::vector<std::int64_t> bandSegments[2];
  std::vector<gl::TZone> presetZones[2];
  std::size_t tileBand = 0;  // index of the tile's band 600 h .. 2700 h

  for (const TTile& t : tiles) {
    std::printf("\n=== %s nested in etopo20_global.tif\n", t.file);
    gl::TLayerModel model;
    model[0].elevationGrid = LoadRealGrid(folder + "/" + t.file);
    if (!model[0].elevationGrid) return 1;
    model[0].elevationMore.push_back(std::make_unique<gl::TGridImports>(*etopo));
    model[1].elevation = 0;  // metres: sea level
    model[1].density = kDensity;
    const std::vector<gl::TCalcPoint> points = RealStations(model, RealSites(*model[0].elevationGrid, t.nearCentre));
    const std::size_t n = points.size();
    const std::vector<gl::TPresetSpacing> spacings =
        gl::PresetSpacings({{model[0].elevationGrid.get(), model[0].elevationMore[0].get()}});
    const std::vector<gl::TRoledGrid> grids = {{model[0].elevationGrid.get(), gl::TGridRole::Elevation},
                                               {model[0].elevationMore[0].get(), gl::TGridRole::Elevation}};
    const auto run = [&](const std::vector<gl::TZone>& bands) {
      const TBuiltLayout built = Build(bands);
      const gl::TZoneGridMeans means(grids, built.bands, kEarthRadiusM);
      return std::make_pair(Evaluate(RealContext(model, built, &means), points, 2).dteMGal, built.segments);
    };
    const std::vector<gl::TZone> zones[2] = {*gl::PresetZones(presets[0], spacings),
                                             *gl::PresetZones(presets[1], spacings)};
    if (!presetZones[0].empty() && (zones[0] != presetZones[0] || zones[1] != presetZones[1])) {
      std::fprintf(stderr, "the tiles give different preset bands: no common table\n");
      return 1;
    }
    presetZones[0] = zones[0], presetZones[1] = zones[1];
    // Both presets cut the distance at the same bounds: those are the
    // reference's bands.
    if (zones[0].size() != zones[1].size()) {
      std::fprintf(stderr, "the presets' bands differ in number: no common reference\n");
      return 1;
    }
    for (std::size_t b = 0; b < zones[0].size(); ++b) {
      if (zones[0][b].psiFromDeg != zones[1][b].psiFromDeg || zones[0][b].psiToDeg != zones[1][b].psiToDeg) {
        std::fprintf(stderr, "the presets' bands differ at band %zu: no common reference\n", b);
        return 1;
      }
    }
    if (bounds.empty()) {
      bounds = zones[1];
      refChange.resize(bounds.size());
      for (int p = 0; p < 2; ++p) bandMiss[p].resize(bounds.size()), bandSegments[p].assign(bounds.size(), 0);
      for (std::size_t b = 0; b < bounds.size(); ++b) {
        if (bounds[b].psiFromDeg < 1 && bounds[b].psiToDeg < 180 && bounds[b].psiToDeg > 1) tileBand = b;
      }
    }
    std::vector<double> refSum(n, 0), checkSum(n, 0);  // mGal
    std::vector<std::vector<double>> ref(bounds.size());
    for (std::size_t b = 0; b < bounds.size(); ++b) {
      TRealReference r;
      r.band = {bounds[b].psiFromDeg, bounds[b].psiToDeg, RealReferenceSize(bounds[b]), false,
                bounds[b].nearPointKernel};
      char header[160];
      std::snprintf(header, sizeof header, "%.17g %.17g %.17g %d %zu", r.band.psiFromDeg, r.band.psiToDeg,
                    r.band.segmentSizeArcSec, int(r.band.nearPointKernel), n);
      const std::string cacheName =
          cacheDir.empty() ? std::string() : cacheDir + "/realall_" + t.stem + "_b" + std::to_string(b) + ".ref";
      const bool fromCache = !cacheName.empty() && ReadRealReference(cacheName, header, n, r);
      if (!fromCache) {
        r.ref = run({r.band}).first;
        gl::TZone twice = r.band;
        twice.segmentSizeArcSec *= 2;
        r.check = run({twice}).first;
        if (!cacheName.empty()) WriteRealReference(cacheName, header, r);
      }
      for (std::size_t i = 0; i < n; ++i) {
        refSum[i] += r.ref[i];
        checkSum[i] += r.check[i];
        refChange[b].d.push_back(r.check[i] - r.ref[i]);
      }
      std::printf("  band %g..%g deg, reference at %g\", change from twice that %.5f%s [%.0f s]\n", r.band.psiFromDeg,
                  r.band.psiToDeg, r.band.segmentSizeArcSec, MaxAbsDiff(r.ref, r.check), fromCache ? " (cache)" : "",
                  elapsed());
      std::fflush(stdout);
      ref[b] = std::move(r.ref);
    }
    for (std::size_t i = 0; i < n; ++i) refTotalChange.d.push_back(checkSum[i] - refSum[i]);

    if (variants.empty()) {
      for (double size : triedTile) {
        for (bool means : {false, true}) {
          gl::TZone band = zones[1][tileBand];
          band.segmentSizeArcSec = size, band.blockMeans = means;
          variants.push_back({true, band, 0, {}});
        }
      }
      for (double size : triedMiddle) {
        gl::TZone band = zones[1][tileBand - 1];
        band.segmentSizeArcSec = size;
        variants.push_back({false, band, 0, {}});
      }
    }
    for (TVariant& v : variants) {
      const std::size_t b = v.tile ? tileBand : tileBand - 1;
      const auto [dte, segments] = run({v.band});
      v.segments = segments;
      for (std::size_t i = 0; i < n; ++i) v.miss.d.push_back(dte[i] - ref[b][i]);
    }
    for (int p = 0; p < 2; ++p) {
      std::vector<double> sum(n, 0);  // mGal
      for (std::size_t b = 0; b < bounds.size(); ++b) {
        const auto [dte, segments] = run({zones[p][b]});
        bandSegments[p][b] = segments;
        for (std::size_t i = 0; i < n; ++i) {
          bandMiss[p][b].d.push_back(dte[i] - ref[b][i]);
          sum[i] += dte[i] - ref[b][i];
        }
      }
      const std::vector<double> whole = run(zones[p]).first;
      std::printf("    %-8s whole, per station:", presets[p]);
      for (std::size_t i = 0; i < n; ++i) {
        wholeMiss[p].d.push_back(whole[i] - refSum[i]);
        bandSum[p].d.push_back(sum[i]);
        std::printf(" %+.4f", whole[i] - refSum[i]);
      }
      std::printf("\n");
      std::fflush(stdout);
    }
  }

  std::printf("\nreal tiles, 0..180 deg: |preset - reference|, max / RMS over the stations on the surface and "
              "as many 10 m above, mGal (m: block means) [%.0f s]\n", elapsed());
  std::printf("%-20s %9s %15s", "band (deg)", "ref (\")", "its change");
  for (const char* p : presets) std::printf(" | %-8s %9s %15s %15s", p, "segments", "surface", "10 m above");
  std::printf("\n");
  const auto size = [](const gl::TZone& z) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6g\"%s", z.segmentSizeArcSec, z.blockMeans ? "m" : "");
    return std::string(text);
  };
  std::int64_t segments[2] = {0, 0};
  for (std::size_t b = 0; b < bounds.size(); ++b) {
    char name[64];
    std::snprintf(name, sizeof name, "%.3g..%.3g", bounds[b].psiFromDeg, bounds[b].psiToDeg);
    std::printf("%-20s %9.4g %7.5f/%7.5f", name, RealReferenceSize(bounds[b]), refChange[b].OnSurface().max,
                refChange[b].Above().max);
    for (int p = 0; p < 2; ++p) {
      const TSpread s = bandMiss[p][b].OnSurface(), a = bandMiss[p][b].Above();
      segments[p] += bandSegments[p][b];
      std::printf(" | %-8s %9lld %6.4f/%6.4f %6.4f/%6.4f", size(presetZones[p][b]).c_str(),
                  static_cast<long long>(bandSegments[p][b]), s.max, s.Rms(), a.max, a.Rms());
    }
    std::printf("\n");
  }
  std::printf("%-20s %9s %7.5f/%7.5f", "0..180, per station", "", refTotalChange.OnSurface().max,
              refTotalChange.Above().max);
  for (int p = 0; p < 2; ++p) {
    const TSpread s = wholeMiss[p].OnSurface(), a = wholeMiss[p].Above();
    std::printf(" | %-8s %9lld %6.4f/%6.4f %6.4f/%6.4f", "", static_cast<long long>(segments[p]), s.max, s.Rms(),
                a.max, a.Rms());
  }
  std::printf("\n");
  for (int p = 0; p < 2; ++p) {
    std::printf("%-8s whole run against the sum of its bands run apart: %.2g mGal at most\n", presets[p],
                MaxAbsDiff(wholeMiss[p].d, bandSum[p].d));
  }

  // Per station and band, for each preset: where the misses add up.
  for (int p = 0; p < 2; ++p) {
    std::printf("\n%s per station (surface, 10 m above, ...), mGal:\n", presets[p]);
    for (std::size_t b = 0; b < bounds.size(); ++b) {
      std::printf("%-14s", (std::to_string(bounds[b].psiFromDeg).substr(0, 8) + "..").c_str());
      for (double v : bandMiss[p][b].d) std::printf(" %+.4f", v);
      std::printf("\n");
    }
    std::printf("%-14s", "total");
    for (double v : wholeMiss[p].d) std::printf(" %+.4f", v);
    std::printf("\n");
  }

  // The variants alone, then each preset's total with the band before the
  // tile's band (rows) and the tile's band (columns) as the preset has
  // them or as a variant: max over the stations on the surface and 10 m above.
  std::printf("\nother sizes: the band's miss, max / RMS on the surface, max 10 m above, mGal\n");
  for (const TVariant& v : variants) {
    const TSpread s = v.miss.OnSurface();
    std::printf("  %s %9lld %6.4f/%6.4f %6.4f\n", Describe({v.band}).c_str(), static_cast<long long>(v.segments), s.max,
                s.Rms(), v.miss.Above().max);
  }
  for (int p = 0; p < 2; ++p) {
    const std::size_t m = tileBand - 1;
    std::vector<const TVariant*> rows = {nullptr}, columns = {nullptr};  // null: the preset's own
    for (const TVariant& v : variants) (v.tile ? columns : rows).push_back(&v);
    std::printf("\n%s, total 0..180 deg, max over all stations (rows: %s; columns: %s), mGal\n%-22s", presets[p],
                Describe({presetZones[p][m]}).c_str(), Describe({presetZones[p][tileBand]}).c_str(), "");
    for (const TVariant* c : columns) {
      std::printf(" %9s", c ? Describe({c->band}).substr(Describe({c->band}).find('@') + 1).c_str() : "preset");
    }
    std::printf("\n");
    for (const TVariant* r : rows) {
      std::printf("%-22s", r ? Describe({r->band}).c_str() : ("preset " + Describe({presetZones[p][m]})).c_str());
      for (const TVariant* c : columns) {
        TSpread t;
        for (std::size_t i = 0; i < wholeMiss[p].d.size(); ++i) {
          double d = wholeMiss[p].d[i];
          if (r) d += r->miss.d[i] - bandMiss[p][m].d[i];
          if (c) d += c->miss.d[i] - bandMiss[p][tileBand].d[i];
          t.Add(d);
        }
        std::printf(" %9.4f", t.max);
      }
      std::printf("\n");
    }
  }
  std::printf("\ntotal %.0f s\n", elapsed());
  return 0;
}

// Where a layout's time goes: each band alone, 2 threads, median of 5
// rounds, per point and per segment, so that point samples of the full
// grid and block means can be told apart.
void PrintBandCosts(const gl::TLayerModel& model, const TMeansByLevel& means, const std::vector<gl::TCalcPoint>& points,
                    const std::vector<gl::TZone>& bands, const char* name) {
  std::printf("\n%s band by band (2 threads, medians of 5 rounds):\n%-24s %10s %12s %12s\n", name, "band", "segments",
              "ms per point", "ns per segment");
  for (const gl::TZone& band : bands) {
    const TBuiltLayout built = Build({band});
    const gl::TRunContext ctx = Context(model, built, means);
    std::vector<double> seconds;
    for (int round = 0; round < 5; ++round) seconds.push_back(Evaluate(ctx, points, 2).seconds);
    const double perPoint = Median(seconds) / double(points.size());  // seconds
    std::printf("%-24s %10lld %12.3f %12.1f\n", Describe({band}).c_str(), static_cast<long long>(built.segments),
                1e3 * perPoint, 1e9 * perPoint / double(built.segments));
  }
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  const auto t0 = std::chrono::steady_clock::now();
  const auto elapsed = [&] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(); };

  if (argc > 2 && std::string(argv[1]) == "real") return RealTerrainStudy(argv[2]);
  if (argc > 2 && std::string(argv[1]) == "realall") return RealAllStudy(argv[2], argc > 3 ? argv[3] : "");
  if (argc > 2 && std::string(argv[1]) == "realfar") return RealFarStudy(argv[2], argc > 3 ? std::atoi(argv[3]) : 12);
  if (argc > 1 && std::string(argv[1]) == "roughness") {  // the surfaces' figures only
    for (const TSurface& surface : kSurfaces) {
      if (argc > 2 && surface.name != std::string(argv[2])) continue;
      std::printf("surface %s\n", surface.name);
      const std::unique_ptr<gl::TGridImports> topo = surface.make();
      PrintRoughness(*topo);
      SteepSites(*topo);
    }
    return 0;
  }
  if (argc > 1 && std::string(argv[1]) == "inner") {  // the band 0..0.06 h against the quadrature only
    const int sites = argc > 2 ? std::max(1, std::min(8, std::atoi(argv[2]))) : 8;
    for (const TSurface& surface : kSurfaces) {
      if (argc > 3 && surface.name != std::string(argv[3])) continue;
      std::printf("\n=== surface %s\n", surface.name);
      gl::TLayerModel model = OneLayer(surface.make());
      const gl::TGridImports& topo = *model[0].elevationGrid;
      const std::vector<gl::TCalcPoint> points = Stations(surface, topo, sites);
      const TMeansByLevel means(topo);
      InnermostStudy(model, means, points);
    }
    return 0;
  }
  if (argc > 1 && std::string(argv[1]) == "cost") {
    // every candidate, or those whose names contain the argument, besides the presets
    const std::string which = argc > 2 ? argv[2] : "";
    const auto timed_ = [&which](const std::string& name) {
      return name == "standard" || name == "fine" || which == "all" ||
             (!which.empty() && name.find(which) != std::string::npos);
    };
    // The default and the presets in turn, seven rounds, so that a drift of
    // the machine's speed touches them alike; medians per point.
    const TSurface& surface = kSurfaces[0];
    gl::TLayerModel model = OneLayer(surface.make());
    const gl::TGridImports& topo = *model[0].elevationGrid;
    std::printf("surface %s built in %.1f s\n", surface.name, elapsed());
    const std::vector<gl::TCalcPoint> points = Stations(surface, topo, 4);
    const double n = double(points.size());
    struct TTimed {
      std::string name;
      std::vector<gl::TZone> bands;
      std::vector<double> one, two;  // seconds for all points, per round
    };
    std::vector<TTimed> timed = {{"default", {{0, 180, 3600}}, {}, {}}};
    for (const TCandidate& c : Candidates()) {
      if (timed_(c.name)) timed.push_back({c.name, c.bands, {}, {}});
    }
    const double before = elapsed();
    const TMeansByLevel means(topo);
    std::printf("block means formed in %.2f s\n", elapsed() - before);
    std::vector<TBuiltLayout> built;
    for (const TTimed& t : timed) built.push_back(Build(t.bands));
    for (int round = 0; round < 7; ++round) {
      for (std::size_t k = 0; k < timed.size(); ++k) {
        const gl::TRunContext ctx = Context(model, built[k], means);
        timed[k].one.push_back(Evaluate(ctx, points, 1).seconds);
        timed[k].two.push_back(Evaluate(ctx, points, 2).seconds);
      }
    }
    std::printf("\ncost per point, medians of 7 rounds (ms):\n%-22s %9s %9s %9s %12s\n", "layout", "segments",
                "1 thread", "2 threads", "vs default");
    const double defaultTwo = Median(timed[0].two);
    for (std::size_t k = 0; k < timed.size(); ++k) {
      std::printf("%-22s %9lld %9.2f %9.2f %11.2fx\n", timed[k].name.c_str(),
                  static_cast<long long>(built[k].segments), 1e3 * Median(timed[k].one) / n,
                  1e3 * Median(timed[k].two) / n, Median(timed[k].two) / defaultTwo);
    }
    PrintBandCosts(model, means, points, timed[0].bands, "default");
    for (const TCandidate& c : Candidates()) {
      if (timed_(c.name)) PrintBandCosts(model, means, points, c.bands, c.name.c_str());
    }
    return 0;
  }

  const int sites = argc > 1 ? std::max(1, std::min(8, std::atoi(argv[1]))) : 8;
  const std::string only = argc > 2 && std::string(argv[2]) != "all" ? argv[2] : "";
  const std::string cacheDir = argc > 3 ? argv[3] : "";
  // A fourth argument keeps only the candidates whose names contain it
  // (and the presets).
  const std::string keep = argc > 4 ? argv[4] : "";
  const auto kept = [&keep] {
    std::vector<TCandidate> out;
    for (TCandidate& c : Candidates()) {
      if (keep.empty() || c.name == "standard" || c.name == "fine" || c.name.find(keep) != std::string::npos) {
        out.push_back(std::move(c));
      }
    }
    return out;
  };
  std::vector<TCandidate> all = kept();
  for (const TSurface& surface : kSurfaces) {
    if (!only.empty() && only != surface.name) continue;
    std::printf("\n=== surface %s\n", surface.name);
    gl::TLayerModel model = OneLayer(surface.make());
    const gl::TGridImports& topo = *model[0].elevationGrid;
    PrintRoughness(topo);
    const std::vector<gl::TCalcPoint> points = Stations(surface, topo, sites);
    const std::size_t n = points.size();
    const TMeansByLevel means(topo);
    std::printf("  built in %.0f s\n", elapsed());

    const std::string cacheStem = cacheDir.empty() ? std::string()
                                                   : cacheDir + "/zone_study_" + surface.name + "_" +
                                                         std::to_string(sites);
    const std::vector<TReferenceBand> reference = Reference(model, means, points, surface, cacheStem, elapsed);
    std::vector<std::vector<double>> ref(kStudyBandCount);
    std::vector<double> refTotal(n, 0), previousTotal(n, 0);
    for (int b = 0; b < kStudyBandCount; ++b) {
      ref[b] = reference[b].best;
      for (std::size_t i = 0; i < n; ++i) {
        refTotal[i] += reference[b].best[i];
        previousTotal[i] += reference[b].previous[i];
      }
    }
    std::printf("  reference total: change from one halving coarser %.5f; DTE per station:",
                MaxAbsDiff(refTotal, previousTotal));
    for (double v : refTotal) std::printf(" %.5f", v);
    std::printf("\n");

    std::vector<TCandidate> here = kept();
    for (std::size_t c = 0; c < here.size(); ++c) {
      for (int b = 0; b < kStudyBandCount; ++b) {
        const TBuiltLayout built = Build(Clipped(here[c].bands, kStudyBands[b]));
        const std::vector<double> dte = Evaluate(Context(model, built, means), points, 2).dteMGal;
        for (std::size_t i = 0; i < n; ++i) {
          here[c].perBand[b].Add(dte[i] - ref[b][i]);
          all[c].perBand[b].Add(dte[i] - ref[b][i]);
        }
      }
      const TBuiltLayout built = Build(here[c].bands);
      here[c].segments = all[c].segments = built.segments;
      const std::vector<double> dte = Evaluate(Context(model, built, means), points, 2).dteMGal;
      std::printf("  %-22s per station:", here[c].name.c_str());
      for (std::size_t i = 0; i < n; ++i) {
        here[c].total.Add(dte[i] - refTotal[i]);
        all[c].total.Add(dte[i] - refTotal[i]);
        std::printf(" %+.5f", dte[i] - refTotal[i]);
      }
      std::printf("\n");
    }
    PrintSpreads(here, (std::string("surface ") + surface.name).c_str());
    std::printf("  [%.0f s]\n", elapsed());
  }
  PrintSpreads(all, "all surfaces");
  for (const TCandidate& c : all) std::printf("%-22s %s\n", c.name.c_str(), Describe(c.bands).c_str());
  std::printf("\ntotal %.0f s\n", elapsed());
  return 0;
}

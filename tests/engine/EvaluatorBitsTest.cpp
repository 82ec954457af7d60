// The fast evaluation's lines to the last bit of its sums, kept in a file:
// a change that only makes a segment cheaper must leave every one of them
// as it was. The lines are printed with 2 pi G scaled by 1e9, so the five
// decimals of a result show all sixteen or seventeen digits of the sum
// behind it. Stacks of grid and constant surfaces, gridded densities, blank
// nodes, grid lists, the crossing rules, the raised point, shared and
// per-layer sampling, several bands and the presets' block means all take
// part, over points at the poles, on the antimeridian and elsewhere.
//
// Regenerate the file only for a change meant to move numbers:
//   GLOBELAYERS_WRITE_EVALUATOR_BITS=1 build/tests/engine/engine_tests --gtest_filter='EvaluatorBits.*'
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "Geodesy.h"
#include "GridMeans.h"
#include "LayerModel.h"
#include "PointEvaluation.h"
#include "RingLayout.h"
#include "Zone.h"

namespace globelayers {
namespace {

constexpr double kEarthRadiusM = 6371001;  // metres

// Draws from a fixed sequence that needs no library distribution (their
// algorithms are not fixed by the standard): 64-bit xorshift-multiply.
class TDraws {
 public:
  explicit TDraws(std::uint64_t seed) : state_(seed * 0x9E3779B97F4A7C15ull + 1) {}
  // Uniform in [0, 1), no unit.
  double Unit() {
    state_ ^= state_ >> 12;
    state_ ^= state_ << 25;
    state_ ^= state_ >> 27;
    return double((state_ * 0x2545F4914F6CDD1Dull) >> 11) * 0x1.0p-53;
  }

 private:
  std::uint64_t state_;
};

// A grid of one of three frames (global 1 degree, global 2 degrees from 0 to
// 360, a regional patch that points leave), a smooth field of `base` plus
// `amplitude` (the grid's unit) with rough noise, and blanks now and then.
std::unique_ptr<TGridImports> Grid(TDraws& draw, double base, double amplitude, bool blanks) {
  auto g = std::make_unique<TGridImports>();
  const int kind = static_cast<int>(draw.Unit() * 3);
  if (kind == 0) {
    g->nx = 361, g->ny = 181, g->xMin = -180, g->xStep = 1, g->yMin = -90, g->yStep = 1;
  } else if (kind == 1) {
    g->nx = 181, g->ny = 91, g->xMin = 0, g->xStep = 2, g->yMin = -90, g->yStep = 2;
  } else {
    g->nx = 41, g->ny = 31, g->xMin = -20, g->xStep = 1, g->yMin = 30, g->yStep = 1;
  }
  g->xMax = g->xMin + (g->nx - 1) * g->xStep, g->xRange = g->xMax - g->xMin;
  g->yMax = g->yMin + (g->ny - 1) * g->yStep, g->yRange = g->yMax - g->yMin;
  g->fileFormat = TGridFormat::kSurfer6;
  g->values.resize(std::size_t(g->nx) * g->ny);
  const double a = 6.28 * draw.Unit(), b = 6.28 * draw.Unit();
  for (int ix = 0; ix < g->nx; ++ix) {
    for (int iy = 0; iy < g->ny; ++iy) {
      const double x = g->xMin + ix * g->xStep, y = g->yMin + iy * g->yStep;  // degrees
      float v = float(base + amplitude * (std::sin(x * 0.07 + a) * std::cos(y * 0.05 + b) + 0.3 * (draw.Unit() - 0.5)));
      if (blanks && draw.Unit() < 0.02) v = kBlankMarker;
      g->at(ix, iy) = v;
    }
  }
  return g;
}

// 2..5 rows stepping down with overlaps, each surface and density a constant
// or a grid (now and then with a second grid behind it); returns the rows.
int Stack(TDraws& draw, TLayerModel& model) {
  const int rowCount = 2 + static_cast<int>(draw.Unit() * 4);
  double level = 500;  // metres
  for (int k = 0; k < rowCount; ++k) {
    TLayerDef& row = model[k];
    level -= draw.Unit() * 3000;
    if (draw.Unit() < 0.6) {
      row.elevationGrid = Grid(draw, level, 2500, draw.Unit() < 0.3);
      row.elevation = NoValue;
      if (draw.Unit() < 0.2) row.elevationMore.push_back(Grid(draw, level, 1000, false));
    } else {
      row.elevation = level;
    }
    if (k >= 1 && draw.Unit() < 0.3) {
      row.densityGrid = Grid(draw, 2.67, 0.3, draw.Unit() < 0.3);
      row.density = NoValue;
    } else {
      row.density = k == 0 ? NoValue : 1 + 2 * draw.Unit();
    }
  }
  return rowCount;
}

// The zones of one case: one band, three bands (the outer ones on block
// means or not), or a preset for a 1-degree grid.
std::vector<TZone> Bands(TDraws& draw) {
  const double pick = draw.Unit();
  if (pick < 0.3) {
    const double from = draw.Unit() < 0.5 ? 0 : draw.Unit() * 120;
    const double sizes[] = {3600, 5400, 7200, 10800};
    return {{.psiFromDeg = from,
             .psiToDeg = std::min(180.0, from + 5 + draw.Unit() * 175),
             .segmentSizeArcSec = sizes[static_cast<int>(draw.Unit() * 4)]}};
  }
  if (pick < 0.7) {
    const bool means = draw.Unit() < 0.6;
    return {{.psiFromDeg = 0, .psiToDeg = 1 + draw.Unit() * 4, .segmentSizeArcSec = 900},
            {.psiFromDeg = 5, .psiToDeg = 30, .segmentSizeArcSec = 7200, .blockMeans = means},
            {.psiFromDeg = 30, .psiToDeg = 180, .segmentSizeArcSec = 14400, .blockMeans = means}};
  }
  const auto preset = PresetZones(draw.Unit() < 0.5 ? "standard" : "fine", 3600);
  return preset ? *preset : std::vector<TZone>{};
}

// The rings, tables and block means of a run's bands, kept alive with it.
struct TBuiltZones {
  std::vector<TRingLayout> layouts;
  std::vector<TRingTable> tables;
  TZoneGridMeans means;
};

std::string CaseLines(std::uint64_t seed) {
  TDraws draw(seed);
  TLayerModel model;
  const int rowCount = Stack(draw, model);
  std::vector<TZone> bands = Bands(draw);
  // The first band of a list must start where the one before ends.
  if (bands.size() == 3 && bands[0].psiToDeg != bands[1].psiFromDeg) bands[0].psiToDeg = bands[1].psiFromDeg;
  TEvaluationLimits limits;
  if (draw.Unit() < 0.3) {  // tight budgets: per-layer walks, stretches, azimuths formed per point
    limits = {.azimuthTableEntries = 500, .pointSampleBytes = 1000, .stretchSegments = 37};
  }
  TBuiltZones built;
  std::vector<TRoledGrid> grids;
  for (int k = 0; k < rowCount; ++k) {
    if (model[k].elevationGrid) grids.push_back({model[k].elevationGrid.get(), TGridRole::Elevation});
    for (const auto& more : model[k].elevationMore) grids.push_back({more.get(), TGridRole::Elevation});
    if (k >= 1 && model[k].densityGrid) grids.push_back({model[k].densityGrid.get(), TGridRole::Density});
  }
  built.means = TZoneGridMeans(grids, bands, kEarthRadiusM);
  for (const TZone& band : bands) {
    const auto layout = BuildRingLayout(band.psiFromDeg * kDegToRad, band.psiToDeg * kDegToRad, 0, kTwoPi,
                                        band.segmentSizeArcSec, kEarthRadiusM);
    EXPECT_TRUE(layout) << seed;
    if (!layout) return {};
    built.layouts.push_back(*layout);
  }
  for (const TRingLayout& layout : built.layouts) built.tables.push_back(BuildRingTable(layout, kEarthRadiusM, limits));
  std::vector<TZoneRings> zones;
  for (std::size_t z = 0; z < bands.size(); ++z) {
    zones.push_back({.rings = built.layouts[z], .table = built.tables[z], .standIns = built.means.ForZone(z)});
  }
  const double increment = draw.Unit() < 0.5 ? 0 : 0.5 + draw.Unit() * 100;  // metres
  const TRunContext ctx{.model = model,
                        .zones = zones,
                        .rowCount = rowCount,
                        .earthRadius = kEarthRadiusM,
                        .psiFrom = bands.front().psiFromDeg * kDegToRad,
                        .psiTo = bands.back().psiToDeg * kDegToRad,
                        .increment = increment,
                        .priority = static_cast<int>(draw.Unit() * 3),
                        .twoPiG = 2.0 * kPi * 0.006673 * 1e9,
                        .unitFactor = 1,
                        .layout = MakeResultLayout(increment, false, rowCount),
                        .limits = limits};
  const TCalcPoint points[] = {
      {.lambda = -180 + 360 * draw.Unit(), .phi = -90 + 180 * draw.Unit(), .pointNumber = 1, .height = 3000 * draw.Unit()},
      {.lambda = draw.Unit() < 0.5 ? 180.0 : -180.0, .phi = 90 * (draw.Unit() - 0.5), .pointNumber = 2, .height = 0},
      {.lambda = 360 * draw.Unit(), .phi = draw.Unit() < 0.5 ? 90.0 : -90.0, .pointNumber = 3, .height = -50},
      {.lambda = -5 + 10 * draw.Unit(), .phi = 35 + 10 * draw.Unit(), .pointNumber = 4, .height = 800 * draw.Unit()},
  };
  TPointEvaluator evaluator(ctx);
  std::string lines;
  for (const TCalcPoint& p : points) lines += evaluator.Evaluate(p);
  return lines;
}

constexpr int kCases = 60;

std::string AllLines() {
  std::string all;
  for (int c = 0; c < kCases; ++c) all += "case " + std::to_string(c) + "\n" + CaseLines(1000 + c);
  return all;
}

const std::string kBitsFile = std::string(GLOBELAYERS_TEST_DATA_DIR) + "/evaluator_bits.txt";

TEST(EvaluatorBits, EveryLineAsKept) {
  const std::string got = AllLines();
  if (std::getenv("GLOBELAYERS_WRITE_EVALUATOR_BITS")) {
    std::ofstream(kBitsFile, std::ios::binary) << got;
    GTEST_SKIP() << "written " << kBitsFile;
  }
  std::ifstream in(kBitsFile, std::ios::binary);
  ASSERT_TRUE(in) << kBitsFile;
  std::stringstream kept;
  kept << in.rdbuf();
  // Line by line, so that a failure names the case and point.
  std::istringstream a(got), b(kept.str());
  std::string lineGot, lineKept, currentCase;
  int differing = 0;
  while (true) {
    const bool moreGot = static_cast<bool>(std::getline(a, lineGot));
    const bool moreKept = static_cast<bool>(std::getline(b, lineKept));
    ASSERT_EQ(moreGot, moreKept) << "line count differs after " << currentCase;
    if (!moreGot) break;
    if (lineKept.rfind("case ", 0) == 0) currentCase = lineKept;
    if (lineGot != lineKept && ++differing <= 5) {
      ADD_FAILURE() << currentCase << "\n got:  " << lineGot << "\n kept: " << lineKept;
    }
  }
  EXPECT_EQ(differing, 0);
}

}  // namespace
}  // namespace globelayers

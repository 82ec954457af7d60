#include "GridMeans.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>

#include "Zone.h"
#include "StopRequest.h"

namespace globelayers {

namespace {

// Whether a grid's columns go once round the globe: its first and last
// column on the same meridian, so that each has the other's neighbour.
bool WrapsRound(const TGridImports& grid) {
  constexpr double kTurnDeg = 360;  // degrees
  const double spanDeg = std::fabs((grid.nx - 1) * grid.xStep);
  return grid.nx > 2 && std::fabs(spanDeg - kTurnDeg) < 1e-6 * std::fabs(grid.xStep);
}

// One level of the pyramid: node values go through `toMean` before the
// weighted mean and come back through `fromMean` (both identity for linear
// means).
template <typename ToMean, typename FromMean>
std::unique_ptr<TGridImports> Halved(const TGridImports& fine, ToMean toMean, FromMean fromMean) {
  if (fine.nx < 3 || fine.ny < 3) return nullptr;
  auto coarse = std::make_unique<TGridImports>();
  coarse->fileFormat = fine.fileFormat;
  coarse->blankValue = kBlankMarker;
  coarse->nx = static_cast<decltype(coarse->nx)>((fine.nx - 1) / 2 + 1);
  coarse->ny = static_cast<decltype(coarse->ny)>((fine.ny - 1) / 2 + 1);
  coarse->xMin = fine.xMin;
  coarse->yMin = fine.yMin;
  coarse->xStep = 2 * fine.xStep;
  coarse->yStep = 2 * fine.yStep;
  BoundsFromSteps(*coarse);  // and the values, all zero

  constexpr double kEdgeWeight = 0.25, kCentreWeight = 0.5;  // per axis, no unit
  const int nx = fine.nx, ny = fine.ny;
  // On a grid round the globe, the column west of the first is the one
  // before the last (the last repeats the first's meridian), and so on.
  const bool wraps = WrapsRound(fine);
  const auto column = [nx, wraps](int ix) {
    if (!wraps) return ix;
    return ix < 0 ? ix + nx - 1 : ix >= nx ? ix - nx + 1 : ix;
  };
  double zMin = std::numeric_limits<double>::infinity();
  double zMax = -zMin;
  std::int64_t blanks = 0;
  for (int jx = 0; jx < coarse->nx; ++jx) {
    // A stop request leaves the level unfinished: the run is abandoned.
    if (jx % 64 == 0 && LongStepStopRequested()) break;
    for (int jy = 0; jy < coarse->ny; ++jy) {
      double sum = 0, weight = 0, blankWeight = 0;  // mean's unit times weight; weights
      for (int dx = -1; dx <= 1; ++dx) {
        const int ix = column(2 * jx + dx);
        if (ix < 0 || ix >= nx) continue;
        const double wx = dx == 0 ? kCentreWeight : kEdgeWeight;
        for (int dy = -1; dy <= 1; ++dy) {
          const int iy = 2 * jy + dy;
          if (iy < 0 || iy >= ny) continue;
          const double w = wx * (dy == 0 ? kCentreWeight : kEdgeWeight);
          const float v = fine.at(ix, iy);
          if (v >= kBlankThreshold) {
            blankWeight += w;
          } else {
            sum += w * toMean(double{v});
            weight += w;
          }
        }
      }
      float mean = kBlankMarker;
      if (blankWeight < weight) {
        mean = static_cast<float>(fromMean(sum / weight));
        zMin = std::min(zMin, double{mean});
        zMax = std::max(zMax, double{mean});
      } else {
        ++blanks;
      }
      coarse->at(jx, jy) = mean;
    }
  }
  coarse->blankCount = static_cast<std::int32_t>(std::min<std::int64_t>(blanks, INT32_MAX));
  coarse->zMin = std::isfinite(zMin) ? zMin : 0;
  coarse->zMax = std::isfinite(zMax) ? zMax : 0;
  coarse->zRange = coarse->zMax - coarse->zMin;
  return coarse;
}

}  // namespace

std::unique_ptr<TGridImports> HalvedMeans(const TGridImports& fine) {
  const auto same = [](double v) { return v; };
  return Halved(fine, same, same);
}

double HeightOfMass(double mass, double R) {
  // h = cbrt(R^3 + m) - R, formed as m / (a^2 + a R + R^2) with
  // a = cbrt(R^3 + m): the difference of two nearly equal radii would lose
  // the digits of h.
  const double a = std::cbrt(R * R * R + mass);
  return mass / (a * a + a * R + R * R);
}

std::unique_ptr<TGridImports> HalvedMassMeans(const TGridImports& fine, double earthRadius) {
  return Halved(
      fine, [earthRadius](double h) { return MassOfHeight(h, earthRadius); },
      [earthRadius](double m) { return HeightOfMass(m, earthRadius); });
}

int MeanLevel(double gridSpacingArcSec, double segmentSizeArcSec) {
  if (!(gridSpacingArcSec > 0) || !(segmentSizeArcSec > gridSpacingArcSec)) return 0;
  constexpr int kDeepestLevel = 30;  // far beyond any grid's node count
  return std::min(kDeepestLevel, static_cast<int>(std::lround(std::log2(segmentSizeArcSec / gridSpacingArcSec))));
}

double FinerSpacingArcSec(const TGridImports& grid) {
  return 3600 * std::min(std::fabs(grid.xStep), std::fabs(grid.yStep));
}

TZoneGridMeans::TZoneGridMeans(const std::vector<TRoledGrid>& grids, const std::vector<TZone>& zones,
                               double earthRadius) {
  perZone_.resize(zones.size());
  for (const TRoledGrid& roled : grids) {
    const TGridImports* grid = roled.grid;
    const auto halved = [elevation = roled.role == TGridRole::Elevation, earthRadius](const TGridImports& finer) {
      return elevation ? HalvedMassMeans(finer, earthRadius) : HalvedMeans(finer);
    };
    // The levels this grid needs, and the zones that need each.
    std::map<int, std::vector<std::size_t>> zonesOfLevel;
    for (std::size_t z = 0; z < zones.size(); ++z) {
      if (!zones[z].blockMeans) continue;
      const int level = MeanLevel(FinerSpacingArcSec(*grid), zones[z].segmentSizeArcSec);
      if (level > 0) zonesOfLevel[level].push_back(z);
    }
    if (zonesOfLevel.empty()) continue;
    // Halve level by level; keep a level that a zone samples, drop the others
    // once the next is formed. A grid too small to halve further serves the
    // deeper levels with its coarsest.
    const TGridImports* finer = grid;
    std::unique_ptr<TGridImports> passing;  // a level no zone samples
    const int deepest = zonesOfLevel.rbegin()->first;
    for (int level = 1; level <= deepest; ++level) {
      std::unique_ptr<TGridImports> next = halved(*finer);
      if (!next) break;
      passing.reset();
      finer = next.get();
      if (zonesOfLevel.count(level) != 0) {
        levels_.push_back(std::move(next));
      } else {
        passing = std::move(next);
      }
      if (const auto wanted = zonesOfLevel.find(level); wanted != zonesOfLevel.end()) {
        for (const std::size_t z : wanted->second) perZone_[z].emplace_back(grid, finer);
        zonesOfLevel.erase(wanted);
      }
    }
    // Levels beyond the coarsest that could be formed sample the coarsest.
    if (!zonesOfLevel.empty() && finer != grid) {
      if (passing) levels_.push_back(std::move(passing));
      for (const auto& [level, zoneList] : zonesOfLevel) {
        for (const std::size_t z : zoneList) perZone_[z].emplace_back(grid, finer);
      }
    }
  }
}

}  // namespace globelayers

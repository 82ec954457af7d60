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

int OverviewLevel(double gridSpacingArcSec, double overviewSpacingArcSec) {
  return MeanLevel(gridSpacingArcSec, overviewSpacingArcSec);
}

int OverviewForLevel(const std::vector<int>& overviewLevels, int level) {
  int chosen = -1;
  for (std::size_t n = 0; n < overviewLevels.size(); ++n) {
    const int candidate = overviewLevels[n];
    if (candidate >= 1 && candidate <= level && (chosen < 0 || candidate > overviewLevels[std::size_t(chosen)]))
      chosen = static_cast<int>(n);
  }
  return chosen;
}

void TZoneGridMeans::AddLevels(const TGridImports* grid, const TGridImports* start,
                               std::unique_ptr<TGridImports> owned, int startLevel, TZonesOfLevel wanted,
                               const std::function<std::unique_ptr<TGridImports>(const TGridImports&)>& halved) {
  const TGridImports* finer = start;
  std::unique_ptr<TGridImports> passing = std::move(owned);  // a level no zone samples
  if (const auto here = wanted.find(startLevel); here != wanted.end()) {
    if (passing) levels_.push_back(std::move(passing));
    for (const std::size_t z : here->second) perZone_[z].emplace_back(grid, finer);
    wanted.erase(here);
  }
  if (wanted.empty()) return;
  // Halve level by level; keep a level that a zone samples, drop the others
  // once the next is formed. A grid too small to halve further serves the
  // deeper levels with its coarsest.
  const int deepest = wanted.rbegin()->first;
  for (int level = startLevel + 1; level <= deepest; ++level) {
    std::unique_ptr<TGridImports> next = halved(*finer);
    if (!next) break;
    passing.reset();
    finer = next.get();
    if (wanted.count(level) != 0) {
      levels_.push_back(std::move(next));
    } else {
      passing = std::move(next);
    }
    if (const auto found = wanted.find(level); found != wanted.end()) {
      for (const std::size_t z : found->second) perZone_[z].emplace_back(grid, finer);
      wanted.erase(found);
    }
  }
  // Levels beyond the coarsest that could be formed sample the coarsest.
  if (!wanted.empty() && finer != grid) {
    if (passing) levels_.push_back(std::move(passing));
    for (const auto& [level, zoneList] : wanted) {
      for (const std::size_t z : zoneList) perZone_[z].emplace_back(grid, finer);
    }
  }
}

TZoneGridMeans::TZoneGridMeans(const std::vector<TRoledGrid>& grids, const std::vector<TZone>& zones,
                               double earthRadius) {
  perZone_.resize(zones.size());
  for (const TRoledGrid& roled : grids) {
    const TGridImports* grid = roled.grid;
    const std::function<std::unique_ptr<TGridImports>(const TGridImports&)> halved =
        [elevation = roled.role == TGridRole::Elevation, earthRadius](const TGridImports& finer) {
          return elevation ? HalvedMassMeans(finer, earthRadius) : HalvedMeans(finer);
        };
    // The levels this grid needs, and the zones that need each: from the
    // grid's own pyramid, or from the overview that serves the level.
    std::vector<int> overviewLevels;
    for (const TGridOverview& overview : roled.overviews) overviewLevels.push_back(overview.level);
    TZonesOfLevel own;
    std::map<int, TZonesOfLevel> fromOverview;  // by the overview's index
    for (std::size_t z = 0; z < zones.size(); ++z) {
      if (!zones[z].blockMeans) continue;
      const int level = MeanLevel(FinerSpacingArcSec(*grid), zones[z].segmentSizeArcSec);
      if (level <= 0) continue;
      const int overview = OverviewForLevel(overviewLevels, level);
      if (overview < 0) {
        own[level].push_back(z);
      } else {
        fromOverview[overview][level].push_back(z);
      }
    }
    if (!own.empty()) AddLevels(grid, grid, nullptr, 0, std::move(own), halved);
    for (auto& [index, wanted] : fromOverview) {
      const TGridOverview& overview = roled.overviews[std::size_t(index)];
      // Sampled as it is, it is read within the farthest of its bands;
      // halved further, whole (the halving needs the nodes around each).
      double reachDeg = 0;  // degrees
      for (const auto& [level, zoneList] : wanted) {
        for (const std::size_t z : zoneList)
          reachDeg = std::max(reachDeg, level == overview.level ? zones[z].psiToDeg : 180.0);
      }
      std::unique_ptr<TGridImports> start = overview.load ? overview.load(reachDeg) : nullptr;
      if (!start) throw TOverviewNotLoaded();
      const TGridImports* first = start.get();
      AddLevels(grid, first, std::move(start), overview.level, std::move(wanted), halved);
    }
  }
}

}  // namespace globelayers

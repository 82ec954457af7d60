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

int BoxLevel(double gridSpacingArcSec, double boxArcSec) {
  if (!(gridSpacingArcSec > 0) || !(boxArcSec > 0)) return 0;
  constexpr int kDeepestLevel = 30;  // far beyond any grid's node count
  const double level = std::floor(std::log2(boxArcSec / gridSpacingArcSec) - 0.5);
  return static_cast<int>(std::clamp(level, 0.0, double{kDeepestLevel}));
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
    // Box means: a level of their own per segment size.
    std::vector<std::pair<double, const TGridImports*>> boxes;  // arc-seconds, level
    for (std::size_t z = 0; z < zones.size(); ++z) {
      if (!zones[z].blockMeans || !zones[z].boxMeans) continue;
      const double size = zones[z].segmentSizeArcSec;
      const auto known = std::find_if(boxes.begin(), boxes.end(), [size](const auto& b) { return b.first == size; });
      if (known != boxes.end()) {
        perZone_[z].emplace_back(grid, known->second);
        continue;
      }
      // A box within one spacing is the grid's own sample. A box of less
      // than about 2.8 spacings keeps every node (level 0): a level of every
      // second node would drop half the grid. That happens only on a grid
      // at least 5 times coarser than the finest one of the run, whose
      // rule the band follows, so the copy stays small.
      if (!(size > FinerSpacingArcSec(*grid))) continue;
      const int level = BoxLevel(FinerSpacingArcSec(*grid), size);
      std::unique_ptr<TGridImports> box =
          SlidingBoxMeans(*grid, level, size, roled.role == TGridRole::Elevation, earthRadius);
      if (!box) continue;  // a grid of one node along an axis: sampled itself
      boxes.emplace_back(size, box.get());
      perZone_[z].emplace_back(grid, box.get());
      levels_.push_back(std::move(box));
    }
    // The levels this grid needs, and the zones that need each.
    std::map<int, std::vector<std::size_t>> zonesOfLevel;
    for (std::size_t z = 0; z < zones.size(); ++z) {
      if (!zones[z].blockMeans || zones[z].boxMeans) continue;
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

namespace globelayers {

namespace {

// Weights of the nodes under a box [centre - half, centre + half] (node
// spacings), each node standing for the cell of one spacing around it:
// nodes whose cells lie inside weigh 1, the two end nodes the part of
// their cells inside; the weights sum to the box's width, 2 half.
struct TBoxWindow {
  long first = 0, last = -1;  // node indices, unwrapped
  double firstWeight = 0, lastWeight = 0;  // no unit
};

TBoxWindow BoxWindow(double centre, double half) {
  TBoxWindow w;
  const double lo = centre - half, hi = centre + half;  // node units
  w.first = static_cast<long>(std::ceil(lo - 0.5));
  w.last = static_cast<long>(std::floor(hi + 0.5));
  if (w.last < w.first) {  // the box within one node's half-cells
    w.last = w.first;
    w.firstWeight = w.lastWeight = 2 * half;
    return w;
  }
  w.firstWeight = (w.first + 0.5) - lo;
  w.lastWeight = hi - (w.last - 0.5);
  if (w.first == w.last) w.firstWeight = w.lastWeight = 2 * half;
  return w;
}

}  // namespace

std::unique_ptr<TGridImports> SlidingBoxMeans(const TGridImports& fine, int level, double boxArcSec, bool massMeans,
                                              double earthRadius) {
  if (fine.nx < 2 || fine.ny < 2 || !(boxArcSec > 0) || level < 0 || level > 30) return nullptr;
  const long stride = 1L << level;
  auto coarse = std::make_unique<TGridImports>();
  coarse->fileFormat = fine.fileFormat;
  coarse->blankValue = kBlankMarker;
  coarse->nx = static_cast<decltype(coarse->nx)>((fine.nx - 1) / stride + 1);
  coarse->ny = static_cast<decltype(coarse->ny)>((fine.ny - 1) / stride + 1);
  coarse->xMin = fine.xMin;
  coarse->yMin = fine.yMin;
  coarse->xStep = stride * fine.xStep;
  coarse->yStep = stride * fine.yStep;
  BoundsFromSteps(*coarse);

  const auto toMean = [massMeans, earthRadius](double v) { return massMeans ? MassOfHeight(v, earthRadius) : v; };
  const auto fromMean = [massMeans, earthRadius](double m) { return massMeans ? HeightOfMass(m, earthRadius) : m; };
  const long nx = fine.nx, ny = fine.ny;
  const bool wraps = WrapsRound(fine);
  const long period = nx - 1;  // columns once round, where the grid wraps
  const double dxDeg = std::fabs(fine.xStep), dyDeg = std::fabs(fine.yStep);  // degrees
  const double boxDeg = boxArcSec / 3600;  // degrees
  constexpr double kDegToRadLocal = 3.14159265358979323846 / 180;
  // Per row: half the box in columns (longitude widened by 1 / cos
  // latitude, at most half a turn), and the area weight cos(latitude).
  std::vector<double> halfColumns(ny), areaWeight(ny);
  for (long iy = 0; iy < ny; ++iy) {
    const double latDeg = fine.yMin + iy * fine.yStep;
    const double c = std::max(1e-6, std::cos(latDeg * kDegToRadLocal));
    areaWeight[iy] = c;
    halfColumns[iy] = std::min(0.5 * boxDeg / c, 180.0) / dxDeg;
  }
  const double halfRows = 0.5 * boxDeg / dyDeg;
  const auto column = [&](long ix) -> long {
    if (wraps) {
      ix %= period;
      return ix < 0 ? ix + period : ix;
    }
    return ix;
  };
  // Along a row the box reaches D = floor(half + 0.5) columns either side
  // (BoxWindow about a node): those nearer weigh 1, the D-th the rest of the
  // box, half - D + 0.5. D is least at the equator and
  // grows towards the poles, so the rows that reach d columns or more are
  // the first and the last ones, all but a run in the middle.
  std::vector<long> reach(ny);  // columns, D per row
  long widest = 0;
  for (long iy = 0; iy < ny; ++iy) {
    reach[iy] = static_cast<long>(std::floor(halfColumns[iy] + 0.5));
    widest = std::max(widest, reach[iy]);
  }
  const auto weightAt = [&](long d, long iy) {
    const long D = reach[iy];
    return d < D ? 1.0 : D == 0 ? 2 * halfColumns[iy] : halfColumns[iy] - double(D) + 0.5;
  };
  // The rows that reach d columns or more: [0, lowEnd[d]) and
  // [highStart[d], ny).
  std::vector<long> lowEnd(widest + 1), highStart(widest + 1);
  for (long d = 0, low = ny, high = ny; d <= widest; ++d) {
    if (low == ny) low = 0, high = ny;  // first pass: from the ends inwards
    while (low < ny && reach[low] >= d) ++low;
    while (low > 0 && reach[low - 1] < d) --low;
    while (high > low && reach[high - 1] >= d) --high;
    while (high < ny && reach[high] < d) ++high;
    lowEnd[d] = low;
    highStart[d] = std::max(high, low);
  }
  std::vector<double> rowSum(ny), rowBlank(ny), rowWeight(ny);  // mean's unit times weight; weights
  double zMin = std::numeric_limits<double>::infinity();
  double zMax = -zMin;
  std::int64_t blanks = 0;
  for (long jx = 0; jx < coarse->nx; ++jx) {
    if (jx % 16 == 0 && LongStepStopRequested()) break;
    const long cx = jx * stride;
    std::fill(rowSum.begin(), rowSum.end(), 0.0);
    std::fill(rowWeight.begin(), rowWeight.end(), 0.0);
    std::fill(rowBlank.begin(), rowBlank.end(), 0.0);
    // Along each row: the box over the columns, a column at a time (the
    // grid's nodes lie column by column).
    for (long d = 0; d <= widest; ++d) {
      for (int side = 0; side < (d == 0 ? 1 : 2); ++side) {
        const long k = column(side == 0 ? cx - d : cx + d);
        if (k < 0 || k >= nx) continue;
        const auto add = [&](long iyFrom, long iyTo) {
          for (long iy = iyFrom; iy < iyTo; ++iy) {
            const double wx = weightAt(d, iy);
            const float v = fine.at(int(k), int(iy));
            if (v >= kBlankThreshold) {
              rowBlank[iy] += wx;
            } else {
              rowSum[iy] += wx * toMean(double{v});
              rowWeight[iy] += wx;
            }
          }
        };
        add(0, lowEnd[d]);
        add(highStart[d], ny);
      }
    }
    // Then over the rows, each row's mean weighted by its area.
    for (long jy = 0; jy < coarse->ny; ++jy) {
      const TBoxWindow w = BoxWindow(double(jy * stride), halfRows);
      double sum = 0, weight = 0, blank = 0;
      for (long iy = std::max(0L, w.first); iy <= std::min(ny - 1, w.last); ++iy) {
        const double wy = (iy == w.first ? w.firstWeight : iy == w.last ? w.lastWeight : 1.0) * areaWeight[iy];
        const double rowAll = rowWeight[iy] + rowBlank[iy];
        if (!(rowAll > 0)) continue;
        sum += wy * rowSum[iy] / rowAll;
        weight += wy * rowWeight[iy] / rowAll;
        blank += wy * rowBlank[iy] / rowAll;
      }
      float mean = kBlankMarker;
      if (blank < weight) {
        mean = static_cast<float>(fromMean(sum / weight));
        zMin = std::min(zMin, double{mean});
        zMax = std::max(zMax, double{mean});
      } else {
        ++blanks;
      }
      coarse->at(int(jx), int(jy)) = mean;
    }
  }
  coarse->blankCount = static_cast<std::int32_t>(std::min<std::int64_t>(blanks, INT32_MAX));
  coarse->zMin = std::isfinite(zMin) ? zMin : 0;
  coarse->zMax = std::isfinite(zMax) ? zMax : 0;
  coarse->zRange = coarse->zMax - coarse->zMin;
  return coarse;
}

}  // namespace globelayers

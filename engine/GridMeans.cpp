#include "GridMeans.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <stdexcept>
#include <vector>

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

// The next level's geometry: the first node kept, spacings doubled, node
// counts (n - 1) / 2 + 1; no values.
std::unique_ptr<TGridImports> CoarseShape(const TGridImports& fine) {
  auto coarse = std::make_unique<TGridImports>();
  coarse->fileFormat = fine.fileFormat;
  coarse->blankValue = kBlankMarker;
  coarse->nx = static_cast<decltype(coarse->nx)>((fine.nx - 1) / 2 + 1);
  coarse->ny = static_cast<decltype(coarse->ny)>((fine.ny - 1) / 2 + 1);
  coarse->xMin = fine.xMin;
  coarse->yMin = fine.yMin;
  coarse->xStep = 2 * fine.xStep;
  coarse->yStep = 2 * fine.yStep;
  return coarse;
}

// Node (jx, jy) of the next level from the finer level's nodes, which
// `fine(ix, iy)` gives, on a finer level of nx x ny nodes: the weighted
// mean of the 3 x 3 around (2 jx, 2 jy), or kBlankMarker. Both the pyramid
// in memory and the one formed from strips of a file take every node from
// here, so that they agree to the bit.
template <typename Fine, typename ToMean, typename FromMean>
float CoarseNode(int jx, int jy, int nx, int ny, bool wraps, const Fine& fine, const ToMean& toMean,
                 const FromMean& fromMean) {
  constexpr double kEdgeWeight = 0.25, kCentreWeight = 0.5;  // per axis, no unit
  // On a grid round the globe, the column west of the first is the one
  // before the last (the last repeats the first's meridian), and so on.
  const auto column = [nx, wraps](int ix) {
    if (!wraps) return ix;
    return ix < 0 ? ix + nx - 1 : ix >= nx ? ix - nx + 1 : ix;
  };
  double sum = 0, weight = 0, blankWeight = 0;  // mean's unit times weight; weights
  for (int dx = -1; dx <= 1; ++dx) {
    const int ix = column(2 * jx + dx);
    if (ix < 0 || ix >= nx) continue;
    const double wx = dx == 0 ? kCentreWeight : kEdgeWeight;
    for (int dy = -1; dy <= 1; ++dy) {
      const int iy = 2 * jy + dy;
      if (iy < 0 || iy >= ny) continue;
      const double w = wx * (dy == 0 ? kCentreWeight : kEdgeWeight);
      const float v = fine(ix, iy);
      if (v >= kBlankThreshold) {
        blankWeight += w;
      } else {
        sum += w * toMean(double{v});
        weight += w;
      }
    }
  }
  return blankWeight < weight ? static_cast<float>(fromMean(sum / weight)) : kBlankMarker;
}

// A level's value range and blanks, gathered node by node.
struct TLevelTally {
  double zMin = std::numeric_limits<double>::infinity();
  double zMax = -std::numeric_limits<double>::infinity();
  std::int64_t blanks = 0;
  void Add(float mean) {
    if (mean == kBlankMarker) {
      ++blanks;
    } else {
      zMin = std::min(zMin, double{mean});
      zMax = std::max(zMax, double{mean});
    }
  }
  void Into(TGridImports& level) const {
    level.blankCount = static_cast<std::int32_t>(std::min<std::int64_t>(blanks, INT32_MAX));
    level.zMin = std::isfinite(zMin) ? zMin : 0;
    level.zMax = std::isfinite(zMax) ? zMax : 0;
    level.zRange = level.zMax - level.zMin;
  }
};

// One level of the pyramid: node values go through `toMean` before the
// weighted mean and come back through `fromMean` (both identity for linear
// means).
template <typename ToMean, typename FromMean>
std::unique_ptr<TGridImports> Halved(const TGridImports& fine, ToMean toMean, FromMean fromMean) {
  if (fine.nx < 3 || fine.ny < 3) return nullptr;
  std::unique_ptr<TGridImports> coarse = CoarseShape(fine);
  BoundsFromSteps(*coarse);  // and the values, all zero
  const bool wraps = WrapsRound(fine);
  const auto node = [&fine](int ix, int iy) { return fine.at(ix, iy); };
  TLevelTally tally;
  for (int jx = 0; jx < coarse->nx; ++jx) {
    // A stop request leaves the level unfinished: the run is abandoned.
    if (jx % 64 == 0 && LongStepStopRequested()) break;
    for (int jy = 0; jy < coarse->ny; ++jy) {
      const float mean = CoarseNode(jx, jy, fine.nx, fine.ny, wraps, node, toMean, fromMean);
      tally.Add(mean);
      coarse->at(jx, jy) = mean;
    }
  }
  tally.Into(*coarse);
  return coarse;
}

// The pyramid of a file formed from strips of its rows, so that the file
// is never held whole: each level keeps its last three rows (a row of the
// next level needs rows 2 j - 1 .. 2 j + 1 of it), and the levels that
// zones sample are kept whole. Rows come in from the south (row 0) up.
template <typename ToMean, typename FromMean>
class TRowPyramid {
 public:
  // `file`: the file's geometry (no values); `kept`: for levels 1 ..
  // deepest, whether it is kept whole.
  TRowPyramid(const TGridImports& file, const std::vector<bool>& kept, ToMean toMean, FromMean fromMean)
      : toMean_(toMean), fromMean_(fromMean) {
    levels_.resize(kept.size());
    for (std::size_t l = 0; l < kept.size(); ++l) {
      TLevel& level = levels_[l];
      const TGridImports& finer = l == 0 ? file : *levels_[l - 1].shape;
      level.shape = CoarseShape(finer);
      level.shape->xRange = (level.shape->nx - 1) * level.shape->xStep;
      level.shape->xMax = level.shape->xMin + level.shape->xRange;
      level.shape->yRange = (level.shape->ny - 1) * level.shape->yStep;
      level.shape->yMax = level.shape->yMin + level.shape->yRange;
      if (kept[l]) BoundsFromSteps(*level.shape);
      level.kept = kept[l];
    }
    finest_.shape = std::make_unique<TGridImports>();
    finest_.shape->nx = file.nx;
    finest_.shape->ny = file.ny;
    finest_.shape->xStep = file.xStep;
    finest_.shape->xMin = file.xMin;
    finest_.shape->xMax = file.xMax;
    for (TLevel* level : All()) {
      for (auto& row : level->rows) row.resize(std::size_t(level->shape->nx));
    }
  }
  // Row iy of the file, its nodes from column 0 east, in order.
  void PushFileRow(int iy, const float* values) { Push(0, iy, values); }
  // After the file's last row: the last rows of every level.
  void Finish() {
    for (std::size_t l = 0; l < levels_.size(); ++l) {
      TLevel& finer = Level(l);
      const int last = finer.shape->ny - 1;
      if (last % 2 == 0) Emit(l, last / 2);
    }
    for (TLevel& level : levels_) level.tally.Into(*level.shape);
  }
  // Level l (from 1), kept whole; handed over once.
  std::unique_ptr<TGridImports> Take(int l) { return std::move(levels_[std::size_t(l) - 1].shape); }

 private:
  struct TLevel {
    std::unique_ptr<TGridImports> shape;  // geometry; the values when kept
    bool kept = false;
    std::vector<float> rows[3];  // row iy in rows[iy % 3]
    TLevelTally tally;
  };
  std::vector<TLevel*> All() {
    std::vector<TLevel*> all{&finest_};
    for (TLevel& level : levels_) all.push_back(&level);
    return all;
  }
  TLevel& Level(std::size_t l) { return l == 0 ? finest_ : levels_[l - 1]; }

  // Row iy of level l (0: the file) arrives.
  void Push(std::size_t l, int iy, const float* values) {
    TLevel& level = Level(l);
    std::copy(values, values + level.shape->nx, level.rows[iy % 3].begin());
    if (l < levels_.size() && iy % 2 == 1) Emit(l, (iy - 1) / 2);
  }
  // Row jy of level l + 1 from the rows of level l that it needs.
  void Emit(std::size_t l, int jy) {
    TLevel& finer = Level(l);
    TLevel& coarse = levels_[l];
    const int nx = finer.shape->nx, ny = finer.shape->ny;
    const bool wraps = WrapsRound(*finer.shape);
    const auto node = [&finer](int ix, int iy) { return finer.rows[iy % 3][std::size_t(ix)]; };
    std::vector<float>& row = coarseRow_;
    row.resize(std::size_t(coarse.shape->nx));
    for (int jx = 0; jx < coarse.shape->nx; ++jx) {
      const float mean = CoarseNode(jx, jy, nx, ny, wraps, node, toMean_, fromMean_);
      row[std::size_t(jx)] = mean;
      coarse.tally.Add(mean);
      if (coarse.kept) coarse.shape->at(jx, jy) = mean;
    }
    const std::vector<float> copy = row;  // the next level's push reuses coarseRow_
    Push(l + 1, jy, copy.data());
  }

  ToMean toMean_;
  FromMean fromMean_;
  TLevel finest_;
  std::vector<TLevel> levels_;
  std::vector<float> coarseRow_;
};

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

bool BoxWithinCell(const TGridImports& grid, double boxArcSec) {
  const double boxDeg = boxArcSec / 3600;  // degrees
  if (!(boxDeg <= std::fabs(grid.yStep))) return false;
  // The row farthest from the equator widens the box most in longitude:
  // the same cosine as SlidingBoxMeans takes there.
  constexpr double kDegToRadLocal = 3.14159265358979323846 / 180;
  const double farthestDeg = std::max(std::fabs(grid.yMin), std::fabs(grid.yMin + (grid.ny - 1) * grid.yStep));
  const double c = std::max(1e-6, std::cos(std::min(farthestDeg, 90.0) * kDegToRadLocal));
  return std::min(boxDeg / c, 360.0) <= std::fabs(grid.xStep);
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

void TZoneGridMeans::AddStreamedLevels(const TGridImports* grid, const TGridRowReader& readRows,
                                       TZonesOfLevel wanted, bool elevation, double earthRadius) {
  // The file's geometry, as a whole read would give it.
  TGridImports file;
  file.fileFormat = grid->fileFormat;
  file.nx = grid->fileNx, file.ny = grid->fileNy;
  file.xMin = grid->fileXMin, file.yMin = grid->fileYMin;
  file.xStep = grid->xStep, file.yStep = grid->yStep;
  file.xRange = (file.nx - 1) * file.xStep, file.xMax = file.xMin + file.xRange;
  file.yRange = (file.ny - 1) * file.yStep, file.yMax = file.yMin + file.yRange;
  // The levels that can be formed (a level of fewer than 3 nodes either
  // way is not halved), and which of them are kept: those that zones
  // sample, and the coarsest for the zones beyond it.
  const int deepest = wanted.rbegin()->first;
  int formed = 0;
  for (std::int64_t nx = file.nx, ny = file.ny; formed < deepest && nx >= 3 && ny >= 3; ++formed) {
    nx = (nx - 1) / 2 + 1;
    ny = (ny - 1) / 2 + 1;
  }
  if (formed == 0) return;
  std::vector<bool> kept(std::size_t(formed), false);
  for (int level = 1; level <= formed; ++level)
    kept[std::size_t(level) - 1] = wanted.count(level) != 0 || (level == formed && deepest > formed);

  const auto build = [&](auto toMean, auto fromMean) {
    TRowPyramid<decltype(toMean), decltype(fromMean)> pyramid(file, kept, toMean, fromMean);
    constexpr std::int64_t kStripNodes = std::int64_t{16} << 20;  // nodes of a strip: 64 MiB of floats
    constexpr int kRowsAtOnce = 16;  // rows taken out of a column-major strip together (a cache line each)
    const int rowsPerStrip = int(std::clamp<std::int64_t>(kStripNodes / file.nx, 2, file.ny));
    std::vector<float> rows(std::size_t(kRowsAtOnce) * std::size_t(file.nx));
    for (int row0 = 0; row0 < file.ny;) {
      // A strip holds at least 2 rows: the last is asked with the one before.
      const int first = std::min(row0, file.ny - 2);
      TGridImports strip;
      if (LongStepStopRequested() || !readRows(first, std::min(rowsPerStrip, file.ny - first), strip))
        throw TMeansSourceNotLoaded();
      const int stripRow0 = strip.windowed() ? strip.row0 : 0;
      if (strip.nx != file.nx || (strip.windowed() && strip.column0 != 0) || stripRow0 > row0)
        throw std::logic_error("a strip of a grid's file without all its columns");
      const int end = std::min(file.ny, stripRow0 + strip.ny);
      for (int iy = row0; iy < end; iy += kRowsAtOnce) {
        const int count = std::min(kRowsAtOnce, end - iy);
        for (int ix = 0; ix < file.nx; ++ix) {
          const float* column = &strip.values[std::size_t(ix) * std::size_t(strip.ny) + std::size_t(iy - stripRow0)];
          for (int r = 0; r < count; ++r) rows[std::size_t(r) * std::size_t(file.nx) + std::size_t(ix)] = column[r];
        }
        for (int r = 0; r < count; ++r) pyramid.PushFileRow(iy + r, &rows[std::size_t(r) * std::size_t(file.nx)]);
      }
      row0 = end;
    }
    pyramid.Finish();
    for (int level = 1; level <= formed; ++level) {
      if (!kept[std::size_t(level) - 1]) continue;
      std::unique_ptr<TGridImports> means = pyramid.Take(level);
      const TGridImports* sampled = means.get();
      levels_.push_back(std::move(means));
      for (const auto& [wantedLevel, zoneList] : wanted) {
        if (wantedLevel != level && !(level == formed && wantedLevel > formed)) continue;
        for (const std::size_t z : zoneList) perZone_[z].emplace_back(grid, sampled);
      }
    }
  };
  if (elevation) {
    build([earthRadius](double h) { return MassOfHeight(h, earthRadius); },
          [earthRadius](double m) { return HeightOfMass(m, earthRadius); });
  } else {
    const auto same = [](double v) { return v; };
    build(same, same);
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
      // A box within one cell of the grid at every latitude it holds is
      // the grid's own sample. A box of less than about 2.8 spacings keeps
      // every node (level 0): a level of every second node would drop half
      // the grid. That happens only on a grid at least 5 times coarser than
      // the finest one of the run, whose rule the band follows, so the copy
      // stays small.
      if (BoxWithinCell(*grid, size)) continue;
      const int level = BoxLevel(FinerSpacingArcSec(*grid), size);
      std::unique_ptr<TGridImports> box =
          SlidingBoxMeans(*grid, level, size, roled.role == TGridRole::Elevation, earthRadius);
      if (!box) continue;  // a grid of one node along an axis: sampled itself
      boxes.emplace_back(size, box.get());
      perZone_[z].emplace_back(grid, box.get());
      levels_.push_back(std::move(box));
    }
    // The levels this grid needs, and the zones that need each: from the
    // grid's own pyramid, or from the overview that serves the level.
    std::vector<int> overviewLevels;
    for (const TGridOverview& overview : roled.overviews) overviewLevels.push_back(overview.level);
    TZonesOfLevel own;
    std::map<int, TZonesOfLevel> fromOverview;  // by the overview's index
    for (std::size_t z = 0; z < zones.size(); ++z) {
      if (!zones[z].blockMeans || zones[z].boxMeans) continue;
      const int level = MeanLevel(FinerSpacingArcSec(*grid), zones[z].segmentSizeArcSec);
      if (level <= 0) continue;
      const int overview = OverviewForLevel(overviewLevels, level);
      if (overview < 0) {
        own[level].push_back(z);
      } else {
        fromOverview[overview][level].push_back(z);
      }
    }
    if (!own.empty()) {
      if (grid->windowed() && roled.readRows) {
        AddStreamedLevels(grid, roled.readRows, std::move(own), roled.role == TGridRole::Elevation, earthRadius);
      } else {
        AddLevels(grid, grid, nullptr, 0, std::move(own), halved);
      }
    }
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
      if (!start) throw TMeansSourceNotLoaded();
      const TGridImports* first = start.get();
      AddLevels(grid, first, std::move(start), overview.level, std::move(wanted), halved);
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

#include "GridMeans.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <optional>
#include <stdexcept>
#include <vector>

#include "GridChecks.h"
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

// Rows row0 .. end - 1 of `grid` (nodes column by column; its row 0 is
// row gridRow0 of the whole grid) to onRow(iy, values), iy counted in the
// whole grid, values from column 0 east. Rows are taken out a few at a
// time, so that each column is read a cache line at a time.
template <typename OnRow>
void PushRows(const TGridImports& grid, int gridRow0, int row0, int end, std::vector<float>& rows,
              const OnRow& onRow) {
  constexpr int kRowsAtOnce = 16;  // rows taken out together (a cache line of each column)
  const std::size_t nx = std::size_t(grid.nx), ny = std::size_t(grid.ny);
  rows.resize(std::size_t(kRowsAtOnce) * nx);
  for (int iy = row0; iy < end; iy += kRowsAtOnce) {
    const int count = std::min(kRowsAtOnce, end - iy);
    for (std::size_t ix = 0; ix < nx; ++ix) {
      const float* column = &grid.values[ix * ny + std::size_t(iy - gridRow0)];
      for (int r = 0; r < count; ++r) rows[std::size_t(r) * nx + ix] = column[r];
    }
    for (int r = 0; r < count; ++r) onRow(iy + r, &rows[std::size_t(r) * nx]);
  }
}

// Every row of a grid in memory to onRow, as PushRows; a stop request ends
// it early (the run is abandoned).
template <typename OnRow>
void PushRowsOf(const TGridImports& grid, const OnRow& onRow) {
  constexpr int kRowsPerLook = 64;  // rows between two looks at a stop request
  std::vector<float> rows;
  for (int row0 = 0; row0 < grid.ny; row0 += kRowsPerLook) {
    if (LongStepStopRequested()) return;
    PushRows(grid, 0, row0, std::min<int>(grid.ny, row0 + kRowsPerLook), rows, onRow);
  }
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
  // the same cosine as SlidingBoxMeans takes there. Of a window, the
  // file's rows count, so that the window plan (which knows only the file)
  // and the means agree on whether the grid is sampled itself.
  constexpr double kDegToRadLocal = 3.14159265358979323846 / 180;
  const double y0 = grid.windowed() ? grid.fileYMin : grid.yMin;  // degrees
  const int rows = grid.windowed() ? grid.fileNy : grid.ny;
  const double farthestDeg = std::max(std::fabs(y0), std::fabs(y0 + (rows - 1) * grid.yStep));
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

int OverviewForBox(const std::vector<int>& overviewLevels, double gridSpacingArcSec, double boxArcSec) {
  constexpr int kSpacingsPerBox = 4;  // an overview's spacing at most this part of the box
  int chosen = -1;
  for (std::size_t n = 0; n < overviewLevels.size(); ++n) {
    const int candidate = overviewLevels[n];
    if (candidate < 1 || candidate > 30) continue;
    if (!(std::ldexp(gridSpacingArcSec, candidate) * kSpacingsPerBox <= boxArcSec)) continue;
    if (chosen < 0 || candidate > overviewLevels[std::size_t(chosen)]) chosen = static_cast<int>(n);
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
                                       const TLevelWindow& windowOf, const std::vector<TZone>& zones,
                                       TZonesOfLevel wanted, const std::vector<TBoxRequest>& boxes, bool elevation,
                                       double earthRadius) {
  // The file's geometry, as a whole read would give it.
  TGridImports file;
  file.fileFormat = grid->fileFormat;
  file.nx = grid->fileNx, file.ny = grid->fileNy;
  file.xMin = grid->fileXMin, file.yMin = grid->fileYMin;
  file.xStep = grid->xStep, file.yStep = grid->yStep;
  file.xRange = (file.nx - 1) * file.xStep, file.xMax = file.xMin + file.xRange;
  file.yRange = (file.ny - 1) * file.yStep, file.yMax = file.yMin + file.yRange;
  // The levels of the pyramid that can be formed (a level of fewer than 3
  // nodes either way is not halved), and which of them are kept: those
  // that zones sample, and the coarsest for the zones beyond it.
  const int deepest = wanted.empty() ? 0 : wanted.rbegin()->first;
  int formed = 0;
  for (std::int64_t nx = file.nx, ny = file.ny; formed < deepest && nx >= 3 && ny >= 3; ++formed) {
    nx = (nx - 1) / 2 + 1;
    ny = (ny - 1) / 2 + 1;
  }
  std::vector<bool> kept(std::size_t(formed), false);
  for (int level = 1; level <= formed; ++level)
    kept[std::size_t(level) - 1] = wanted.count(level) != 0 || (level == formed && deepest > formed);
  // The box levels, formed in the same pass over the file.
  // A level whose bands stop short of 180 degrees keeps the rows within
  // their reach.
  std::vector<TBoxMeansRows> boxRows;
  bool anyBox = false;
  long rowFrom = formed > 0 ? 0 : file.ny, rowTo = formed > 0 ? file.ny - 1 : -1;  // rows of the file read
  for (const TBoxRequest& box : boxes) {
    TBoxMeansRows& rows = boxRows.emplace_back(file, box.level, box.boxArcSec, elevation, earthRadius);
    if (!rows.Forms()) continue;
    anyBox = true;
    if (windowOf) {
      double reachDeg = 0;  // degrees
      for (const std::size_t z : box.zones) reachDeg = std::max(reachDeg, zones[z].psiToDeg);
      if (reachDeg < 180) {
        const TNodeWindow window = windowOf(*rows.Shape(), reachDeg);
        rows.KeepOnlyRows(window.row0, window.rows);
      }
    }
    const auto [first, last] = rows.NeededRows();
    rowFrom = std::min(rowFrom, first);
    rowTo = std::max(rowTo, last);
  }
  if (formed == 0 && !anyBox) return;

  const auto build = [&](auto toMean, auto fromMean) {
    std::optional<TRowPyramid<decltype(toMean), decltype(fromMean)>> pyramid;
    if (formed > 0) pyramid.emplace(file, kept, toMean, fromMean);
    const auto onRow = [&](int iy, const float* values) {
      if (pyramid) pyramid->PushFileRow(iy, values);
      for (TBoxMeansRows& box : boxRows) box.PushRow(iy, values);
    };
    constexpr std::int64_t kStripNodes = std::int64_t{16} << 20;  // nodes of a strip: 64 MiB of floats
    const int rowsPerStrip = int(std::clamp<std::int64_t>(kStripNodes / file.nx, 2, file.ny));
    std::vector<float> rows;
    const int endRow = int(rowTo) + 1;
    for (int row0 = int(rowFrom); row0 < endRow;) {
      // A strip holds at least 2 rows: the last is asked with the one before.
      const int first = std::min(row0, file.ny - 2);
      TGridImports strip;
      if (LongStepStopRequested() || !readRows(first, std::clamp(endRow - first, 2, rowsPerStrip), strip))
        throw TMeansSourceNotLoaded();
      const int stripRow0 = strip.windowed() ? strip.row0 : 0;
      if (strip.nx != file.nx || (strip.windowed() && strip.column0 != 0) || stripRow0 > row0)
        throw std::logic_error("a strip of a grid's file without all its columns");
      const int end = std::min(endRow, stripRow0 + strip.ny);
      PushRows(strip, stripRow0, row0, end, rows, onRow);
      row0 = end;
    }
    if (!pyramid) return;
    pyramid->Finish();
    for (int level = 1; level <= formed; ++level) {
      if (!kept[std::size_t(level) - 1]) continue;
      std::unique_ptr<TGridImports> means = pyramid->Take(level);
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
  for (std::size_t b = 0; b < boxes.size(); ++b) {
    std::unique_ptr<TGridImports> level = boxRows[b].Finish();
    if (!level) continue;  // a file of one node along an axis: sampled itself
    for (const std::size_t z : boxes[b].zones) perZone_[z].emplace_back(grid, level.get());
    levels_.push_back(std::move(level));
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
    std::vector<TBoxRequest> boxes;
    for (std::size_t z = 0; z < zones.size(); ++z) {
      if (!zones[z].blockMeans || !zones[z].boxMeans) continue;
      const double size = zones[z].segmentSizeArcSec;
      // A box within one cell of the grid at every latitude it holds is
      // the grid's own sample. A box of less than about 2.8 spacings keeps
      // every node (level 0): a level of every second node would drop half
      // the grid. That happens only on a grid at least 5 times coarser than
      // the finest one of the run, whose rule the band follows, so the copy
      // stays small.
      if (BoxWithinCell(*grid, size)) continue;
      const auto known =
          std::find_if(boxes.begin(), boxes.end(), [size](const TBoxRequest& b) { return b.boxArcSec == size; });
      if (known != boxes.end()) {
        known->zones.push_back(z);
      } else {
        boxes.push_back({.boxArcSec = size, .level = BoxLevel(FinerSpacingArcSec(*grid), size), .zones = {z}});
      }
    }
    // A box that an overview of the file serves comes from the overview,
    // read whole (a box reaches across its neighbours) and dropped once
    // the level is formed: no pass over the file.
    std::vector<int> overviewLevels;
    for (const TGridOverview& overview : roled.overviews) overviewLevels.push_back(overview.level);
    for (auto request = boxes.begin(); request != boxes.end();) {
      const int overview = OverviewForBox(overviewLevels, FinerSpacingArcSec(*grid), request->boxArcSec);
      if (overview < 0) {
        ++request;
        continue;
      }
      const TGridOverview& source = roled.overviews[std::size_t(overview)];
      const std::unique_ptr<TGridImports> start = source.load ? source.load(180) : nullptr;
      if (!start) throw TMeansSourceNotLoaded();
      std::unique_ptr<TGridImports> box =
          SlidingBoxMeans(*start, BoxLevel(FinerSpacingArcSec(*start), request->boxArcSec), request->boxArcSec,
                          roled.role == TGridRole::Elevation, earthRadius);
      if (box) {
        for (const std::size_t z : request->zones) perZone_[z].emplace_back(grid, box.get());
        levels_.push_back(std::move(box));
      }
      request = boxes.erase(request);
    }
    const bool streamed = grid->windowed() && roled.readRows;
    if (!streamed) {
      for (const TBoxRequest& request : boxes) {
        std::unique_ptr<TGridImports> box = SlidingBoxMeans(*grid, request.level, request.boxArcSec,
                                                            roled.role == TGridRole::Elevation, earthRadius);
        if (!box) continue;  // a grid of one node along an axis: sampled itself
        for (const std::size_t z : request.zones) perZone_[z].emplace_back(grid, box.get());
        levels_.push_back(std::move(box));
      }
    }
    // The levels this grid needs, and the zones that need each: from the
    // grid's own pyramid, or from the overview that serves the level.
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
    // A grid read in a window forms its box levels and its own pyramid
    // from one pass over its file.
    if (streamed && (!own.empty() || !boxes.empty())) {
      AddStreamedLevels(grid, roled.readRows, roled.windowOf, zones, std::move(own), boxes,
                        roled.role == TGridRole::Elevation, earthRadius);
    } else if (!own.empty()) {
      AddLevels(grid, grid, nullptr, 0, std::move(own), halved);
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

TBoxMeansRows::TBoxMeansRows(const TGridImports& grid, int level, double boxArcSec, bool massMeans,
                             double earthRadius)
    : massMeans_(massMeans), earthRadius_(earthRadius) {
  if (grid.nx < 2 || grid.ny < 2 || !(boxArcSec > 0) || level < 0 || level > 30) return;
  stride_ = 1L << level;
  nx_ = grid.nx, ny_ = grid.ny;
  level_ = std::make_unique<TGridImports>();
  level_->fileFormat = grid.fileFormat;
  level_->blankValue = kBlankMarker;
  level_->nx = static_cast<decltype(level_->nx)>((nx_ - 1) / stride_ + 1);
  level_->ny = static_cast<decltype(level_->ny)>((ny_ - 1) / stride_ + 1);
  level_->xMin = grid.xMin;
  level_->yMin = grid.yMin;
  level_->xStep = double(stride_) * grid.xStep;
  level_->yStep = double(stride_) * grid.yStep;
  // The values once the rows it keeps are known (KeepOnlyRows).
  CompleteBoundsFromSteps(*level_);

  wraps_ = WrapsRound(grid);
  period_ = nx_ - 1;
  const double dxDeg = std::fabs(grid.xStep), dyDeg = std::fabs(grid.yStep);  // degrees
  const double boxDeg = boxArcSec / 3600;  // degrees
  constexpr double kDegToRadLocal = 3.14159265358979323846 / 180;
  // Per row: half the box in columns (longitude widened by 1 / cos
  // latitude, at most half a turn), and the area weight cos(latitude).
  halfColumns_.resize(std::size_t(ny_));
  areaWeight_.resize(std::size_t(ny_));
  for (long iy = 0; iy < ny_; ++iy) {
    const double latDeg = grid.yMin + double(iy) * grid.yStep;
    const double c = std::max(1e-6, std::cos(latDeg * kDegToRadLocal));
    areaWeight_[std::size_t(iy)] = c;
    halfColumns_[std::size_t(iy)] = std::min(0.5 * boxDeg / c, 180.0) / dxDeg;
  }
  const double halfRows = 0.5 * boxDeg / dyDeg;
  const long levelNy = level_->ny, levelNx = level_->nx;
  windows_.resize(std::size_t(levelNy));
  for (long jy = 0; jy < levelNy; ++jy) {
    const TBoxWindow w = BoxWindow(double(jy * stride_), halfRows);
    windows_[std::size_t(jy)] = {.first = w.first,
                                 .last = w.last,
                                 .firstWeight = w.firstWeight,
                                 .lastWeight = w.lastWeight,
                                 .from = std::max(0L, w.first),
                                 .to = std::min(ny_ - 1, w.last)};
  }
  // The rows of the level open at once: those whose boxes begin before the
  // lowest open one's ends (the boxes move north with the rows).
  long most = 1;
  for (long jy = 0, past = 0; jy < levelNy; ++jy) {
    past = std::max(past, jy);
    while (past < levelNy && windows_[std::size_t(past)].from <= windows_[std::size_t(jy)].to) ++past;
    most = std::max(most, past - jy);
  }
  firstRow_ = 0, endRow_ = levelNy;
  open_.resize(std::size_t(most));
  for (TOpenRow& row : open_) {
    row.sum.resize(std::size_t(levelNx));
    row.weight.resize(std::size_t(levelNx));
    row.blank.resize(std::size_t(levelNx));
  }
  const std::size_t columns = std::size_t(wraps_ ? period_ : nx_);
  runningHigh_.resize(columns + 1);
  runningLow_.resize(columns + 1);
  runningCount_.resize(columns + 1);
  rowSum_.resize(std::size_t(levelNx));
  rowWeight_.resize(std::size_t(levelNx));
  rowBlank_.resize(std::size_t(levelNx));
  zMin_ = std::numeric_limits<double>::infinity();
  zMax_ = -zMin_;
}

void TBoxMeansRows::KeepOnlyRows(std::int32_t row0, std::int32_t rows) {
  if (!level_ || nextOpen_ != firstRow_) return;
  const long levelNy = level_->ny;
  const long first = std::clamp<long>(row0, 0, levelNy - 1);
  const long count = std::clamp<long>(rows, 1, levelNy - first);
  if (first == 0 && count == levelNy) return;
  TGridImports& level = *level_;
  level.fileXMin = level.xMin, level.fileYMin = level.yMin;
  level.fileNx = level.nx, level.fileNy = level.ny;
  level.column0 = 0, level.row0 = static_cast<std::int32_t>(first);
  level.ny = static_cast<std::int32_t>(count);
  level.yMin = level.fileYMin + double(first) * level.yStep;
  CompleteBoundsFromSteps(level);
  firstRow_ = nextOpen_ = nextFinished_ = first;
  endRow_ = first + count;
}

std::pair<long, long> TBoxMeansRows::NeededRows() const {
  if (!level_) return {0, -1};
  return {windows_[std::size_t(firstRow_)].from, windows_[std::size_t(endRow_ - 1)].to};
}

void TBoxMeansRows::PushRow(int iy, const float* values) {
  if (!level_) return;
  const long levelNy = endRow_, openRows = static_cast<long>(open_.size());
  // Finish the rows of the level whose boxes lie south of this row, and
  // open those whose boxes begin here.
  for (;;) {
    while (nextFinished_ < nextOpen_ && windows_[std::size_t(nextFinished_)].to < iy) FinishRow(nextFinished_);
    if (nextOpen_ < levelNy && windows_[std::size_t(nextOpen_)].from <= iy && nextOpen_ - nextFinished_ < openRows) {
      TOpenRow& row = open_[std::size_t(nextOpen_ % openRows)];
      std::fill(row.sum.begin(), row.sum.end(), 0.0);
      std::fill(row.weight.begin(), row.weight.end(), 0.0);
      std::fill(row.blank.begin(), row.blank.end(), 0.0);
      ++nextOpen_;
      continue;
    }
    break;
  }
  if (nextFinished_ == nextOpen_) return;  // no box holds this row
  SumAlongRow(iy, values);
  // Then into the rows of the level, each row's mean weighted by its area.
  const long levelNx = level_->nx;
  for (long jy = nextFinished_; jy < nextOpen_; ++jy) {
    const TRowWindow& w = windows_[std::size_t(jy)];
    const double wy =
        (iy == w.first ? w.firstWeight : iy == w.last ? w.lastWeight : 1.0) * areaWeight_[std::size_t(iy)];
    TOpenRow& row = open_[std::size_t(jy % openRows)];
    for (long jx = 0; jx < levelNx; ++jx) {
      const std::size_t j = std::size_t(jx);
      row.sum[j] += wy * rowSum_[j];
      row.weight[j] += wy * rowWeight_[j];
      row.blank[j] += wy * rowBlank_[j];
    }
  }
  while (nextFinished_ < nextOpen_ && windows_[std::size_t(nextFinished_)].to <= iy) FinishRow(nextFinished_);
}

void TBoxMeansRows::SumAlongRow(int iy, const float* values) {
  // Running sums over the columns once round (the last column of a grid
  // round the globe repeats the first): the sum over columns a .. b - 1 is
  // running(b) - running(a). Each step's rounding error is carried along
  // apart (two-sum), so that the difference keeps the digits of a box's
  // sum however large the row's sum before it.
  const long columns = wraps_ ? period_ : nx_;
  runningHigh_[0] = runningLow_[0] = 0;
  runningCount_[0] = 0;
  const auto meanOf = [this](float v) { return massMeans_ ? MassOfHeight(double{v}, earthRadius_) : double{v}; };
  double high = 0, low = 0;  // the running sum and its rounding error
  std::int32_t count = 0;
  for (long k = 0; k < columns; ++k) {
    const std::size_t i = std::size_t(k);
    const float v = values[k];
    const bool blank = v >= kBlankThreshold;
    const double m = blank ? 0.0 : meanOf(v);
    const double s = high + m;
    const double back = s - high;
    low += (high - (s - back)) + (m - back);
    high = s;
    count += blank ? 0 : 1;
    runningHigh_[i + 1] = high;
    runningLow_[i + 1] = low;
    runningCount_[i + 1] = count;
  }
  const auto column = [this, columns](long k) {
    if (!wraps_ || (k >= 0 && k < columns)) return k;
    k %= columns;
    return k < 0 ? k + columns : k;
  };
  // Columns a .. b (unwrapped, inclusive): the sum over those not blank,
  // their count, and the count of all of them.
  const auto interior = [&](long a, long b, double& sum, std::int32_t& count, std::int64_t& all) {
    sum = 0, count = 0, all = 0;
    if (!wraps_) {
      a = std::max(a, 0L), b = std::min(b, nx_ - 1);
      if (b < a) return;
      const std::size_t i = std::size_t(a), j = std::size_t(b + 1);
      sum = (runningHigh_[j] - runningHigh_[i]) + (runningLow_[j] - runningLow_[i]);
      count = runningCount_[j] - runningCount_[i];
      all = b - a + 1;
      return;
    }
    if (b < a) return;
    all = b - a + 1;
    const long turns = all / columns, rest = all - turns * columns;
    const std::size_t i = std::size_t(column(a)), n = std::size_t(columns);
    if (i + std::size_t(rest) <= n) {
      const std::size_t j = i + std::size_t(rest);
      sum = (runningHigh_[j] - runningHigh_[i]) + (runningLow_[j] - runningLow_[i]);
      count = runningCount_[j] - runningCount_[i];
    } else {  // over the seam
      const std::size_t j = i + std::size_t(rest) - n;
      sum = ((runningHigh_[n] - runningHigh_[i]) + runningHigh_[j]) +
            ((runningLow_[n] - runningLow_[i]) + runningLow_[j]);
      count = runningCount_[n] - runningCount_[i] + runningCount_[j];
    }
    if (turns > 0) {
      sum += double(turns) * (runningHigh_[n] + runningLow_[n]);
      count += std::int32_t(turns) * runningCount_[n];
    }
  };
  // Along the row the box reaches D = floor(half + 0.5) columns either
  // side of the node (BoxWindow about it): those nearer weigh 1, the D-th
  // the rest of the box, half - D + 0.5; for D = 0 the node alone weighs
  // the whole box.
  const double half = halfColumns_[std::size_t(iy)];
  const long reach = static_cast<long>(std::floor(half + 0.5));
  const double endWeight = reach == 0 ? 2 * half : half - double(reach) + 0.5;  // no unit
  for (long jx = 0; jx < level_->nx; ++jx) {
    const std::size_t j = std::size_t(jx);
    const long centre = jx * stride_;
    double sum = 0, weight = 0, blank = 0;
    if (reach > 0) {
      std::int32_t count = 0;
      std::int64_t all = 0;
      interior(centre - reach + 1, centre + reach - 1, sum, count, all);
      weight = double(count);
      blank = double(all - count);
    }
    for (const long end : {centre - reach, centre + reach}) {
      const long k = column(end);
      if (k < 0 || k >= columns) continue;
      const float v = values[k];
      if (v >= kBlankThreshold) {
        blank += endWeight;
      } else {
        sum += endWeight * meanOf(v);
        weight += endWeight;
      }
      if (reach == 0) break;  // one node, counted once
    }
    // Each row counts by its share of blanks: its sums over the box's width.
    const double all = weight + blank;
    if (all > 0) {
      const double share = 1 / all;
      rowSum_[j] = sum * share, rowWeight_[j] = weight * share, rowBlank_[j] = blank * share;
    } else {
      rowSum_[j] = rowWeight_[j] = rowBlank_[j] = 0;
    }
  }
}

void TBoxMeansRows::FinishRow(long jy) {
  if (level_->values.empty()) AllocateValues(*level_);
  TOpenRow& row = open_[std::size_t(jy % static_cast<long>(open_.size()))];
  for (long jx = 0; jx < level_->nx; ++jx) {
    const std::size_t j = std::size_t(jx);
    float mean = kBlankMarker;
    if (row.blank[j] < row.weight[j]) {
      const double m = row.sum[j] / row.weight[j];
      mean = static_cast<float>(massMeans_ ? HeightOfMass(m, earthRadius_) : m);
      zMin_ = std::min(zMin_, double{mean});
      zMax_ = std::max(zMax_, double{mean});
    } else {
      ++blanks_;
    }
    level_->at(int(jx), int(jy - firstRow_)) = mean;
  }
  ++nextFinished_;
}

std::unique_ptr<TGridImports> TBoxMeansRows::Finish() {
  if (!level_) return nullptr;
  // Rows of the level whose boxes reach the last row of the grid.
  if (nextOpen_ == endRow_) {
    while (nextFinished_ < nextOpen_) FinishRow(nextFinished_);
  }
  if (level_->values.empty()) AllocateValues(*level_);
  level_->blankCount = static_cast<std::int32_t>(std::min<std::int64_t>(blanks_, INT32_MAX));
  level_->zMin = std::isfinite(zMin_) ? zMin_ : 0;
  level_->zMax = std::isfinite(zMax_) ? zMax_ : 0;
  level_->zRange = level_->zMax - level_->zMin;
  return std::move(level_);
}

std::unique_ptr<TGridImports> SlidingBoxMeans(const TGridImports& grid, int level, double boxArcSec, bool massMeans,
                                              double earthRadius) {
  TBoxMeansRows box(grid, level, boxArcSec, massMeans, earthRadius);
  if (!box.Forms()) return nullptr;
  PushRowsOf(grid, [&box](int iy, const float* row) { box.PushRow(iy, row); });
  return box.Finish();
}

}  // namespace globelayers

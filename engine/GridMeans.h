// Block means of the grids for far zones. A segment of a far zone spans many
// grid cells, and one point sample per segment folds the relief between the
// samples into the sum (aliasing). A zone that asks for block means samples,
// instead of each grid, a coarser grid of local means whose spacing is near
// the zone's segment size.
//
// The means form a pyramid: each level halves the node counts, its node
// (jx, jy) on the finer level's node (2 jx, 2 jy), holding the weighted mean
// of the 3 x 3 finer nodes around it (weights 1/4, 1/2, 1/4 along each
// axis; nodes outside the grid left out, but a grid whose columns span
// exactly 360 degrees wraps round). The grid's first node and extent are
// kept, so no half-cell shift creeps in. A node whose surrounding weight is
// at least half blank is blank; otherwise blank nodes are left out of the
// mean. A constant grid stays exactly constant.
//
// Far away a block of a layer attracts as its mass does, and the mass
// between a sphere of radius R and a surface at height h goes with
// (R + h)^3 - R^3, not with h. A mean of heights drops the variance of the
// relief and with it mass, band after band on a rough globe. So elevation
// grids average m = (R + h)^3 - R^3 = h (3 R^2 + 3 R h + h^2) and give back
// the height h* with (R + h*)^3 - R^3 = mean of m: every block keeps the
// mass between the sphere and the surface, and so between any two surfaces
// (their difference), for a constant density. Density grids keep linear
// means.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <utility>
#include <vector>

#include "GridImports.h"

namespace globelayers {

struct TZone;

// What a grid holds, which decides how its nodes are averaged.
enum class TGridRole {
  Elevation,  // heights of a surface, metres: means keep the mass above the sphere
  Density,    // densities, g/cm3: linear means
};

// A reduced copy of a grid that its file keeps (a GDAL overview, such as
// `gdaladdo -r average` makes): plain means of the heights or densities
// over blocks of about 2^level nodes, read in place of forming that level
// of the pyramid from the whole grid.
struct TGridOverview {
  int level = 0;  // the pyramid level it stands for (OverviewLevel), at least 1
  // Loads it, read where positions within reachDeg (degrees of spherical
  // distance, 180 for everywhere) of the run's stations lie; null when it
  // did not load (the reader said why, or a stop request gave it up).
  std::function<std::unique_ptr<TGridImports>(double reachDeg)> load;
};

// Reads the rows row0 .. row0 + rows - 1 of a grid's file, every column,
// into `strip` (a window of the file, perhaps of more rows); false when
// they did not load (the reader said why, or a stop request gave it up).
using TGridRowReader = std::function<bool(std::int32_t row0, std::int32_t rows, TGridImports& strip)>;

// A grid of a run with its role, its file's overviews, finest first, and
// how to read its file in strips of rows.
struct TRoledGrid {
  const TGridImports* grid;
  TGridRole role;
  std::vector<TGridOverview> overviews = {};
  TGridRowReader readRows = {};
  // The nodes of a level's geometry (no values) within reachDeg (degrees
  // of spherical distance) of the run's stations; empty: every node. A
  // box level of bands that stop short of 180 degrees keeps only the rows
  // of the level in it.
  std::function<TNodeWindow(const TGridImports& geometry, double reachDeg)> windowOf = {};
};

// An overview or a strip of a grid's file that did not load: the run fails
// with the reader's message (or stops, for a stop request).
class TMeansSourceNotLoaded : public std::runtime_error {
 public:
  TMeansSourceNotLoaded() : std::runtime_error("a grid's overview or rows did not load") {}
};

// The pyramid level that an overview stands for: its finer spacing over
// the grid's (arc-seconds both), as a power of two rounded to the nearest;
// 0 when it is no coarser than about 1.41 spacings of the grid.
int OverviewLevel(double gridSpacingArcSec, double overviewSpacingArcSec);

// Which overview serves pyramid level `level`: the coarsest whose level
// (overviewLevels, in any order) is at most `level`, which the pyramid then
// halves the rest of the way (never a coarser one, whose means would blur
// the band's segments); -1 when none is, or for level 0.
int OverviewForLevel(const std::vector<int>& overviewLevels, int level);

// Which overview a level of box means of `boxArcSec` is formed from: the
// coarsest whose spacing, 2^level spacings of the grid, is at most a
// quarter of the box, so that a box still spans four of its nodes each way
// (overviewLevels in any order; arc-seconds both); -1 when none is.
int OverviewForBox(const std::vector<int>& overviewLevels, double gridSpacingArcSec, double boxArcSec);

// The next level of the pyramid with linear means (densities); null when the
// grid has fewer than 3 nodes along either axis (it cannot be halved).
std::unique_ptr<TGridImports> HalvedMeans(const TGridImports& grid);

// The next level of the pyramid of an elevation grid: means that keep the
// mass between the sphere of radius `earthRadius` (metres) and the surface.
// Null as for HalvedMeans.
std::unique_ptr<TGridImports> HalvedMassMeans(const TGridImports& grid, double earthRadius);

// A level of sliding box means: nodes every 2^level spacings of `grid`
// (on its nodes, first node and extent kept), each the area-weighted mean
// over a box of `boxArcSec` on the ground centred on the node: that many
// arc-seconds of latitude and boxArcSec / cos(latitude) of longitude (at
// most once round). Sampled bilinearly at a segment's centre, a level whose
// box is the segment's own size stands in for the segment's footprint,
// where a pyramid level smooths over about two of its spacings. Elevation
// grids (`massMeans`) average the mass above the sphere of radius
// `earthRadius` (metres), as HalvedMassMeans; blanks as there. Null when
// the grid has fewer than 2 nodes along either axis or the box is not
// positive.
std::unique_ptr<TGridImports> SlidingBoxMeans(const TGridImports& grid, int level, double boxArcSec, bool massMeans,
                                              double earthRadius);

// A level of sliding box means (as SlidingBoxMeans) formed from a grid's
// rows pushed one by one from the south (row 0) up, so that the grid is
// never held: it keeps the level and a few rows. Along a row the box's
// sums for every node of the level come from running sums of the row
// (whatever the box's reach); the row then goes, with its weight, into the
// (about two) rows of the level whose boxes hold it, and a row of the level
// is finished once its box is passed. SlidingBoxMeans pushes a grid in
// memory through it, and the strips of a file push the very same rows: the
// two give the same bits.
class TBoxMeansRows {
 public:
  // `grid`: the whole grid's geometry (node counts, first node, spacings;
  // no values needed); the other arguments as for SlidingBoxMeans.
  TBoxMeansRows(const TGridImports& grid, int level, double boxArcSec, bool massMeans, double earthRadius);
  // False where SlidingBoxMeans gives null: nothing is formed.
  bool Forms() const { return level_ != nullptr; }
  // The level's geometry (its values not yet formed); null where it does
  // not form.
  const TGridImports* Shape() const { return level_.get(); }
  // Before the first row: form only `rows` rows of the level from row
  // `row0` on (clipped to the level), a window of the level as
  // LoadGridWindow makes one, which the sampler places by its whole.
  void KeepOnlyRows(std::int32_t row0, std::int32_t rows);
  // The rows of the grid that the level's boxes hold, first and last.
  std::pair<long, long> NeededRows() const;
  // Row iy of the grid, nx nodes from column 0 east. Rows come in
  // increasing order; a row that no box holds is skipped, and so may be
  // left out.
  void PushRow(int iy, const float* values);
  // The level, once every row was pushed (rows left out by a stop request
  // leave it unfinished: the run is abandoned). Handed over once.
  std::unique_ptr<TGridImports> Finish();

 private:
  struct TRowWindow {  // rows of the grid in a row of the level's box
    long first = 0, last = -1;  // rows, unclipped: the weights below apply there
    double firstWeight = 0, lastWeight = 0;  // no unit
    long from = 0, to = -1;  // rows within the grid
  };
  struct TOpenRow {  // a row of the level whose box is being summed
    std::vector<double> sum, weight, blank;  // mean's unit times weight; weights; per node of the level
  };
  void SumAlongRow(int iy, const float* values);
  void FinishRow(long jy);

  std::unique_ptr<TGridImports> level_;
  bool massMeans_ = false;
  double earthRadius_ = 0;  // metres
  long nx_ = 0, ny_ = 0, stride_ = 1;  // the grid's nodes; its spacings per node of the level
  bool wraps_ = false;
  long period_ = 0;  // columns once round, where the grid wraps
  std::vector<double> halfColumns_, areaWeight_;  // per row: half the box in columns; cos(latitude)
  std::vector<TRowWindow> windows_;  // per row of the level
  long firstRow_ = 0, endRow_ = 0;  // the rows of the level formed: firstRow_ .. endRow_ - 1
  long nextOpen_ = 0, nextFinished_ = 0;  // rows of the level
  std::vector<TOpenRow> open_;  // row jy of the level in open_[jy % open_.size()]
  // The row being summed: running sums of the mean's quantity (a double
  // and its rounding error, so that a difference of two keeps its digits)
  // and of the nodes that are not blank; then per node of the level the
  // box's sums along the row over the box's width (sum, weight, blank).
  std::vector<double> runningHigh_, runningLow_;
  std::vector<std::int32_t> runningCount_;
  std::vector<double> rowSum_, rowWeight_, rowBlank_;
  double zMin_ = 0, zMax_ = 0;
  std::int64_t blanks_ = 0;
};

// Mass above the sphere of a surface at height h, as the means average it,
// and the height back from it: metres^3 (per steradian times 3), metres.
// Exact inverses up to rounding, without cancellation for small h.
inline double MassOfHeight(double heightM, double earthRadius) {
  return heightM * (3 * earthRadius * earthRadius + 3 * earthRadius * heightM + heightM * heightM);
}
double HeightOfMass(double mass, double earthRadius);

// The pyramid level whose spacing 2^level * spacing is nearest, on a log
// scale, to the segment size; 0 (the grid itself) when the segment is less
// than about 1.41 spacings.
// gridSpacingArcSec: the grid's finer node spacing, arc-seconds.
// segmentSizeArcSec: the zone's segment size, arc-seconds.
int MeanLevel(double gridSpacingArcSec, double segmentSizeArcSec);

// The level of sliding box means for boxes of `boxArcSec`: nodes about two
// per box, 2^level spacings apart and no more than box / 1.41 apart; 0 (a
// node on every node of the grid) for a box of less than 2.8 spacings.
// gridSpacingArcSec: the grid's finer node spacing, arc-seconds.
int BoxLevel(double gridSpacingArcSec, double boxArcSec);

// Whether a box of `boxArcSec` on the ground (arc-seconds of latitude,
// boxArcSec / cos(latitude) of longitude) lies within one cell of the grid
// round every node: then the box means of the grid are its own nodes. A
// box of one spacing of latitude is within a cell only on a grid whose
// rows stay near the equator: towards the poles it spans more than a
// column, and sampling the grid itself would alias the relief there.
bool BoxWithinCell(const TGridImports& grid, double boxArcSec);

// The finer of a grid's two node spacings, arc-seconds.
double FinerSpacingArcSec(const TGridImports& grid);

// Grids that a zone samples in place of the model's: pairs of (model grid,
// block means), looked up by the model grid's address.
using TGridStandIns = std::vector<std::pair<const TGridImports*, const TGridImports*>>;

// What a zone samples for `grid`: its stand-in when the zone has one.
inline const TGridImports& ZoneGrid(const TGridStandIns* standIns, const TGridImports& grid) {
  if (standIns) {
    for (const auto& [modelGrid, means] : *standIns) {
      if (modelGrid == &grid) return *means;
    }
  }
  return grid;
}

// The block means of a run, built once before its first point: for every
// zone that asks for them, a stand-in for each of `grids` at the level of
// the zone's segment size, averaged as its role says (elevations over the
// sphere of radius `earthRadius`, metres). Levels that no zone uses are
// dropped as soon as the next one is formed, so the means take at most a
// third of the grids' memory. A box level that an overview serves
// (OverviewForBox) is formed from the overview read whole; the others of a
// grid read in a window from its file read in strips, in the pass that
// forms its pyramid. A level that an overview serves
// (OverviewForLevel) starts from the overview instead of the grid: the
// overview itself, or its pyramid halved down to the level. The other
// levels of a grid read in a window (a part of its file) are formed from
// the whole file read in strips of rows (readRows), the very bits of the
// pyramid of the whole grid, which is never held. Throws
// TMeansSourceNotLoaded when an overview or a strip does not load.
class TZoneGridMeans {
 public:
  TZoneGridMeans() = default;
  TZoneGridMeans(const std::vector<TRoledGrid>& grids, const std::vector<TZone>& zones, double earthRadius);
  // The stand-ins of zone z (counted from 0), or null where it samples the
  // grids themselves.
  const TGridStandIns* ForZone(std::size_t z) const {
    return z < perZone_.size() && !perZone_[z].empty() ? &perZone_[z] : nullptr;
  }

 private:
  using TZonesOfLevel = std::map<int, std::vector<std::size_t>>;  // level: the zones that sample it
  // Halves `start`, level startLevel of the pyramid of `grid` (the grid
  // itself at 0, or an overview that `owned` holds), down to the deepest
  // level of `wanted`, keeping the levels that zones sample.
  void AddLevels(const TGridImports* grid, const TGridImports* start, std::unique_ptr<TGridImports> owned,
                 int startLevel, TZonesOfLevel wanted,
                 const std::function<std::unique_ptr<TGridImports>(const TGridImports&)>& halved);

  // A level of box means that zones sample.
  struct TBoxRequest {
    double boxArcSec = 0;  // the box's size on the ground, arc-seconds
    int level = 0;  // BoxLevel
    std::vector<std::size_t> zones;  // the zones that sample it
  };
  // The pyramid's levels of `wanted` and the box levels of `boxes` for
  // `grid`, a window of its file, from one pass over the file read in
  // strips through `readRows` (only the rows that box levels in the
  // stations' reach, windowOf, hold, when no level of the pyramid is asked).
  using TLevelWindow = std::function<TNodeWindow(const TGridImports& geometry, double reachDeg)>;
  void AddStreamedLevels(const TGridImports* grid, const TGridRowReader& readRows, const TLevelWindow& windowOf,
                         const std::vector<TZone>& zones, TZonesOfLevel wanted, const std::vector<TBoxRequest>& boxes,
                         bool elevation, double earthRadius);

  std::vector<std::unique_ptr<TGridImports>> levels_;  // the levels that zones sample
  std::vector<TGridStandIns> perZone_;
};

}  // namespace globelayers

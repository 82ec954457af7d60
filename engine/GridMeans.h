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

#include <memory>
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

// A grid of a run with its role.
struct TRoledGrid {
  const TGridImports* grid;
  TGridRole role;
};

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
// third of the grids' memory.
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
  std::vector<std::unique_ptr<TGridImports>> levels_;  // the levels that zones sample
  std::vector<TGridStandIns> perZone_;
};

}  // namespace globelayers

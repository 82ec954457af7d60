// Block means of the grids for far zones. A segment of a far zone spans many
// grid cells, and one point sample per segment folds the relief between the
// samples into the sum (aliasing). A zone that asks for block means samples,
// instead of each grid, a coarser grid of local means whose spacing is near
// the zone's segment size.
//
// The means form a pyramid: each level halves the node counts, its node
// (jx, jy) on the finer level's node (2 jx, 2 jy), holding the weighted mean
// of the 3 x 3 finer nodes around it (weights 1/4, 1/2, 1/4 along each
// axis; nodes outside the grid left out). The grid's first node and extent
// are kept, so no half-cell shift creeps in. A node whose surrounding weight
// is at least half blank is blank; otherwise blank nodes are left out of the
// mean. A constant grid stays exactly constant.
#pragma once

#include <memory>
#include <utility>
#include <vector>

#include "GridImports.h"

namespace globelayers {

struct TZone;

// The next level of the pyramid; null when the grid has fewer than 3 nodes
// along either axis (it cannot be halved).
std::unique_ptr<TGridImports> HalvedMeans(const TGridImports& grid);

// The pyramid level whose spacing 2^level * spacing is nearest, on a log
// scale, to the segment size; 0 (the grid itself) when the segment is less
// than about 1.41 spacings.
// gridSpacingArcSec: the grid's finer node spacing, arc-seconds.
// segmentSizeArcSec: the zone's segment size, arc-seconds.
int MeanLevel(double gridSpacingArcSec, double segmentSizeArcSec);

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
// the zone's segment size. Levels that no zone uses are dropped as soon as
// the next one is formed, so the means take at most a third of the grids'
// memory.
class TZoneGridMeans {
 public:
  TZoneGridMeans() = default;
  TZoneGridMeans(const std::vector<const TGridImports*>& grids, const std::vector<TZone>& zones);
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

#include "PointGrid.h"

#include <cmath>

#include "NumberText.h"

namespace globelayers {
namespace {

// Steps in a range, rounded: the range must be a whole number of steps.
std::int64_t StepsIn(double fromDeg, double toDeg, double stepDeg) {
  return static_cast<std::int64_t>(std::llround((toDeg - fromDeg) / stepDeg));
}

// The coordinate of node `i` of `steps` steps from `fromDeg` to `toDeg`:
// both ends exact, whatever the rounding of the step.
double NodeCoordinate(double fromDeg, double toDeg, std::int64_t i, std::int64_t steps) {
  if (i == steps) return toDeg;
  return fromDeg + (toDeg - fromDeg) * static_cast<double>(i) / static_cast<double>(steps);
}

}  // namespace

std::int64_t GridColumns(const TPointGrid& grid) { return StepsIn(grid.westDeg, grid.eastDeg, grid.stepDeg) + 1; }

std::int64_t GridRows(const TPointGrid& grid) { return StepsIn(grid.southDeg, grid.northDeg, grid.stepDeg) + 1; }

std::optional<std::string> CheckPointGrid(const TPointGrid& g) {
  if (!std::isfinite(g.westDeg) || !std::isfinite(g.eastDeg) || !std::isfinite(g.southDeg) ||
      !std::isfinite(g.northDeg) || !std::isfinite(g.stepDeg)) {
    return CFormat("The grid of points needs finite edges and step in degrees, not %.10g;%.10g;%.10g;%.10g;%.10g.",
                   g.westDeg, g.eastDeg, g.southDeg, g.northDeg, g.stepDeg);
  }
  if (!(g.eastDeg > g.westDeg)) {
    return CFormat("The grid of points runs from %.10g to %.10g degrees of longitude: the east edge must lie east "
                   "of the west edge.",
                   g.westDeg, g.eastDeg);
  }
  if (!(g.northDeg > g.southDeg)) {
    return CFormat("The grid of points runs from %.10g to %.10g degrees of latitude: the north edge must lie north "
                   "of the south edge.",
                   g.southDeg, g.northDeg);
  }
  if (g.southDeg < -90 || g.northDeg > 90) {
    return CFormat("The grid of points runs from %.10g to %.10g degrees of latitude, beyond a pole: latitudes lie "
                   "within -90 to 90 degrees.",
                   g.southDeg, g.northDeg);
  }
  if (g.eastDeg - g.westDeg > 360 || g.westDeg < -360 || g.eastDeg > 360) {
    return CFormat("The grid of points runs from %.10g to %.10g degrees of longitude: it may span at most one turn, "
                   "within -360 to 360 degrees.",
                   g.westDeg, g.eastDeg);
  }
  if (!(g.stepDeg > 0)) {
    return CFormat("The grid of points needs a step above 0 degrees, not %.10g.", g.stepDeg);
  }
  const std::pair<double, double> ranges[] = {{g.westDeg, g.eastDeg}, {g.southDeg, g.northDeg}};
  for (const auto& [from, to] : ranges) {
    const double steps = (to - from) / g.stepDeg;
    // Beyond this many steps per side the node count is refused below anyway.
    if (steps > static_cast<double>(kMaxGridPoints)) {
      return CFormat("The grid of points has more than %lld nodes, the most a run may have: a step of %.10g degrees "
                     "is too fine for %.10g to %.10g degrees.",
                     static_cast<long long>(kMaxGridPoints), g.stepDeg, from, to);
    }
    if (std::fabs(std::round(steps) * g.stepDeg - (to - from)) > kGridStepSlackDeg) {
      return CFormat("The step of %.10g degrees does not divide the range from %.10g to %.10g degrees of the grid of "
                     "points into whole steps.",
                     g.stepDeg, from, to);
    }
  }
  const std::int64_t columns = GridColumns(g);
  const std::int64_t rows = GridRows(g);
  if (columns * rows > kMaxGridPoints) {
    return CFormat("The grid of points has %lld x %lld nodes, more than the %lld a run may have.",
                   static_cast<long long>(columns), static_cast<long long>(rows),
                   static_cast<long long>(kMaxGridPoints));
  }
  if (!std::isfinite(g.heightM)) {
    return CFormat("The height of the grid of points must be a finite number of metres, not %.10g.", g.heightM);
  }
  return std::nullopt;
}

TCalcPoint GridNode(const TPointGrid& grid, std::int64_t index) {
  const std::int64_t columns = GridColumns(grid);
  const std::int64_t row = index / columns;
  const std::int64_t column = index % columns;
  TCalcPoint point;
  point.lambda = NodeCoordinate(grid.westDeg, grid.eastDeg, column, columns - 1);
  point.phi = NodeCoordinate(grid.southDeg, grid.northDeg, row, GridRows(grid) - 1);
  point.pointNumber = static_cast<double>(index + 1);
  point.height = grid.heightM;
  return point;
}

}  // namespace globelayers

#include "GridReach.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <utility>
#include <vector>

#include "GridMeans.h"

namespace globelayers {
namespace {

constexpr double kDegToRadReach = 0.017453292519943295;  // radians per degree
// A segment's centre lies strictly inside its band's outer distance; the
// reach is widened a little all the same, by this share and this many
// degrees, so that rounding in the centres' positions never leaves it.
constexpr double kReachShare = 1e-6;  // no unit
constexpr double kReachDeg = 1e-6;    // degrees (about 0.1 m)
constexpr int kMarginNodes = 2;       // nodes beyond the cell of the outermost position

// The nodes from lo to hi degrees along an axis whose node i lies at
// first + i * step degrees (step of either sign), cut to the count's cells:
// a range beyond the axis keeps its edge cell.
void AxisNodes(double lo, double hi, double first, double step, int count, std::int64_t& from, std::int64_t& to) {
  const double a = (lo - first) / step, b = (hi - first) / step;  // node numbers, no unit
  const double low = std::floor(std::min(a, b)) - kMarginNodes;
  const double high = std::ceil(std::max(a, b)) + kMarginNodes;
  from = std::int64_t(std::clamp(low, 0.0, double(count - 2)));
  to = std::int64_t(std::clamp(high, double(from + 1), double(count - 1)));
}

// The columns of `g` that the sampler reads for longitudes west .. east
// (degrees, less than a turn apart): a longitude beside the file that one
// turn brings onto it is read there; one that no turn brings onto it takes
// the edge cell. Every part that meets the file adds its columns.
void ColumnsWithin(const TGridImports& g, double west, double east, std::int64_t& column0, std::int64_t& columnLast) {
  const double fileWest = std::min(g.xMin, g.xMax), fileEast = std::max(g.xMin, g.xMax);  // degrees
  column0 = g.nx;
  columnLast = -1;
  const auto add = [&](double lo, double hi) {
    std::int64_t from = 0, to = 0;
    AxisNodes(lo, hi, g.xMin, g.xStep, g.nx, from, to);
    column0 = std::min(column0, from);
    columnLast = std::max(columnLast, to);
  };
  for (const double turn : {0.0, -360.0, 360.0}) {
    const double lo = std::max(west + turn, fileWest), hi = std::min(east + turn, fileEast);
    if (lo <= hi) add(lo, hi);
  }
  // Longitudes west of the file that a turn east leaves beyond it, and the
  // other way round: extrapolated from the edge cells.
  if (west < fileWest && std::min(east, fileWest) > fileEast - 360) add(fileWest, fileWest);
  if (east > fileEast && std::max(west, fileEast) < fileWest + 360) add(fileEast, fileEast);
}

}  // namespace

bool CoversGlobe(const TGridImports& g) {
  const double dx = std::fabs(g.xStep), dy = std::fabs(g.yStep);  // degrees
  // A window's file: the rule is the file's, however little of it was read.
  const double x0 = g.windowed() ? g.fileXMin : g.xMin, y0 = g.windowed() ? g.fileYMin : g.yMin;  // degrees
  const double x1 = g.windowed() ? x0 + (g.fileNx - 1) * g.xStep : g.xMax;                       // degrees
  const double y1 = g.windowed() ? y0 + (g.fileNy - 1) * g.yStep : g.yMax;                       // degrees
  const double south = std::min(y0, y1), north = std::max(y0, y1);  // degrees
  return std::fabs(x1 - x0) >= 360 - dx * (1 + kReachShare) && south <= -90 + dy * (0.5 + kReachShare) &&
         north >= 90 - dy * (0.5 + kReachShare);
}

bool BandReadsGrid(const TZone& zone, const std::vector<const TGridImports*>& list, std::size_t n) {
  if (n + 1 >= list.size()) return true;
  const double spacing = 3600 * std::min(std::fabs(list[n]->xStep), std::fabs(list[n]->yStep));  // arc-seconds
  if (!(zone.segmentSizeArcSec >= kSkipSpacings * spacing)) return true;
  for (std::size_t m = n + 1; m < list.size(); ++m) {
    const double coarse = 3600 * std::min(std::fabs(list[m]->xStep), std::fabs(list[m]->yStep));  // arc-seconds
    if (CoversGlobe(*list[m]) && coarse <= zone.segmentSizeArcSec) return false;
  }
  return true;
}

double ExtentDiameterDeg(const TGridImports& g) {
  constexpr double kFullDeg = 180;  // degrees
  const double dx = std::fabs(g.xStep), dy = std::fabs(g.yStep);  // degrees
  // A window's file: its first node and node counts.
  const double x0 = g.windowed() ? g.fileXMin : g.xMin, y0 = g.windowed() ? g.fileYMin : g.yMin;  // degrees
  const double x1 = g.windowed() ? x0 + (g.fileNx - 1) * g.xStep : g.xMax;                       // degrees
  const double y1 = g.windowed() ? y0 + (g.fileNy - 1) * g.yStep : g.yMax;                       // degrees
  const double west = std::min(x0, x1) - dx, east = std::max(x0, x1) + dx;                      // degrees
  const double south = std::max(-90.0, std::min(y0, y1) - dy), north = std::min(90.0, std::max(y0, y1) + dy);
  if (!(east - west < kFullDeg) || !(north >= south)) return kFullDeg;
  // Within half a turn of longitude no antipode of a position lies inside,
  // so the farthest pair lies on the edges: sampled along them, and widened
  // by the sampling step.
  constexpr int kSteps = 64;  // samples per edge, no unit
  std::vector<std::pair<double, double>> edge;  // latitude, longitude in radians
  for (int i = 0; i <= kSteps; ++i) {
    const double t = double(i) / kSteps;
    const double lon = west + t * (east - west), lat = south + t * (north - south);  // degrees
    for (const auto& [a, b] : {std::pair{south, lon}, std::pair{north, lon}, std::pair{lat, west}, std::pair{lat, east}})
      edge.emplace_back(a * kDegToRadReach, b * kDegToRadReach);
  }
  double widest = 0;  // radians
  for (const auto& [latA, lonA] : edge) {
    for (const auto& [latB, lonB] : edge) {
      const double s1 = std::sin(0.5 * (latB - latA)), s2 = std::sin(0.5 * (lonB - lonA));
      const double h = s1 * s1 + std::cos(latA) * std::cos(latB) * s2 * s2;
      widest = std::max(widest, 2 * std::asin(std::min(1.0, std::sqrt(h))));
    }
  }
  const double stepDeg = std::max(east - west, north - south) / kSteps;  // degrees
  // Rounded up to two digits, for bounds that read well in a run log.
  const double reach = widest / kDegToRadReach + stepDeg;            // degrees
  // Divided by a power of ten rather than multiplied by its inverse, so
  // that 1.4 comes out as the double nearest 1.4.
  const double scale = std::pow(10.0, 1 - std::floor(std::log10(reach)));  // per degree
  return std::min(kFullDeg, std::ceil(reach * scale) / scale);
}

std::vector<TPresetSpacing> PresetSpacings(const std::vector<std::vector<const TGridImports*>>& lists) {
  std::vector<TPresetSpacing> spacings;
  for (const auto& list : lists) {
    for (std::size_t n = 0; n < list.size(); ++n) {
      const TGridImports& g = *list[n];
      const bool everywhere = n + 1 == list.size() || CoversGlobe(g);
      spacings.push_back({.spacingArcSec = FinerSpacingArcSec(g), .reachDeg = everywhere ? 180 : ExtentDiameterDeg(g)});
    }
  }
  return spacings;
}

void TStationArea::Add(double latDeg, double lonDeg) {
  ++b_.count;
  if (!std::isfinite(latDeg) || !std::isfinite(lonDeg) || std::fabs(latDeg) > 90 || std::fabs(lonDeg) > 1e6) {
    b_.anywhere = true;
    return;
  }
  b_.latMin = std::min(b_.latMin, latDeg);
  b_.latMax = std::max(b_.latMax, latDeg);
  double a = std::fmod(lonDeg, 360.0);  // -360 .. 360
  if (a >= 180) a -= 360;
  if (a < -180) a += 360;
  const double b = a < 0 ? a + 360 : a;
  b_.westA = std::min(b_.westA, a);
  b_.eastA = std::max(b_.eastA, a);
  b_.westB = std::min(b_.westB, b);
  b_.eastB = std::max(b_.eastB, b);
}

TNodeWindow TStationArea::WindowOf(const TGridImports& g, double psiDeg) const {
  const TNodeWindow whole{.column0 = 0, .columns = g.nx, .row0 = 0, .rows = g.ny};
  const double reach = psiDeg * (1 + kReachShare) + kReachDeg;  // degrees
  if (b_.count == 0 || b_.anywhere || !(reach < 180)) return whole;

  // Rows: the stations' latitudes widened by the reach.
  const double south = b_.latMin - reach, north = b_.latMax + reach;  // degrees
  std::int64_t row0 = 0, rowLast = 0;
  AxisNodes(std::max(south, -90.0), std::min(north, 90.0), g.yMin, g.yStep, g.ny, row0, rowLast);

  // Columns: every longitude where the reach holds a pole or comes round;
  // else the stations' longitudes (the narrower of the two ways of counting
  // them) widened by the widest cap, that of the station nearest a pole.
  std::int64_t column0 = 0, columnLast = g.nx - 1;
  const double nearestPole = std::max(std::fabs(b_.latMin), std::fabs(b_.latMax));  // degrees
  const double capSine = std::sin(reach * kDegToRadReach) / std::cos(nearestPole * kDegToRadReach);
  if (south > -90 && north < 90 && capSine < 1) {
    const double halfWidth = std::asin(capSine) / kDegToRadReach * (1 + kReachShare) + kReachDeg;  // degrees
    const bool countA = b_.eastA - b_.westA <= b_.eastB - b_.westB;
    const double west = (countA ? b_.westA : b_.westB) - halfWidth, east = (countA ? b_.eastA : b_.eastB) + halfWidth;
    if (east - west < 360) ColumnsWithin(g, west, east, column0, columnLast);
  }
  return {.column0 = std::int32_t(column0), .columns = std::int32_t(columnLast - column0 + 1),
          .row0 = std::int32_t(row0), .rows = std::int32_t(rowLast - row0 + 1)};
}

}  // namespace globelayers

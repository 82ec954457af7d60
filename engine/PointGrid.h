// A regular grid of computation points in place of a point file: nodes
// from the west to the east edge and from the south to the north edge at
// one step, at a constant height or at a height above the top of the first
// layer. Each front end builds it where its text enters (settings/RunSetup.h);
// the engine walks it node by node and never holds it as a list.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "PointFile.h"

namespace globelayers {

// The most nodes a grid of points may have: beyond it a run of the
// smallest stack would take days and its raster would not fit in memory.
inline constexpr std::int64_t kMaxGridPoints = 100'000'000;

// How far a step may miss dividing an edge-to-edge range, degrees: the
// result file prints coordinates to a millionth of a degree.
inline constexpr double kGridStepSlackDeg = 1e-6;

struct TPointGrid {
  double westDeg = 0;    // degrees of longitude, first column
  double eastDeg = 0;    // degrees of longitude, last column, above westDeg, at most one turn away
  double southDeg = 0;   // degrees of latitude, first row, -90..90
  double northDeg = 0;   // degrees of latitude, last row, above southDeg, -90..90
  double stepDeg = 0;    // degrees between neighbouring nodes, both ways
  double heightM = 0;    // metres: the nodes' height, or their height above the first layer's top
  bool aboveSurface = false;  // flag (no unit): heightM counts from the top of the first layer at each node
  bool geotiff = false;       // flag (no unit): a GeoTIFF is written beside the netCDF
  bool operator==(const TPointGrid&) const = default;
};

// Nodes along a parallel and along a meridian; meaningful once
// CheckPointGrid passed.
std::int64_t GridColumns(const TPointGrid& grid);
std::int64_t GridRows(const TPointGrid& grid);

// Why no run can use the grid, naming the value at fault: an edge that is
// not finite, an empty or inverted range, a latitude beyond a pole, more
// than one turn of longitude, a step that does not divide a range to a
// millionth of a degree, more than kMaxGridPoints nodes, a height that is
// not finite.
std::optional<std::string> CheckPointGrid(const TPointGrid& grid);

// Node `index` (from 0), row by row from the south-west corner, each row
// from west to east. Its point number is index + 1 and its height heightM
// (the caller adds the surface for aboveSurface). Edges are met exactly:
// the last column lies on eastDeg and the last row on northDeg.
TCalcPoint GridNode(const TPointGrid& grid, std::int64_t index);

}  // namespace globelayers

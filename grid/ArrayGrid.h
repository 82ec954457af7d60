// A grid handed over as values in memory (a numpy array of the Python
// module) instead of a file: the same TGridImports as a file reader makes
// from the same nodes, so the sampler gives the same bits. Bounds are the
// outer nodes' positions and the spacings follow from them as a Surfer
// file's do; the values become floats by the readers' one rule (a value
// that is no finite float, NaN included, is a blank, and so is a value at
// or above Surfer's blank value, as in a Surfer 6 file).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "GridImports.h"

namespace globelayers {

// The most nodes each way an array may give: the GDAL reader's bound.
inline constexpr std::int64_t kMaxArrayNodes = 2147483647;

// Row-major values, row 0 at yMin: node (ix, iy) at values[iy * nx + ix].
struct TArrayGridValues {
  std::span<const double> values;
  std::int64_t nx = 0;   // columns, 2 .. kMaxArrayNodes
  std::int64_t ny = 0;   // rows, 2 .. kMaxArrayNodes
  double xMin = 0;       // degrees of longitude, column 0
  double xMax = 0;       // degrees of longitude, column nx-1, above xMin
  double yMin = 0;       // degrees of latitude, row 0
  double yMax = 0;       // degrees of latitude, row ny-1, above yMin
};

// Fills `grid` from `array`; `name` (no unit) names the grid in the
// message. Returns why the array cannot be a grid (too few nodes, values
// that do not match the counts, bounds that are not finite or not
// increasing), and then leaves `grid` unloaded.
std::optional<std::string> LoadArrayGrid(TGridImports& grid, const TArrayGridValues& array, const std::string& name);

}  // namespace globelayers

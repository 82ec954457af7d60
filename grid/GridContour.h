// The lines where a grid of values crosses a level, through GDAL's contour
// generator: the land and sea of the result map (the 0 m line of the first
// layer's top grid). A build without GDAL has none. No Qt.
#pragma once

#include <vector>

namespace globelayers {

struct TContourPoint {
  double lonDeg = 0, latDeg = 0;  // degrees
};
using TContourLine = std::vector<TContourPoint>;

// A north-up raster whose values sit at its cells' centres.
struct TContourRaster {
  int width = 0, height = 0;        // cells, at least 2 x 2
  const float* values = nullptr;    // row-major, row 0 the northernmost; NaN is blank
  double westEdgeDeg = 0;           // degrees of longitude: the west edge of the first column's cells
  double northEdgeDeg = 0;          // degrees of latitude: the north edge of the first row's cells
  double cellWidthDeg = 0;          // degrees of longitude per cell, > 0
  double cellHeightDeg = 0;         // degrees of latitude per cell, > 0
};

// At most this many cells are contoured (bytes: four per cell, twice):
// callers contour a decimated copy of a large grid.
inline constexpr long long kMaxContourCells = 16LL << 20;

// Whether this build draws contours.
bool ContourLinesAvailable();

// The lines along which the raster crosses `level` (in the values' unit),
// between cell centres, never through a blank. Empty without GDAL, for a
// raster out of bounds, or when GDAL fails (the map simply goes without).
std::vector<TContourLine> ContourLines(const TContourRaster& raster, double level);

}  // namespace globelayers

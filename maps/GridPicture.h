// What a grid file holds, for a picture of it: the facts a user checks
// (extent, node counts, spacing, value range, share of blanks) and a small
// raster of it, north up. Grids are read with the readers of a run (same
// rules, same messages); what they would have told the user is kept as text
// instead of being shown, so that a picture never pops up a message.
#pragma once

#include <cstdint>
#include <ctime>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "GridContour.h"
#include "GridImports.h"

namespace globelayers {

struct TGridFacts {
  TGridFormat format = TGridFormat::kNone;  // the file's format, as the grid was loaded
  int nx = 0, ny = 0;   // node counts: columns (longitude), rows (latitude)
  double xMinDeg = 0, xMaxDeg = 0, xStepDeg = 0;  // longitude of the first and last column, spacing
  double yMinDeg = 0, yMaxDeg = 0, yStepDeg = 0;  // latitude of the first and last row, spacing
  double minValue = 0, maxValue = 0;  // over the nodes that are not blank, in the grid's unit
  double blankShare = 0;              // blank nodes / all nodes, 0 to 1
};

// The grid sampled onto at most maxSide x maxSide cells, row 0 the
// northernmost: cell (col, row) takes the nearest node. A blank is NaN.
struct TGridRaster {
  int width = 0, height = 0;
  std::vector<float> values;  // row-major, row 0 north
  float at(int col, int row) const { return values[std::size_t(row) * width + col]; }
};

struct TGridPicture {
  bool ok = false;
  TGridFault fault = TGridFault::kNone;  // why not, when !ok
  std::string message;  // the readers' messages when !ok
  TGridFacts facts;
  TGridRaster raster;
};

TGridFacts FactsOf(const TGridImports& grid);
TGridRaster RasterOf(const TGridImports& grid, int maxSide);

// The facts as a few short lines for a caption or a tooltip.
std::string FactsText(const TGridFacts& facts);

// Reads `fileName` with LoadGrid; the raster has at most maxSide cells a side.
TGridPicture ReadGridPicture(const std::string& fileName, int maxSide);

// The raster's value under longitude/latitude, the nearest cell; NaN off the
// grid and on a blank. A longitude off the grid is tried again 360 degrees
// east and west, for grids and stations that count longitudes differently.
float RasterValueAt(const TGridRaster& raster, const TGridFacts& facts, double lonDeg, double latDeg);

// The same, interpolated bilinearly between the four cells around the
// place; the nearest cell where one of them is blank.
float RasterValueSmooth(const TGridRaster& raster, const TGridFacts& facts, double lonDeg, double latDeg);

// The raster's 0 line (the coast of a height grid) in degrees as the grid
// counts them: contoured on the picture's small raster, so that a global
// grid of any resolution costs the same bounded memory and time. Empty
// without GDAL.
std::vector<TContourLine> ZeroLineOf(const TGridRaster& raster, const TGridFacts& facts);

// Shaded relief of the raster: brightness 0 (dark) to 1 per cell under a
// light from the north-west, 45 degrees high; slopes are scaled by their
// typical size, so that flat lowlands and mountains both show. NaN stays NaN.
std::vector<float> ShadeRelief(const TGridRaster& raster);

// Grid pictures read once per file and kept while the file keeps its
// modification time and size; at most `capacity` of them, the least
// recently used going first. Safe to share between threads.
class TGridPictureCache {
 public:
  explicit TGridPictureCache(std::size_t capacity = 16, int maxSide = 256)
      : capacity_(capacity), maxSide_(maxSide) {}
  std::shared_ptr<const TGridPicture> Get(const std::string& fileName);
  // Files read from disk so far (not taken from the cache).
  int Reads() const { return reads_; }

 private:
  struct TEntry {
    std::string fileName;
    std::int64_t modifiedNs = 0;
    std::uint64_t sizeBytes = 0;
    std::shared_ptr<const TGridPicture> picture;
  };
  std::size_t capacity_;
  int maxSide_;
  int reads_ = 0;
  std::mutex mutex_;
  std::list<TEntry> entries_;  // most recently used first
};

}  // namespace globelayers

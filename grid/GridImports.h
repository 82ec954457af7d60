// One geographic grid in memory, and the readers that load it from the three
// binary grid formats (Surfer 7 "DSRB", Surfer 6 "DSBB", Geosoft 16-bit) and,
// in a build with GDAL, from any other raster that GDAL reads (GdalGrid.h).
//
// Orientation: node (ix, iy) lies at x = xMin + ix*xStep (longitude, degrees)
// and y = yMin + iy*yStep (latitude, degrees); row 0 is the row at yMin, which
// every format stores first. Values are 32-bit floats in one column-major
// buffer: node (ix, iy) at index ix*ny + iy, read through at(ix, iy).
// Blank nodes keep their marker value (about 1.70141e38); a value that is
// not a finite float (NaN, an infinity) is a blank stored as kBlankMarker.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory_resource>
#include <string>
#include <vector>

#include "UserPrompts.h"

namespace globelayers {

// What a blank holds: Surfer's blank value 1.70141e38 rounded to float
// (1.70141001e38, the least float above that double, so the marker is a
// blank by a Surfer 6 grid's blankValue too). The readers store it for every
// blank they make up (a value that is no finite float, a Geosoft blank
// integer); the sampler returns it, widened, for a sample that a blank node
// takes part in. Only comparisons with kBlankThreshold read it: no printed
// number depends on its digits.
inline constexpr float kBlankMarker = 1.70141e38f;

// Where blanks begin for the engine (the readers count blanks against each
// file's blankValue instead). A grid node at or above it is blank
// (InterpolateCell); a sampled elevation or density strictly above it drops
// its segment (the point evaluations). The two tests stay as they are: for a
// node, a float, they agree, as no float equals this double (the nearest are
// 9.99999968e37 and 1.00000007e38); a sample is a double and could be
// exactly 1e38, which then counts as a value.
inline constexpr double kBlankThreshold = 1e38;
static_assert(double{kBlankMarker} > kBlankThreshold, "a stored marker must be blank to both tests");

inline constexpr std::uint8_t kGdalRasterFormat = 4;  // fileFormat of a raster read by GDAL

struct TGridImports {
  // 0 Surfer 7, 1 Surfer 6, 2 Geosoft 16-bit, 3 nothing loaded, 4 a raster read by GDAL
  std::uint8_t fileFormat = 3;
  // Column-major: node (ix, iy) at ix * ny + iy. From the heap, or from a
  // memory resource that the caller gave the vector (memory shared by the
  // processes of a machine).
  std::pmr::vector<float> values;
  double blankValue = 0;        // a value at or above it is a blank node
  std::int32_t blankCount = 0;  // blank nodes found while reading
  // Node counts: 2 .. 32767 from the native formats, 2 .. 2^31 - 1 from GDAL
  // (a 30-arc-second global grid has 43201 x 21601 nodes).
  std::int32_t nx = 0;          // columns (x, longitude)
  std::int32_t ny = 0;          // rows (y, latitude)
  double xMin = 0, xMax = 0, xRange = 0, xStep = 0;  // x of column 0 / nx-1, spacing
  double yMin = 0, yMax = 0, yRange = 0, yStep = 0;  // y of row 0 / ny-1, spacing
  double zMin = 0, zMax = 0, zRange = 0;             // value range

  float at(int ix, int iy) const { return values[std::size_t(ix) * std::size_t(ny) + std::size_t(iy)]; }
  float& at(int ix, int iy) { return values[std::size_t(ix) * std::size_t(ny) + std::size_t(iy)]; }
  bool loaded() const { return fileFormat <= 2 || fileFormat == kGdalRasterFormat; }
};

// Tries Surfer 7, Surfer 6 and Geosoft in this order, then (in a build with
// GDAL) GDAL for a file that none of them recognised by its first bytes, or
// for a GDAL subdataset name such as NETCDF:"file.nc":z. True when one of
// them loaded the file; otherwise fileFormat is 3 and the grid must not be
// sampled. Problems are reported through `prompts`: "Error by opening file
// %s\n" once per native reader for a file that cannot be opened or is not a
// regular file, "\nError by reading grid %s" once for a file that is
// truncated, whose header does not make a usable grid, or that no reader
// opens; a raster that GDAL opens but that cannot be used gets the same
// message with the reason on a line of its own after it.
bool LoadGrid(TGridImports& grid, const std::string& fileName, IUserPrompts& prompts);

// Each returns 0 when it loaded the grid, 1 when it did not (silently when the
// file is not of its format).
int ReadSurfer7Grid(TGridImports& grid, const std::string& fileName, IUserPrompts& prompts);
int ReadSurfer6Grid(TGridImports& grid, const std::string& fileName, IUserPrompts& prompts);
int ReadGeosoftGrid(TGridImports& grid, const std::string& fileName, IUserPrompts& prompts);

// Geometry completion, then AllocateValues.
void StepsFromBounds(TGridImports& grid);  // bounds known, spacings computed
void BoundsFromSteps(TGridImports& grid);  // spacings known, bounds computed
void AllocateValues(TGridImports& grid);   // nx*ny floats

}  // namespace globelayers

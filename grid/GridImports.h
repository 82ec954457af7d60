// One geographic grid in memory, and the readers that load it from the three
// binary grid formats (Surfer 7 "DSRB", Surfer 6 "DSBB", Geosoft 16-bit) and,
// in a build with GDAL, from any other raster that GDAL reads (GdalGrid.cpp).
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
#include <functional>
#include <memory_resource>
#include <span>
#include <string>
#include <vector>

#include "GridFaults.h"
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

// The format a grid was loaded from. The numbers are those of the grid
// record's 8-bit format field, which the MPI front end ships between ranks.
enum class TGridFormat : std::uint8_t {
  kSurfer7 = 0,     // Surfer 7 binary, "DSRB"
  kSurfer6 = 1,     // Surfer 6 binary, "DSBB"
  kGeosoft16 = 2,   // Geosoft binary, 16-bit integers
  kNone = 3,        // nothing loaded: no reader loaded the file
  kGdalRaster = 4,  // a raster read through GDAL
  kArray = 5,       // values handed over in memory (ArrayGrid.h), never shipped between ranks
};

struct TGridImports {
  TGridFormat fileFormat = TGridFormat::kNone;
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
  // A window of a larger file (LoadGridWindow): the file's first node,
  // degrees, its node counts, and the window's first column and row in it.
  // The sampler places nodes from the file's first node, so that a window
  // gives the same bits as the whole file; nx, ny and the bounds above are
  // the window's. fileNx = 0 for a grid read whole.
  double fileXMin = 0, fileYMin = 0;
  std::int32_t fileNx = 0, fileNy = 0;
  std::int32_t column0 = 0, row0 = 0;

  bool windowed() const { return fileNx != 0; }
  float at(int ix, int iy) const { return values[std::size_t(ix) * std::size_t(ny) + std::size_t(iy)]; }
  float& at(int ix, int iy) { return values[std::size_t(ix) * std::size_t(ny) + std::size_t(iy)]; }
  bool loaded() const { return fileFormat != TGridFormat::kNone; }
};

// Opens the file once and reads it with the format its first bytes show:
// Surfer 7, Surfer 6 or Geosoft, or (in a build with GDAL) GDAL for a file
// that none of them knows, and for a GDAL subdataset name such as
// NETCDF:"file.nc":z. On success fileFormat says which; otherwise it is
// kNone and the grid must not be sampled. A fault is reported through
// `prompts` once, with its message (GridFaultMessage), and returned; a
// load given up for a stop request says nothing.
TGridLoad LoadGridFile(TGridImports& grid, const std::string& fileName, IUserPrompts& prompts);

// Which nodes of a file to read: columns column0 .. column0 + columns - 1
// and rows row0 .. row0 + rows - 1 (row 0 at yMin, as in the grid).
struct TNodeWindow {
  std::int32_t column0 = 0, columns = 0;
  std::int32_t row0 = 0, rows = 0;
};

// Chooses the window from a file's geometry: nx, ny, bounds and spacings
// filled, no values yet. A window is cut to the file and to at least 2 x 2
// nodes; one that covers the file reads it whole, as LoadGridFile does.
using TWindowChooser = std::function<TNodeWindow(const TGridImports& geometry)>;

// LoadGridFile reading only the window that `choose` picks: offset reads of
// the native formats' rows and columns, a GDAL RasterIO window rounded out
// to whole blocks of the file. The fence and the stop request apply as to a
// whole read. An empty chooser reads the whole file.
TGridLoad LoadGridWindow(TGridImports& grid, const std::string& fileName, IUserPrompts& prompts,
                         const TWindowChooser& choose);

// The overviews of a file that GDAL reads (reduced copies of its grid over
// the same extent, as `gdaladdo` makes them): their geometries, nx, ny,
// bounds and spacings, no values; in the file's order, finest first. Empty
// for a file of the native formats, one without overviews and one that
// does not load.
std::vector<TGridImports> GridOverviews(const std::string& fileName);

// LoadGridWindow reading overview `overview` of the file (counted from 0,
// as GridOverviews lists them) instead of its grid: its nodes are the
// overview's pixel centres, its values pass the file's NoData, scale and
// offset as the grid's do.
TGridLoad LoadGridOverview(TGridImports& grid, const std::string& fileName, IUserPrompts& prompts, int overview,
                           const TWindowChooser& choose);

// The same, true when the grid loaded.
bool LoadGrid(TGridImports& grid, const std::string& fileName, IUserPrompts& prompts);

// One format each, for callers that know it: 0 when it loaded the grid, 1
// when it did not (silently when the file is not of its format). A file
// that cannot be opened, or one of the format that cannot be used, is
// reported as by LoadGrid.
int ReadSurfer7Grid(TGridImports& grid, const std::string& fileName, IUserPrompts& prompts);
int ReadSurfer6Grid(TGridImports& grid, const std::string& fileName, IUserPrompts& prompts);
int ReadGeosoftGrid(TGridImports& grid, const std::string& fileName, IUserPrompts& prompts);

// The same readers over any source of bytes (GridSource.h): each starts at
// offset 0 of `source`; `fileName` is used only in messages.
class IGridSource;
int ReadSurfer7Grid(TGridImports& grid, IGridSource& source, const std::string& fileName,
                    IUserPrompts& prompts);
int ReadSurfer6Grid(TGridImports& grid, IGridSource& source, const std::string& fileName,
                    IUserPrompts& prompts);
int ReadGeosoftGrid(TGridImports& grid, IGridSource& source, const std::string& fileName,
                    IUserPrompts& prompts);

// LoadGridFile over bytes in memory (the fuzzer, tests of every prefix of a
// file): the native formats with the same detection and messages, except
// that a buffer cannot fail to open.
TGridLoad LoadGridFromBytes(TGridImports& grid, std::span<const unsigned char> bytes,
                            const std::string& fileName, IUserPrompts& prompts);

// Geometry completion, then AllocateValues.
void StepsFromBounds(TGridImports& grid);  // bounds known, spacings computed
void BoundsFromSteps(TGridImports& grid);  // spacings known, bounds computed
void AllocateValues(TGridImports& grid);   // nx*ny floats

}  // namespace globelayers

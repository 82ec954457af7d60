// The formats a grid is read from, each as a way to recognise its files and
// a way to read them. One file per format (Surfer7Grid.cpp, Surfer6Grid.cpp,
// GeosoftGrid.cpp, and GdalGrid.cpp in a build with GDAL); GridImports.cpp
// holds the table and is the only caller. Internal to grid/.
#pragma once

#include <cstddef>
#include <span>
#include <string>

#include "GridFaults.h"
#include "GridImports.h"
#include "GridSource.h"

namespace globelayers {

// Bytes at the start of a file read once, before any format is chosen: a
// Geosoft header, the longest of the native formats' fixed headers.
inline constexpr std::size_t kGridHeaderBytes = 512;

// What a format's reader is given.
struct TGridInput {
  const std::string& name;                // the grid's name as the user gave it
  std::span<const unsigned char> header;  // its first bytes, fewer when it is shorter; empty when not opened
  IGridSource* source = nullptr;          // the opened file; null for a name that is read without opening
  const TWindowChooser* choose = nullptr;  // the nodes to read; null: all of them
  int overview = -1;                       // a GDAL overview, from 0 the finest; -1: the grid itself
};


// Each reader fills a grid of its own (which the caller hands over only on
// success) and leaves fileFormat alone. The native readers return kNone or
// kDamaged, also when a stop request ended the reading (the caller tells
// the two apart); exceptions (memory for the values) reach the caller.
bool IsSurfer7(std::span<const unsigned char> header);
TGridLoad ReadSurfer7(TGridImports& grid, const TGridInput& input);

bool IsSurfer6(std::span<const unsigned char> header);
TGridLoad ReadSurfer6(TGridImports& grid, const TGridInput& input);

bool IsGeosoft16(std::span<const unsigned char> header);
TGridLoad ReadGeosoft16(TGridImports& grid, const TGridInput& input);

#ifdef GLOBELAYERS_HAVE_GDAL
// True when `name` is no file but a GDAL subdataset name (DRIVER:"file":part
// or DRIVER:file:part) whose file is a readable regular file: read by GDAL
// without being opened as a file first.
bool NamesGdalSubdataset(const std::string& name);
// Any file that the native formats do not know.
bool IsGdalCandidate(std::span<const unsigned char> header);
// Band 1 of the raster `input.name`: kNone, kUnknownFormat when GDAL does
// not read it as a raster, or the fault and its reason when it makes no
// usable grid (GridFaults.h). No exception leaves it.
TGridLoad ReadGdalRaster(TGridImports& grid, const TGridInput& input);
// The number of overviews of band 1 of `name` (a GeoTIFF's own or its .ovr
// file's); 0 for a name that GDAL does not read or that the fence refuses.
int GdalOverviewCount(const std::string& name);
#endif

}  // namespace globelayers

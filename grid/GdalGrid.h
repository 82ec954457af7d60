// Rasters that the native readers do not know, read through GDAL: GeoTIFF,
// netCDF (GMT-style and CF), ESRI ASCII grids, ERDAS Imagine, VRT and every
// other raster format of the GDAL build. Only in a build with GDAL
// (GLOBELAYERS_HAVE_GDAL); LoadGrid calls it, nothing else needs to.
//
// A raster's nodes are its pixel centres: node ix of a row lies at
// gt[0] + (ix + 0.5) * gt[1] degrees of longitude. Rows that GDAL gives from
// the north (gt[5] < 0) are turned round into the grid's south-first rows; a
// south-up raster (gt[5] > 0) keeps its order.
#pragma once

#include <string>

#include "GridImports.h"

namespace globelayers {

enum class TGdalLoad {
  kLoaded,     // the grid holds the raster
  kNotOpened,  // GDAL does not read it as a raster: not a grid of any known format
  kRefused,    // GDAL opened it, but it makes no usable grid: `reason` says why
};

struct TGdalOutcome {
  TGdalLoad status = TGdalLoad::kNotOpened;
  std::string reason;  // one line of plain English, for kRefused
};

// Reads band 1 of the raster `name` (a file, or a subdataset in GDAL's own
// syntax such as NETCDF:"file.nc":z). Every check that the header allows is
// made before the values are allocated; only on success is `grid` changed.
// No exception leaves it.
TGdalOutcome ReadGdalGrid(TGridImports& grid, const std::string& name);

// True when `name` is no file but a GDAL subdataset name (DRIVER:"file":part
// or DRIVER:file:part) whose file is a readable regular file.
bool NamesGdalSubdataset(const std::string& name);

// The file of a subdataset name, or `name` itself when it is none.
std::string GdalFilePart(const std::string& name);

}  // namespace globelayers

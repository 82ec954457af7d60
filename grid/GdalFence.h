// What GDAL may open for a grid: local files only, read by a short list of
// raster drivers, with nothing behind them that could block, fetch or
// explode. A grid name comes from a settings file or a run log that anyone
// may have sent; GDAL, given the chance, would follow it to a web server
// (/vsicurl/, WMS and other network drivers, a VRT source that is a URL), to
// the program's own standard input (/vsistdin/), into a FIFO that blocks for
// ever, or hand a damaged netCDF header to a library that allocates what
// the header claims.
#pragma once

#include <string>

namespace globelayers {

// The raster drivers a grid may be read by, as a null-terminated list for
// GDALOpenEx and GDALIdentifyDriverEx. None of them opens a network
// resource by itself.
const char* const* AllowedGridDrivers();

// The file part of a subdataset name DRIVER:"file":part or DRIVER:file:part,
// or `name` itself when it has no such form.
std::string SubdatasetFile(const std::string& name);

// Why `name` (a file, or a subdataset name DRIVER:"file":part, already
// split by the caller into its file `path`) may not be handed to GDAL;
// empty when it may. Looks at the name, at a classic netCDF header and at
// every source of a VRT, recursively. `path` must be a regular file (the
// caller checked it).
std::string GdalFenceRefusal(const std::string& name, const std::string& path);

// Why a classic netCDF file (CDF-1, CDF-2 or CDF-5) cannot be what its
// header says: a count, a name, an attribute or a variable larger than the
// file could hold. Empty when the header is sound or the file is no classic
// netCDF. Reads at most the header, with no allocation that the file's
// length does not bound.
std::string NetcdfHeaderRefusal(const std::string& path);

}  // namespace globelayers

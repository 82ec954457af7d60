// Why a grid did not load, beside the message the user is shown for it.
// Callers and tests look at the fault; the message texts live in one table
// (GridFaults.cpp) and nowhere else.
#pragma once

#include <cstdint>
#include <string>

namespace globelayers {

enum class TGridFault : std::uint8_t {
  kNone,           // loaded
  kNotOpened,      // the file cannot be opened, or is no regular file
  kUnknownFormat,  // no reader knows its first bytes (nor GDAL, in a build with it)
  kDamaged,        // of a known format, but truncated, or its header makes no usable grid
  kNoMemory,       // memory for its values could not be had (with GDAL, `reason` says how much)
  kStopped,        // given up for a stop request: no fault of the file, nothing is said
  // GDAL opened it, or would not, and it makes no usable grid; `reason` says why:
  kFenced,          // not handed to GDAL: it or a source of it is no local regular file, names a virtual
                    // file system, an address or a driver that grids are not read with, nests virtual
                    // rasters too deep, or holds a netCDF header that claims more than the file holds
  kOverclaimed,     // its header declares more nodes than its files hold
  kNoSingleRaster,  // it holds several rasters and none by itself, or no raster band
  kValueType,       // its values are of a type that is not read, or its scale or offset is not finite
  kGeometry,        // too few nodes, or a geotransform that places no grid of longitudes and latitudes
  kNotDegrees,      // a coordinate system other than longitude and latitude in degrees
  kTooLarge,        // its values need more memory than this computer has available
  kReadFailed,      // GDAL failed while its values were read
};

// The outcome of one load.
struct TGridLoad {
  TGridFault fault = TGridFault::kNone;
  std::string reason;  // one line of plain English, for the faults with GDAL
};

// What the user is told about `fault` of the grid `fileName`, with the
// reason on a line of its own after it when there is one; empty for kNone
// and kStopped. The name is inserted as it is: a '%' in it stays.
std::string GridFaultMessage(TGridFault fault, const std::string& fileName, const std::string& reason = {});

}  // namespace globelayers

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
  kNoMemory,       // memory for its values could not be had
  kRefused,        // GDAL opened it, but it makes no usable grid; `reason` says why
  kStopped,        // given up for a stop request: no fault of the file, nothing is said
};

// The outcome of one load.
struct TGridLoad {
  TGridFault fault = TGridFault::kNone;
  std::string reason;  // one line of plain English, for kRefused
};

// What the user is told about `fault` of the grid `fileName`, with the
// reason on a line of its own after it when there is one; empty for kNone
// and kStopped. The name is inserted as it is: a '%' in it stays.
std::string GridFaultMessage(TGridFault fault, const std::string& fileName, const std::string& reason = {});

}  // namespace globelayers

// Why a run was refused or failed, beside the message the user is shown for
// it. Callers and tests look at the fault (TCalcEngine::LastFault); the
// message texts live in one table (RunFaults.cpp) and nowhere else.
#pragma once

#include <cstdint>
#include <string>
#include <type_traits>

#include "NumberText.h"

namespace globelayers {

enum class TRunFault : std::uint8_t {
  None,  // completed or cancelled

  // The record's values, refused before any file is read or written.
  EarthRadius,      // not in (0, 1e9] metres
  GravityConstant,  // not finite
  Increment,        // not finite
  Azimuths,         // one not finite
  TooManyLayers,    // more than 15 layer rows
  TooFewLayers,     // fewer than 2 layer rows
  NoElevation,      // a row without a constant height or an elevation grid
  NoDensity,        // a row below the first without a constant density or a density grid
  CellSize,         // the window's one band gives no ring layout
  PointGrid,        // a grid of points that no run can use: CheckPointGrid's message
  NoRasterOutput,   // a grid of points in a build that cannot write rasters

  // A zone list, zone by zone (numbered from 1), then as a whole.
  TooManyZones,          // more than kMaxZones
  NoZones,               // an empty list
  ZoneNotFinite,         // a distance that is not finite
  ZoneOutsideRange,      // a distance outside 0 to 180 degrees
  ZoneEmpty,             // outer distance not above the inner one
  ZoneGap,               // a zone that starts beyond where the one before ends
  ZoneOverlap,           // a zone that starts before the one before ends
  ZoneSegmentSize,       // a segment size that is not positive and finite
  ZoneTooManyRings,      // more rings than a band may have
  ZoneTooNarrow,         // a part of the band narrower than one segment
  ZonesTooManySegments,  // the list's segments per point beyond the limit
  // The window's one band, and presets.
  ZoneTooManySegments,  // the band's segments per point beyond the limit
  UnknownPreset,        // a preset name that no preset has
  PresetZones,          // a preset's bands refused once the grids are known: the zone refusal after its name

  // Files and memory.
  PointFile,         // the point file cannot be counted: its own message (PointFile.h)
  PointFileLost,     // the point file, counted, does not open again
  GridNotLoaded,     // a grid did not load: the reader's message (GridFaults.h)
  MeansOutOfMemory,  // no memory for the block means
  ResultUnopened,    // the result file cannot be created
  ResultUnwritten,   // the result file did not take a line, or its end
  OutOfMemory,       // no memory while the points were evaluated
  PointFailed,       // a point or a worker threw: the exception's own text
};

// The printf format of `fault`'s message; nullptr for a fault whose message
// comes from elsewhere (None, PointFile, GridNotLoaded).
const char* RunFaultFormat(TRunFault fault);

// What the user is told about `fault`, its format filled with `values`
// (numbers, and C strings for names): the conversions of each format are
// listed beside it in RunFaults.cpp. Empty for a fault without a format.
template <typename... TValues>
std::string RunFaultMessage(TRunFault fault, TValues... values) {
  static_assert(((std::is_arithmetic_v<TValues> || std::is_same_v<TValues, const char*>) && ...),
                "a run fault's values are numbers or C strings");
  const char* format = RunFaultFormat(fault);
  if (format == nullptr) return {};
  if constexpr (sizeof...(TValues) == 0) {
    return format;
  } else {
    return CFormat(format, values...);
  }
}

// A refusal: the fault and the text shown for it.
struct TRunRefusal {
  TRunFault fault = TRunFault::None;
  std::string message;
};

}  // namespace globelayers

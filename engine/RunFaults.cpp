#include "RunFaults.h"

namespace globelayers {
namespace {

struct TFaultText {
  TRunFault fault;
  const char* format;  // printf; the values the refusing code passes are listed after it
};

// Every message of a run refused or failed in the engine, one per fault.
// Users and scripts know these texts, misspellings and line breaks
// included: they stay as they are.
constexpr TFaultText kFaultTexts[] = {
    {TRunFault::None, nullptr},
    // the largest radius accepted, the radius given (metres)
    {TRunFault::EarthRadius, "The Earth radius must be a positive number of metres, at most %.0e, not %.10g."},
    // the value given (metres for the increment)
    {TRunFault::GravityConstant, "The gravitational constant must be a finite number, not %.10g."},
    {TRunFault::Increment, "The increment must be a finite number of metres, not %.10g."},
    // azimuth from, to (degrees)
    {TRunFault::Azimuths, "The azimuths must be finite numbers of degrees, not %.10g to %.10g."},
    {TRunFault::TooManyLayers, "Number of layers must be less or equal 15"},
    {TRunFault::TooFewLayers, "Number of layers must be grater or equal 2"},
    // the row, from 1
    {TRunFault::NoElevation, "Layer %d: One of const height or grid height must be defined"},
    {TRunFault::NoDensity, "Layer %d: One of const density or grid density must be defined"},
    {TRunFault::CellSize, "Grid cell size must be greater then 1'"},
    {TRunFault::PointGrid, nullptr},
    {TRunFault::NoRasterOutput, nullptr},
    // the zones given, the most a run may have
    {TRunFault::TooManyZones, "The run has %zu zones, more than the %d a run may have."},
    {TRunFault::NoZones, "The run's zone list holds no zones."},
    // the zone (from 1), its inner and outer distance (degrees)
    {TRunFault::ZoneNotFinite, "Zone %d: the distances must be finite numbers of degrees, not %.10g to %.10g."},
    {TRunFault::ZoneOutsideRange, "Zone %d: the distances %.10g to %.10g degrees must lie within 0 to 180 degrees."},
    // the zone, its outer and inner distance (degrees)
    {TRunFault::ZoneEmpty,
     "Zone %d: its outer distance of %.10g degrees must be greater than its inner distance of %.10g degrees."},
    // the zone, its inner distance, the zone before, its outer distance (degrees)
    {TRunFault::ZoneGap,
     "Zone %d starts at %.10g degrees, but zone %d ends at %.10g degrees: the zones must join without a gap."},
    {TRunFault::ZoneOverlap,
     "Zone %d starts at %.10g degrees, but zone %d ends at %.10g degrees: the zones must not overlap."},
    // the zone, its segment size (arc-seconds)
    {TRunFault::ZoneSegmentSize,
     "Zone %d: the segment size must be a positive finite number of arc-seconds, not %.10g."},
    // the zone, its distances (degrees), the ring limit, its segment size (arc-seconds)
    {TRunFault::ZoneTooManyRings,
     "Zone %d (%.10g to %.10g degrees) needs more than %d rings at a segment size of %.10g arc-seconds: choose a "
     "larger segment size for it."},
    // the zone, its distances (degrees), its segment size (arc-seconds)
    {TRunFault::ZoneTooNarrow,
     "Zone %d (%.10g to %.10g degrees) would get no rings over part of its band at a segment size of %.10g "
     "arc-seconds: on each side of 90 degrees a zone must be at least one segment wide."},
    // the segments per point, the limit
    {TRunFault::ZonesTooManySegments,
     "The zones need %lld segments per point, more than the limit of %lld: choose larger segment sizes or a "
     "smaller azimuth range."},
    {TRunFault::ZoneTooManySegments,
     "The zone needs %lld segments per point, more than the limit of %lld: choose a larger segment size or a "
     "smaller azimuth range."},
    // the name given, the names of the presets
    {TRunFault::UnknownPreset, "Unknown zone preset '%s': the presets are %s."},
    // the preset's name, the zone refusal's message
    {TRunFault::PresetZones, "Zone preset %s: %s"},
    {TRunFault::PointFile, nullptr},
    // the point file's name
    {TRunFault::PointFileLost, "Error by opening file %s\n"},
    {TRunFault::GridNotLoaded, nullptr},
    {TRunFault::MeansOutOfMemory, "The calculation ran out of memory while forming the block means of the grids."},
    // the result file's name, after two spaces, as it always said
    {TRunFault::ResultUnopened, "Error by opening file  %s\n"},
    {TRunFault::ResultUnwritten, "Error by writing file %s\n"},
    {TRunFault::OutOfMemory, "The calculation ran out of memory."},
    // the exception's text
    {TRunFault::PointFailed, "%s"},
};

}  // namespace

const char* RunFaultFormat(TRunFault fault) {
  for (const TFaultText& entry : kFaultTexts) {
    if (entry.fault == fault) return entry.format;
  }
  return nullptr;
}

}  // namespace globelayers

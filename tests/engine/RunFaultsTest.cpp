// The messages of a refused or failed run, each text once: the tests of the
// run itself assert the fault and build the text from this table's formats.
#include "RunFaults.h"

#include <cmath>
#include <limits>
#include <string>

#include <gtest/gtest.h>

namespace globelayers {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

struct MessageCase {
  TRunFault fault;
  std::string message;  // RunFaultMessage with typical values
  const char* expected;
};

TEST(RunFaults, EveryMessageWithItsValues) {
  const MessageCase cases[] = {
      {TRunFault::EarthRadius, RunFaultMessage(TRunFault::EarthRadius, 1e9, 1e308),
       "The Earth radius must be a positive number of metres, at most 1e+09, not 1e+308."},
      {TRunFault::GravityConstant, RunFaultMessage(TRunFault::GravityConstant, kInf),
       "The gravitational constant must be a finite number, not inf."},
      {TRunFault::Increment, RunFaultMessage(TRunFault::Increment, kNaN),
       "The increment must be a finite number of metres, not nan."},
      {TRunFault::Azimuths, RunFaultMessage(TRunFault::Azimuths, 0.0, -kInf),
       "The azimuths must be finite numbers of degrees, not 0 to -inf."},
      {TRunFault::TooManyLayers, RunFaultMessage(TRunFault::TooManyLayers),
       "Number of layers must be less or equal 15"},
      {TRunFault::TooFewLayers, RunFaultMessage(TRunFault::TooFewLayers), "Number of layers must be grater or equal 2"},
      {TRunFault::NoElevation, RunFaultMessage(TRunFault::NoElevation, 2),
       "Layer 2: One of const height or grid height must be defined"},
      {TRunFault::NoDensity, RunFaultMessage(TRunFault::NoDensity, 3),
       "Layer 3: One of const density or grid density must be defined"},
      {TRunFault::CellSize, RunFaultMessage(TRunFault::CellSize), "Grid cell size must be greater then 1'"},
      {TRunFault::TooManyZones, RunFaultMessage(TRunFault::TooManyZones, std::size_t{1001}, 1000),
       "The run has 1001 zones, more than the 1000 a run may have."},
      {TRunFault::NoZones, RunFaultMessage(TRunFault::NoZones), "The run's zone list holds no zones."},
      {TRunFault::ZoneNotFinite, RunFaultMessage(TRunFault::ZoneNotFinite, 1, 0.0, kNaN),
       "Zone 1: the distances must be finite numbers of degrees, not 0 to nan."},
      {TRunFault::ZoneOutsideRange, RunFaultMessage(TRunFault::ZoneOutsideRange, 2, 10.0, 181.0),
       "Zone 2: the distances 10 to 181 degrees must lie within 0 to 180 degrees."},
      {TRunFault::ZoneEmpty, RunFaultMessage(TRunFault::ZoneEmpty, 3, 25.0, 30.0),
       "Zone 3: its outer distance of 25 degrees must be greater than its inner distance of 30 degrees."},
      // Ten significant digits: a gap of a rounding step still shows.
      {TRunFault::ZoneGap, RunFaultMessage(TRunFault::ZoneGap, 2, 0.1000000001, 1, 0.1),
       "Zone 2 starts at 0.1000000001 degrees, but zone 1 ends at 0.1 degrees: the zones must join without a gap."},
      {TRunFault::ZoneOverlap, RunFaultMessage(TRunFault::ZoneOverlap, 2, 9.0, 1, 10.0),
       "Zone 2 starts at 9 degrees, but zone 1 ends at 10 degrees: the zones must not overlap."},
      {TRunFault::ZoneSegmentSize, RunFaultMessage(TRunFault::ZoneSegmentSize, 2, -900.0),
       "Zone 2: the segment size must be a positive finite number of arc-seconds, not -900."},
      {TRunFault::ZoneTooManyRings, RunFaultMessage(TRunFault::ZoneTooManyRings, 2, 1.0, 180.0, 8640, 74.0),
       "Zone 2 (1 to 180 degrees) needs more than 8640 rings at a segment size of 74 arc-seconds: choose a larger "
       "segment size for it."},
      {TRunFault::ZoneTooNarrow, RunFaultMessage(TRunFault::ZoneTooNarrow, 2, 89.5, 180.0, 3600.0),
       "Zone 2 (89.5 to 180 degrees) would get no rings over part of its band at a segment size of 3600 "
       "arc-seconds: on each side of 90 degrees a zone must be at least one segment wide."},
      {TRunFault::ZonesTooManySegments,
       RunFaultMessage(TRunFault::ZonesTooManySegments, 1901227091LL, 1000000000LL),
       "The zones need 1901227091 segments per point, more than the limit of 1000000000: choose larger segment "
       "sizes or a smaller azimuth range."},
      {TRunFault::ZoneTooManySegments, RunFaultMessage(TRunFault::ZoneTooManySegments, 384399572814LL, 1000000000LL),
       "The zone needs 384399572814 segments per point, more than the limit of 1000000000: choose a larger "
       "segment size or a smaller azimuth range."},
      {TRunFault::UnknownPreset, RunFaultMessage(TRunFault::UnknownPreset, "regional", "standard, fine"),
       "Unknown zone preset 'regional': the presets are standard, fine."},
      {TRunFault::PresetZones,
       RunFaultMessage(TRunFault::PresetZones, "fine", "Zone 1: the distances must be finite numbers"),
       "Zone preset fine: Zone 1: the distances must be finite numbers"},
      // File names go in as they are: a '%' in one is no conversion.
      {TRunFault::PointFileLost, RunFaultMessage(TRunFault::PointFileLost, "/data/100%_points.dat"),
       "Error by opening file /data/100%_points.dat\n"},
      {TRunFault::MeansOutOfMemory, RunFaultMessage(TRunFault::MeansOutOfMemory),
       "The calculation ran out of memory while forming the block means of the grids."},
      {TRunFault::ResultUnopened, RunFaultMessage(TRunFault::ResultUnopened, "/data/points_dce.dat"),
       "Error by opening file  /data/points_dce.dat\n"},
      {TRunFault::ResultUnwritten, RunFaultMessage(TRunFault::ResultUnwritten, "/data/points_%s_dce.dat"),
       "Error by writing file /data/points_%s_dce.dat\n"},
      {TRunFault::OutOfMemory, RunFaultMessage(TRunFault::OutOfMemory), "The calculation ran out of memory."},
      {TRunFault::PointFailed, RunFaultMessage(TRunFault::PointFailed, "Could not start worker thread 3 of 8"),
       "Could not start worker thread 3 of 8"},
  };
  for (const MessageCase& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.fault));
    EXPECT_EQ(c.message, c.expected);
  }
}

// Faults whose message is another part's own: nothing to fill in here.
TEST(RunFaults, MessagesMadeElsewhereHaveNoFormat) {
  for (const TRunFault fault : {TRunFault::None, TRunFault::PointFile, TRunFault::GridNotLoaded, TRunFault::PointGrid,
                                TRunFault::NoRasterOutput}) {
    SCOPED_TRACE(static_cast<int>(fault));
    EXPECT_EQ(RunFaultFormat(fault), nullptr);
    EXPECT_EQ(RunFaultMessage(fault), "");
  }
}

}  // namespace
}  // namespace globelayers

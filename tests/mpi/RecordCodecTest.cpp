// The run record as the ranks send it: every field of the record is in the
// codec's list, and every value comes back as it was sent.
#include "RecordCodec.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <tuple>
#include <utility>
#include <variant>

#include <gtest/gtest.h>

namespace globelayers {
namespace {

// Converts to any field type: braces around N of them initialise an
// aggregate with at least N fields.
struct TAnyField {
  template <typename T>
  operator T() const;  // declared only: used in unevaluated braces
};

template <typename T, typename... Fields>
constexpr std::size_t AggregateFieldCount() {
  if constexpr (requires { T{Fields{}..., TAnyField{}}; }) {
    return AggregateFieldCount<T, Fields..., TAnyField>();
  } else {
    return sizeof...(Fields);
  }
}

// A field added to the record and not to the codec's list would never
// reach the other ranks, which would run with its default.
TEST(RecordCodec, ListsEveryFieldOfTheRecord) {
  EXPECT_EQ(RecordFieldCount(), AggregateFieldCount<TRunParameters>());
  EXPECT_EQ(ZoneFieldCount(), AggregateFieldCount<TZone>());
  EXPECT_EQ(SingleZoneFieldCount(), AggregateFieldCount<TSingleZone>());
  EXPECT_EQ(ZoneListFieldCount(), AggregateFieldCount<TZoneList>());
  EXPECT_EQ(ZonePresetFieldCount(), AggregateFieldCount<TZonePreset>());
  EXPECT_EQ(PointGridFieldCount(), AggregateFieldCount<TPointGrid>());
  EXPECT_EQ(LayerRowFieldCount(), AggregateFieldCount<TLayerRow>());
  EXPECT_EQ(LayerValueFieldCount(), AggregateFieldCount<TLayerValue>());
  EXPECT_EQ(StationBoundsFieldCount(), AggregateFieldCount<TStationBounds>());
  // A grid's values go through shared memory, every other field in its header.
  EXPECT_EQ(GridHeaderFieldCount(), AggregateFieldCount<TGridImports>() - 1);
}

// Every field away from its default, so that a field the reader skips or
// swaps shows.
TRunParameters EveryFieldSet() {
  TRunParameters p;
  p.dataFile = "/data/points é.dat";
  p.pointGrid = TPointGrid{.westDeg = -10.5, .eastDeg = 20, .southDeg = -5, .northDeg = 7.25, .stepDeg = 0.25,
                           .heightM = 1500.5, .aboveSurface = true, .geotiff = true};
  p.layers = {{.elevation = {.grids = {{"topo.grd"}}}},
              {.elevation = {.constant = 0.0}, .density = {.constant = 2.67}},
              {.elevation = {.constant = -1000.5, .grids = {{"moho.grd"}, {"moho2.grd"}}},
               .density = {.grids = {{"rho é.grd"}}}}};
  p.rowCount = 3;
  p.gravityConstant = 0.0066743;
  p.zone = TZoneList{{{0, 0.1, 15, false}, {0.1, 180, 3600, true}}};
  p.earthRadius = 6371000.5;
  p.appendText = "_run;2";
  p.azimuthFromDeg = 10;
  p.azimuthToDeg = 300;
  p.increment = 0;
  p.priority = TCrossingRule::BottomGrid;
  p.outputUnit = TOutputUnit::MicroGal;
  p.sumOnly = true;
  return p;
}

// Each way of giving the zone, every field away from its default.
const TZoneChoice kZones[] = {
    TSingleZone{.psiFromDeg = 0.25, .psiToDeg = 120.5, .segmentSizeArcSec = 900},
    TZoneList{{{0, 0.1, 15, false}, {0.1, 180, 3600, true}}},
    TZonePreset{"fine"},
};

TEST(RecordCodec, RoundTripKeepsEveryField) {
  for (const TZoneChoice& zone : kZones) {
    // With a grid of points and with the point file's points.
    for (const bool grid : {true, false}) {
      SCOPED_TRACE(testing::Message() << zone.index() << (grid ? " grid" : " point file"));
      TRunParameters sent = EveryFieldSet();
      sent.zone = zone;
      if (!grid) sent.pointGrid.reset();
      ASSERT_NE(sent, TRunParameters{});
      TWireWriter w;
      WriteRecord(w, sent);
      TWireReader r(w.bytes());
      EXPECT_EQ(ReadRecord(r), sent);
      EXPECT_TRUE(r.AtEnd());
    }
  }
}

// A message cut anywhere is refused, never read as a shorter record.
TEST(RecordCodec, MessageCutShortIsRefused) {
  for (const TZoneChoice& zone : kZones) {
    SCOPED_TRACE(zone.index());
    TRunParameters sent = EveryFieldSet();
    sent.zone = zone;
    TWireWriter w;
    WriteRecord(w, sent);
    for (std::size_t size = 0; size < w.bytes().size(); ++size) {
      const std::string cut = w.bytes().substr(0, size);
      TWireReader r(cut);
      EXPECT_THROW(ReadRecord(r), std::runtime_error) << size;
    }
  }
}

// A zone of a kind this build does not know is a damaged message, not the
// default zone.
TEST(RecordCodec, UnknownZoneKindIsRefused) {
  // Two records that differ in the zone's kind alone first differ in the
  // low byte of its index (this machine is little-endian, as every rank).
  TRunParameters single = EveryFieldSet();
  single.zone = TSingleZone{};
  TRunParameters preset = EveryFieldSet();
  preset.zone = TZonePreset{};
  TWireWriter a, b;
  WriteRecord(a, single);
  WriteRecord(b, preset);
  const auto [at, unused] = std::mismatch(a.bytes().begin(), a.bytes().end(), b.bytes().begin());
  ASSERT_NE(at, a.bytes().end());
  std::string damaged = b.bytes();
  const std::int64_t unknown = std::variant_size_v<TZoneChoice>;
  std::memcpy(damaged.data() + (at - a.bytes().begin()), &unknown, sizeof unknown);
  TWireReader r(damaged);
  EXPECT_THROW(ReadRecord(r), std::runtime_error);
}

// The other ranks read their windows round the area that rank 0 sends:
// the same area must come back, and so the same window of every grid.
TEST(RecordCodec, StationAreaRoundTripGivesTheSameWindows) {
  TStationArea survey;  // on both sides of the antimeridian, near the north pole
  for (const auto& [lat, lon] : {std::pair{62.5, 179.25}, {64.75, -178.5}, {61.125, -179.875}}) survey.Add(lat, lon);
  TStationArea lost = survey;  // a station at no finite position: whole grids
  lost.Add(std::nan(""), 10);
  TGridImports global;  // a 6' grid from 0 to 360 degrees of longitude
  global.nx = 3601, global.ny = 1801, global.xMin = 0, global.xMax = 360, global.xStep = 0.1;
  global.yMin = -90, global.yMax = 90, global.yStep = 0.1;
  const TStationArea* const areas[] = {&survey, &lost, nullptr};  // null: a run without stations
  for (const TStationArea* sent : areas) {
    const TStationArea area = sent != nullptr ? *sent : TStationArea{};
    SCOPED_TRACE(area.bounds().count);
    TWireWriter w;
    WriteStationArea(w, area);
    TWireReader r(w.bytes());
    const TStationArea read = ReadStationArea(r);
    EXPECT_TRUE(r.AtEnd());
    EXPECT_EQ(read.bounds(), area.bounds());
    EXPECT_EQ(read.empty(), sent == nullptr);
    for (const double reachDeg : {0.5, 3.0, 30.0}) {  // degrees
      const TNodeWindow want = area.WindowOf(global, reachDeg), got = read.WindowOf(global, reachDeg);
      EXPECT_EQ(std::tie(got.column0, got.columns, got.row0, got.rows),
                std::tie(want.column0, want.columns, want.row0, want.rows))
          << reachDeg;
    }
    for (std::size_t size = 0; size < w.bytes().size(); ++size) {
      const std::string cut = w.bytes().substr(0, size);
      TWireReader shortened(cut);
      EXPECT_THROW(ReadStationArea(shortened), std::runtime_error) << size;
    }
  }
  // The windows compared above are windows, not the whole grid.
  const TNodeWindow near = survey.WindowOf(global, 0.5);
  EXPECT_LT(near.columns, global.nx);
  EXPECT_LT(near.rows, global.ny);
}

// A window's place in its file travels with it: without it the node's
// other ranks would place the window's nodes at the file's first node.
TEST(RecordCodec, GridHeaderRoundTripKeepsTheWindowsPlace) {
  TGridImports sent;
  sent.fileFormat = TGridFormat::kGdalRaster;
  sent.blankValue = 1.70141e38;
  sent.blankCount = 17;
  sent.nx = 121, sent.ny = 81;
  sent.xMin = 86.25, sent.xMax = 86.75, sent.xRange = 0.5, sent.xStep = 1.0 / 240;
  sent.yMin = 27.75, sent.yMax = 27.4166, sent.yRange = -0.3333, sent.yStep = -1.0 / 240;
  sent.zMin = -12.5, sent.zMax = 8848.5, sent.zRange = 8861;
  sent.fileXMin = 86, sent.fileYMin = 28, sent.fileNx = 241, sent.fileNy = 241, sent.column0 = 60, sent.row0 = 60;
  sent.values.assign(5, 1.5f);  // not in the header
  TWireWriter w;
  WriteGridHeader(w, sent);
  TWireReader r(w.bytes());
  TGridImports read;
  ReadGridHeader(r, read);
  EXPECT_TRUE(r.AtEnd());
  EXPECT_TRUE(read.values.empty());
  EXPECT_TRUE(read.windowed());
  EXPECT_EQ(
      std::tie(read.fileFormat, read.blankCount, read.nx, read.ny, read.fileNx, read.fileNy, read.column0, read.row0),
      std::tie(sent.fileFormat, sent.blankCount, sent.nx, sent.ny, sent.fileNx, sent.fileNy, sent.column0, sent.row0));
  const double want[] = {sent.blankValue, sent.xMin, sent.xMax, sent.xRange, sent.xStep, sent.yMin, sent.yMax,
                         sent.yRange, sent.yStep, sent.zMin, sent.zMax, sent.zRange, sent.fileXMin, sent.fileYMin};
  const double got[] = {read.blankValue, read.xMin, read.xMax, read.xRange, read.xStep, read.yMin, read.yMax,
                        read.yRange, read.yStep, read.zMin, read.zMax, read.zRange, read.fileXMin, read.fileYMin};
  for (std::size_t k = 0; k < std::size(want); ++k) EXPECT_EQ(got[k], want[k]) << k;
}

TEST(RecordCodec, PointRoundTrip) {
  const TCalcPoint sent{.lambda = -179.5, .phi = 89.25, .pointNumber = 1234567, .height = -412.5};
  TWireWriter w;
  WritePoint(w, 41, sent);
  TWireReader r(w.bytes());
  long index = 0;
  const TCalcPoint read = ReadPoint(r, index);
  EXPECT_EQ(index, 41);
  EXPECT_EQ(read.lambda, sent.lambda);
  EXPECT_EQ(read.phi, sent.phi);
  EXPECT_EQ(read.pointNumber, sent.pointNumber);
  EXPECT_EQ(read.height, sent.height);
  EXPECT_TRUE(r.AtEnd());
}

}  // namespace
}  // namespace globelayers

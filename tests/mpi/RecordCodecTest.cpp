// The run record as the ranks send it: every field of the record is in the
// codec's list, and every value comes back as it was sent.
#include "RecordCodec.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
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

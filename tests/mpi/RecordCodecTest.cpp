// The run record as the ranks send it: every field of the record is in the
// codec's list, and every value comes back as it was sent.
#include "RecordCodec.h"

#include <cstddef>
#include <stdexcept>
#include <string>

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
  EXPECT_EQ(LayerRowFieldCount(), AggregateFieldCount<TLayerRow>());
  EXPECT_EQ(LayerValueFieldCount(), AggregateFieldCount<TLayerValue>());
}

// Every field away from its default, so that a field the reader skips or
// swaps shows.
TRunParameters EveryFieldSet() {
  TRunParameters p;
  p.dataFile = "/data/points é.dat";
  p.layers = {{.elevation = {.grids = {{"topo.grd"}}}},
              {.elevation = {.constant = 0.0}, .density = {.constant = 2.67}},
              {.elevation = {.constant = -1000.5, .grids = {{"moho.grd"}, {"moho2.grd"}}},
               .density = {.grids = {{"rho é.grd"}}}}};
  p.rowCount = 3;
  p.gravityConstant = 0.0066743;
  p.psiFromDeg = 0.25;
  p.psiToDeg = 120.5;
  p.earthRadius = 6371000.5;
  p.appendText = "_run;2";
  p.azimuthFromDeg = 10;
  p.azimuthToDeg = 300;
  p.increment = 0;
  p.priority = TCrossingRule::BottomGrid;
  p.outputUnit = TOutputUnit::MicroGal;
  p.segmentSize = 900;
  p.sumOnly = true;
  p.zones = {{0, 0.1, 15, false}, {0.1, 180, 3600, true}};
  p.zonePreset = "fine";
  return p;
}

TEST(RecordCodec, RoundTripKeepsEveryField) {
  const TRunParameters sent = EveryFieldSet();
  ASSERT_NE(sent, TRunParameters{});
  TWireWriter w;
  WriteRecord(w, sent);
  TWireReader r(w.bytes());
  EXPECT_EQ(ReadRecord(r), sent);
  EXPECT_TRUE(r.AtEnd());
}

// A message cut anywhere is refused, never read as a shorter record.
TEST(RecordCodec, MessageCutShortIsRefused) {
  TWireWriter w;
  WriteRecord(w, EveryFieldSet());
  for (std::size_t size = 0; size < w.bytes().size(); ++size) {
    const std::string cut = w.bytes().substr(0, size);
    TWireReader r(cut);
    EXPECT_THROW(ReadRecord(r), std::runtime_error) << size;
  }
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

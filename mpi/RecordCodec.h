// The run record and the points as the ranks send them. The record's fields
// are listed once (RecordCodec.cpp), and both directions walk that list, so
// the two cannot drift apart; a test holds the list to the record's fields.
#pragma once

#include <cstddef>

#include "Calculation.h"
#include "PointFile.h"
#include "WireFormat.h"

namespace globelayers {

void WriteRecord(TWireWriter& w, const TRunParameters& record);
// Throws std::runtime_error for a message cut short or a count that the
// message cannot hold.
TRunParameters ReadRecord(TWireReader& r);

// How many fields the lists name, of the record and of the records in it.
std::size_t RecordFieldCount();
std::size_t ZoneFieldCount();
std::size_t SingleZoneFieldCount();
std::size_t ZoneListFieldCount();
std::size_t ZonePresetFieldCount();
std::size_t PointGridFieldCount();
std::size_t LayerRowFieldCount();
std::size_t LayerValueFieldCount();

// One point of the point file with its index in the file.
void WritePoint(TWireWriter& w, long index, const TCalcPoint& point);
TCalcPoint ReadPoint(TWireReader& r, long& index);

}  // namespace globelayers

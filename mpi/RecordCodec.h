// The run record, its stations' area, the grids' headers and the points as
// the ranks send them. The fields of each are listed once
// (RecordCodec.cpp), and both directions walk that list, so the two cannot
// drift apart; a test holds the lists to the records' fields.
#pragma once

#include <cstddef>

#include "Calculation.h"
#include "GridImports.h"
#include "GridReach.h"
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
std::size_t StationBoundsFieldCount();
std::size_t GridHeaderFieldCount();

// The area of the run's stations: the other ranks read each grid in the
// windows round it that rank 0 reads. Throws as ReadRecord.
void WriteStationArea(TWireWriter& w, const TStationArea& area);
TStationArea ReadStationArea(TWireReader& r);

// A grid that the first rank of a node loaded, but for its values (which
// the node shares): what the node's other ranks need to sample them,
// where the window lies in its file included. Throws as ReadRecord.
void WriteGridHeader(TWireWriter& w, const TGridImports& grid);
void ReadGridHeader(TWireReader& r, TGridImports& grid);

// One point of the point file with its index in the file.
void WritePoint(TWireWriter& w, long index, const TCalcPoint& point);
TCalcPoint ReadPoint(TWireReader& r, long& index);

}  // namespace globelayers

// Geosoft binary grid of 16-bit integers: a 512-byte header, of which the
// first 76 bytes are read, then V vectors of E integers, rows or columns as
// the header says. A value is raw / multiplier + base; the two lowest
// integers are blanks. The format has no blank value: the grid's stays.
#include <cmath>
#include <cstdint>

#include "GridChecks.h"
#include "GridFormats.h"
#include "GridValues.h"

namespace globelayers {
namespace {

constexpr std::size_t kHeaderBytes = 76;  // the part of the header that is read
constexpr std::uint64_t kValuesOffset = 512;
constexpr std::int16_t kHighestBlank = -32767;  // it and -32768 are blanks

}  // namespace

bool IsGeosoft16(std::span<const unsigned char> header) {
  return header.size() >= 4 && I32(header.data()) == 2;  // element size: only 16-bit integer grids
}

TGridLoad ReadGeosoft16(TGridImports& grid, const TGridInput& input) {
  if (input.header.size() < kHeaderBytes) return Damaged();
  const unsigned char* h = input.header.data();
  IGridSource& source = *input.source;

  const std::int32_t perVector = I32(h + 8);     // E
  const std::int32_t vectorCount = I32(h + 12);  // V
  const bool vectorsAreColumns = I32(h + 16) == -1;
  const double elementSpacing = F64(h + 20);  // dE
  const double vectorSpacing = F64(h + 28);   // dV
  grid.xMin = F64(h + 36);
  grid.yMin = F64(h + 44);
  // h + 52: rotation, not used
  const double base = F64(h + 60);
  const double multiplier = F64(h + 68);
  if (!NativeCountUsable(perVector) || !NativeCountUsable(vectorCount)) return Damaged();
  // Every value is raw / multiplier + base: one bad number spoils them all.
  if (!std::isfinite(base) || !std::isfinite(multiplier) || multiplier == 0) return Damaged();
  if (!FitsInSource(source, kValuesOffset, std::uint64_t(perVector) * std::uint64_t(vectorCount), 2))
    return Damaged();

  if (vectorsAreColumns) {
    grid.nx = vectorCount;
    grid.ny = perVector;
    grid.xStep = vectorSpacing;
    grid.yStep = elementSpacing;
  } else {
    grid.nx = perVector;
    grid.ny = vectorCount;
    grid.xStep = elementSpacing;
    grid.yStep = vectorSpacing;
  }
  // The z range comes from the values: only x and y are completed here.
  grid.xRange = (grid.nx - 1) * grid.xStep;
  grid.xMax = grid.xMin + grid.xRange;
  grid.yRange = (grid.ny - 1) * grid.yStep;
  grid.yMax = grid.yMin + grid.yRange;
  if (!GeometryUsable(grid)) return Damaged();
  const TNodeWindow window = ChosenWindow(grid, input.choose);
  const bool partial = Partial(window, grid);
  if (partial) NarrowToWindow(grid, window);
  AllocateValues(grid);

  TValueDecoder decoder(kNoBlankValue, true);
  if (!source.Seek(kValuesOffset)) return Damaged();
  const auto decode = [&](const unsigned char* p) {
    const std::int16_t raw = I16(p);
    if (raw <= kHighestBlank) return decoder.Blank();
    return decoder.Stored(raw / multiplier + base);  // a tiny multiplier may leave the float range
  };
  const auto place = [&](int first, int count, const float* chunk) {
    if (vectorsAreColumns)
      PlaceColumns(grid, first, count, chunk);
    else
      PlaceRows(grid, first, count, chunk);
  };
  bool complete = false;
  if (!partial) {
    complete = ReadVectors(source, vectorCount, perVector, 2, decode, place);
  } else if (vectorsAreColumns) {
    complete = ReadWindowVectors(source, kValuesOffset, perVector, 2, window.column0, window.columns, window.row0,
                                 window.rows, decode, place);
  } else {
    complete = ReadWindowVectors(source, kValuesOffset, perVector, 2, window.row0, window.rows, window.column0,
                                 window.columns, decode, place);
  }
  if (!complete) return Damaged();
  grid.blankCount = decoder.blanks();
  grid.zMin = decoder.zMin();
  grid.zMax = decoder.zMax();
  grid.zRange = grid.zMax - grid.zMin;
  return {};
}

}  // namespace globelayers

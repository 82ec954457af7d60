// Surfer 6 binary grid ("DSBB"): a fixed 56-byte header, then nx * ny 32-bit
// floats, row 0 (at yMin) first. Bounds come from the file, spacings are
// computed; the blank value is Surfer's, which the format does not store.
#include <cstdint>
#include <cstring>

#include "GridChecks.h"
#include "GridFormats.h"
#include "GridValues.h"

namespace globelayers {
namespace {

constexpr std::size_t kHeaderBytes = 56;

}  // namespace

bool IsSurfer6(std::span<const unsigned char> header) {
  return header.size() >= 4 && std::memcmp(header.data(), "DSBB", 4) == 0;
}

TGridLoad ReadSurfer6(TGridImports& grid, const TGridInput& input) {
  if (input.header.size() < kHeaderBytes) return Damaged();
  const unsigned char* h = input.header.data();
  IGridSource& source = *input.source;

  grid.nx = I16(h + 4);
  grid.ny = I16(h + 6);
  grid.xMin = F64(h + 8);
  grid.xMax = F64(h + 16);
  grid.yMin = F64(h + 24);
  grid.yMax = F64(h + 32);
  grid.zMin = F64(h + 40);
  grid.zMax = F64(h + 48);
  if (!NativeCountUsable(grid.nx) || !NativeCountUsable(grid.ny)) return Damaged();
  if (!FitsInSource(source, kHeaderBytes, std::uint64_t(grid.nx) * std::uint64_t(grid.ny), 4)) return Damaged();
  CompleteStepsFromBounds(grid);
  if (!GeometryUsable(grid)) return Damaged();
  const int fileColumns = grid.nx;
  const TNodeWindow window = ChosenWindow(grid, input.choose);
  const bool partial = Partial(window, grid);
  if (partial) NarrowToWindow(grid, window);
  AllocateValues(grid);

  grid.blankValue = kSurferBlank;
  TValueDecoder decoder(grid.blankValue, false);
  if (!source.Seek(kHeaderBytes)) return Damaged();
  const auto decode = [&](const unsigned char* p) { return decoder.Stored(F32(p)); };
  const auto place = [&](int first, int rows, const float* chunk) { PlaceRows(grid, first, rows, chunk); };
  const bool complete = partial ? ReadWindowVectors(source, kHeaderBytes, fileColumns, 4, window.row0, window.rows,
                                                    window.column0, window.columns, decode, place)
                                : ReadVectors(source, grid.ny, grid.nx, 4, decode, place);
  if (!complete) return Damaged();
  grid.blankCount = decoder.blanks();
  return {};
}

}  // namespace globelayers

// Surfer 7 binary grid: tagged sections, each a 4-byte tag (four ASCII
// letters read as a little-endian integer) and a 32-bit length. The first
// grid section with the data section right after it is the grid; values
// are 64-bit floats, row 0 (at yMin) first, narrowed to float. Spacings come
// from the file, bounds are computed; the blank value is the file's.
#include <cstdint>

#include "GridChecks.h"
#include "GridFormats.h"
#include "GridValues.h"

namespace globelayers {
namespace {

constexpr std::uint32_t kTagHeader = 0x42525344;  // "DSRB"
constexpr std::uint32_t kTagGrid = 0x44495247;    // "GRID"
constexpr std::uint32_t kTagData = 0x41544144;    // "DATA"
constexpr std::uint32_t kTagFault = 0x49544C46;   // "FLTI"

constexpr std::uint64_t kFirstSectionOffset = 12;  // past the header tag, its length and the version
constexpr std::size_t kGridSectionBytes = 4 + 72;  // section length, then the grid header


// The grid section after its tag: the header, then the data section that
// must follow it at once.
TGridLoad ReadGridSection(TGridImports& grid, IGridSource& source, const TWindowChooser* choose) {
  unsigned char h[kGridSectionBytes];
  if (!ReadExactly(source, h, sizeof h)) return Damaged();
  const unsigned char* g = h + 4;  // past the section length, which is not needed
  const std::int32_t rows = I32(g);
  const std::int32_t columns = I32(g + 4);
  if (!NativeCountUsable(rows) || !NativeCountUsable(columns)) return Damaged();
  grid.ny = rows;
  grid.nx = columns;
  grid.xMin = F64(g + 8);
  grid.yMin = F64(g + 16);
  grid.xStep = F64(g + 24);
  grid.yStep = F64(g + 32);
  grid.zMin = F64(g + 40);
  grid.zMax = F64(g + 48);
  // g + 56: rotation, not used
  grid.blankValue = F64(g + 64);
  grid.blankCount = 0;
  CompleteBoundsFromSteps(grid);
  if (!GeometryUsable(grid)) return Damaged();

  std::uint32_t tag = 0;
  unsigned char length[4];
  if (!ReadWord(source, tag) || tag != kTagData || !ReadExactly(source, length, sizeof length)) return Damaged();
  if (!FitsInSource(source, source.Position(), std::uint64_t(rows) * std::uint64_t(columns), 8)) return Damaged();
  const std::uint64_t dataOffset = source.Position();
  const int fileColumns = grid.nx;
  const TNodeWindow window = ChosenWindow(grid, choose);
  const bool partial = Partial(window, grid);
  if (partial) NarrowToWindow(grid, window);
  AllocateValues(grid);

  TValueDecoder decoder(grid.blankValue, false);
  const auto decode = [&](const unsigned char* p) { return decoder.Stored(F64(p)); };
  const auto place = [&](int first, int count, const float* chunk) { PlaceRows(grid, first, count, chunk); };
  const bool complete = partial ? ReadWindowVectors(source, dataOffset, fileColumns, 8, window.row0, window.rows,
                                                    window.column0, window.columns, decode, place)
                                : ReadVectors(source, grid.ny, grid.nx, 8, decode, place);
  if (!complete) return Damaged();
  grid.blankCount = decoder.blanks();
  return {};
}

bool SkipSection(IGridSource& source) {
  unsigned char length[4];
  if (!ReadExactly(source, length, sizeof length)) return false;
  const std::int32_t bytes = I32(length);
  if (bytes < 0) return false;  // would walk backwards, possibly for ever
  return source.Seek(source.Position() + std::uint64_t(bytes));
}

}  // namespace

bool IsSurfer7(std::span<const unsigned char> header) {
  return header.size() >= 4 && U32(header.data()) == kTagHeader;
}

TGridLoad ReadSurfer7(TGridImports& grid, const TGridInput& input) {
  IGridSource& source = *input.source;
  // The header section's length and version are not needed; sections start
  // at byte 12 whatever the length says.
  source.Seek(kFirstSectionOffset);
  // Sections other than grid and fault information are walked over word by
  // word. The first grid section, with its data, is the grid; the scan ends
  // there.
  std::uint32_t tag = 0;
  while (ReadWord(source, tag)) {
    if (tag == kTagGrid) return ReadGridSection(grid, source, input.choose);
    if (tag == kTagFault) {
      if (!SkipSection(source)) return Damaged();
      // Fault vertices come in the data section right after; the word read
      // here is consumed whatever it is.
      if (ReadWord(source, tag) && tag == kTagData && !SkipSection(source)) return Damaged();
    }
  }
  return Damaged();  // no grid section
}

}  // namespace globelayers

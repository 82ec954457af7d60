// The three grid readers. Every number in every format is little-endian and
// is decoded byte by byte, so the host's byte order does not matter.
//
// A reader first recognises its format by the first bytes, then checks the
// header (counts 2 .. 32767, a geometry the sampler can work in, see
// GeometryUsable) and that the file is long enough for the values it
// declares, and only then allocates. Values are read in chunks of a few
// megabytes and converted in memory, so a grid of 21601 x 10801 nodes needs
// little more than its floats.
// A reader builds the grid aside and hands it over only when it loaded
// completely: a failed load leaves the caller's grid as it was.
//
// A value that is not a finite float (NaN, an infinity, a double or a
// scaled integer beyond the float range) is no elevation or density: it is
// stored as Surfer's blank marker and counted as a blank, so that the
// sampler passes it over like any other blank.
#include "GridImports.h"
#include <sys/mman.h>

#include <algorithm>
#include <stdexcept>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <exception>
#include <memory>
#include <utility>

#include "GridChecks.h"
#ifdef GLOBELAYERS_HAVE_GDAL
#include "GdalGrid.h"
#endif
#include "GridSource.h"
#include "InputFile.h"
#include "StopRequest.h"

namespace globelayers {

namespace {

constexpr const char* kOpenError = kGridOpenError;
constexpr const char* kReadError = kGridReadError;

constexpr int kMinNodes = 2;      // the sampler interpolates in cells of 2 x 2 nodes
constexpr int kMaxNodes = 32767;  // the native formats' counts are 16-bit

// Bytes read from the file at a time while reading values. The fuzzing
// build makes it tiny, so that small inputs cross chunk boundaries.
#ifndef GLOBELAYERS_GRID_CHUNK_BYTES
#define GLOBELAYERS_GRID_CHUNK_BYTES (std::size_t{4} << 20)
#endif
constexpr std::size_t kChunkBytes = GLOBELAYERS_GRID_CHUNK_BYTES;

// Surfer 7 section tags: four ASCII letters read as a little-endian integer.
constexpr std::uint32_t kTagHeader = 0x42525344;  // "DSRB"
constexpr std::uint32_t kTagGrid = 0x44495247;    // "GRID"
constexpr std::uint32_t kTagData = 0x41544144;    // "DATA"
constexpr std::uint32_t kTagFault = 0x49544C46;   // "FLTI"

constexpr std::size_t kSurfer6HeaderBytes = 56;
constexpr std::size_t kSurfer7GridBytes = 4 + 72;  // section length, then the grid header
constexpr std::size_t kGeosoftHeaderBytes = 76;     // the part of the header that is read
constexpr std::uint64_t kGeosoftValuesOffset = 512;

enum class TReadStatus {
  kLoaded,
  kNotMine,   // not of the reader's format: nothing said
  kRejected,  // of its format but unusable: reported by RunReader
  kUnopened,  // the file could not be opened: reported by ReadFile
};

std::uint16_t U16(const unsigned char* p) { return std::uint16_t(p[0] | (p[1] << 8)); }
std::uint32_t U32(const unsigned char* p) {
  return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) |
         (std::uint32_t(p[3]) << 24);
}
std::uint64_t U64(const unsigned char* p) { return U32(p) | (std::uint64_t(U32(p + 4)) << 32); }
std::int16_t I16(const unsigned char* p) { return std::int16_t(U16(p)); }
std::int32_t I32(const unsigned char* p) { return std::int32_t(U32(p)); }
float F32(const unsigned char* p) { return std::bit_cast<float>(U32(p)); }
double F64(const unsigned char* p) { return std::bit_cast<double>(U64(p)); }

bool ReadExactly(IGridSource& source, void* destination, std::size_t count) {
  return source.Read(destination, count) == count;
}

bool ReadWord(IGridSource& source, std::uint32_t& word) {
  unsigned char bytes[4];
  if (!ReadExactly(source, bytes, sizeof bytes)) return false;
  word = U32(bytes);
  return true;
}

bool CountUsable(std::int64_t count) { return count >= kMinNodes && count <= kMaxNodes; }

// True when `count` elements of `elementBytes` each, starting at `offset`,
// lie inside the source: checked before anything is allocated for them.
bool FitsInSource(const IGridSource& source, std::uint64_t offset, std::uint64_t count,
                  std::uint64_t elementBytes) {
  const std::uint64_t length = source.Length();
  return offset <= length && count * elementBytes <= length - offset;  // counts < 2^30: no overflow
}

void CompleteStepsFromBounds(TGridImports& grid) {
  grid.xRange = grid.xMax - grid.xMin;
  grid.xStep = grid.xRange / (grid.nx - 1);
  grid.yRange = grid.yMax - grid.yMin;
  grid.yStep = grid.yRange / (grid.ny - 1);
  grid.zRange = grid.zMax - grid.zMin;
}

bool AxisUsable(double minDeg, double maxDeg, double spacingDeg) {
  return std::fabs(minDeg) <= kMaxNodeDeg && std::fabs(maxDeg) <= kMaxNodeDeg &&
         std::fabs(spacingDeg) >= kMinSpacingDeg;
}

// Reads `vectorCount` vectors of `vectorLength` elements of `elementBytes`
// each, in chunks. `decode` turns one element into a float (and may count
// blanks or track a range: it sees the elements in file order); `place`
// receives each chunk of decoded floats as (first vector, vectors, floats).
template <class Decode, class Place>
bool ReadVectors(IGridSource& source, int vectorCount, int vectorLength, std::size_t elementBytes,
                 Decode&& decode, Place&& place) {
  const std::size_t vectorBytes = std::size_t(vectorLength) * elementBytes;
  const int perChunk = int(std::clamp<std::size_t>(kChunkBytes / vectorBytes, 1, std::size_t(vectorCount)));
  std::vector<unsigned char> raw(std::size_t(perChunk) * vectorBytes);
  std::vector<float> decoded(std::size_t(perChunk) * std::size_t(vectorLength));
  for (int first = 0; first < vectorCount; first += perChunk) {
    if (LongStepStopRequested()) return false;  // the caller says nothing: the run is stopping
    const int vectors = std::min(perChunk, vectorCount - first);
    const std::size_t elements = std::size_t(vectors) * std::size_t(vectorLength);
    if (!ReadExactly(source, raw.data(), elements * elementBytes)) return false;
    const unsigned char* p = raw.data();
    for (std::size_t i = 0; i < elements; ++i, p += elementBytes) decoded[i] = decode(p);
    place(first, vectors, decoded.data());
  }
  return true;
}

// Rows of nx floats (row `firstRow` first) into the column-major values.
// Column by column, so that the writes run along memory.
void PlaceRows(TGridImports& grid, int firstRow, int rows, const float* rowMajor) {
  const std::size_t nx = std::size_t(grid.nx), ny = std::size_t(grid.ny);
  for (std::size_t ix = 0; ix < nx; ++ix) {
    float* column = grid.values.data() + ix * ny + std::size_t(firstRow);
    for (std::size_t r = 0; r < std::size_t(rows); ++r) column[r] = rowMajor[r * nx + ix];
  }
}

// Whole columns of ny floats: already the memory order.
void PlaceColumns(TGridImports& grid, int firstColumn, int columns, const float* columnMajor) {
  const std::size_t ny = std::size_t(grid.ny);
  std::memcpy(grid.values.data() + std::size_t(firstColumn) * ny, columnMajor,
              std::size_t(columns) * ny * sizeof(float));
}

TReadStatus ParseSurfer6(TGridImports& grid, IGridSource& source) {
  unsigned char h[kSurfer6HeaderBytes];
  const std::size_t got = source.Read(h, sizeof h);
  if (got < 4 || std::memcmp(h, "DSBB", 4) != 0) return TReadStatus::kNotMine;
  if (got < sizeof h) return TReadStatus::kRejected;

  grid.nx = I16(h + 4);
  grid.ny = I16(h + 6);
  grid.xMin = F64(h + 8);
  grid.xMax = F64(h + 16);
  grid.yMin = F64(h + 24);
  grid.yMax = F64(h + 32);
  grid.zMin = F64(h + 40);
  grid.zMax = F64(h + 48);
  if (!CountUsable(grid.nx) || !CountUsable(grid.ny)) return TReadStatus::kRejected;
  if (!FitsInSource(source, kSurfer6HeaderBytes, std::uint64_t(grid.nx) * std::uint64_t(grid.ny), 4))
    return TReadStatus::kRejected;
  CompleteStepsFromBounds(grid);
  if (!GeometryUsable(grid)) return TReadStatus::kRejected;
  AllocateValues(grid);

  grid.blankCount = 0;
  grid.blankValue = kSurferBlank;
  const double blank = grid.blankValue;
  std::int32_t blanks = 0;
  // Rows of nx floats, row 0 (at yMin) first.
  const bool complete = ReadVectors(
      source, grid.ny, grid.nx, 4,
      [&](const unsigned char* p) {
        const float v = F32(p);
        if (!std::isfinite(v)) {
          ++blanks;
          return kBlankMarker;
        }
        if (v >= blank) ++blanks;
        return v;
      },
      [&](int first, int rows, const float* chunk) { PlaceRows(grid, first, rows, chunk); });
  if (!complete) return TReadStatus::kRejected;
  grid.blankCount = blanks;
  grid.fileFormat = 1;
  return TReadStatus::kLoaded;
}

// The grid section after its tag: the header, then the data section that
// must follow it at once.
TReadStatus ParseSurfer7GridSection(TGridImports& grid, IGridSource& source) {
  unsigned char h[kSurfer7GridBytes];
  if (!ReadExactly(source, h, sizeof h)) return TReadStatus::kRejected;
  const unsigned char* g = h + 4;  // past the section length, which is not needed
  const std::int32_t rows = I32(g);
  const std::int32_t columns = I32(g + 4);
  if (!CountUsable(rows) || !CountUsable(columns)) return TReadStatus::kRejected;
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
  if (!GeometryUsable(grid)) return TReadStatus::kRejected;

  std::uint32_t tag = 0;
  unsigned char length[4];
  if (!ReadWord(source, tag) || tag != kTagData || !ReadExactly(source, length, sizeof length))
    return TReadStatus::kRejected;
  if (!FitsInSource(source, source.Position(), std::uint64_t(rows) * std::uint64_t(columns), 8))
    return TReadStatus::kRejected;
  AllocateValues(grid);

  const double blank = grid.blankValue;
  std::int32_t blanks = 0;
  const bool complete = ReadVectors(
      source, grid.ny, grid.nx, 8,
      [&](const unsigned char* p) {
        // The blank test compares the double, before it is narrowed.
        const double v = F64(p);
        const float narrowed = static_cast<float>(v);
        if (!std::isfinite(narrowed)) {
          ++blanks;
          return kBlankMarker;
        }
        if (v >= blank) ++blanks;
        return narrowed;
      },
      [&](int first, int count, const float* chunk) { PlaceRows(grid, first, count, chunk); });
  if (!complete) return TReadStatus::kRejected;
  grid.blankCount = blanks;
  grid.fileFormat = 0;
  return TReadStatus::kLoaded;
}

bool SkipSection(IGridSource& source) {
  unsigned char length[4];
  if (!ReadExactly(source, length, sizeof length)) return false;
  const std::int32_t bytes = I32(length);
  if (bytes < 0) return false;  // would walk backwards, possibly for ever
  return source.Seek(source.Position() + std::uint64_t(bytes));
}

TReadStatus ParseSurfer7(TGridImports& grid, IGridSource& source) {
  std::uint32_t tag = 0;
  if (!ReadWord(source, tag) || tag != kTagHeader) return TReadStatus::kNotMine;
  // The header section's length and version are not needed; sections start
  // at byte 12 whatever the length says.
  source.Seek(12);
  // Sections other than grid and fault information are walked over word by
  // word. The first grid section, with its data, is the grid; the scan ends
  // there.
  while (ReadWord(source, tag)) {
    if (tag == kTagGrid) return ParseSurfer7GridSection(grid, source);
    if (tag == kTagFault) {
      if (!SkipSection(source)) return TReadStatus::kRejected;
      // Fault vertices come in the data section right after; the word read
      // here is consumed whatever it is.
      if (ReadWord(source, tag) && tag == kTagData && !SkipSection(source))
        return TReadStatus::kRejected;
    }
  }
  return TReadStatus::kRejected;  // no grid section
}

TReadStatus ParseGeosoft(TGridImports& grid, IGridSource& source) {
  unsigned char h[kGeosoftHeaderBytes];
  const std::size_t got = source.Read(h, sizeof h);
  if (got < 4 || I32(h) != 2) return TReadStatus::kNotMine;  // only 16-bit integer grids
  if (got < sizeof h) return TReadStatus::kRejected;

  const std::int32_t perVector = I32(h + 8);    // E
  const std::int32_t vectorCount = I32(h + 12);  // V
  const bool vectorsAreColumns = I32(h + 16) == -1;
  const double elementSpacing = F64(h + 20);  // dE
  const double vectorSpacing = F64(h + 28);   // dV
  grid.xMin = F64(h + 36);
  grid.yMin = F64(h + 44);
  // h + 52: rotation, not used
  const double base = F64(h + 60);
  const double multiplier = F64(h + 68);
  if (!CountUsable(perVector) || !CountUsable(vectorCount)) return TReadStatus::kRejected;
  // Every value is raw / multiplier + base: one bad number spoils them all.
  if (!std::isfinite(base) || !std::isfinite(multiplier) || multiplier == 0)
    return TReadStatus::kRejected;
  if (!FitsInSource(source, kGeosoftValuesOffset,
                    std::uint64_t(perVector) * std::uint64_t(vectorCount), 2))
    return TReadStatus::kRejected;

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
  grid.xRange = (grid.nx - 1) * grid.xStep;
  grid.xMax = grid.xMin + grid.xRange;
  grid.yRange = (grid.ny - 1) * grid.yStep;
  grid.yMax = grid.yMin + grid.yRange;
  if (!GeometryUsable(grid)) return TReadStatus::kRejected;
  AllocateValues(grid);

  std::int32_t blanks = 0;
  double zMin = 1e39, zMax = -1e39;  // stay so when every node is blank
  if (!source.Seek(kGeosoftValuesOffset)) return TReadStatus::kRejected;
  const bool complete = ReadVectors(
      source, vectorCount, perVector, 2,
      [&](const unsigned char* p) {
        const std::int16_t raw = I16(p);
        if (raw <= -32767) {
          ++blanks;
          return kBlankMarker;
        }
        const double z = raw / multiplier + base;
        const float stored = static_cast<float>(z);
        if (!std::isfinite(stored)) {  // a tiny multiplier: beyond the float range
          ++blanks;
          return kBlankMarker;
        }
        if (z < zMin) zMin = z;
        if (z > zMax) zMax = z;
        return stored;
      },
      [&](int first, int count, const float* chunk) {
        if (vectorsAreColumns)
          PlaceColumns(grid, first, count, chunk);
        else
          PlaceRows(grid, first, count, chunk);
      });
  if (!complete) return TReadStatus::kRejected;
  grid.blankCount = blanks;
  grid.zMin = zMin;
  grid.zMax = zMax;
  grid.zRange = zMax - zMin;
  grid.fileFormat = 2;
  return TReadStatus::kLoaded;
}

using TParse = TReadStatus (*)(TGridImports&, IGridSource&);

// Runs one parser on a grid built aside and hands it over on success.
// The Geosoft format carries no blank value, so the caller's stays.
TReadStatus RunReader(TParse parse, TGridImports& grid, IGridSource& source,
                      const std::string& fileName, IUserPrompts& prompts) {
  TGridImports work;
  work.blankValue = grid.blankValue;
  TReadStatus status = TReadStatus::kRejected;
  try {
    source.Seek(0);
    status = parse(work, source);
  } catch (const std::exception&) {
    // Memory for the values could not be had: the grid is unusable like a
    // damaged one. No exception leaves a reader.
    status = TReadStatus::kRejected;
  }
  if (status == TReadStatus::kLoaded) grid = std::move(work);
  // A read given up for a stop request is no fault of the file.
  if (status == TReadStatus::kRejected && !LongStepStopRequested())
    prompts.ShowMessage(WithFileName(kReadError, fileName));
  return status;
}

class TFileGridSource final : public IGridSource {
 public:
  // Empty when the file cannot be opened or is not a regular file (a
  // directory, a FIFO that would block, a device that never ends).
  static std::unique_ptr<TFileGridSource> Open(const std::string& fileName) {
    TInputFile input = OpenInputFile(fileName);
    if (input.status != TInputOpen::kOpened) return nullptr;
    return std::make_unique<TFileGridSource>(std::move(input.file), input.sizeBytes);
  }

  TFileGridSource(TFilePtr file, std::uint64_t length)
      : file_(std::move(file)), length_(length) {}

  std::uint64_t Length() const override { return length_; }
  std::uint64_t Position() const override { return position_; }
  bool Seek(std::uint64_t offset) override {
    if (offset > std::uint64_t(INT64_MAX)) return false;
    if (fseeko(file_.get(), off_t(offset), SEEK_SET) != 0) return false;
    position_ = offset;
    return true;
  }
  std::size_t Read(void* destination, std::size_t count) override {
    const std::size_t got = std::fread(destination, 1, count, file_.get());
    position_ += got;
    return got;
  }

 private:
  TFilePtr file_;
  std::uint64_t length_;
  std::uint64_t position_ = 0;
};

TReadStatus ReadFile(TParse parse, TGridImports& grid, const std::string& fileName,
                     IUserPrompts& prompts) {
  const auto file = TFileGridSource::Open(fileName);
  if (!file) {
    prompts.ShowMessage(WithFileName(kOpenError, fileName));
    return TReadStatus::kUnopened;
  }
  return RunReader(parse, grid, *file, fileName, prompts);
}

int ExitCode(TReadStatus status) { return status == TReadStatus::kLoaded ? 0 : 1; }

// Surfer 7, Surfer 6, Geosoft in this order, each through `read`. A file
// that no reader knows gets the reading message here, since none of them
// said anything; with `otherwise` set (GDAL), such a file goes to it
// instead, which then gives the messages.
template <class Read>
bool LoadWithEachReader(TGridImports& grid, const std::string& fileName, IUserPrompts& prompts,
                        Read read, bool (*otherwise)(TGridImports&, const std::string&, IUserPrompts&) = nullptr) {
  bool recognised = false;
  for (const TParse parse : {TParse(ParseSurfer7), TParse(ParseSurfer6), TParse(ParseGeosoft)}) {
    const TReadStatus status = read(parse);
    if (status == TReadStatus::kLoaded) return true;
    recognised = recognised || status != TReadStatus::kNotMine;
  }
  if (!recognised && otherwise != nullptr && !LongStepStopRequested()) return otherwise(grid, fileName, prompts);
  if (!recognised && !LongStepStopRequested()) prompts.ShowMessage(WithFileName(kReadError, fileName));
  grid.fileFormat = 3;
  return false;
}

#ifdef GLOBELAYERS_HAVE_GDAL
// A raster that GDAL opens but that makes no usable grid gets the reading
// message with the reason on the next line; one that GDAL does not open
// gets the message alone, as any file of no known format.
bool LoadThroughGdal(TGridImports& grid, const std::string& fileName, IUserPrompts& prompts) {
  const TGdalOutcome outcome = ReadGdalGrid(grid, fileName);
  if (outcome.status == TGdalLoad::kLoaded) return true;
  grid.fileFormat = 3;
  if (LongStepStopRequested()) return false;  // given up for a stop request: no fault of the file
  std::string message = WithFileName(kReadError, fileName);
  if (outcome.status == TGdalLoad::kRefused) message += "\n" + outcome.reason;
  prompts.ShowMessage(message);
  grid.fileFormat = 3;
  return false;
}
#endif

}  // namespace

std::string WithFileName(const char* format, const std::string& fileName) {
  // The name is inserted, never used as a format: a '%' in it stays a '%'.
  std::string text(format);
  if (const auto at = text.find("%s"); at != std::string::npos) text.replace(at, 2, fileName);
  return text;
}

void CompleteBoundsFromSteps(TGridImports& grid) {
  grid.xRange = (grid.nx - 1) * grid.xStep;
  grid.xMax = grid.xMin + grid.xRange;
  grid.yRange = (grid.ny - 1) * grid.yStep;
  grid.yMax = grid.yMin + grid.yRange;
  grid.zRange = grid.zMax - grid.zMin;
}

// A spacing may be negative (nodes from east to west or north to south):
// the sampler takes either. z bounds describe the grid only and are taken
// as they come.
bool GeometryUsable(const TGridImports& grid) {
  for (const double v : {grid.xMin, grid.xMax, grid.xRange, grid.xStep, grid.yMin, grid.yMax,
                         grid.yRange, grid.yStep})
    if (!std::isfinite(v)) return false;
  return AxisUsable(grid.xMin, grid.xMax, grid.xStep) && AxisUsable(grid.yMin, grid.yMax, grid.yStep);
}

std::size_t TMemoryGridSource::Read(void* destination, std::size_t count) {
  if (position_ >= bytes_.size()) return 0;
  const std::size_t got = std::min<std::uint64_t>(count, bytes_.size() - position_);
  std::memcpy(destination, bytes_.data() + position_, got);
  position_ += got;
  return got;
}

namespace {

// Asks the kernel for 2 MB pages for the values of a large grid from the
// heap: a gigabyte of them then takes 500 page faults instead of 260,000
// when it is first written, and is given back at once when the run ends,
// where 4 KB pages take about a second per 4 GB (a stopped run waits for
// that before its process can end). Only a hint: without transparent huge
// pages nothing changes.
void AdviseHugePages(std::pmr::vector<float>& values) {
  constexpr std::uintptr_t kHugePage = std::uintptr_t{2} << 20;  // bytes
  if (values.get_allocator().resource() != std::pmr::new_delete_resource()) return;
  const auto begin = reinterpret_cast<std::uintptr_t>(values.data());
  const std::uintptr_t end = begin + values.capacity() * sizeof(float);
  const std::uintptr_t first = (begin + kHugePage - 1) & ~(kHugePage - 1);
  const std::uintptr_t last = end & ~(kHugePage - 1);
  if (last > first) ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
}

}  // namespace

void AllocateValues(TGridImports& grid) {
  if (grid.nx <= 0 || grid.ny <= 0) {
    grid.values.clear();
    return;
  }
  // Zeroed a block at a time: first touching a gigabyte of pages takes
  // seconds, and a stop request must not wait for all of them.
  constexpr std::size_t kBlockFloats = std::size_t{4} << 20;  // floats zeroed between two looks at a stop
  const std::size_t count = std::size_t(grid.nx) * std::size_t(grid.ny);
  grid.values.clear();
  grid.values.reserve(count);
  AdviseHugePages(grid.values);
  while (grid.values.size() < count) {
    if (LongStepStopRequested()) {
      grid.values.clear();
      grid.values.shrink_to_fit();
      throw std::runtime_error("the run was stopped while memory for the grid was taken");
    }
    grid.values.resize(std::min(count, grid.values.size() + kBlockFloats), 0.0f);
  }
}

void StepsFromBounds(TGridImports& grid) {
  CompleteStepsFromBounds(grid);
  AllocateValues(grid);
}

void BoundsFromSteps(TGridImports& grid) {
  CompleteBoundsFromSteps(grid);
  AllocateValues(grid);
}

int ReadSurfer7Grid(TGridImports& grid, IGridSource& source, const std::string& fileName,
                    IUserPrompts& prompts) {
  return ExitCode(RunReader(ParseSurfer7, grid, source, fileName, prompts));
}
int ReadSurfer6Grid(TGridImports& grid, IGridSource& source, const std::string& fileName,
                    IUserPrompts& prompts) {
  return ExitCode(RunReader(ParseSurfer6, grid, source, fileName, prompts));
}
int ReadGeosoftGrid(TGridImports& grid, IGridSource& source, const std::string& fileName,
                    IUserPrompts& prompts) {
  return ExitCode(RunReader(ParseGeosoft, grid, source, fileName, prompts));
}

int ReadSurfer7Grid(TGridImports& grid, const std::string& fileName, IUserPrompts& prompts) {
  return ExitCode(ReadFile(ParseSurfer7, grid, fileName, prompts));
}
int ReadSurfer6Grid(TGridImports& grid, const std::string& fileName, IUserPrompts& prompts) {
  return ExitCode(ReadFile(ParseSurfer6, grid, fileName, prompts));
}
int ReadGeosoftGrid(TGridImports& grid, const std::string& fileName, IUserPrompts& prompts) {
  return ExitCode(ReadFile(ParseGeosoft, grid, fileName, prompts));
}

bool LoadGrid(TGridImports& grid, const std::string& fileName, IUserPrompts& prompts) {
#ifdef GLOBELAYERS_HAVE_GDAL
  if (NamesGdalSubdataset(fileName)) return LoadThroughGdal(grid, fileName, prompts);
  constexpr auto otherwise = LoadThroughGdal;
#else
  constexpr bool (*otherwise)(TGridImports&, const std::string&, IUserPrompts&) = nullptr;
#endif
  // Opened once for the three native readers: a name that cannot be opened
  // is reported once, not by each reader in turn.
  const auto file = TFileGridSource::Open(fileName);
  if (!file) {
    prompts.ShowMessage(WithFileName(kOpenError, fileName));
    grid.fileFormat = 3;
    return false;
  }
  return LoadWithEachReader(
      grid, fileName, prompts, [&](TParse parse) { return RunReader(parse, grid, *file, fileName, prompts); },
      otherwise);
}

bool LoadGridFromBytes(TGridImports& grid, std::span<const unsigned char> bytes,
                       const std::string& fileName, IUserPrompts& prompts) {
  TMemoryGridSource source(bytes);
  return LoadWithEachReader(grid, fileName, prompts, [&](TParse parse) {
    return RunReader(parse, grid, source, fileName, prompts);
  });
}

}  // namespace globelayers

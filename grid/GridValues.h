// What the native readers share for the bytes of a file: little-endian
// numbers decoded byte by byte (so the host's byte order does not matter),
// the size checks made before anything is allocated, the chunked reading of
// the values, and the one rule that turns a file's value into a stored
// float and counts the blanks. Internal to grid/.
#pragma once

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "GridFaults.h"
#include "GridImports.h"
#include "GridSource.h"
#include "StopRequest.h"

namespace globelayers {

inline constexpr int kMinNativeNodes = 2;      // the sampler interpolates in cells of 2 x 2 nodes
inline constexpr int kMaxNativeNodes = 32767;  // the native formats' counts are 16-bit

// Bytes read from the file at a time while reading values. The fuzzing
// build makes it tiny, so that small inputs cross chunk boundaries.
#ifndef GLOBELAYERS_GRID_CHUNK_BYTES
#define GLOBELAYERS_GRID_CHUNK_BYTES (std::size_t{4} << 20)
#endif
inline constexpr std::size_t kGridChunkBytes = GLOBELAYERS_GRID_CHUNK_BYTES;

inline std::uint16_t U16(const unsigned char* p) { return std::uint16_t(p[0] | (p[1] << 8)); }
inline std::uint32_t U32(const unsigned char* p) {
  return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) |
         (std::uint32_t(p[3]) << 24);
}
inline std::uint64_t U64(const unsigned char* p) { return U32(p) | (std::uint64_t(U32(p + 4)) << 32); }
inline std::int16_t I16(const unsigned char* p) { return std::int16_t(U16(p)); }
inline std::int32_t I32(const unsigned char* p) { return std::int32_t(U32(p)); }
inline float F32(const unsigned char* p) { return std::bit_cast<float>(U32(p)); }
inline double F64(const unsigned char* p) { return std::bit_cast<double>(U64(p)); }

inline bool ReadExactly(IGridSource& source, void* destination, std::size_t count) {
  return source.Read(destination, count) == count;
}

inline bool ReadWord(IGridSource& source, std::uint32_t& word) {
  unsigned char bytes[4];
  if (!ReadExactly(source, bytes, sizeof bytes)) return false;
  word = U32(bytes);
  return true;
}

// A file of the reader's format that cannot be used: truncated, or its
// header makes no usable grid.
inline TGridLoad Damaged() { return {TGridFault::kDamaged, {}}; }

inline bool NativeCountUsable(std::int64_t count) {
  return count >= kMinNativeNodes && count <= kMaxNativeNodes;
}

// True when `count` elements of `elementBytes` each, starting at `offset`,
// lie inside the source: checked before anything is allocated for them.
inline bool FitsInSource(const IGridSource& source, std::uint64_t offset, std::uint64_t count,
                         std::uint64_t elementBytes) {
  const std::uint64_t length = source.Length();
  return offset <= length && count * elementBytes <= length - offset;  // counts < 2^30: no overflow
}

// A file's value, widened to double, into the float that is stored, with
// the blanks counted. A value that is no finite float (NaN, an infinity, a
// double or a scaled integer beyond the float range) is no elevation or
// density: it is stored as the blank marker, so that the sampler passes it
// over like any other blank. A value at or above the file's blank value is
// a blank kept as it is. The range covers the other values.
class TValueDecoder {
 public:
  // `blankValue`: the file's blank value, +infinity for a format without
  // one; `trackRange`: whether zMin and zMax are taken from the values.
  TValueDecoder(double blankValue, bool trackRange) : blankValue_(blankValue), trackRange_(trackRange) {}

  float Stored(double value) {
    // The blank test compares the double, before it is narrowed.
    const float narrowed = static_cast<float>(value);
    if (!std::isfinite(narrowed)) return Blank();
    if (value >= blankValue_) {
      ++blanks_;
      return narrowed;
    }
    if (trackRange_) {
      if (value < zMin_) zMin_ = value;
      if (value > zMax_) zMax_ = value;
    }
    return narrowed;
  }
  // A node that the format itself marks blank.
  float Blank() {
    ++blanks_;
    return kBlankMarker;
  }

  std::int32_t blanks() const { return blanks_; }
  double zMin() const { return zMin_; }
  double zMax() const { return zMax_; }

 private:
  double blankValue_;
  bool trackRange_;
  std::int32_t blanks_ = 0;
  double zMin_ = 1e39, zMax_ = -1e39;  // stay so when every node is blank
};

inline constexpr double kNoBlankValue = std::numeric_limits<double>::infinity();

// Reads `vectorCount` vectors of `vectorLength` elements of `elementBytes`
// each, in chunks. `decode` turns one element into a float (it sees the
// elements in file order); `place` receives each chunk of decoded floats as
// (first vector, vectors, floats). False when the source ends early or a
// stop is requested (the caller says nothing then: the run is stopping).
template <class Decode, class Place>
bool ReadVectors(IGridSource& source, int vectorCount, int vectorLength, std::size_t elementBytes,
                 Decode&& decode, Place&& place) {
  const std::size_t vectorBytes = std::size_t(vectorLength) * elementBytes;
  const int perChunk =
      int(std::clamp<std::size_t>(kGridChunkBytes / vectorBytes, 1, std::size_t(vectorCount)));
  std::vector<unsigned char> raw(std::size_t(perChunk) * vectorBytes);
  std::vector<float> decoded(std::size_t(perChunk) * std::size_t(vectorLength));
  for (int first = 0; first < vectorCount; first += perChunk) {
    if (LongStepStopRequested()) return false;
    const int vectors = std::min(perChunk, vectorCount - first);
    const std::size_t elements = std::size_t(vectors) * std::size_t(vectorLength);
    if (!ReadExactly(source, raw.data(), elements * elementBytes)) return false;
    const unsigned char* p = raw.data();
    for (std::size_t i = 0; i < elements; ++i, p += elementBytes) decoded[i] = decode(p);
    place(first, vectors, decoded.data());
  }
  return true;
}

// The part of `vectorCount` vectors stored one after the other from
// `dataOffset`, each `vectorLength` elements of `elementBytes`, that a
// window takes: vectors firstVector .. firstVector + vectors - 1, of each
// the elements firstElement .. firstElement + elements - 1, one offset read
// per vector. `decode` and `place` as for ReadVectors, with vectors counted
// from firstVector and `elements` floats each. The source's length was
// checked for the whole file. False as for ReadVectors.
template <class Decode, class Place>
bool ReadWindowVectors(IGridSource& source, std::uint64_t dataOffset, int vectorLength, std::size_t elementBytes,
                       int firstVector, int vectors, int firstElement, int elements, Decode&& decode,
                       Place&& place) {
  const std::size_t partBytes = std::size_t(elements) * elementBytes;
  const int perChunk = int(std::clamp<std::size_t>(kGridChunkBytes / partBytes, 1, std::size_t(vectors)));
  std::vector<unsigned char> raw(partBytes);
  std::vector<float> decoded(std::size_t(perChunk) * std::size_t(elements));
  const std::uint64_t vectorBytes = std::uint64_t(vectorLength) * elementBytes;
  for (int first = 0; first < vectors; first += perChunk) {
    if (LongStepStopRequested()) return false;
    const int count = std::min(perChunk, vectors - first);
    float* out = decoded.data();
    for (int v = 0; v < count; ++v) {
      const std::uint64_t offset = dataOffset + std::uint64_t(firstVector + first + v) * vectorBytes +
                                   std::uint64_t(firstElement) * elementBytes;
      if (!source.Seek(offset) || !ReadExactly(source, raw.data(), partBytes)) return false;
      const unsigned char* p = raw.data();
      for (int i = 0; i < elements; ++i, p += elementBytes) *out++ = decode(p);
    }
    place(first, count, decoded.data());
  }
  return true;
}

// Rows of nx floats (row `firstRow` first) into the column-major values.
// Column by column, so that the writes run along memory.
inline void PlaceRows(TGridImports& grid, int firstRow, int rows, const float* rowMajor) {
  const std::size_t nx = std::size_t(grid.nx), ny = std::size_t(grid.ny);
  for (std::size_t ix = 0; ix < nx; ++ix) {
    float* column = grid.values.data() + ix * ny + std::size_t(firstRow);
    for (std::size_t r = 0; r < std::size_t(rows); ++r) column[r] = rowMajor[r * nx + ix];
  }
}

// Whole columns of ny floats: already the memory order.
inline void PlaceColumns(TGridImports& grid, int firstColumn, int columns, const float* columnMajor) {
  const std::size_t ny = std::size_t(grid.ny);
  std::memcpy(grid.values.data() + std::size_t(firstColumn) * ny, columnMajor,
              std::size_t(columns) * ny * sizeof(float));
}

}  // namespace globelayers

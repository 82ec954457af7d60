// Whole batch runs on damaged input: a valid run of every grid format is
// written here, each case damages a copy of it in one to three ways, and
// globelayers-batch runs on that copy as a child process. A run may refuse
// the input (status 1), but it must end by itself, with status 0, 1 or 2,
// without a sanitizer report, say why when it refuses, and leave result
// files of whole lines without a non-finite number in them.
//
// Every case follows from (seed, case index) alone, so one command line
// replays it; a failing case's folder is kept with the command that reruns
// the batch on it by hand. README.md says how to run this at length.
//
//   run_mutations --batch PATH [--cases N] [--seed S] [--case I] [--keep DIR]
//                 [--timeout SEC] [--jobs J] [--gdal yes|no|auto] [--gdal-only] [--verbose]
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <limits>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;

constexpr double kDegToRad = 0.017453292519943295;
constexpr double kSurferBlank = 1.70141e38;  // Surfer's blank marker
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// A sanitizer report must never pass for a refusal (status 1): the child
// gets statuses of its own for them.
constexpr int kAsanStatus = 86;
constexpr int kUbsanStatus = 87;
constexpr char kAsanOptions[] = "exitcode=86:abort_on_error=0";
constexpr char kUbsanOptions[] = "halt_on_error=1:exitcode=87:print_stacktrace=1";

// The batch's own statuses: completed, refused or failed, usage error.
constexpr int kMaxAcceptedStatus = 2;

constexpr char kSettingsName[] = "run.ini";
constexpr char kPointsName[] = "points.dat";
constexpr char kAppendText[] = "_m";
constexpr char kStdoutName[] = "batch.stdout";
constexpr char kStderrName[] = "batch.stderr";
constexpr char kNotesName[] = "case.txt";

// ------------------------------------------------------------------ random

// SplitMix64: the same numbers from the same seed with every compiler and
// library, which std::uniform_int_distribution does not promise.
std::uint64_t Mix64(std::uint64_t z) {
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

class TRandom {
 public:
  explicit TRandom(std::uint64_t state) : state_(state) {}
  std::uint64_t Next() { return Mix64(state_ += 0x9E3779B97F4A7C15ULL); }
  std::size_t Below(std::size_t n) { return n == 0 ? 0 : std::size_t(Next() % n); }
  bool OneIn(std::size_t n) { return Below(n) == 0; }
  template <class T, std::size_t N>
  const T& Pick(const T (&items)[N]) {
    return items[Below(N)];
  }
  template <class T>
  const T& Pick(const std::vector<T>& items) {
    return items[Below(items.size())];
  }

 private:
  std::uint64_t state_;
};

// Neighbouring cases start far apart in the sequence: seeding with
// seed + index would make case i + 1 the stream of case i shifted by one.
TRandom CaseRandom(std::uint64_t seed, std::uint64_t caseIndex) {
  return TRandom(Mix64(Mix64(seed) ^ caseIndex));
}

// ------------------------------------------------------------------ bytes

// Byte writer, little-endian as the native grid formats and TIFF are on
// every host; the be* members write the big-endian words of netCDF.
class TBytes {
 public:
  TBytes& raw(std::string_view text) {
    out_.append(text);
    return *this;
  }
  TBytes& i16(std::int16_t v) { return le(std::uint16_t(v), 2); }
  TBytes& u16(std::uint16_t v) { return le(v, 2); }
  TBytes& i32(std::int32_t v) { return le(std::uint32_t(v), 4); }
  TBytes& u32(std::uint32_t v) { return le(v, 4); }
  TBytes& f32(float v) { return le(std::bit_cast<std::uint32_t>(v), 4); }
  TBytes& f64(double v) { return le(std::bit_cast<std::uint64_t>(v), 8); }
  TBytes& be32(std::uint32_t v) { return be(v, 4); }
  TBytes& beF32(float v) { return be(std::bit_cast<std::uint32_t>(v), 4); }
  TBytes& beF64(double v) { return be(std::bit_cast<std::uint64_t>(v), 8); }
  TBytes& zerosTo(std::size_t size) {
    out_.resize(std::max(out_.size(), size), '\0');
    return *this;
  }
  std::size_t size() const { return out_.size(); }
  const std::string& str() const { return out_; }
  std::string& str() { return out_; }

 private:
  TBytes& le(std::uint64_t v, int n) {
    for (int i = 0; i < n; ++i) out_.push_back(char((v >> (8 * i)) & 0xFF));
    return *this;
  }
  TBytes& be(std::uint64_t v, int n) {
    for (int i = n - 1; i >= 0; --i) out_.push_back(char((v >> (8 * i)) & 0xFF));
    return *this;
  }
  std::string out_;
};

void PutLE(std::string& bytes, std::size_t offset, std::uint64_t v, int n) {
  for (int i = 0; i < n && offset + i < bytes.size(); ++i) bytes[offset + i] = char((v >> (8 * i)) & 0xFF);
}

void PutBE(std::string& bytes, std::size_t offset, std::uint64_t v, int n) {
  for (int i = 0; i < n && offset + i < bytes.size(); ++i) bytes[offset + i] = char((v >> (8 * (n - 1 - i))) & 0xFF);
}

std::string Printf(const char* format, double v) {
  char text[64];
  std::snprintf(text, sizeof text, format, v);
  return text;
}

std::string DoubleText(double v) {
  if (std::isnan(v)) return std::signbit(v) ? "-nan" : "nan";
  return Printf("%.17g", v);
}

// ------------------------------------------------------------------ the valid run

// Synthetic surfaces in metres, rounded to whole metres so that the files
// come out the same whatever last bits sin and cos give.
double TopographyM(double lonDeg, double latDeg) {
  const double lon = lonDeg * kDegToRad, lat = latDeg * kDegToRad;
  return std::round(-1200.0 + 3600.0 * std::cos(lat) * std::sin(2.0 * lon + 0.5) +
                    1500.0 * std::cos(lat) * std::sin(3.0 * lat) * std::cos(lon));
}
double CrustBaseM(double lonDeg, double latDeg) {
  return -35000.0 - 2.5 * TopographyM(lonDeg, latDeg);
}

enum class TGridFormat { kSurfer6, kSurfer7, kGeosoft, kGeoTiff, kNetcdf, kVrt, kRaw, kAsciiGrid };

enum class TFieldType { kI16, kI32, kF64, kBe32 };

struct THeaderField {
  std::string name;
  std::size_t offset;  // bytes from the start of the file
  TFieldType type;
  // Values at the edge of this field's sense (an offset to the end of the
  // file, a count one too large): drawn as often as the extremes.
  std::vector<std::int64_t> near = {};
};

const std::vector<THeaderField> kSurfer6Fields = {
    {"nx", 4, TFieldType::kI16},     {"ny", 6, TFieldType::kI16},
    {"xMin", 8, TFieldType::kF64},   {"xMax", 16, TFieldType::kF64},
    {"yMin", 24, TFieldType::kF64},  {"yMax", 32, TFieldType::kF64},
    {"zMin", 40, TFieldType::kF64},  {"zMax", 48, TFieldType::kF64},
};
const std::vector<THeaderField> kSurfer7Fields = {
    {"header section length", 4, TFieldType::kI32}, {"version", 8, TFieldType::kI32},
    {"grid section length", 16, TFieldType::kI32},  {"rows", 20, TFieldType::kI32},
    {"columns", 24, TFieldType::kI32},              {"xLL", 28, TFieldType::kF64},
    {"yLL", 36, TFieldType::kF64},                  {"xSize", 44, TFieldType::kF64},
    {"ySize", 52, TFieldType::kF64},                {"zMin", 60, TFieldType::kF64},
    {"zMax", 68, TFieldType::kF64},                 {"rotation", 76, TFieldType::kF64},
    {"blank value", 84, TFieldType::kF64},          {"data section length", 96, TFieldType::kI32},
};
const std::vector<THeaderField> kGeosoftFields = {
    {"element bytes", 0, TFieldType::kI32},    {"sign flag", 4, TFieldType::kI32},
    {"elements per vector", 8, TFieldType::kI32}, {"vectors", 12, TFieldType::kI32},
    {"orientation", 16, TFieldType::kI32},     {"element spacing", 20, TFieldType::kF64},
    {"vector spacing", 28, TFieldType::kF64},  {"x origin", 36, TFieldType::kF64},
    {"y origin", 44, TFieldType::kF64},        {"rotation", 52, TFieldType::kF64},
    {"base", 60, TFieldType::kF64},            {"multiplier", 68, TFieldType::kF64},
};
constexpr std::size_t kSurfer6ValuesOffset = 56;
constexpr std::size_t kSurfer7ValuesOffset = 100;
constexpr std::size_t kGeosoftValuesOffset = 512;

// A grid file of the run with what the mutations aim at: its header
// fields, where its node values lie and how they are stored.
struct TGridFile {
  std::string name;
  TGridFormat format;
  std::string bytes;
  std::vector<THeaderField> fields;
  std::size_t valuesOffset = 0;  // the first node value; for a text grid, its first value line
  std::size_t valueBytes = 0;    // bytes per node value; 0 in a text grid
  bool bigEndian = false;
  std::string columnsField, rowsField;  // names of the node counts in `fields`
};

const char* FormatName(TGridFormat format) {
  switch (format) {
    case TGridFormat::kSurfer6: return "Surfer 6";
    case TGridFormat::kSurfer7: return "Surfer 7";
    case TGridFormat::kGeosoft: return "Geosoft 16-bit";
    case TGridFormat::kGeoTiff: return "GeoTIFF";
    case TGridFormat::kNetcdf: return "netCDF";
    case TGridFormat::kVrt: return "VRT";
    case TGridFormat::kRaw: return "raw values";
    case TGridFormat::kAsciiGrid: return "ESRI ASCII";
  }
  return "?";
}

TGridFile GridOf(std::string name, TGridFormat format, std::string bytes) {
  TGridFile grid;
  grid.name = std::move(name), grid.format = format, grid.bytes = std::move(bytes);
  return grid;
}

TGridFile NativeGrid(std::string name, TGridFormat format, std::string bytes) {
  TGridFile grid = GridOf(std::move(name), format, std::move(bytes));
  switch (format) {
    case TGridFormat::kSurfer6:
      grid.fields = kSurfer6Fields, grid.valuesOffset = kSurfer6ValuesOffset, grid.valueBytes = 4;
      grid.columnsField = "nx", grid.rowsField = "ny";
      break;
    case TGridFormat::kSurfer7:
      grid.fields = kSurfer7Fields, grid.valuesOffset = kSurfer7ValuesOffset, grid.valueBytes = 8;
      grid.columnsField = "columns", grid.rowsField = "rows";
      break;
    default:
      grid.fields = kGeosoftFields, grid.valuesOffset = kGeosoftValuesOffset, grid.valueBytes = 2;
      grid.columnsField = "elements per vector", grid.rowsField = "vectors";
      break;
  }
  return grid;
}

// Topography, Surfer 7: 2-degree global, 181 x 91 nodes, one blank node.
TGridFile Surfer7Topography() {
  constexpr int kColumns = 181, kRows = 91;
  constexpr double kStepDeg = 2.0;
  TBytes b;
  b.raw("DSRB").i32(4).i32(1);
  b.raw("GRID").i32(72).i32(kRows).i32(kColumns);
  b.f64(-180.0).f64(-90.0).f64(kStepDeg).f64(kStepDeg);
  b.f64(-5000.0).f64(4000.0).f64(0.0).f64(kSurferBlank);
  b.raw("DATA").i32(kColumns * kRows * 8);
  for (int iy = 0; iy < kRows; ++iy) {
    for (int ix = 0; ix < kColumns; ++ix) {
      const bool blank = ix == 150 && iy == 20;
      b.f64(blank ? kSurferBlank : TopographyM(-180.0 + ix * kStepDeg, -90.0 + iy * kStepDeg));
    }
  }
  return NativeGrid("top7.grd", TGridFormat::kSurfer7, b.str());
}

// Crust base, Surfer 6: 3-degree global, 121 x 61 nodes, one blank node.
TGridFile Surfer6CrustBase() {
  constexpr int kColumns = 121, kRows = 61;
  constexpr double kStepDeg = 3.0;
  TBytes b;
  b.raw("DSBB").i16(kColumns).i16(kRows);
  b.f64(-180.0).f64(180.0).f64(-90.0).f64(90.0).f64(-45000.0).f64(-30000.0);
  for (int iy = 0; iy < kRows; ++iy) {
    for (int ix = 0; ix < kColumns; ++ix) {
      const bool blank = ix == 40 && iy == 45;
      b.f32(float(blank ? kSurferBlank : CrustBaseM(-180.0 + ix * kStepDeg, -90.0 + iy * kStepDeg)));
    }
  }
  return NativeGrid("base6.grd", TGridFormat::kSurfer6, b.str());
}

// Geosoft 16-bit header up to the values, which start at byte 512.
TBytes GeosoftHeader(std::int32_t perVector, std::int32_t vectors, std::int32_t orientation,
                     double elementStepDeg, double vectorStepDeg, double xMinDeg, double yMinDeg,
                     double base, double multiplier) {
  TBytes b;
  b.i32(2).i32(0).i32(perVector).i32(vectors).i32(orientation);
  b.f64(elementStepDeg).f64(vectorStepDeg).f64(xMinDeg).f64(yMinDeg).f64(0.0).f64(base).f64(multiplier);
  b.zerosTo(kGeosoftValuesOffset);
  return b;
}

// A deep surface, Geosoft with rows as vectors: 5-degree global, 73 x 37
// nodes, about -60 km (value = raw / 1 - 60000).
TGridFile GeosoftDeepSurface() {
  constexpr int kColumns = 73, kRows = 37;
  constexpr double kStepDeg = 5.0;
  TBytes b = GeosoftHeader(kColumns, kRows, 1, kStepDeg, kStepDeg, -180.0, -90.0, -60000.0, 1.0);
  for (int iy = 0; iy < kRows; ++iy) {
    for (int ix = 0; ix < kColumns; ++ix) {
      const double lon = (-180.0 + ix * kStepDeg) * kDegToRad, lat = (-90.0 + iy * kStepDeg) * kDegToRad;
      b.i16(std::int16_t(std::lround(2000.0 * std::sin(lon) * std::cos(lat))));
    }
  }
  return NativeGrid("deep16.grd", TGridFormat::kGeosoft, b.str());
}

// Density of the deepest layer, Geosoft with columns as vectors: 6-degree
// global, 61 columns of 31 nodes, g/cm3 about 3.3 (raw / 1000 + 3.3).
TGridFile GeosoftDensity() {
  constexpr int kColumns = 61, kRows = 31;
  constexpr double kStepDeg = 6.0;
  TBytes b = GeosoftHeader(kRows, kColumns, -1, kStepDeg, kStepDeg, -180.0, -90.0, 3.3, 1000.0);
  for (int ix = 0; ix < kColumns; ++ix) {
    for (int iy = 0; iy < kRows; ++iy) {
      const double lat = (-90.0 + iy * kStepDeg) * kDegToRad;
      b.i16(std::int16_t(std::lround(50.0 * std::cos(2.0 * lat) + ix)));
    }
  }
  return NativeGrid("dens16.grd", TGridFormat::kGeosoft, b.str());
}

// ---- grids that the batch reads through GDAL, written here byte by byte

// TIFF field types (TIFF 6.0): SHORT, LONG, DOUBLE and ASCII are used.
constexpr std::uint16_t kTiffAscii = 2, kTiffShort = 3, kTiffLong = 4, kTiffDouble = 12;
constexpr std::int16_t kTiffNoData = -32768;

struct TTiffEntry {
  std::uint16_t tag;
  const char* name;
  std::uint16_t type;
  std::uint32_t count;
  std::uint32_t value;  // the value itself when it fits in four bytes
  std::string data;     // else the bytes the entry points to
};

// Topography as a GeoTIFF: little-endian, one image of 181 x 91 Int16
// nodes (2 degrees, rows from the north), uncompressed, in strips of 32
// rows (32, 32, 27), nodes as points (GTRasterTypeGeoKey 2: the tie point
// is the node at 180 W, 90 N), geographic WGS 84 (EPSG 4326), NoData
// -32768 on one node. Layout: the 8-byte header, the one IFD, the arrays
// the IFD points to, then the strips.
TGridFile GeoTiffTopography(const std::string& name) {
  constexpr int kColumns = 181, kRows = 91, kRowsPerStrip = 32;
  constexpr double kStepDeg = 2.0;
  constexpr int kStrips = (kRows + kRowsPerStrip - 1) / kRowsPerStrip;
  std::string strips[kStrips];
  for (int row = 0; row < kRows; ++row) {
    TBytes line;
    const double latDeg = 90.0 - row * kStepDeg;
    for (int ix = 0; ix < kColumns; ++ix) {
      const bool blank = ix == 150 && row == 70;
      line.i16(blank ? kTiffNoData : std::int16_t(TopographyM(-180.0 + ix * kStepDeg, latDeg)));
    }
    strips[row / kRowsPerStrip] += line.str();
  }
  TBytes scale, tie, keys;
  scale.f64(kStepDeg).f64(kStepDeg).f64(0.0);
  tie.f64(0.0).f64(0.0).f64(0.0).f64(-180.0).f64(90.0).f64(0.0);
  // Version 1.1.0 with three keys: model type geographic, raster type
  // point, geographic type 4326.
  for (const std::uint16_t k : {1, 1, 0, 3, 1024, 0, 1, 2, 1025, 0, 1, 2, 2048, 0, 1, 4326}) keys.u16(k);
  std::vector<TTiffEntry> entries = {
      {256, "ImageWidth", kTiffShort, 1, kColumns, {}},
      {257, "ImageLength", kTiffShort, 1, kRows, {}},
      {258, "BitsPerSample", kTiffShort, 1, 16, {}},
      {259, "Compression", kTiffShort, 1, 1, {}},
      {262, "PhotometricInterpretation", kTiffShort, 1, 1, {}},
      {273, "StripOffsets", kTiffLong, kStrips, 0, std::string(4 * kStrips, '\0')},
      {277, "SamplesPerPixel", kTiffShort, 1, 1, {}},
      {278, "RowsPerStrip", kTiffShort, 1, kRowsPerStrip, {}},
      {279, "StripByteCounts", kTiffLong, kStrips, 0, std::string(4 * kStrips, '\0')},
      {284, "PlanarConfiguration", kTiffShort, 1, 1, {}},
      {339, "SampleFormat", kTiffShort, 1, 2, {}},
      {33550, "ModelPixelScale", kTiffDouble, 3, 0, scale.str()},
      {33922, "ModelTiepoint", kTiffDouble, 6, 0, tie.str()},
      {34735, "GeoKeyDirectory", kTiffShort, 16, 0, keys.str()},
      {42113, "GDAL_NODATA", kTiffAscii, 7, 0, std::string("-32768\0", 7)},
  };
  const std::size_t ifdBytes = 2 + 12 * entries.size() + 4;
  std::size_t at = 8 + ifdBytes;
  std::vector<std::size_t> dataAt(entries.size(), 0);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (entries[i].data.empty()) continue;
    dataAt[i] = at;
    at += (entries[i].data.size() + 3) / 4 * 4;
  }
  const std::size_t firstStrip = at;
  for (TTiffEntry& e : entries) {
    if (e.tag != 273 && e.tag != 279) continue;
    TBytes list;
    std::size_t stripAt = firstStrip;
    for (const std::string& strip : strips) {
      list.u32(std::uint32_t(e.tag == 273 ? stripAt : strip.size()));
      stripAt += strip.size();
    }
    e.data = list.str();
  }

  TBytes b;
  b.raw("II").u16(42).u32(8);
  b.u16(std::uint16_t(entries.size()));
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const TTiffEntry& e = entries[i];
    b.u16(e.tag).u16(e.type).u32(e.count).u32(e.data.empty() ? e.value : std::uint32_t(dataAt[i]));
  }
  b.u32(0);  // no next IFD
  for (std::size_t i = 0; i < entries.size(); ++i)
    if (!entries[i].data.empty()) b.raw(entries[i].data).zerosTo(dataAt[i] + (entries[i].data.size() + 3) / 4 * 4);
  for (const std::string& strip : strips) b.raw(strip);

  TGridFile grid = GridOf(name, TGridFormat::kGeoTiff, b.str());
  const std::int64_t size = std::int64_t(grid.bytes.size());
  const std::vector<std::int64_t> offsets = {0, 8, std::int64_t(firstStrip), size - 1, size, size + 1, size - 2};
  grid.fields = {
      {"first IFD offset", 4, TFieldType::kI32, offsets},
      {"IFD entry count", 8, TFieldType::kI16, {0, 1, 14, 16, 4096, 65535}},
      {"next IFD offset", 8 + ifdBytes - 4, TFieldType::kI32, {8, 10, size - 4, size}},
  };
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const TTiffEntry& e = entries[i];
    const std::size_t entryAt = 10 + 12 * i;
    const std::string n = e.name;
    grid.fields.push_back({n + " type", entryAt + 2, TFieldType::kI16, {0, 1, 2, 3, 4, 5, 11, 12, 13, 16, 17, 65535}});
    grid.fields.push_back({n + " count", entryAt + 4, TFieldType::kI32,
                           {0, std::int64_t(e.count) - 1, std::int64_t(e.count) + 1, 1 << 24, size, 0x40000000}});
    std::vector<std::int64_t> values = e.data.empty() ? std::vector<std::int64_t>{0, 1, 2, 65535, 65536} : offsets;
    if (e.tag == 258) values = {0, 1, 8, 12, 24, 32, 64, 65535};
    if (e.tag == 259) values = {2, 5, 7, 8, 32773, 32946, 34887, 34925, 50000, 65535};  // codecs on raw bytes
    if (e.tag == 277) values = {0, 2, 3, 4, 65535};
    if (e.tag == 278) values = {0, 1, 31, 33, 91, 92, 65535};
    if (e.tag == 339) values = {0, 1, 3, 4, 5, 6, 65535};
    grid.fields.push_back({n + " value", entryAt + 8, TFieldType::kI32, values});
  }
  for (int s = 0; s < kStrips; ++s) {
    grid.fields.push_back({"strip " + std::to_string(s) + " offset", dataAt[5] + 4 * std::size_t(s),
                           TFieldType::kI32, offsets});
    grid.fields.push_back({"strip " + std::to_string(s) + " byte count", dataAt[8] + 4 * std::size_t(s),
                           TFieldType::kI32, {0, 1, std::int64_t(strips[s].size()) - 1,
                                              std::int64_t(strips[s].size()) + 1, size, 0x7FFFFFFF}});
  }
  grid.fields.push_back({"pixel width", dataAt[11], TFieldType::kF64});
  grid.fields.push_back({"pixel height", dataAt[11] + 8, TFieldType::kF64});
  grid.fields.push_back({"tie point longitude", dataAt[12] + 24, TFieldType::kF64});
  grid.fields.push_back({"tie point latitude", dataAt[12] + 32, TFieldType::kF64});
  grid.fields.push_back({"GeoKey count", dataAt[13] + 6, TFieldType::kI16, {0, 4, 5, 100, 65535}});
  grid.fields.push_back({"model type key", dataAt[13] + 14, TFieldType::kI16, {0, 1, 3, 32767, 65535}});
  grid.fields.push_back({"raster type key", dataAt[13] + 22, TFieldType::kI16, {0, 1, 3, 65535}});
  grid.fields.push_back({"geographic type key location", dataAt[13] + 26, TFieldType::kI16, {34735, 34736, 34737, 33550}});
  grid.fields.push_back({"geographic type key", dataAt[13] + 30, TFieldType::kI16, {0, 4267, 3857, 32767, 65535}});
  grid.valuesOffset = firstStrip;
  grid.valueBytes = 2;
  grid.columnsField = "ImageWidth value", grid.rowsField = "ImageLength value";
  return grid;
}

// netCDF names and character attributes: a length, the bytes, zeros to a
// multiple of four.
void NetcdfText(TBytes& b, std::string_view text) {
  b.be32(std::uint32_t(text.size())).raw(text);
  b.zerosTo((b.size() + 3) / 4 * 4);
}

// The crust base as a classic netCDF file (CDF-1, big-endian), as GMT
// writes one: dimensions lon (121) and lat (61), coordinate variables of
// doubles in degrees (3-degree nodes, south first), z(lat, lon) of floats
// with a _FillValue on one node.
TGridFile NetcdfCrustBase(const std::string& name) {
  constexpr int kColumns = 121, kRows = 61;
  constexpr double kStepDeg = 3.0;
  constexpr float kFill = -99999.0f;
  constexpr std::uint32_t kDimensionTag = 0x0A, kVariableTag = 0x0B, kAttributeTag = 0x0C;
  constexpr std::uint32_t kChar = 2, kFloat = 5, kDouble = 6;
  std::vector<THeaderField> fields;
  const auto field = [&](TBytes& b, const std::string& what, std::vector<std::int64_t> near) {
    fields.push_back({what, b.size(), TFieldType::kBe32, std::move(near)});
  };
  const std::vector<std::int64_t> lengths = {0, 1, 2, 120, 122, 1 << 20, 0x7FFFFFFF, 0xFFFFFFFF};
  const std::vector<std::int64_t> types = {0, 1, 2, 3, 4, 5, 6, 7, 10, 12, 0xFFFFFFFF};

  TBytes b;
  b.raw(std::string_view("CDF\x01", 4));
  field(b, "record count", {1, 2, 61, 1 << 20, 0xFFFFFFFF});
  b.be32(0);
  field(b, "dimension list tag", {0, kVariableTag, kAttributeTag});
  b.be32(kDimensionTag);
  field(b, "dimension count", {0, 1, 3, 1 << 20, 0x7FFFFFFF});
  b.be32(2);
  field(b, "lon name length", {0, 4, 255, 0x7FFFFFFF});
  NetcdfText(b, "lon");
  field(b, "lon length", lengths);
  b.be32(kColumns);
  NetcdfText(b, "lat");
  field(b, "lat length", lengths);
  b.be32(kRows);
  field(b, "global attribute list tag", {0, kDimensionTag, kVariableTag});
  b.be32(kAttributeTag);
  b.be32(1);
  NetcdfText(b, "Conventions");
  field(b, "Conventions type", types);
  b.be32(kChar);
  field(b, "Conventions length", {0, 7, 100, 1 << 20, 0x7FFFFFFF, 0xFFFFFFFF});
  NetcdfText(b, "CF-1.7");  // its length is the attribute's value count
  field(b, "variable list tag", {0, kDimensionTag, kAttributeTag});
  b.be32(kVariableTag);
  field(b, "variable count", {0, 1, 2, 4, 1 << 20, 0x7FFFFFFF});
  b.be32(3);

  struct TVariable {
    const char* name;
    std::vector<std::uint32_t> dimensions;
    const char* units;
    std::uint32_t type;
    std::uint32_t bytes;
  };
  const TVariable variables[] = {
      {"lon", {0}, "degrees_east", kDouble, kColumns * 8},
      {"lat", {1}, "degrees_north", kDouble, kRows * 8},
      {"z", {1, 0}, nullptr, kFloat, kColumns * kRows * 4},
  };
  std::vector<std::size_t> beginAt;
  for (const TVariable& v : variables) {
    const std::string n = v.name;
    NetcdfText(b, v.name);
    field(b, n + " rank", {0, 1, 2, 3, 1024, 0x7FFFFFFF});
    b.be32(std::uint32_t(v.dimensions.size()));
    for (std::size_t k = 0; k < v.dimensions.size(); ++k) {
      field(b, n + " dimension " + std::to_string(k), {0, 1, 2, 0xFFFFFFFF});
      b.be32(v.dimensions[k]);
    }
    b.be32(kAttributeTag);
    field(b, n + " attribute count", {0, 2, 3, 1 << 20});
    if (v.units != nullptr) {
      b.be32(1);
      NetcdfText(b, "units");
      b.be32(kChar);
      field(b, n + " units length", {0, 100, 1 << 20, 0x7FFFFFFF});
      NetcdfText(b, v.units);
    } else {
      b.be32(1);
      NetcdfText(b, "_FillValue");
      field(b, "_FillValue type", types);
      b.be32(kFloat);
      field(b, "_FillValue count", {0, 2, 1 << 20, 0x7FFFFFFF});
      b.be32(1).beF32(kFill);
    }
    field(b, n + " type", types);
    b.be32(v.type);
    field(b, n + " size", {0, std::int64_t(v.bytes) - 4, std::int64_t(v.bytes) + 4, 0x7FFFFFFF});
    b.be32(v.bytes);
    beginAt.push_back(b.size());
    b.be32(0);  // where its values begin, known below
  }
  std::uint32_t begin = std::uint32_t(b.size());
  for (std::size_t i = 0; i < std::size(variables); ++i) {
    PutBE(b.str(), beginAt[i], begin, 4);
    begin += variables[i].bytes;
  }
  const std::size_t headerBytes = b.size();
  for (int ix = 0; ix < kColumns; ++ix) b.beF64(-180.0 + ix * kStepDeg);
  for (int iy = 0; iy < kRows; ++iy) b.beF64(-90.0 + iy * kStepDeg);
  const std::size_t zAt = b.size();
  for (int iy = 0; iy < kRows; ++iy)
    for (int ix = 0; ix < kColumns; ++ix) {
      const bool blank = ix == 40 && iy == 45;
      b.beF32(blank ? kFill : float(CrustBaseM(-180.0 + ix * kStepDeg, -90.0 + iy * kStepDeg)));
    }

  TGridFile grid = GridOf(name, TGridFormat::kNetcdf, b.str());
  const std::int64_t size = std::int64_t(grid.bytes.size());
  for (std::size_t i = 0; i < std::size(variables); ++i)
    grid.fields.push_back({std::string(variables[i].name) + " begin", beginAt[i], TFieldType::kBe32,
                           {0, 4, std::int64_t(headerBytes) - 4, std::int64_t(zAt), size - 4, size, 0x7FFFFFFF}});
  grid.fields.insert(grid.fields.end(), fields.begin(), fields.end());
  grid.valuesOffset = zAt;
  grid.valueBytes = 4;
  grid.bigEndian = true;
  grid.columnsField = "lon length", grid.rowsField = "lat length";
  return grid;
}

// A VRT's text is all header: byte damage may land anywhere in it.
TGridFile VrtOf(const std::string& name, const std::string& text) {
  TGridFile grid = GridOf(name, TGridFormat::kVrt, text);
  grid.valuesOffset = text.size();
  return grid;
}

// WGS 84 as WKT, so that no look-up in a coordinate system database is needed.
constexpr char kWgs84Wkt[] =
    "GEOGCS[&quot;WGS 84&quot;,DATUM[&quot;WGS_1984&quot;,SPHEROID[&quot;WGS 84&quot;,6378137,298.257223563]],"
    "PRIMEM[&quot;Greenwich&quot;,0],UNIT[&quot;degree&quot;,0.0174532925199433]]";

// The deep surface as raw values: 73 x 37 Int16 little-endian nodes of 5
// degrees, rows from the north, about 0 .. +-2000 (the VRT below adds
// -60000 m), with no header.
TGridFile RawDeepSurface(const std::string& name) {
  constexpr int kColumns = 73, kRows = 37;
  constexpr double kStepDeg = 5.0;
  TBytes b;
  for (int row = 0; row < kRows; ++row)
    for (int ix = 0; ix < kColumns; ++ix) {
      const double lon = (-180.0 + ix * kStepDeg) * kDegToRad, lat = (90.0 - row * kStepDeg) * kDegToRad;
      b.i16(std::int16_t(std::lround(2000.0 * std::sin(lon) * std::cos(lat))));
    }
  TGridFile grid = GridOf(name, TGridFormat::kRaw, b.str());
  grid.valueBytes = 2;
  return grid;
}

// A VRT whose one band is the raw file above (VRTRawRasterBand), offset by
// -60000 m: pixel centres on the 5-degree nodes.
TGridFile RawVrt(const std::string& name, const std::string& rawName) {
  const std::string text =
      "<VRTDataset rasterXSize=\"73\" rasterYSize=\"37\">\n"
      "  <SRS>" + std::string(kWgs84Wkt) + "</SRS>\n"
      "  <GeoTransform>-182.5, 5, 0, 92.5, 0, -5</GeoTransform>\n"
      "  <VRTRasterBand dataType=\"Int16\" band=\"1\" subClass=\"VRTRawRasterBand\">\n"
      "    <Offset>-60000</Offset>\n"
      "    <Scale>1</Scale>\n"
      "    <SourceFilename relativeToVRT=\"1\">" + rawName + "</SourceFilename>\n"
      "    <ImageOffset>0</ImageOffset>\n"
      "    <PixelOffset>2</PixelOffset>\n"
      "    <LineOffset>146</LineOffset>\n"
      "    <ByteOrder>LSB</ByteOrder>\n"
      "  </VRTRasterBand>\n"
      "</VRTDataset>\n";
  return VrtOf(name, text);
}

// A VRT of the GeoTIFF topography through a SimpleSource, window for window.
TGridFile SimpleSourceVrt(const std::string& name, const std::string& sourceName) {
  const std::string text =
      "<VRTDataset rasterXSize=\"181\" rasterYSize=\"91\">\n"
      "  <SRS>" + std::string(kWgs84Wkt) + "</SRS>\n"
      "  <GeoTransform>-181, 2, 0, 91, 0, -2</GeoTransform>\n"
      "  <VRTRasterBand dataType=\"Int16\" band=\"1\">\n"
      "    <NoDataValue>-32768</NoDataValue>\n"
      "    <SimpleSource>\n"
      "      <SourceFilename relativeToVRT=\"1\">" + sourceName + "</SourceFilename>\n"
      "      <SourceBand>1</SourceBand>\n"
      "      <SrcRect xOff=\"0\" yOff=\"0\" xSize=\"181\" ySize=\"91\"/>\n"
      "      <DstRect xOff=\"0\" yOff=\"0\" xSize=\"181\" ySize=\"91\"/>\n"
      "    </SimpleSource>\n"
      "  </VRTRasterBand>\n"
      "</VRTDataset>\n";
  return VrtOf(name, text);
}

// The density as an ESRI ASCII grid: 61 x 31 nodes of 6 degrees given by
// their centres, rows from the north, g/cm3 with three decimals, one
// NODATA node.
TGridFile AsciiDensity(const std::string& name) {
  constexpr int kColumns = 61, kRows = 31;
  constexpr double kStepDeg = 6.0;
  std::string text =
      "ncols 61\nnrows 31\nxllcenter -180\nyllcenter -90\ncellsize 6\nNODATA_value -9999\n";
  const std::size_t valuesAt = text.size();
  for (int row = 0; row < kRows; ++row) {
    const double lat = (90.0 - row * kStepDeg) * kDegToRad;
    for (int ix = 0; ix < kColumns; ++ix) {
      const bool blank = ix == 20 && row == 5;
      const long raw = std::lround(50.0 * std::cos(2.0 * lat) + ix);
      char value[32];
      std::snprintf(value, sizeof value, "%s%ld.%03ld", ix == 0 ? "" : " ", 3 + (300 + raw) / 1000,
                    (300 + raw) % 1000);
      text += blank ? (ix == 0 ? "-9999" : " -9999") : value;
    }
    text += "\n";
  }
  TGridFile grid = GridOf(name, TGridFormat::kAsciiGrid, text);
  grid.valuesOffset = valuesAt;
  return grid;
}

struct TStation {
  double lonDeg, latDeg;
};
// On land and at sea, next to the antimeridian and a pole, off the nodes.
constexpr TStation kStations[] = {{10.5, 47.25}, {-150.0, 40.0}, {179.9, -35.5}, {0.3, -89.5}, {-60.25, -15.75}};
constexpr int kStationCount = int(std::size(kStations));

std::string StationLine(const TStation& s, int number) {
  const double groundM = TopographyM(s.lonDeg, s.latDeg);
  const double heightM = groundM > 0 ? groundM + 2.0 : 5.0;
  char line[128];
  std::snprintf(line, sizeof line, "%11.6f %11.6f %5d %9.2f\n", s.lonDeg, s.latDeg, number, heightM);
  return line;
}

std::string BasePoints() {
  std::string text = "/ synthetic stations of the mutation runs\nLINE 1   longitude   latitude  point  height\n";
  int number = 1;
  for (const TStation& s : kStations) text += StationLine(s, number++);
  return text;
}

// Four surfaces, uppermost first: topography (Surfer 7); sea level with
// rock above it; crust base (Surfer 6) with crust above it; a deep surface
// (Geosoft rows) whose layer takes its density from a grid (Geosoft
// columns). Ten-degree segments keep one run far below a second, even
// under AddressSanitizer. The segment size comes first: a line that ends
// the section above it drops the point file too, and the run is refused at
// once instead of going on with the default size, which is valid but slow.
std::vector<std::string> BaseSettings() {
  return {
      "[frmMain]",
      "segsize=36000",
      std::string("datafile=") + kPointsName,
      std::string("appendtext=") + kAppendText,
      "gravc=0.006673",
      "t3dist=0",
      "t4dist=180",
      "R=6371001",
      "LonFrom=0",
      "LonTo=360",
      "incr=1",
      "priority=0",
      "number=2",
      "nlayer=4",
      "sum=0",
      "cell_row-1_col-1= ",
      "cell_row-1_col-2=top7.grd",
      "cell_row-1_col-3= ",
      "cell_row-1_col-4= ",
      "cell_row-2_col-1=0",
      "cell_row-2_col-2= ",
      "cell_row-2_col-3=2.67",
      "cell_row-2_col-4= ",
      "cell_row-3_col-1= ",
      "cell_row-3_col-2=base6.grd",
      "cell_row-3_col-3=2.67",
      "cell_row-3_col-4= ",
      "cell_row-4_col-1= ",
      "cell_row-4_col-2=deep16.grd",
      "cell_row-4_col-3= ",
      "cell_row-4_col-4=dens16.grd",
  };
}

// ------------------------------------------------------------------ a case

enum class TNodeKind { kDirectory, kFifo, kSymlink };

enum class TVariant { kNative, kGdal, kGdalNames };

// A file-system object the case needs beside its files.
struct TSpecialNode {
  std::string name;
  TNodeKind kind;
  std::string target;  // of a symlink
};

struct TCase {
  std::vector<std::string> settingsLines;
  bool settingsByteOrderMark = false;
  bool settingsCrLf = false;
  bool settingsFinalBreak = true;
  std::string points;
  std::vector<TGridFile> grids;
  std::vector<TSpecialNode> nodes;
  std::vector<std::string> options;         // before the settings file
  std::string settingsArgument = kSettingsName;
  std::vector<std::string> extraArguments;  // after it
  std::vector<std::string> notes;           // what was done, for the report
  TVariant variant = TVariant::kNative;
  std::vector<std::string> surfaceNames;    // the grids of layer rows 1, 3 and 4, as the rows name them
  std::string densityName;                  // the density grid of row 4

  std::vector<std::string> Arguments() const {
    std::vector<std::string> args = options;
    args.push_back(settingsArgument);
    args.insert(args.end(), extraArguments.begin(), extraArguments.end());
    return args;
  }
};

// The base runs. The native one reads every grid with the program's own
// readers; the others read through GDAL: a GeoTIFF, a classic netCDF file,
// a VRT of raw values and an ESRI ASCII grid, or a VRT of the GeoTIFF and
// the netCDF variable named as a subdataset. A batch built without GDAL
// refuses these, which a case may do.

const char* VariantName(TVariant variant) {
  switch (variant) {
    case TVariant::kNative: return "native";
    case TVariant::kGdal: return "GeoTIFF, netCDF, raw VRT, ASCII";
    case TVariant::kGdalNames: return "VRT of a GeoTIFF, netCDF subdataset, ASCII";
  }
  return "?";
}

constexpr TVariant kVariants[] = {TVariant::kNative, TVariant::kGdal, TVariant::kGdalNames};

void SetSetting(TCase& c, std::string_view key, const std::string& value);

TCase BaseCase(TVariant variant = TVariant::kNative) {
  TCase c;
  c.variant = variant;
  c.settingsLines = BaseSettings();
  c.points = BasePoints();
  switch (variant) {
    case TVariant::kNative:
      c.grids = {Surfer7Topography(), Surfer6CrustBase(), GeosoftDeepSurface(), GeosoftDensity()};
      c.surfaceNames = {"top7.grd", "base6.grd", "deep16.grd"};
      c.densityName = "dens16.grd";
      break;
    case TVariant::kGdal:
      c.grids = {GeoTiffTopography("top.tif"), NetcdfCrustBase("base.nc"), RawVrt("deep.vrt", "deep.raw"),
                 RawDeepSurface("deep.raw"), AsciiDensity("dens.asc")};
      c.surfaceNames = {"top.tif", "base.nc", "deep.vrt"};
      c.densityName = "dens.asc";
      break;
    case TVariant::kGdalNames:
      c.grids = {SimpleSourceVrt("top.vrt", "top.tif"), GeoTiffTopography("top.tif"), NetcdfCrustBase("base.nc"),
                 GeosoftDeepSurface(), AsciiDensity("dens.asc")};
      c.surfaceNames = {"top.vrt", "NETCDF:\"base.nc\":z", "deep16.grd"};
      c.densityName = "dens.asc";
      break;
  }
  SetSetting(c, "cell_row-1_col-2", c.surfaceNames[0]);
  SetSetting(c, "cell_row-3_col-2", c.surfaceNames[1]);
  SetSetting(c, "cell_row-4_col-2", c.surfaceNames[2]);
  SetSetting(c, "cell_row-4_col-4", c.densityName);
  c.options = {"--threads", "1"};
  return c;
}

// The line of `key=...` (first of them), or -1.
int FindKey(const TCase& c, std::string_view key) {
  for (std::size_t i = 0; i < c.settingsLines.size(); ++i) {
    const std::string& line = c.settingsLines[i];
    if (line.size() > key.size() && line.compare(0, key.size(), key) == 0 && line[key.size()] == '=')
      return int(i);
  }
  return -1;
}

std::string SettingValue(const TCase& c, std::string_view key) {
  const int at = FindKey(c, key);
  return at < 0 ? std::string() : c.settingsLines[std::size_t(at)].substr(key.size() + 1);
}

void SetSetting(TCase& c, std::string_view key, const std::string& value) {
  const std::string line = std::string(key) + "=" + value;
  if (const int at = FindKey(c, key); at >= 0)
    c.settingsLines[std::size_t(at)] = line;
  else
    c.settingsLines.push_back(line);
}

std::string SettingsText(const TCase& c) {
  std::string text = c.settingsByteOrderMark ? "\xEF\xBB\xBF" : "";
  const char* lineBreak = c.settingsCrLf ? "\r\n" : "\n";
  for (std::size_t i = 0; i < c.settingsLines.size(); ++i) {
    text += c.settingsLines[i];
    if (i + 1 < c.settingsLines.size() || c.settingsFinalBreak) text += lineBreak;
  }
  return text;
}

// The names the run writes beside its point file, from the settings as they
// stand (see the result file's naming: stem of the point file, then the
// appended text).
std::string OutputName(const TCase& c, const char* ending) {
  std::string dataFile = SettingValue(c, "datafile");
  const std::size_t slash = dataFile.find_last_of('/'), dot = dataFile.find_last_of('.');
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) dataFile.resize(dot);
  return dataFile + SettingValue(c, "appendtext") + ending;
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find('\n', start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

std::string JoinLines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

std::string RandomBytes(TRandom& random, std::size_t count) {
  std::string bytes(count, '\0');
  for (char& b : bytes) b = char(random.Next() & 0xFF);
  return bytes;
}

// ------------------------------------------------------------------ extreme values

const double kExtremeDoubles[] = {
    0.0, -0.0, -1.0, 1.0, 1e-320, 4.9e-324, 1e-300, 1e-10, 1e-9, 360.0, -360.0, 720.0,
    1e6, -1e6, 1e305, -1e305, 1e308, -1e308, std::numeric_limits<double>::max(),
    -std::numeric_limits<double>::max(), kNaN, -kNaN, kInf, -kInf, kSurferBlank,
    std::bit_cast<double>(std::uint64_t{0x7FF0000000000001}),  // a signalling NaN
};
const std::int32_t kExtremeInt32[] = {0, -1, 1, 2, 3, 32766, 32767, 32768, 65535, 65536, -32767, -32768,
                                      0x7FFFFFFF, std::numeric_limits<std::int32_t>::min(), 0x40000000};
const std::int16_t kExtremeInt16[] = {0, -1, 1, 2, 3, 32767, -32768, -32767, 32766, 0x4000};

const float kExtremeFloats[] = {
    float(kNaN), -float(kNaN), float(kInf), -float(kInf), 1e38f, -1e38f,
    std::numeric_limits<float>::max(), -std::numeric_limits<float>::max(), float(kSurferBlank),
    1e-45f, 0.0f, -0.0f, 3.0e38f,
};
const double kExtremeGridDoubles[] = {
    kNaN, -kNaN, kInf, -kInf, 1e38, -1e38, 1e39, -1e39, 1e300, -1e300, 1e308, -1e308,
    std::numeric_limits<double>::max(), kSurferBlank, 4.9e-324, 0.0, 3.5e38,
};
const std::int16_t kExtremeRaws[] = {-32768, -32767, -32766, 32767, 0, -1, 1};

// Numbers as text where a number is expected, and texts that are not one.
const char* const kExtremeTexts[] = {
    "0", "-0", "-1", "1", "1e-320", "4.9e-324", "1e-300", "1e305", "-1e305", "1e308", "-1e308",
    "1.7976931348623157e308", "1.8e308", "nan", "NaN", "-nan", "inf", "-inf", "Infinity", "1e999",
    "-1e999", "2147483647", "2147483648", "-2147483648", "-2147483649", "0x7fffffff", "0xffffffff",
    "0x80000000", "99999999999999999999", "", " ", "abc", "1,5", "1e", "0x", "+", "-", ".", "1..2",
    "--1", "180", "360", "720", "-360", "-6371001", "0x1p1023", "1e400000000",
    // Just inside or beside the limits of a zone: a pole's ring, the 90-degree
    // seam, an azimuth span or a zone far thinner than one segment.
    "1e-9", "0.0001", "89.9999999", "90", "90.0000001", "179.9999999", "359.9999999",
};

// ------------------------------------------------------------------ mutations

TGridFile& PickGrid(TCase& c, TRandom& random) { return c.grids[random.Below(c.grids.size())]; }

// A grid that `wanted` accepts, or null when the case has none. The native
// run's grids all pass the tests of the mutations that came first, so that
// their cases draw the same numbers as before the other formats came.
template <class Wanted>
TGridFile* PickGridWhere(TCase& c, TRandom& random, Wanted wanted) {
  TGridFile& first = PickGrid(c, random);
  if (wanted(first)) return &first;
  std::vector<TGridFile*> fit;
  for (TGridFile& grid : c.grids)
    if (wanted(grid)) fit.push_back(&grid);
  return fit.empty() ? nullptr : random.Pick(fit);
}

TGridFile* PickGridOf(TCase& c, TRandom& random, TGridFormat format) {
  std::vector<TGridFile*> fit;
  for (TGridFile& grid : c.grids)
    if (grid.format == format) fit.push_back(&grid);
  return fit.empty() ? nullptr : random.Pick(fit);
}

bool HasFormat(const TCase& c, TGridFormat format) {
  return std::any_of(c.grids.begin(), c.grids.end(), [&](const TGridFile& g) { return g.format == format; });
}

// Offsets near the start hold the header: half of the damage goes there.
std::size_t PickOffset(const TGridFile& grid, TRandom& random) {
  if (grid.bytes.empty()) return 0;
  const std::size_t headerBytes = std::min(grid.bytes.size(), grid.valuesOffset + 16);
  return random.OneIn(2) ? random.Below(headerBytes) : random.Below(grid.bytes.size());
}

void FlipBits(TCase& c, TRandom& random) {
  TGridFile& grid = PickGrid(c, random);
  if (grid.bytes.empty()) return;
  const std::size_t flips = 1 + random.Below(8);
  std::string note = grid.name + ": bits flipped at";
  for (std::size_t i = 0; i < flips; ++i) {
    const std::size_t at = PickOffset(grid, random);
    const int bit = int(random.Below(8));
    grid.bytes[at] = char(grid.bytes[at] ^ (1 << bit));
    note += ' ' + std::to_string(at) + ':' + std::to_string(bit);
  }
  c.notes.push_back(note);
}

void OverwriteBytes(TCase& c, TRandom& random) {
  TGridFile& grid = PickGrid(c, random);
  if (grid.bytes.empty()) return;
  const std::size_t at = PickOffset(grid, random);
  const std::size_t count = std::min<std::size_t>(1 + random.Below(16), grid.bytes.size() - at);
  static const char* const kFills[] = {"random", "0x00", "0xFF", "0x7F", "0x80"};
  const char* fill = random.Pick(kFills);
  const std::string bytes = RandomBytes(random, count);
  for (std::size_t i = 0; i < count; ++i) {
    char& b = grid.bytes[at + i];
    if (std::strcmp(fill, "random") == 0) b = bytes[i];
    else b = char(std::strtoul(fill, nullptr, 16));
  }
  c.notes.push_back(grid.name + ": " + std::to_string(count) + " bytes at " + std::to_string(at) +
                    " overwritten with " + fill);
}

void Truncate(TCase& c, TRandom& random) {
  TGridFile& grid = PickGrid(c, random);
  const std::size_t size = grid.bytes.size();
  const std::size_t header = grid.valuesOffset;
  const std::size_t choices[] = {0, 1, 3, 4, std::min(size, header / 2), std::min(size, header),
                                 size > 0 ? size - 1 : 0, random.Below(size + 1), random.Below(size + 1),
                                 std::min(size, header + random.Below(64))};
  const std::size_t length = random.Pick(choices);
  grid.bytes.resize(std::min(length, size));
  c.notes.push_back(grid.name + ": truncated to " + std::to_string(grid.bytes.size()) + " of " +
                    std::to_string(size) + " bytes");
}

void Extend(TCase& c, TRandom& random) {
  TGridFile& grid = PickGrid(c, random);
  const std::size_t count = random.Pick({std::size_t{1}, std::size_t{7}, std::size_t{512}, 1 + random.Below(4096)});
  const bool zeros = random.OneIn(2);
  grid.bytes += zeros ? std::string(count, '\0') : RandomBytes(random, count);
  c.notes.push_back(grid.name + ": " + std::to_string(count) + (zeros ? " zero" : " random") +
                    " bytes appended");
}

bool IsNativeFormat(TGridFormat format) {
  return format == TGridFormat::kSurfer6 || format == TGridFormat::kSurfer7 || format == TGridFormat::kGeosoft;
}

void SwapMagic(TCase& c, TRandom& random) {
  TGridFile& grid = PickGrid(c, random);
  static const std::string kMagics[] = {"DSBB", "DSRB", "GRID", "DATA", "FLTI", std::string("\2\0\0\0", 4),
                                        std::string("\4\0\0\0", 4), std::string(4, '\0'), "dsbb"};
  // The signatures GDAL's drivers go by, each on a body of another format.
  static const std::string kOtherMagics[] = {
      std::string("II*\0", 4), std::string("MM\0*", 4), std::string("II+\0", 4), std::string("CDF\1", 4),
      std::string("CDF\2", 4), std::string("CDF\5", 4), "\x89HDF", "<VRT", "ncol", "DSBB", std::string("\2\0\0\0", 4),
      "<GDA", "PK\3\4"};
  const std::string& magic = IsNativeFormat(grid.format) ? random.Pick(kMagics) : random.Pick(kOtherMagics);
  for (std::size_t i = 0; i < 4 && i < grid.bytes.size(); ++i) grid.bytes[i] = magic[i];
  std::string shown;
  for (unsigned char ch : magic) shown += std::isprint(ch) ? std::string(1, char(ch)) : '\\' + std::to_string(ch);
  c.notes.push_back(grid.name + ": first four bytes set to '" + shown + "'");
}

void SetHeaderField(TGridFile& grid, const THeaderField& field, TRandom& random, std::string& note) {
  note = grid.name + " (" + FormatName(grid.format) + "): " + field.name + " = ";
  // Values that mean something to this field, half of the time.
  if (!field.near.empty() && random.OneIn(2)) {
    const std::int64_t v = random.Pick(field.near);
    switch (field.type) {
      case TFieldType::kI16: PutLE(grid.bytes, field.offset, std::uint64_t(v), 2); break;
      case TFieldType::kI32: PutLE(grid.bytes, field.offset, std::uint64_t(v), 4); break;
      case TFieldType::kBe32: PutBE(grid.bytes, field.offset, std::uint64_t(v), 4); break;
      case TFieldType::kF64: PutLE(grid.bytes, field.offset, std::bit_cast<std::uint64_t>(double(v)), 8); break;
    }
    note += std::to_string(v);
    return;
  }
  switch (field.type) {
    case TFieldType::kI16: {
      const std::int16_t v = random.Pick(kExtremeInt16);
      PutLE(grid.bytes, field.offset, std::uint16_t(v), 2);
      note += std::to_string(v);
      break;
    }
    case TFieldType::kI32:
    case TFieldType::kBe32: {
      const std::int32_t v = random.Pick(kExtremeInt32);
      if (field.type == TFieldType::kI32) PutLE(grid.bytes, field.offset, std::uint32_t(v), 4);
      else PutBE(grid.bytes, field.offset, std::uint32_t(v), 4);
      note += std::to_string(v);
      break;
    }
    case TFieldType::kF64: {
      const double v = random.Pick(kExtremeDoubles);
      PutLE(grid.bytes, field.offset, std::bit_cast<std::uint64_t>(v), 8);
      note += DoubleText(v);
      break;
    }
  }
}

void HeaderField(TCase& c, TRandom& random) {
  TGridFile* grid = PickGridWhere(c, random, [](const TGridFile& g) { return !g.fields.empty(); });
  if (grid == nullptr) return;
  std::string note;
  SetHeaderField(*grid, random.Pick(grid->fields), random, note);
  c.notes.push_back(note);
}

// Both node counts at once: a single huge count is refused by the length
// check alone, a pair can be small enough to pass it and still be wrong.
void NodeCounts(TCase& c, TRandom& random) {
  TGridFile* grid = PickGridWhere(c, random, [](const TGridFile& g) { return !g.columnsField.empty(); });
  if (grid == nullptr) return;
  std::string first, second;
  for (const THeaderField& field : grid->fields) {
    if (field.name != grid->columnsField && field.name != grid->rowsField) continue;
    SetHeaderField(*grid, field, random, first.empty() ? first : second);
  }
  c.notes.push_back(first + "; " + second.substr(second.find(')') + 3));
}

std::size_t FieldOffset(const TGridFile& grid, std::string_view name) {
  for (const THeaderField& field : grid.fields)
    if (field.name == name) return field.offset;
  return grid.bytes.size();  // PutLE writes nothing there
}

// The first `key` .. end of line of a text grid, given a new value.
bool ReplaceLineValue(std::string& text, const std::string& key, const std::string& value) {
  const std::size_t at = text.find(key);
  if (at == std::string::npos) return false;
  const std::size_t end = text.find('\n', at);
  text.replace(at, (end == std::string::npos ? text.size() : end) - at, key + value);
  return true;
}

// The text between the first `open` and the `close` after it.
bool ReplaceBetween(std::string& text, const std::string& open, const std::string& close, const std::string& value) {
  const std::size_t at = text.find(open);
  if (at == std::string::npos) return false;
  const std::size_t end = text.find(close, at + open.size());
  if (end == std::string::npos) return false;
  text.replace(at + open.size(), end - at - open.size(), value);
  return true;
}

std::string Between(const std::string& text, const std::string& open, const std::string& close) {
  const std::size_t at = text.find(open);
  if (at == std::string::npos) return {};
  const std::size_t end = text.find(close, at + open.size());
  return end == std::string::npos ? std::string() : text.substr(at + open.size(), end - at - open.size());
}

// Geometry that is finite but degenerate: no width, reversed, far away.
void Geometry(TCase& c, TRandom& random) {
  TGridFile* picked = PickGridWhere(c, random, [](const TGridFile& g) { return g.format != TGridFormat::kRaw; });
  if (picked == nullptr) return;
  TGridFile& grid = *picked;
  std::string note = grid.name + ": ";
  const auto put = [&](std::size_t offset, double v, const char* name) {
    if (grid.bigEndian) PutBE(grid.bytes, offset, std::bit_cast<std::uint64_t>(v), 8);
    else PutLE(grid.bytes, offset, std::bit_cast<std::uint64_t>(v), 8);
    if (*name != '\0') note += std::string(name) + " = " + DoubleText(v) + " ";
  };
  const auto text = [&](const std::string& key, const std::string& value) {
    if (grid.format == TGridFormat::kVrt) ReplaceBetween(grid.bytes, key, "<", value);
    else ReplaceLineValue(grid.bytes, key, value);
    note += key + value + " ";
  };
  // Kinds 4 .. 6 sit at the edge of what a reader may accept: nodes a
  // million degrees away, a spacing of a billionth of a degree, so that a
  // station lies some 1e15 cells off the grid.
  const std::size_t kind = random.Below(7);
  switch (grid.format) {
    case TGridFormat::kSurfer6:
      if (kind == 0) put(16, -180.0, "xMax");  // xMax == xMin
      if (kind == 1) put(32, -90.0 + 1e-12, "yMax");
      if (kind == 2) put(8, 180.0, "xMin"), put(16, -180.0, "xMax");
      if (kind == 3) put(8, 1e5, "xMin"), put(16, 1e5 + 1e-6, "xMax");
      if (kind == 4) put(8, -1e6, "xMin"), put(16, -1e6 + 2e-7, "xMax");
      if (kind == 5) put(24, 1e6 - 1e-7, "yMin"), put(32, 1e6, "yMax");
      if (kind == 6) put(8, -1e6, "xMin"), put(16, 1e6, "xMax"), put(24, 1e6, "yMin"), put(32, -1e6, "yMax");
      break;
    case TGridFormat::kSurfer7:
      if (kind == 0) put(44, 0.0, "xSize");
      if (kind == 1) put(52, 1e-12, "ySize");
      if (kind == 2) put(44, -2.0, "xSize"), put(28, 180.0, "xLL");
      if (kind == 3) put(36, 1e5, "yLL"), put(52, 1e-7, "ySize");
      if (kind == 4) put(28, -1e6, "xLL"), put(44, 1e-9, "xSize");
      if (kind == 5) put(36, 1e6 - 1e-6, "yLL"), put(52, 1e-9, "ySize");
      if (kind == 6) put(28, 1e6, "xLL"), put(44, -1.1e4, "xSize"), put(52, -1e-9, "ySize");
      break;
    case TGridFormat::kGeosoft:
      if (kind == 0) put(20, 0.0, "element spacing");
      if (kind == 1) put(28, 1e-12, "vector spacing");
      if (kind == 2) put(20, -5.0, "element spacing"), put(36, 180.0, "x origin");
      if (kind == 3) put(68, 1e-300, "multiplier");
      if (kind == 4) put(36, -1e6, "x origin"), put(20, 1e-9, "element spacing");
      if (kind == 5) put(44, 1e6 - 1e-6, "y origin"), put(28, 1e-9, "vector spacing");
      if (kind == 6) put(68, 1e-5, "multiplier"), put(60, 3e38, "base");
      break;
    case TGridFormat::kGeoTiff: {
      const std::size_t width = FieldOffset(grid, "pixel width"), height = FieldOffset(grid, "pixel height");
      const std::size_t lon = FieldOffset(grid, "tie point longitude"), lat = FieldOffset(grid, "tie point latitude");
      if (kind == 0) put(width, 0.0, "pixel width");
      if (kind == 1) put(height, 1e-12, "pixel height");
      if (kind == 2) put(width, -2.0, "pixel width"), put(lon, 180.0, "tie point longitude");
      if (kind == 3) put(lat, 1e5, "tie point latitude"), put(height, 1e-7, "pixel height");
      if (kind == 4) put(lon, -1e6, "tie point longitude"), put(width, 1e-9, "pixel width");
      if (kind == 5) put(lat, 1e6, "tie point latitude"), put(height, -1e-9, "pixel height");
      if (kind == 6) put(lon, 1e6, "tie point longitude"), put(width, -1.1e4, "pixel width");
      break;
    }
    case TGridFormat::kNetcdf: {
      // The coordinate variables: lon's 121 doubles, then lat's 61.
      const std::size_t lon = grid.valuesOffset - (121 + 61) * 8, lat = grid.valuesOffset - 61 * 8;
      if (kind == 0)
        for (int i = 0; i < 121; ++i) put(lon + 8 * std::size_t(i), -180.0, i == 0 ? "every lon" : "");
      if (kind == 1)
        for (int i = 0; i < 61; ++i) put(lat + 8 * std::size_t(i), -90.0 + 1e-12 * i, i == 0 ? "lat from -90 by 1e-12" : "");
      if (kind == 2)
        for (int i = 0; i < 121; ++i) put(lon + 8 * std::size_t(i), 180.0 - 3.0 * i, i == 0 ? "lon from 180 by -3" : "");
      if (kind == 3) put(lon + 8 * 60, 7.5, "lon 60 (uneven)");
      if (kind == 4)
        for (int i = 0; i < 121; ++i) put(lon + 8 * std::size_t(i), -1e6 + 1e-9 * i, i == 0 ? "lon from -1e6 by 1e-9" : "");
      if (kind == 5)
        for (int i = 0; i < 61; ++i) put(lat + 8 * std::size_t(i), 1e6 + 1e-9 * i, i == 0 ? "lat from 1e6 by 1e-9" : "");
      if (kind == 6) put(lat + 8 * 30, kNaN, "lat 30");
      break;
    }
    case TGridFormat::kVrt: {
      static const char* const kTransforms[] = {
          "-182.5, 0, 0, 92.5, 0, -5", "-182.5, 5, 0, 92.5, 0, -1e-12", "182.5, -5, 0, 92.5, 0, -5",
          "-182.5, 5, 0.5, 92.5, 0, -5", "-1e6, 1e-9, 0, 92.5, 0, -5", "nan, 5, 0, 92.5, 0, -5", "1, 2, 3"};
      text("<GeoTransform>", kTransforms[kind]);
      break;
    }
    case TGridFormat::kAsciiGrid: {
      if (kind == 0) text("cellsize ", "0");
      if (kind == 1) text("cellsize ", "1e-12");
      if (kind == 2) text("cellsize ", "-6");
      if (kind == 3) text("xllcenter ", "1e5");
      if (kind == 4) text("xllcenter ", "-1e6"), text("cellsize ", "1e-9");
      if (kind == 5) text("yllcenter ", "1e6");
      if (kind == 6) text("cellsize ", "nan");
      break;
    }
    case TGridFormat::kRaw: break;
  }
  c.notes.push_back(note);
}

void AsciiValue(TCase& c, TRandom& random);

void GridValues(TCase& c, TRandom& random) {
  TGridFile* picked = PickGridWhere(c, random, [](const TGridFile& g) { return g.format != TGridFormat::kVrt; });
  if (picked == nullptr) return;
  TGridFile& grid = *picked;
  if (grid.format == TGridFormat::kAsciiGrid) return AsciiValue(c, random);
  const std::size_t offset = grid.valuesOffset, width = grid.valueBytes;
  if (grid.bytes.size() < offset + width) return;
  const std::size_t count = (grid.bytes.size() - offset) / width;
  // One node, a run of nodes, or all of them.
  std::size_t first = random.Below(count), nodes = 1;
  switch (random.Below(3)) {
    case 1: nodes = std::min(count - first, 1 + random.Below(500)); break;
    case 2: first = 0, nodes = count; break;
    default: break;
  }
  std::uint64_t bits = 0;
  std::string shown;
  switch (grid.format) {
    case TGridFormat::kSurfer6:
    case TGridFormat::kNetcdf: {
      const float v = random.Pick(kExtremeFloats);
      bits = std::bit_cast<std::uint32_t>(v);
      shown = DoubleText(v);
      break;
    }
    case TGridFormat::kSurfer7: {
      const double v = random.Pick(kExtremeGridDoubles);
      bits = std::bit_cast<std::uint64_t>(v);
      shown = DoubleText(v);
      break;
    }
    default: {
      const std::int16_t v = random.Pick(kExtremeRaws);
      bits = std::uint16_t(v);
      shown = std::to_string(v) + " (raw)";
      break;
    }
  }
  for (std::size_t i = first; i < first + nodes; ++i) {
    if (grid.bigEndian) PutBE(grid.bytes, offset + i * width, bits, int(width));
    else PutLE(grid.bytes, offset + i * width, bits, int(width));
  }
  c.notes.push_back(grid.name + ": nodes " + std::to_string(first) + " .. " + std::to_string(first + nodes - 1) +
                    " of " + std::to_string(count) + " set to " + shown);
}

// A section before the grid section, which the Surfer 7 reader must walk
// over or refuse: lengths that point backwards, past the end, or nowhere.
void Surfer7Section(TCase& c, TRandom& random) {
  for (TGridFile& grid : c.grids) {
    if (grid.format != TGridFormat::kSurfer7 || grid.bytes.size() < 12) continue;
    static const char* const kTags[] = {"FLTI", "DATA", "GRID", "XXXX", "DSRB"};
    const std::int32_t kLengths[] = {0, 4, -4, -1, 8, 72, 1 << 20, 0x7FFFFFFF,
                                     std::numeric_limits<std::int32_t>::min()};
    const char* tag = random.Pick(kTags);
    const std::int32_t length = random.Pick(kLengths);
    TBytes section;
    section.raw(tag).i32(length);
    if (length > 0 && length <= 72) section.raw(RandomBytes(random, std::size_t(length)));
    grid.bytes.insert(12, section.str());
    c.notes.push_back(grid.name + ": section '" + tag + "' of length " + std::to_string(length) +
                      " inserted before the grid section");
    return;
  }
}

// ---- grids read through GDAL

// Stands for the port of the case's own listener on 127.0.0.1, which
// accepts connections and never answers: a grid that fetches from it
// hangs, and the connection is seen.
constexpr char kPortMark[] = "@PORT@";

// The TIFF's structure rather than its fields: byte order, version, the
// IFD chain, the order of entries.
void TiffStructure(TCase& c, TRandom& random) {
  TGridFile* grid = PickGridOf(c, random, TGridFormat::kGeoTiff);
  if (grid == nullptr) return;
  std::string& b = grid->bytes;
  const std::size_t entries = 15, ifdEnd = 8 + 2 + 12 * entries;
  if (b.size() < ifdEnd + 4) return;  // cut by an earlier mutation
  std::string what;
  switch (random.Below(7)) {
    case 0: b[0] = b[1] = 'M', what = "byte order 'MM' on little-endian words"; break;
    case 1: PutLE(b, 2, 43, 2), what = "version 43 (BigTIFF) on a classic header"; break;
    case 2: PutLE(b, ifdEnd, 8, 4), what = "next IFD offset back to the first IFD"; break;
    case 3: {
      const std::size_t i = random.Below(entries - 1);
      std::swap_ranges(b.begin() + std::ptrdiff_t(10 + 12 * i), b.begin() + std::ptrdiff_t(22 + 12 * i),
                       b.begin() + std::ptrdiff_t(22 + 12 * i));
      what = "IFD entries " + std::to_string(i) + " and " + std::to_string(i + 1) + " swapped";
      break;
    }
    case 4: {
      const std::size_t i = random.Below(entries);
      b.replace(10 + 12 * ((i + 1) % entries), 12, b.substr(10 + 12 * i, 12));
      what = "IFD entry " + std::to_string(i) + " given twice";
      break;
    }
    case 5: {
      // A second IFD at the end, that claims the whole file as one strip
      // of a larger image.
      const std::size_t at = b.size();
      PutLE(b, ifdEnd, at, 4);
      TBytes ifd;
      ifd.u16(3).u16(256).u16(kTiffLong).u32(1).u32(100000).u16(257).u16(kTiffLong).u32(1).u32(100000);
      ifd.u16(273).u16(kTiffLong).u32(1).u32(0).u32(std::uint32_t(at));
      b += ifd.str();
      what = "a second IFD of 100000 x 100000 nodes whose next IFD is itself";
      break;
    }
    default: {
      const std::string codes[] = {"5", "8", "32773", "34887"};
      const std::string& code = random.Pick(codes);
      PutLE(b, FieldOffset(*grid, "Compression value"), std::uint64_t(std::stoul(code)), 4);
      what = "compression " + code + " on uncompressed strips";
      break;
    }
  }
  c.notes.push_back(grid->name + " (GeoTIFF): " + what);
}

// The netCDF file's structure: its version, a signature of HDF5, names.
void NetcdfStructure(TCase& c, TRandom& random) {
  TGridFile* grid = PickGridOf(c, random, TGridFormat::kNetcdf);
  if (grid == nullptr) return;
  std::string& b = grid->bytes;
  if (b.size() < 8) return;  // cut by an earlier mutation
  std::string what;
  switch (random.Below(6)) {
    case 0: b[3] = '\2', what = "version byte 2 (64-bit offsets) on a CDF-1 header"; break;
    case 1: b[3] = '\5', what = "version byte 5 (64-bit data) on a CDF-1 header"; break;
    case 2: b.replace(0, 8, "\x89HDF\r\n\x1a\n"), what = "the HDF5 signature over its first 8 bytes"; break;
    case 3: {
      // Both dimensions named lon.
      const std::size_t at = b.find(std::string("lat\0", 4));
      if (at != std::string::npos) b.replace(at, 3, "lon");
      what = "dimension lat renamed lon";
      break;
    }
    case 4: {
      // lat as the record dimension: length 0 and a record count.
      PutBE(b, FieldOffset(*grid, "lat length"), 0, 4);
      const std::int64_t records[] = {0, 1, 61, 62, 0xFFFFFFFF, 0x7FFFFFFF};
      const std::int64_t n = random.Pick(records);
      PutBE(b, FieldOffset(*grid, "record count"), std::uint64_t(n), 4);
      what = "lat made the record dimension with " + std::to_string(n) + " records";
      break;
    }
    default: {
      const std::size_t at = b.find(std::string("\0\0\0\1z\0\0\0", 8));
      if (at != std::string::npos) b[at + 4] = char(0xFF);
      what = "variable z renamed '\\xFF'";
      break;
    }
  }
  c.notes.push_back(grid->name + " (netCDF): " + what);
}

// The layer row key whose value is `name`, or empty.
std::string KeyNaming(const TCase& c, const std::string& name) {
  for (const std::string& line : c.settingsLines) {
    const std::size_t eq = line.find('=');
    if (eq != std::string::npos && line.compare(0, 9, "cell_row-") == 0 && line.substr(eq + 1) == name)
      return line.substr(0, eq);
  }
  return {};
}

// A VRT whose band is the whole of `source` (another VRT) through a
// SimpleSource, with the same size and placement.
TGridFile NestingVrt(const std::string& name, const std::string& source, const std::string& like) {
  const std::string xSize = Between(like, "rasterXSize=\"", "\""), ySize = Between(like, "rasterYSize=\"", "\"");
  const std::string text = "<VRTDataset rasterXSize=\"" + xSize + "\" rasterYSize=\"" + ySize +
                           "\">\n  <GeoTransform>" + Between(like, "<GeoTransform>", "<") +
                           "</GeoTransform>\n  <VRTRasterBand dataType=\"Int16\" band=\"1\">\n    <SimpleSource>\n"
                           "      <SourceFilename relativeToVRT=\"1\">" + source +
                           "</SourceFilename>\n      <SourceBand>1</SourceBand>\n    </SimpleSource>\n"
                           "  </VRTRasterBand>\n</VRTDataset>\n";
  return VrtOf(name, text);
}

// Edits of a VRT's XML: sizes, sources that are no regular local file or
// that lead elsewhere, the raw band's layout, types, placement, structure.
void VrtEdit(TCase& c, TRandom& random) {
  TGridFile* grid = PickGridOf(c, random, TGridFormat::kVrt);
  if (grid == nullptr) return;
  // Grids added below move the others: the edits go to a copy, which
  // replaces the VRT's bytes at the end.
  const std::string gridName = grid->name;
  std::string x = grid->bytes;
  std::vector<TGridFile> added;
  const bool raw = x.find("VRTRawRasterBand") != std::string::npos;
  const auto setSource = [&](const std::string& source, bool relative) {
    ReplaceBetween(x, "<SourceFilename", "</SourceFilename>",
                   std::string(" relativeToVRT=\"") + (relative ? "1" : "0") + "\">" + source);
  };
  const auto pickText = [&](std::initializer_list<const char*> values) {
    const std::vector<const char*> v(values);
    return std::string(random.Pick(v));
  };
  std::string what;
  switch (random.Below(22)) {
    case 0:
    case 1: {
      const char* attribute = random.OneIn(2) ? "rasterXSize=\"" : "rasterYSize=\"";
      const std::string v = pickText({"2000000000", "2147483647", "2147483648", "0", "-1", "1", "abc", "1e9",
                                      "99999999999", "72", "74", ""});
      ReplaceBetween(x, attribute, "\"", v);
      what = std::string(attribute) + v + "\"";
      break;
    }
    case 2:
      c.nodes.push_back({"source.fifo", TNodeKind::kFifo, ""});
      setSource("source.fifo", true), what = "source a FIFO";
      break;
    case 3: {
      const std::string v = pickText({"/dev/zero", "/dev/urandom", "/dev/null", "/proc/self/mem", "/dev/stdin"});
      setSource(v, false), what = "source " + v;
      break;
    }
    case 4: {
      const std::string v = pickText({"/vsistdin/", "/vsistdin?buffer_limit=-1", "/vsizip//vsistdin/",
                                      "/vsisubfile/0_100,/vsistdin/", "/vsimem/x.tif", "/vsigzip/source.gz"});
      setSource(v, false), what = "source " + v;
      break;
    }
    case 5: {
      const std::string port = std::string(kPortMark);
      const std::string v = random.Pick(std::vector<std::string>{
          "/vsicurl/http://127.0.0.1:1/x.tif", "/vsicurl/http://127.0.0.1:" + port + "/x.tif",
          "http://127.0.0.1:" + port + "/x.tif", "/vsicurl?url=http://127.0.0.1:" + port + "/x.tif",
          "WMS:http://127.0.0.1:" + port + "/wms?", "/vsis3/bucket/x.tif", "ftp://127.0.0.1:" + port + "/x"});
      setSource(v, false), what = "source " + v;
      break;
    }
    case 6: {
      // A local file that describes a web service, under a raster's name.
      const std::string wms = "<GDAL_WMS><Service name=\"WMS\"><ServerUrl>http://127.0.0.1:" +
                              std::string(kPortMark) +
                              "/wms?</ServerUrl><Layers>x</Layers></Service><DataWindow><UpperLeftX>-180"
                              "</UpperLeftX><UpperLeftY>90</UpperLeftY><LowerRightX>180</LowerRightX>"
                              "<LowerRightY>-90</LowerRightY><SizeX>360</SizeX><SizeY>180</SizeY>"
                              "</DataWindow></GDAL_WMS>";
      const std::string name = random.OneIn(2) ? "service.tif" : "service.xml";
      added.push_back(VrtOf(name, wms));
      setSource(name, true), what = "source " + name + ", a GDAL_WMS description of the listener";
      break;
    }
    case 7: {
      const std::string v = pickText({"adir", "adir/", ".", "/", "/tmp"});
      if (v.starts_with("adir")) c.nodes.push_back({"adir", TNodeKind::kDirectory, ""});
      setSource(v, v.starts_with("adir")), what = "source the directory " + v;
      break;
    }
    case 8: setSource("missing.raw", true), what = "source missing.raw, which is not there"; break;
    case 9: setSource(gridName, true), what = "source the VRT itself"; break;
    case 10: {
      // A chain of VRTs, each the only source of the one before it, that
      // ends in this one; the layer row names its first link.
      const std::string key = KeyNaming(c, gridName);
      if (key.empty()) return;
      const int links = random.Pick({2, 7, 8, 9, 30});
      std::string source = gridName;
      for (int i = links - 1; i >= 0; --i) {
        const std::string name = "nest" + std::to_string(i) + ".vrt";
        added.push_back(NestingVrt(name, source, x));
        source = name;
      }
      SetSetting(c, key, source);
      what = key + " names a chain of " + std::to_string(links) + " VRTs ending in this one";
      break;
    }
    case 11: {
      const std::string v = pickText({"NETCDF:\"base.nc\":z", "NETCDF:base.nc:z", "NETCDF:\"base.nc\":nothing",
                                      "NETCDF:\"base.nc\":lon", "GTiff:top.tif", "HDF5:\"base.nc\"://z",
                                      "GPKG:x.gpkg:t", "NETCDF:\"/dev/zero\":z", "NETCDF:\"deep.raw\":z",
                                      "NETCDF:\"source.fifo\":z", "NETCDF:\"\":z", "NETCDF::"});
      if (v.find("source.fifo") != std::string::npos) c.nodes.push_back({"source.fifo", TNodeKind::kFifo, ""});
      setSource(v, random.OneIn(2)), what = "source " + v;
      break;
    }
    case 12: {
      const std::string v = pickText({"0", "yes", "2", ""});
      ReplaceBetween(x, "relativeToVRT=\"", "\"", v), what = "relativeToVRT=\"" + v + "\"";
      break;
    }
    case 13: {
      const char* element = raw ? random.Pick({"<ImageOffset>", "<PixelOffset>", "<LineOffset>"}) : "<SourceBand>";
      const std::string v = pickText({"-1", "-2", "0", "1", "2147483647", "-2147483648", "999999999999",
                                      "9223372036854775807", "-9223372036854775808", "abc", "", "1e300", "mask,1"});
      ReplaceBetween(x, element, "<", v), what = std::string(element) + v;
      break;
    }
    case 14: {
      const std::string v = pickText({"Float64", "Byte", "Int8", "UInt64", "CInt16", "CFloat64", "junk", ""});
      ReplaceBetween(x, "dataType=\"", "\"", v), what = "dataType=\"" + v + "\"";
      break;
    }
    case 15: {
      if (raw) {
        const std::string v = pickText({"MSB", "VAX", "junk", ""});
        ReplaceBetween(x, "<ByteOrder>", "<", v), what = "ByteOrder " + v;
      } else {
        const std::string v = pickText({"-5", "2000000000", "-2147483648", "0", "1e300", "abc"});
        const char* where = random.Pick({"<SrcRect xOff=\"", "<DstRect xOff=\"", "<SrcRect xOff=\"0\" yOff=\"0\" xSize=\"",
                                         "<DstRect xOff=\"0\" yOff=\"0\" xSize=\"181\" ySize=\""});
        ReplaceBetween(x, where, "\"", v);
        what = std::string(where) + v;
      }
      break;
    }
    case 16: {
      const std::string v = pickText({"EPSG:3857", "EPSG:999999", "junk", "", "+proj=longlat +a=1 +no_defs",
                                      "LOCAL_CS[\"x\",UNIT[\"metre\",1]]", "EPSG:4326+5773", "urn:ogc:def:crs:EPSG::4326"});
      ReplaceBetween(x, "<SRS>", "</SRS>", v), what = "SRS " + v;
      break;
    }
    case 17: {
      const std::string v = pickText({"nan", "inf", "-inf", "1e308", "1e-320", "abc", "", "1e39"});
      const char* element = random.Pick({"<Offset>", "<Scale>", "<NoDataValue>"});
      if (!ReplaceBetween(x, element, "<", v))
        x.insert(x.find("<VRTRasterBand"), std::string(element) + v + "</" + std::string(element + 1));
      what = std::string(element) + v;
      break;
    }
    case 18: {
      // Python or a built-in function for the pixels: never code.
      const std::string derived =
          "<VRTRasterBand dataType=\"Float64\" band=\"1\" subClass=\"VRTDerivedRasterBand\">"
          "<PixelFunctionType>f</PixelFunctionType><PixelFunctionLanguage>Python</PixelFunctionLanguage>"
          "<PixelFunctionCode><![CDATA[\nimport os\ndef f(in_ar, out_ar, *args, **kwargs):\n"
          "    os.kill(os.getpid(), 9)\n]]></PixelFunctionCode>";
      x.replace(x.find("<VRTRasterBand"), x.find('>', x.find("<VRTRasterBand")) - x.find("<VRTRasterBand") + 1,
                random.OneIn(2) ? derived : "<VRTRasterBand dataType=\"Float64\" band=\"1\" "
                                            "subClass=\"VRTDerivedRasterBand\"><PixelFunctionType>inv"
                                            "</PixelFunctionType>");
      what = "a derived band with a pixel function";
      break;
    }
    case 19: {
      switch (random.Below(5)) {
        case 0: x.resize(x.size() / 2), what = "cut in half"; break;
        case 1: {
          const std::size_t at = x.find("<VRTRasterBand"), end = x.find("</VRTRasterBand>") + 16;
          x.insert(end, "\n  " + x.substr(at, end - at));
          what = "its band given twice";
          break;
        }
        case 2: ReplaceBetween(x, "<GeoTransform>", "</GeoTransform>", ""), what = "empty GeoTransform"; break;
        case 3: ReplaceBetween(x, "<VRTDataset", ">", ""), what = "no raster size"; break;
        default:
          ReplaceBetween(x, "<VRTRasterBand", ">", " dataType=\"Int16\" band=\"1\" subClass=\"VRTWarpedRasterBand\"");
          what = "band of another subclass";
          break;
      }
      break;
    }
    case 20: {
      switch (random.Below(4)) {
        case 0:
          x = "<?xml version=\"1.0\"?><!DOCTYPE l [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;"
              "&a;&a;\"><!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\"><!ENTITY d \"&c;&c;&c;&c;&c;&c;&c;&c;&c;"
              "&c;\">]>\n" + x;
          ReplaceBetween(x, "<SRS>", "</SRS>", "&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;");
          what = "entities nested a thousand-fold in its SRS";
          break;
        case 1: {
          std::string deep;
          for (int i = 0; i < 100000; ++i) deep += "<a>";
          x.insert(x.find("</VRTDataset>"), deep);
          what = "100000 nested elements";
          break;
        }
        case 2:
          ReplaceBetween(x, "<SRS>", "</SRS>", std::string(1 << 20, 'x'));
          what = "an SRS of a million letters";
          break;
        default:
          x.insert(x.find("<GeoTransform>"), std::string("<Metadata>\0\xFF\xFE</Metadata>", 24));
          what = "NUL and bytes that are no UTF-8";
          break;
      }
      break;
    }
    default: {
      // A ComplexSource whose lookup table or a kernel that is absurd.
      const std::string open = raw ? "" : "<SimpleSource>";
      if (raw) return Geometry(c, random);
      if (random.OneIn(2)) {
        x.replace(x.find(open), open.size(), "<ComplexSource><LUT>0:0," + std::string(100000, '1') + ":1</LUT>");
        x.replace(x.find("</SimpleSource>"), 15, "</ComplexSource>");
        what = "a ComplexSource with a lookup table of a 100000-digit number";
      } else {
        x.replace(x.find(open), open.size(), "<KernelFilteredSource><Kernel normalized=\"1\"><Size>99999</Size>"
                                             "<Coefs>1</Coefs></Kernel>");
        x.replace(x.find("</SimpleSource>"), 15, "</KernelFilteredSource>");
        what = "a kernel of 99999 x 99999 with one coefficient";
      }
      break;
    }
  }
  grid->bytes = x;
  for (TGridFile& g : added) c.grids.push_back(std::move(g));
  c.notes.push_back(gridName + " (VRT): " + what);
}

// The header of the ESRI ASCII grid: a value, a keyword, a line.
void AsciiHeader(TCase& c, TRandom& random) {
  TGridFile* grid = PickGridOf(c, random, TGridFormat::kAsciiGrid);
  if (grid == nullptr) return;
  std::string& t = grid->bytes;
  static const char* const kKeys[] = {"ncols ", "nrows ", "xllcenter ", "yllcenter ", "cellsize ", "NODATA_value "};
  const std::string key = random.Pick(kKeys);
  std::vector<std::string> values;
  if (key == "ncols " || key == "nrows ")
    values = {"30000", "2147483647", "2147483648", "99999999999", "0", "-1", "1", "2", "30", "32", "60", "62",
              "abc", "", "1e9", "61.5", "0x3d"};
  else if (key == "cellsize ")
    values = {"0", "-6", "-0", "1e-9", "1e-320", "nan", "inf", "1e308", "abc", "", "6,0", "360", "6 6"};
  else if (key == "NODATA_value ")
    values = {"nan", "abc", "", "1e39", "-inf", "3.350", "0x10", "-9999 junk", "1e400"};
  else
    values = {"nan", "inf", "1e308", "-1e308", "-1e6", "1e6", "abc", "", "180", "-180.000001", "-90.5"};
  std::string what;
  switch (random.Below(6)) {
    case 0:
    case 1:
    case 2: {
      const std::string& v = random.Pick(values);
      ReplaceLineValue(t, key, v);
      what = key + v;
      break;
    }
    case 3: {
      const std::size_t at = t.find(key);
      t.erase(at, t.find('\n', at) + 1 - at);
      what = "line " + key + "removed";
      break;
    }
    case 4: {
      const std::string& v = random.Pick(values);
      const std::size_t at = t.find(key);
      t.insert(t.find('\n', at) + 1, key + v + "\n");
      what = "a second " + key + v;
      break;
    }
    default: {
      static const char* const kLines[] = {"dx 6\ndy -6\n", "dx 0\ndy 6\n", "xllcorner -183\n", "foo 1\n",
                                            "NCOLS 61\n", "ncols\t61\n", "\n", "ncols 61 61\n"};
      const char* line = random.Pick(kLines);
      t.insert(t.find(key), line);
      std::string shown = line;
      std::replace(shown.begin(), shown.end(), '\n', '|');
      what = "'" + shown + "' inserted before " + key;
      break;
    }
  }
  c.notes.push_back(grid->name + " (ESRI ASCII): " + what);
}

// The values of the ESRI ASCII grid: a token, a row, the line breaks.
void AsciiValue(TCase& c, TRandom& random) {
  TGridFile* grid = PickGridOf(c, random, TGridFormat::kAsciiGrid);
  if (grid == nullptr) return;
  std::string& t = grid->bytes;
  std::string what;
  switch (random.Below(5)) {
    case 0:
    case 1: {
      static const std::string kTokens[] = {"nan", "-nan", "inf", "-inf", "1e39", "-1e39", "1e400", "abc", "-", "1,5",
                                            "0x10", "-9999", "3.4e38", "1e-400", "+", ".", "1e", std::string(400, '9')};
      const std::string& token = random.Pick(kTokens);
      const std::size_t at = t.find(' ', grid->valuesOffset + random.Below(t.size() - grid->valuesOffset));
      if (at == std::string::npos) return;
      const std::size_t end = t.find_first_of(" \n", at + 1);
      t.replace(at + 1, (end == std::string::npos ? t.size() : end) - at - 1, token);
      what = "a value at byte " + std::to_string(at + 1) + " replaced by '" + token.substr(0, 20) + "'";
      break;
    }
    case 2: {
      if (t.size() < 8) return;
      const std::size_t at = t.rfind('\n', t.size() - 2);
      t.resize(random.OneIn(2) ? at + 1 : t.size() - 7);
      what = "its last row or last value missing";
      break;
    }
    case 3: {
      const std::string extra = random.OneIn(2) ? " 3.3 3.3\n" : std::string(100000, '3') + "\n";
      t += extra;
      what = "values after the last row";
      break;
    }
    default: {
      const bool crlf = random.OneIn(2);
      std::string out;
      for (char ch : t) out += ch == '\n' ? std::string(crlf ? "\r\n" : "\r") : std::string(1, ch);
      t = out;
      what = crlf ? "CR LF line breaks" : "CR line breaks only";
      break;
    }
  }
  c.notes.push_back(grid->name + " (ESRI ASCII): " + what);
}

// ---- point file

const char* const kPointNumbers[] = {
    "nan", "NaN", "-nan", "nan(0x1)", "inf", "-inf", "+inf", "INF", "Infinity", "1e999", "-1e999",
    "-6371001", "-6371000", "-6371001.5", "-1e7", "1e308", "-1e308", "1e305", "1.7976931348623157e308",
    "4.9e-324", "1e-320", "1e-999", "0x1p1023", "1e20", "-1e20", "360", "-360", "720", "90.0000001",
    "-90.0000001", "91", "180.5", "1e6", "0", "-0", "90", "-90", "180", "-180", "", "-", ".", "+", "1e",
    "0x", "--1", "1..2",
};

bool IsStationLine(const std::string& line) {
  return !line.empty() && line[0] != '/' && line.find("LINE") == std::string::npos;
}

std::vector<std::string> Tokens(const std::string& line) {
  std::vector<std::string> tokens;
  std::istringstream in(line);
  for (std::string t; in >> t;) tokens.push_back(t);
  return tokens;
}

void PointField(TCase& c, TRandom& random) {
  std::vector<std::string> lines = SplitLines(c.points);
  std::vector<std::size_t> stations;
  for (std::size_t i = 0; i < lines.size(); ++i)
    if (IsStationLine(lines[i])) stations.push_back(i);
  if (stations.empty()) return;
  const std::size_t at = random.Pick(stations);
  std::vector<std::string> tokens = Tokens(lines[at]);
  if (tokens.size() < 4) return;
  // The height most often: it places the point against the Earth's radius.
  static const char* const kFieldNames[] = {"longitude", "latitude", "point number", "height"};
  const std::size_t field = random.OneIn(2) ? 3 : random.Below(4);
  const char* value = random.Pick(kPointNumbers);
  tokens[field] = value;
  std::string line;
  for (const std::string& t : tokens) line += (line.empty() ? "" : " ") + t;
  lines[at] = line;
  c.points = JoinLines(lines);
  c.notes.push_back(std::string("points: ") + kFieldNames[field] + " of line " + std::to_string(at + 1) +
                    " set to '" + value + "'");
}

void JunkLine(TCase& c, TRandom& random) {
  std::vector<std::string> lines = SplitLines(c.points);
  const std::size_t at = random.Below(lines.size() + 1);
  const std::size_t length = 1 + random.Below(200);
  lines.insert(lines.begin() + std::ptrdiff_t(at), RandomBytes(random, length));
  c.points = JoinLines(lines);
  c.notes.push_back("points: " + std::to_string(length) + " random bytes inserted as line " + std::to_string(at + 1));
}

// Lines around and far beyond the 126 characters that the reader takes at
// a time, some of them with a point split across that boundary.
void LongLine(TCase& c, TRandom& random) {
  std::string line, what;
  switch (random.Below(5)) {
    case 0: {
      const std::size_t n = random.Pick({std::size_t{125}, std::size_t{126}, std::size_t{127}, std::size_t{128},
                                         std::size_t{252}, std::size_t{253}, std::size_t{100000}});
      line.assign(n, 'x');
      what = std::to_string(n) + " letters";
      break;
    }
    case 1: {
      const std::size_t pad = random.Pick({std::size_t{100}, std::size_t{110}, std::size_t{115}, std::size_t{116},
                                           std::size_t{117}, std::size_t{118}, std::size_t{119}, std::size_t{200}});
      line = "10 20 7" + std::string(pad, ' ') + "1234.5";
      what = "a point with " + std::to_string(pad) + " blanks before its height";
      break;
    }
    case 2:
      line = "10 20 8 1" + std::string(400, '0');
      what = "a height of 401 digits";
      break;
    case 3:
      line = "10." + std::string(400, '0') + "1 20 9 5";
      what = "a longitude of 400 decimals";
      break;
    default: {
      line.reserve(100000);
      while (line.size() < 100000) line += "1 ";
      what = "100000 characters of '1 '";
      break;
    }
  }
  std::vector<std::string> lines = SplitLines(c.points);
  const std::size_t at = random.Below(lines.size() + 1);
  lines.insert(lines.begin() + std::ptrdiff_t(at), line);
  c.points = JoinLines(lines);
  c.notes.push_back("points: line " + std::to_string(at + 1) + " is " + what);
}

void PointsLayout(TCase& c, TRandom& random) {
  std::string& p = c.points;
  std::string what;
  switch (random.Below(9)) {
    case 0: p = "\xEF\xBB\xBF" + p, what = "UTF-8 byte-order mark in front"; break;
    case 1: {
      std::string crlf;
      for (char ch : p) crlf += ch == '\n' ? std::string("\r\n") : std::string(1, ch);
      p = crlf, what = "CR LF line breaks";
      break;
    }
    case 2: std::replace(p.begin(), p.end(), '\n', '\r'), what = "CR line breaks only"; break;
    case 3: if (!p.empty()) p.pop_back(); what = "no line break at the end"; break;
    case 4: p.clear(), what = "empty"; break;
    case 5: p = p.substr(0, p.find("LINE")), what = "comment only"; break;
    case 6: {
      const char sep = random.Pick({'\t', ',', ';'});
      std::replace(p.begin(), p.end(), ' ', sep);
      what = std::string("blanks replaced by '") + (sep == '\t' ? "\\t" : std::string(1, sep)) + "'";
      break;
    }
    case 7: p += std::string(4096, '\0'), what = "4096 NUL bytes at the end"; break;
    default: p = std::string("\0\0\0", 3) + p, what = "three NUL bytes in front"; break;
  }
  c.notes.push_back("points: " + what);
}

void ManyPoints(TCase& c, TRandom& random) {
  std::vector<std::string> lines = SplitLines(c.points);
  std::vector<std::size_t> stations;
  for (std::size_t i = 0; i < lines.size(); ++i)
    if (IsStationLine(lines[i])) stations.push_back(i);
  if (stations.empty()) return;
  const std::string copy = lines[random.Pick(stations)];
  const std::size_t times = 1 + random.Below(20);
  lines.insert(lines.end(), times, copy);
  c.points = JoinLines(lines);
  c.notes.push_back("points: a station repeated " + std::to_string(times) + " times at the end");
}

// A station exactly on a surface, where the distance to the surface below
// the point is zero, or exactly at a pole or on the antimeridian.
void PointOnSurface(TCase& c, TRandom& random) {
  double lonDeg = 0, latDeg = 0, heightM = 0;
  std::string what;
  switch (random.Below(4)) {
    case 0:  // a node of the topography grid (2 degrees), at its stored value
      lonDeg = -180.0 + 2.0 * double(random.Below(181)), latDeg = -90.0 + 2.0 * double(random.Below(91));
      heightM = TopographyM(lonDeg, latDeg), what = "on the topography at a node";
      break;
    case 1:
      lonDeg = -180.0 + 2.0 * double(random.Below(181)), latDeg = -88.0 + 2.0 * double(random.Below(89));
      heightM = 0.0, what = "at sea level";
      break;
    case 2:
      lonDeg = random.Pick({-180.0, 0.0, 180.0, 360.0}), latDeg = random.Pick({-90.0, 90.0, 0.0});
      heightM = random.OneIn(2) ? 0.0 : TopographyM(lonDeg, latDeg), what = "at a pole or on the antimeridian";
      break;
    default:  // a node of the crust base grid (3 degrees), deep inside the crust
      lonDeg = -180.0 + 3.0 * double(random.Below(121)), latDeg = -90.0 + 3.0 * double(random.Below(61));
      heightM = CrustBaseM(lonDeg, latDeg), what = "on the crust base at a node";
      break;
  }
  char line[160];
  std::snprintf(line, sizeof line, "%.6f %.6f %d %.6f\n", lonDeg, latDeg, 900 + int(random.Below(100)), heightM);
  if (!c.points.empty() && c.points.back() != '\n') c.points += '\n';
  c.points += line;
  std::string shown = line;
  shown.pop_back();
  c.notes.push_back("points: station " + what + " added: '" + shown + "'");
}

// ---- settings

std::string CellKey(int row, int column) {
  return "cell_row-" + std::to_string(row) + "_col-" + std::to_string(column);
}

const char* const kNumericKeys[] = {"R", "gravc", "t3dist", "t4dist", "LonFrom", "LonTo", "incr", "segsize",
                                    "number", "nlayer", "priority", "sum", "cell_row-2_col-1",
                                    "cell_row-2_col-3", "cell_row-3_col-3"};

std::vector<std::string> ValuesFor(std::string_view key) {
  std::vector<std::string> values(std::begin(kExtremeTexts), std::end(kExtremeTexts));
  if (key == "nlayer") values = {"0", "1", "2", "3", "5", "14", "15", "16", "17", "1000", "1001", "-1", "0x10", "99999"};
  if (key == "priority") values = {"-1", "1", "2", "3", "0x7fffffff", "-2147483648", "2147483648"};
  if (key == "sum") values = {"1", "2", "-1", "0x0", "0xffffffff", "yes"};
  if (key == "appendtext") values = {"", " ", "%s%n%x%s", std::string(300, 'a'), "_m/", "\xC3\xA9"};
  return values;
}

// Values that the run may take and that only make it long, not wrong:
// segments of 50 .. 10000 arc-seconds over the whole sphere, or an azimuth
// span of thousands of turns, which stays below the run's segment limit.
// A hang test cannot tell them from a hang, so they are left out.
bool OnlySlow(std::string_view key, const std::string& text) {
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  if (end == text.c_str() || !std::isfinite(v)) return false;
  if (key == "segsize") return v >= 50 && v < 10000;
  if (key == "LonFrom" || key == "LonTo") return std::fabs(v) >= 2000 && std::fabs(v) <= 1e12;
  return false;
}

std::string PickValue(std::string_view key, TRandom& random) {
  const std::vector<std::string> values = ValuesFor(key);
  for (;;) {
    const std::string& v = random.Pick(values);
    if (!OnlySlow(key, v)) return v;
  }
}

void SettingValue(TCase& c, TRandom& random) {
  const std::string key = random.OneIn(12) ? "appendtext" : random.Pick(kNumericKeys);
  const std::string value = PickValue(key, random);
  SetSetting(c, key, value);
  c.notes.push_back("settings: " + key + "=" + value);
}

// Any line but the segment size's: without it the run takes the default of
// 3600 arc-seconds, a valid run that is only slow (see OnlySlow).
void RemoveKey(TCase& c, TRandom& random) {
  if (c.settingsLines.empty()) return;
  const auto isSegmentSize = [&](std::size_t i) {
    std::string name = c.settingsLines[i].substr(0, 8);
    for (char& ch : name) ch = char(std::tolower(static_cast<unsigned char>(ch)));
    return name == "segsize=";
  };
  std::size_t at = random.Below(c.settingsLines.size());
  if (isSegmentSize(at)) {
    if (c.settingsLines.size() == 1) return;
    at = (at + 1) % c.settingsLines.size();
  }
  c.notes.push_back("settings: line '" + c.settingsLines[at] + "' removed");
  c.settingsLines.erase(c.settingsLines.begin() + std::ptrdiff_t(at));
}

void DuplicateKey(TCase& c, TRandom& random) {
  std::vector<std::size_t> keyLines;
  for (std::size_t i = 0; i < c.settingsLines.size(); ++i)
    if (c.settingsLines[i].find('=') != std::string::npos) keyLines.push_back(i);
  if (keyLines.empty()) return;
  const std::size_t at = random.Pick(keyLines);
  const std::string key = c.settingsLines[at].substr(0, c.settingsLines[at].find('='));
  const std::string value = PickValue(key, random);
  const bool before = random.OneIn(2);
  c.settingsLines.insert(c.settingsLines.begin() + std::ptrdiff_t(before ? at : at + 1), key + "=" + value);
  c.notes.push_back("settings: " + key + "=" + value + " added " + (before ? "before" : "after") + " the first " +
                    key);
}

void GarbageLine(TCase& c, TRandom& random) {
  static const std::string kGarbage[] = {
      "=", "==", "[", "[frmMain", "[]", "[frmMain]", "key", "=value", "datafile", std::string("da\0ta=x", 7),
      "\r", "x=" + std::string(3000, 'a'), std::string(100000, 'z'), "[Other]", ";comment=1", "#nlayer=0",
      "  nlayer  =  2  ", "NLAYER=0", "\xEF\xBB\xBF[frmMain]"};
  const std::size_t kind = random.Below(std::size(kGarbage) + 1);
  const std::string line = kind < std::size(kGarbage) ? kGarbage[kind] : RandomBytes(random, 1 + random.Below(100));
  const std::size_t at = random.Below(c.settingsLines.size() + 1);
  c.settingsLines.insert(c.settingsLines.begin() + std::ptrdiff_t(at), line);
  std::string shown = line.substr(0, 40);
  for (char& ch : shown)
    if (!std::isprint(static_cast<unsigned char>(ch))) ch = '?';
  c.notes.push_back("settings: line " + std::to_string(at + 1) + " inserted: '" + shown + "'" +
                    (line.size() > 40 ? " (" + std::to_string(line.size()) + " bytes)" : ""));
}

void SettingsLayout(TCase& c, TRandom& random) {
  std::string what;
  switch (random.Below(6)) {
    case 0: c.settingsByteOrderMark = true, what = "UTF-8 byte-order mark in front"; break;
    case 1: c.settingsCrLf = true, what = "CR LF line breaks"; break;
    case 2: c.settingsFinalBreak = false, what = "no line break at the end"; break;
    case 3: c.settingsByteOrderMark = c.settingsCrLf = true, what = "byte-order mark and CR LF"; break;
    case 4: {
      std::string one;
      for (const std::string& line : c.settingsLines) one += line + "\r";
      c.settingsLines = {one};
      c.settingsFinalBreak = false;
      what = "CR line breaks only";
      break;
    }
    default:
      for (std::string& line : c.settingsLines) {
        const std::size_t eq = line.find('=');
        std::transform(line.begin(), line.begin() + std::ptrdiff_t(eq == std::string::npos ? line.size() : eq),
                       line.begin(), [](unsigned char ch) { return char(std::toupper(ch)); });
      }
      what = "names in upper case";
      break;
  }
  c.notes.push_back("settings: " + what);
}

// Layer tables of every length, complete, so that no check of a missing
// cell refuses them before the engine sees them all.
void LayerStack(TCase& c, TRandom& random) {
  const std::vector<std::string> gridNames = c.surfaceNames;
  const int rows = random.Pick({2, 3, 5, 8, 14, 15, 16, 17, 40});
  for (int r = 5; r <= rows; ++r) {
    const bool grid = random.OneIn(3);
    SetSetting(c, CellKey(r, 1), grid ? " " : std::to_string(-60000 - 1000 * r));
    SetSetting(c, CellKey(r, 2), grid ? random.Pick(gridNames) : " ");
    const bool densityGrid = random.OneIn(4);
    SetSetting(c, CellKey(r, 3), densityGrid ? " " : "3.3");
    SetSetting(c, CellKey(r, 4), densityGrid ? c.densityName : " ");
  }
  SetSetting(c, "nlayer", std::to_string(rows));
  c.notes.push_back("settings: " + std::to_string(rows) + " complete layer rows");
}

void LayerCell(TCase& c, TRandom& random) {
  static const char* const kCells[] = {
      " ", "@", ";", "0;1", "top7.grd;2.67", "a;b;c;d;e", "top7.grd", "dens16.grd", "base6.grd", "0", "2.67",
      "-1e38", "1e38", "nan", "1e308", "-1e308", "-6371001", "6371001", "1e-320", "-0", "1e300", "-2.67"};
  const int row = 1 + int(random.Below(4)), column = 1 + int(random.Below(4));
  const char* value = random.Pick(kCells);
  SetSetting(c, CellKey(row, column), value);
  c.notes.push_back("settings: " + CellKey(row, column) + "=" + value);
}

// ---- paths

// Input paths replaced by what is no readable file. The point file gets no
// absolute path: the run writes its result and log beside it.
void PathSwap(TCase& c, TRandom& random) {
  static const char* const kTargets[] = {"datafile", "cell_row-1_col-2", "cell_row-3_col-2", "cell_row-4_col-2",
                                         "cell_row-4_col-4", "settings argument"};
  const std::string target = random.Pick(kTargets);
  const bool pointFile = target == "datafile", settings = target == "settings argument";
  struct TReplacement {
    const char* path;
    TNodeKind kind;
    const char* linkTarget;  // nullptr: no node to create
    bool absolute;
  };
  static const TReplacement kReplacements[] = {
      {"adir", TNodeKind::kDirectory, "", false},
      {"adir/", TNodeKind::kDirectory, "", false},
      {".", TNodeKind::kDirectory, nullptr, false},
      {"fifo", TNodeKind::kFifo, "", false},
      {"zero", TNodeKind::kSymlink, "/dev/zero", false},
      {"null", TNodeKind::kSymlink, "/dev/null", false},
      {"loop", TNodeKind::kSymlink, "loop", false},
      {"dangling", TNodeKind::kSymlink, "nowhere/x", false},
      {"/dev/zero", TNodeKind::kSymlink, nullptr, true},
      {"/dev/null", TNodeKind::kSymlink, nullptr, true},
      {"/", TNodeKind::kDirectory, nullptr, true},
      {"missing.grd", TNodeKind::kSymlink, nullptr, false},
      {"", TNodeKind::kSymlink, nullptr, false},
      {"run.ini", TNodeKind::kSymlink, nullptr, false},
      {"top7.grd", TNodeKind::kSymlink, nullptr, false},
      {"points.dat", TNodeKind::kSymlink, nullptr, false},
      {"top7.grd/", TNodeKind::kSymlink, nullptr, false},
      {"long", TNodeKind::kSymlink, nullptr, false},
  };
  TReplacement r = random.Pick(kReplacements);
  while (pointFile && r.absolute) r = random.Pick(kReplacements);
  std::string path = r.path;
  if (path == "long") path = std::string(5000, 'a');
  if (r.linkTarget != nullptr) {
    std::string name = path;
    if (!name.empty() && name.back() == '/') name.pop_back();
    c.nodes.push_back({name, r.kind, r.linkTarget});
  }
  if (settings)
    c.settingsArgument = path;
  else
    SetSetting(c, target, path);
  c.notes.push_back(target + " replaced by '" + (path.size() > 40 ? "5000 letters" : path) + "'");
}

// Where the result or the log would go, something that takes no file.
void OccupyOutput(TCase& c, TRandom& random) {
  const char* ending = random.OneIn(2) ? "_dce.dat" : "_dce.con";
  const std::string name = OutputName(c, ending);
  // A name the file system cannot hold is the run's to refuse, not ours.
  if (name.empty() || name.size() > 200 || name.find('/') != std::string::npos) return;
  static const TSpecialNode kKinds[] = {
      {"", TNodeKind::kDirectory, ""},
      {"", TNodeKind::kFifo, ""},
      {"", TNodeKind::kSymlink, "/dev/full"},
      {"", TNodeKind::kSymlink, "nowhere/x"},
  };
  TSpecialNode node = random.Pick(kKinds);
  node.name = name;
  c.nodes.push_back(node);
  const char* kindName = node.kind == TNodeKind::kDirectory ? "a directory"
                         : node.kind == TNodeKind::kFifo    ? "a FIFO"
                                                            : "a symlink to ";
  c.notes.push_back(name + " taken by " + kindName + node.target);
}

void CommandLine(TCase& c, TRandom& random) {
  static const std::vector<std::string> kOptions[] = {
      {"--unit", "kGal"}, {"--threads", "-1"}, {"--threads", "99999999999"}, {"--threads="}, {"--unit"},
      {"--threads", "0x10"}, {"-"}, {"--"}};
  const std::vector<std::string>& options = random.Pick(kOptions);
  c.options.insert(c.options.end(), options.begin(), options.end());
  if (random.OneIn(3)) c.extraArguments.push_back(random.OneIn(2) ? kSettingsName : "second.ini");
  std::string shown;
  for (const std::string& a : c.Arguments()) shown += " '" + a + "'";
  c.notes.push_back("command line:" + shown);
}

struct TMutation {
  const char* name;
  int weight;
  void (*apply)(TCase&, TRandom&);
};

const TMutation kMutations[] = {
    {"flip bits", 6, FlipBits},          {"overwrite bytes", 5, OverwriteBytes},
    {"truncate", 6, Truncate},           {"extend", 3, Extend},
    {"magic", 2, SwapMagic},             {"header field", 12, HeaderField},
    {"node counts", 4, NodeCounts},      {"geometry", 4, Geometry},
    {"grid values", 10, GridValues},     {"Surfer 7 section", 3, Surfer7Section},
    {"point field", 10, PointField},     {"junk line", 3, JunkLine},
    {"long line", 4, LongLine},          {"points layout", 4, PointsLayout},
    {"many points", 2, ManyPoints},      {"setting value", 14, SettingValue},
    {"remove key", 4, RemoveKey},        {"duplicate key", 4, DuplicateKey},
    {"garbage line", 4, GarbageLine},    {"settings layout", 4, SettingsLayout},
    {"path", 8, PathSwap},               {"occupied output", 3, OccupyOutput},
    {"command line", 2, CommandLine},    {"point on a surface", 5, PointOnSurface},
    {"layer stack", 4, LayerStack},      {"layer cell", 5, LayerCell},
};

const TMutation& PickMutation(TRandom& random) {
  int total = 0;
  for (const TMutation& m : kMutations) total += m.weight;
  int at = int(random.Below(std::size_t(total)));
  for (const TMutation& m : kMutations) {
    if (at < m.weight) return m;
    at -= m.weight;
  }
  return kMutations[0];
}

// Damage aimed at the grids that GDAL reads, in the runs that have them:
// the byte-level kinds above and one kind for each format's structure.
struct TFormatMutation {
  const char* name;
  int weight;
  std::optional<TGridFormat> needs;  // a grid of this format in the case
  void (*apply)(TCase&, TRandom&);
};

const TFormatMutation kFormatMutations[] = {
    {"flip bits", 5, {}, FlipBits},
    {"overwrite bytes", 4, {}, OverwriteBytes},
    {"truncate", 5, {}, Truncate},
    {"extend", 2, {}, Extend},
    {"magic", 2, {}, SwapMagic},
    {"header field", 14, {}, HeaderField},
    {"node counts", 3, {}, NodeCounts},
    {"geometry", 4, {}, Geometry},
    {"grid values", 5, {}, GridValues},
    {"TIFF structure", 5, TGridFormat::kGeoTiff, TiffStructure},
    {"netCDF structure", 5, TGridFormat::kNetcdf, NetcdfStructure},
    {"VRT edit", 18, TGridFormat::kVrt, VrtEdit},
    {"ASCII header", 8, TGridFormat::kAsciiGrid, AsciiHeader},
    {"ASCII values", 4, TGridFormat::kAsciiGrid, AsciiValue},
};

void (*PickFormatMutation(const TCase& c, TRandom& random))(TCase&, TRandom&) {
  int total = 0;
  for (const TFormatMutation& m : kFormatMutations)
    if (!m.needs || HasFormat(c, *m.needs)) total += m.weight;
  int at = int(random.Below(std::size_t(total)));
  for (const TFormatMutation& m : kFormatMutations) {
    if (m.needs && !HasFormat(c, *m.needs)) continue;
    if (at < m.weight) return m.apply;
    at -= m.weight;
  }
  return FlipBits;
}

// The base run of a case: native in 11 of 20, else one of the runs
// through GDAL. Drawn from a stream of its own, so that a native case is
// the case of the same seed and index from before the other runs came.
// `gdalOnly`: one of the runs through GDAL, always.
TVariant PickVariant(std::uint64_t seed, std::uint64_t caseIndex, bool gdalOnly) {
  TRandom random(Mix64(Mix64(seed) ^ caseIndex) ^ 0x6A09E667F3BCC908ULL);
  std::size_t roll = random.Below(20);
  if (gdalOnly) roll = 11 + roll % 9;
  return roll < 11 ? TVariant::kNative : roll < 17 ? TVariant::kGdal : TVariant::kGdalNames;
}

// One to three mutations, most often one, so that a failure usually has a
// single cause. In a run through GDAL two in three aim at its grids.
TCase MakeCase(std::uint64_t seed, std::uint64_t caseIndex, bool gdalOnly) {
  TRandom random = CaseRandom(seed, caseIndex);
  TCase c = BaseCase(PickVariant(seed, caseIndex, gdalOnly));
  // Every run is valid with any unit and thread count: varied, not damage.
  // At most 4 threads, which the batch allows on a single core too, so that
  // a case replays alike on every machine.
  c.options = {"--threads", random.Pick({"1", "2", "0", "3", "4"})};
  if (random.OneIn(3)) c.options.insert(c.options.begin(), {"--unit", "microGal"});
  const std::size_t roll = random.Below(20);
  const int count = roll < 13 ? 1 : roll < 18 ? 2 : 3;
  for (int i = 0; i < count; ++i) {
    // An edit of text that an earlier mutation took away finds no place.
    try {
      if (c.variant != TVariant::kNative && random.Below(3) < 2)
        PickFormatMutation(c, random)(c, random);
      else
        PickMutation(random).apply(c, random);
    } catch (const std::exception&) {
      c.notes.push_back("a mutation found no place for its edit in what an earlier one left");
    }
  }
  return c;
}

// ------------------------------------------------------------------ files

bool WriteFile(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), std::streamsize(bytes.size()));
  return bool(out.flush());
}

// At most `maxBytes` of a regular file.
std::string ReadFile(const fs::path& path, std::size_t maxBytes = std::size_t{64} << 20) {
  std::error_code ec;
  const std::uintmax_t size = fs::file_size(path, ec);
  if (ec) return {};
  std::ifstream in(path, std::ios::binary);
  std::string text(std::size_t(std::min<std::uintmax_t>(size, maxBytes)), '\0');
  in.read(text.data(), std::streamsize(text.size()));
  text.resize(std::size_t(in.gcount()));
  return text;
}

// `text` with every kPortMark replaced by `port`.
std::string WithPort(std::string text, int port) {
  const std::string mark = kPortMark, number = std::to_string(port);
  for (std::size_t at = text.find(mark); at != std::string::npos; at = text.find(mark, at + number.size()))
    text.replace(at, mark.size(), number);
  return text;
}

// `port`: the case's listener, put where a grid names kPortMark.
std::optional<std::string> WriteCase(const TCase& c, const fs::path& dir, int port) {
  std::error_code ec;
  fs::create_directories(dir, ec);
  if (ec) return "cannot create " + dir.string() + ": " + ec.message();
  bool ok = WriteFile(dir / kSettingsName, WithPort(SettingsText(c), port)) && WriteFile(dir / kPointsName, c.points);
  for (const TGridFile& grid : c.grids) ok = ok && WriteFile(dir / grid.name, WithPort(grid.bytes, port));
  if (!ok) return "cannot write the files of the case in " + dir.string();
  for (const TSpecialNode& node : c.nodes) {
    const fs::path path = dir / node.name;
    fs::remove_all(path, ec);
    int rc = 0;
    switch (node.kind) {
      case TNodeKind::kDirectory: rc = ::mkdir(path.c_str(), 0755); break;
      case TNodeKind::kFifo: rc = ::mkfifo(path.c_str(), 0644); break;
      case TNodeKind::kSymlink: rc = ::symlink(node.target.c_str(), path.c_str()); break;
    }
    if (rc != 0 && errno != EEXIST) return "cannot create " + path.string() + ": " + std::strerror(errno);
  }
  return std::nullopt;
}

// A copy that keeps FIFOs and symlinks as they are, without opening them.
void CopyTree(const fs::path& from, const fs::path& to) {
  std::error_code ec;
  fs::create_directories(to, ec);
  for (const fs::directory_entry& entry : fs::directory_iterator(from, ec)) {
    const fs::path target = to / entry.path().filename();
    const fs::file_status status = entry.symlink_status(ec);
    if (fs::is_symlink(status))
      fs::copy_symlink(entry.path(), target, ec);
    else if (fs::is_directory(status))
      CopyTree(entry.path(), target);
    else if (fs::is_fifo(status))
      ::mkfifo(target.c_str(), 0644);
    else if (fs::is_regular_file(status))
      fs::copy_file(entry.path(), target, fs::copy_options::overwrite_existing, ec);
  }
}

// ------------------------------------------------------------------ the child

std::string ShellQuote(const std::string& text) {
  std::string quoted = "'";
  for (char ch : text) quoted += ch == '\'' ? std::string("'\\''") : std::string(1, ch);
  return quoted + "'";
}

std::string MergedOptions(const char* name, const char* ours) {
  const char* inherited = std::getenv(name);
  // Later flags win: ours come last, whatever the caller set.
  return inherited != nullptr && *inherited != '\0' ? std::string(inherited) + ":" + ours : std::string(ours);
}

class TChildEnvironment {
 public:
  TChildEnvironment() {
    for (char** e = environ; *e != nullptr; ++e) {
      const std::string_view entry(*e);
      if (entry.starts_with("ASAN_OPTIONS=") || entry.starts_with("UBSAN_OPTIONS=")) continue;
      entries_.emplace_back(entry);
    }
    entries_.push_back("ASAN_OPTIONS=" + MergedOptions("ASAN_OPTIONS", kAsanOptions));
    entries_.push_back("UBSAN_OPTIONS=" + MergedOptions("UBSAN_OPTIONS", kUbsanOptions));
    for (std::string& e : entries_) pointers_.push_back(e.data());
    pointers_.push_back(nullptr);
  }
  char** get() { return pointers_.data(); }
  std::string ShellPrefix() const {
    return "ASAN_OPTIONS=" + ShellQuote(MergedOptions("ASAN_OPTIONS", kAsanOptions)) + " UBSAN_OPTIONS=" +
           ShellQuote(MergedOptions("UBSAN_OPTIONS", kUbsanOptions));
  }

 private:
  std::vector<std::string> entries_;
  std::vector<char*> pointers_;
};

// A socket on 127.0.0.1 that takes connections and never answers: a case
// whose grid reaches the network hangs on it (and is ended by the
// timeout), and the connection waits in its queue to be counted.
class TListener {
 public:
  TListener() {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd_, 16) != 0 ||
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      Close();
      return;
    }
    port_ = ntohs(address.sin_port);
  }
  ~TListener() { Close(); }
  TListener(TListener&& other) noexcept : fd_(std::exchange(other.fd_, -1)), port_(other.port_) {}
  TListener& operator=(TListener&& other) noexcept {
    if (this != &other) Close(), fd_ = std::exchange(other.fd_, -1), port_ = other.port_;
    return *this;
  }

  // 1 when no socket could be had: a port where nothing listens.
  int port() const { return port_; }
  // Connections that arrived since the last call.
  int Connections() {
    int count = 0;
    for (int client; fd_ >= 0 && (client = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC)) >= 0; ++count)
      ::close(client);
    return count;
  }

 private:
  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  int fd_ = -1;
  int port_ = 1;
};

// Starts the batch in `dir`, in a process group of its own so that a
// timeout can end it with everything it started. -1 when fork fails. Its
// standard input is a pipe whose other end `stdinWriter` keeps open and
// never writes: a run that reads standard input waits, and times out.
pid_t StartBatch(const std::string& batch, const std::vector<std::string>& args, const fs::path& dir,
                 TChildEnvironment& environment, int& stdinWriter) {
  std::vector<std::string> argvText = {batch};
  argvText.insert(argvText.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : argvText) argv.push_back(a.data());
  argv.push_back(nullptr);
  const std::string dirText = dir.string();
  const std::string outPath = (dir / kStdoutName).string(), errPath = (dir / kStderrName).string();

  int pipeEnds[2] = {-1, -1};
  if (::pipe2(pipeEnds, O_CLOEXEC) != 0) return -1;
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::setpgid(0, 0);
    const int in = pipeEnds[0];
    const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || err < 0 || ::dup2(in, 0) < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0) _exit(125);
    for (const int fd : {in, out, err})
      if (fd > 2) ::close(fd);
    if (::chdir(dirText.c_str()) != 0) _exit(125);
    ::execve(argv[0], argv.data(), environment.get());
    _exit(127);
  }
  if (pid > 0) ::setpgid(pid, pid);  // also here: no race with a timeout kill
  ::close(pipeEnds[0]);
  if (pid > 0) stdinWriter = pipeEnds[1];
  else ::close(pipeEnds[1]);
  return pid;
}

struct TOutcome {
  bool timedOut = false;
  int signal = 0;  // ended by it; 0: exited
  int status = -1;
  double seconds = 0;
};

// ------------------------------------------------------------------ judging

bool NonFiniteToken(std::string token) {
  for (char& ch : token) ch = char(std::tolower(static_cast<unsigned char>(ch)));
  std::size_t start = 0;
  while (start < token.size() && (token[start] == '+' || token[start] == '-')) ++start;
  const std::string_view t = std::string_view(token).substr(start);
  return t.starts_with("nan") || t.starts_with("inf");
}

// Result files anywhere in the case folder (a point file in a folder puts
// its result there), regular files only: a FIFO would block the reading.
std::vector<fs::path> ResultFiles(const fs::path& dir, const char* ending) {
  std::vector<fs::path> found;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.size() >= std::strlen(ending) && name.ends_with(ending) && fs::is_regular_file(it->path(), ec))
      found.push_back(it->path());
  }
  std::sort(found.begin(), found.end());
  return found;
}

// `connections`: those that reached the case's listener.
std::vector<std::string> Judge(const TOutcome& outcome, const fs::path& dir, int timeoutSec, int connections) {
  std::vector<std::string> faults;
  if (connections > 0)
    faults.push_back(std::to_string(connections) + " connection(s) to the listener on 127.0.0.1: a grid reached the network");
  if (outcome.timedOut) faults.push_back("no end within " + std::to_string(timeoutSec) + " s (process group killed)");
  if (outcome.signal != 0 && !outcome.timedOut)
    faults.push_back("ended by signal " + std::to_string(outcome.signal) + " (" + ::strsignal(outcome.signal) + ")");
  if (outcome.signal == 0) {
    if (outcome.status == kAsanStatus) faults.push_back("AddressSanitizer report (status 86)");
    else if (outcome.status == kUbsanStatus) faults.push_back("UndefinedBehaviorSanitizer report (status 87)");
    else if (outcome.status == 127 || outcome.status == 125) faults.push_back("the batch could not be started");
    else if (outcome.status < 0 || outcome.status > kMaxAcceptedStatus)
      faults.push_back("exit status " + std::to_string(outcome.status));
  }
  const std::string err = ReadFile(dir / kStderrName, std::size_t{1} << 20);
  for (const char* report : {"ERROR: AddressSanitizer", "ERROR: LeakSanitizer", "runtime error:"})
    if (err.find(report) != std::string::npos && faults.empty())
      faults.push_back(std::string("sanitizer text in standard error: ") + report);
  if (!outcome.timedOut && outcome.signal == 0 && outcome.status != 0 && err.empty())
    faults.push_back("status " + std::to_string(outcome.status) + " without a word on standard error");

  for (const fs::path& file : ResultFiles(dir, "_dce.dat")) {
    const std::string text = ReadFile(file);
    const std::string name = fs::relative(file, dir).string();
    if (!text.empty() && text.back() != '\n') faults.push_back(name + ": the last line is not whole");
    std::size_t lineNumber = 0;
    for (const std::string& line : SplitLines(text)) {
      ++lineNumber;
      bool reported = false;
      for (const std::string& token : Tokens(line)) {
        if (!NonFiniteToken(token)) continue;
        faults.push_back(name + " line " + std::to_string(lineNumber) + ": '" + token + "'");
        reported = true;
        break;
      }
      if (reported) break;  // the first one is enough
    }
  }
  if (!outcome.timedOut && outcome.signal == 0 && outcome.status == 0) {
    if (ResultFiles(dir, "_dce.dat").empty()) faults.push_back("status 0 without a result file");
    if (ResultFiles(dir, "_dce.con").empty()) faults.push_back("status 0 without a run log");
  }
  return faults;
}

// ------------------------------------------------------------------ driver

struct TOptions {
  std::string batch;
  std::uint64_t cases = 120;
  std::uint64_t seed = 1;
  std::optional<std::uint64_t> only;  // --case
  fs::path keep = "mutation-failures";
  int timeoutSec = 20;
  unsigned jobs = 1;
  bool verbose = false;
  std::string gdal = "auto";
  fs::path baseOnly;  // --base: write the unharmed runs there and stop
  bool gdalOnly = false;  // --gdal-only: every case from a run through GDAL  // --gdal: do the runs through GDAL complete (yes), get refused (no), either (auto)
};

const char kUsage[] =
    "Usage: run_mutations --batch PATH [--cases N] [--seed S] [--case I] [--keep DIR]\n"
    "                     [--timeout SEC] [--jobs J] [--gdal yes|no|auto] [--gdal-only]\n"
    "                     [--verbose]\n"
    "\n"
    "Runs globelayers-batch PATH on N damaged copies of a valid run (cases 0 .. N-1\n"
    "of seed S; default 120 cases of seed 1). --case I runs case I alone and keeps\n"
    "its folder. Failing cases are kept in DIR (default ./mutation-failures) as\n"
    "seed<S>-case<I>, with case.txt saying what was damaged and how to rerun it.\n"
    "A run that takes more than SEC seconds (default 20) counts as hung. --jobs J\n"
    "runs J cases at a time (default 1). --gdal yes: the unharmed runs through GDAL\n"
    "must complete (a build with GDAL); no: they must be refused with a message (a\n"
    "build without); auto (default): either. Exit status: 0 every case passed, 1\n"
    "some failed, 2 usage error. --gdal-only: every case damages a run through GDAL.\n"
    "\n"
    "run_mutations --base DIR writes the unharmed runs into DIR/native, DIR/gdal\n"
    "and DIR/gdal-names, to run the batch on by hand, and runs nothing.\n";

template <class T>
bool ParseNumber(const std::string& text, T& value) {
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  return ec == std::errc() && ptr == end;
}

std::optional<TOptions> ParseOptions(int argc, char** argv) {
  TOptions o;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i], value;
    bool hasValue = false;
    if (const std::size_t eq = arg.find('='); arg.starts_with("--") && eq != std::string::npos) {
      value = arg.substr(eq + 1);
      arg.resize(eq);
      hasValue = true;
    }
    if (arg == "--verbose") {
      o.verbose = true;
      continue;
    }
    if (arg == "--gdal-only") {
      o.gdalOnly = true;
      continue;
    }
    if (arg == "--help" || arg == "-h") return std::nullopt;
    if (!hasValue) {
      if (i + 1 >= argc) return std::nullopt;
      value = argv[++i];
    }
    bool ok = true;
    if (arg == "--batch") o.batch = value;
    else if (arg == "--cases") ok = ParseNumber(value, o.cases);
    else if (arg == "--seed") ok = ParseNumber(value, o.seed);
    else if (arg == "--case") ok = ParseNumber(value, o.only.emplace());
    else if (arg == "--keep") o.keep = value;
    else if (arg == "--timeout") ok = ParseNumber(value, o.timeoutSec) && o.timeoutSec > 0;
    else if (arg == "--jobs") ok = ParseNumber(value, o.jobs) && o.jobs > 0;
    else if (arg == "--base") o.baseOnly = value;
    else if (arg == "--gdal") o.gdal = value, ok = value == "yes" || value == "no" || value == "auto";
    else ok = false;
    if (!ok) return std::nullopt;
  }
  if (o.batch.empty() && o.baseOnly.empty()) return std::nullopt;
  return o;
}

struct TJob {
  std::string label;  // "case 12" or "base"
  std::optional<std::uint64_t> caseIndex;
  TCase c;
  fs::path dir;
  pid_t pid = -1;
  std::chrono::steady_clock::time_point start;
  TListener listener;
  int stdinWriter = -1;  // the write end of the run's standard input
};

class TDriver {
 public:
  TDriver(TOptions options, fs::path self, fs::path workRoot)
      : o_(std::move(options)), self_(std::move(self)), workRoot_(std::move(workRoot)) {}

  // Runs the cases, `o_.jobs` at a time, each made as it starts (a case
  // holds its grids: tens of thousands of them would not fit in memory);
  // true when all passed.
  bool RunAll(const std::vector<std::uint64_t>& cases, bool keepAll) {
    std::vector<TJob> running;
    std::size_t next = 0;
    bool allPassed = true;
    while (next < cases.size() || !running.empty()) {
      while (running.size() < o_.jobs && next < cases.size()) {
        TJob job = MakeJob(cases[next++]);
        if (const std::optional<std::string> error = WriteCase(job.c, job.dir, job.listener.port())) {
          std::cout << "FAIL seed " << o_.seed << " " << job.label << ": the case cannot be written: " << *error
                    << "\n";
          ++failures_;
          allPassed = false;
          continue;
        }
        job.start = std::chrono::steady_clock::now();
        job.pid = StartBatch(o_.batch, job.c.Arguments(), job.dir, environment_, job.stdinWriter);
        if (job.pid < 0) {
          std::cerr << "run_mutations: fork failed: " << std::strerror(errno) << "\n";
          return false;
        }
        running.push_back(std::move(job));
      }
      bool ended = false;
      for (std::size_t i = 0; i < running.size();) {
        std::optional<TOutcome> outcome = Poll(running[i]);
        if (!outcome) {
          ++i;
          continue;
        }
        ended = true;
        allPassed = Finish(running[i], *outcome, keepAll) && allPassed;
        running.erase(running.begin() + std::ptrdiff_t(i));
      }
      if (!ended) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return allPassed;
  }

  TJob MakeJob(std::optional<std::uint64_t> caseIndex) {
    TJob job;
    job.caseIndex = caseIndex;
    job.label = caseIndex ? "case " + std::to_string(*caseIndex) : "base";
    job.c = caseIndex ? MakeCase(o_.seed, *caseIndex, o_.gdalOnly) : BaseCase();
    job.dir = workRoot_ / (caseIndex ? "case" + std::to_string(*caseIndex) : "base");
    return job;
  }

  void PrintSummary(std::uint64_t cases, bool passed) const {
    std::cout << "run_mutations: " << cases << " cases of seed " << o_.seed << ", " << failures_ << " failed;";
    for (const auto& [status, count] : statuses_) std::cout << " status " << status << " x" << count << ";";
    if (signals_ > 0) std::cout << " signals x" << signals_ << ";";
    if (timeouts_ > 0) std::cout << " timeouts x" << timeouts_ << ";";
    std::cout << " slowest " << slowestLabel_ << " (" << Printf("%.2f", slowestSeconds_) << " s)\n";
    for (const auto& [variant, counts] : variantStatuses_) {
      int total = 0;
      for (const auto& [status, count] : counts) total += count;
      std::cout << "  " << VariantName(variant) << ": " << total << " cases;";
      for (const auto& [status, count] : counts) std::cout << " " << status << " x" << count << ";";
      std::cout << "\n";
    }
    if (!passed) std::cout << "run_mutations: failing cases kept in " << fs::absolute(o_.keep).string() << "\n";
  }

 private:
  // The outcome once the job's process has ended (or was killed for taking
  // too long); empty while it runs.
  std::optional<TOutcome> Poll(TJob& job) {
    TOutcome outcome;
    siginfo_t info{};
    // WNOWAIT: the group is ended before the leader is reaped, so its id
    // cannot have gone to another process yet.
    if (::waitid(P_PID, id_t(job.pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0 || info.si_pid == 0) {
      const auto elapsed = std::chrono::steady_clock::now() - job.start;
      if (elapsed < std::chrono::seconds(o_.timeoutSec)) return std::nullopt;
      outcome.timedOut = true;
    }
    ::kill(-job.pid, SIGKILL);
    int status = 0;
    ::waitpid(job.pid, &status, 0);
    outcome.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - job.start).count();
    if (WIFSIGNALED(status)) outcome.signal = WTERMSIG(status);
    if (WIFEXITED(status)) outcome.status = WEXITSTATUS(status);
    return outcome;
  }

  std::string ReplayCommand(const TJob& job) const {
    return ShellQuote(self_.string()) + " --batch " + ShellQuote(o_.batch) + " --seed " + std::to_string(o_.seed) +
           (o_.gdalOnly ? " --gdal-only" : "") +
           (job.caseIndex ? " --case " + std::to_string(*job.caseIndex) : std::string()) + " --keep " +
           ShellQuote(fs::absolute(o_.keep).string());
  }

  std::string HandCommand(const TJob& job, const fs::path& folder) const {
    std::string command = "cd " + ShellQuote(folder.string()) + " && " + environment_.ShellPrefix() + " " +
                          ShellQuote(o_.batch);
    for (const std::string& a : job.c.Arguments()) command += ' ' + ShellQuote(a.size() > 200 ? a.substr(0, 200) + "..." : a);
    return command;
  }

  bool Finish(TJob& job, const TOutcome& outcome, bool keepAll) {
    if (job.stdinWriter >= 0) ::close(job.stdinWriter);
    const std::vector<std::string> faults = Judge(outcome, job.dir, o_.timeoutSec, job.listener.Connections());
    const std::string statusText = outcome.timedOut ? "timeout"
                                   : outcome.signal  ? "signal " + std::to_string(outcome.signal)
                                                     : "status " + std::to_string(outcome.status);
    if (outcome.timedOut) ++timeouts_;
    else if (outcome.signal != 0) ++signals_;
    else ++statuses_[outcome.status];
    ++variantStatuses_[job.c.variant][statusText];
    if (outcome.seconds > slowestSeconds_) slowestSeconds_ = outcome.seconds, slowestLabel_ = job.label;

    std::ostringstream report;
    report << "  base run: " << VariantName(job.c.variant) << "\n";
    for (const std::string& note : job.c.notes) report << "  mutation: " << note << "\n";
    for (const TGridFile& grid : job.c.grids)
      if (grid.bytes.find(kPortMark) != std::string::npos)
        report << "  " << grid.name << ": " << kPortMark << " is port " << job.listener.port()
               << " of this run's listener\n";
    std::string args;
    for (const std::string& a : job.c.Arguments()) args += " " + ShellQuote(a.size() > 60 ? a.substr(0, 60) + "..." : a);
    report << "  arguments:" << args << "\n";

    if (o_.verbose || !faults.empty() || keepAll) {
      std::cout << (faults.empty() ? "ok   " : "FAIL ") << "seed " << o_.seed << " " << job.label << ": "
                << statusText << Printf(", %.2f s", outcome.seconds) << "\n";
      for (const std::string& f : faults) std::cout << "  fault: " << f << "\n";
      std::cout << report.str();
      const std::string said = ReadFile(job.dir / kStderrName, 4096);
      const std::size_t start = std::min(said.size(), said.find_first_not_of("\r\n"));
      const std::string firstLine = said.substr(start, said.find_first_of("\r\n", start) - start);
      if (!firstLine.empty()) std::cout << "  said: " << firstLine.substr(0, 160) << "\n";
    }
    if (!faults.empty() || keepAll) {
      const fs::path kept = o_.keep / ("seed" + std::to_string(o_.seed) + "-" +
                                       (job.caseIndex ? "case" + std::to_string(*job.caseIndex) : "base"));
      std::error_code ec;
      fs::remove_all(kept, ec);
      CopyTree(job.dir, kept);
      const fs::path absoluteKept = fs::absolute(kept);
      std::ostringstream notes;
      notes << "seed " << o_.seed << " " << job.label << ": " << statusText << "\n";
      for (const std::string& f : faults) notes << "  fault: " << f << "\n";
      notes << report.str() << "\nReplay through the driver:\n  " << ReplayCommand(job)
            << "\nRun the batch by hand on this folder:\n  " << HandCommand(job, absoluteKept) << "\n";
      WriteFile(kept / kNotesName, notes.str());
      std::cout << "  replay: " << ReplayCommand(job) << "\n  kept:   " << absoluteKept.string() << "\n";
    }
    if (!faults.empty()) ++failures_;
    std::cout.flush();
    std::error_code ec;
    fs::remove_all(job.dir, ec);
    return faults.empty();
  }

  TOptions o_;
  fs::path self_, workRoot_;
  TChildEnvironment environment_;
  int failures_ = 0, timeouts_ = 0, signals_ = 0;
  std::map<int, int> statuses_;
  std::map<TVariant, std::map<std::string, int>> variantStatuses_;
  double slowestSeconds_ = 0;
  std::string slowestLabel_ = "none";
};

// The unharmed runs must complete with a whole result line per station,
// or every case below would test the refusal of a run that never worked.
// A run through GDAL may instead be refused with a message (a batch built
// without GDAL), as `gdal` says: "yes" it must complete, "no" it must be
// refused, "auto" either.
bool BaseRunsAsExpected(const std::string& batch, const fs::path& workRoot, int timeoutSec, const std::string& gdal) {
  bool allAsExpected = true;
  for (const TVariant variant : kVariants) {
    const fs::path dir = workRoot / "base-check";
    TCase c = BaseCase(variant);
    if (const std::optional<std::string> error = WriteCase(c, dir, 1)) {
      std::cerr << "run_mutations: " << *error << "\n";
      return false;
    }
    TChildEnvironment environment;
    int stdinWriter = -1;
    const pid_t pid = StartBatch(batch, c.Arguments(), dir, environment, stdinWriter);
    if (pid < 0) return false;
    const auto start = std::chrono::steady_clock::now();
    int status = 0;
    bool timedOut = false;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() - start > std::chrono::seconds(timeoutSec)) {
        ::kill(-pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        timedOut = true;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ::close(stdinWriter);
    const std::string result = ReadFile(dir / (std::string("points") + kAppendText + "_dce.dat"));
    const std::string err = ReadFile(dir / kStderrName, 4096);
    const std::vector<std::string> lines = SplitLines(result);
    bool finite = true;
    for (const std::string& line : lines)
      for (const std::string& token : Tokens(line)) finite = finite && !NonFiniteToken(token);
    const bool completed = !timedOut && WIFEXITED(status) && WEXITSTATUS(status) == 0 &&
                           lines.size() == std::size_t(1 + kStationCount) && finite && !result.empty() &&
                           result.back() == '\n';
    const bool refused = !timedOut && WIFEXITED(status) && WEXITSTATUS(status) == 1 &&
                         err.find("Error by reading grid") != std::string::npos;
    const bool native = variant == TVariant::kNative;
    const bool ok = native || gdal == "yes" ? completed : gdal == "no" ? refused : completed || refused;
    if (!ok) {
      std::cerr << "run_mutations: the unharmed run (" << VariantName(variant) << ") "
                << (native || gdal == "yes" ? "did not complete cleanly"
                    : gdal == "no"          ? "was not refused with a message"
                                            : "neither completed nor was refused with a message")
                << (timedOut             ? " (timeout)"
                    : WIFEXITED(status) ? " (status " + std::to_string(WEXITSTATUS(status)) + ")"
                                        : " (signal)")
                << "; its standard error:\n" << err << "result file:\n" << result;
      allAsExpected = false;
    } else if (!native && refused && gdal == "auto") {
      std::cout << "run_mutations: the batch refuses the unharmed run (" << VariantName(variant)
                << "), as one built without GDAL does; its cases are judged all the same\n";
    }
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
  return allAsExpected;
}

}  // namespace

int main(int argc, char** argv) {
  const std::optional<TOptions> parsed = ParseOptions(argc, argv);
  if (!parsed) {
    std::cerr << kUsage;
    return 2;
  }
  TOptions o = *parsed;
  std::error_code ec;
  if (!o.baseOnly.empty()) {
    for (const TVariant variant : kVariants) {
      const char* folder = variant == TVariant::kNative ? "native" : variant == TVariant::kGdal ? "gdal" : "gdal-names";
      if (const std::optional<std::string> error = WriteCase(BaseCase(variant), o.baseOnly / folder, 1)) {
        std::cerr << "run_mutations: " << *error << "\n";
        return 2;
      }
    }
    return 0;
  }
  o.batch = fs::absolute(o.batch, ec).string();
  if (::access(o.batch.c_str(), X_OK) != 0) {
    std::cerr << "run_mutations: " << o.batch << " is not an executable\n";
    return 2;
  }
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/globelayers-mutations-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) {
    std::cerr << "run_mutations: cannot create a folder from " << pattern << ": " << std::strerror(errno) << "\n";
    return 2;
  }
  const fs::path workRoot = pattern;
  const fs::path self = fs::absolute(argv[0], ec);

  bool passed = BaseRunsAsExpected(o.batch, workRoot, o.timeoutSec, o.gdal);
  if (passed) {
    TDriver driver(o, self, workRoot);
    std::vector<std::uint64_t> cases;
    if (o.only) {
      cases.push_back(*o.only);
    } else {
      for (std::uint64_t i = 0; i < o.cases; ++i) cases.push_back(i);
    }
    passed = driver.RunAll(cases, o.only.has_value());
    driver.PrintSummary(cases.size(), passed);
  }
  fs::remove_all(workRoot, ec);
  return passed ? 0 : 1;
}

// The grid readers on small binary fixtures built here byte by byte, on
// grids written by GDAL, and on damaged files of every kind.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <new>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "GridImports.h"
#include "StopRequest.h"
#include "GridSource.h"
#include "RecordingPrompts.h"

// The largest single request for memory, so a test can prove that a tiny
// file declaring a huge grid is refused before anything is allocated; and
// a limit above which requests fail, as when memory runs out.
namespace {
std::atomic<std::size_t> largestRequest{0};
std::atomic<std::size_t> failRequestsAbove{SIZE_MAX};
}  // namespace
// Out of line, so that the compiler does not pair an inlined free() with a
// new expression and warn.
__attribute__((noinline)) void* operator new(std::size_t bytes) {
  std::size_t seen = largestRequest.load();
  while (bytes > seen && !largestRequest.compare_exchange_weak(seen, bytes)) {
  }
  if (bytes > failRequestsAbove.load()) throw std::bad_alloc();
  if (void* p = std::malloc(bytes == 0 ? 1 : bytes)) return p;
  throw std::bad_alloc();
}
__attribute__((noinline)) void operator delete(void* p) noexcept { std::free(p); }
__attribute__((noinline)) void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace globelayers {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<unsigned char>;

constexpr double kSurferBlank = 1.70141e38;

// What the user is told about one fault of the grid `name` (the texts
// themselves are checked once, in GridFaultMessages).
std::vector<std::string> Said(TGridFault fault, const std::string& name) { return {GridFaultMessage(fault, name)}; }

using TRecordingPrompts = test::TRecordingPrompts<>;

// Ends the test process when a file that must be refused at once blocks
// instead (a FIFO with no writer), rather than hanging the whole run.
class TWatchdog {
 public:
  explicit TWatchdog(unsigned seconds) { alarm(seconds); }
  ~TWatchdog() { alarm(0); }
  TWatchdog(const TWatchdog&) = delete;
  TWatchdog& operator=(const TWatchdog&) = delete;
};

// Little-endian writer for binary fixtures.
class TBytes {
 public:
  TBytes& raw(std::string_view text) {
    data.insert(data.end(), text.begin(), text.end());
    return *this;
  }
  TBytes& i16(std::int16_t v) { return put(std::uint16_t(v), 2); }
  TBytes& i32(std::int32_t v) { return put(std::uint32_t(v), 4); }
  TBytes& f32(float v) {
    std::uint32_t u;
    std::memcpy(&u, &v, 4);
    return put(u, 4);
  }
  TBytes& f64(double v) {
    std::uint64_t u;
    std::memcpy(&u, &v, 8);
    return put(u, 8);
  }
  TBytes& zeros(std::size_t n) {
    data.insert(data.end(), n, 0);
    return *this;
  }
  Bytes data;

 private:
  TBytes& put(std::uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) data.push_back(static_cast<unsigned char>(v >> (8 * i)));
    return *this;
  }
};

struct TSurfer6 {
  std::int16_t nx = 3, ny = 2;
  double xMin = 10, xMax = 12, yMin = 40, yMax = 41, zMin = 1, zMax = 6;
  std::vector<float> values{1, 2, 3, 4, 5, 6};  // row 0 first

  Bytes Write() const {
    TBytes b;
    b.raw("DSBB").i16(nx).i16(ny).f64(xMin).f64(xMax).f64(yMin).f64(yMax).f64(zMin).f64(zMax);
    for (float v : values) b.f32(v);
    return b.data;
  }
};

struct TSurfer7 {
  std::int32_t rows = 2, columns = 3;
  double xMin = 10, yMin = 40, xStep = 0.5, yStep = 0.25, zMin = 1, zMax = 6, rotation = 0;
  double blank = kSurferBlank;
  std::vector<double> values{1, 2, 3, 4, 5, 6};  // row 0 first
  bool faultsBefore = false;  // a fault section with its data before the grid
  bool faultsAfter = false;   // ... after the grid's data
  bool dataSection = true;

  static void Faults(TBytes& b) {
    b.raw("FLTI").i32(8).i32(1).i32(2);  // one trace of two vertices
    // The first vertex's x has "GRID" in its low bytes: the fault data must
    // be passed over by its length, not walked word by word.
    b.raw("DATA").i32(4 + 32).i32(2).raw("GRID").zeros(4).f64(40).f64(11).f64(41);
  }
  Bytes Write() const {
    TBytes b;
    b.raw("DSRB").i32(4).i32(2);
    if (faultsBefore) Faults(b);
    b.raw("GRID").i32(72).i32(rows).i32(columns);
    b.f64(xMin).f64(yMin).f64(xStep).f64(yStep).f64(zMin).f64(zMax).f64(rotation).f64(blank);
    if (dataSection) {
      b.raw("DATA").i32(std::int32_t(8 * values.size()));
      for (double v : values) b.f64(v);
    }
    if (faultsAfter) Faults(b);
    return b.data;
  }
};

struct TGeosoft {
  std::int32_t elementBytes = 2, perVector = 4, vectors = 3, orientation = 1;
  double elementSpacing = 0.5, vectorSpacing = 0.25, xMin = 10, yMin = 40, rotation = 0;
  double base = 100, multiplier = 10;
  std::vector<std::int16_t> raws{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};  // vector 0 first

  Bytes Write() const {
    TBytes b;
    b.i32(elementBytes).i32(0).i32(perVector).i32(vectors).i32(orientation);
    b.f64(elementSpacing).f64(vectorSpacing).f64(xMin).f64(yMin).f64(rotation).f64(base).f64(multiplier);
    b.zeros(512 - b.data.size());
    for (std::int16_t r : raws) b.i16(r);
    return b.data;
  }
};

// Each test writes its files into a folder of its own.
class GridFiles : public testing::Test {
 protected:
  void SetUp() override {
    const auto* info = testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "_" + info->name();
    for (char& c : name)
      if (c == '/') c = '_';
    folder_ = fs::path(testing::TempDir()) / ("grid_" + std::to_string(getpid()) + "_" + name);
    fs::create_directories(folder_);
  }
  void TearDown() override { fs::remove_all(folder_); }

  std::string Put(const Bytes& bytes, const std::string& name = "test.grd") const {
    const fs::path path = folder_ / name;
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return path.string();
  }

  fs::path folder_;
};

void ExpectSameGrid(const TGridImports& a, const TGridImports& b) {
  EXPECT_EQ(a.fileFormat, b.fileFormat);
  EXPECT_EQ(a.nx, b.nx);
  EXPECT_EQ(a.ny, b.ny);
  EXPECT_EQ(a.blankCount, b.blankCount);
  EXPECT_EQ(a.blankValue, b.blankValue);
  for (auto [p, q] : {std::pair{a.xMin, b.xMin}, {a.xMax, b.xMax}, {a.xStep, b.xStep}, {a.xRange, b.xRange},
                      {a.yMin, b.yMin}, {a.yMax, b.yMax}, {a.yStep, b.yStep}, {a.yRange, b.yRange},
                      {a.zMin, b.zMin}, {a.zMax, b.zMax}, {a.zRange, b.zRange}})
    EXPECT_EQ(p, q);
  EXPECT_EQ(a.values, b.values);
}

// ---------------------------------------------------------------- Surfer 6

TEST_F(GridFiles, Surfer6RowsFirstIntoColumns) {
  TRecordingPrompts prompts;
  TGridImports grid;
  ASSERT_TRUE(LoadGrid(grid, Put(TSurfer6{}.Write()), prompts));
  EXPECT_TRUE(prompts.messages.empty());
  EXPECT_EQ(grid.fileFormat, TGridFormat::kSurfer6);
  ASSERT_EQ(grid.nx, 3);
  ASSERT_EQ(grid.ny, 2);
  EXPECT_EQ(grid.at(2, 0), 3.0f);  // third value of the file
  EXPECT_EQ(grid.at(0, 1), 4.0f);  // fourth
  const float expected[3][2] = {{1, 4}, {2, 5}, {3, 6}};
  for (int ix = 0; ix < 3; ++ix)
    for (int iy = 0; iy < 2; ++iy) EXPECT_EQ(grid.at(ix, iy), expected[ix][iy]) << ix << "," << iy;
  // Bounds from the file, spacings computed: (12 - 10) / (3 - 1) = 1.
  EXPECT_EQ(grid.xMin, 10);
  EXPECT_EQ(grid.xMax, 12);
  EXPECT_EQ(grid.xRange, 2);
  EXPECT_EQ(grid.xStep, 1);
  EXPECT_EQ(grid.yRange, 1);
  EXPECT_EQ(grid.yStep, 1);
  EXPECT_EQ(grid.zMin, 1);
  EXPECT_EQ(grid.zMax, 6);
  EXPECT_EQ(grid.zRange, 5);
  EXPECT_EQ(grid.blankValue, kSurferBlank);
  EXPECT_EQ(grid.blankCount, 0);
}

TEST_F(GridFiles, Surfer6CountsBlanksAtOrAboveTheMarker) {
  TSurfer6 file;
  const float blank = static_cast<float>(kSurferBlank);
  file.values = {1, blank, 3, 1.7e38f, 2e38f, 6};  // 1.7e38 lies below the marker
  TRecordingPrompts prompts;
  TGridImports grid;
  ASSERT_TRUE(LoadGrid(grid, Put(file.Write()), prompts));
  EXPECT_EQ(grid.blankCount, 2);
  EXPECT_EQ(grid.at(1, 0), blank);
  EXPECT_EQ(grid.at(1, 1), 2e38f);
}

// ---------------------------------------------------------------- Surfer 7

TEST_F(GridFiles, Surfer7BoundsFromSpacings) {
  TSurfer7 file;
  file.columns = 5;
  file.values = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  TRecordingPrompts prompts;
  TGridImports grid;
  ASSERT_TRUE(LoadGrid(grid, Put(file.Write()), prompts));
  EXPECT_TRUE(prompts.messages.empty());
  EXPECT_EQ(grid.fileFormat, TGridFormat::kSurfer7);
  EXPECT_EQ(grid.nx, 5);
  EXPECT_EQ(grid.ny, 2);
  EXPECT_EQ(grid.xMin, 10);
  EXPECT_EQ(grid.xStep, 0.5);
  EXPECT_EQ(grid.xMax, 12);
  EXPECT_EQ(grid.xRange, 2);
  EXPECT_EQ(grid.yMax, 40.25);
  EXPECT_EQ(grid.yRange, 0.25);
  EXPECT_EQ(grid.zRange, 5);
  for (int iy = 0; iy < 2; ++iy)
    for (int ix = 0; ix < 5; ++ix) EXPECT_EQ(grid.at(ix, iy), float(1 + iy * 5 + ix));
}

TEST_F(GridFiles, Surfer7BlanksCountedOnTheDoubleAndKeptNarrowed) {
  TSurfer7 file;
  file.blank = 1e30;
  // 1e30 as a float is a little below 1e30, 0.1 loses digits: the blank test
  // must see the double, the stored value the float.
  file.values = {0.1, 1e30, 3, std::nextafter(1e30, 0.0), 2e30, -6};
  TRecordingPrompts prompts;
  TGridImports grid;
  ASSERT_TRUE(LoadGrid(grid, Put(file.Write()), prompts));
  EXPECT_EQ(grid.blankValue, 1e30);
  EXPECT_EQ(grid.blankCount, 2);
  EXPECT_EQ(grid.at(0, 0), 0.1f);
  EXPECT_EQ(grid.at(1, 0), static_cast<float>(1e30));
  EXPECT_EQ(grid.at(1, 1), static_cast<float>(2e30));
  EXPECT_EQ(grid.at(2, 1), -6.0f);
}

TEST_F(GridFiles, Surfer7FaultSectionsDoNotChangeTheGrid) {
  TRecordingPrompts prompts;
  TGridImports plain;
  ASSERT_TRUE(LoadGrid(plain, Put(TSurfer7{}.Write(), "plain.grd"), prompts));
  for (const auto& [before, after] : {std::pair{false, true}, {true, false}, {true, true}}) {
    SCOPED_TRACE(testing::Message() << "faults before " << before << ", after " << after);
    TSurfer7 file;
    file.faultsBefore = before;
    file.faultsAfter = after;
    TGridImports grid;
    ASSERT_TRUE(LoadGrid(grid, Put(file.Write(), "faults.grd"), prompts));
    ExpectSameGrid(grid, plain);
  }
  EXPECT_TRUE(prompts.messages.empty());
}

TEST_F(GridFiles, Surfer7SectionsOfOtherKindsAreWalkedOver) {
  // An unknown section between the header and the grid, its length a
  // multiple of four as Surfer writes them.
  Bytes bytes = TSurfer7{}.Write();
  TBytes extra;
  extra.raw("XTRA").i32(8).f64(-1);
  bytes.insert(bytes.begin() + 12, extra.data.begin(), extra.data.end());
  TRecordingPrompts prompts;
  TGridImports grid, plain;
  ASSERT_TRUE(LoadGrid(grid, Put(bytes), prompts));
  ASSERT_TRUE(LoadGrid(plain, Put(TSurfer7{}.Write(), "plain.grd"), prompts));
  ExpectSameGrid(grid, plain);
}

// ---------------------------------------------------------------- Geosoft

struct GeosoftOrientationCase {
  const char* name;
  std::int32_t orientation;
  int nx, ny;
  double xStep, yStep;
  int secondX, secondY;  // where the file's second value lands
};
void PrintTo(const GeosoftOrientationCase& c, std::ostream* os) { *os << c.name; }

const GeosoftOrientationCase kOrientations[] = {
    {"Rows", 1, 4, 3, 0.5, 0.25, 1, 0},
    {"RowsAnyOtherValue", 7, 4, 3, 0.5, 0.25, 1, 0},
    {"Columns", -1, 3, 4, 0.25, 0.5, 0, 1},
};

class GeosoftOrientation : public GridFiles, public testing::WithParamInterface<GeosoftOrientationCase> {};

TEST_P(GeosoftOrientation, PlacesVectorsAsRowsOrColumns) {
  const auto& c = GetParam();
  TGeosoft file;  // E = 4, V = 3, dE = 0.5, dV = 0.25, z = raw / 10 + 100
  file.orientation = c.orientation;
  TRecordingPrompts prompts;
  TGridImports grid;
  ASSERT_TRUE(LoadGrid(grid, Put(file.Write()), prompts));
  EXPECT_TRUE(prompts.messages.empty());
  EXPECT_EQ(grid.fileFormat, TGridFormat::kGeosoft16);
  ASSERT_EQ(grid.nx, c.nx);
  ASSERT_EQ(grid.ny, c.ny);
  EXPECT_EQ(grid.xStep, c.xStep);
  EXPECT_EQ(grid.yStep, c.yStep);
  EXPECT_EQ(grid.xMin, 10);
  EXPECT_EQ(grid.yMin, 40);
  EXPECT_EQ(grid.xRange, (c.nx - 1) * c.xStep);
  EXPECT_EQ(grid.xMax, 10 + (c.nx - 1) * c.xStep);
  EXPECT_EQ(grid.yMax, 40 + (c.ny - 1) * c.yStep);
  EXPECT_EQ(grid.at(c.secondX, c.secondY), static_cast<float>(2 / 10.0 + 100));
  // Every value: vector v, element e of the file.
  for (int k = 0; k < 12; ++k) {
    const int v = k / 4, e = k % 4;
    const float z = static_cast<float>((k + 1) / 10.0 + 100);
    EXPECT_EQ(c.orientation == -1 ? grid.at(v, e) : grid.at(e, v), z) << "value " << k;
  }
  EXPECT_EQ(grid.zMin, 1 / 10.0 + 100);
  EXPECT_EQ(grid.zMax, 12 / 10.0 + 100);
  EXPECT_EQ(grid.zRange, grid.zMax - grid.zMin);
  EXPECT_EQ(grid.blankCount, 0);
}

INSTANTIATE_TEST_SUITE_P(Geosoft, GeosoftOrientation, testing::ValuesIn(kOrientations),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(GridFiles, GeosoftBlanksAreTheTwoLowestIntegers) {
  TGeosoft file;
  file.perVector = 2;
  file.vectors = 2;
  file.raws = {-32768, -32767, -32766, 5};
  TRecordingPrompts prompts;
  TGridImports grid;
  grid.blankValue = 123;  // the format has none: the grid's stays
  ASSERT_TRUE(LoadGrid(grid, Put(file.Write()), prompts));
  EXPECT_EQ(grid.blankCount, 2);
  EXPECT_EQ(grid.blankValue, 123);
  const float blank = static_cast<float>(kSurferBlank);
  EXPECT_EQ(grid.at(0, 0), blank);
  EXPECT_EQ(grid.at(1, 0), blank);
  EXPECT_EQ(grid.at(0, 1), static_cast<float>(-32766 / 10.0 + 100));
  // The range covers the values only.
  EXPECT_EQ(grid.zMin, -32766 / 10.0 + 100);
  EXPECT_EQ(grid.zMax, 5 / 10.0 + 100);
}

TEST_F(GridFiles, GeosoftAllBlankKeepsTheStartingRange) {
  TGeosoft file;
  file.raws.assign(12, -32767);
  TRecordingPrompts prompts;
  TGridImports grid;
  ASSERT_TRUE(LoadGrid(grid, Put(file.Write()), prompts));
  EXPECT_EQ(grid.blankCount, 12);
  EXPECT_EQ(grid.zMin, 1e39);
  EXPECT_EQ(grid.zMax, -1e39);
  EXPECT_EQ(grid.zRange, -2e39);
}

// ---------------------------------------------------------------- values that are no numbers

struct NonFiniteCase {
  const char* name;
  std::function<Bytes()> write;
  std::vector<float> expected;  // in file order, row 0 first; kBlank where a blank
  int blanks;
};
void PrintTo(const NonFiniteCase& c, std::ostream* os) { *os << c.name; }

constexpr float kBlank = static_cast<float>(kSurferBlank);
const float kNaNf = std::numeric_limits<float>::quiet_NaN();
const float kInff = std::numeric_limits<float>::infinity();

const NonFiniteCase kNonFinite[] = {
    {"Surfer6",
     [] { TSurfer6 f; f.values = {1, kNaNf, 3, kInff, -kInff, 6}; return f.Write(); },
     {1, kBlank, 3, kBlank, kBlank, 6}, 3},
    // 1e39 lies above the blank marker, -1e39 nowhere near it: as floats
    // both would be infinite.
    {"Surfer7",
     [] {
       TSurfer7 f;
       f.values = {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
                   -std::numeric_limits<double>::infinity(), 1e39, -1e39, 0.5};
       return f.Write();
     },
     {kBlank, kBlank, kBlank, kBlank, kBlank, 0.5f}, 5},
    // raw / 1e-37 leaves the float range from |raw| = 35 on.
    {"GeosoftScaledBeyondFloats",
     [] {
       TGeosoft f;
       f.perVector = 2, f.vectors = 2, f.base = 0, f.multiplier = 1e-37;
       f.raws = {1, 100, -100, 0};
       return f.Write();
     },
     {static_cast<float>(1 / 1e-37), kBlank, kBlank, 0}, 2},
};

class NonFiniteValues : public GridFiles, public testing::WithParamInterface<NonFiniteCase> {};

TEST_P(NonFiniteValues, AreBlanksHoldingTheMarker) {
  const NonFiniteCase& c = GetParam();
  TRecordingPrompts prompts;
  TGridImports grid;
  ASSERT_TRUE(LoadGrid(grid, Put(c.write()), prompts));
  EXPECT_TRUE(prompts.messages.empty());
  ASSERT_EQ(std::size_t(grid.nx) * std::size_t(grid.ny), c.expected.size());
  for (int iy = 0; iy < grid.ny; ++iy)
    for (int ix = 0; ix < grid.nx; ++ix)
      EXPECT_EQ(grid.at(ix, iy), c.expected[std::size_t(iy * grid.nx + ix)]) << ix << "," << iy;
  EXPECT_EQ(grid.blankCount, c.blanks);
}

INSTANTIATE_TEST_SUITE_P(Grid, NonFiniteValues, testing::ValuesIn(kNonFinite),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------- chunked reading

// Values are read a few megabytes at a time: these grids take two or three
// chunks, the last one partial, and every node must land in its place.
TEST_F(GridFiles, ValuesSpanningSeveralChunks) {
  const auto value = [](int ix, int iy) { return float(ix * 2000 + iy); };  // exact as a float
  TSurfer6 s6;
  s6.nx = 2001, s6.ny = 1103;
  TSurfer7 s7;
  s7.columns = 1001, s7.rows = 1103;
  TGeosoft gsRows, gsColumns;
  gsRows.perVector = 101, gsRows.vectors = 22001, gsRows.multiplier = 1, gsRows.base = 0;
  gsColumns = gsRows;
  gsColumns.orientation = -1;
  s6.values.clear(), s7.values.clear(), gsRows.raws.clear(), gsColumns.raws.clear();
  for (int iy = 0; iy < s6.ny; ++iy)
    for (int ix = 0; ix < s6.nx; ++ix) s6.values.push_back(value(ix, iy));
  for (int iy = 0; iy < s7.rows; ++iy)
    for (int ix = 0; ix < s7.columns; ++ix) s7.values.push_back(value(ix, iy));
  // 16 bits cannot number every node; this pattern differs between
  // neighbours in both directions and never reaches the blanks.
  const auto gsValue = [](int element, int vector) {
    return std::int16_t((element * 331 + vector) % 64000 - 32000);
  };
  for (int v = 0; v < gsRows.vectors; ++v)
    for (int e = 0; e < gsRows.perVector; ++e) gsRows.raws.push_back(gsValue(e, v));
  gsColumns.raws = gsRows.raws;

  struct Case {
    const char* name;
    Bytes bytes;
    std::function<float(int, int)> expected;
  };
  const Case cases[] = {
      {"Surfer6", s6.Write(), value},
      {"Surfer7", s7.Write(), value},
      {"GeosoftRows", gsRows.Write(), [&](int ix, int iy) { return float(gsValue(ix, iy)); }},
      {"GeosoftColumns", gsColumns.Write(), [&](int ix, int iy) { return float(gsValue(iy, ix)); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_GT(c.bytes.size(), std::size_t{4} << 20);
    TRecordingPrompts prompts;
    TGridImports grid;
    ASSERT_TRUE(LoadGrid(grid, Put(c.bytes), prompts));
    int wrong = 0;
    for (int ix = 0; ix < grid.nx; ++ix)
      for (int iy = 0; iy < grid.ny; ++iy)
        if (grid.at(ix, iy) != c.expected(ix, iy) && ++wrong <= 5)
          ADD_FAILURE() << "node " << ix << "," << iy << ": " << grid.at(ix, iy);
    EXPECT_EQ(wrong, 0);
  }
}

// A stop request (a signal to the batch) ends the loading of every format
// between two blocks of values, without a message: the run is stopping, the
// file is not at fault. Without the request the same file loads.
TEST_F(GridFiles, StopRequestEndsLoadingWithoutAMessage) {
  TSurfer7 s7;
  s7.columns = 1001, s7.rows = 1103;
  s7.values.assign(std::size_t(s7.columns) * s7.rows, 12.5f);
  TSurfer6 s6;
  s6.nx = 1001, s6.ny = 1103;
  s6.values.assign(std::size_t(s6.nx) * s6.ny, 12.5f);
  for (const Bytes& bytes : {s7.Write(), s6.Write()}) {
    const std::string name = Put(bytes);
    TRecordingPrompts prompts;
    TGridImports grid;
    RequestLongStepStop();
    EXPECT_EQ(LoadGridFile(grid, name, prompts).fault, TGridFault::kStopped);
    ClearLongStepStop();
    EXPECT_TRUE(prompts.messages.empty()) << testing::PrintToString(prompts.messages);
    EXPECT_FALSE(grid.loaded());
    EXPECT_TRUE(LoadGrid(grid, name, prompts));
  }
}

// ---------------------------------------------------------------- messages

// Every message of the grid readers, the one place its text is checked:
// users and scripts know these texts, line breaks included.
struct FaultTextCase {
  TGridFault fault;
  const char* reason;
  const char* expected;
};

TEST(GridFaultMessages, TextOfEveryFault) {
  const FaultTextCase cases[] = {
      {TGridFault::kNone, "", ""},
      {TGridFault::kNotOpened, "", "Error by opening file /g/a%sb.grd\n"},
      {TGridFault::kUnknownFormat, "", "\nError by reading grid /g/a%sb.grd"},
      {TGridFault::kDamaged, "", "\nError by reading grid /g/a%sb.grd"},
      {TGridFault::kNoMemory, "", "\nError by reading grid /g/a%sb.grd"},
      {TGridFault::kRefused, "it has no geotransform",
       "\nError by reading grid /g/a%sb.grd\nit has no geotransform"},
      {TGridFault::kStopped, "", ""},
  };
  for (const FaultTextCase& c : cases) {
    SCOPED_TRACE(int(c.fault));
    // The name holds "%s": inserted as it is, never used as a format.
    EXPECT_EQ(GridFaultMessage(c.fault, "/g/a%sb.grd", c.reason), c.expected);
  }
}

// Memory for the values that cannot be had is reported like a damaged
// file, once; no exception leaves the load and the grid stays as it was.
TEST_F(GridFiles, MemoryThatCannotBeHadIsReportedOnce) {
  TSurfer6 file;
  file.nx = 100, file.ny = 100;
  file.values.assign(10000, 1.5f);
  const std::string name = Put(file.Write());
  TRecordingPrompts prompts;
  TGridImports grid;
  failRequestsAbove = 20000;  // bytes: the header passes, 40000 bytes of values do not
  const TGridFault fault = LoadGridFile(grid, name, prompts).fault;
  failRequestsAbove = SIZE_MAX;
  EXPECT_EQ(fault, TGridFault::kNoMemory);
  EXPECT_EQ(prompts.messages, Said(TGridFault::kNoMemory, name));
  EXPECT_FALSE(grid.loaded());
  EXPECT_TRUE(grid.values.empty());
  EXPECT_EQ(grid.nx, 0);
}

// ---------------------------------------------------------------- detection

TEST_F(GridFiles, OtherFilesAreLeftByEachReaderAndReportedOnceByLoadGrid) {
  TGeosoft fourByteValues;
  fourByteValues.elementBytes = 4;
  const std::string names[] = {
      Put(fourByteValues.Write(), "float.grd"),
      Put(Bytes{'D', 'S', 'A', 'A', '\n', '1', ' ', '2', '\n'}, "text.grd"),
      Put(Bytes{}, "empty.grd"),
      Put(Bytes{'D', 'S', 'R'}, "three.grd"),
  };
  for (const auto& name : names) {
    SCOPED_TRACE(name);
    TRecordingPrompts prompts;
    TGridImports grid;
    grid.nx = 7;  // untouched by a reader that does not know the file
    EXPECT_EQ(ReadSurfer7Grid(grid, name, prompts), 1);
    EXPECT_EQ(ReadSurfer6Grid(grid, name, prompts), 1);
    EXPECT_EQ(ReadGeosoftGrid(grid, name, prompts), 1);
    EXPECT_EQ(grid.nx, 7);
    EXPECT_EQ(grid.fileFormat, TGridFormat::kNone);
    EXPECT_TRUE(prompts.messages.empty());
    // No reader knows it, so none spoke: the run must still say why it stops.
    EXPECT_EQ(LoadGridFile(grid, name, prompts).fault, TGridFault::kUnknownFormat);
    EXPECT_EQ(grid.fileFormat, TGridFormat::kNone);
    EXPECT_TRUE(grid.values.empty());
    EXPECT_EQ(prompts.messages, Said(TGridFault::kUnknownFormat, name));
  }
}

TEST_F(GridFiles, FileThatCannotBeOpenedIsReportedOnce) {
  // Missing, a folder, a missing file whose name is long and holds '%s', a
  // FIFO (whose plain open waits for a writer for ever) and a device that
  // never ends.
  const std::string longName = (folder_ / (std::string(300, 'n') + "%s%d.grd")).string();
  const std::string fifo = (folder_ / "fifo.grd").string();
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& name :
       {(folder_ / "missing.grd").string(), folder_.string(), longName, fifo, std::string("/dev/zero")}) {
    SCOPED_TRACE(name);
    const TWatchdog watchdog(20);
    TRecordingPrompts prompts;
    TGridImports grid;
    EXPECT_EQ(LoadGridFile(grid, name, prompts).fault, TGridFault::kNotOpened);
    EXPECT_EQ(grid.fileFormat, TGridFormat::kNone);
    EXPECT_EQ(prompts.messages, Said(TGridFault::kNotOpened, name));  // once, not once per reader
  }
}

TEST_F(GridFiles, LongPathsLoad) {
  fs::path deep = folder_;
  for (int i = 0; i < 6; ++i) deep /= std::string(60, char('a' + i));
  fs::create_directories(deep);
  const std::string name = (deep / "grid with spaces.grd").string();
  ASSERT_GT(name.size(), 360u);
  {
    std::ofstream out(name, std::ios::binary);
    const Bytes bytes = TSurfer6{}.Write();
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  }
  TRecordingPrompts prompts;
  TGridImports grid;
  EXPECT_TRUE(LoadGrid(grid, name, prompts));
  EXPECT_EQ(grid.at(2, 1), 6.0f);
}

// ---------------------------------------------------------------- rejected files

struct RejectedCase {
  const char* name;
  std::function<Bytes()> write;
};
void PrintTo(const RejectedCase& c, std::ostream* os) { *os << c.name; }


Bytes Truncated(Bytes bytes, std::size_t drop) {
  bytes.erase(bytes.end() - std::ptrdiff_t(drop), bytes.end());
  return bytes;
}

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

const RejectedCase kRejected[] = {
    // Surfer 6
    {"S6ValuesTruncated", [] { return Truncated(TSurfer6{}.Write(), 1); }},
    {"S6HeaderTruncated", [] { return Truncated(TSurfer6{}.Write(), 24 + 30); }},
    {"S6OneColumn", [] { TSurfer6 f; f.nx = 1; f.values.resize(2); return f.Write(); }},
    {"S6OneRow", [] { TSurfer6 f; f.ny = 1; f.values.resize(3); return f.Write(); }},
    {"S6ZeroColumns", [] { TSurfer6 f; f.nx = 0; return f.Write(); }},
    {"S6NegativeRows", [] { TSurfer6 f; f.ny = -2; return f.Write(); }},
    {"S6XMinNaN", [] { TSurfer6 f; f.xMin = kNaN; return f.Write(); }},
    {"S6YMaxInfinite", [] { TSurfer6 f; f.yMax = kInf; return f.Write(); }},
    {"S6ZeroXSpacing", [] { TSurfer6 f; f.xMax = f.xMin; return f.Write(); }},
    {"S6ZeroYSpacing", [] { TSurfer6 f; f.yMax = f.yMin; return f.Write(); }},
    {"S6RangeOverflows", [] { TSurfer6 f; f.xMin = -1.7e308; f.xMax = 1.7e308; return f.Write(); }},
    // The sampler works in arc-seconds and divides by cell widths. Its
    // numbers stay finite for nodes within a million degrees spaced at least
    // 1e-9 degrees apart; these headers are all numbers, yet the subnormal
    // and overflowing ones sample as NaN everywhere.
    {"S6SubnormalRange", [] { TSurfer6 f; f.xMin = 0; f.xMax = 1e-320; return f.Write(); }},
    {"S6SpacingBelowANanodegree", [] { TSurfer6 f; f.yMin = 0; f.yMax = 5e-10; return f.Write(); }},
    {"S6BoundsBeyondAMillionDegrees", [] { TSurfer6 f; f.xMin = 5e5; f.xMax = 2e6; return f.Write(); }},
    {"S6HugeInTinyFile", [] { TSurfer6 f; f.nx = 32767; f.ny = 32767; return f.Write(); }},
    // Surfer 7
    {"S7NoGridSection", [] { return TBytes().raw("DSRB").i32(4).i32(2).data; }},
    {"S7HeaderTagOnly", [] { return TBytes().raw("DSRB").data; }},
    {"S7NoDataSection", [] { TSurfer7 f; f.dataSection = false; return f.Write(); }},
    {"S7FaultsInsteadOfData", [] { TSurfer7 f; f.dataSection = false; f.faultsAfter = true; return f.Write(); }},
    {"S7GridHeaderTruncated", [] { TSurfer7 f; f.dataSection = false; return Truncated(f.Write(), 1); }},
    {"S7ValuesTruncated", [] { return Truncated(TSurfer7{}.Write(), 1); }},
    {"S7DataLengthMissing", [] { TSurfer7 f; f.values.clear(); return Truncated(f.Write(), 2); }},
    {"S7OneRow", [] { TSurfer7 f; f.rows = 1; f.values.resize(3); return f.Write(); }},
    {"S7OneColumn", [] { TSurfer7 f; f.columns = 1; f.values.resize(2); return f.Write(); }},
    {"S7ZeroRows", [] { TSurfer7 f; f.rows = 0; return f.Write(); }},
    {"S7NegativeColumns", [] { TSurfer7 f; f.columns = -3; return f.Write(); }},
    {"S7Columns40000", [] { TSurfer7 f; f.columns = 40000; return f.Write(); }},
    // 65538 keeps 2 in its low 16 bits: must not pass as a 2-column grid.
    {"S7Columns65538", [] { TSurfer7 f; f.columns = 65538; f.values.resize(4); return f.Write(); }},
    {"S7Rows32768", [] { TSurfer7 f; f.rows = 32768; return f.Write(); }},
    {"S7ZeroXSpacing", [] { TSurfer7 f; f.xStep = 0; return f.Write(); }},
    {"S7YSpacingNaN", [] { TSurfer7 f; f.yStep = kNaN; return f.Write(); }},
    {"S7XMinInfinite", [] { TSurfer7 f; f.xMin = -kInf; return f.Write(); }},
    {"S7XMaxOverflows", [] { TSurfer7 f; f.xStep = 1e308; return f.Write(); }},
    {"S7SpacingOverflowsInArcSeconds", [] { TSurfer7 f; f.xStep = 1e305; return f.Write(); }},
    {"S7XMinOverflowsInArcSeconds", [] { TSurfer7 f; f.xMin = 1e307; return f.Write(); }},
    {"S7SubnormalSpacing", [] { TSurfer7 f; f.yStep = 1e-310; return f.Write(); }},
    {"S7NegativeSubnormalSpacing", [] { TSurfer7 f; f.xStep = -4.9e-324; return f.Write(); }},
    // Columns 1e-11 degrees apart near 9e5 degrees share one position.
    {"S7NodesThatCoincide", [] { TSurfer7 f; f.xMin = 9e5; f.xStep = 1e-11; return f.Write(); }},
    {"S7LastRowBeyondAMillionDegrees", [] { TSurfer7 f; f.yMin = 9e5; f.yStep = 2e5; return f.Write(); }},
    {"S7HugeInTinyFile", [] { TSurfer7 f; f.rows = 32767; f.columns = 32767; return f.Write(); }},
    {"S7FaultLengthNegative",
     [] { return TBytes().raw("DSRB").i32(4).i32(2).raw("FLTI").i32(-16).i32(0).data; }},
    {"S7FaultDataLengthNegative",
     [] { return TBytes().raw("DSRB").i32(4).i32(2).raw("FLTI").i32(0).raw("DATA").i32(-4).data; }},
    // Geosoft
    {"GsValuesTruncated", [] { return Truncated(TGeosoft{}.Write(), 1); }},
    {"GsHeaderTruncated", [] { return Truncated(TGeosoft{}.Write(), 24 + 436 + 1); }},
    {"GsNoValues", [] { return Truncated(TGeosoft{}.Write(), 24); }},
    {"GsOneElement", [] { TGeosoft f; f.perVector = 1; return f.Write(); }},
    {"GsOneVector", [] { TGeosoft f; f.vectors = 1; f.orientation = -1; return f.Write(); }},
    {"GsZeroElements", [] { TGeosoft f; f.perVector = 0; return f.Write(); }},
    {"GsNegativeVectors", [] { TGeosoft f; f.vectors = -1; return f.Write(); }},
    {"GsVectors40000", [] { TGeosoft f; f.vectors = 40000; return f.Write(); }},
    {"GsZeroElementSpacing", [] { TGeosoft f; f.elementSpacing = 0; return f.Write(); }},
    {"GsVectorSpacingInfinite", [] { TGeosoft f; f.vectorSpacing = kInf; return f.Write(); }},
    {"GsYMinNaN", [] { TGeosoft f; f.yMin = kNaN; return f.Write(); }},
    {"GsSubnormalElementSpacing", [] { TGeosoft f; f.elementSpacing = 1e-315; return f.Write(); }},
    {"GsXMinOverflowsInArcSeconds", [] { TGeosoft f; f.xMin = -1e307; return f.Write(); }},
    // Every value is raw / multiplier + base.
    {"GsMultiplierNaN", [] { TGeosoft f; f.multiplier = kNaN; return f.Write(); }},
    {"GsMultiplierInfinite", [] { TGeosoft f; f.multiplier = kInf; return f.Write(); }},
    {"GsMultiplierZero", [] { TGeosoft f; f.multiplier = 0; return f.Write(); }},
    {"GsBaseNaN", [] { TGeosoft f; f.base = kNaN; return f.Write(); }},
    {"GsBaseInfinite", [] { TGeosoft f; f.base = -kInf; return f.Write(); }},
    {"GsHugeInTinyFile", [] { TGeosoft f; f.perVector = 32767; f.vectors = 32767; return f.Write(); }},
};

class RejectedFile : public GridFiles, public testing::WithParamInterface<RejectedCase> {};

TEST_P(RejectedFile, IsReportedOnceAndNotLoaded) {
  const std::string name = Put(GetParam().write());
  TRecordingPrompts prompts;
  TGridImports grid;
  largestRequest = 0;
  EXPECT_EQ(LoadGridFile(grid, name, prompts).fault, TGridFault::kDamaged);
  // Nothing near the declared size was asked for: a few chunk buffers at most.
  EXPECT_LT(largestRequest.load(), std::size_t{64} << 20);
  EXPECT_EQ(grid.fileFormat, TGridFormat::kNone);
  EXPECT_TRUE(grid.values.empty());
  EXPECT_EQ(prompts.messages, Said(TGridFault::kDamaged, name));
}

INSTANTIATE_TEST_SUITE_P(Grid, RejectedFile, testing::ValuesIn(kRejected),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(GridFiles, ReadersReportTheirOwnRejection) {
  // A damaged Surfer 7 file: its reader says so, the others do not know it.
  TSurfer7 f;
  f.xStep = 0;
  const std::string name = Put(f.Write());
  TRecordingPrompts prompts;
  TGridImports grid;
  EXPECT_EQ(ReadSurfer7Grid(grid, name, prompts), 1);
  EXPECT_EQ(prompts.messages, Said(TGridFault::kDamaged, name));
  EXPECT_EQ(ReadSurfer6Grid(grid, name, prompts), 1);
  EXPECT_EQ(ReadGeosoftGrid(grid, name, prompts), 1);
  EXPECT_EQ(prompts.messages.size(), 1u);
  EXPECT_EQ(grid.nx, 0);  // a failed load leaves the grid as it was
}

// ---------------------------------------------------------------- every prefix

struct PrefixCase {
  const char* name;
  std::function<Bytes()> write;
  std::size_t loadsFrom;     // shortest prefix that is a whole grid
  std::size_t knownFrom;     // shortest prefix whose first bytes show the format
};
void PrintTo(const PrefixCase& c, std::ostream* os) { *os << c.name; }


const PrefixCase kPrefixes[] = {
    {"Surfer6", [] { return TSurfer6{}.Write(); }, 56 + 24, 4},
    {"Surfer7", [] { return TSurfer7{}.Write(); }, 12 + 80 + 8 + 48, 4},
    {"Surfer7FaultsAfter", [] { TSurfer7 f; f.faultsAfter = true; return f.Write(); }, 12 + 80 + 8 + 48, 4},
    {"Surfer7FaultsBefore", [] { TSurfer7 f; f.faultsBefore = true; return f.Write(); },
     12 + 16 + 44 + 80 + 8 + 48, 4},
    {"GeosoftRows", [] { return TGeosoft{}.Write(); }, 512 + 24, 4},
    {"GeosoftColumns", [] { TGeosoft f; f.orientation = -1; return f.Write(); }, 512 + 24, 4},
};

class EveryPrefix : public GridFiles, public testing::WithParamInterface<PrefixCase> {};

TEST_P(EveryPrefix, LoadsWholeOrIsRefused) {
  const Bytes whole = GetParam().write();
  for (std::size_t n = 0; n <= whole.size(); ++n) {
    SCOPED_TRACE(testing::Message() << "first " << n << " of " << whole.size() << " bytes");
    const Bytes prefix(whole.begin(), whole.begin() + std::ptrdiff_t(n));
    const std::string name = Put(prefix);
    TRecordingPrompts prompts;
    TGridImports grid;
    const TGridFault fault = LoadGridFile(grid, name, prompts).fault;
    const TGridFault expected = n >= GetParam().loadsFrom  ? TGridFault::kNone
                                : n >= GetParam().knownFrom ? TGridFault::kDamaged
                                                            : TGridFault::kUnknownFormat;
    ASSERT_EQ(fault, expected);
    if (fault == TGridFault::kNone) {
      EXPECT_TRUE(prompts.messages.empty());
      EXPECT_EQ(grid.values.size(), std::size_t(grid.nx) * std::size_t(grid.ny));
    } else {
      // Refused once: by its reader, or, too short to recognise, as of no known format.
      EXPECT_EQ(prompts.messages, Said(fault, name));
      EXPECT_TRUE(grid.values.empty());
    }
    // The same bytes in memory give the same outcome.
    TGridImports fromMemory;
    TRecordingPrompts quiet;
    EXPECT_EQ(LoadGridFromBytes(fromMemory, prefix, name, quiet).fault, fault);
    EXPECT_EQ(quiet.messages, prompts.messages);
  }
}

INSTANTIATE_TEST_SUITE_P(Grid, EveryPrefix, testing::ValuesIn(kPrefixes),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------- windows

// 7 x 5 nodes, every value distinct, in each native layout: a window must
// hold exactly the file's nodes it names, placed by the file's first node.
struct WindowFormatCase {
  const char* name;
  Bytes (*write)();
};
void PrintTo(const WindowFormatCase& c, std::ostream* os) { *os << c.name; }

constexpr int kWindowNx = 7, kWindowNy = 5;
double WindowValue(int ix, int iy) { return 10 * iy + ix + 0.5; }

const WindowFormatCase kWindowFormats[] = {
    {"Surfer6",
     [] {
       TSurfer6 f;
       f.nx = kWindowNx, f.ny = kWindowNy, f.xMax = 10 + 6 * 0.3, f.yMax = 40 + 4 * 0.7;
       f.values.clear();
       for (int iy = 0; iy < kWindowNy; ++iy)
         for (int ix = 0; ix < kWindowNx; ++ix) f.values.push_back(float(WindowValue(ix, iy)));
       return f.Write();
     }},
    {"Surfer7",
     [] {
       TSurfer7 f;
       f.rows = kWindowNy, f.columns = kWindowNx, f.xStep = 0.3, f.yStep = 0.7;
       f.faultsBefore = true;
       f.values.clear();
       for (int iy = 0; iy < kWindowNy; ++iy)
         for (int ix = 0; ix < kWindowNx; ++ix) f.values.push_back(WindowValue(ix, iy));
       return f.Write();
     }},
    {"GeosoftRows",
     [] {
       TGeosoft f;
       f.perVector = kWindowNx, f.vectors = kWindowNy, f.elementSpacing = 0.3, f.vectorSpacing = 0.7;
       f.base = 0, f.multiplier = 2;
       f.raws.clear();
       for (int iy = 0; iy < kWindowNy; ++iy)
         for (int ix = 0; ix < kWindowNx; ++ix) f.raws.push_back(std::int16_t(2 * WindowValue(ix, iy)));
       return f.Write();
     }},
    {"GeosoftColumns",
     [] {
       TGeosoft f;
       f.orientation = -1;
       f.perVector = kWindowNy, f.vectors = kWindowNx, f.elementSpacing = 0.7, f.vectorSpacing = 0.3;
       f.base = 0, f.multiplier = 2;
       f.raws.clear();
       for (int ix = 0; ix < kWindowNx; ++ix)
         for (int iy = 0; iy < kWindowNy; ++iy) f.raws.push_back(std::int16_t(2 * WindowValue(ix, iy)));
       return f.Write();
     }},
};

struct WindowCase {
  const char* name;
  TNodeWindow asked;
  TNodeWindow read;  // after cutting to the file; the whole file: no window
};

const WindowCase kWindows[] = {
    {"Inner", {2, 3, 1, 2}, {2, 3, 1, 2}},
    {"SouthWestCorner", {0, 2, 0, 2}, {0, 2, 0, 2}},
    {"NorthEastCorner", {5, 2, 3, 2}, {5, 2, 3, 2}},
    {"OneNodeWidenedToACell", {6, 1, 4, 1}, {5, 2, 3, 2}},
    {"CutToTheFile", {-4, 8, 3, 9}, {0, 4, 3, 2}},
    {"WholeRows", {0, 7, 1, 3}, {0, 7, 1, 3}},
    {"BeyondEveryEdge", {-10, 100, -10, 100}, {0, kWindowNx, 0, kWindowNy}},
};

class WindowedRead : public GridFiles,
                     public testing::WithParamInterface<std::tuple<WindowFormatCase, WindowCase>> {};

TEST_P(WindowedRead, HoldsTheFilesNodesWhereTheyLie) {
  const auto& [format, window] = GetParam();
  const std::string path = Put(format.write());
  TRecordingPrompts prompts;
  TGridImports whole, part;
  ASSERT_TRUE(LoadGrid(whole, path, prompts));
  TGridImports seen;  // what the chooser was shown
  const TWindowChooser choose = [&](const TGridImports& geometry) {
    seen = geometry;
    return window.asked;
  };
  ASSERT_EQ(LoadGridWindow(part, path, prompts, choose).fault, TGridFault::kNone);
  EXPECT_TRUE(prompts.messages.empty());
  ASSERT_EQ(whole.nx, kWindowNx);
  ASSERT_EQ(whole.ny, kWindowNy);
  // The chooser sees the file's geometry, with no values yet.
  EXPECT_EQ(seen.nx, kWindowNx);
  EXPECT_EQ(seen.ny, kWindowNy);
  EXPECT_EQ(seen.xMin, whole.xMin);
  EXPECT_EQ(seen.yStep, whole.yStep);
  EXPECT_TRUE(seen.values.empty());

  const TNodeWindow& r = window.read;
  const bool cut = r.columns != kWindowNx || r.rows != kWindowNy;
  EXPECT_EQ(part.windowed(), cut);
  EXPECT_EQ(part.fileFormat, whole.fileFormat);
  ASSERT_EQ(part.nx, r.columns);
  ASSERT_EQ(part.ny, r.rows);
  EXPECT_EQ(part.column0, r.column0);
  EXPECT_EQ(part.row0, r.row0);
  if (cut) {
    EXPECT_EQ(part.fileXMin, whole.xMin);
    EXPECT_EQ(part.fileYMin, whole.yMin);
    EXPECT_EQ(part.fileNx, kWindowNx);
    EXPECT_EQ(part.fileNy, kWindowNy);
  }
  EXPECT_EQ(part.xStep, whole.xStep);
  EXPECT_EQ(part.yStep, whole.yStep);
  EXPECT_EQ(part.xMin, whole.xMin + r.column0 * whole.xStep);
  EXPECT_EQ(part.yMin, whole.yMin + r.row0 * whole.yStep);
  EXPECT_EQ(part.xMax, part.xMin + (r.columns - 1) * whole.xStep);
  for (int ix = 0; ix < r.columns; ++ix)
    for (int iy = 0; iy < r.rows; ++iy) {
      EXPECT_EQ(part.at(ix, iy), whole.at(ix + r.column0, iy + r.row0)) << ix << "," << iy;
      EXPECT_EQ(part.at(ix, iy), float(WindowValue(ix + r.column0, iy + r.row0))) << ix << "," << iy;
    }
  if (!cut) ExpectSameGrid(part, whole);
}

INSTANTIATE_TEST_SUITE_P(Grid, WindowedRead, testing::Combine(testing::ValuesIn(kWindowFormats), testing::ValuesIn(kWindows)),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).name) + "_" + std::get<1>(info.param).name;
                         });

// A window of a file cut short is as damaged as the whole file: the length
// check comes before the window is read.
TEST_F(GridFiles, WindowOfATruncatedFileIsDamaged) {
  TSurfer6 f;
  Bytes bytes = f.Write();
  bytes.resize(bytes.size() - 4);  // the last row's last value
  TRecordingPrompts prompts;
  TGridImports grid;
  const TWindowChooser firstRow = [](const TGridImports&) { return TNodeWindow{0, 2, 0, 2}; };
  EXPECT_EQ(LoadGridWindow(grid, Put(bytes), prompts, firstRow).fault, TGridFault::kDamaged);
  EXPECT_FALSE(grid.loaded());
}

// A stop request that comes once the window is chosen ends the reading of
// its rows, without a message.
TEST_F(GridFiles, StopRequestEndsAWindowedRead) {
  TSurfer6 f;
  const std::string path = Put(f.Write());
  TRecordingPrompts prompts;
  TGridImports grid;
  std::atomic<bool> stop{false};
  const TThreadStopScope scope(stop);
  const TWindowChooser part = [&stop](const TGridImports&) {
    stop = true;
    return TNodeWindow{0, 2, 0, 2};
  };
  EXPECT_EQ(LoadGridWindow(grid, path, prompts, part).fault, TGridFault::kStopped);
  EXPECT_TRUE(prompts.messages.empty());
}

// ---------------------------------------------------------------- written by GDAL

struct GdalCase {
  const char* file;
  TGridFormat format;
};
void PrintTo(const GdalCase& c, std::ostream* os) { *os << c.file; }


class GdalFiles : public testing::TestWithParam<GdalCase> {};

TEST_P(GdalFiles, MatchTheAsciiSource) {
  const std::string name = std::string(GRID_TEST_DATA_DIR) + "/" + GetParam().file;
  TRecordingPrompts prompts;
  TGridImports grid;
  ASSERT_TRUE(LoadGrid(grid, name, prompts));
  EXPECT_TRUE(prompts.messages.empty());
  EXPECT_EQ(grid.fileFormat, GetParam().format);
  ASSERT_EQ(grid.nx, 4);
  ASSERT_EQ(grid.ny, 3);
  // source.asc: lower-left corner (10, 40), cells of 0.5; nodes at the centres.
  EXPECT_EQ(grid.xMin, 10.25);
  EXPECT_EQ(grid.xMax, 11.75);
  EXPECT_EQ(grid.xStep, 0.5);
  EXPECT_EQ(grid.yMin, 40.25);
  EXPECT_EQ(grid.yMax, 41.25);
  EXPECT_EQ(grid.yStep, 0.5);
  EXPECT_EQ(grid.zMin, -5);
  EXPECT_EQ(grid.zMax, 1234.5);
  // The text lists the northern row first; row 0 is the southern one.
  const float blank = static_cast<float>(kSurferBlank);
  const float southFirst[3][4] = {
      {9, 10.5, 11, 1234.5},
      {-5, blank, 7.125, 8},
      {1.5, 2.5, 3.25, 4},
  };
  for (int iy = 0; iy < 3; ++iy)
    for (int ix = 0; ix < 4; ++ix) EXPECT_EQ(grid.at(ix, iy), southFirst[iy][ix]) << ix << "," << iy;
  EXPECT_EQ(grid.blankCount, 1);
  EXPECT_GE(grid.at(1, 1), grid.blankValue);
}

INSTANTIATE_TEST_SUITE_P(Gdal, GdalFiles,
                         testing::Values(GdalCase{"surfer6.grd", TGridFormat::kSurfer6},
                                         GdalCase{"surfer7.grd", TGridFormat::kSurfer7}),
                         [](const auto& info) {
                           return std::string(info.param.format == TGridFormat::kSurfer6 ? "Surfer6" : "Surfer7");
                         });

}  // namespace
}  // namespace globelayers

// A grid of 21601 x 10801 nodes (one arc-minute, whole globe) in each format:
// it must load in seconds with peak memory close to the size of its floats.
// The files take 0.5 to 1.9 GB in the temporary folder, so the test runs only
// when asked: GLOBELAYERS_GRID_LARGE=1 ./grid_tests --gtest_filter='Large*'
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "GridImports.h"

namespace globelayers {
namespace {

constexpr int kColumns = 21601, kRows = 10801;

class TQuietPrompts : public IUserPrompts {
 public:
  void ShowMessage(const std::string& text) override { messages.push_back(text); }
  bool AskYesNo(const std::string&) override { return false; }
  std::vector<std::string> messages;
};

// A value that differs at every node and is exact as a float.
float NodeValue(int ix, int iy) { return float(ix) + float(iy % 64) * 32768.0f; }

struct TFileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

class TLittleEndianFile {
 public:
  explicit TLittleEndianFile(const std::string& name) : file_(std::fopen(name.c_str(), "wb")) {}
  bool ok() const { return file_ != nullptr; }
  void bytes(const void* p, std::size_t n) { std::fwrite(p, 1, n, file_.get()); }  // x86-64: already little-endian
  template <class T>
  void put(T v) { bytes(&v, sizeof v); }

 private:
  std::unique_ptr<std::FILE, TFileCloser> file_;
};

long PeakResidentKiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

struct LargeCase {
  const char* name;
  std::function<void(TLittleEndianFile&)> write;
};
void PrintTo(const LargeCase& c, std::ostream* os) { *os << c.name; }


void WriteSurfer7(TLittleEndianFile& f) {
  f.bytes("DSRB", 4), f.put<std::int32_t>(4), f.put<std::int32_t>(2);
  f.bytes("GRID", 4), f.put<std::int32_t>(72), f.put<std::int32_t>(kRows), f.put<std::int32_t>(kColumns);
  for (double v : {-180.0, -90.0, 1.0 / 60, 1.0 / 60, 0.0, 3e6, 0.0, 1.70141e38}) f.put(v);
  f.bytes("DATA", 4), f.put<std::int32_t>(std::int32_t(8LL * kColumns * kRows & 0x7fffffff));
  std::vector<double> row(kColumns);
  for (int iy = 0; iy < kRows; ++iy) {
    for (int ix = 0; ix < kColumns; ++ix) row[ix] = NodeValue(ix, iy);
    f.bytes(row.data(), row.size() * sizeof(double));
  }
}

void WriteSurfer6(TLittleEndianFile& f) {
  f.bytes("DSBB", 4), f.put<std::int16_t>(kColumns), f.put<std::int16_t>(kRows);
  for (double v : {-180.0, 180.0, -90.0, 90.0, 0.0, 3e6}) f.put(v);
  std::vector<float> row(kColumns);
  for (int iy = 0; iy < kRows; ++iy) {
    for (int ix = 0; ix < kColumns; ++ix) row[ix] = NodeValue(ix, iy);
    f.bytes(row.data(), row.size() * sizeof(float));
  }
}

void WriteGeosoft(TLittleEndianFile& f) {
  // Vectors are rows; raw = ix / 2 - 16000 keeps within 16 bits, M = 1, B = 0.
  for (std::int32_t v : {2, 0, kColumns, kRows, 1}) f.put(v);
  for (double v : {1.0 / 60, 1.0 / 60, -180.0, -90.0, 0.0, 0.0, 1.0}) f.put(v);
  const std::vector<char> rest(512 - 76, 0);
  f.bytes(rest.data(), rest.size());
  std::vector<std::int16_t> row(kColumns);
  for (int ix = 0; ix < kColumns; ++ix) row[ix] = std::int16_t(ix / 2 - 16000);
  for (int iy = 0; iy < kRows; ++iy) f.bytes(row.data(), row.size() * sizeof(std::int16_t));
}

class LargeGrid : public testing::TestWithParam<LargeCase> {};

TEST_P(LargeGrid, LoadsFastWithinItsFloats) {
  const char* flag = std::getenv("GLOBELAYERS_GRID_LARGE");
  if (flag == nullptr || flag[0] != '1') GTEST_SKIP() << "set GLOBELAYERS_GRID_LARGE=1 to run";
  const std::string name =
      (std::filesystem::path(testing::TempDir()) / (std::string("large_") + GetParam().name + ".grd")).string();
  {
    TLittleEndianFile file(name);
    ASSERT_TRUE(file.ok());
    GetParam().write(file);
  }
  const long before = PeakResidentKiB();
  const auto start = std::chrono::steady_clock::now();
  TQuietPrompts prompts;
  TGridImports grid;
  const bool loaded = LoadGrid(grid, name, prompts);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const long after = PeakResidentKiB();
  std::filesystem::remove(name);
  ASSERT_TRUE(loaded);
  ASSERT_EQ(grid.nx, kColumns);
  ASSERT_EQ(grid.ny, kRows);
  const double floatsMiB = double(kColumns) * kRows * 4 / (1 << 20);
  std::printf("%s: %.2f s, peak resident %.0f MiB (was %.0f MiB), floats %.0f MiB\n", GetParam().name,
              seconds, after / 1024.0, before / 1024.0, floatsMiB);
  EXPECT_LT(seconds, 15.0);  // about 2 s of CPU on one core; generous for a busy machine
  EXPECT_LT(after / 1024.0, std::max(before / 1024.0, floatsMiB + 64));
  if (std::string(GetParam().name) == "Geosoft") {
    EXPECT_EQ(grid.at(21600, 10800), float(10800 - 16000));
  } else {
    for (auto [ix, iy] : {std::pair{0, 0}, {21600, 0}, {0, 10800}, {12345, 6789}, {21600, 10800}})
      EXPECT_EQ(grid.at(ix, iy), NodeValue(ix, iy)) << ix << "," << iy;
  }
}

INSTANTIATE_TEST_SUITE_P(Large, LargeGrid,
                         testing::Values(LargeCase{"Surfer7", WriteSurfer7}, LargeCase{"Surfer6", WriteSurfer6},
                                         LargeCase{"Geosoft", WriteGeosoft}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace globelayers

// Grids handed over as arrays against the same nodes in a Surfer 6 file,
// and the arrays that cannot be grids.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "ArrayGrid.h"
#include "GridImports.h"
#include "RecordingPrompts.h"

namespace globelayers {
namespace {

// A Surfer 6 file's bytes: header, then rows from yMin up.
std::vector<unsigned char> Surfer6Bytes(int nx, int ny, double xMin, double xMax, double yMin, double yMax,
                                        const std::vector<float>& rowMajor) {
  std::vector<unsigned char> b = {'D', 'S', 'B', 'B'};
  const auto put = [&b](const void* p, std::size_t n) {
    const auto* c = static_cast<const unsigned char*>(p);
    b.insert(b.end(), c, c + n);
  };
  const std::int16_t cols = static_cast<std::int16_t>(nx), rows = static_cast<std::int16_t>(ny);
  put(&cols, 2);
  put(&rows, 2);
  const double head[] = {xMin, xMax, yMin, yMax, -1e4, 1e4};
  put(head, sizeof head);
  put(rowMajor.data(), rowMajor.size() * 4);
  return b;
}

TEST(ArrayGrid, GivesTheSurfer6FilesGeometryValuesAndBlanks) {
  // Bounds whose spacings are not exact in binary, a NaN, a value beyond the
  // float range, Surfer's blank value and a value just below it.
  const int nx = 4, ny = 3;
  const double xMin = -0.1, xMax = 0.7, yMin = 10.3, yMax = 11.1;
  const double inf = std::numeric_limits<double>::infinity();
  const std::vector<double> values = {1.5,  -2.25, 1e-3, std::nan(""), 3.0e5, 1e300, -7.0, 1.70141e38,
                                      1e37, 0.1,   -0.0, 12345.678};
  std::vector<float> floats;
  for (const double v : values) floats.push_back(v == 1e300 ? static_cast<float>(inf) : static_cast<float>(v));

  TGridImports fromFile;
  test::TRecordingPrompts<> prompts;
  const std::vector<unsigned char> bytes = Surfer6Bytes(nx, ny, xMin, xMax, yMin, yMax, floats);
  ASSERT_EQ(LoadGridFromBytes(fromFile, bytes, "grid.grd", prompts).fault, TGridFault::kNone);

  TGridImports fromArray;
  const TArrayGridValues array{.values = values, .nx = nx, .ny = ny, .xMin = xMin, .xMax = xMax, .yMin = yMin,
                               .yMax = yMax};
  ASSERT_EQ(LoadArrayGrid(fromArray, array, "<array 1>"), std::nullopt);

  EXPECT_TRUE(fromArray.loaded());
  EXPECT_EQ(fromArray.fileFormat, TGridFormat::kArray);
  EXPECT_EQ(fromArray.nx, nx);
  EXPECT_EQ(fromArray.ny, ny);
  for (const auto& [a, f] : {std::pair{fromArray.xMin, fromFile.xMin}, {fromArray.xMax, fromFile.xMax},
                             {fromArray.xStep, fromFile.xStep}, {fromArray.xRange, fromFile.xRange},
                             {fromArray.yMin, fromFile.yMin}, {fromArray.yMax, fromFile.yMax},
                             {fromArray.yStep, fromFile.yStep}, {fromArray.yRange, fromFile.yRange},
                             {fromArray.blankValue, fromFile.blankValue}}) {
    EXPECT_EQ(std::bit_cast<std::uint64_t>(a), std::bit_cast<std::uint64_t>(f));
  }
  ASSERT_EQ(fromArray.values.size(), fromFile.values.size());
  for (int ix = 0; ix < nx; ++ix) {
    for (int iy = 0; iy < ny; ++iy) {
      EXPECT_EQ(std::bit_cast<std::uint32_t>(fromArray.at(ix, iy)), std::bit_cast<std::uint32_t>(fromFile.at(ix, iy)))
          << "node " << ix << ", " << iy;
    }
  }
  // NaN, the value beyond floats and Surfer's blank; 1e37 is a value.
  EXPECT_EQ(fromArray.blankCount, 3);
  EXPECT_EQ(fromFile.blankCount, 3);
  EXPECT_EQ(fromArray.zMin, -7.0);
  EXPECT_EQ(fromArray.zMax, 1e37);
}

struct TRefusedArray {
  const char* name;
  std::int64_t nx, ny;
  std::size_t values;
  double xMin, xMax, yMin, yMax;
  const char* words;  // in the message
};

class ArrayGridRefusal : public ::testing::TestWithParam<TRefusedArray> {};

TEST_P(ArrayGridRefusal, NamesTheGridAndLeavesItUnloaded) {
  const TRefusedArray& c = GetParam();
  const std::vector<double> values(c.values, 1.0);
  TGridImports grid;
  const std::optional<std::string> fault = LoadArrayGrid(
      grid, {.values = values, .nx = c.nx, .ny = c.ny, .xMin = c.xMin, .xMax = c.xMax, .yMin = c.yMin,
             .yMax = c.yMax},
      "<array 2>");
  ASSERT_TRUE(fault.has_value());
  EXPECT_NE(fault->find("<array 2>"), std::string::npos) << *fault;
  EXPECT_NE(fault->find(c.words), std::string::npos) << *fault;
  EXPECT_FALSE(grid.loaded());
  EXPECT_TRUE(grid.values.empty());
}

const double kNan = std::numeric_limits<double>::quiet_NaN();
INSTANTIATE_TEST_SUITE_P(
    Cases, ArrayGridRefusal,
    ::testing::Values(TRefusedArray{"OneColumn", 1, 3, 3, 0, 1, 0, 1, "needs 2 to"},
                      TRefusedArray{"OneRow", 3, 1, 3, 0, 1, 0, 1, "needs 2 to"},
                      TRefusedArray{"FewerValues", 3, 3, 8, 0, 1, 0, 1, "holds 8 values for 3 x 3"},
                      TRefusedArray{"WestOfItself", 3, 3, 9, 1, 1, 0, 1, "increasing"},
                      TRefusedArray{"SouthFirstReversed", 3, 3, 9, 0, 1, 1, 0, "increasing"},
                      TRefusedArray{"NanBound", 3, 3, 9, kNan, 1, 0, 1, "finite"},
                      TRefusedArray{"InfiniteBound", 3, 3, 9, 0, 1, 0, std::numeric_limits<double>::infinity(),
                                    "finite"},
                      TRefusedArray{"NodesBeyondTheSampler", 3, 3, 9, 0, 1e7, 0, 1, "too far apart"}),
    [](const ::testing::TestParamInfo<TRefusedArray>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace globelayers

// Runs over a zone list: each band with its own segment size. A point's
// numbers are the sums of what runs over the single bands print, a list of
// one band is the run without a list, and a list that does not tile one
// band, or that no run can walk, is refused before any file is touched.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "LayerRowText.h"
#include "Calculation.h"
#include "GridFixtures.h"
#include "RecordingPrompts.h"

namespace globelayers {
namespace {

using testing_fixtures::TempDir;
using testing_fixtures::WriteGlobalGrid;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<std::vector<std::string>> Tokens(const std::string& text) {
  std::vector<std::vector<std::string>> lines;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) {
    std::istringstream words(l);
    lines.emplace_back();
    for (std::string w; words >> w;) lines.back().push_back(w);
  }
  return lines;
}

// A printed fixed-point number as a count of its last decimal ("-1.250":
// -1250 with 3 decimals).
struct TPrinted {
  long long units = 0;
  std::size_t decimals = 0;
};

TPrinted ParsePrinted(const std::string& token) {
  TPrinted p;
  const std::size_t dot = token.find('.');
  p.decimals = dot == std::string::npos ? 0 : token.size() - dot - 1;
  std::string digits = token;
  if (dot != std::string::npos) digits.erase(dot, 1);
  char* end = nullptr;
  p.units = std::strtoll(digits.c_str(), &end, 10);
  EXPECT_EQ(*end, '\0') << token;
  return p;
}

// The point's own columns in front of every result line: longitude,
// latitude, number, height.
constexpr std::size_t kPointColumns = 4;

// A stack with grid layers (a grid top, a grid bottom, a grid density) and a
// layer of constants only, over a few points (a pole and the antimeridian
// among them).
class ZoneRun : public testing::Test {
 protected:
  ZoneRun() {
    params.dataFile = dir.Write("points.dat",
                                "0 0 1 0\n179.9 45 2 1200\n-60 -90 3 10\n12.3 47.1 4 500\n-179.95 -33.3 5 2500\n");
    const std::string topo = WriteGlobalGrid(
        dir.File("topo.grd"), [](double x, double y) { return float(2000 * std::sin(x / 9) * std::cos(y / 7)); });
    const std::string moho = WriteGlobalGrid(
        dir.File("moho.grd"), [](double x, double y) { return float(-30000 + 5000 * std::cos(x / 13 + y / 11)); });
    const std::string density = WriteGlobalGrid(
        dir.File("density.grd"), [](double x, double y) { return float(3.3 + 0.1 * std::sin(x / 17 - y / 5)); });
    params.layers = LayerRowsFromTexts({"@;" + topo + ";@;@", "0;@;2.67;@", "-3000;@;2.9;@", "@;" + moho + ";3.1;@",
                        "-40000;@;@;" + density}, '.');
    params.rowCount = 5;
  }
  // The result file's text after a completed run named by `append`.
  std::string Calc(const std::string& append) {
    params.appendText = append;
    EXPECT_EQ(engine.RunCalculation(params, progress, prompts), TRunOutcome::Completed) << append;
    EXPECT_TRUE(prompts.messages.empty()) << prompts.messages.front();
    return ReadFile(dir.File("points" + append + "_dce.dat"));
  }

  TempDir dir;
  TRunParameters params;
  TCalcEngine engine;
  TSilentProgress progress;
  test::TRecordingPrompts<> prompts;
};

const std::vector<TZone> kThreeZones = {{.psiFromDeg = 0, .psiToDeg = 0.5, .segmentSizeArcSec = 900},
                                        {.psiFromDeg = 0.5, .psiToDeg = 10, .segmentSizeArcSec = 3600},
                                        {.psiFromDeg = 10, .psiToDeg = 180, .segmentSizeArcSec = 7200}};

struct LayoutCase {
  const char* name;
  bool sumOnly;
  double increment;  // metres
};

void PrintTo(const LayoutCase& c, std::ostream* os) { *os << c.name; }

const LayoutCase kLayouts[] = {
    {"per_layer_with_increment", false, 1},
    {"per_layer_without_increment", false, 0},
    {"sums_with_increment", true, 1},
    {"sums_without_increment", true, 0},
};

class ZoneSum : public ZoneRun, public testing::WithParamInterface<LayoutCase> {};

// Every printed result is the sum of the three single-band files' numbers,
// to the zone file's rounding (one unit of the last decimal) and each single
// file's (one unit each).
TEST_P(ZoneSum, ThreeZonesPrintTheSumOfTheirSingleBandRuns) {
  params.sumOnly = GetParam().sumOnly;
  params.increment = GetParam().increment;
  params.zone = TZoneList{kThreeZones};
  const auto zoned = Tokens(Calc("_zones"));
  std::vector<std::vector<std::vector<std::string>>> singles;
  for (std::size_t z = 0; z < kThreeZones.size(); ++z) {
    params.zone = TZoneList{{kThreeZones[z]}};
    singles.push_back(Tokens(Calc("_zone" + std::to_string(z + 1))));
  }
  ASSERT_EQ(zoned.size(), 6u);  // the header and five points
  const long long tolerance = 1 + static_cast<long long>(kThreeZones.size());  // units of the last decimal
  for (std::size_t l = 0; l < zoned.size(); ++l) {
    SCOPED_TRACE(l);
    for (const auto& single : singles) {
      ASSERT_EQ(single[l].size(), zoned[l].size());
      if (l == 0) {
        EXPECT_EQ(single[l], zoned[l]);  // the header
      }
    }
    if (l == 0) continue;
    ASSERT_GT(zoned[l].size(), kPointColumns);
    for (std::size_t c = 0; c < zoned[l].size(); ++c) {
      SCOPED_TRACE(c);
      if (c < kPointColumns) {
        for (const auto& single : singles) EXPECT_EQ(single[l][c], zoned[l][c]);
        continue;
      }
      const TPrinted got = ParsePrinted(zoned[l][c]);
      long long sum = 0;
      for (const auto& single : singles) {
        const TPrinted part = ParsePrinted(single[l][c]);
        ASSERT_EQ(part.decimals, got.decimals);
        sum += part.units;
      }
      EXPECT_LE(std::llabs(got.units - sum), tolerance) << zoned[l][c];
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Layouts, ZoneSum, testing::ValuesIn(kLayouts),
                         [](const auto& i) { return std::string(i.param.name); });

// Each band adds something: the sums are not one band's numbers alone.
TEST_F(ZoneRun, EveryZoneContributes) {
  params.increment = 0;
  params.sumOnly = true;
  params.zone = TZoneList{kThreeZones};
  const auto zoned = Tokens(Calc("_zones"));
  for (std::size_t z = 0; z < kThreeZones.size(); ++z) {
    params.zone = TZoneList{{kThreeZones[z]}};
    const auto single = Tokens(Calc("_zone" + std::to_string(z + 1)));
    for (std::size_t l = 1; l < zoned.size(); ++l) EXPECT_NE(single[l].back(), zoned[l].back()) << z << " " << l;
  }
}

// A list of one band is the window's one band, to the byte.
TEST_F(ZoneRun, OneZoneIsTheRunWithoutZones) {
  params.increment = 1;
  const TZone bands[] = {{.psiFromDeg = 0, .psiToDeg = 180, .segmentSizeArcSec = 7200},
                         {.psiFromDeg = 2.5, .psiToDeg = 117, .segmentSizeArcSec = 5400}};
  for (const TZone& band : bands) {
    SCOPED_TRACE(band.psiFromDeg);
    params.zone =
        TSingleZone{.psiFromDeg = band.psiFromDeg, .psiToDeg = band.psiToDeg, .segmentSizeArcSec = band.segmentSizeArcSec};
    const std::string plain = Calc("_plain");
    EXPECT_EQ(engine.UsedZones(), std::vector<TZone>{band});
    params.zone = TZoneList{{band}};
    EXPECT_EQ(Calc("_listed"), plain);
  }
}

struct RefusalCase {
  const char* name;
  std::vector<TZone> zones;
  double azimuthToDeg;  // degrees
  TRunFault fault;
  std::string message;  // the fault's text with the values at fault (RunFaultsTest holds the texts)
};

void PrintTo(const RefusalCase& c, std::ostream* os) { *os << c.name; }

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

const RefusalCase kRefusals[] = {
    // No front end gives an empty list; a record built elsewhere must not
    // reach the point loop without a band.
    {"no_zone", {}, 360, TRunFault::NoZones, RunFaultMessage(TRunFault::NoZones)},
    {"bound_not_a_number", {{0, kNaN, 3600}}, 360, TRunFault::ZoneNotFinite,
     RunFaultMessage(TRunFault::ZoneNotFinite, 1, 0.0, kNaN)},
    {"bound_infinite", {{0, 10, 3600}, {10, kInf, 3600}}, 360, TRunFault::ZoneNotFinite,
     RunFaultMessage(TRunFault::ZoneNotFinite, 2, 10.0, kInf)},
    {"below_zero", {{-1, 10, 3600}}, 360, TRunFault::ZoneOutsideRange,
     RunFaultMessage(TRunFault::ZoneOutsideRange, 1, -1.0, 10.0)},
    {"beyond_180", {{0, 10, 3600}, {10, 181, 3600}}, 360, TRunFault::ZoneOutsideRange,
     RunFaultMessage(TRunFault::ZoneOutsideRange, 2, 10.0, 181.0)},
    {"empty", {{5, 5, 3600}}, 360, TRunFault::ZoneEmpty, RunFaultMessage(TRunFault::ZoneEmpty, 1, 5.0, 5.0)},
    {"descending", {{0, 10, 3600}, {10, 20, 3600}, {30, 25, 3600}}, 360, TRunFault::ZoneEmpty,
     RunFaultMessage(TRunFault::ZoneEmpty, 3, 25.0, 30.0)},
    {"gap", {{0, 10, 3600}, {10.5, 20, 3600}}, 360, TRunFault::ZoneGap,
     RunFaultMessage(TRunFault::ZoneGap, 2, 10.5, 1, 10.0)},
    {"gap_of_a_rounding_step", {{0, 0.1, 60}, {0.1000000001, 1, 900}}, 360, TRunFault::ZoneGap,
     RunFaultMessage(TRunFault::ZoneGap, 2, 0.1000000001, 1, 0.1)},
    {"overlap", {{0, 10, 3600}, {9, 20, 3600}}, 360, TRunFault::ZoneOverlap,
     RunFaultMessage(TRunFault::ZoneOverlap, 2, 9.0, 1, 10.0)},
    {"segment_size_zero", {{0, 10, 0}}, 360, TRunFault::ZoneSegmentSize,
     RunFaultMessage(TRunFault::ZoneSegmentSize, 1, 0.0)},
    {"segment_size_negative", {{0, 10, 3600}, {10, 20, -900}}, 360, TRunFault::ZoneSegmentSize,
     RunFaultMessage(TRunFault::ZoneSegmentSize, 2, -900.0)},
    {"segment_size_not_a_number", {{0, 10, kNaN}}, 360, TRunFault::ZoneSegmentSize,
     RunFaultMessage(TRunFault::ZoneSegmentSize, 1, kNaN)},
    {"segment_size_infinite", {{0, 10, kInf}}, 360, TRunFault::ZoneSegmentSize,
     RunFaultMessage(TRunFault::ZoneSegmentSize, 1, kInf)},
    // A part narrower than one segment gets no ring: 0.1 to 1 degree would
    // be lost behind the cap (0 to 0.1), and 89.5 to 90 below the far rings.
    {"band_behind_the_cap_too_narrow", {{0, 1, 3600}, {1, 180, 3600}}, 360, TRunFault::ZoneTooNarrow,
     RunFaultMessage(TRunFault::ZoneTooNarrow, 1, 0.0, 1.0, 3600.0)},
    {"part_below_90_too_narrow", {{0, 89.5, 3600}, {89.5, 180, 3600}}, 360, TRunFault::ZoneTooNarrow,
     RunFaultMessage(TRunFault::ZoneTooNarrow, 2, 89.5, 180.0, 3600.0)},
    // 179 degrees at 74 arc-seconds: 8708 rings, beyond the 8640 a band may have.
    {"ring_limit", {{0, 1, 360}, {1, 180, 74}}, 360, TRunFault::ZoneTooManyRings,
     RunFaultMessage(TRunFault::ZoneTooManyRings, 2, 1.0, 180.0, 8640, 74.0)},
    // Twenty turns of azimuth: each band alone stays below the limit, the two
    // together do not. About 2 * 20 * 2 pi / (75 arc-seconds in radians)^2
    // = 1.90e9 segments.
    {"segments_of_all_zones", {{0, 90, 75}, {90, 180, 75}}, 7200, TRunFault::ZonesTooManySegments,
     RunFaultMessage(TRunFault::ZonesTooManySegments, 1901227091LL, 1000000000LL)},
};

class ZoneRefusal : public ZoneRun, public testing::WithParamInterface<RefusalCase> {};

// The point file named does not exist: the zones are refused before it is
// read, and no result file appears.
TEST_P(ZoneRefusal, RefusedBeforeAnyFileIsOpened) {
  const RefusalCase& c = GetParam();
  params.dataFile = dir.File("missing.dat");
  params.zone = TZoneList{c.zones};
  params.azimuthToDeg = c.azimuthToDeg;
  EXPECT_EQ(engine.RunCalculation(params, progress, prompts), TRunOutcome::Failed);
  EXPECT_EQ(engine.LastFault(), c.fault);
  EXPECT_EQ(prompts.messages, std::vector<std::string>{c.message});
  EXPECT_FALSE(std::filesystem::exists(dir.File("missing_dce.dat")));
}

INSTANTIATE_TEST_SUITE_P(Lists, ZoneRefusal, testing::ValuesIn(kRefusals),
                         [](const auto& i) { return std::string(i.param.name); });

}  // namespace
}  // namespace globelayers

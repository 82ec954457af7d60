// A result file read with the run log beside it, as the result view opens
// one: the unit and the layout from the log, the header alone without one,
// and a log of another run refused.
#include "ResultWithRunLog.h"

#include <filesystem>

#include <gtest/gtest.h>

#include "TempDir.h"

namespace globelayers {
namespace {

using testing_support::ReadFileText;
using testing_support::TempDir;
using testing_support::WriteFileText;

// The run log of the example as the baseline batch wrote it.
const char kExampleLog[] =
    "Start time:  1:36:09\n"
    "End time:  1:36:09\n"
    "Data file: stations.dat\n"
    "Append text: _example\n"
    "Increment: 1\n"
    "Gravity constant: 0.006673\n"
    "Phi from: 0\n"
    "Phi to: 180\n"
    "Earth radius: 6371001\n"
    "Lambda from: 0\n"
    "Lambda to: 360\n"
    "Priority: Change layers && sign\n"
    "Number of layer: 3\n"
    "Segment size: 3600\n"
    "Output unit: mGal\n"
    "Calulation for: Globe layers\n"
    "Layer 1:  topography.grd   \n"
    "Layer 2: 0  2.67  \n"
    "Layer 3:  crustbase.grd 2.67  \n"
    "Run completed.\n";

TEST(ResultWithRunLog, TheExampleWithItsLog) {
  TempDir dir;
  const std::string result = dir / "stations_example_dce.dat";
  std::filesystem::copy_file(GLOBELAYERS_EXAMPLES_DIR "/expected/stations_example_dce.dat", result);
  WriteFileText(dir / "stations_example_dce.con", kExampleLog);
  const TResultWithRunLog read = ReadResultWithRunLog(result, true);
  ASSERT_TRUE(read.read.table) << read.read.message;
  EXPECT_FALSE(read.read.table->microGal);  // the log's unit wins
  EXPECT_EQ(read.read.table->layout.rowCount, 3);
  EXPECT_TRUE(read.read.table->layout.gradient);
  EXPECT_EQ(read.read.table->columns.size(), 13u);
  EXPECT_EQ(read.log.firstElevationGrid, "topography.grd");
}

// The log of a zone run, as a run writes it, tells the same facts and its
// zones ("Segment size: zones" and the zone lines read as no layout).
TEST(ResultWithRunLog, TheExampleWithTheLogOfAZoneRun) {
  TempDir dir;
  const std::string result = dir / "stations_example_dce.dat";
  std::filesystem::copy_file(GLOBELAYERS_EXAMPLES_DIR "/expected/stations_example_dce.dat", result);
  TWindowState state;
  state.pointFile = dir / "stations.dat";
  state.appendText = "_example";
  state.incrementMText = "1";
  state.layerRows = {{"", "topography.grd", "", ""}, {"0", "", "2.67", ""}, {"", "crustbase.grd", "2.67", ""}};
  state.zones = {"example.ini", {{"zone1", "0;1;60"}, {"zone2", "1;180;3600;mean"}}};
  ASSERT_EQ(RunLogNameForResult(result), RunLogFileName(state));
  ASSERT_TRUE(WriteRunLog(RunLogFileName(state), state, {1, 36, 9}, {1, 36, 9}).ok());
  const TResultWithRunLog read = ReadResultWithRunLog(result, true);
  ASSERT_TRUE(read.read.table) << read.read.message;
  EXPECT_FALSE(read.read.table->microGal);
  EXPECT_EQ(read.read.table->layout.rowCount, 3);
  EXPECT_TRUE(read.read.table->layout.gradient);
  EXPECT_EQ(read.log.firstElevationGrid, "topography.grd");
  EXPECT_EQ(read.log.zones, (std::vector<TZone>{{0, 1, 60, false}, {1, 180, 3600, true}}));
}

// A run's layout: per-layer or sums, with or without the raised point.
struct RunCase {
  const char* name;
  const char* increment;  // as logged
  bool sumsOnly;
  int rows;
  const char* unit;
  bool microGal;  // as read
};
const RunCase kRuns[] = {
    {"LayersWithGradient", "0.5", false, 3, "microGal", true},
    {"LayersWithoutGradient", "0", false, 4, "mGal", false},
    {"SumsWithGradient", "1", true, 5, "mGal", false},
    {"SumsWithoutGradientFiveRows", "0.0", true, 5, "microGal", true},
    {"TwoRowsAreSums", "0", false, 2, "mGal", false},
    {"IncrementOfAnOlderCommaWindow", "0,5", true, 3, "mGal", false},
};

std::string LogOf(const RunCase& c) {
  return std::string("Increment: ") + c.increment + "\nNumber of layer: " + std::to_string(c.rows) +
         "\nOutput unit: " + c.unit + "\nCalulation for: Globe layers\nRun completed.\n";
}

class ResultWithRunLogRuns : public testing::TestWithParam<RunCase> {};

TEST_P(ResultWithRunLogRuns, LayoutAndUnitFromTheLog) {
  const RunCase& c = GetParam();
  const TResultLayout L = MakeResultLayout(c.increment == std::string("0") || c.increment == std::string("0.0") ? 0 : 1,
                                           c.sumsOnly, c.rows);
  TempDir dir;
  const std::string result = dir / "p_dce.dat";
  WriteFileText(result, ResultHeader(L));
  WriteFileText(dir / "p_dce.con", LogOf(c));
  const TResultWithRunLog read = ReadResultWithRunLog(result, !c.microGal);
  ASSERT_TRUE(read.read.table) << read.read.message;
  EXPECT_EQ(read.read.table->microGal, c.microGal);
  EXPECT_EQ(read.read.table->layout.gradient, L.gradient);
  EXPECT_EQ(read.read.table->layout.perLayer, L.perLayer);
  EXPECT_EQ(read.read.table->layout.rowCount, c.rows);

  // The file beside the log of a run with the raised point turned the
  // other way: not of that run.
  WriteFileText(dir / "p_dce.con", std::string("Increment: ") + (L.gradient ? "0" : "2") + "\nNumber of layer: " +
                                       std::to_string(c.rows) + "\nOutput unit: mGal\n");
  const TResultWithRunLog other = ReadResultWithRunLog(result, false);
  EXPECT_FALSE(other.read.table);
  EXPECT_EQ(other.read.fault, TResultFault::HeaderNotOfRun);
}

INSTANTIATE_TEST_SUITE_P(Logged, ResultWithRunLogRuns, testing::ValuesIn(kRuns),
                         [](const auto& info) { return std::string(info.param.name); });

// Without a log, or with one that does not tell the layout, the header
// tells it; a log's unit counts still.
TEST(ResultWithRunLog, HeaderAloneWithoutTheLogsLayout) {
  TempDir dir;
  const std::string result = dir / "p_dce.dat";
  WriteFileText(result, ResultHeader(MakeResultLayout(0, false, 3)) +
                            "   1.000000    2.000000          3      4.000      5.00000      6.00000     11.00000\n");
  for (const char* log : {static_cast<const char*>(nullptr), "Output unit: microGal\n",
                          "Increment: 0\nOutput unit: microGal\n", "Number of layer: 3\nOutput unit: microGal\n"}) {
    SCOPED_TRACE(log ? log : "no log");
    std::filesystem::remove(dir / "p_dce.con");
    if (log != nullptr) WriteFileText(dir / "p_dce.con", log);
    const TResultWithRunLog read = ReadResultWithRunLog(result, false);
    ASSERT_TRUE(read.read.table) << read.read.message;
    EXPECT_EQ(read.read.table->microGal, log != nullptr);
    EXPECT_TRUE(read.read.table->layout.perLayer);
    EXPECT_EQ(read.read.table->layout.rowCount, 3);
    EXPECT_EQ(read.read.table->RowCount(), 1u);
  }
  // A file whose name has no log beside it at all.
  const std::string other = dir / "p.txt";
  WriteFileText(other, ReadFileText(result));
  EXPECT_TRUE(ReadResultWithRunLog(other, true).read.table);
}

}  // namespace
}  // namespace globelayers

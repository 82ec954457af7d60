// The run log: its seventeen kinds of lines, its name, a log that cannot be
// created, and the local clock reading.
#include "RunLog.h"

#include <regex>
#include <string>

#include <gtest/gtest.h>

#include "TempDir.h"

namespace globelayers {
namespace {

using testing_support::ReadFileText;
using testing_support::TempDir;

TWindowState LoggedState(const std::string& dataPath) {
  TWindowState s;
  s.dataPath = dataPath;
  s.TXT_Append = "";
  s.txt_incr = "0,5";  // texts as typed, separator included
  s.TXT_T3DIST = "1.499444";
  s.rg1 = 0;
  s.rg2 = 1;
  s.txt_number = "3";
  s.layerRows = {{"", "/g/topo.grd", "", ""}, {"0", "", "2.67", ""}, {" ", "%s moho.grd", "2.9", ""}};
  return s;
}

TEST(RunLog, LinesAsExpected) {
  TempDir dir;
  const TWindowState state = LoggedState(dir / "points.dat");
  const std::string path = RunLogFileName(state);
  EXPECT_EQ(path, dir / "points_dce.con");

  const TRunLogResult result = WriteRunLog(path, state, {9, 5, 7}, {10, 0, 59});
  ASSERT_TRUE(result.ok) << result.message;
  EXPECT_EQ(ReadFileText(path),
            "Start time:  9:05:07\n"
            "End time: 10:00:59\n"
            "Data file: " + dir / "points.dat" + "\n"
            "Append text: \n"
            "Increment: 0,5\n"
            "Gravity constant: 0.006673\n"
            "Phi from: 1.499444\n"
            "Phi to: 180\n"
            "Earth radius: 6371001\n"
            "Lambda from: 0\n"
            "Lambda to: 360\n"
            "Priority: Change layers && sign\n"
            "Number of layer: 3\n"
            "Segment size: 3600\n"
            "Output unit: microGal\n"
            "Calulation for: Globe layers\n"
            "Layer 1:  /g/topo.grd   \n"
            "Layer 2: 0  2.67  \n"
            "Layer 3:   %s moho.grd 2.9  \n");
}

TEST(RunLog, ItemTextsAndName) {
  TWindowState state = LoggedState("/d/pts.v1.dat");
  state.TXT_Append = "_run2";
  EXPECT_EQ(RunLogFileName(state), "/d/pts.v1_run2_dce.con");
  const struct {
    int priority, unit;
    const char* priorityLine;
    const char* unitLine;
  } cases[] = {
      {0, 0, "Priority: Change layers && sign\n", "Output unit: mGal\n"},
      {1, 1, "Priority: Top grid\n", "Output unit: microGal\n"},
      {2, 0, "Priority: Bottom grid\n", "Output unit: mGal\n"},
  };
  for (const auto& c : cases) {
    state.rg1 = c.priority;
    state.rg2 = c.unit;
    const std::string text = RunLogText(state, {}, {});
    EXPECT_NE(text.find(c.priorityLine), std::string::npos) << text;
    EXPECT_NE(text.find(c.unitLine), std::string::npos) << text;
  }
}

TEST(RunLog, TimesByPattern) {
  const TClockTime now = LocalClockTime();
  const std::string text = RunLogText(LoggedState("p.dat"), now, now);
  const std::regex pattern("Start time: [ 12][0-9]:[0-5][0-9]:[0-6][0-9]\n"
                           "End time: [ 12][0-9]:[0-5][0-9]:[0-6][0-9]\n[^]*");
  EXPECT_TRUE(std::regex_match(text, pattern)) << text.substr(0, 40);
  EXPECT_GE(now.h, 0);
  EXPECT_LE(now.h, 23);
}

TEST(RunLog, CannotBeCreated) {
  TempDir dir;
  const std::string path = dir / "missing/points_dce.con";
  const TRunLogResult result = WriteRunLog(path, LoggedState(dir / "missing/points.dat"), {}, {});
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.message, "Error by opening file " + path + "\n");
}

}  // namespace
}  // namespace globelayers

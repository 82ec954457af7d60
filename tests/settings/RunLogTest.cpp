// The run log: its seventeen kinds of lines and its zone lines, its name, a log that cannot be
// created or written whole, the line that says how the run ended, the
// local clock reading, and the facts read back from it beside a result file.
#include "RunLog.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <ctime>
#include <optional>
#include <regex>
#include <string>

#include <gtest/gtest.h>

#include "TempDir.h"
#include "Zone.h"

namespace globelayers {
namespace {

using testing_support::ReadFileText;
using testing_support::TempDir;
using testing_support::WriteFileText;

TWindowState LoggedState(const std::string& dataPath) {
  TWindowState s;
  s.pointFile = dataPath;
  s.appendText = "";
  s.incrementMText = "0,5";  // texts as typed, separator included
  s.innerDistanceDegText = "1.499444";
  s.crossingPriority = 0;
  s.outputUnit = 1;
  s.layerCountText = "1";  // the window's field, stale: the log counts the rows
  s.layerRows = {{"", "/g/topo.grd", "", ""}, {"0", "", "2.67", ""}, {" ", "%s moho.grd", "2.9", ""}};
  return s;
}

TEST(RunLog, LinesAsExpected) {
  TempDir dir;
  const TWindowState state = LoggedState(dir / "points.dat");
  const std::string path = RunLogFileName(state);
  EXPECT_EQ(path, dir / "points_dce.con");

  const TRunLogResult result = WriteRunLog(path, state, {9, 5, 7}, {10, 0, 59});
  ASSERT_TRUE(result.ok()) << result.message;
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
            "Layer 3:   %s moho.grd 2.9  \n"
            "Run completed.\n");
}

// A window under a decimal comma logs its numbers with the decimal point,
// as the settings file holds them; texts that are no number as typed.
TEST(RunLog, CommaWindowLogsDecimalPoints) {
  TempDir dir;
  TWindowState state = TWindowState::StartValues(',');
  state.pointFile = dir / "points.dat";
  state.incrementMText = "0,5";
  state.earthRadiusMText = "6371001";
  state.azimuthToDegText = "3,6,0";
  state.layerRows = {{"", "/g/topo,1.grd", "", ""}, {"-1000,5", "", "2,67", ""}};
  const std::string log = RunLogText(state, {9, 5, 7}, {10, 0, 59}, TRunEnding::Completed(), {}, ',');
  for (const char* line : {"Increment: 0.5\n", "Gravity constant: 0.006673\n", "Phi from: 0\n",
                           "Earth radius: 6371001\n", "Lambda to: 3,6,0\n",
                           "Layer 1:  /g/topo,1.grd   \n", "Layer 2: -1000.5  2.67  \n"}) {
    EXPECT_NE(log.find(line), std::string::npos) << line << " in\n" << log;
  }
}

TEST(RunLog, ItemTextsAndName) {
  TWindowState state = LoggedState("/d/pts.v1.dat");
  state.appendText = "_run2";
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
    state.crossingPriority = c.priority;
    state.outputUnit = c.unit;
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

// The log without its last line, the ending.
std::string WithoutEnding(const std::string& log) {
  const std::size_t lastLine = log.rfind('\n', log.size() - 2);
  return log.substr(0, lastLine + 1);
}

// The ending's line comes last, after the layers and zones, and everything
// before it is the same for every ending.
TEST(RunLog, EveryLogEndsWithHowItsRunEnded) {
  TempDir dir;
  const TWindowState state = LoggedState(dir / "points.dat");
  const std::string path = RunLogFileName(state);
  const std::string body = WithoutEnding(RunLogText(state, {9, 5, 7}, {10, 0, 59}));
  const struct {
    TRunEnding ending;
    const char* line;
  } cases[] = {
      {TRunEnding::Completed(), "Run completed.\n"},
      {TRunEnding::Cancelled({10, 0, 58}),
       "Run cancelled at 10:00:58; the result file holds the points completed before it.\n"},
      {TRunEnding::Interrupted({"SIGTERM", {9, 5, 7}}),
       "Run interrupted by SIGTERM at 09:05:07; the result file holds the points completed before it.\n"},
      // A message of several lines, as the grid readers give, on one line.
      {TRunEnding::Failed("Error by reading grid /g/topo.grd\nFile short\n"),
       "Run failed: Error by reading grid /g/topo.grd File short\n"},
      {TRunEnding::Failed(""), "Run failed: no message\n"},
  };
  for (const auto& c : cases) {
    const TRunLogResult result = WriteRunLog(path, state, {9, 5, 7}, {10, 0, 59}, c.ending);
    ASSERT_TRUE(result.ok()) << result.message;
    EXPECT_EQ(ReadFileText(path), body + c.line);
  }

  // A cause holding '%' is text, not a format.
  EXPECT_EQ(InterruptionText({"%s%n", {23, 59, 60}}),
            "Run interrupted by %s%n at 23:59:60; the result file holds the points completed "
            "before it.");
}

// A log that cannot be written whole leaves the earlier one as it was, and
// no temporary file beside it.
TEST(RunLog, FailedWriteKeepsTheEarlierLog) {
  TempDir dir;
  const TWindowState state = LoggedState(dir / "points.dat");
  const std::string path = RunLogFileName(state);
  ASSERT_TRUE(WriteRunLog(path, state, {9, 5, 7}, {10, 0, 59}).ok());
  const std::string earlier = ReadFileText(path);
  // A file size limit far below the log's length, as a full disk would.
  struct rlimit saved {};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = saved;
  small.rlim_cur = 100;  // bytes
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  const TRunLogResult result = WriteRunLog(path, state, {11, 0, 0}, {12, 0, 0}, TRunEnding::Cancelled({12, 0, 0}));
  ::setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, previousHandler);
  EXPECT_EQ(result.fault, TRunLogFault::Unwritable);
  EXPECT_EQ(result.message, "Error by writing file " + path + "\n");
  EXPECT_EQ(ReadFileText(path), earlier);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

// `log` with the value of its line of `key` ("Phi to") replaced by `value`.
std::string WithValue(std::string log, const std::string& key, const std::string& value) {
  const std::size_t at = log.find("\n" + key + ": ");
  if (at == std::string::npos) return log;
  const std::size_t from = at + key.size() + 3;
  return log.replace(from, log.find('\n', from) - from, value);
}

// With zones or a preset the fields Phi from, Phi to and Segment size were
// not used: their lines tell what the zones used, one line names the unused
// texts, and the zone lines follow the layers (a list's own bands, marked
// where they sample block means; for a preset its name, its bound and the
// bands the run formed).
TEST(RunLog, ZoneLines) {
  TWindowState state = LoggedState("points.dat");
  state.outerDistanceDegText = "10";  // typed, and overruled by the zones
  const std::string plain = WithoutEnding(RunLogText(state, {9, 5, 7}, {10, 0, 59}));
  const std::string unused =
      "The zones below replace Phi from 1.499444, Phi to 10 and Segment size 3600, which this run did not use.\n";
  const std::string standardBound =
      "Zone preset standard: within 0.05 mGal of a converged reference, as measured on three synthetic 1' global "
      "reliefs, smooth, rough and steep (docs/zones.md)\n";
  const struct {
    const char* name;
    std::vector<TZoneKeyText> keys;
    std::vector<TZone> formed;  // by the engine from a preset
    const char* phiFrom;
    const char* phiTo;
    std::string zoneLines;
  } cases[] = {
      {"List", {{"zone1", "0;10;225"}, {"zone2", "10;180;3600;mean"}}, {}, "0", "180",
       unused + "Zone 1: 0 - 10 deg, segment 225\"\nZone 2: 10 - 180 deg, segment 3600\", block means\n"},
      {"ListAwayFromThePoint", {{"zone1", "0.25;2.5;7.5"}, {"zone2", "2.5;90.125;60"}}, {}, "0.25", "90.125",
       unused + "Zone 1: 0.25 - 2.5 deg, segment 7.5\"\nZone 2: 2.5 - 90.125 deg, segment 60\"\n"},
      // A run that stopped before the preset's bands were formed.
      {"PresetWithoutBands", {{"preset", "standard"}}, {}, "zones", "zones",
       unused + "Zone preset: standard\n" + standardBound},
      {"PresetWithItsBands", {{"preset", "standard"}}, {{0, 0.5, 7.5, false}, {0.5, 180, 900, true}}, "0", "180",
       unused + "Zone preset: standard\n" + standardBound +
           "Zone 1: 0 - 0.5 deg, segment 7.5\"\nZone 2: 0.5 - 180 deg, segment 900\", block means\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    state.zones = {"run.ini", c.keys};
    const std::string header =
        WithValue(WithValue(WithValue(plain, "Phi from", c.phiFrom), "Phi to", c.phiTo), "Segment size", "zones");
    EXPECT_EQ(RunLogText(state, {9, 5, 7}, {10, 0, 59}, TRunEnding::Completed(), c.formed),
              header + c.zoneLines + "Run completed.\n");
  }
  state.zones = {"run.ini", {{"preset", "fine"}}};
  // The bound line's words are asserted with the standard preset above.
  EXPECT_NE(PresetBoundLine("fine").find("Zone preset fine: within 0.01 mGal"), std::string::npos);
  EXPECT_NE(RunLogText(state, {9, 5, 7}, {10, 0, 59}).find("\n" + PresetBoundLine("fine")), std::string::npos);

  // The unused texts as the settings file holds them, whatever the window's
  // decimal separator.
  state.innerDistanceDegText = "1,5";
  state.segmentSizeArcSecText = "0,75";
  EXPECT_NE(RunLogText(state, {9, 5, 7}, {10, 0, 59}, TRunEnding::Completed(), {}, ',')
                .find("\nThe zones below replace Phi from 1.5, Phi to 10 and Segment size 0.75, which this run "
                      "did not use.\n"),
            std::string::npos);
}

// The zone lines read back, and hand-made ones that are not a run's list:
// a band out of its order, a number that does not read, a text after the
// band.
TEST(RunLog, ZoneFactsReadBack) {
  TempDir dir;
  TWindowState state = LoggedState(dir / "points.dat");
  state.zones = {"run.ini", {{"preset", "fine"}}};
  const std::vector<TZone> formed = {{0, 0.05, 2.5, false}, {0.05, 10, 60, false}, {10, 180, 900, true}};
  const std::string written = RunLogFileName(state);
  ASSERT_TRUE(WriteRunLog(written, state, {9, 5, 7}, {10, 0, 59}, TRunEnding::Completed(), formed).ok());
  TRunLogFacts facts = ReadRunLogFacts(written);
  EXPECT_EQ(facts.zonePreset, "fine");
  EXPECT_EQ(facts.zones, formed);
  // The facts of a run without zones hold as before.
  EXPECT_EQ(facts.microGal, std::optional<bool>(true));
  EXPECT_EQ(facts.incrementM, std::optional<double>(0.5));
  EXPECT_EQ(facts.layerRowCount, std::optional<int>(3));
  EXPECT_EQ(facts.firstElevationGrid, "/g/topo.grd");

  const std::string log = dir / "p_dce.con";
  const struct {
    const char* lines;
    std::vector<TZone> read;
  } cases[] = {
      {"Zone 1: 0 - 1 deg, segment 15\"\nZone 2: 1 - 180 deg, segment 3600\", block means\n",
       {{0, 1, 15, false}, {1, 180, 3600, true}}},
      {"Zone 2: 1 - 180 deg, segment 3600\"\nZone 1: 0 - 1 deg, segment 15\"\n", {{0, 1, 15, false}}},
      {"Zone 1: 0 - 1,5 deg, segment 15\"\n", {}},
      {"Zone 1: 0 - 1 deg, segment 15\", block means, twice\n", {}},
      {"Zone 1: 0 - 1 deg segment 15\"\n", {}},
      {"Zone +1: 0 - 1 deg, segment 15\"\n", {}},
      {"Zone preset fine: within 0.011 mGal\n", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.lines);
    WriteFileText(log, c.lines);
    facts = ReadRunLogFacts(log);
    EXPECT_EQ(facts.zones, c.read);
    EXPECT_EQ(facts.zonePreset, "");
  }
}

// A clock reading of a given instant follows the zone of the process.
TEST(RunLog, ClockAtAnInstant) {
  const char* const saved = std::getenv("TZ");
  const std::optional<std::string> previous = saved ? std::optional<std::string>(saved) : std::nullopt;
  const std::time_t instant = 86400 + 45296;  // 2 January 1970, 12:34:56 UTC
  const struct {
    const char* zone;
    int h;
  } zones[] = {{"UTC0", 12}, {"CET-1", 13}, {"EST5", 7}};
  for (const auto& z : zones) {
    SCOPED_TRACE(z.zone);
    ::setenv("TZ", z.zone, 1);
    ::tzset();
    const TClockTime t = LocalClockTime(instant);
    EXPECT_EQ(t.h, z.h);
    EXPECT_EQ(t.m, 34);
    EXPECT_EQ(t.s, 56);
  }
  if (previous) {
    ::setenv("TZ", previous->c_str(), 1);
  } else {
    ::unsetenv("TZ");
  }
  ::tzset();
}

TEST(RunLog, CannotBeCreated) {
  TempDir dir;
  const std::string missingFolder = dir / "missing/points_dce.con";
  // A FIFO in the log's place that nobody reads: refused, not waited for.
  const std::string fifo = dir / "fifo_dce.con";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& path : {missingFolder, fifo}) {
    SCOPED_TRACE(path);
    ::alarm(20);  // a hang ends the test program instead of the suite
    const TRunLogResult result = WriteRunLog(path, LoggedState(dir / "missing/points.dat"), {}, {});
    ::alarm(0);
    EXPECT_EQ(result.fault, TRunLogFault::Unopenable);
    EXPECT_EQ(result.message, "Error by opening file " + path + "\n");
  }
}

// What the result view takes from a log: from a log this program writes
// and from hand-made ones with older windows' "@" cells.
TEST(RunLog, FactsReadBackBesideAResultFile) {
  EXPECT_EQ(RunLogNameForResult("/d/p_a_dce.dat"), "/d/p_a_dce.con");
  EXPECT_EQ(RunLogNameForResult("/d/p.csv"), "");
  TempDir dir;
  const TWindowState state = LoggedState(dir / "points.dat");
  const std::string written = RunLogFileName(state);
  ASSERT_TRUE(WriteRunLog(written, state, {9, 5, 7}, {10, 0, 59}).ok());
  TRunLogFacts facts = ReadRunLogFacts(written);
  EXPECT_EQ(facts.microGal, std::optional<bool>(true));
  EXPECT_EQ(facts.incrementM, std::optional<double>(0.5));  // logged as typed, "0,5"
  EXPECT_EQ(facts.layerRowCount, std::optional<int>(3));
  EXPECT_EQ(facts.firstElevationGrid, "/g/topo.grd");

  const std::string log = dir / "p_dce.con";
  WriteFileText(log, "Start time: 10:00:00\nIncrement: 0\nNumber of layer: 2\nOutput unit: microGal\n"
                     "Calulation for: Globe layers\nLayer 1: @ /data/topo.grd @ @ \nLayer 2: 0 @ 2.67 @ \n");
  facts = ReadRunLogFacts(log);
  EXPECT_EQ(facts.microGal, std::optional<bool>(true));
  EXPECT_EQ(facts.incrementM, std::optional<double>(0));
  EXPECT_EQ(facts.layerRowCount, std::optional<int>(2));
  EXPECT_EQ(facts.firstElevationGrid, "/data/topo.grd");
  // A grid name with a blank cannot be told from the cells around it; an
  // empty first cell names no grid; numbers that do not read are absent.
  for (const char* layer : {"Layer 1: @ /my data/topo.grd @ @ \n", "Layer 1: @ @ @ @ \n", "Layer 1: 0  2.67  \n"}) {
    SCOPED_TRACE(layer);
    WriteFileText(log, std::string("Output unit: mGal\nIncrement: one\nNumber of layer: -1\n") + layer);
    facts = ReadRunLogFacts(log);
    EXPECT_EQ(facts.microGal, std::optional<bool>(false));
    EXPECT_FALSE(facts.incrementM);
    EXPECT_FALSE(facts.layerRowCount);
    EXPECT_EQ(facts.firstElevationGrid, "");
  }
  facts = ReadRunLogFacts(dir / "none.con");
  EXPECT_FALSE(facts.microGal);
  EXPECT_FALSE(facts.incrementM);
}

}  // namespace
}  // namespace globelayers

// The headless front end: exit codes, messages, the files of a run, the
// progress line, the example data set, the executable itself, and a run
// stopped by a signal.
#include "BatchRun.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "GridFaults.h"
#include "PointFile.h"
#include "RunSetup.h"
#include "WindowState.h"

namespace globelayers {
namespace {

namespace fs = std::filesystem;

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteText(const fs::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

// The faults that the settings file and the run set-up find in the
// settings file `path`, read as the batch reads it, and their message. The
// batch shows the message as it is; the words of each fault are asserted
// where they are made (tests/settings).
struct TSetUpVerdict {
  TSettingsFault settings = TSettingsFault::None;
  TRunSetupFault setup = TRunSetupFault::None;
  TRunCheck check = TRunCheck::None;
  TZoneKeyFault zoneKeys = TZoneKeyFault::None;
  std::string message;
};
TSetUpVerdict SetUpVerdict(const std::string& path) {
  TWindowState state = TWindowState::StartValues('.');
  const TSettingsRead read = ReadSettingsFile(state, path, '.');
  if (!read.ok()) return {.settings = read.fault, .message = read.message};
  const TRunSetup setup = PrepareRun(state, '.');
  return {.setup = setup.fault, .check = setup.check, .zoneKeys = setup.zoneKeyFault, .message = setup.message};
}

int CountLines(const std::string& text) {
  int n = 0;
  for (char c : text) n += c == '\n';
  return n;
}

// A fresh folder that is also the current directory while the test runs,
// since the batch takes relative paths from there.
class BatchFolder : public testing::Test {
 protected:
  void SetUp() override {
    const auto* info = testing::UnitTest::GetInstance()->current_test_info();
    std::string name = info->name();
    std::replace(name.begin(), name.end(), '/', '_');  // parameterised names hold '/'
    dir_ = fs::temp_directory_path() /
           ("globelayers-batch-" + std::to_string(::getpid()) + "-" + name);
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    previous_ = fs::current_path();
    fs::current_path(dir_);
  }
  void TearDown() override {
    fs::current_path(previous_);
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  int Run(const std::vector<std::string>& args, bool terminal = false) {
    out_.str("");
    err_.str("");
    return RunBatch(args, out_, err_, terminal);
  }

  fs::path dir_, previous_;
  std::ostringstream out_, err_;
};

// Two constant rows: closed form only, so a run takes no time.
constexpr char kConstantRun[] =
    "[frmMain]\n"
    "datafile=points.dat\n"
    "appendtext=_t\n"
    "incr=1\n"
    "nlayer=2\n"
    "cell_row-1_col-1=0\n"
    "cell_row-2_col-1=-1000\n"
    "cell_row-2_col-3=2.67\n";

constexpr char kPoints[] =
    "/ two points\n"
    "LINE 1\n"
    "10.5 47.25 1 500\n"
    "-20 -10 2 0\n";

// Every command line the batch cannot run, with its fault and message;
// the program's name and the usage follow on standard error.
TEST_F(BatchFolder, UsageErrors) {
  struct Case {
    std::vector<std::string> args;
    TBatchUsageFault fault;
    const char* message;  // nullptr: checked elsewhere
  };
  const Case cases[] = {
      {{}, TBatchUsageFault::NoSettingsFile, "no settings file given"},
      {{"--bogus", "x.ini"}, TBatchUsageFault::UnknownOption, "unknown option --bogus"},
      {{"-v", "x.ini"}, TBatchUsageFault::UnknownOption, nullptr},
      {{"--unit", "kGal", "x.ini"}, TBatchUsageFault::Unit, "--unit must be mGal or microGal, not 'kGal'"},
      {{"--unit=mgal", "x.ini"}, TBatchUsageFault::Unit, nullptr},
      {{"x.ini", "--unit"}, TBatchUsageFault::MissingValue, "--unit needs a value"},
      {{"--threads", "-1", "x.ini"}, TBatchUsageFault::Threads,
       "--threads needs a whole number of 0 or more, not '-1'"},
      {{"--threads", "two", "x.ini"}, TBatchUsageFault::Threads, nullptr},
      {{"--threads=1.5", "x.ini"}, TBatchUsageFault::Threads, nullptr},
      {{"--threads=100000", "x.ini"}, TBatchUsageFault::TooManyThreads, nullptr},
      {{"--output", "xls", "x.ini"}, TBatchUsageFault::Output, "--output must be text or csv, not 'xls'"},
      {{"--zones=coarse", "x.ini"}, TBatchUsageFault::ZonePreset,
       "--zones must name a zone preset (standard, fine), not 'coarse'"},
      {{"a.ini", "b.ini"}, TBatchUsageFault::SeveralSettingsFiles, "only one settings file can be run, not 2"},
      {{"--", "--unit"}, TBatchUsageFault::None, nullptr},  // a file after "--"
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    const TBatchCommandLine read = ParseBatchArgs(c.args, 1);
    EXPECT_EQ(read.fault, c.fault);
    if (c.message != nullptr) {
      EXPECT_EQ(read.message, c.message);
    }
    if (c.fault == TBatchUsageFault::None) continue;
    EXPECT_EQ(Run(c.args), kBatchUsage);
    EXPECT_EQ(err_.str().substr(0, err_.str().find('\n') + 1), "globelayers-batch: " + read.message + "\n");
    EXPECT_NE(err_.str().find("Usage: globelayers-batch"), std::string::npos);
    EXPECT_EQ(out_.str(), "");
  }
  EXPECT_EQ(ParseBatchArgs({"--", "--unit"}, 1).args.settingsPath, "--unit");
  EXPECT_EQ(ParseBatchArgs({"--unit=microGal", "--threads", "3", "x.ini"}, 1).args.threads, 3);
}

// Far more threads than cores is a slip of the keyboard, not a wish.
TEST_F(BatchFolder, ThreadsCappedAtFourPerCore) {
  WriteText("points.dat", kPoints);
  WriteText("run.ini", kConstantRun);
  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  const std::string most = std::to_string(4 * cores);
  const std::string coresText = std::to_string(cores) + (cores == 1 ? " core" : " cores");

  EXPECT_EQ(Run({"--threads", most, "run.ini"}), kBatchCompleted) << err_.str();
  for (const std::string& over : {std::to_string(4 * cores + 1), std::string("100000")}) {
    SCOPED_TRACE(over);
    EXPECT_EQ(Run({"--threads=" + over, "run.ini"}), kBatchUsage);
    EXPECT_EQ(err_.str().substr(0, err_.str().find('\n') + 1),
              "globelayers-batch: --threads " + over + " is more than 4 times this machine's " +
                  coresText + " (at most " + most + ")\n");
  }
}

TEST_F(BatchFolder, VersionOfTheProject) {
  EXPECT_EQ(Run({"--version"}), kBatchCompleted);
  EXPECT_EQ(out_.str(), std::string("globelayers-batch ") + GLOBELAYERS_PROJECT_VERSION + "\n");
  EXPECT_EQ(err_.str(), "");
  EXPECT_EQ(Run({"--version", "--bogus"}), kBatchUsage);
}

TEST_F(BatchFolder, Help) {
  EXPECT_EQ(Run({"--help"}), kBatchCompleted);
  EXPECT_NE(out_.str().find("--threads N  worker threads (0 = all cores)"), std::string::npos);
  EXPECT_EQ(err_.str(), "");
  EXPECT_TRUE(fs::is_empty(dir_));
}

TEST_F(BatchFolder, RefusedByTheChecks) {
  struct Case {
    const char* settings;
    TSettingsFault settingsFault;  // the settings file's fault, or the run set-up's after it
    TRunSetupFault setupFault = TRunSetupFault::Check;
    TRunCheck check = TRunCheck::None;
    TZoneKeyFault zoneKeys = TZoneKeyFault::None;
  };
  constexpr TSettingsFault kRead = TSettingsFault::None;  // the file reads; the set-up refuses
  const Case cases[] = {
      {"[frmMain]\nnlayer=2\n", kRead, TRunSetupFault::Check, TRunCheck::NoPointFile},
      {"[frmMain]\ndatafile=points.dat\n", kRead, TRunSetupFault::Check, TRunCheck::NoLayerRow},
      {"[frmMain]\ndatafile=points.dat\nnlayer=2\nt3dist=90\nt4dist=45\n", kRead, TRunSetupFault::Check,
       TRunCheck::DistanceOrder},
      {"[frmMain]\ndatafile=points.dat\nnlayer=1\n", kRead, TRunSetupFault::Check, TRunCheck::TooFewLayerRows},
      // A number with a decimal point, or a single comma and no point; a
      // text with both is no number.
      {"[frmMain]\ndatafile=points.dat\nnlayer=2\ngravc=0,006.673\n", kRead, TRunSetupFault::Conversion},
      // Zone keys are refused when the run is set up, naming file and key.
      {"[frmMain]\ndatafile=points.dat\nnlayer=2\n[zones]\nzone1=0;1;60\nzone3=1;180;3600\n", kRead,
       TRunSetupFault::Check, TRunCheck::ZoneKeys, TZoneKeyFault::MissingKey},
      {"[frmMain]\ndatafile=points.dat\nnlayer=2\n[zones]\nzone1=0;180,0;3600\n", kRead, TRunSetupFault::Check,
       TRunCheck::ZoneKeys, TZoneKeyFault::NotAZone},
      {"[frmMain]\ndatafile=points.dat\nnlayer=2\n[zones]\npreset=coarse\n", kRead, TRunSetupFault::Check,
       TRunCheck::ZoneKeys, TZoneKeyFault::UnknownPreset},
      // A second zone1 used to drop a band silently and give another DTE.
      {"[frmMain]\ndatafile=points.dat\nnlayer=2\n[zones]\nzone1=0;1;60\nzone2=1;180;3600\nZONE1=0;2;60\n",
       TSettingsFault::DuplicateKey, TRunSetupFault::None},
      // These used to become rule 0, 6371.001 m and 3.6 arc-seconds.
      {"[frmMain]\ndatafile=points.dat\nnlayer=2\npriority=5\n", TSettingsFault::Priority, TRunSetupFault::None},
      {"[frmMain]\ndatafile=points.dat\nnlayer=2\nR=6371,001\n", TSettingsFault::ThousandsComma,
       TRunSetupFault::None},
      {"[frmMain]\ndatafile=points.dat\nnlayer=2\nsegsize=3,600\n", TSettingsFault::ThousandsComma,
       TRunSetupFault::None},
  };
  WriteText("points.dat", kPoints);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.settings);
    WriteText("run.ini", c.settings);
    const TSetUpVerdict verdict = SetUpVerdict("run.ini");
    EXPECT_EQ(verdict.settings, c.settingsFault);
    EXPECT_EQ(verdict.setup, c.setupFault);
    EXPECT_EQ(verdict.check, c.check);
    EXPECT_EQ(verdict.zoneKeys, c.zoneKeys);
    EXPECT_EQ(Run({"run.ini"}), kBatchFailed);
    EXPECT_EQ(err_.str(), verdict.message + "\n");
    EXPECT_FALSE(fs::exists("points_dce.con"));  // nothing written
    EXPECT_FALSE(fs::exists("points_dce.dat"));
  }
  EXPECT_EQ(Run({"absent.ini"}), kBatchFailed);
  EXPECT_EQ(err_.str(), "Error by opening file absent.ini\n");
}

// A run that fails before its first point leaves the result file and the
// run log of the run before it as they were, byte for byte; one that fails
// later leaves its whole lines and a log that says why it failed.
TEST_F(BatchFolder, FailedRerunKeepsTheLastGoodResult) {
  WriteText("points.dat", kPoints);
  WriteText("run.ini", kConstantRun);
  ASSERT_EQ(Run({"run.ini"}), kBatchCompleted) << err_.str();
  const std::string goodResult = ReadText("points_t_dce.dat");
  const std::string goodLog = ReadText("points_t_dce.con");
  EXPECT_TRUE(goodLog.ends_with("\nRun completed.\n")) << goodLog;

  fs::remove("points.dat");
  EXPECT_EQ(Run({"run.ini"}), kBatchFailed);
  const TPointCount count = CountFilePoints("points.dat");
  EXPECT_EQ(count.fault, TPointFileFault::Unopenable);
  EXPECT_EQ(err_.str(), count.message + "\n");
  EXPECT_EQ(ReadText("points_t_dce.dat"), goodResult);
  EXPECT_EQ(ReadText("points_t_dce.con"), goodLog);
  for (const auto& entry : fs::directory_iterator(dir_)) {
    EXPECT_EQ(entry.path().string().find(".tmp-"), std::string::npos) << entry.path();
  }
}

TEST_F(BatchFolder, MissingGridFails) {
  WriteText("points.dat", kPoints);
  WriteText("run.ini", std::string(kConstantRun) + "cell_row-2_col-2=nowhere.grd\n");
  EXPECT_EQ(Run({"run.ini"}), kBatchFailed);
  EXPECT_EQ(err_.str(), GridFaultMessage(TGridFault::kNotOpened, "nowhere.grd"));
}

TEST_F(BatchFolder, CompletedRunInBothUnits) {
  WriteText("points.dat", kPoints);
  WriteText("run.ini", kConstantRun);

  ASSERT_EQ(Run({"run.ini"}), kBatchCompleted) << err_.str();
  EXPECT_EQ(err_.str(), "");  // not a terminal: no progress line
  const std::string mgal = ReadText("points_t_dce.dat");
  EXPECT_EQ(CountLines(mgal), 3);
  const std::string log = ReadText("points_t_dce.con");
  EXPECT_NE(log.find("Output unit: mGal\n"), std::string::npos);
  EXPECT_NE(log.find("Layer 2: -1000  2.67  \n"), std::string::npos) << log;

  ASSERT_EQ(Run({"--unit", "microGal", "--threads=0", "run.ini"}), kBatchCompleted) << err_.str();
  const std::string micro = ReadText("points_t_dce.dat");
  EXPECT_NE(ReadText("points_t_dce.con").find("Output unit: microGal\n"), std::string::npos);

  // Line 2, fields 5 and 7: DTE scales by 1000, VGDRE does not.
  const auto fields = [](const std::string& text, int line) {
    std::istringstream in(text);
    std::string l;
    for (int i = 0; i <= line; ++i) std::getline(in, l);
    std::istringstream f(l);
    return std::vector<double>(std::istream_iterator<double>(f), std::istream_iterator<double>());
  };
  const std::vector<double> a = fields(mgal, 1), b = fields(micro, 1);
  ASSERT_EQ(a.size(), 7u);
  ASSERT_EQ(b.size(), 7u);
  EXPECT_NEAR(b[4], 1000 * a[4], 1e-5 * 1000);
  EXPECT_EQ(b[6], a[6]);
}

TEST_F(BatchFolder, ProgressOnlyOnATerminal) {
  WriteText("points.dat", kPoints);
  WriteText("run.ini", kConstantRun);
  ASSERT_EQ(Run({"run.ini"}, /*terminal=*/true), kBatchCompleted);
  EXPECT_EQ(err_.str(), "\rpoint 1 of 2\rpoint 2 of 2\n");
}

// The example data set as committed: the run succeeds from its folder and
// does not depend on the number of threads.
TEST_F(BatchFolder, ExampleRun) {
  for (const char* name : {"example.ini", "stations.dat", "topography.grd", "crustbase.grd"}) {
    fs::copy_file(fs::path(GLOBELAYERS_EXAMPLES_DIR) / name, dir_ / name);
  }
  ASSERT_EQ(Run({"example.ini"}), kBatchCompleted) << err_.str();
  const std::string result = ReadText("stations_example_dce.dat");
  EXPECT_EQ(CountLines(result), 21);  // header and twenty stations
  EXPECT_EQ(result.rfind("     Lambda          Fi      Point     Height         DTE1", 0), 0u);
  EXPECT_EQ(result.find("nan"), std::string::npos);
  EXPECT_EQ(result.find("inf"), std::string::npos);
  // Byte for byte the file the reviewed engine wrote when the example was made.
  EXPECT_EQ(result, ReadText(fs::path(GLOBELAYERS_EXAMPLES_DIR) / "expected" / "stations_example_dce.dat"));
  const std::string log = ReadText("stations_example_dce.con");
  EXPECT_EQ(CountLines(log), 20);
  EXPECT_TRUE(log.ends_with("\nRun completed.\n")) << log;
  EXPECT_NE(log.find("Layer 3:  crustbase.grd 2.67  \n"), std::string::npos) << log;

  ASSERT_EQ(Run({"--threads", "0", "example.ini"}), kBatchCompleted) << err_.str();
  EXPECT_EQ(ReadText("stations_example_dce.dat"), result);
}

// --output csv: beside the unchanged text file, a CSV with one header line
// and, field by field, every number as the text file prints it.
TEST_F(BatchFolder, OutputCsvHoldsEveryPrintedDigit) {
  for (const char* name : {"example.ini", "stations.dat", "topography.grd", "crustbase.grd"}) {
    fs::copy_file(fs::path(GLOBELAYERS_EXAMPLES_DIR) / name, dir_ / name);
  }
  ASSERT_EQ(Run({"--output=csv", "example.ini"}), kBatchCompleted) << err_.str();
  const std::string text = ReadText("stations_example_dce.dat");
  EXPECT_EQ(text, ReadText(fs::path(GLOBELAYERS_EXAMPLES_DIR) / "expected" / "stations_example_dce.dat"));
  std::istringstream textLines(text), csvLines(ReadText("stations_example_dce.csv"));
  std::string textLine, csvLine;
  ASSERT_TRUE(std::getline(textLines, textLine));
  ASSERT_TRUE(std::getline(csvLines, csvLine));
  EXPECT_EQ(csvLine,
            "Lambda [deg],Fi [deg],Point,Height [m],DTE1 [mGal],DTE(i)1 [mGal],VGDRE1 [mGal/m],DTE 2 [mGal],"
            "DTE(i) 2 [mGal],VGDRE 2 [mGal/m],DTE [mGal],DTE(i) [mGal],VGDRE [mGal/m]");
  int rows = 0;
  while (std::getline(textLines, textLine)) {
    ASSERT_TRUE(std::getline(csvLines, csvLine));
    std::istringstream fields(textLine);
    std::string joined;
    for (std::string field; fields >> field;) joined += (joined.empty() ? "" : ",") + field;
    EXPECT_EQ(csvLine, joined);
    ++rows;
  }
  EXPECT_EQ(rows, 20);
  EXPECT_FALSE(std::getline(csvLines, csvLine));

  // Without the option no CSV is written.
  fs::remove("stations_example_dce.csv");
  ASSERT_EQ(Run({"--output", "text", "example.ini"}), kBatchCompleted) << err_.str();
  EXPECT_FALSE(fs::exists("stations_example_dce.csv"));
}

// The real example (examples/everest/): the SRTM tile nested in the 20'
// grid, fine preset. Its station 11 (Kala Patthar), 0.004 degrees from the
// tile's edge, where segments cross the seam into the 20' grid, gives the
// committed result line and run log, times apart (one station: a 3" grid
// makes the preset's last band 66.7 million segments).
TEST_F(BatchFolder, EverestExampleRun) {
#if !defined(GLOBELAYERS_HAVE_GDAL)
  GTEST_SKIP() << "this build reads no GeoTIFF (built without GDAL): examples/everest is not run";
#endif
  const fs::path example = fs::path(GLOBELAYERS_EXAMPLES_DIR) / "everest";
  for (const char* name : {"everest.ini", "srtm3_N27E086_everest.tif", "etopo20_global.tif"}) {
    fs::copy_file(example / name, dir_ / name);
  }
  const auto lines = [](const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
  };
  // Point file: its comment, its header and station 11; result file: its
  // header and that station's line.
  const std::vector<std::string> stations = lines(ReadText(example / "khumbu.dat"));
  const std::vector<std::string> expected = lines(ReadText(example / "expected" / "khumbu_everest_dce.dat"));
  ASSERT_EQ(stations.size(), 14u);
  ASSERT_EQ(expected.size(), 13u);
  WriteText("khumbu.dat", stations[0] + "\n" + stations[1] + "\n" + stations[12] + "\n");
  ASSERT_EQ(Run({"everest.ini"}), kBatchCompleted) << err_.str();
  EXPECT_EQ(ReadText("khumbu_everest_dce.dat"), expected[0] + "\n" + expected[11] + "\n");
  const auto afterTimes = [](const std::string& text) {
    return text.substr(text.find('\n', text.find('\n') + 1) + 1);
  };
  EXPECT_EQ(afterTimes(ReadText("khumbu_everest_dce.con")),
            afterTimes(ReadText(example / "expected" / "khumbu_everest_dce.con")));
}

// One zone that is the example's zone (t3dist, t4dist, segsize) is the same
// run: the result file does not change by a byte, even with t4dist and
// segsize changed, which a zoned run does not use. The zones win, and the
// log says so: its distance and segment size lines hold what the zone
// used, one line names the file's unused texts, and the zone follows.
TEST_F(BatchFolder, ExampleRunWithOneZone) {
  for (const char* name : {"example.ini", "stations.dat", "topography.grd", "crustbase.grd"}) {
    fs::copy_file(fs::path(GLOBELAYERS_EXAMPLES_DIR) / name, dir_ / name);
  }
  ASSERT_EQ(Run({"example.ini"}), kBatchCompleted) << err_.str();
  const std::string plainResult = ReadText("stations_example_dce.dat");
  const std::string plainLog = ReadText("stations_example_dce.con");

  const auto replaced = [](std::string text, const std::string& from, const std::string& to) {
    const std::size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
  };
  std::string settings = ReadText("example.ini");
  settings = replaced(settings, "\nt4dist=180\n", "\nt4dist=5\n");
  settings = replaced(settings, "\nsegsize=3600\n", "\nsegsize=60\n");
  WriteText("example.ini", settings + "[zones]\nzone1=0;180;3600\n");
  ASSERT_EQ(Run({"example.ini"}), kBatchCompleted) << err_.str();
  EXPECT_TRUE(ReadText("stations_example_dce.dat") == plainResult);

  // The first two lines hold the clock times.
  const auto afterTimes = [](const std::string& text) {
    return text.substr(text.find('\n', text.find('\n') + 1) + 1);
  };
  std::string expectedLog = replaced(afterTimes(plainLog), "Segment size: 3600\n", "Segment size: zones\n");
  expectedLog = replaced(expectedLog, "Run completed.\n",
                         "The zones below replace Phi from 0, Phi to 5 and Segment size 60, which this run did "
                         "not use.\nZone 1: 0 - 180 deg, segment 3600\"\nRun completed.\n");
  EXPECT_EQ(afterTimes(ReadText("stations_example_dce.con")), expectedLog);
}

// --zones names a preset in place of the file's [zones]: the same run as
// preset=NAME in the file; the log names the preset and lists its bands,
// formed from the finest grid's spacing.
TEST_F(BatchFolder, ZonePresetFromTheCommandLine) {
  for (const char* name : {"example.ini", "stations.dat", "topography.grd", "crustbase.grd"}) {
    fs::copy_file(fs::path(GLOBELAYERS_EXAMPLES_DIR) / name, dir_ / name);
  }
  const std::string settings = ReadText("example.ini");
  WriteText("example.ini", settings + "[zones]\npreset=fine\n");
  ASSERT_EQ(Run({"example.ini"}), kBatchCompleted) << err_.str();
  const std::string fromFile = ReadText("stations_example_dce.dat");
  const std::string log = ReadText("stations_example_dce.con");
  // The example's grids are 1-degree grids: the bands end before any far
  // band with block means would begin.
  EXPECT_TRUE(log.ends_with("\nZone preset: fine\n"
                            "Zone preset fine: within 0.01 mGal of a converged reference, as measured on three "
                            "synthetic 1' global reliefs, smooth, rough and steep (docs/zones.md)\n"
                            "Zone 1: 0 - 0.0006 deg, segment 0.016875\"\n"
                            "Zone 2: 0.0006 - 0.006 deg, segment 0.16875\"\n"
                            "Zone 3: 0.006 - 0.06 deg, segment 1.6875\"\n"
                            "Zone 4: 0.06 - 0.6 deg, segment 16.875\"\n"
                            "Zone 5: 0.6 - 6 deg, segment 168.75\"\n"
                            "Zone 6: 6 - 60 deg, segment 843.75\"\n"
                            "Zone 7: 60 - 180 deg, segment 6750\"\n"
                            "Run completed.\n"))
      << log;

  WriteText("example.ini", settings + "[zones]\nzone1=0;180;3600\n");
  ASSERT_EQ(Run({"--zones", "FINE", "example.ini"}), kBatchCompleted) << err_.str();
  EXPECT_TRUE(ReadText("stations_example_dce.dat") == fromFile);
  EXPECT_NE(fromFile, ReadText(fs::path(GLOBELAYERS_EXAMPLES_DIR) / "expected" / "stations_example_dce.dat"));

  EXPECT_EQ(Run({"--zones=coarse", "example.ini"}), kBatchUsage);
  EXPECT_EQ(err_.str().substr(0, err_.str().find('\n')),
            "globelayers-batch: --zones must name a zone preset (standard, fine), not 'coarse'");
}

// A settings file of an older decimal-comma window holds commas: the batch
// reads them as decimal separators, computes the example's result byte for
// byte and logs the numbers with a decimal point.
TEST_F(BatchFolder, ExampleWithDecimalCommas) {
  for (const char* name : {"example.ini", "stations.dat", "topography.grd", "crustbase.grd"}) {
    fs::copy_file(fs::path(GLOBELAYERS_EXAMPLES_DIR) / name, dir_ / name);
  }
  std::string settings = ReadText("example.ini");
  for (const auto& [from, to] : {std::pair<std::string, std::string>{"gravc=0.006673", "gravc=0,006673"},
                                 {"cell_row-2_col-3=2.67", "cell_row-2_col-3=2,67"},
                                 {"cell_row-3_col-3=2.67", "cell_row-3_col-3=2,67"},
                                 {"incr=1\n", "incr=1,0\n"}}) {
    const std::size_t at = settings.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    settings.replace(at, from.size(), to);
  }
  WriteText("example.ini", settings);
  ASSERT_EQ(Run({"example.ini"}), kBatchCompleted) << err_.str();
  EXPECT_EQ(ReadText("stations_example_dce.dat"),
            ReadText(fs::path(GLOBELAYERS_EXAMPLES_DIR) / "expected" / "stations_example_dce.dat"));
  const std::string log = ReadText("stations_example_dce.con");
  for (const char* line : {"\nIncrement: 1.0\n", "\nGravity constant: 0.006673\n",
                           "\nLayer 2: 0  2.67  \n", "\nLayer 3:  crustbase.grd 2.67  \n"}) {
    EXPECT_NE(log.find(line), std::string::npos) << line << " in\n" << log;
  }
}

// The committed data files are what the generator writes.
TEST_F(BatchFolder, ExampleDataIsReproducible) {
  const std::string command = std::string("'") + MAKE_EXAMPLES_EXE + "' '" + dir_.string() + "'";
  ASSERT_EQ(std::system(command.c_str()), 0);
  for (const char* name : {"stations.dat", "topography.grd", "crustbase.grd"}) {
    SCOPED_TRACE(name);
    const std::string made = ReadText(dir_ / name);
    EXPECT_FALSE(made.empty());
    EXPECT_TRUE(made == ReadText(fs::path(GLOBELAYERS_EXAMPLES_DIR) / name));
  }
}

// The executable wires the same front end to the process's streams.
TEST_F(BatchFolder, ExecutableExitCodes) {
  WriteText("points.dat", kPoints);
  WriteText("run.ini", kConstantRun);
  WriteText("refused.ini", "[frmMain]\n");
  const auto exitCode = [](const std::string& args) {
    const std::string command = std::string("'") + GLOBELAYERS_BATCH_EXE + "' " + args + " 2>/dev/null >/dev/null";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  };
  EXPECT_EQ(exitCode("--help"), 0);
  EXPECT_EQ(exitCode("run.ini"), 0);
  EXPECT_EQ(exitCode("refused.ini"), 1);
  EXPECT_EQ(exitCode("--unit nowhere run.ini"), 2);
  EXPECT_EQ(exitCode(""), 2);
}

// A stop signal to the executable, while it runs a calculation that would
// take about a minute on two cores: the run ends early with whole lines, a
// log that says so, and the shell's status for the signal.
struct StopCase {
  const char* name;
  int signal;
  int status;
  int second = 0;  // sent right after the first; 0: none
};
// A second signal neither ends the process nor changes what it reports.
// Two signals pending together arrive lowest number first, so SIGINT (2)
// then SIGTERM (15) reaches the handler in this order whatever the timing.
const StopCase kStops[] = {
    {"SIGINT", SIGINT, 130},
    {"SIGTERM", SIGTERM, 143},
    {"SIGINTThenSIGTERM", SIGINT, 130, SIGTERM},
};
void PrintTo(const StopCase& c, std::ostream* os) { *os << c.name; }

class StoppedRun : public BatchFolder, public testing::WithParamInterface<StopCase> {};

// Names of the result file's header; "DTE 2" is one name with a blank
// before its one-digit layer number.
int HeaderNames(const std::string& header) {
  std::istringstream in(header);
  std::string word;
  int names = 0;
  while (in >> word) names += word.find_first_not_of("0123456789") != std::string::npos;
  return names;
}

int Fields(const std::string& line) {
  std::istringstream in(line);
  std::string word;
  int fields = 0;
  while (in >> word) ++fields;
  return fields;
}

// The child's wait status, or nothing if it still runs after `timeout`.
std::optional<int> WaitForExit(pid_t pid, std::chrono::seconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    int status = 0;
    if (::waitpid(pid, &status, WNOHANG) == pid) return status;
    if (std::chrono::steady_clock::now() > deadline) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

// stop.ini in the current folder: the example grids under 10000 points,
// some 10 ms of one core each. Whole degrees keep the point file free of
// decimal separators. It writes many_dce.dat and many_dce.con.
constexpr int kLongRunPoints = 10000;

void WriteLongRun(const fs::path& dir) {
  for (const char* name : {"topography.grd", "crustbase.grd"}) {
    fs::copy_file(fs::path(GLOBELAYERS_EXAMPLES_DIR) / name, dir / name);
  }
  std::string points = "/ many points\nLINE 1\n";
  for (int i = 0; i < kLongRunPoints; ++i) {
    points += std::to_string(-179 + (i * 7) % 358) + " " + std::to_string(-70 + (i * 11) % 140) +
              " " + std::to_string(i + 1) + " " + std::to_string(i % 5) + "\n";
  }
  WriteText("many.dat", points);
  WriteText("stop.ini",
            "[frmMain]\n"
            "datafile=many.dat\n"
            "incr=1\n"
            "segsize=3600\n"
            "nlayer=3\n"
            "cell_row-1_col-2=topography.grd\n"
            "cell_row-2_col-1=0\n"
            "cell_row-2_col-3=2.67\n"
            "cell_row-3_col-2=crustbase.grd\n"
            "cell_row-3_col-3=2.67\n");
}

// The interruption line, as the log and standard error show it.
std::regex InterruptionLine(const std::string& signalName) {
  return std::regex("Run interrupted by " + signalName +
                    " at [0-2][0-9]:[0-5][0-9]:[0-6][0-9]; the result file holds the points "
                    "completed before it\\.\n");
}

TEST_P(StoppedRun, KeepsWholeLinesAndSaysWhy) {
  const StopCase& c = GetParam();
  WriteLongRun(dir_);

  // Default dispositions and no blocked signals, whatever the test runner set.
  posix_spawn_file_actions_t files;
  posix_spawn_file_actions_init(&files);
  posix_spawn_file_actions_addopen(&files, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&files, STDERR_FILENO, "stderr.txt",
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t signals;
  sigemptyset(&signals);
  posix_spawnattr_setsigmask(&attr, &signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  posix_spawnattr_setsigdefault(&attr, &signals);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  std::string exe = GLOBELAYERS_BATCH_EXE, threads = "--threads", two = "2", ini = "stop.ini";
  char* argv[] = {exe.data(), threads.data(), two.data(), ini.data(), nullptr};
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, exe.c_str(), &files, &attr, argv, environ);
  posix_spawn_file_actions_destroy(&files);
  posix_spawnattr_destroy(&attr);
  ASSERT_EQ(spawned, 0);
  // Whatever fails below, the child does not outlive the test.
  struct Reaper {
    pid_t pid;
    bool reaped = false;
    ~Reaper() {
      if (reaped) return;
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
    }
  } reaper{pid};

  // Header and a first point on disk: the signal comes in the middle of the
  // points. The result file is written in blocks, so this takes some
  // hundreds of points.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  while (CountLines(ReadText("many_dce.dat")) < 2) {
    int status = 0;
    ASSERT_NE(::waitpid(pid, &status, WNOHANG), pid)
        << "ended before its first point, status " << status << ": " << ReadText("stderr.txt");
    ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "no point written in 120 s";
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_EQ(::kill(pid, c.signal), 0);
  if (c.second != 0) {
    ASSERT_EQ(::kill(pid, c.second), 0);
  }

  const std::optional<int> status = WaitForExit(pid, std::chrono::seconds(120));
  ASSERT_TRUE(status.has_value()) << "still running 120 s after " << c.name;
  reaper.reaped = true;
  ASSERT_TRUE(WIFEXITED(*status)) << "ended by signal " << WTERMSIG(*status);
  EXPECT_EQ(WEXITSTATUS(*status), c.status);

  const std::string result = ReadText("many_dce.dat");
  ASSERT_FALSE(result.empty());
  EXPECT_EQ(result.back(), '\n') << "the last line is cut";
  std::istringstream lines(result);
  std::string header, line;
  std::getline(lines, header);
  // Point columns, then DTE, DTE(i) and VGDRE of two layers and of their sum.
  ASSERT_EQ(HeaderNames(header), 4 + 3 * 3) << header;
  int written = 0;
  while (std::getline(lines, line)) {
    ++written;
    EXPECT_EQ(Fields(line), 13) << "line " << written + 1 << ": " << line;
  }
  EXPECT_GE(written, 1);
  EXPECT_LT(written, kLongRunPoints) << "the run was not stopped";

  const std::string log = ReadText("many_dce.con");
  EXPECT_EQ(CountLines(log), 20) << log;  // the log of a whole run, its last line the interruption's
  const std::size_t lastLine = log.rfind('\n', log.size() - 2) + 1;
  const std::string signalName = c.signal == SIGINT ? "SIGINT" : "SIGTERM";
  EXPECT_TRUE(std::regex_match(log.substr(lastLine), InterruptionLine(signalName)))
      << log.substr(lastLine);
  EXPECT_NE(ReadText("stderr.txt").find("Run interrupted by " + signalName + " at "),
            std::string::npos)
      << ReadText("stderr.txt");
}

INSTANTIATE_TEST_SUITE_P(Signals, StoppedRun, testing::ValuesIn(kStops),
                         [](const auto& info) { return std::string(info.param.name); });

// In-process, with the progress line of a terminal: the signal stops the
// run all the same, the message starts on a line of its own, and the host's
// own SIGINT handling is back afterwards.
TEST_F(BatchFolder, InterruptOnATerminal) {
  WriteLongRun(dir_);
  struct sigaction before {};
  ASSERT_EQ(::sigaction(SIGINT, nullptr, &before), 0);

  std::atomic<bool> finished{false};
  std::jthread interrupter([&finished] {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (!finished && std::chrono::steady_clock::now() < deadline) {
      if (CountLines(ReadText("many_dce.dat")) >= 2) {
        ::kill(::getpid(), SIGINT);
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  });
  const int status = Run({"--threads", "2", "stop.ini"}, /*terminal=*/true);
  finished = true;
  interrupter.join();

  EXPECT_EQ(status, kBatchInterrupted);
  const std::string err = err_.str();
  const std::size_t said = err.find("\nRun interrupted by ");
  ASSERT_NE(said, std::string::npos) << err.substr(err.size() > 200 ? err.size() - 200 : 0);
  EXPECT_EQ(err.rfind("\rpoint ", said), err.rfind('\r'));  // the progress line comes before it
  EXPECT_TRUE(std::regex_match(err.substr(said + 1), InterruptionLine("SIGINT")))
      << err.substr(said + 1);
  EXPECT_LT(CountLines(ReadText("many_dce.dat")), kLongRunPoints + 1);

  struct sigaction after {};
  ASSERT_EQ(::sigaction(SIGINT, nullptr, &after), 0);
  EXPECT_EQ(after.sa_handler, before.sa_handler);
}

// The executable keeps its handlers from start-up on: a signal that comes
// before the calculation (while the settings are read) stops the run before
// its first point, with the status of an interrupted run, instead of being
// lost. With no point computed, the files of the run before stay as they
// were.
TEST_F(BatchFolder, SignalBeforeTheRunStopsItAtOnce) {
  WriteLongRun(dir_);
  WriteText("many_dce.dat", "earlier result\n");
  WriteText("many_dce.con", "earlier log\n");
  const pid_t child = ::fork();
  if (child == 0) {
    ::alarm(60);
    KeepStopSignalsUntilExit();
    ::raise(SIGTERM);
    std::ostringstream out, err;
    ::_exit(RunBatch({"stop.ini"}, out, err, false));
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), kBatchTerminated);
  EXPECT_EQ(ReadText("many_dce.dat"), "earlier result\n");
  EXPECT_EQ(ReadText("many_dce.con"), "earlier log\n");
}

}  // namespace
}  // namespace globelayers

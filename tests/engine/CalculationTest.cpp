// Whole runs over small fixtures: result files compared as text, the
// physics of complete shells, and every way a run can end.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <functional>
#include <memory>
#include <set>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "Calculation.h"
#include "LayerRowText.h"
#include "GridFaults.h"
#include "GridFixtures.h"
#include "GridReach.h"
#include "PointFile.h"
#include "PointPipeline.h"
#include "RingLayout.h"
#include "RecordingPrompts.h"
#include "StopRequest.h"

namespace globelayers {
namespace {

using testing_fixtures::TempDir;
using testing_fixtures::WriteGlobalGrid;

// Records what the run shows; presses Cancel before the given points.
class TRecordingProgress : public IRunProgress {
 public:
  void Show() override { ++shows; visible = true; }
  void Hide() override { ++hides; visible = false; }
  void SetCaption(const std::string& c) override { caption = c; }
  void SetMaximum(int m) override { maximum = m; }
  void SetPosition(int p) override { positions.push_back(p); }
  void ProcessMessages() override { ++processed; }
  bool TakeCancelRequest() override {
    // Asked once after every point's line.
    // positions holds the opening 0, then one entry per point begun.
    return cancelAfterPoint.count(static_cast<int>(positions.size()) - 1) > 0;
  }
  int shows = 0, hides = 0, maximum = -1, processed = 0;
  bool visible = false;
  std::string caption;
  std::vector<int> positions;
  std::set<int> cancelAfterPoint;  // 1-based point numbers after which Cancel is pressed
};

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  return lines;
}

std::vector<double> Numbers(const std::string& line) {
  std::vector<double> v;
  std::istringstream in(line);
  for (double x; in >> x;) v.push_back(x);
  return v;
}

class Run : public testing::Test {
 protected:
  Run() {
    params.dataFile = dir.Write("points.dat", "0 0 1 0\n");
    rows = {"0;@;@;@", "-1000;@;2.67;@"};
    params.rowCount = 2;
  }
  // The rows are written as row texts with a decimal point, converted here.
  TRunOutcome Calc(const TRunOptions& options = {}) {
    params.layers = LayerRowsFromTexts(rows, '.');
    params.rowCount = static_cast<int>(rows.size());
    return engine.RunCalculation(params, progress, prompts, options);
  }
  std::string Result() const { return ReadFile(dir.File("points" + params.appendText + "_dce.dat")); }
  bool ResultExists() const {
    return std::filesystem::exists(dir.File("points" + params.appendText + "_dce.dat"));
  }

  TempDir dir;
  TRunParameters params;
  std::vector<std::string> rows;  // layer row texts
  TCalcEngine engine;
  TRecordingProgress progress;
  test::TRecordingPrompts<> prompts;
};

constexpr double kR = 6371001.0;
constexpr double kG = 0.006673;

double ShellAttraction(double rTop, double rBot, double rPoint, double rho) {
  // G M / r^2 of a complete shell below the point, in mGal.
  return 2 * 3.141592653589793 * kG * rho * 2 * (rTop * rTop * rTop - rBot * rBot * rBot) /
         (3 * rPoint * rPoint);
}

TEST_F(Run, ConstantLayerIsTheClosedFormShell) {
  params.increment = 1;
  ASSERT_EQ(Calc(), TRunOutcome::Completed);
  const auto lines = Lines(Result());
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "     Lambda          Fi      Point     Height          DTE       DTE(i)        VGDRE");
  const auto v = Numbers(lines[1]);
  ASSERT_EQ(v.size(), 7u);
  EXPECT_NEAR(v[4], ShellAttraction(kR, kR - 1000, kR, 2.67), 1e-5);
  EXPECT_NEAR(v[5], ShellAttraction(kR, kR - 1000, kR + 1, 2.67), 1e-5);
  EXPECT_TRUE(prompts.messages.empty());
  EXPECT_EQ(progress.shows, 1);
  EXPECT_EQ(progress.hides, 1);
  EXPECT_EQ(progress.caption, "T4");
  EXPECT_EQ(progress.maximum, 1);

  // The closed form does not depend on the segment size or azimuth range.
  const std::string first = Result();
  params.zone = TSingleZone{.segmentSizeArcSec = 1800};
  params.azimuthToDeg = 90;
  ASSERT_EQ(Calc(), TRunOutcome::Completed);
  EXPECT_EQ(Result(), first);
}

TEST_F(Run, CompleteShellIsGMOverRSquared) {
  // microGal: the printed digits resolve 1e-11 of the value.
  params.outputUnit = TOutputUnit::MicroGal;
  params.dataFile = dir.Write("points.dat", "10 20 1 5000\n-170 -80 2 250000\n");
  ASSERT_EQ(Calc(), TRunOutcome::Completed);
  const auto lines = Lines(Result());
  ASSERT_EQ(lines.size(), 3u);
  for (int i = 1; i <= 2; ++i) {
    const auto v = Numbers(lines[i]);
    const double expected = 1000 * ShellAttraction(kR, kR - 1000, kR + v[3], 2.67);
    EXPECT_NEAR(v[4], expected, 1e-9 * expected) << lines[i];
  }
}

TEST_F(Run, CrossingConstantsFollowThePriority) {
  rows = {"-1000;@;@;@", "0;@;2.67;@"};  // top below bottom
  params.priority = TCrossingRule::ChangeLayersAndSign;
  ASSERT_EQ(Calc(), TRunOutcome::Completed);
  const double negative = Numbers(Lines(Result())[1])[4];
  EXPECT_NEAR(negative, -ShellAttraction(kR, kR - 1000, kR, 2.67), 1e-5);
  for (const TCrossingRule priority : {TCrossingRule::TopGrid, TCrossingRule::BottomGrid}) {
    params.priority = priority;
    ASSERT_EQ(Calc(), TRunOutcome::Completed);
    EXPECT_EQ(Numbers(Lines(Result())[1])[4], 0.0) << static_cast<int>(priority);
  }
}

TEST_F(Run, ConstantGridEqualsConstantLayerOverTheWholeGlobe) {
  params.dataFile = dir.Write("points.dat", "12.5 48.25 1 350\n-120 -33 2 0\n0 89.5 3 10\n");
  params.increment = 1;
  ASSERT_EQ(Calc(), TRunOutcome::Completed);
  const std::string constant = Result();
  // The ring sum of a constant layer telescopes to the closed form.
  const std::string zero = WriteGlobalGrid(dir.File("zero.grd"), [](double, double) { return 0.0f; });
  rows = {"@;" + zero + ";@;@", "-1000;@;2.67;@"};
  ASSERT_EQ(Calc(), TRunOutcome::Completed);
  EXPECT_EQ(Result(), constant);
}

TEST_F(Run, BlankSegmentContributesNothingButKeepsTheRingCount) {
  // One ring of 4 segments (azimuths 45, 135, 225, 315 degrees) around a
  // point on the equator; the north-east quarter of the grid is blank.
  params.zone = TSingleZone{.psiFromDeg = 10, .psiToDeg = 11.5};  // one ring of 1.5 degrees
  const auto segments = [&] {
    return BuildRingLayout(10 * 0.017453292519943295, 11.5 * 0.017453292519943295, 0,
                           params.azimuthToDeg * 0.017453292519943295, 3600, kR)->segmentCounts[0];
  };
  // floor(sin(11.5 deg) * dLambda / 1.5 deg) segments: 4 for dLambda just above 30 degrees.
  params.azimuthToDeg = 4 * 1.5 / std::cos((90 - 11.5) * 0.017453292519943295) + 0.01;
  ASSERT_EQ(segments(), 4);
  const std::string full = WriteGlobalGrid(dir.File("full.grd"), [](double, double) { return 0.0f; });
  const std::string holed = WriteGlobalGrid(dir.File("holed.grd"), [](double x, double y) {
    return x >= 2 && y >= 2 ? 1.70141e38f : 0.0f;
  });
  rows = {"@;" + full + ";@;@", "-1000;@;2.67;@"};
  ASSERT_EQ(Calc(), TRunOutcome::Completed);
  const double whole = Numbers(Lines(Result())[1])[4];
  rows = {"@;" + holed + ";@;@", "-1000;@;2.67;@"};
  ASSERT_EQ(Calc(), TRunOutcome::Completed);
  const double threeQuarters = Numbers(Lines(Result())[1])[4];
  EXPECT_GT(whole, 0);
  EXPECT_NEAR(threeQuarters, 0.75 * whole, 2e-5);
}

TEST_F(Run, UnitsAndGradientColumns) {
  params.increment = 2;
  ASSERT_EQ(Calc(), TRunOutcome::Completed);
  const auto mgal = Numbers(Lines(Result())[1]);
  params.outputUnit = TOutputUnit::MicroGal;
  ASSERT_EQ(Calc(), TRunOutcome::Completed);
  const auto ugal = Numbers(Lines(Result())[1]);
  ASSERT_EQ(mgal.size(), 7u);
  ASSERT_EQ(ugal.size(), 7u);
  EXPECT_NEAR(ugal[4], 1000 * mgal[4], 1e-2);
  EXPECT_NEAR(ugal[5], 1000 * mgal[5], 1e-2);
  EXPECT_EQ(ugal[6], mgal[6]);  // VGDRE stays in mGal per metre
  EXPECT_NEAR(mgal[6], (mgal[5] - mgal[4]) / 2, 1e-5);

  params.increment = 0;
  ASSERT_EQ(Calc(), TRunOutcome::Completed);
  EXPECT_EQ(Numbers(Lines(Result())[1]).size(), 5u);
}

TEST_F(Run, SumOnlyEqualsTheSumsOfThePerLayerRun) {
  const std::string topo = WriteGlobalGrid(dir.File("topo.grd"), [](double x, double y) {
    return float(1000 * std::sin(x * 0.05) * std::cos(y * 0.07));
  });
  rows = {"@;" + topo + ";@;@", "0;@;1.03;@", "-2000;@;2.67;@", "-10000;@;2.9;@",
                      "-35000;@;3.1;@"};
  params.dataFile = dir.Write("points.dat", "10 20 1 100\n");
  params.increment = 1;
  params.zone = TSingleZone{.segmentSizeArcSec = 7200};
  ASSERT_EQ(Calc(), TRunOutcome::Completed);
  const auto perLayer = Lines(Result());
  ASSERT_EQ(perLayer.size(), 2u);
  const auto v = Numbers(perLayer[1]);
  ASSERT_EQ(v.size(), 4u + 3 * 5);
  params.sumOnly = true;
  ASSERT_EQ(Calc(), TRunOutcome::Completed);
  const auto sums = Numbers(Lines(Result())[1]);
  ASSERT_EQ(sums.size(), 7u);
  EXPECT_EQ(sums[4], v[16]);
  EXPECT_EQ(sums[5], v[17]);
  double layerSum = 0;
  for (int i = 0; i < 4; ++i) layerSum += v[4 + 3 * i];
  EXPECT_NEAR(layerSum, v[16], 4e-5);
}

TEST_F(Run, EmptyPointFileGivesTheHeaderOnly) {
  params.dataFile = dir.Write("points.dat", "/ nothing here\nLINE 1\n");
  ASSERT_EQ(Calc(), TRunOutcome::Completed);
  EXPECT_EQ(Lines(Result()).size(), 1u);
}

TEST_F(Run, RefusalsWriteNothing) {
  struct Case {
    const char* name;
    std::function<void(TRunParameters&)> change;
    TRunFault fault;
    std::string message;  // the fault's text with the values at fault (RunFaultsTest holds the texts)
  };
  const std::string missingPoints = dir.File("nope.dat");
  const Case cases[] = {
      {"missing_point_file", [&](TRunParameters& p) { p.dataFile = missingPoints; }, TRunFault::PointFile,
       CountFilePoints(missingPoints).message},
      {"ring_limit", [](TRunParameters& p) { p.zone = TSingleZone{.segmentSizeArcSec = 74}; }, TRunFault::CellSize,
       RunFaultMessage(TRunFault::CellSize)},
      {"segment_size_zero", [](TRunParameters& p) { p.zone = TSingleZone{.segmentSizeArcSec = 0}; },
       TRunFault::CellSize, RunFaultMessage(TRunFault::CellSize)},
      {"sixteen_rows",
       [this](TRunParameters&) {
         rows.assign(16, "0;@;2;@");
       },
       TRunFault::TooManyLayers, RunFaultMessage(TRunFault::TooManyLayers)},
      {"no_elevation", [this](TRunParameters&) { rows[1] = "@;@;2.67;@"; }, TRunFault::NoElevation,
       RunFaultMessage(TRunFault::NoElevation, 2)},
      {"no_density", [this](TRunParameters&) { rows.push_back("-5;@;@;@"); }, TRunFault::NoDensity,
       RunFaultMessage(TRunFault::NoDensity, 3)},
      // Values that would overflow a counter or give numbers that are not
      // finite are refused before the point file is read.
      {"earth_radius_huge", [](TRunParameters& p) { p.earthRadius = 1e308; }, TRunFault::EarthRadius,
       RunFaultMessage(TRunFault::EarthRadius, 1e9, 1e308)},
      {"earth_radius_zero", [](TRunParameters& p) { p.earthRadius = 0; }, TRunFault::EarthRadius,
       RunFaultMessage(TRunFault::EarthRadius, 1e9, 0.0)},
      {"earth_radius_nan", [](TRunParameters& p) { p.earthRadius = std::nan(""); }, TRunFault::EarthRadius,
       RunFaultMessage(TRunFault::EarthRadius, 1e9, std::nan(""))},
      {"gravity_constant_infinite", [](TRunParameters& p) { p.gravityConstant = HUGE_VAL; },
       TRunFault::GravityConstant, RunFaultMessage(TRunFault::GravityConstant, HUGE_VAL)},
      {"increment_nan", [](TRunParameters& p) { p.increment = std::nan(""); }, TRunFault::Increment,
       RunFaultMessage(TRunFault::Increment, std::nan(""))},
      {"azimuth_infinite", [](TRunParameters& p) { p.azimuthToDeg = -HUGE_VAL; }, TRunFault::Azimuths,
       RunFaultMessage(TRunFault::Azimuths, 0.0, -HUGE_VAL)},
      // Every ring but the cap at the int limit: 179 * 2147483647 + 1.
      {"azimuth_span_overflows",
       [](TRunParameters& p) {
         p.azimuthFromDeg = -1e308;
         p.azimuthToDeg = 1e308;
       },
       TRunFault::ZoneTooManySegments, RunFaultMessage(TRunFault::ZoneTooManySegments, 384399572814LL, 1000000000LL)},
      {"refused_before_the_point_file_is_read",
       [&](TRunParameters& p) {
         p.dataFile = missingPoints;
         p.earthRadius = -1;
       },
       TRunFault::EarthRadius, RunFaultMessage(TRunFault::EarthRadius, 1e9, -1.0)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    params = TRunParameters{};
    params.dataFile = dir.Write("points.dat", "0 0 1 0\n");
    rows = {"0;@;@;@", "-1000;@;2.67;@"};
    std::filesystem::remove(dir.File("points_dce.dat"));
    prompts.messages.clear();
    c.change(params);
    EXPECT_EQ(Calc(), TRunOutcome::Failed);
    EXPECT_EQ(engine.LastFault(), c.fault);
    EXPECT_EQ(prompts.messages, std::vector<std::string>{c.message});
    EXPECT_FALSE(ResultExists());
    EXPECT_FALSE(progress.visible);
  }
}

// A run that fails before its first point leaves the result of an earlier
// run as it was, byte for byte, and no temporary file beside it.
TEST_F(Run, MissingGridLeavesTheEarlierResult) {
  const std::string missing = dir.File("missing.grd");
  const std::string earlier = "an earlier result, without a line end";
  dir.Write("points_dce.dat", earlier);
  rows = {"0;@;@;@", "@;" + missing + ";2.67;@"};
  EXPECT_EQ(Calc(), TRunOutcome::Failed);
  EXPECT_EQ(engine.LastFault(), TRunFault::GridNotLoaded);
  EXPECT_EQ(prompts.messages, std::vector<std::string>{GridFaultMessage(TGridFault::kNotOpened, missing)});
  EXPECT_EQ(Result(), earlier);
  EXPECT_FALSE(engine.ResultWritten());
  for (const auto& entry : std::filesystem::directory_iterator(dir.File(""))) {
    EXPECT_EQ(entry.path().string().find(".tmp-"), std::string::npos) << entry.path();
  }
  EXPECT_FALSE(engine.layerModel[1].elevationGrid);  // released
  EXPECT_FALSE(progress.visible);
}

// A result name that is a link is written through, as before: the link
// stays a link (a rename would replace it), and the run counts as written.
TEST_F(Run, ResultNameThatIsALinkIsWrittenThrough) {
  const std::string target = dir.File("elsewhere.dat");
  std::filesystem::create_symlink(target, dir.File("points_dce.dat"));
  EXPECT_EQ(Calc(), TRunOutcome::Completed);
  EXPECT_TRUE(engine.ResultWritten());
  EXPECT_TRUE(std::filesystem::is_symlink(dir.File("points_dce.dat")));
  EXPECT_EQ(Lines(ReadFile(target)).size(), 2u);  // the header and the point
}

TEST_F(Run, CancelYesKeepsCompleteLinesOnly) {
  params.dataFile = dir.Write("points.dat", "1 1 1 0\n2 2 2 0\n3 3 3 0\n4 4 4 0\n");
  progress.cancelAfterPoint = {2};
  prompts.yesNoReplies = {true};
  EXPECT_EQ(Calc(), TRunOutcome::Cancelled);
  EXPECT_EQ(prompts.questions, std::vector<std::string>{"Cancel calculation?"});
  const auto lines = Lines(Result());
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(Numbers(lines[2])[2], 2);
  EXPECT_EQ(Result().back(), '\n');
  EXPECT_EQ(progress.positions, (std::vector<int>{0, 0, 1}));
  EXPECT_FALSE(progress.visible);
}

// Cancel pressed while the last point is computed comes too late to cancel
// anything: the run completed and says so, without a question, also when
// lines that are no points follow the last one.
TEST_F(Run, CancelAfterTheLastPointCancelsNothing) {
  for (const char* tail : {"", "\n# end of survey\n\n"}) {
    SCOPED_TRACE(tail);
    params.dataFile = dir.Write("points.dat", std::string("1 1 1 0\n2 2 2 0\n") + tail);
    progress = {};
    progress.cancelAfterPoint = {2};
    prompts.questions.clear();
    EXPECT_EQ(Calc(), TRunOutcome::Completed);
    EXPECT_TRUE(prompts.questions.empty());
    EXPECT_EQ(Lines(Result()).size(), 3u);
    EXPECT_TRUE(engine.ResultWritten());
  }
}

TEST_F(Run, CancelNoGoesOnAndAsksAgain) {
  params.dataFile = dir.Write("points.dat", "1 1 1 0\n2 2 2 0\n3 3 3 0\n");
  progress.cancelAfterPoint = {1, 2};
  prompts.yesNoReplies = {false, false};
  EXPECT_EQ(Calc(), TRunOutcome::Completed);
  EXPECT_EQ(prompts.questions.size(), 2u);
  EXPECT_EQ(Lines(Result()).size(), 4u);
  EXPECT_EQ(progress.maximum, 3);
  EXPECT_EQ(progress.positions, (std::vector<int>{0, 0, 1, 2}));
}

// Cancel pressed while the grids load asks as it does between points; Yes
// reaches the loading at once (it gives up within a block of its file) and
// leaves an earlier result as it was, No lets the loading go on.
TEST_F(Run, CancelWhileGridsLoadAsksAndStopsTheLoading) {
  const std::string grid = WriteGlobalGrid(dir.File("g.grd"), [](double, double) { return 100.0f; });
  rows = {"@;" + grid + ";@;@", "-1000;@;2.67;@"};
  for (const bool yes : {true, false}) {
    SCOPED_TRACE(yes ? "Yes" : "No");
    const std::string earlier = "an earlier result";
    dir.Write("points_dce.dat", earlier);
    // Cancel is pressed once, while the first grid is being read.
    struct TCancelOnce : TRecordingProgress {
      std::atomic<bool> pressed{false};
      bool TakeCancelRequest() override { return !pressed.exchange(true); }
    } loading;
    std::atomic<bool> answered{false};
    prompts = {};
    prompts.yesNoReplies = {yes};
    prompts.afterAnswer = [&answered](bool) { answered = true; };
    bool sawStop = false;
    TRunOptions options;
    options.loadGrid = [&](TGridImports& g, const std::string& file, IUserPrompts& p) {
      // A slow read: it ends when told to stop, or once the question is answered.
      for (int i = 0; i < 1000 && !answered; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
      for (int i = 0; i < 100 && !LongStepStopRequested(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
      sawStop = LongStepStopRequested();
      return !sawStop && LoadGrid(g, file, p);
    };
    params.layers = LayerRowsFromTexts(rows, '.');
    const TRunOutcome outcome = engine.RunCalculation(params, loading, prompts, options);
    EXPECT_EQ(prompts.questions, std::vector<std::string>{"Cancel calculation?"});
    EXPECT_TRUE(prompts.messages.empty());
    EXPECT_EQ(sawStop, yes);
    if (yes) {
      EXPECT_EQ(outcome, TRunOutcome::Cancelled);
      EXPECT_EQ(Result(), earlier);
      EXPECT_FALSE(engine.ResultWritten());
    } else {
      EXPECT_EQ(outcome, TRunOutcome::Completed);
      EXPECT_EQ(Lines(Result()).size(), 2u);
    }
    EXPECT_FALSE(LongStepStopRequested());  // the stop was the run's thread's only
    EXPECT_FALSE(engine.layerModel[0].elevationGrid);  // released
  }
}

// A row text that does not convert is refused when it is converted, before
// the run: nothing is set up and nothing is written.
TEST_F(Run, RowTextThatDoesNotConvertIsRefusedBeforeTheRun) {
  const std::string grid = WriteGlobalGrid(dir.File("g.grd"), [](double, double) { return 0.0f; });
  rows = {"@;" + grid + ";@;@", "-1000;@;2,67;@"};
  EXPECT_THROW(Calc(), TConversionError);
  EXPECT_FALSE(engine.layerModel[0].elevationGrid);
  EXPECT_EQ(progress.hides, 0);
  EXPECT_FALSE(ResultExists());
}

TEST_F(Run, WriteErrorIsAFailureNotASuccess) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  std::filesystem::create_symlink("/dev/full", dir.File("points_dce.dat"));
  EXPECT_EQ(Calc(), TRunOutcome::Failed);
  EXPECT_EQ(engine.LastFault(), TRunFault::ResultUnwritten);
  EXPECT_EQ(prompts.messages, std::vector<std::string>{RunFaultMessage(TRunFault::ResultUnwritten,
                                                                       dir.File("points_dce.dat").c_str())});
}

// A result name that is a link to a device that refuses every write is
// written directly, from the header on: however the run ends, the failure
// to finish the file is said once, after the message of what ended it.
TEST_F(Run, FileThatCannotBeFinishedIsReportedOnceOnEveryWayOut) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  const std::string written = RunFaultMessage(TRunFault::ResultUnwritten, dir.File("points_dce.dat").c_str());
  const std::string missing = dir.File("missing.grd");
  struct Case {
    const char* name;
    std::function<void(TRunOptions&)> change;
    std::vector<std::string> messages;
  };
  const Case cases[] = {
      {"completed", [](TRunOptions&) {}, {written}},
      {"grid_refused", [&](TRunOptions&) { rows[1] = "@;" + missing + ";2.67;@"; },
       {GridFaultMessage(TGridFault::kNotOpened, missing), written}},
      {"points_thrown",
       [](TRunOptions& options) {
         options.pointLines = [](const TRunParameters&, const TRunContext&, int,
                                 IRunProgress&) -> std::unique_ptr<IPointLines> {
           throw std::runtime_error("no worker for the points");
         };
       },
       {"no worker for the points", written}},
  };
  std::filesystem::create_symlink("/dev/full", dir.File("points_dce.dat"));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    rows = {"0;@;@;@", "-1000;@;2.67;@"};
    prompts.messages.clear();
    TRunOptions options;
    c.change(options);
    EXPECT_EQ(Calc(options), TRunOutcome::Failed);
    EXPECT_EQ(prompts.messages, c.messages);
    EXPECT_FALSE(progress.visible);
  }
}

// Numbers that are not finite never reach the file: the run fails at the
// point, naming it, and keeps the lines before it.
TEST_F(Run, PointThatGivesNoFiniteNumberFailsTheRunNamingIt) {
  struct Case {
    const char* name;
    std::string secondPoint;
    std::vector<std::string> layerRows;
    std::string message;
  };
  const Case cases[] = {
      {"at_the_centre_of_the_earth", "5 6 2 -6371001", {"0;@;@;@", "-1000;@;2.67;@"},
       "Point 2 at longitude 5, latitude 6: its height of -6371001 m puts it at or below the centre of the Earth."},
      {"below_it", "5 6 2 -7e6", {"0;@;@;@", "-1000;@;2.67;@"},
       "Point 2 at longitude 5, latitude 6: its height of -7000000 m puts it at or below the centre of the Earth."},
      {"density_beyond_doubles", "5 6 2 0", {"0;@;@;@", "-1000;@;1e308;@"},
       "Point 1 at longitude 0, latitude 0, height 0 m: the attraction is not a finite number. Check the point's "
       "height and the layers' heights and densities around it."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    params.dataFile = dir.Write("points.dat", "0 0 1 0\n" + c.secondPoint + "\n");
    rows = c.layerRows;
    prompts.messages.clear();
    EXPECT_EQ(Calc(), TRunOutcome::Failed);
    EXPECT_EQ(engine.LastFault(), TRunFault::PointFailed);
    EXPECT_EQ(prompts.messages, std::vector<std::string>{c.message});
    const std::string text = Result();
    EXPECT_EQ(text.find("nan"), std::string::npos);
    EXPECT_EQ(text.find("inf"), std::string::npos);
    EXPECT_EQ(text.back(), '\n');
  }
}

// An interrupt signal as the batch reports it: StopRequested turns true at
// its n-th call and stays true. With one thread it is asked once per ring
// of a point too, so the interrupt lands in the middle of a point.
class TInterruptedProgress : public TSilentProgress {
 public:
  explicit TInterruptedProgress(int trueFromCall) : trueFromCall_(trueFromCall) {}
  bool StopRequested() override { return ++calls_ >= trueFromCall_; }

 private:
  const int trueFromCall_;
  std::atomic<int> calls_{0};
};

struct StopCase {
  const char* name;
  int threads;
  int stopAtCall;  // with one thread the calls include one per ring
};
void PrintTo(const StopCase& c, std::ostream* os) { *os << c.name; }

class Stopping : public Run, public testing::WithParamInterface<StopCase> {};

TEST_P(Stopping, InterruptKeepsWholeLinesAndAsksNothing) {
  std::string points;
  for (int i = 0; i < 12; ++i) points += std::to_string(i * 30 - 170) + " " + std::to_string(i * 14 - 80) + " " + std::to_string(i + 1) + " 5\n";
  params.dataFile = dir.Write("points.dat", points);
  const std::string grid =
      WriteGlobalGrid(dir.File("g.grd"), [](double x, double y) { return float(800 * std::sin(x / 13) + y); });
  rows = {"@;" + grid + ";@;@", "-1000;@;2.67;@"};
  params.zone = TSingleZone{.segmentSizeArcSec = 7200};
  params.appendText = "_all";
  ASSERT_EQ(Calc({.threads = GetParam().threads}), TRunOutcome::Completed);
  const std::vector<std::string> all = Lines(Result());

  params.appendText = "_stopped";
  TInterruptedProgress interrupted(GetParam().stopAtCall);
  const TRunOptions options{.threads = GetParam().threads};
  EXPECT_EQ(engine.RunCalculation(params, interrupted, prompts, options), TRunOutcome::Cancelled);
  EXPECT_TRUE(prompts.questions.empty());
  // Stopped before its first point, the run leaves no result file (an
  // earlier one would stay as it was).
  EXPECT_EQ(engine.ResultWritten(), ResultExists());
  if (GetParam().stopAtCall == 1) {
    EXPECT_FALSE(ResultExists());
    return;
  }
  // On two threads the calls to the progress come as the workers wait, so a
  // stop at a later call can still come before the first point is whole.
  if (GetParam().threads > 1 && !engine.ResultWritten()) return;
  const std::string text = Result();
  ASSERT_FALSE(text.empty());
  EXPECT_EQ(text.back(), '\n');
  const std::vector<std::string> kept = Lines(text);
  ASSERT_LT(kept.size(), all.size());
  for (std::size_t i = 0; i < kept.size(); ++i) EXPECT_EQ(kept[i], all[i]) << "line " << i;
}

const StopCase kStopCases[] = {
    {"one_thread_mid_point", 1, 400},
    {"two_threads", 2, 5},
    {"before_the_first_point", 2, 1},
};
INSTANTIATE_TEST_SUITE_P(Interrupt, Stopping, testing::ValuesIn(kStopCases),
                         [](const testing::TestParamInfo<StopCase>& info) { return std::string(info.param.name); });

// Runs `body` in a child process (for resource limits that must not touch
// the test process) and returns its exit status, or -signal when a signal
// ended it. The child gets `seconds` before SIGALRM ends it: a hang fails.
int InChild(unsigned seconds, const std::function<int()>& body) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::alarm(seconds);
    ::_exit(body());
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
}

TEST_F(Run, FullDiskCutsTheFileBackToWholeLines) {
  std::string points;
  for (int i = 0; i < 40; ++i) points += std::to_string(i) + " 10 " + std::to_string(i + 1) + " 0\n";
  params.dataFile = dir.Write("points.dat", points);
  params.appendText = "_all";
  ASSERT_EQ(Calc(), TRunOutcome::Completed);
  const std::vector<std::string> all = Lines(Result());
  ASSERT_EQ(all.size(), 41u);

  // The disk fills up in the middle of the fourth line.
  const rlim_t limit = all[0].size() + 1 + 3 * (all[1].size() + 1) + 20;
  params.appendText = "_full";
  const int status = InChild(60, [&] {
    std::signal(SIGXFSZ, SIG_IGN);  // a write past the limit fails with EFBIG instead
    const rlimit fileSize{.rlim_cur = limit, .rlim_max = limit};
    if (::setrlimit(RLIMIT_FSIZE, &fileSize) != 0) return 10;
    if (Calc() != TRunOutcome::Failed) return 11;
    if (engine.LastFault() != TRunFault::ResultUnwritten) return 13;
    return prompts.messages == std::vector<std::string>{RunFaultMessage(TRunFault::ResultUnwritten,
                                                                        dir.File("points_full_dce.dat").c_str())}
               ? 0
               : 12;
  });
  EXPECT_EQ(status, 0);
  const std::string text = Result();
  const std::vector<std::string> kept = Lines(text);
  EXPECT_EQ(text.back(), '\n');
  ASSERT_EQ(kept.size(), 4u);
  for (std::size_t i = 0; i < kept.size(); ++i) EXPECT_EQ(kept[i], all[i]);
}

// The seams of a front end that spreads the points over processes: its own
// point lines in the run's loop, and the run set up elsewhere without the
// point and result files, its grids loaded through the caller.
class SpreadRun : public Run {
 protected:
  SpreadRun() {
    points = {"12.5 48.25 1 350", "-120 -33 2 0", "0 89.5 3 10", "179.9 -5 4 1200"};
    std::string text;
    for (const std::string& point : points) text += point + "\n";
    params.dataFile = dir.Write("points.dat", text);
    grid = WriteGlobalGrid(dir.File("relief.grd"),
                           [](double x, double y) { return static_cast<float>(800 * std::sin(x / 17) * std::cos(y / 9)); });
    rows = {"@;" + grid + ";@;@", "-1000;@;2.67;@", "-30000;@;@;" + grid};
    params.increment = 1;
    params.zone = TZoneList{{{.psiFromDeg = 0, .psiToDeg = 2, .segmentSizeArcSec = 1800},
                             {.psiFromDeg = 2, .psiToDeg = 180, .segmentSizeArcSec = 7200, .blockMeans = true}}};
  }
  std::vector<std::string> points;
  std::string grid;
};

// Hands the points to a pipeline of this process, counting them.
class TCountingLines : public IPointLines {
 public:
  TCountingLines(const TRunContext& ctx, int workers, IRunProgress& progress, int& submitted)
      : pipeline_(ctx, workers, progress), submitted_(submitted) {}
  long window() const override { return pipeline_.window(); }
  void Submit(long index, const TCalcPoint& point) override {
    ++submitted_;
    pipeline_.Submit(index, point);
  }
  std::optional<std::string> Take(long index, const std::function<bool()>& idle) override {
    return pipeline_.Take(index, idle);
  }

 private:
  TPointPipeline pipeline_;
  int& submitted_;
};

TEST_F(SpreadRun, ServedRunGivesTheLinesOfTheWholeRun) {
  ASSERT_EQ(Calc(), TRunOutcome::Completed);
  const std::vector<std::string> whole = Lines(Result());
  ASSERT_EQ(whole.size(), points.size() + 1);

  // The run's own loop, its points through the caller's lines.
  int submitted = 0;
  TRunOptions options;
  options.threads = 2;
  options.pointLines = [&submitted](const TRunParameters&, const TRunContext& ctx, int workers,
                                    IRunProgress& progress) -> std::unique_ptr<IPointLines> {
    return std::make_unique<TCountingLines>(ctx, workers, progress, submitted);
  };
  // The record goes out once, before the first grid is loaded: other
  // processes that load the same grids in step start there. The area of
  // every station goes with it, so that they can read the same windows.
  std::vector<std::string> events;
  options.beforeGrids = [&events](const TRunParameters& record, const TStationArea* stations) {
    const long count = stations != nullptr ? stations->bounds().count : -1;
    events.push_back("record " + record.dataFile + " stations " + std::to_string(count));
  };
  options.loadGrid = [&events](TGridImports& g, const std::string& file, IUserPrompts& p) {
    events.push_back("grid " + file);
    return LoadGrid(g, file, p);
  };
  ASSERT_EQ(Calc(options), TRunOutcome::Completed);
  EXPECT_EQ(submitted, static_cast<int>(points.size()));
  EXPECT_EQ(Lines(Result()), whole);
  const std::string record = "record " + params.dataFile + " stations " + std::to_string(points.size());
  EXPECT_EQ(events, (std::vector<std::string>{record, "grid " + grid, "grid " + grid}));

  // Set up elsewhere: the same context, the grids through the loader, one
  // call per grid cell in row order.
  std::vector<std::string> loaded;
  TRunOptions served;
  served.loadGrid = [&loaded](TGridImports& g, const std::string& file, IUserPrompts& p) {
    loaded.push_back(file);
    return LoadGrid(g, file, p);
  };
  std::vector<std::string> lines;
  TCalcEngine other;
  test::TRecordingPrompts<> quiet;
  ASSERT_TRUE(other.ServeRun(params, quiet, served, [&](const TRunContext& ctx) {
    TPointEvaluator evaluator(ctx);
    for (const std::string& point : points) lines.push_back(evaluator.Evaluate(*ParsePointLine(point + "\n")));
  }));
  EXPECT_TRUE(quiet.messages.empty());
  EXPECT_EQ(loaded, (std::vector<std::string>{grid, grid}));
  ASSERT_EQ(lines.size(), points.size());
  for (std::size_t i = 0; i < lines.size(); ++i) EXPECT_EQ(Lines(lines[i]).front(), whole[i + 1]) << i;
  EXPECT_EQ(other.UsedZones(), std::get<TZoneList>(params.zone).bands);
  EXPECT_FALSE(other.layerModel[0].elevationGrid);  // released
}

TEST_F(SpreadRun, ServedRunRefusesAsTheWholeRunDoes) {
  struct RefusalCase {
    const char* name;
    std::function<void(TRunParameters&)> change;
    TRunFault fault;
    std::string message;  // the fault's text with the values at fault
  };
  const std::string missing = dir.File("missing.grd");
  const RefusalCase cases[] = {
      {"missing grid", [&](TRunParameters& p) { p.layers[2] = LayerRowFromText("-30000;@;@;" + missing, '.'); },
       TRunFault::GridNotLoaded, GridFaultMessage(TGridFault::kNotOpened, missing)},
      {"one row", [](TRunParameters& p) { p.rowCount = 1; }, TRunFault::TooFewLayers,
       RunFaultMessage(TRunFault::TooFewLayers)},
      {"radius", [](TRunParameters& p) { p.earthRadius = -1; }, TRunFault::EarthRadius,
       RunFaultMessage(TRunFault::EarthRadius, 1e9, -1.0)},
      {"unknown preset", [](TRunParameters& p) { p.zone = TZonePreset{"regional"}; }, TRunFault::UnknownPreset,
       RunFaultMessage(TRunFault::UnknownPreset, "regional", "standard, fine")},
      {"zones with a gap", [](TRunParameters& p) { p.zone = TZoneList{{{0, 2, 1800}, {3, 180, 7200}}}; },
       TRunFault::ZoneGap, RunFaultMessage(TRunFault::ZoneGap, 2, 3.0, 1, 2.0)},
  };
  for (const RefusalCase& c : cases) {
    SCOPED_TRACE(c.name);
    TRunParameters changed = params;
    changed.layers = LayerRowsFromTexts(rows, '.');
    changed.rowCount = static_cast<int>(rows.size());
    c.change(changed);
    TCalcEngine other;
    test::TRecordingPrompts<> recorded;
    bool served = false;
    EXPECT_FALSE(other.ServeRun(changed, recorded, {}, [&served](const TRunContext&) { served = true; }));
    EXPECT_FALSE(served);
    EXPECT_EQ(other.LastFault(), c.fault);
    EXPECT_EQ(recorded.messages, std::vector<std::string>{c.message});
    EXPECT_FALSE(other.layerModel[0].elevationGrid);  // released
  }
}

#if !defined(__SANITIZE_ADDRESS__)  // the sanitizer's shadow memory needs no address-space limit
TEST_F(Run, ThreadsThatCannotStartFailTheRunWithoutHanging) {
  params.dataFile = dir.Write("points.dat", "0 0 1 0\n1 1 2 0\n");
  const int status = InChild(120, [&] {
    // Every thread's stack takes address space: a few hundred fit.
    const rlimit space{.rlim_cur = rlim_t{1} << 30, .rlim_max = rlim_t{1} << 30};
    if (::setrlimit(RLIMIT_AS, &space) != 0) return 10;
    if (Calc({.threads = 100000}) != TRunOutcome::Failed) return 11;
    if (prompts.messages.size() != 1 || prompts.messages[0].rfind("Could not start worker thread ", 0) != 0) return 12;
    return ResultExists() ? 13 : 0;  // failed before its first point: no result file
  });
  EXPECT_EQ(status, 0);
}
#endif

}  // namespace
}  // namespace globelayers

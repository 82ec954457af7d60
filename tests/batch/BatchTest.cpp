// The headless front end: exit codes, messages, the files of a run, the
// progress line, the example data set, and the executable itself.
#include "BatchRun.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

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
    dir_ = fs::temp_directory_path() /
           ("globelayers-batch-" + std::to_string(::getpid()) + "-" + info->name());
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

TEST_F(BatchFolder, UsageErrors) {
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"--bogus", "x.ini"},
      {"-v", "x.ini"},
      {"--unit", "kGal", "x.ini"},
      {"--unit=mgal", "x.ini"},
      {"x.ini", "--unit"},
      {"--threads", "-1", "x.ini"},
      {"--threads", "two", "x.ini"},
      {"--threads=1.5", "x.ini"},
      {"a.ini", "b.ini"},
  };
  for (const auto& args : cases) {
    SCOPED_TRACE(testing::PrintToString(args));
    EXPECT_EQ(Run(args), kBatchUsage);
    EXPECT_NE(err_.str().find("globelayers-batch: "), std::string::npos);
    EXPECT_NE(err_.str().find("Usage: globelayers-batch"), std::string::npos);
    EXPECT_EQ(out_.str(), "");
  }
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
    const char* message;
  };
  const Case cases[] = {
      {"[frmMain]\nnlayer=2\n", "Input data file is required\n"},
      {"[frmMain]\ndatafile=points.dat\n", "At least two elevation grid are required\n"},
      {"[frmMain]\ndatafile=points.dat\nnlayer=2\nt3dist=90\nt4dist=45\n",
       "Phi_to must be greater then Phi_from\n"},
      {"[frmMain]\ndatafile=points.dat\nnlayer=1\n", "Number of layers must be grater or equal 2\n"},
      // Settings files hold numbers with a decimal point.
      {"[frmMain]\ndatafile=points.dat\nnlayer=2\ngravc=0,006673\n",
       "'0,006673' is not a valid floating point value\n"},
  };
  WriteText("points.dat", kPoints);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.settings);
    WriteText("run.ini", c.settings);
    EXPECT_EQ(Run({"run.ini"}), kBatchFailed);
    EXPECT_EQ(err_.str(), c.message);
    EXPECT_FALSE(fs::exists("points_dce.con"));  // nothing written
    EXPECT_FALSE(fs::exists("points_dce.dat"));
  }
  EXPECT_EQ(Run({"absent.ini"}), kBatchFailed);
  EXPECT_EQ(err_.str(), "Error by opening file absent.ini\n");
}

TEST_F(BatchFolder, FailedRunStillWritesItsLog) {
  WriteText("run.ini", kConstantRun);  // points.dat is not there
  EXPECT_EQ(Run({"run.ini"}), kBatchFailed);
  EXPECT_NE(err_.str().find("Error by opening file points.dat"), std::string::npos) << err_.str();
  EXPECT_TRUE(fs::exists("points_t_dce.con"));
  EXPECT_FALSE(fs::exists("points_t_dce.dat"));
}

TEST_F(BatchFolder, MissingGridFails) {
  WriteText("points.dat", kPoints);
  WriteText("run.ini", std::string(kConstantRun) + "cell_row-2_col-2=nowhere.grd\n");
  EXPECT_EQ(Run({"run.ini"}), kBatchFailed);
  EXPECT_NE(err_.str().find("Error by opening file nowhere.grd"), std::string::npos) << err_.str();
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
  EXPECT_EQ(CountLines(log), 19);
  EXPECT_NE(log.find("Layer 3:  crustbase.grd 2.67  \n"), std::string::npos) << log;

  ASSERT_EQ(Run({"--threads", "0", "example.ini"}), kBatchCompleted) << err_.str();
  EXPECT_EQ(ReadText("stations_example_dce.dat"), result);
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

}  // namespace
}  // namespace globelayers

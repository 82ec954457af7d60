// Opening an input: only a regular file is handed on, and it comes as an
// ordinary blocking stream, whatever else the name points at.
#include "InputFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <functional>
#include <ostream>
#include <string>

#include <gtest/gtest.h>

namespace globelayers {
namespace {

namespace fs = std::filesystem;

struct KindCase {
  const char* name;
  // Makes the thing to open in `folder` and returns its name.
  std::function<std::string(const fs::path& folder)> make;
  TInputOpen status;
  int error = 0;  // expected errno when kFailed
};
void PrintTo(const KindCase& c, std::ostream* os) { *os << c.name; }

std::string WriteText(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
  return path.string();
}

const KindCase kKinds[] = {
    {"RegularFile", [](const fs::path& d) { return WriteText(d / "a.dat", "1 2 3 4\n"); },
     TInputOpen::kOpened},
    {"LinkToRegularFile",
     [](const fs::path& d) {
       WriteText(d / "a.dat", "1 2 3 4\n");
       fs::create_symlink(d / "a.dat", d / "link.dat");
       return (d / "link.dat").string();
     },
     TInputOpen::kOpened},
    {"Missing", [](const fs::path& d) { return (d / "none.dat").string(); }, TInputOpen::kFailed, ENOENT},
    {"BelowARegularFile",
     [](const fs::path& d) { return WriteText(d / "a.dat", "") + "/b.dat"; }, TInputOpen::kFailed,
     ENOTDIR},
    {"Directory", [](const fs::path& d) { return d.string(); }, TInputOpen::kNotRegular},
    // A plain open of a FIFO waits for a writer; reading a device never ends.
    {"Fifo",
     [](const fs::path& d) {
       const std::string name = (d / "fifo.dat").string();
       EXPECT_EQ(mkfifo(name.c_str(), 0600), 0);
       return name;
     },
     TInputOpen::kNotRegular},
    {"EndlessDevice", [](const fs::path&) { return std::string("/dev/zero"); }, TInputOpen::kNotRegular},
};

class InputFileKind : public testing::TestWithParam<KindCase> {
 protected:
  void SetUp() override {
    folder_ = fs::path(testing::TempDir()) /
              ("input_" + std::to_string(getpid()) + "_" + GetParam().name);
    fs::remove_all(folder_);
    fs::create_directories(folder_);
  }
  void TearDown() override { fs::remove_all(folder_); }
  fs::path folder_;
};

TEST_P(InputFileKind, OnlyARegularFileOpens) {
  const KindCase& c = GetParam();
  const std::string name = c.make(folder_);
  alarm(20);  // a blocking open ends the test process instead of hanging the run
  TInputFile in = OpenInputFile(name);
  alarm(0);
  EXPECT_EQ(in.status, c.status);
  EXPECT_EQ(in.file != nullptr, c.status == TInputOpen::kOpened);
  if (c.status == TInputOpen::kFailed) {
    EXPECT_EQ(in.error, c.error);
  }
  if (!in.file) return;
  EXPECT_EQ(in.sizeBytes, 8u);
  // Read as fopen would give it: blocking, from the start.
  EXPECT_EQ(fcntl(fileno(in.file.get()), F_GETFL) & O_NONBLOCK, 0);
  char text[16] = {};
  EXPECT_EQ(std::fread(text, 1, sizeof text, in.file.get()), 8u);
  EXPECT_STREQ(text, "1 2 3 4\n");
}

INSTANTIATE_TEST_SUITE_P(Input, InputFileKind, testing::ValuesIn(kKinds),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace globelayers

// The point line rule, the 126-character pieces and the point count.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <clocale>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <ostream>

#include "GermanLocale.h"
#include "InputFile.h"
#include "NumberText.h"
#include "PointFile.h"
#include "RecordingPrompts.h"

namespace globelayers {
namespace {

struct LineCase {
  const char* name;
  const char* line;
  bool isPoint;
  double lambda = 0, phi = 0, number = 0, height = 0;
};
void PrintTo(const LineCase& c, std::ostream* os) { *os << c.name; }

const LineCase kLines[] = {
    {"commas_no_blanks", "12.5,48.25,101,350\n", true, 12.5, 48.25, 101, 350},
    {"blanks_leading", "  12.5 48.25 101 350\n", true, 12.5, 48.25, 101, 350},
    {"tabs_between", "12.5\t48.25\t101\t350\n", true, 12.5, 48.25, 101, 350},
    {"commas_and_blanks_mixed", "12.5, 48.25 ,101,  350", true, 12.5, 48.25, 101, 350},
    {"exponents_and_signs", "-1.5e1 -3 1E2 +2.5e-1\n", true, -15, -3, 100, 0.25},
    {"five_numbers_take_four", "1 2 3 4 5\n", true, 1, 2, 3, 4},
    {"leading_tab_passed_over", "\t12.5 48.25 101 350\n", false},
    {"slash_comment", "/12.5 48.25 101 350\n", false},
    {"LINE_header_alone", "LINE 7\n", false},
    {"LINE_after_numbers", "12.5 48.25 101 350 LINE\n", false},
    {"Line_mixed_case_no_point", "Line 12.5 48.25 101 350\n", false},
    {"three_numbers", "12.5 48.25 101\n", false},
    {"empty", "", false},
    {"bare_line_break", "\n", false},
    {"high_byte_first", "\xC3\xA9" "12.5 48.25 101 350\n", false},
    {"decimal_comma_is_a_separator", "12,5 48,25\n", true, 12, 5, 48, 25},
    // Not finite: never a point, or every sum of the run is NaN.
    {"nan_longitude", "nan 48.25 101 350\n", false},
    {"upper_case_NAN_height_with_commas", "12.5,48.25,101,NAN\n", false},
    {"negative_infinity_latitude", "12.5 -infinity 101 350\n", false},
    {"inf_point_number", "12.5 48.25 inf 350\n", false},
    {"overflowing_height", "12.5 48.25 101 1e999\n", false},
    {"subnormal_height_is_finite", "12.5 48.25 101 1e-310\n", true, 12.5, 48.25, 101, 1e-310},
};

class PointLine : public testing::TestWithParam<LineCase> {};

TEST_P(PointLine, ParsesAsExpected) {
  const LineCase& c = GetParam();
  const auto p = ParsePointLine(c.line);
  ASSERT_EQ(p.has_value(), c.isPoint);
  if (!p) return;
  EXPECT_EQ(p->lambda, c.lambda);
  EXPECT_EQ(p->phi, c.phi);
  EXPECT_EQ(p->pointNumber, c.number);
  EXPECT_EQ(p->height, c.height);
}

INSTANTIATE_TEST_SUITE_P(Lines, PointLine, testing::ValuesIn(kLines),
                         [](const auto& i) { return std::string(i.param.name); });

class PointFile : public testing::Test {
 protected:
  std::string Write(const std::string& content) {
    const auto path = std::filesystem::temp_directory_path() /
                      ("gl_points_" + std::to_string(::getpid()) + "_" + std::to_string(counter_++) + ".dat");
    std::ofstream(path, std::ios::binary) << content;
    files_.push_back(path);
    return path.string();
  }
  ~PointFile() override {
    for (const auto& f : files_) std::filesystem::remove(f);
  }

  // Reads every piece of a file with the line rule.
  std::vector<TCalcPoint> ReadAll(const std::string& path) {
    std::vector<TCalcPoint> points;
    std::FILE* f = std::fopen(path.c_str(), "r");
    EXPECT_TRUE(f);
    bool atEnd = false;
    while (f && !atEnd) {
      if (auto p = ReadPointLine(f, atEnd)) points.push_back(*p);
    }
    if (f) std::fclose(f);
    return points;
  }

  int counter_ = 0;
  std::vector<std::filesystem::path> files_;
};

TEST_F(PointFile, LongLinesAreReadIn126CharacterPieces) {
  // 150 characters: a first piece of 126 holding a point, then 24 more
  // characters with the line break that give a point of their own.
  std::string first = "1 2 3 4";
  first.resize(126, ' ');
  std::string rest = "5 6 7 8";
  rest.resize(24, ' ');
  const auto points = ReadAll(Write(first + rest + "\n"));
  ASSERT_EQ(points.size(), 2u);
  EXPECT_EQ(points[0].lambda, 1);
  EXPECT_EQ(points[1].lambda, 5);
}

TEST_F(PointFile, CrLfIsOneLineBreakAndTheLastLineNeedsNone) {
  std::string line126 = "9 9 9 9";
  line126.resize(126, ' ');
  // A 126-character line followed by CR LF: the CR LF is one break, read as a
  // piece of its own that is passed over; it does not spill a CR into data.
  const std::string content = "/ header\r\n1 2 3 4\r\n" + line126 + "\r\n5 6 7 8";
  const auto points = ReadAll(Write(content));
  ASSERT_EQ(points.size(), 3u);
  EXPECT_EQ(points[0].height, 4);
  EXPECT_EQ(points[1].lambda, 9);
  EXPECT_EQ(points[2].height, 8);
}

TEST_F(PointFile, CountPointsCountsWhatTheLoopComputes) {
  test::TRecordingPrompts<> prompts;
  EXPECT_EQ(CountPoints(Write("/c\nLINE 1\n1 2 3 4\n\n5,6,7,8\n1 2 3\n"), prompts), 2);
  EXPECT_EQ(CountPoints(Write(""), prompts), 0);
  EXPECT_EQ(CountPoints(Write("/ only a comment\n"), prompts), 0);
  EXPECT_TRUE(prompts.messages.empty());
}

struct NotFiniteCase {
  const char* name;
  std::string content;
  int line;
  const char* number;  // as quoted in the message
};
void PrintTo(const NotFiniteCase& c, std::ostream* os) { *os << c.name; }

// A first piece of 126 characters holding a point, with no line break.
std::string FullFirstPiece() {
  std::string piece = "1 2 3 4";
  piece.resize(126, ' ');
  return piece;
}

// Line numbers count line breaks, not the 126-character pieces.
const NotFiniteCase kNotFinite[] = {
    {"nan_after_comment_and_header", "/ stations\nLINE 1\nnan 48.25 101 350\n", 3, "nan"},
    {"overflow_after_a_point_crlf", "1 2 3 4\r\n5 6 7 1e999\r\n", 2, "1e999"},
    {"negative_nan_on_last_line_without_break", "1 2 3 4\n\n1,2,3,-NaN", 3, "-NaN"},
    {"second_piece_of_a_long_line", FullFirstPiece() + "5 6 -inf 8\n", 1, "-inf"},
};

class PointFileNotFinite : public PointFile, public testing::WithParamInterface<NotFiniteCase> {};

TEST_P(PointFileNotFinite, RefusesTheRunNamingLineAndNumber) {
  const NotFiniteCase& c = GetParam();
  const std::string path = Write(c.content);
  const TPointCount counted = CountFilePoints(path);
  EXPECT_FALSE(counted.count);
  EXPECT_EQ(counted.fault, TPointFileFault::NotFinite);
  EXPECT_EQ(counted.message,
            "Line " + std::to_string(c.line) + " of " + path + " holds a number that is not finite: '" + c.number + "'");
  // The loop that computes passes it over as well.
  for (const TCalcPoint& p : ReadAll(path)) {
    for (double v : {p.lambda, p.phi, p.pointNumber, p.height}) EXPECT_TRUE(std::isfinite(v));
  }
}

INSTANTIATE_TEST_SUITE_P(Lines, PointFileNotFinite, testing::ValuesIn(kNotFinite),
                         [](const auto& i) { return std::string(i.param.name); });

// The message of a fault is shown once, as it is.
TEST_F(PointFile, MissingFileIsReported) {
  const TPointCount counted = CountFilePoints("/nonexistent/dir/points%s.dat");
  EXPECT_EQ(counted.fault, TPointFileFault::Unopenable);
  EXPECT_EQ(counted.message, "Error by opening file /nonexistent/dir/points%s.dat");
  test::TRecordingPrompts<> prompts;
  EXPECT_FALSE(CountPoints("/nonexistent/dir/points%s.dat", prompts));
  EXPECT_EQ(prompts.messages, std::vector<std::string>{counted.message});
}

// A directory used to read as a file of no points; a FIFO blocked the run
// and /dev/zero never ended. Each is refused at once like a missing file.
TEST_F(PointFile, WhatIsNotARegularFileIsReportedLikeAMissingOne) {
  const auto folder =
      std::filesystem::temp_directory_path() / ("gl_points_dir_" + std::to_string(::getpid()));
  std::filesystem::create_directories(folder);
  const std::string fifo = (folder / "points.dat").string();
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& name : {folder.string(), fifo, std::string("/dev/zero")}) {
    SCOPED_TRACE(name);
    alarm(20);  // a blocking open ends the test process instead of hanging the run
    const TPointCount counted = CountFilePoints(name);
    const TFilePtr stream = OpenInputStream(name);
    alarm(0);
    EXPECT_EQ(stream, nullptr);
    EXPECT_FALSE(counted.count);
    EXPECT_EQ(counted.fault, TPointFileFault::Unopenable);
  }
  std::filesystem::remove_all(folder);
}

TEST(PointFileLocale, DecimalCommaLocaleStillReadsDecimalPoints) {
  const test::TGermanLocale german;
  ASSERT_TRUE(german.active()) << "scripts/setup.sh generates de_DE.UTF-8";
  EXPECT_EQ(test::TGermanLocale::PlainPrintf(), "1,5");
  const auto p = ParsePointLine("12.5,48.25,101,350\n");
  const std::string formatted = CFormat("%11.6lf", 12.5);
  ASSERT_TRUE(p);
  EXPECT_EQ(p->lambda, 12.5);
  EXPECT_EQ(p->phi, 48.25);
  EXPECT_EQ(p->pointNumber, 101);
  EXPECT_EQ(p->height, 350);
  EXPECT_EQ(formatted, "  12.500000");
}

}  // namespace
}  // namespace globelayers

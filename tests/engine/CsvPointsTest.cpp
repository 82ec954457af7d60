// Point files as CSV with a header naming the columns: the same points in
// any column order give the same result bytes as the plain format, and
// headers that cannot be used are refused naming the file.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "Calculation.h"
#include "GridFixtures.h"
#include "LayerRowText.h"
#include "PointFile.h"
#include "RecordingPrompts.h"

namespace globelayers {
namespace {

using testing_fixtures::TempDir;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class CsvPoints : public testing::Test {
 protected:
  // The result of the example-like stack over the point file `text`.
  std::string Result(const std::string& text) {
    TRunParameters params;
    params.dataFile = dir.Write("points.csv", text);
    params.increment = 100;
    params.layers = LayerRowsFromTexts({"0;@;@;@", "-3000;@;2.67;@", "-30000;@;0.4;@"}, '.');
    params.rowCount = 3;
    prompts.messages.clear();
    if (engine.RunCalculation(params, progress, prompts) != TRunOutcome::Completed) return "failed";
    return ReadFile(dir.File("points_dce.dat"));
  }

  TempDir dir;
  TCalcEngine engine;
  TSilentProgress progress;
  test::TRecordingPrompts<> prompts;
};

// Three points in today's format: longitude, latitude, point number, height.
constexpr char kPlain[] = "10.5 45.25 101 350\n-71 -33.5 102 0\n179.75 -89 103 2500.5\n";

TEST_F(CsvPoints, SameBytesAsThePlainFormat) {
  const std::string expected = Result(kPlain);
  ASSERT_NE(expected, "failed");
  struct Case {
    const char* name;
    std::string text;
  };
  const Case cases[] = {
      {"plain_order", "lon,lat,id,h\n10.5,45.25,101,350\n-71,-33.5,102,0\n179.75,-89,103,2500.5\n"},
      {"other_order_and_case",
       "Latitude,ELEVATION,Longitude,Point\n45.25,350,10.5,101\n-33.5,0,-71,102\n-89,2500.5,179.75,103\n"},
      {"blanks_crlf_quotes_extra_column",
       "\"phi\", \"lambda\" ,comment, height ,name\r\n45.25, 10.5,a b,350,101\r\n-33.5,-71,,0,102\r\n"
       "-89,179.75,x,2500.5,103\r\n"},
      {"byte_order_mark_and_lines_that_are_no_points",
       "\xEF\xBB\xBFlon,lat,h,id\n10.5,45.25,350,101\n\nnot,a,point,here\n-71,-33.5,0,102\n179.75,-89,2500.5,103\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Result(c.text), expected);
    EXPECT_TRUE(prompts.messages.empty());
  }
  // A first line that names the columns with commas above lines of blank
  // separated numbers (an older file's habit) reads as it always did.
  EXPECT_EQ(Result(std::string("lon, lat, point, h\n") + kPlain), expected);
  // Without a point column the points are numbered from 1.
  EXPECT_EQ(Result("lon,lat,h\n10.5,45.25,350\n-71,-33.5,0\n179.75,-89,2500.5\n"),
            Result("10.5 45.25 1 350\n-71 -33.5 2 0\n179.75 -89 3 2500.5\n"));
}

TEST_F(CsvPoints, UnusableFilesAreRefusedNamingThem) {
  const std::string file = dir.File("points.csv");
  struct Case {
    const char* name;
    std::string text;
    std::string message;
  };
  const Case cases[] = {
      {"no_height", "lon,lat,id\n1,2,3\n", "The header of " + file + " names no height (h, height or elevation) column"},
      {"no_latitude", "lon,h\n1,2\n", "The header of " + file + " names no latitude (lat, phi or latitude) column"},
      {"longitude_twice", "lon,lat,h,longitude\n1,2,3,4\n",
       "The header of " + file + " names the longitude (lon, lambda or longitude) column twice"},
      {"not_finite", "lon,lat,h\n1,2,3\n4,5,1e999\n", "Line 3 of " + file + " holds a number that is not finite: '1e999'"},
      {"nan", "lat,lon,h\n1,nan,3\n", "Line 2 of " + file + " holds a number that is not finite: 'nan'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Result(c.text), "failed");
    EXPECT_EQ(prompts.messages, std::vector<std::string>{c.message});
  }
}

}  // namespace
}  // namespace globelayers

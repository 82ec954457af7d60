// The windows' number conversion with an explicit decimal separator.
#include <gtest/gtest.h>

#include "NumberText.h"

namespace globelayers {
namespace {

TEST(TextToFloat, FollowsTheGivenSeparator) {
  struct Case { const char* text; char sep; bool ok; double value; };
  const Case cases[] = {
      {"12.5", '.', true, 12.5},   {"12,5", ',', true, 12.5},  {"12,5", '.', false, 0},
      {"12.5", ',', false, 0},     {" -3 ", '.', true, -3},     {"+2.5e3", '.', true, 2500},
      {"1E-2", '.', true, 0.01},   {".5", '.', true, 0.5},      {"5.", '.', true, 5},
      {"", '.', false, 0},         {"  ", '.', false, 0},       {"abc", '.', false, 0},
      {"1.2.3", '.', false, 0},    {"1,000.5", '.', false, 0},  {"1e", '.', false, 0},
      {"e5", '.', false, 0},       {"-", '.', false, 0},        {"nan", '.', false, 0},
      {"@", '.', false, 0},        {"@ ", '.', false, 0},
  };
  for (const Case& c : cases) {
    double v = -999;
    EXPECT_EQ(TextToFloat(c.text, c.sep, v), c.ok) << '"' << c.text << '"';
    if (c.ok) {
      EXPECT_EQ(v, c.value) << c.text;
    }
  }
}

TEST(TextToInt, WholeNumbersOnly) {
  int v = 0;
  EXPECT_TRUE(TextToInt("-3", v));
  EXPECT_EQ(v, -3);
  EXPECT_TRUE(TextToInt(" 42 ", v));
  EXPECT_EQ(v, 42);
  EXPECT_FALSE(TextToInt("2.5", v));
  EXPECT_FALSE(TextToInt("", v));
  EXPECT_FALSE(TextToInt("+-3", v));
  EXPECT_FALSE(TextToInt("99999999999", v));
}

TEST(FormatMessage, FileNameIsNeverTheFormat) {
  EXPECT_EQ(FormatMessage("Error by opening file %s\n", "/tmp/a%sb%n.dat"),
            "Error by opening file /tmp/a%sb%n.dat\n");
}

}  // namespace
}  // namespace globelayers

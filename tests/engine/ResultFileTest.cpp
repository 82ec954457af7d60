// Result file names, headers and lines, byte for byte.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>

#include "GermanLocale.h"
#include "ResultFile.h"

namespace globelayers {
namespace {

TEST(ResultFile, NameReplacesTheExtension) {
  struct Case { const char* data; const char* append; const char* expected; };
  const Case cases[] = {
      {"/data/points.dat", "_v2", "/data/points_v2_dce.dat"},
      {"/data/points.dat", "", "/data/points_dce.dat"},
      {"/data/points", "_x", "/data/points_x_dce.dat"},
      {"/data.v1/points", "", "/data.v1/points_dce.dat"},
      {"/data/points.old.txt", "", "/data/points.old_dce.dat"},
      {"points.dat", "", "points_dce.dat"},
  };
  for (const Case& c : cases) EXPECT_EQ(OutputFileName(c.data, c.append, "_dce.dat"), c.expected);
  EXPECT_EQ(OutputFileName("/d/p.dat", "_a", "_dce.con"), "/d/p_a_dce.con");
}

const TCalcPoint kPoint{.lambda = 12.5, .phi = 48.25, .pointNumber = 101, .height = 350};

TEST(ResultFile, PerLayerWithGradient) {
  const TResultLayout L = MakeResultLayout(1, false, 3);
  EXPECT_EQ(ResultHeader(L),
            "     Lambda          Fi      Point     Height         DTE1      DTE(i)1       VGDRE1"
            "        DTE 2     DTE(i) 2      VGDRE 2"
            "          DTE       DTE(i)        VGDRE\n");
  const std::string line = ResultLayerPiece(L, kPoint, 0, {.dte = 1.5, .dteI = 1.25, .vgdre = -0.25}) +
                           ResultLayerPiece(L, kPoint, 1, {.dte = -2, .dteI = 3, .vgdre = 0.000004}) +
                           ResultLineEnd(L, kPoint, {.dte = -0.5, .dteI = 4.25, .vgdre = 4.75});
  EXPECT_EQ(line,
            "  12.500000   48.250000        101    350.000      1.50000      1.25000     -0.25000"
            "     -2.00000      3.00000      0.00000"
            "     -0.50000      4.25000      4.75000\n");
}

TEST(ResultFile, PerLayerWithoutGradientAndTwoDigitLayerNumbers) {
  const TResultLayout L = MakeResultLayout(0, false, 12);
  std::string expected = "     Lambda          Fi      Point     Height         DTE1";
  for (int k = 2; k <= 9; ++k) expected += "        DTE " + std::to_string(k);
  expected += "        DTE10        DTE11          DTE\n";
  EXPECT_EQ(ResultHeader(L), expected);
  EXPECT_EQ(ResultLayerPiece(L, kPoint, 0, {.dte = 123456.789012}),
            "  12.500000   48.250000        101    350.000 123456.78901");
  EXPECT_EQ(ResultLayerPiece(L, kPoint, 5, {.dte = -0.000006}), "     -0.00001");
  EXPECT_EQ(ResultLineEnd(L, kPoint, {.dte = 7}), "      7.00000\n");
}

TEST(ResultFile, SumsOnlyWithGradientHasEightDecimals) {
  const TResultLayout L = MakeResultLayout(0.5, true, 5);
  EXPECT_EQ(ResultHeader(L),
            "     Lambda          Fi      Point     Height          DTE       DTE(i)        VGDRE\n");
  EXPECT_EQ(ResultLineEnd(L, {.lambda = -170.25, .phi = -89.999999, .pointNumber = 101.6, .height = -4.5},
                          {.dte = 1, .dteI = 2, .vgdre = -0.30864123456}),
            "-170.250000  -89.999999        102     -4.500      1.00000      2.00000  -0.30864123\n");
}

TEST(ResultFile, SumsOnlyWithoutGradient) {
  const TResultLayout L = MakeResultLayout(0, false, 2);  // one layer: sums only
  EXPECT_FALSE(L.perLayer);
  EXPECT_EQ(ResultHeader(L), "     Lambda          Fi      Point     Height          DTE\n");
  EXPECT_EQ(ResultLineEnd(L, kPoint, {.dte = -1234567.5}),
            "  12.500000   48.250000        101    350.000 -1234567.50000\n");
}

TEST(ResultFile, DecimalCommaLocaleStillWritesDecimalPoints) {
  const test::TGermanLocale german;
  ASSERT_TRUE(german.active()) << "scripts/setup.sh generates de_DE.UTF-8";
  EXPECT_EQ(test::TGermanLocale::PlainPrintf(), "1,5");
  const TResultLayout L = MakeResultLayout(0, true, 2);
  const std::string line = ResultLineEnd(L, kPoint, {.dte = 1.5});
  EXPECT_EQ(line, "  12.500000   48.250000        101    350.000      1.50000\n");
}

}  // namespace
}  // namespace globelayers

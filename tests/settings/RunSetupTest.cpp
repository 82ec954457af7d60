// The Calc command's set-up: layer row texts, the five checks in their
// order, number conversion with the user's separator, and the run record.
#include "RunSetup.h"

#include <functional>
#include <string>

#include <gtest/gtest.h>

// GCC 12 reports a false -Wrestrict overlap for short string literals
// assigned inside the case lambdas below (GCC bug 105651).
#if defined(__GNUC__) && !defined(__clang__) && __GNUC__ == 12
#pragma GCC diagnostic ignored "-Wrestrict"
#endif

namespace globelayers {
namespace {

TEST(LayerRowText, CellsJoinedEmptyAsAt) {
  struct Case {
    TLayerCells cells;
    const char* expected;
  };
  const Case cases[] = {
      {{"0", "", "2.67", ""}, "0;@;2.67;@"},
      {{"", "", "", ""}, "@;@;@;@"},
      {{" ", "", "", ""}, " ;@;@;@"},  // a blank is kept, not taken as empty
      {{"", "/g/moho.grd", "2.9", ""}, "@;/g/moho.grd;2.9;@"},
      {{"-35000", "", "", "C:\\data\\rho.grd"}, "-35000;@;@;C:\\data\\rho.grd"},
      {{"@ ", "", "2,67", ""}, "@ ;@;2,67;@"},
  };
  for (const Case& c : cases) EXPECT_EQ(LayerRowText(c.cells), c.expected);
}

TWindowState ValidState() {
  TWindowState s;
  s.dataPath = "points.dat";
  s.TXT_Append = "_a";
  s.layerRows = {{"0", "", "", ""}, {"-1000", "", "2.67", ""}};
  return s;
}

// Every case fails exactly one way; the earlier checks must win over later
// ones, so several cases break two things at once.
struct CheckCase {
  const char* name;
  std::function<void(TWindowState&)> change;
  TRunSetupFault fault;
  const char* message;
  const char* focus;
};

const CheckCase kChecks[] = {
    {"NoDataFile", [](TWindowState& s) { s.dataPath = ""; s.layerRows.clear(); },
     TRunSetupFault::Check, "Input data file is required", ""},
    {"NoRows", [](TWindowState& s) { s.layerRows.clear(); s.TXT_T4DIST = "0"; },
     TRunSetupFault::Check, "At least two elevation grid are required", ""},
    {"PhiEqual", [](TWindowState& s) {
       s.TXT_T3DIST = "10"; s.TXT_T4DIST = "10"; s.TXT_LambdaTo = "0"; s.layerRows.resize(1); },
     TRunSetupFault::Check, "Phi_to must be greater then Phi_from", "TXT_T3DIST"},
    {"LambdaReversed", [](TWindowState& s) {
       s.TXT_LambdaFrom = "360"; s.TXT_LambdaTo = "0"; s.layerRows.resize(1); },
     TRunSetupFault::Check, "Lambda_to must be greater then Lambda_from", "TXT_LambdaFrom"},
    {"OneRow", [](TWindowState& s) { s.layerRows.resize(1); s.txt_segment = "x"; },
     TRunSetupFault::Check, "Number of layers must be grater or equal 2", "sg1"},
    {"PhiToNotANumber", [](TWindowState& s) { s.TXT_T4DIST = "18O"; s.TXT_T3DIST = "x"; },
     TRunSetupFault::Conversion, "'18O' is not a valid floating point value", ""},
    {"PhiFromNotANumber", [](TWindowState& s) { s.TXT_T3DIST = ""; s.layerRows.resize(1); },
     TRunSetupFault::Conversion, "'' is not a valid floating point value", ""},
    {"LambdaNotANumber", [](TWindowState& s) { s.TXT_LambdaFrom = "1,5"; },
     TRunSetupFault::Conversion, "'1,5' is not a valid floating point value", ""},
    {"SegmentNotANumber", [](TWindowState& s) { s.txt_segment = "1 h"; s.TXT_gravc = "g"; },
     TRunSetupFault::Conversion, "'1 h' is not a valid floating point value", ""},
    {"GravcNotANumber", [](TWindowState& s) { s.TXT_gravc = "6.67e"; s.TXT_R = "r"; },
     TRunSetupFault::Conversion, "'6.67e' is not a valid floating point value", ""},
    {"RadiusNotANumber", [](TWindowState& s) { s.TXT_R = "6371 km"; },
     TRunSetupFault::Conversion, "'6371 km' is not a valid floating point value", ""},
    {"IncrementNotANumber", [](TWindowState& s) { s.txt_incr = "%s"; },
     TRunSetupFault::Conversion, "'%s' is not a valid floating point value", ""},
    {"LayerConstantNotANumber", [](TWindowState& s) { s.layerRows[1][2] = "2.6.7"; },
     TRunSetupFault::Conversion, "'2.6.7' is not a valid floating point value", ""},
    {"LayerBlankConstant", [](TWindowState& s) { s.layerRows[0][0] = " "; },
     TRunSetupFault::Conversion, "' ' is not a valid floating point value", ""},
};

class RunChecks : public testing::TestWithParam<CheckCase> {};

TEST_P(RunChecks, RefusedWithMessageAndFocus) {
  const CheckCase& c = GetParam();
  TWindowState state = ValidState();
  c.change(state);
  const TRunSetup setup = PrepareRun(state, '.');
  EXPECT_FALSE(setup.ok());
  EXPECT_EQ(setup.fault, c.fault);
  EXPECT_EQ(setup.message, c.message);
  EXPECT_EQ(setup.focusControl, c.focus);
}

INSTANTIATE_TEST_SUITE_P(Calc, RunChecks, testing::ValuesIn(kChecks),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(RunSetup, FillsTheRunRecord) {
  TWindowState s;
  s.dataPath = "/d/points.dat";
  s.TXT_Append = "_v2";
  s.txt_incr = "1,5";
  s.TXT_gravc = "0,006673";
  s.TXT_T3DIST = "1,499444";
  s.TXT_T4DIST = "180";
  s.TXT_R = "6371001";
  s.TXT_LambdaFrom = " 0 ";
  s.TXT_LambdaTo = "3,6e2";
  s.rg1 = 2;
  s.rg2 = 1;
  s.txt_segment = "900";
  s.chb_sum = true;
  s.layerRows = {{"", "topo.grd", "", ""}, {"0", "", "2,67", ""}, {"@", "moho.grd", "@", "rho.grd"}};

  const TRunSetup setup = PrepareRun(s, ',');
  ASSERT_TRUE(setup.ok()) << setup.message;
  const TRunParameters& p = setup.params;
  EXPECT_EQ(p.dataFile, "/d/points.dat");
  EXPECT_EQ(p.layerRows, (std::vector<std::string>{"@;topo.grd;@;@", "0;@;2,67;@", "@;moho.grd;@;rho.grd"}));
  EXPECT_EQ(p.rowCount, 3);
  EXPECT_EQ(p.gravityConstant, 0.006673);
  EXPECT_EQ(p.phiFrom, 1.499444);
  EXPECT_EQ(p.phiTo, 180.0);
  EXPECT_EQ(p.earthRadius, 6371001.0);
  EXPECT_EQ(p.appendText, "_v2");
  EXPECT_EQ(p.lambdaFrom, 0.0);
  EXPECT_EQ(p.lambdaTo, 360.0);
  EXPECT_EQ(p.increment, 1.5);
  EXPECT_EQ(p.priority, 2);
  EXPECT_EQ(p.outputUnit, 1);
  EXPECT_EQ(p.segmentSize, 900.0);
  EXPECT_TRUE(p.sumOnly);

  // The same texts with a decimal point are not numbers for a comma user.
  s.TXT_T3DIST = "1.499444";
  const TRunSetup refused = PrepareRun(s, ',');
  EXPECT_EQ(refused.fault, TRunSetupFault::Conversion);
  EXPECT_EQ(refused.message, "'1.499444' is not a valid floating point value");
}

}  // namespace
}  // namespace globelayers

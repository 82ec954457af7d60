// The Calc command's set-up: layer row texts, the five checks in their
// order, number conversion with the user's separator, the run record, and
// what the start values and the Default button give a run.
#include "RunSetup.h"

#include <functional>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include <gtest/gtest.h>

#include "FieldCheck.h"

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

// A grid cell is split at " | " only: every other spelling is one name as
// it stands, as before lists existed.
TEST(GridListCell, SplitsAtSpaceBarSpaceOnly) {
  struct Case {
    const char* cell;
    std::vector<std::string> names;  // empty: refused
  };
  const Case cases[] = {
      {"topo.grd", {"topo.grd"}},
      {" topo 1.grd ", {" topo 1.grd "}},
      {"a|b.grd", {"a|b.grd"}},
      {"a |b.grd", {"a |b.grd"}},
      {"C:\\data\\a b.grd", {"C:\\data\\a b.grd"}},
      {"NETCDF:\"x.nc\":z", {"NETCDF:\"x.nc\":z"}},
      {"local.tif | global.grd", {"local.tif", "global.grd"}},
      {"a.tif | b.vrt | c.grd", {"a.tif", "b.vrt", "c.grd"}},
      {"a  |  b", {"a ", " b"}},  // the blanks beside the separator belong to the names
      {"a | ", {}},
      {" | b", {}},
      {"a |  | b", {}},
      {"a | @", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.cell);
    std::vector<TGridReference> grids{{"stale"}};
    EXPECT_EQ(GridListFromCell(c.cell, grids), !c.names.empty());
    std::vector<std::string> names;
    for (const TGridReference& grid : grids) names.push_back(grid.path);
    EXPECT_EQ(names, c.names);
  }
}

TWindowState ValidState() {
  TWindowState s;
  s.pointFile = "points.dat";
  s.appendText = "_a";
  s.layerRows = {{"0", "", "", ""}, {"-1000", "", "2.67", ""}};
  return s;
}

// Every case fails exactly one way; the earlier checks must win over later
// ones, so several cases break two things at once.
struct CheckCase {
  const char* name;
  std::function<void(TWindowState&)> change;
  TRunSetupFault fault;
  TRunCheck check;      // None for a conversion error
  const char* message;  // each check's and the conversion error's words, asserted here alone
  TRunField focus;
};
void PrintTo(const CheckCase& c, std::ostream* os) { *os << c.name; }

const CheckCase kChecks[] = {
    {"NoDataFile", [](TWindowState& s) { s.pointFile = ""; s.layerRows.clear(); },
     TRunSetupFault::Check, TRunCheck::NoPointFile, "Input data file is required", TRunField::None},
    {"NoRows", [](TWindowState& s) { s.layerRows.clear(); s.outerDistanceDegText = "0"; },
     TRunSetupFault::Check, TRunCheck::NoLayerRow, "At least two elevation grid are required", TRunField::None},
    {"PhiEqual", [](TWindowState& s) {
       s.innerDistanceDegText = "10"; s.outerDistanceDegText = "10"; s.azimuthToDegText = "0"; s.layerRows.resize(1); },
     TRunSetupFault::Check, TRunCheck::DistanceOrder, "Phi_to must be greater then Phi_from", TRunField::InnerDistance},
    {"LambdaReversed", [](TWindowState& s) {
       s.azimuthFromDegText = "360"; s.azimuthToDegText = "0"; s.layerRows.resize(1); },
     TRunSetupFault::Check, TRunCheck::AzimuthOrder, "Lambda_to must be greater then Lambda_from",
     TRunField::AzimuthFrom},
    {"OneRow", [](TWindowState& s) { s.layerRows.resize(1); s.segmentSizeArcSecText = "x"; },
     TRunSetupFault::Check, TRunCheck::TooFewLayerRows, "Number of layers must be grater or equal 2",
     TRunField::LayerTable},
    {"PhiToNotANumber", [](TWindowState& s) { s.outerDistanceDegText = "18O"; s.innerDistanceDegText = "x"; },
     TRunSetupFault::Conversion, TRunCheck::None, "'18O' is not a valid floating point value", TRunField::None},
    {"PhiFromNotANumber", [](TWindowState& s) { s.innerDistanceDegText = ""; s.layerRows.resize(1); },
     TRunSetupFault::Conversion, TRunCheck::None, "'' is not a valid floating point value", TRunField::None},
    {"LambdaNotANumber", [](TWindowState& s) { s.azimuthFromDegText = "1,5"; },
     TRunSetupFault::Conversion, TRunCheck::None, "'1,5' is not a valid floating point value", TRunField::None},
    {"SegmentNotANumber", [](TWindowState& s) { s.segmentSizeArcSecText = "1 h"; s.gravityConstantText = "g"; },
     TRunSetupFault::Conversion, TRunCheck::None, "'1 h' is not a valid floating point value", TRunField::None},
    {"GravcNotANumber", [](TWindowState& s) { s.gravityConstantText = "6.67e"; s.earthRadiusMText = "r"; },
     TRunSetupFault::Conversion, TRunCheck::None, "'6.67e' is not a valid floating point value", TRunField::None},
    {"RadiusNotANumber", [](TWindowState& s) { s.earthRadiusMText = "6371 km"; },
     TRunSetupFault::Conversion, TRunCheck::None, "'6371 km' is not a valid floating point value", TRunField::None},
    {"IncrementNotANumber", [](TWindowState& s) { s.incrementMText = "%s"; },
     TRunSetupFault::Conversion, TRunCheck::None, "'%s' is not a valid floating point value", TRunField::None},
    {"LayerConstantNotANumber", [](TWindowState& s) { s.layerRows[1][2] = "2.6.7"; },
     TRunSetupFault::Conversion, TRunCheck::None, "'2.6.7' is not a valid floating point value", TRunField::None},
    {"LayerBlankConstant", [](TWindowState& s) { s.layerRows[0][0] = " "; },
     TRunSetupFault::Conversion, TRunCheck::None, "' ' is not a valid floating point value", TRunField::None},
    {"GridListWithEmptyEntry", [](TWindowState& s) { s.layerRows[1][3] = "rho.grd |  | rho2.grd"; },
     TRunSetupFault::Check, TRunCheck::GridList,
     "Grid cell 'rho.grd |  | rho2.grd' holds an empty entry in its list of grids (names joined by ' | ', finest first)",
     TRunField::LayerTable},
};

class RunChecks : public testing::TestWithParam<CheckCase> {};

TEST_P(RunChecks, RefusedWithMessageAndFocus) {
  const CheckCase& c = GetParam();
  TWindowState state = ValidState();
  c.change(state);
  const TRunSetup setup = PrepareRun(state, '.');
  EXPECT_FALSE(setup.ok());
  EXPECT_EQ(setup.fault, c.fault);
  EXPECT_EQ(setup.check, c.check);
  EXPECT_EQ(setup.message, c.message);
  EXPECT_EQ(setup.focusField, c.focus);
}

INSTANTIATE_TEST_SUITE_P(Calc, RunChecks, testing::ValuesIn(kChecks),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(RunSetup, FillsTheRunRecord) {
  TWindowState s;
  s.pointFile = "/d/points.dat";
  s.appendText = "_v2";
  s.incrementMText = "1,5";
  s.gravityConstantText = "0,006673";
  s.innerDistanceDegText = "1,499444";
  s.outerDistanceDegText = "180";
  s.earthRadiusMText = "6371001";
  s.azimuthFromDegText = " 0 ";
  s.azimuthToDegText = "3,6e2";
  s.crossingPriority = 2;
  s.outputUnit = 1;
  s.segmentSizeArcSecText = "900";
  s.sumsOnly = true;
  s.layerRows = {{"", "topo.grd", "", ""}, {"0", "", "2,67", ""}, {"@", "moho.grd", "@", "rho.grd"}};

  const TRunSetup setup = PrepareRun(s, ',');
  ASSERT_TRUE(setup.ok()) << setup.message;
  const TRunParameters& p = setup.params;
  EXPECT_EQ(p.dataFile, "/d/points.dat");
  // Converted once, here: numbers and grid names, no cell texts.
  const std::vector<TLayerRow> layers{{.elevation = {.grids = {{"topo.grd"}}}},
                                      {.elevation = {.constant = 0.0}, .density = {.constant = 2.67}},
                                      {.elevation = {.grids = {{"moho.grd"}}}, .density = {.grids = {{"rho.grd"}}}}};
  EXPECT_EQ(p.layers, layers);
  EXPECT_EQ(p.rowCount, 3);
  EXPECT_EQ(p.gravityConstant, 0.006673);
  EXPECT_EQ(p.zone, TZoneChoice(TSingleZone{.psiFromDeg = 1.499444, .psiToDeg = 180, .segmentSizeArcSec = 900}));
  EXPECT_EQ(p.earthRadius, 6371001.0);
  EXPECT_EQ(p.appendText, "_v2");
  EXPECT_EQ(p.azimuthFromDeg, 0.0);
  EXPECT_EQ(p.azimuthToDeg, 360.0);
  EXPECT_EQ(p.increment, 1.5);
  EXPECT_EQ(p.priority, TCrossingRule::BottomGrid);
  EXPECT_EQ(p.outputUnit, TOutputUnit::MicroGal);
  EXPECT_TRUE(p.sumOnly);

  // The same texts with a decimal point are not numbers for a comma user.
  s.innerDistanceDegText = "1.499444";
  const TRunSetup refused = PrepareRun(s, ',');
  EXPECT_EQ(refused.fault, TRunSetupFault::Conversion);
  EXPECT_EQ(refused.message, "'1.499444' is not a valid floating point value");
}

// Two layer rows that convert with either separator.
const std::vector<TLayerCells> kTwoRows = {{"0", "", "", ""}, {"-1000", "", "2", ""}};

// A fresh window runs, in either number format, the zone and constants of a
// run record that nobody has set; every start text passes the check on
// leaving its field; a default-constructed record is the start values with
// a decimal point.
TEST(RunSetup, GridListsReachTheRunRecordInOrder) {
  TWindowState s = ValidState();
  s.layerRows = {{"", "dem 1s.tif | global.grd", "", ""}, {"-1000", "", "", "rho.tif | rho.grd | r.nc"}};
  const TRunSetup setup = PrepareRun(s, '.');
  ASSERT_TRUE(setup.ok()) << setup.message;
  const std::vector<TLayerRow> layers{
      {.elevation = {.grids = {{"dem 1s.tif"}, {"global.grd"}}}},
      {.elevation = {.constant = -1000.0}, .density = {.grids = {{"rho.tif"}, {"rho.grd"}, {"r.nc"}}}}};
  EXPECT_EQ(setup.params.layers, layers);
}

TEST(WindowStart, StartTextsRunAsAnUnsetRunRecord) {
  EXPECT_EQ(TWindowState{}, TWindowState::StartValues('.'));
  const TRunParameters unset;
  for (const char separator : {'.', ','}) {
    SCOPED_TRACE(separator);
    TWindowState state = TWindowState::StartValues(separator);
    state.pointFile = "points.dat";
    state.layerRows = kTwoRows;
    const TRunSetup setup = PrepareRun(state, separator);
    ASSERT_TRUE(setup.ok()) << setup.message;
    const TRunParameters& p = setup.params;
    EXPECT_EQ(p.gravityConstant, unset.gravityConstant);
    EXPECT_EQ(p.zone, unset.zone);
    EXPECT_EQ(p.earthRadius, unset.earthRadius);
    EXPECT_EQ(p.azimuthFromDeg, unset.azimuthFromDeg);
    EXPECT_EQ(p.azimuthToDeg, unset.azimuthToDeg);
    EXPECT_EQ(p.increment, unset.increment);
    EXPECT_EQ(p.priority, unset.priority);
    EXPECT_EQ(p.outputUnit, unset.outputUnit);
    EXPECT_EQ(p.sumOnly, unset.sumOnly);

    const std::pair<TFieldRule, const std::string*> fields[] = {
        {TFieldRule::Number, &state.incrementMText},
        {TFieldRule::WholeNumber, &state.layerCountText},
        {TFieldRule::Number, &state.earthRadiusMText},
        {TFieldRule::DistanceDeg, &state.innerDistanceDegText},
        {TFieldRule::DistanceDeg, &state.outerDistanceDegText},
        {TFieldRule::Number, &state.gravityConstantText},
        {TFieldRule::AzimuthDeg, &state.azimuthFromDegText},
        {TFieldRule::AzimuthDeg, &state.azimuthToDegText},
    };
    for (const auto& [rule, text] : fields) {
      EXPECT_EQ(CheckForNumber(rule, *text, separator), std::nullopt) << *text;
    }
  }
}

// With a decimal point, Default gives a run over the whole globe outside an
// inner cap: the unset record's outer distance, azimuths, increment and
// constants, and a larger inner distance.
TEST(DefaultButton, GivesTheWholeGlobeBeyondAnInnerCap) {
  TWindowState state;
  state.pointFile = "points.dat";
  state.layerRows = kTwoRows;
  state.innerDistanceDegText = "100";
  state.outerDistanceDegText = "120";
  state.earthRadiusMText = "6378137";
  state.gravityConstantText = "0.00667430";
  state.azimuthFromDegText = "10";
  state.azimuthToDegText = "20";
  state.incrementMText = "5";
  state.appendText = "_x";
  ApplyDefaults(state, '.');
  EXPECT_EQ(state.appendText, "");

  const TRunSetup setup = PrepareRun(state, '.');
  ASSERT_TRUE(setup.ok()) << setup.message;
  const TRunParameters& p = setup.params;
  const TRunParameters unset;
  const TSingleZone& zone = std::get<TSingleZone>(p.zone);
  const TSingleZone& unsetZone = std::get<TSingleZone>(unset.zone);
  EXPECT_GT(zone.psiFromDeg, unsetZone.psiFromDeg);
  EXPECT_LT(zone.psiFromDeg, zone.psiToDeg);
  EXPECT_EQ(zone.psiToDeg, unsetZone.psiToDeg);
  EXPECT_EQ(p.earthRadius, unset.earthRadius);
  EXPECT_EQ(p.gravityConstant, unset.gravityConstant);
  EXPECT_EQ(p.azimuthFromDeg, unset.azimuthFromDeg);
  EXPECT_EQ(p.azimuthToDeg, unset.azimuthToDeg);
  EXPECT_EQ(p.increment, unset.increment);
  EXPECT_EQ(p.appendText, "");
}

// Default changes the zone, the constants, the append text and the
// increment only, in either number format.
TEST(DefaultButton, LeavesEverythingElseAlone) {
  for (const char separator : {'.', ','}) {
    SCOPED_TRACE(separator);
    TWindowState state;
    state.pointFile = "/d/points.dat";
    state.crossingPriority = 2;
    state.outputUnit = 1;
    state.layerCountText = "x";
    state.segmentSizeArcSecText = "900";
    state.sumsOnly = true;
    state.columnWidthsPx = {1, 2, 3, 4, 5};
    state.layerRows = {{"0", "", "", ""}, {"", "moho.grd", " ", "rho.grd"}};
    const TWindowState before = state;
    ApplyDefaults(state, separator);
    EXPECT_EQ(state.pointFile, before.pointFile);
    EXPECT_EQ(state.crossingPriority, before.crossingPriority);
    EXPECT_EQ(state.outputUnit, before.outputUnit);
    EXPECT_EQ(state.layerCountText, before.layerCountText);
    EXPECT_EQ(state.segmentSizeArcSecText, before.segmentSizeArcSecText);
    EXPECT_EQ(state.sumsOnly, before.sumsOnly);
    EXPECT_EQ(state.columnWidthsPx, before.columnWidthsPx);
    EXPECT_EQ(state.layerRows, before.layerRows);
  }
}

}  // namespace
}  // namespace globelayers

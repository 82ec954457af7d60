// The [zones] section of the settings file: what a save writes and keeps,
// the round trip, the refusals of keys a run cannot use, the run set-up and
// run log of a zoned run, and the summary the window shows of the list.
#include <ostream>
#include <string>
#include <variant>
#include <vector>

#include <gtest/gtest.h>

#include "RunLog.h"
#include "RunSetup.h"
#include "TempDir.h"
#include "WindowState.h"
#include "ZoneTable.h"

namespace globelayers {

// Readable parameters in failure output.
void PrintTo(const TZone& zone, std::ostream* os) {
  *os << zone.psiFromDeg << ";" << zone.psiToDeg << ";" << zone.segmentSizeArcSec;
}

namespace {

using testing_support::ReadFileText;
using testing_support::TempDir;
using testing_support::WriteFileText;

// A run the checks accept, with two constant layers.
TWindowState RunnableState() {
  TWindowState s;
  s.pointFile = "/d/points.dat";
  s.layerRows = {{"0", "", "2.67", ""}, {"-1000", "", "", ""}};
  return s;
}

TZoneListText ThreeZones(const std::string& file) {
  return {file, {{"zone1", "0;0.1;15"}, {"zone2", "0.1;1;60"}, {"zone3", "1;180;3600"}}};
}

// The keys of a state with no layer rows, as a first save writes them.
constexpr char kPlainKeys[] =
    "[frmMain]\n"
    "datafile=\n"
    "appendtext= \n"
    "gravc=0.006673\n"
    "t3dist=0\n"
    "t4dist=180\n"
    "R=6371001\n"
    "LonFrom=0\n"
    "LonTo=360\n"
    "incr=0\n"
    "priority=0\n"
    "number=1\n"
    "nlayer=0\n"
    "column0=20\n"
    "column1=55\n"
    "column2=260\n"
    "column3=55\n"
    "column4=260\n"
    "segsize=3600\n"
    "sum=0\n";

TEST(ZoneFile, SavedAfterTheWindowKeysAndReadBack) {
  TempDir dir;
  const std::string path = dir / "zones.ini";
  TWindowState saved;
  saved.zones = ThreeZones(path);
  ASSERT_TRUE(SaveCfgFile(saved, path));
  EXPECT_EQ(ReadFileText(path), std::string(kPlainKeys) +
                                    "[zones]\n"
                                    "zone1=0;0.1;15\n"
                                    "zone2=0.1;1;60\n"
                                    "zone3=1;180;3600\n");

  TWindowState read;
  ASSERT_TRUE(ReadCfgFile(read, path));
  EXPECT_EQ(read, saved);
}

TEST(ZoneFile, FileWithoutZonesIsSavedAsBefore) {
  TempDir dir;
  const std::string path = dir / "plain.ini";
  WriteFileText(path, kPlainKeys);
  TWindowState state;
  ASSERT_TRUE(ReadCfgFile(state, path));
  EXPECT_TRUE(state.zones.empty());
  ASSERT_TRUE(SaveCfgFile(state, path));
  EXPECT_EQ(ReadFileText(path), kPlainKeys);
}

// A shorter list leaves no zoneN behind that a later read would take up.
TEST(ZoneFile, SaveRemovesKeysTheListNoLongerHas) {
  TempDir dir;
  const std::string path = dir / "shrink.ini";
  WriteFileText(path, std::string(kPlainKeys) +
                          "[zones]\n"
                          "; fine near the station\n"
                          "ZONE1=0;0.5;30\n"
                          "zone2=0.5;1;60\n"
                          "zone3=1;180;3600\n"
                          "\n"
                          "[Other]\n"
                          "left=10\n");
  TWindowState state;
  ASSERT_TRUE(ReadCfgFile(state, path));
  state.zones.keys = {{"zone1", "0;1;30"}, {"zone2", "1;180;3600"}};
  ASSERT_TRUE(SaveCfgFile(state, path));
  EXPECT_EQ(ReadFileText(path), std::string(kPlainKeys) +
                                    "[zones]\n"
                                    "; fine near the station\n"
                                    "ZONE1=0;1;30\n"
                                    "zone2=1;180;3600\n"
                                    "\n"
                                    "[Other]\n"
                                    "left=10\n");

  state.zones.keys.clear();
  ASSERT_TRUE(SaveCfgFile(state, path));
  EXPECT_EQ(ReadFileText(path), std::string(kPlainKeys) + "[Other]\nleft=10\n");
}

// A key that does not convert is kept as text, so that the run, not the
// read, names it.
TEST(ZoneFile, KeysAreReadAsTheyStand) {
  TempDir dir;
  const std::string path = dir / "hand.ini";
  WriteFileText(path, "[zones]\nzone2 = 1;180;3600 \nzone1=0;1,5;60\npreset=regional\n");
  TWindowState state;
  ASSERT_TRUE(ReadCfgFile(state, path));
  const TZoneListText expected{
      path, {{"zone2", "1;180;3600"}, {"zone1", "0;1,5;60"}, {"preset", "regional"}}};
  EXPECT_EQ(state.zones, expected);
}

struct ZoneFaultCase {
  const char* name;
  std::vector<TZoneKeyText> keys;
  const char* message;  // with the file "run.ini"
};

void PrintTo(const ZoneFaultCase& c, std::ostream* os) { *os << c.name; }

const ZoneFaultCase kZoneFaults[] = {
    {"TwoNumbers", {{"zone1", "0;180"}},
     "Zone key zone1=0;180 in run.ini is not FROM;TO;SEGSIZE, three numbers with a decimal point "
     "(degrees; degrees; arc-seconds), optionally followed by ;mean"},
    {"FourNumbers", {{"zone1", "0;1;60;5"}},
     "Zone key zone1=0;1;60;5 in run.ini is not FROM;TO;SEGSIZE, three numbers with a decimal point "
     "(degrees; degrees; arc-seconds), optionally followed by ;mean"},
    {"DecimalComma", {{"zone1", "0;1,5;60"}},
     "Zone key zone1=0;1,5;60 in run.ini is not FROM;TO;SEGSIZE, three numbers with a decimal point "
     "(degrees; degrees; arc-seconds), optionally followed by ;mean"},
    {"EmptyField", {{"zone1", "0;;60"}},
     "Zone key zone1=0;;60 in run.ini is not FROM;TO;SEGSIZE, three numbers with a decimal point "
     "(degrees; degrees; arc-seconds), optionally followed by ;mean"},
    {"EmptyValue", {{"zone1", "0;1;60"}, {"zone2", ""}},
     "Zone key zone2= in run.ini is not FROM;TO;SEGSIZE, three numbers with a decimal point "
     "(degrees; degrees; arc-seconds), optionally followed by ;mean"},
    {"GapInTheNumbers", {{"zone1", "0;1;60"}, {"zone3", "1;180;3600"}},
     "Zone key zone2 is missing in [zones] of run.ini, which has zone3"},
    {"NoFirstZone", {{"zone2", "0;180;3600"}},
     "Zone key zone1 is missing in [zones] of run.ini, which has zone2"},
    {"ZoneZero", {{"zone0", "0;180;3600"}},
     "Unknown key zone0 in [zones] of run.ini: the section takes zone1, zone2, ... in order"},
    {"LeadingZero", {{"zone01", "0;180;3600"}},
     "Unknown key zone01 in [zones] of run.ini: the section takes zone1, zone2, ... in order"},
    {"OtherKey", {{"inner", "0"}},
     "Unknown key inner in [zones] of run.ini: the section takes zone1, zone2, ... in order"},
    {"FlagNotMean", {{"zone1", "0;1;60;means"}},
     "Zone key zone1=0;1;60;means in run.ini is not FROM;TO;SEGSIZE, three numbers with a decimal point "
     "(degrees; degrees; arc-seconds), optionally followed by ;mean"},
    {"UnknownPreset", {{"Preset", "regional"}},
     "Unknown zone preset Preset=regional in run.ini: the presets are standard, fine"},
    {"PresetBesideZones", {{"zone1", "0;180;3600"}, {"preset", "fine"}},
     "[zones] of run.ini holds preset=fine beside other keys: give either a preset or zone1, zone2, ..."},
};

class ZoneFaults : public testing::TestWithParam<ZoneFaultCase> {};

TEST_P(ZoneFaults, RefusedNamingFileAndKey) {
  const ZoneFaultCase& c = GetParam();
  const TZoneListSetup list = ConvertZoneList({"run.ini", c.keys});
  EXPECT_EQ(list.message, c.message);
  EXPECT_EQ(list.zone, TZoneChoice{});  // no band of the faulty list

  TWindowState state = RunnableState();
  state.zones = {"run.ini", c.keys};
  const TRunSetup setup = PrepareRun(state, '.');
  EXPECT_EQ(setup.fault, TRunSetupFault::Check);
  EXPECT_EQ(setup.message, c.message);
  EXPECT_EQ(setup.focusField, TRunField::None);
}

INSTANTIATE_TEST_SUITE_P(Keys, ZoneFaults, testing::ValuesIn(kZoneFaults),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ZoneList, OrderedByNumberWhateverTheFileOrder) {
  const TZoneListSetup list = ConvertZoneList(
      {"run.ini", {{"Zone2", " 0.1 ; 1 ; 60 "}, {"zone1", "0;0.1;15"}, {"zone3", "1;180;3.6e3; Mean "}}});
  ASSERT_TRUE(list.ok()) << list.message;
  const std::vector<TZone> expected{{0, 0.1, 15, false}, {0.1, 1, 60, false}, {1, 180, 3600, true}};
  EXPECT_EQ(list.zone, TZoneChoice(TZoneList{expected}));
}

// A generated file of 100,000 zones used to take gigabytes before anything
// was refused; the cap is the documented 1000.
TEST(ZoneList, AtMostAThousandZones) {
  const auto bands = [](int count) {
    TZoneListText text{"run.ini", {}};
    for (int i = 0; i < count; ++i) {
      const double step = 180.0 / count;  // degrees
      text.keys.push_back({"zone" + std::to_string(i + 1),
                           std::to_string(i * step) + ";" + std::to_string((i + 1) * step) + ";3600"});
    }
    return text;
  };
  EXPECT_TRUE(ConvertZoneList(bands(1000)).ok());
  const TZoneListSetup list = ConvertZoneList(bands(1001));
  EXPECT_EQ(list.message, "[zones] of run.ini holds 1001 keys, more than the 1000 zones a run may have");
  EXPECT_EQ(list.zone, TZoneChoice{});
}

// A preset's name reaches the engine, which forms its bands once the grids
// are loaded; the distances and segment size of the window are not used.
TEST(ZoneList, PresetNameReachesTheRun) {
  TWindowState state = RunnableState();
  state.segmentSizeArcSecText = "not a number";
  state.zones = {"run.ini", {{"PRESET", "Fine"}}};
  const TRunSetup setup = PrepareRun(state, '.');
  ASSERT_TRUE(setup.ok()) << setup.message;
  EXPECT_EQ(setup.params.zone, TZoneChoice(TZonePreset{"fine"}));
}

// A zone converted already (the batch's --zones) takes the place of the
// window's zone and of the [zones] keys, however faulty their texts.
TEST(ZoneList, ZoneGivenConvertedReplacesTheirTexts) {
  TWindowState state = RunnableState();
  state.innerDistanceDegText = "10";
  state.outerDistanceDegText = "5";
  state.segmentSizeArcSecText = "coarse";
  state.zones = {"run.ini", {{"zone1", "0;1;60"}, {"zone3", "1;180;60"}}};
  ASSERT_FALSE(PrepareRun(state, '.').ok());
  const TZoneChoice standard = TZonePreset{"standard"};
  const TRunSetup setup = PrepareRun(state, '.', standard);
  ASSERT_TRUE(setup.ok()) << setup.message;
  EXPECT_EQ(setup.params.zone, standard);
  // The checks after the zone's still refuse.
  state.azimuthToDegText = "0";
  EXPECT_EQ(PrepareRun(state, '.', standard).message, "Lambda_to must be greater then Lambda_from");
}

// The distances and the segment size of the window are not used by a zoned
// run, so texts that would refuse a plain run do not refuse it.
TEST(ZoneList, TakeThePlaceOfTheWindowZone) {
  TWindowState state = RunnableState();
  state.innerDistanceDegText = "10";
  state.outerDistanceDegText = "5";
  state.segmentSizeArcSecText = "coarse";
  EXPECT_EQ(PrepareRun(state, '.').message, "Phi_to must be greater then Phi_from");

  state.zones = ThreeZones("run.ini");
  TRunSetup setup = PrepareRun(state, '.');
  ASSERT_TRUE(setup.ok()) << setup.message;
  const TZoneChoice expected = TZoneList{{{0, 0.1, 15}, {0.1, 1, 60}, {1, 180, 3600}}};
  EXPECT_EQ(setup.params.zone, expected);

  // The file's decimal point, whatever the window's separator.
  TWindowState comma = TWindowState::StartValues(',');
  comma.pointFile = state.pointFile;
  comma.layerRows = {{"0", "", "2,67", ""}, {"-1000", "", "", ""}};
  comma.zones = state.zones;
  setup = PrepareRun(comma, ',');
  ASSERT_TRUE(setup.ok()) << setup.message;
  EXPECT_EQ(setup.params.zone, expected);
  EXPECT_TRUE(std::holds_alternative<TSingleZone>(PrepareRun(RunnableState(), '.').params.zone));
}

// What the main window shows beside the fields a list replaces: the
// extent and the segment sizes the bands use, whatever their order of
// sizes; a list a run would refuse is not summed up as if it were used.
TEST(ZoneList, SummaryBesideTheFields) {
  const struct {
    std::vector<TZoneKeyText> keys;
    char separator;
    const char* summary;
  } cases[] = {
      {{}, '.', ""},
      {{{"zone1", "0;10;60"}}, '.', "1 zone, 0-10 deg, segment 60 sec"},
      {{{"zone1", "0;0.1;15"}, {"zone2", "0.1;1;60"}, {"zone3", "1;180;3600"}}, '.',
       "3 zones, 0-180 deg, segments 15-3600 sec"},
      {{{"zone1", "0.5;1;900"}, {"zone2", "1;2.5;7.5"}, {"zone3", "2.5;90;900"}}, ',',
       "3 zones, 0,5-90 deg, segments 7,5-900 sec"},
      {{{"zone2", "1;180;3600;mean"}, {"zone1", "0;1;60"}}, '.', "2 zones, 0-180 deg, segments 60-3600 sec"},
      {{{"preset", "FINE"}}, '.', "preset fine"},
      {{{"zone1", "0;1;60"}, {"zone3", "1;180;3600"}}, '.', "zones not usable: Calc tells why"},
      {{{"preset", "coarse"}}, '.', "zones not usable: Calc tells why"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.summary);
    EXPECT_EQ(ZoneSummaryText({"run.ini", c.keys}, c.separator), c.summary);
  }
}

TEST(ZoneList, RunLogListsEveryZoneAfterTheLayers) {
  TWindowState state = RunnableState();
  const std::string completed = "Run completed.\n";
  std::string plain = RunLogText(state, {9, 5, 7}, {10, 0, 59});
  ASSERT_TRUE(plain.ends_with(completed));
  plain.resize(plain.size() - completed.size());
  state.zones = ThreeZones("run.ini");
  state.zones.keys[1].value = "0.1;1.0;60.50";  // the log writes the numbers, not the texts
  // The segment size field was not used (the distances of the fields and
  // of the zones agree here: 0 and 180).
  const std::string segmentLine = "Segment size: 3600\n";
  ASSERT_NE(plain.find(segmentLine), std::string::npos);
  plain.replace(plain.find(segmentLine), segmentLine.size(), "Segment size: zones\n");
  EXPECT_EQ(RunLogText(state, {9, 5, 7}, {10, 0, 59}),
            plain +
                "The zones below replace Phi from 0, Phi to 180 and Segment size 3600, which this run did not use.\n"
                "Zone 1: 0 - 0.1 deg, segment 15\"\n"
                "Zone 2: 0.1 - 1 deg, segment 60.5\"\n"
                "Zone 3: 1 - 180 deg, segment 3600\"\n" +
                completed);

  const TRunInterruption stop{"SIGINT", {9, 30, 0}};
  const std::string interrupted = RunLogText(state, {9, 5, 7}, {10, 0, 59}, TRunEnding::Interrupted(stop));
  EXPECT_EQ(interrupted.substr(interrupted.size() - InterruptionText(stop).size() - 1),
            InterruptionText(stop) + "\n");  // still the last line
}

}  // namespace
}  // namespace globelayers

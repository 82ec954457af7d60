// The settings file of the main window: key order and forms of a first
// save, the round trip, hand-edited files and damaged values.
#include <filesystem>
#include <functional>
#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "GermanLocale.h"
#include "TempDir.h"
#include "WindowState.h"

namespace globelayers {
namespace {

using testing_support::ReadFileText;
using testing_support::TempDir;
using testing_support::WriteFileText;

TWindowState ThreeRowState() {
  TWindowState s;
  s.pointFile = "  /data/points.dat \t";
  s.appendText = "";
  s.incrementMText = "1";
  s.crossingPriority = 2;
  s.outputUnit = 1;  // not stored
  s.layerCountText = "3";
  s.sumsOnly = true;
  s.columnWidthsPx = {20, 60, 259, 55, 259};
  s.layerRows = {
      {"@", "topo.grd", "", ""},
      {"0", "", "2.67", ""},
      {"", "/grids/moho.grd", " ", "rho.grd"},
  };
  return s;
}

TEST(CfgFile, FirstSaveWritesKeysInOrder) {
  TempDir dir;
  const std::string path = dir / "globelayers.ini";
  ASSERT_TRUE(SaveCfgFile(ThreeRowState(), path));
  EXPECT_EQ(ReadFileText(path),
            "[frmMain]\n"
            "datafile=/data/points.dat\n"
            "appendtext= \n"
            "gravc=0.006673\n"
            "t3dist=0\n"
            "t4dist=180\n"
            "R=6371001\n"
            "LonFrom=0\n"
            "LonTo=360\n"
            "incr=1\n"
            "priority=2\n"
            "number=3\n"
            "nlayer=3\n"
            "column0=20\n"
            "column1=60\n"
            "column2=259\n"
            "column3=55\n"
            "column4=259\n"
            "segsize=3600\n"
            "sum=1\n"
            "cell_row-1_col-1=@\n"
            "cell_row-1_col-2=topo.grd\n"
            "cell_row-1_col-3= \n"
            "cell_row-1_col-4= \n"
            "cell_row-2_col-1=0\n"
            "cell_row-2_col-2= \n"
            "cell_row-2_col-3=2.67\n"
            "cell_row-2_col-4= \n"
            "cell_row-3_col-1= \n"
            "cell_row-3_col-2=/grids/moho.grd\n"
            "cell_row-3_col-3= \n"
            "cell_row-3_col-4=rho.grd\n");
}

TEST(CfgFile, RoundTripGivesTheWindowBack) {
  TempDir dir;
  const std::string path = dir / "rt.ini";
  TWindowState saved = ThreeRowState();
  saved.appendText = "  _v2 ";
  ASSERT_TRUE(SaveCfgFile(saved, path));

  TWindowState read = TWindowState::StartValues('.');
  ASSERT_TRUE(ReadCfgFile(read, path));

  TWindowState expected = saved;
  expected.pointFile = "/data/points.dat";  // trimmed on writing
  expected.appendText = "_v2";
  expected.layerRows[2][2] = "";  // a blank cell comes back empty
  expected.outputUnit = 0;               // the output unit is not stored
  EXPECT_EQ(read, expected);
}

TEST(CfgFile, MissingFileKeepsStartValues) {
  TempDir dir;
  TWindowState state = TWindowState::StartValues(',');
  ASSERT_TRUE(ReadCfgFile(state, dir / "none.ini", ','));
  EXPECT_EQ(state, TWindowState::StartValues(','));
  EXPECT_EQ(state.LayerRowCount(), 0);
  EXPECT_EQ(state.layerCountText, "1");
}

TEST(CfgFile, RemovedRowsStayInTheFileUnread) {
  TempDir dir;
  const std::string path = dir / "rows.ini";
  TWindowState state = ThreeRowState();
  ASSERT_TRUE(SaveCfgFile(state, path));
  state.layerRows.pop_back();
  ASSERT_TRUE(SaveCfgFile(state, path));

  const std::string text = ReadFileText(path);
  EXPECT_NE(text.find("nlayer=2\n"), std::string::npos);
  EXPECT_NE(text.find("cell_row-3_col-4=rho.grd\n"), std::string::npos);

  TWindowState read;
  ASSERT_TRUE(ReadCfgFile(read, path));
  ASSERT_EQ(read.LayerRowCount(), 2);
  EXPECT_EQ(read.layerRows[1][2], "2.67");
}

// Hand-edited files: each case starts from the start values with the first
// priority item replaced by "Top grid" so that "kept" is visible.
struct EditCase {
  const char* name;
  const char* keys;  // lines of section frmMain
  std::function<void(TWindowState&)> expect;
};
void PrintTo(const EditCase& c, std::ostream* os) { *os << c.name; }

const EditCase kEdits[] = {
    {"EmptyValueEmptiesField", "gravc=\n", [](TWindowState& s) { s.gravityConstantText = ""; }},
    {"PriorityWordKeepsSelection", "priority=abc\n", [](TWindowState&) {}},
    {"PriorityOutOfRangeKept", "priority=3\n", [](TWindowState&) {}},
    {"PriorityNegativeKept", "priority=-1\n", [](TWindowState&) {}},
    {"PriorityTwo", "priority=2\n", [](TWindowState& s) { s.crossingPriority = 2; }},
    {"SumTwoChecks", "sum=2\n", [](TWindowState& s) { s.sumsOnly = true; }},
    {"SumWordKeeps", "sum=yes\n", [](TWindowState&) {}},
    {"HexRowCount", "nlayer=0x10\n", [](TWindowState& s) { s.layerRows.resize(16); }},
    {"LargestRowCount", "nlayer=1000\n", [](TWindowState& s) { s.layerRows.resize(1000); }},
    {"NegativeWidthKept", "column1=-5\ncolumn3=0\n", [](TWindowState& s) { s.columnWidthsPx[3] = 0; }},
    {"CellsOfReadRowsOnly",
     "nlayer=2\ncell_row-1_col-1=0\ncell_row-1_col-3= 2.67 \ncell_row-3_col-1=9\n",
     [](TWindowState& s) {
       s.layerRows = {{"0", "", "2.67", ""}, {"", "", "", ""}};
     }},
    {"TextsTrimmed", "datafile=  a b.dat  \nappendtext= \nsegsize=\t900\n",
     [](TWindowState& s) {
       s.pointFile = "a b.dat";
       s.segmentSizeArcSecText = "900";
     }},
};

class CfgFileEdits : public testing::TestWithParam<EditCase> {};

TEST_P(CfgFileEdits, ReadAsExpected) {
  const EditCase& c = GetParam();
  TempDir dir;
  const std::string path = dir / "edit.ini";
  WriteFileText(path, std::string("[frmMain]\n") + c.keys);
  TWindowState state;
  state.crossingPriority = 1;
  TWindowState expected = state;
  c.expect(expected);
  ASSERT_TRUE(ReadCfgFile(state, path));
  EXPECT_EQ(state, expected);
}

INSTANTIATE_TEST_SUITE_P(Hand, CfgFileEdits, testing::ValuesIn(kEdits),
                         [](const auto& info) { return std::string(info.param.name); });

// Values a run must refuse rather than read as something else: a key given
// twice (reads see only the first), a crossing priority no rule has, and a
// comma that may group thousands. Each names the file and the value.
struct SettingsFaultCase {
  const char* name;
  const char* text;  // the whole file
  TSettingsFault fault;
  const char* message;  // with the file "f.ini"; empty: none
};
void PrintTo(const SettingsFaultCase& c, std::ostream* os) { *os << c.name; }

const SettingsFaultCase kSettingsFaults[] = {
    {"DuplicateZoneKey", "[frmMain]\nsegsize=900\n[zones]\nzone1=0;1;60\nzone2=1;180;3600\nzone1=0;2;60\n",
     TSettingsFault::DuplicateKey,
     "Key zone1 is given twice in [zones] of f.ini: line 4 (zone1=0;1;60) and line 6 (zone1=0;2;60); "
     "remove one of them"},
    {"DuplicateInOtherCase", "[frmMain]\npriority=1\n\n; again\n  PRIORITY = 2\n", TSettingsFault::DuplicateKey,
     "Key PRIORITY is given twice in [frmMain] of f.ini: line 2 (priority=1) and line 5 (PRIORITY = 2); "
     "remove one of them"},
    // A second section of the same name is read by nobody either.
    {"DuplicateAcrossRepeatedSection", "[frmMain]\nR=6371000\n[zones]\nzone1=0;180;3600\n[FRMMAIN]\nR=1\n",
     TSettingsFault::DuplicateKey,
     "Key R is given twice in [frmMain] of f.ini: line 2 (R=6371000) and line 6 (R=1); remove one of them"},
    {"SameKeyInTwoSections", "[frmMain]\nleft=1\n[Other]\nleft=2\n", TSettingsFault::None, ""},
    {"PriorityOutOfRange", "[frmMain]\npriority=5\n", TSettingsFault::Priority,
     "priority=5 in f.ini is not a crossing rule: write 0 (change layers & sign), 1 (top grid) or 2 (bottom grid)"},
    {"PriorityNegative", "[frmMain]\npriority=-1\n", TSettingsFault::Priority, nullptr},
    {"PriorityWord", "[frmMain]\npriority=one\n", TSettingsFault::Priority, nullptr},
    {"PriorityEmpty", "[frmMain]\npriority=\n", TSettingsFault::Priority,
     "priority= in f.ini is not a crossing rule: write 0 (change layers & sign), 1 (top grid) or 2 (bottom grid)"},
    {"PriorityFraction", "[frmMain]\npriority=1.5\n", TSettingsFault::Priority, nullptr},
    {"PriorityNoFractionDigits", "[frmMain]\npriority=1.\n", TSettingsFault::Priority, nullptr},
    {"PriorityHexTooLarge", "[frmMain]\npriority=0x7fffffff\n", TSettingsFault::Priority, nullptr},
    {"RadiusThousandsComma", "[frmMain]\nR=6371,001\n", TSettingsFault::ThousandsComma,
     "R=6371,001 in f.ini: the comma may separate thousands; write the number with a decimal point"},
    {"SegmentThousandsComma", "[frmMain]\nsegsize=3,600\n", TSettingsFault::ThousandsComma,
     "segsize=3,600 in f.ini: the comma may separate thousands; write the number with a decimal point"},
    {"NegativeSegmentThousandsComma", "[frmMain]\nsegsize=-3,600\n", TSettingsFault::ThousandsComma, nullptr},
    // A decimal comma that cannot be a thousands separator is an older
    // decimal-comma window's number.
    {"RadiusDecimalComma", "[frmMain]\nR=6371000,5\n", TSettingsFault::None, ""},
    {"SegmentFourDigitsAfterComma", "[frmMain]\nsegsize=3,6000\n", TSettingsFault::None, ""},
    {"SegmentLeadingZero", "[frmMain]\nsegsize=0,500\n", TSettingsFault::None, ""},
    {"SegmentPoint", "[frmMain]\nsegsize=3.600\n", TSettingsFault::None, ""},
    // Only R and segsize hold values that users group by thousands.
    {"GravityConstantComma", "[frmMain]\ngravc=0,006673\nincr=1,000\n", TSettingsFault::None, ""},
};

class SettingsFaults : public testing::TestWithParam<SettingsFaultCase> {};

TEST_P(SettingsFaults, RefusedNamingFileAndValue) {
  const SettingsFaultCase& c = GetParam();
  TempDir dir;
  WriteFileText(dir / "f.ini", c.text);
  const std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  TWindowState state;
  const TSettingsRead read = ReadSettingsFile(state, "f.ini");
  std::filesystem::current_path(previous);
  EXPECT_EQ(read.fault, c.fault);
  if (c.message != nullptr) {
    EXPECT_EQ(read.message, c.message);
  }
  if (c.fault != TSettingsFault::None) {
    EXPECT_NE(read.message.find("f.ini"), std::string::npos);
  }
}

INSTANTIATE_TEST_SUITE_P(Values, SettingsFaults, testing::ValuesIn(kSettingsFaults),
                         [](const auto& info) { return std::string(info.param.name); });

// The window keeps its rules: a key twice is a file it cannot read (nothing
// is taken from it); a priority it cannot select keeps the selection.
TEST(CfgFile, WindowReadOfFaultyFiles) {
  TempDir dir;
  const std::string twice = dir / "twice.ini";
  WriteFileText(twice, "[frmMain]\ndatafile=a.dat\nsegsize=900\nSegSize=60\n");
  TWindowState state;
  EXPECT_FALSE(ReadCfgFile(state, twice));
  EXPECT_EQ(state, TWindowState{});

  // Saving drops the second key, so that the window's next start reads
  // the file instead of refusing it again.
  ASSERT_TRUE(SaveCfgFile(state, twice));
  const std::string saved = ReadFileText(twice);
  EXPECT_NE(saved.find("segsize=3600\n"), std::string::npos) << saved;
  EXPECT_EQ(saved.find("SegSize"), std::string::npos) << saved;
  TWindowState again;
  EXPECT_TRUE(ReadCfgFile(again, twice));

  const std::string priority = dir / "priority.ini";
  WriteFileText(priority, "[frmMain]\ndatafile=a.dat\npriority=7\n");
  state.crossingPriority = 1;
  EXPECT_TRUE(ReadCfgFile(state, priority));
  EXPECT_EQ(state.crossingPriority, 1);
  EXPECT_EQ(state.pointFile, "a.dat");
}

TEST(CfgFile, PriorityWithAZeroFraction) {
  for (const auto& [text, value] : {std::pair{"0", 0}, std::pair{"2", 2}, std::pair{"0x1", 1},
                                    std::pair{"1.0", 1}, std::pair{"1,0", 1}, std::pair{"2.000", 2},
                                    std::pair{"0,00", 0}}) {
    SCOPED_TRACE(text);
    TempDir dir;
    WriteFileText(dir / "p.ini", std::string("[frmMain]\npriority=") + text + "\n");
    TWindowState state;
    state.crossingPriority = value == 1 ? 2 : 1;  // so that the value read shows
    const TSettingsRead read = ReadSettingsFile(state, dir / "p.ini");
    EXPECT_TRUE(read.ok()) << read.message;
    EXPECT_EQ(state.crossingPriority, value);
  }
}

// A layer row count the table cannot take is reported (the rows would
// otherwise vanish without a word); the table keeps its rows and the other
// keys are still read.
TEST(CfgFile, RowCountOutOfRangeIsReported) {
  for (const char* rows : {"-1", "1001", "99999999999", "0x7fffffff", "two"}) {
    SCOPED_TRACE(rows);
    TempDir dir;
    const std::string path = dir / "rows.ini";
    WriteFileText(path, std::string("[frmMain]\nnlayer=") + rows +
                            "\ncell_row-1_col-1=5\nsegsize=900\n");
    TWindowState state;
    state.layerRows = {{"1", "", "", ""}};
    EXPECT_FALSE(ReadCfgFile(state, path));
    EXPECT_EQ(state.layerRows, (std::vector<TLayerCells>{{"5", "", "", ""}}));
    EXPECT_EQ(state.segmentSizeArcSecText, "900");
  }
}

// Saved by an editor that starts UTF-8 with a byte-order mark: the run
// used to find no point file and no layers.
TEST(CfgFile, ByteOrderMarkOfAnEditorIsPassedOver) {
  TempDir dir;
  const std::string path = dir / "bom.ini";
  WriteFileText(path,
                "\xEF\xBB\xBF[frmMain]\r\n"
                "datafile=stations.dat\r\n"
                "nlayer=1\r\n"
                "cell_row-1_col-1=0\r\n");
  TWindowState state;
  ASSERT_TRUE(ReadCfgFile(state, path));
  EXPECT_EQ(state.pointFile, "stations.dat");
  EXPECT_EQ(state.layerRows, (std::vector<TLayerCells>{{"0", "", "", ""}}));
}

TEST(CfgFile, SaveKeepsOtherSectionsAndComments) {
  TempDir dir;
  const std::string path = dir / "mixed.ini";
  WriteFileText(path,
                "; kept\n"
                "[Window]\n"
                "left=10\n"
                "\n"
                "[frmMain]\n"
                "; who wrote this\n"
                "gravc=1\n"
                "extra=stays\n");
  TWindowState state;
  state.layerRows = {{"0", "", "", ""}};
  ASSERT_TRUE(SaveCfgFile(state, path));
  const std::string text = ReadFileText(path);
  EXPECT_EQ(text.rfind("; kept\n[Window]\nleft=10\n\n[frmMain]\n; who wrote this\ngravc=0.006673\n"
                       "extra=stays\ndatafile=\nappendtext= \nt3dist=0\n",
                       0),
            0u)
      << text;
  EXPECT_NE(text.find("cell_row-1_col-4= \n"), std::string::npos);
}

TEST(CfgFile, FailuresAreReported) {
  TempDir dir;
  const std::string folder = dir / "a-folder.ini";
  std::filesystem::create_directory(folder);
  TWindowState state = ThreeRowState();
  const TWindowState before = state;
  EXPECT_FALSE(ReadCfgFile(state, folder));
  EXPECT_EQ(state, before);
  EXPECT_FALSE(SaveCfgFile(state, folder));
  EXPECT_FALSE(SaveCfgFile(state, dir / "missing/folder.ini"));
}

// Number texts between the window's format and the file's: only the
// separator changes; what is not a number stays as it stands.
struct NumberTextCase {
  const char* name;
  const char* text;
  char userSeparator;
  const char* inFile;   // FileNumberText(text, userSeparator)
  const char* shown;    // UserNumberText(text, userSeparator)
};
const NumberTextCase kNumberTexts[] = {
    {"PointTextUnderPoint", "0.006673", '.', "0.006673", "0.006673"},
    {"TrailingZeroKept", "1.0", '.', "1.0", "1.0"},
    {"CommaTextUnderComma", "0,006673", ',', "0.006673", "0,006673"},
    {"PointFileUnderComma", "12.5", ',', "12.5", "12,5"},
    {"OldCommaFileUnderPoint", "-12,5e3", '.', "-12,5e3", "-12.5e3"},
    {"WholeNumber", "6371001", ',', "6371001", "6371001"},
    {"BlanksKept", " 2,67 ", ',', " 2.67 ", " 2,67 "},
    {"TwoCommasStay", "1,2,3", ',', "1,2,3", "1,2,3"},
    {"PointAndCommaStay", "1.5,5", '.', "1.5,5", "1.5,5"},
    {"WordStays", "abc", ',', "abc", "abc"},
    {"EmptyStays", "", ',', "", ""},
    {"EmptyCellMarkStays", "@", ',', "@", "@"},
};
class NumberTexts : public testing::TestWithParam<NumberTextCase> {};
TEST_P(NumberTexts, OnlyTheSeparatorChanges) {
  const NumberTextCase& c = GetParam();
  EXPECT_EQ(FileNumberText(c.text, c.userSeparator), c.inFile);
  EXPECT_EQ(UserNumberText(c.text, c.userSeparator), c.shown);
}
INSTANTIATE_TEST_SUITE_P(Separators, NumberTexts, testing::ValuesIn(kNumberTexts),
                         [](const auto& info) { return std::string(info.param.name); });

// The window's texts typed with `separator`: every number field and the
// constant cells, with grid names that hold a comma and a point.
TWindowState TypedState(char separator) {
  const auto typed = [separator](std::string text) {
    for (char& c : text) {
      if (c == '.') c = separator;
    }
    return text;
  };
  TWindowState s = TWindowState::StartValues(separator);
  s.pointFile = "/data/a,b.dat";
  s.incrementMText = typed("1.0");
  s.innerDistanceDegText = typed("0.5");
  s.segmentSizeArcSecText = typed("1800.5");
  s.layerCountText = "2";
  s.layerRows = {{typed("12.5"), "", "", ""}, {"", "/g/moho,v2.grd", typed("2.67"), "/g/rho.grd"}};
  return s;
}

// A settings file written by a window under either separator is read by a
// window under either separator (and by the batch, whose separator is the
// point): the file always holds the decimal point, the reader shows its own.
struct SeparatorCase {
  const char* name;
  char writer, reader;
};
const SeparatorCase kSeparatorPairs[] = {
    {"PointToPoint", '.', '.'},
    {"PointToComma", '.', ','},
    {"CommaToPoint", ',', '.'},
    {"CommaToComma", ',', ','},
};
class SettingsAcrossLocales : public testing::TestWithParam<SeparatorCase> {};
TEST_P(SettingsAcrossLocales, FileHoldsPointsReaderShowsItsOwn) {
  const SeparatorCase& c = GetParam();
  TempDir dir;
  const std::string path = dir / "shared.ini";
  ASSERT_TRUE(SaveCfgFile(TypedState(c.writer), path, c.writer));
  const std::string text = ReadFileText(path);
  for (const char* line : {"gravc=0.006673\n", "incr=1.0\n", "t3dist=0.5\n", "segsize=1800.5\n",
                           "cell_row-1_col-1=12.5\n", "cell_row-2_col-2=/g/moho,v2.grd\n",
                           "cell_row-2_col-3=2.67\n", "datafile=/data/a,b.dat\n"}) {
    EXPECT_NE(text.find(line), std::string::npos) << line << " in\n" << text;
  }

  TWindowState read = TWindowState::StartValues(c.reader);
  ASSERT_TRUE(ReadCfgFile(read, path, c.reader));
  TWindowState expected = TypedState(c.reader);
  EXPECT_EQ(read, expected);
}
INSTANTIATE_TEST_SUITE_P(Locales, SettingsAcrossLocales, testing::ValuesIn(kSeparatorPairs),
                         [](const auto& info) { return std::string(info.param.name); });

// The process locale (which the desktop toolkit sets to the user's) plays
// no part: under a decimal-comma C locale the file still holds points.
TEST(CfgFile, ProcessLocaleDoesNotReachTheFile) {
  test::TGermanLocale german;
  if (!german.active()) GTEST_SKIP() << "locale de_DE.UTF-8 is not installed (scripts/setup.sh generates it)";
  ASSERT_EQ(test::TGermanLocale::PlainPrintf(), "1,5");
  TempDir dir;
  const std::string path = dir / "german.ini";
  ASSERT_TRUE(SaveCfgFile(TypedState(','), path, ','));
  EXPECT_NE(ReadFileText(path).find("\ncell_row-1_col-1=12.5\n"), std::string::npos);
  TWindowState read = TWindowState::StartValues('.');
  ASSERT_TRUE(ReadCfgFile(read, path, '.'));
  EXPECT_EQ(read, TypedState('.'));
}

// Files of earlier decimal-comma windows hold commas: both readers take them.
TEST(CfgFile, OlderCommaFileIsRead) {
  TempDir dir;
  const std::string path = dir / "old.ini";
  WriteFileText(path,
                "[frmMain]\ngravc=0,006673\nincr=1,0\nR=6371001\nnlayer=1\n"
                "cell_row-1_col-1=12,5\ncell_row-1_col-2=a,b.grd\nLonTo=3,6,0\n");
  for (const char separator : {'.', ','}) {
    SCOPED_TRACE(separator);
    TWindowState state = TWindowState::StartValues(separator);
    ASSERT_TRUE(ReadCfgFile(state, path, separator));
    const std::string sep(1, separator);
    EXPECT_EQ(state.gravityConstantText, "0" + sep + "006673");
    EXPECT_EQ(state.incrementMText, "1" + sep + "0");
    EXPECT_EQ(state.earthRadiusMText, "6371001");
    EXPECT_EQ(state.layerRows, (std::vector<TLayerCells>{{"12" + sep + "5", "a,b.grd", "", ""}}));
    EXPECT_EQ(state.azimuthToDegText, "3,6,0");  // no number: refused by the run, as it stands
  }
}

TEST(SettingsFile, NamedAfterTheApplication) {
  EXPECT_EQ(SettingsFileName("/opt/gl/bin/globelayers"), "/opt/gl/bin/globelayers.ini");
  EXPECT_EQ(SettingsFileName("/opt/gl.d/app.exe"), "/opt/gl.d/app.ini");
  EXPECT_EQ(SettingsFileName("/opt/gl.d/app"), "/opt/gl.d/app.ini");
}

}  // namespace
}  // namespace globelayers

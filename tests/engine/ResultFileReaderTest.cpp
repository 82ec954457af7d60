// Result files read back: every layout and unit the writer produces, the
// example run's stored file, and files that are not result files.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <sstream>

#include <unistd.h>

#include "GermanLocale.h"
#include "NumberText.h"
#include "ResultCsv.h"
#include "ResultFileReader.h"

namespace globelayers {
namespace {

namespace fs = std::filesystem;

class TTempFolder {
 public:
  TTempFolder() {
    path_ = fs::temp_directory_path() /
            ("resultreader_" + std::to_string(::getpid()) + "_" + std::to_string(counter_++));
    fs::create_directories(path_);
  }
  ~TTempFolder() { fs::remove_all(path_); }
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  static inline int counter_ = 0;
  fs::path path_;
};

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

const TCalcPoint kPoints[] = {
    {.lambda = 12.5, .phi = 48.25, .pointNumber = 101, .height = 350},
    {.lambda = -170.123456, .phi = -89.5, .pointNumber = 102, .height = -4.5},
};

// A result file as a run writes it: per layer the group (k+1) * [1, -2, 0.25]
// times the point's number over 100, the unit factor applied as a run does.
std::string WrittenFile(const TResultLayout& L, double unitFactor) {
  std::string text = ResultHeader(L);
  for (const TCalcPoint& p : kPoints) {
    const double s = p.pointNumber / 100;
    TResultGroup sum;
    for (int k = 0; k < L.rowCount - 1; ++k) {
      const TResultGroup g{.dte = (k + 1) * s * unitFactor, .dteI = -2 * (k + 1) * s * unitFactor,
                           .vgdre = 0.25 * (k + 1) * s};
      sum.dte += g.dte, sum.dteI += g.dteI, sum.vgdre += g.vgdre;
      if (L.perLayer) text += ResultLayerPiece(L, p, k, g);
    }
    text += ResultLineEnd(L, p, sum);
  }
  return text;
}

struct LayoutCase {
  const char* name;
  double increment;
  bool sumOnly;
  int rowCount;
  bool microGal;
  std::vector<std::string> names;  // after the point's four columns
};

const LayoutCase kLayouts[] = {
    {"SumsOnly", 0, true, 5, false, {"DTE"}},
    {"SumsOnlyGradientMicroGal", 1, true, 2, true, {"DTE", "DTE(i)", "VGDRE"}},
    {"PerLayer", 0, false, 3, false, {"DTE1", "DTE 2", "DTE"}},
    {"PerLayerGradient", 0.5, false, 3, false,
     {"DTE1", "DTE(i)1", "VGDRE1", "DTE 2", "DTE(i) 2", "VGDRE 2", "DTE", "DTE(i)", "VGDRE"}},
    {"PerLayerGradientMicroGal", 1, false, 3, true,
     {"DTE1", "DTE(i)1", "VGDRE1", "DTE 2", "DTE(i) 2", "VGDRE 2", "DTE", "DTE(i)", "VGDRE"}},
    {"TwelveRowsMicroGal", 0, false, 12, true,
     {"DTE1", "DTE 2", "DTE 3", "DTE 4", "DTE 5", "DTE 6", "DTE 7", "DTE 8", "DTE 9", "DTE10",
      "DTE11", "DTE"}},
};

class ResultLayouts : public testing::TestWithParam<LayoutCase> {};

TEST_P(ResultLayouts, ReadsBackEveryNumberAndNamesTheColumns) {
  const LayoutCase& c = GetParam();
  const TResultLayout L = MakeResultLayout(c.increment, c.sumOnly, c.rowCount);
  TTempFolder folder;
  const std::string path = folder.File("r_dce.dat");
  const std::string text = WrittenFile(L, c.microGal ? 1000 : 1);
  WriteText(path, text);

  const TResultRead read = ReadResultFile(path, c.microGal);
  ASSERT_TRUE(read.table) << read.message;
  const TResultTable& t = *read.table;
  EXPECT_EQ(t.layout.gradient, L.gradient);
  EXPECT_EQ(t.layout.perLayer, L.perLayer);
  ASSERT_EQ(t.columns.size(), 4 + c.names.size());
  EXPECT_EQ(t.columns[0].name, "Lambda");
  EXPECT_EQ(t.columns[3].unit, "m");
  for (std::size_t k = 0; k < c.names.size(); ++k) {
    const TResultColumn& col = t.columns[4 + k];
    EXPECT_EQ(col.name, c.names[k]);
    const bool gradient = col.name.rfind("VGDRE", 0) == 0;
    EXPECT_EQ(col.unit, gradient ? "mGal/m" : c.microGal ? "microGal" : "mGal") << col.name;
  }
  EXPECT_EQ(t.columns[t.SummedDteColumn()].name, "DTE");
  ASSERT_EQ(t.RowCount(), 2u);
  EXPECT_EQ(t.At(1, 0), -170.123456);
  EXPECT_EQ(t.At(1, 2), 102);
  EXPECT_EQ(t.At(1, 3), -4.5);

  // Every line comes back as the file holds it, number by number.
  std::string rebuilt = ResultHeader(L);
  for (std::size_t r = 0; r < t.RowCount(); ++r) {
    for (std::size_t col = 0; col < t.columns.size(); ++col)
      rebuilt += (col == 0 ? "" : " ") + t.ValueText(r, col);
    rebuilt += "\n";
  }
  std::string squeezed;  // the file with its runs of blanks as one
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (squeezed.empty()) {
      squeezed = line + "\n";
      continue;
    }
    std::istringstream words(line);
    std::string word, joined;
    while (words >> word) joined += (joined.empty() ? "" : " ") + word;
    squeezed += joined + "\n";
  }
  EXPECT_EQ(rebuilt, squeezed);
}

// The run's shape, as its run log tells it, gives the same table and the
// layer row count that a header of sums only does not hold.
TEST_P(ResultLayouts, TheRunsShapeGivesTheLayoutAndItsRowCount) {
  const LayoutCase& c = GetParam();
  const TResultLayout L = MakeResultLayout(c.increment, c.sumOnly, c.rowCount);
  TTempFolder folder;
  const std::string path = folder.File("r_dce.dat");
  WriteText(path, WrittenFile(L, c.microGal ? 1000 : 1));
  const TResultRead guessed = ReadResultFile(path, c.microGal);
  const TResultRead read = ReadResultFile(path, c.microGal, {.gradient = c.increment != 0, .rowCount = c.rowCount});
  ASSERT_TRUE(read.table) << read.message;
  ASSERT_TRUE(guessed.table) << guessed.message;
  EXPECT_EQ(read.fault, TResultFault::None);
  EXPECT_EQ(read.table->layout.gradient, L.gradient);
  EXPECT_EQ(read.table->layout.perLayer, L.perLayer);
  EXPECT_EQ(read.table->layout.rowCount, c.rowCount);
  EXPECT_EQ(read.table->values, guessed.table->values);
  ASSERT_EQ(read.table->columns.size(), guessed.table->columns.size());
  for (std::size_t k = 0; k < read.table->columns.size(); ++k) {
    EXPECT_EQ(read.table->columns[k].name, guessed.table->columns[k].name);
    EXPECT_EQ(read.table->columns[k].decimals, guessed.table->columns[k].decimals);
  }

  // A log of another run: the other increment, or another row count where
  // the file holds its layers.
  EXPECT_EQ(ReadResultFile(path, c.microGal, {.gradient = c.increment == 0, .rowCount = c.rowCount}).fault,
            TResultFault::HeaderNotOfRun);
  const TResultRead otherRows = ReadResultFile(path, c.microGal, {.gradient = c.increment != 0, .rowCount = c.rowCount + 1});
  EXPECT_EQ(otherRows.fault, L.perLayer ? TResultFault::HeaderNotOfRun : TResultFault::None);
}

INSTANTIATE_TEST_SUITE_P(Written, ResultLayouts, testing::ValuesIn(kLayouts),
                         [](const auto& i) { return std::string(i.param.name); });

// Without a run log the header alone tells the layout: no two layouts
// that a run can write share a header, so the guess is never a choice, and
// each header reads back as its layout.
TEST(ResultFileReader, EveryHeaderTellsItsLayout) {
  std::set<std::string> headers;
  int layouts = 0;
  // Up to 99 rows the header keeps its column widths ("DTE%2d").
  for (int rows = 3; rows <= 99; ++rows) {
    for (const double increment : {0.0, 1.0}) {
      headers.insert(ResultHeader(MakeResultLayout(increment, false, rows)));
      ++layouts;
    }
  }
  headers.insert(ResultHeader(MakeResultLayout(0, true, 2)));
  headers.insert(ResultHeader(MakeResultLayout(1, true, 2)));
  EXPECT_EQ(headers.size(), static_cast<std::size_t>(layouts + 2));

  TTempFolder folder;
  const std::string path = folder.File("h_dce.dat");
  for (int rows = 2; rows <= 16; ++rows) {
    for (const double increment : {0.0, 1.0}) {
      for (const bool sumOnly : {false, true}) {
        const TResultLayout L = MakeResultLayout(increment, sumOnly, rows);
        WriteText(path, ResultHeader(L));
        const TResultRead read = ReadResultFile(path, false);
        ASSERT_TRUE(read.table) << rows << " " << increment << " " << sumOnly << ": " << read.message;
        EXPECT_EQ(read.table->layout.gradient, L.gradient);
        EXPECT_EQ(read.table->layout.perLayer, L.perLayer);
        if (L.perLayer) {
          EXPECT_EQ(read.table->layout.rowCount, rows);
        }
      }
    }
  }
}

TEST(ResultFileReader, ReadsTheExampleRunsStoredFile) {
  const std::string path = GLOBELAYERS_EXAMPLES_DIR "/expected/stations_example_dce.dat";
  const TResultRead read = ReadResultFile(path, false);
  ASSERT_TRUE(read.table) << read.message;
  const TResultTable& t = *read.table;
  EXPECT_EQ(t.columns.size(), 13u);
  EXPECT_GT(t.RowCount(), 10u);
  // -150.000000   40.000000   101   698.000   -10.46910 ... 7663.14359 7663.14089 -0.00270
  EXPECT_EQ(t.At(0, 0), -150);
  EXPECT_EQ(t.At(0, 4), -10.46910);
  EXPECT_EQ(t.At(0, t.SummedDteColumn()), 7663.14359);
  EXPECT_EQ(t.At(0, 12), -0.00270);
}

// Every message of the reader, each naming the file and the line.
TEST(ResultFileReader, NamesTheFileAndLineOfWhatItCannotRead) {
  const std::string header = ResultHeader(MakeResultLayout(0, true, 2));
  const std::string perLayer = ResultHeader(MakeResultLayout(0, false, 3));
  struct Case {
    const char* name;
    std::string text;
    TResultFault fault;
    std::string expected;  // after "Error by reading result file <path>, "
    std::optional<TResultShape> shape = std::nullopt;
  };
  const Case cases[] = {
      {"empty", "", TResultFault::Empty, "line 1: the file is empty, without the header line"},
      {"run log", "Start time: 10:00:00\n", TResultFault::UnknownHeader,
       "line 1: the header is not one of a result file of this program"},
      {"header cut short", header.substr(0, 50) + "\n", TResultFault::UnknownHeader,
       "line 1: the header is not one of a result file of this program"},
      {"header too long", std::string(70000, ' ') + "\n", TResultFault::LineTooLong,
       "line 1: the line is too long for a result file"},
      {"point line too long", header + std::string(70000, '1') + "\n", TResultFault::LineTooLong,
       "line 2: the line is too long for a result file"},
      {"too few numbers", header + "  1.000000 2.000000 3 4.000 5.00000\n 1 2 3 4\n", TResultFault::ColumnCount,
       "line 3: 4 numbers where the header has 5 columns"},
      {"too many numbers", header + " 1 2 3 4 5 6\n", TResultFault::ColumnCount,
       "line 2: 6 numbers where the header has 5 columns"},
      {"decimal comma", header + " 1,5 2 3 4 5\n", TResultFault::NotANumber, "line 2: '1,5' is not a number"},
      {"not finite", header + " 1 2 3 4 nan\n", TResultFault::NotANumber, "line 2: 'nan' is not a number"},
      {"out of range", header + " 1 2 3 4 1e999\n", TResultFault::NotANumber, "line 2: '1e999' is not a number"},
      // A run stopped while its file was written: the last line ends
      // inside a number that still reads as one.
      {"last line cut inside a number", header + "   1.000000    2.000000          3      4.000     -0.00",
       TResultFault::LastLineCut, "line 2: the last line is cut short: '-0.00' has 2 decimals where the column has 5"},
      {"last line cut inside the height", header + "   1.000000    2.000000          3      4.0",
       TResultFault::LastLineCut, "line 2: the last line is cut short: '4.0' has 1 decimals where the column has 3"},
      // The run log beside the file tells of another run.
      {"layers of another run", perLayer, TResultFault::HeaderNotOfRun,
       "line 1: the header is not that of the run its run log tells of (4 layer rows, without DTE(i) and VGDRE)",
       TResultShape{.gradient = false, .rowCount = 4}},
      {"sums of another run", header, TResultFault::HeaderNotOfRun,
       "line 1: the header is not that of the run its run log tells of (3 layer rows, with DTE(i) and VGDRE)",
       TResultShape{.gradient = true, .rowCount = 3}},
  };
  TTempFolder folder;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = folder.File("bad%s_dce.dat");  // a '%' in the name stays as it is
    WriteText(path, c.text);
    const TResultRead read = c.shape ? ReadResultFile(path, false, *c.shape) : ReadResultFile(path, false);
    EXPECT_FALSE(read.table);
    EXPECT_EQ(read.fault, c.fault);
    EXPECT_EQ(read.message, "Error by reading result file " + path + ", " + c.expected);
  }
  const TResultRead missing = ReadResultFile(folder.File("missing_dce.dat"), false);
  EXPECT_EQ(missing.fault, TResultFault::Unopenable);
  EXPECT_EQ(missing.message, "Error by opening file " + folder.File("missing_dce.dat"));
  const TResultRead folderRead = ReadResultFile(folder.File(""), false);
  EXPECT_EQ(folderRead.fault, TResultFault::NotRegular);
  EXPECT_EQ(folderRead.message, "Error by opening file " + folder.File("") + " (not a regular file)");

  const std::string path = folder.File("r_dce.dat");
  WriteText(path, header + " 1 2 3 4 5\n 1 2 3 4 5\n");
  const TResultRead tooMany = ReadResultFile(path, false, 9);
  EXPECT_EQ(tooMany.fault, TResultFault::TooManyPoints);
  EXPECT_EQ(tooMany.message,
            "Error by reading result file " + path + ", line 3: more than 1 points are too many to show");
}

TEST(ResultFileReader, RefusesMorePointsThanItMayHold) {
  const TResultLayout L = MakeResultLayout(0, true, 2);
  TTempFolder folder;
  const std::string path = folder.File("r_dce.dat");
  WriteText(path, WrittenFile(L, 1));  // two points of five numbers
  EXPECT_TRUE(ReadResultFile(path, false, 10).table);
  const TResultRead read = ReadResultFile(path, false, 9);
  EXPECT_FALSE(read.table);
  EXPECT_EQ(read.fault, TResultFault::TooManyPoints);
}

TEST(ResultFileReader, TakesCrLfLinesAndBlankLinesAndAnEmptyTable) {
  const std::string header = ResultHeader(MakeResultLayout(0, true, 2));
  std::string crlf = header;
  crlf.insert(crlf.size() - 1, "\r");
  TTempFolder folder;
  const std::string path = folder.File("r_dce.dat");
  WriteText(path, crlf + "   1.000000    2.000000          3      4.000      5.00000\r\n\r\n");
  TResultRead read = ReadResultFile(path, false);
  ASSERT_TRUE(read.table) << read.message;
  EXPECT_EQ(read.table->RowCount(), 1u);
  WriteText(path, header);
  read = ReadResultFile(path, false);
  ASSERT_TRUE(read.table) << read.message;
  EXPECT_EQ(read.table->RowCount(), 0u);
  // A whole last line that lost only its line end is a row.
  WriteText(path, header + "   1.000000    2.000000          3      4.000      5.00000");
  read = ReadResultFile(path, false);
  ASSERT_TRUE(read.table) << read.message;
  EXPECT_EQ(read.table->RowCount(), 1u);
}

TEST(ResultFileReader, CsvKeepsEveryNumberUnderADecimalCommaLocale) {
  const TResultLayout L = MakeResultLayout(1, true, 4);
  TTempFolder folder;
  const std::string path = folder.File("r_dce.dat");
  WriteText(path, WrittenFile(L, 1000));
  const TResultRead read = ReadResultFile(path, true);
  ASSERT_TRUE(read.table) << read.message;
  test::TGermanLocale german;
  std::string message;
  ASSERT_TRUE(WriteResultCsv(*read.table, folder.File("t.csv"), message)) << message;
  const std::string csv = ReadText(folder.File("t.csv"));
  EXPECT_EQ(csv,
            "Lambda [deg],Fi [deg],Point,Height [m],DTE [microGal],DTE(i) [microGal],VGDRE [mGal/m]\n"
            "12.500000,48.250000,101,350.000,6060.00000,-12120.00000,1.51500000\n"
            "-170.123456,-89.500000,102,-4.500,6120.00000,-12240.00000,1.53000000\n");
  // Read back, every number equals the one read from the result file.
  std::istringstream lines(csv);
  std::string line;
  std::getline(lines, line);
  for (std::size_t r = 0; std::getline(lines, line); ++r) {
    std::istringstream cells(line);
    std::string cell;
    for (std::size_t c = 0; std::getline(cells, cell, ','); ++c) {
      double v = 0;
      ASSERT_TRUE(TextToFloat(cell, '.', v)) << cell;
      EXPECT_EQ(v, read.table->At(r, c)) << r << " " << c;
    }
  }
  EXPECT_FALSE(WriteResultCsv(*read.table, folder.File("no/such/folder/t.csv"), message));
  EXPECT_EQ(message, "Error by opening file " + folder.File("no/such/folder/t.csv"));
}

}  // namespace
}  // namespace globelayers

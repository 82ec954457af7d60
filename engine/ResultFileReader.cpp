#include "ResultFileReader.h"

#include <cmath>
#include <cstdio>

#include "FilePtr.h"
#include "InputFile.h"
#include "NumberText.h"

namespace globelayers {
namespace {

// The header's first four columns (11, 12, 11 and 11 characters), then 13
// characters per value column.
constexpr std::size_t kPointColumnsChars = 45;
constexpr std::size_t kValueColumnChars = 13;
// No header or point line this program writes comes near this: 15 layer
// rows give 630 characters.
constexpr std::size_t kMaxLineChars = 64 * 1024;
// Layer rows a header may announce; the window allows 15.
constexpr int kMaxHeaderRows = 1000;

std::string Trim(const std::string& s) {
  const std::size_t first = s.find_first_not_of(' ');
  if (first == std::string::npos) return "";
  return s.substr(first, s.find_last_not_of(' ') - first + 1);
}

// Digits after the decimal point of a number's text; 0 without one.
int DecimalsOf(const std::string& token) {
  const std::size_t point = token.find('.');
  return point == std::string::npos ? 0 : static_cast<int>(token.size() - point - 1);
}

// The layouts whose header has `valueColumns` columns after the point's four.
std::vector<TResultLayout> CandidateLayouts(std::size_t valueColumns) {
  std::vector<TResultLayout> out;
  if (valueColumns == 1) out.push_back(MakeResultLayout(0, true, 2));
  if (valueColumns == 3) out.push_back(MakeResultLayout(1, true, 2));
  const auto n = static_cast<int>(valueColumns);
  if (n >= 3 && n <= kMaxHeaderRows) out.push_back(MakeResultLayout(0, false, n));
  if (n % 3 == 0 && n / 3 >= 3 && n / 3 <= kMaxHeaderRows) out.push_back(MakeResultLayout(1, false, n / 3));
  return out;
}

std::vector<TResultColumn> ColumnsOf(const std::string& header, const TResultLayout& layout,
                                     bool microGal) {
  const std::string attraction = microGal ? "microGal" : "mGal";
  std::vector<TResultColumn> columns = {
      {"Lambda", "deg", TResultQuantity::Longitude, 0, 6},
      {"Fi", "deg", TResultQuantity::Latitude, 0, 6},
      {"Point", "", TResultQuantity::PointNumber, 0, 0},
      {"Height", "m", TResultQuantity::Height, 0, 3},
  };
  const std::size_t groupSize = layout.gradient ? 3 : 1;
  const std::size_t valueColumns = (header.size() - kPointColumnsChars) / kValueColumnChars;
  for (std::size_t k = 0; k < valueColumns; ++k) {
    TResultColumn c;
    c.name = Trim(header.substr(kPointColumnsChars + k * kValueColumnChars, kValueColumnChars));
    const std::size_t group = k / groupSize;
    const bool sum = group + 1 == valueColumns / groupSize;
    c.layer = sum ? 0 : static_cast<int>(group) + 1;
    switch (k % groupSize) {
      case 0: c.quantity = TResultQuantity::Dte; c.unit = attraction; break;
      case 1: c.quantity = TResultQuantity::DteRaised; c.unit = attraction; break;
      default: c.quantity = TResultQuantity::Gradient; c.unit = "mGal/m"; break;
    }
    // The summed gradient standing alone has eight decimals.
    c.decimals = c.quantity == TResultQuantity::Gradient && !layout.perLayer ? 8 : 5;
    columns.push_back(c);
  }
  return columns;
}

// Reads one line without its line end; false at the end of the file. A
// line longer than kMaxLineChars sets `tooLong` and stops. `ended` tells
// whether the line had its line end (the last line of a file may not).
bool ReadLine(std::FILE* f, std::string& line, bool& tooLong, bool* ended = nullptr) {
  line.clear();
  char buffer[4096];
  while (std::fgets(buffer, sizeof buffer, f) != nullptr) {
    line += buffer;
    if (line.size() > kMaxLineChars) {
      tooLong = true;
      return false;
    }
    if (!line.empty() && line.back() == '\n') break;
  }
  if (line.empty()) return false;
  if (ended != nullptr) *ended = line.back() == '\n';
  if (line.back() == '\n') line.pop_back();
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return true;
}

std::string LineMessage(const std::string& fileName, long lineNumber, const std::string& why) {
  return FormatMessage("Error by reading result file %s", fileName) +
         CFormat(", line %ld: ", lineNumber) + why;
}

}  // namespace

std::size_t TResultTable::SummedDteColumn() const {
  const std::size_t groupSize = layout.gradient ? 3 : 1;
  return columns.size() >= groupSize ? columns.size() - groupSize : 0;
}

std::string TResultTable::ValueText(std::size_t row, std::size_t column) const {
  return CFormat("%.*f", columns[column].decimals, At(row, column));
}

TResultRead ReadResultFile(const std::string& fileName, bool microGal, std::size_t maxValues) {
  TResultRead out;
  TInputFile input = OpenInputFile(fileName);
  if (input.status != TInputOpen::kOpened) {
    out.message = FormatMessage("Error by opening file %s", fileName) +
                  (input.status == TInputOpen::kNotRegular ? " (not a regular file)" : "");
    return out;
  }
  std::FILE* f = input.file.get();
  std::string line;
  bool tooLong = false;
  if (!ReadLine(f, line, tooLong)) {
    out.message = LineMessage(fileName, 1, tooLong ? "the line is too long for a result file"
                                                   : "the file is empty, without the header line");
    return out;
  }
  TResultTable table;
  table.fileName = fileName;
  table.microGal = microGal;
  bool known = false;
  if (line.size() > kPointColumnsChars && (line.size() - kPointColumnsChars) % kValueColumnChars == 0) {
    for (const TResultLayout& layout :
         CandidateLayouts((line.size() - kPointColumnsChars) / kValueColumnChars)) {
      std::string expected = ResultHeader(layout);
      expected.pop_back();  // its line end
      if (expected == line) {
        table.layout = layout;
        known = true;
        break;
      }
    }
  }
  if (!known) {
    out.message = LineMessage(fileName, 1, "the header is not one of a result file of this program");
    return out;
  }
  table.columns = ColumnsOf(line, table.layout, microGal);
  const std::size_t width = table.columns.size();

  long lineNumber = 1;
  bool ended = true;
  while (ReadLine(f, line, tooLong, &ended)) {
    ++lineNumber;
    if (line.find_first_not_of(" \t") == std::string::npos) continue;  // a blank line
    if (table.values.size() + width > maxValues) {
      out.message = LineMessage(fileName, lineNumber,
                                CFormat("more than %zu points are too many to show", maxValues / width));
      return out;
    }
    std::size_t count = 0, pos = 0;
    while (true) {
      const std::size_t start = line.find_first_not_of(" \t", pos);
      if (start == std::string::npos) break;
      const std::size_t end = std::min(line.find_first_of(" \t", start), line.size());
      const std::string token = line.substr(start, end - start);
      double v = 0;
      if (!TextToFloat(token, '.', v) || !std::isfinite(v)) {
        out.message = LineMessage(fileName, lineNumber, FormatMessage("'%s' is not a number", token));
        return out;
      }
      // Every line this program writes ends in a line end. A last line
      // without one may have been cut inside a number, which then still
      // reads as a number: its digits must be all that the column prints.
      if (!ended && count < width && DecimalsOf(token) != table.columns[count].decimals) {
        out.message = LineMessage(
            fileName, lineNumber,
            FormatMessage("the last line is cut short: '%s' ", token) +
                CFormat("has %d decimals where the column has %d", DecimalsOf(token), table.columns[count].decimals));
        return out;
      }
      if (++count <= width) table.values.push_back(v);
      pos = end;
    }
    if (count != width) {
      out.message = LineMessage(fileName, lineNumber,
                                CFormat("%zu numbers where the header has %zu columns", count, width));
      return out;
    }
  }
  if (tooLong) {
    out.message = LineMessage(fileName, lineNumber + 1, "the line is too long for a result file");
    return out;
  }
  if (std::ferror(f)) {
    out.message = LineMessage(fileName, lineNumber + 1, "the file could not be read to its end");
    return out;
  }
  out.table = std::move(table);
  return out;
}

std::string RunLogNameForResult(const std::string& resultFileName) {
  const std::string ending = "_dce.dat";
  if (resultFileName.size() < ending.size() ||
      resultFileName.compare(resultFileName.size() - ending.size(), ending.size(), ending) != 0)
    return "";
  return resultFileName.substr(0, resultFileName.size() - ending.size()) + "_dce.con";
}

TRunLogFacts ReadRunLogFacts(const std::string& runLogFileName) {
  TRunLogFacts facts;
  if (runLogFileName.empty()) return facts;
  TFilePtr f = OpenInputStream(runLogFileName);
  if (!f) return facts;
  std::string line;
  bool tooLong = false;
  for (int n = 0; n < 10000 && ReadLine(f.get(), line, tooLong); ++n) {
    if (line == "Output unit: mGal") facts.microGal = false;
    if (line == "Output unit: microGal") facts.microGal = true;
    const std::string first = "Layer 1: ";
    if (line.rfind(first, 0) == 0) {
      // Four cells, each followed by one blank: "<elevation> <grid> <density> <grid> ".
      std::vector<std::string> cells;
      std::size_t pos = first.size();
      while (pos < line.size()) {
        const std::size_t blank = line.find(' ', pos);
        if (blank == std::string::npos) break;
        cells.push_back(line.substr(pos, blank - pos));
        pos = blank + 1;
      }
      if (cells.size() == 4 && pos == line.size() && cells[1] != "@" && !cells[1].empty())
        facts.firstElevationGrid = cells[1];
    }
  }
  return facts;
}

bool WriteResultCsv(const TResultTable& table, const std::string& fileName, std::string& message) {
  std::string text;
  for (std::size_t c = 0; c < table.columns.size(); ++c) {
    const TResultColumn& col = table.columns[c];
    if (c > 0) text += ',';
    text += col.unit.empty() ? col.name : col.name + " [" + col.unit + "]";
  }
  text += '\n';
  TFilePtr f = OpenOutputStream(fileName);
  if (!f) {
    message = FormatMessage("Error by opening file %s", fileName);
    return false;
  }
  bool ok = true;
  for (std::size_t r = 0; r < table.RowCount(); ++r) {
    for (std::size_t c = 0; c < table.columns.size(); ++c) {
      if (c > 0) text += ',';
      text += table.ValueText(r, c);
    }
    text += '\n';
    if (text.size() > 1 << 16) {
      ok = ok && std::fwrite(text.data(), 1, text.size(), f.get()) == text.size();
      text.clear();
    }
  }
  ok = ok && std::fwrite(text.data(), 1, text.size(), f.get()) == text.size();
  ok = std::fclose(f.release()) == 0 && ok;
  if (!ok) message = FormatMessage("Error by writing file %s", fileName);
  return ok;
}

}  // namespace globelayers

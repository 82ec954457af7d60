#include "ResultFileReader.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

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
constexpr const char* kLineTooLong = "the line is too long for a result file";

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

// The layouts a run of `shape` may have written: its layers, or its sums.
std::vector<TResultLayout> LayoutsOfRun(const TResultShape& shape) {
  const double increment = shape.gradient ? 1 : 0;  // metres; only whether it is 0 counts
  std::vector<TResultLayout> out = {MakeResultLayout(increment, true, shape.rowCount)};
  // A header of more rows than any run has is not built (its length grows
  // with them).
  if (shape.rowCount > 2 && shape.rowCount <= kMaxHeaderRows)
    out.push_back(MakeResultLayout(increment, false, shape.rowCount));
  return out;
}

bool IsHeaderOf(const std::string& line, const TResultLayout& layout) {
  std::string expected = ResultHeader(layout);
  expected.pop_back();  // its line end
  return expected == line;
}

// The layouts whose header is `line` exactly.
std::vector<TResultLayout> LayoutsOfHeader(const std::string& line) {
  std::vector<TResultLayout> out;
  if (line.size() <= kPointColumnsChars || (line.size() - kPointColumnsChars) % kValueColumnChars != 0) return out;
  for (const TResultLayout& layout : CandidateLayouts((line.size() - kPointColumnsChars) / kValueColumnChars)) {
    if (IsHeaderOf(line, layout)) out.push_back(layout);
  }
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


TResultRead Refusal(TResultFault fault, std::string message) {
  TResultRead out;
  out.fault = fault;
  out.message = std::move(message);
  return out;
}

// Reads the file; its layout from the header when `shape` is empty.
TResultRead ReadResult(const std::string& fileName, bool microGal, const std::optional<TResultShape>& shape,
                       std::size_t maxValues) {
  TInputFile input = OpenInputFile(fileName);
  if (input.status == TInputOpen::kNotRegular)
    return Refusal(TResultFault::NotRegular, FormatMessage("Error by opening file %s (not a regular file)", fileName));
  if (input.status != TInputOpen::kOpened)
    return Refusal(TResultFault::Unopenable, FormatMessage("Error by opening file %s", fileName));
  std::FILE* f = input.file.get();
  std::string line;
  bool tooLong = false;
  if (!ReadLine(f, line, tooLong)) {
    if (tooLong) return Refusal(TResultFault::LineTooLong, LineMessage(fileName, 1, kLineTooLong));
    return Refusal(TResultFault::Empty, LineMessage(fileName, 1, "the file is empty, without the header line"));
  }
  TResultTable table;
  table.fileName = fileName;
  table.microGal = microGal;
  const std::vector<TResultLayout> ofHeader = LayoutsOfHeader(line);
  if (ofHeader.empty()) {
    return Refusal(TResultFault::UnknownHeader,
                   LineMessage(fileName, 1, "the header is not one of a result file of this program"));
  }
  if (shape) {
    // A header that another run writes: the file and its run log are not
    // of the same run, and the log's unit may not be the file's.
    const std::vector<TResultLayout> ofRun = LayoutsOfRun(*shape);
    const auto fits = std::find_if(ofRun.begin(), ofRun.end(),
                                   [&line](const TResultLayout& layout) { return IsHeaderOf(line, layout); });
    if (fits == ofRun.end()) {
      return Refusal(TResultFault::HeaderNotOfRun,
                     LineMessage(fileName, 1,
                                 CFormat("the header is not that of the run its run log tells of (%d layer rows, ",
                                         shape->rowCount) +
                                     (shape->gradient ? "with" : "without") + " DTE(i) and VGDRE)"));
    }
    table.layout = *fits;
  } else {
    if (ofHeader.size() > 1) {
      return Refusal(TResultFault::AmbiguousHeader,
                     LineMessage(fileName, 1, "the header fits more than one layout; the run log beside the "
                                              "file is needed to read it"));
    }
    table.layout = ofHeader.front();
  }
  table.columns = ColumnsOf(line, table.layout, microGal);
  const std::size_t width = table.columns.size();

  TResultRead out;
  long lineNumber = 1;
  bool ended = true;
  while (ReadLine(f, line, tooLong, &ended)) {
    ++lineNumber;
    if (line.find_first_not_of(" \t") == std::string::npos) continue;  // a blank line
    if (table.values.size() + width > maxValues) {
      return Refusal(TResultFault::TooManyPoints,
                     LineMessage(fileName, lineNumber,
                                 CFormat("more than %zu points are too many to show", maxValues / width)));
    }
    std::size_t count = 0, pos = 0;
    while (true) {
      const std::size_t start = line.find_first_not_of(" \t", pos);
      if (start == std::string::npos) break;
      const std::size_t end = std::min(line.find_first_of(" \t", start), line.size());
      const std::string token = line.substr(start, end - start);
      double v = 0;
      if (!TextToFloat(token, '.', v) || !std::isfinite(v)) {
        return Refusal(TResultFault::NotANumber,
                       LineMessage(fileName, lineNumber, FormatMessage("'%s' is not a number", token)));
      }
      // Every line this program writes ends in a line end. A last line
      // without one may have been cut inside a number, which then still
      // reads as a number: its digits must be all that the column prints.
      if (!ended && count < width && DecimalsOf(token) != table.columns[count].decimals) {
        return Refusal(TResultFault::LastLineCut,
                       LineMessage(fileName, lineNumber,
                                   FormatMessage("the last line is cut short: '%s' ", token) +
                                       CFormat("has %d decimals where the column has %d", DecimalsOf(token),
                                               table.columns[count].decimals)));
      }
      if (++count <= width) table.values.push_back(v);
      pos = end;
    }
    if (count != width) {
      return Refusal(TResultFault::ColumnCount,
                     LineMessage(fileName, lineNumber,
                                 CFormat("%zu numbers where the header has %zu columns", count, width)));
    }
  }
  if (tooLong) return Refusal(TResultFault::LineTooLong, LineMessage(fileName, lineNumber + 1, kLineTooLong));
  if (std::ferror(f)) {
    return Refusal(TResultFault::Unreadable,
                   LineMessage(fileName, lineNumber + 1, "the file could not be read to its end"));
  }
  out.table = std::move(table);
  return out;
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
  return ReadResult(fileName, microGal, std::nullopt, maxValues);
}

TResultRead ReadResultFile(const std::string& fileName, bool microGal, const TResultShape& shape,
                           std::size_t maxValues) {
  return ReadResult(fileName, microGal, shape, maxValues);
}

}  // namespace globelayers

#include "PointFile.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string_view>
#include <utility>
#include <vector>

#include "InputFile.h"
#include "NumberText.h"

namespace globelayers {
namespace {

// One getc of a text-mode stream: a CR LF pair is one line break on every
// platform, a lone CR stays what it is.
int GetTextChar(std::FILE* stream) {
  int c = std::getc(stream);
  if (c == '\r') {
    const int next = std::getc(stream);
    if (next == '\n') return '\n';
    if (next != EOF) std::ungetc(next, stream);
  }
  return c;
}

std::string ReadPiece(std::FILE* stream, bool& atEnd, int maxChars = kPointLineChars) {
  std::string piece;
  piece.reserve(static_cast<std::size_t>(maxChars));
  while (piece.size() < static_cast<std::size_t>(maxChars)) {
    const int c = GetTextChar(stream);
    if (c == EOF) {
      atEnd = true;
      break;
    }
    piece.push_back(static_cast<char>(c));
    if (c == '\n') break;
  }
  return piece;
}

// The line rule. A point with a number that is not finite is no point;
// then `notFinite` receives that number as written, for the message.
std::optional<TCalcPoint> JudgePiece(std::string piece, std::string& notFinite) {
  // C-string semantics: the line ends at its first zero byte.
  const char* line = piece.c_str();
  // Comments, headers, and lines whose first byte (signed) is a control
  // character, a byte of 128 or above, or nothing at all.
  if (line[0] == '/' || static_cast<signed char>(line[0]) < 32 || std::strstr(line, "LINE")) {
    return std::nullopt;
  }
  for (char& c : piece) {
    if (c == ',') c = ' ';
  }
  TCalcPoint p;
  int from[4] = {}, to[4] = {};  // where each number's text starts and ends
  if (CScan(piece.c_str(), " %n%lf%n %n%lf%n %n%lf%n %n%lf%n", &from[0], &p.lambda, &to[0], &from[1],
            &p.phi, &to[1], &from[2], &p.pointNumber, &to[2], &from[3], &p.height, &to[3]) < 4) {
    return std::nullopt;
  }
  const double numbers[4] = {p.lambda, p.phi, p.pointNumber, p.height};
  for (int i = 0; i < 4; ++i) {
    if (!std::isfinite(numbers[i])) {
      notFinite = piece.substr(static_cast<std::size_t>(from[i]), static_cast<std::size_t>(to[i] - from[i]));
      return std::nullopt;
    }
  }
  return p;
}

std::string LowerTrimmed(std::string_view field) {
  while (!field.empty() && (field.front() == ' ' || field.front() == '\t' || field.front() == '"')) {
    field.remove_prefix(1);
  }
  while (!field.empty() && (field.back() == ' ' || field.back() == '\t' || field.back() == '"' ||
                            field.back() == '\n' || field.back() == '\r')) {
    field.remove_suffix(1);
  }
  std::string lower(field);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

std::vector<std::string_view> CsvFields(std::string_view line) {
  std::vector<std::string_view> fields;
  for (;;) {
    const std::size_t comma = line.find(',');
    fields.push_back(line.substr(0, comma));
    if (comma == std::string_view::npos) return fields;
    line.remove_prefix(comma + 1);
  }
}

// The names each value's column may have.
struct TColumnNames {
  int TCsvColumns::*column;
  const char* names[3];
  const char* role;
};
constexpr TColumnNames kColumnNames[] = {
    {&TCsvColumns::lambda, {"lon", "lambda", "longitude"}, "longitude (lon, lambda or longitude)"},
    {&TCsvColumns::phi, {"lat", "phi", "latitude"}, "latitude (lat, phi or latitude)"},
    {&TCsvColumns::height, {"h", "height", "elevation"}, "height (h, height or elevation)"},
    {&TCsvColumns::pointNumber, {"id", "point", "name"}, "point number (id, point or name)"},
};

}  // namespace

TPointFormat ReadPointFormat(std::FILE* stream, const std::string& fileName) {
  TPointFormat format;
  bool atEnd = false;
  std::string line = ReadPiece(stream, atEnd, kCsvLineChars);
  std::rewind(stream);
  if (line.starts_with("\xEF\xBB\xBF")) line.erase(0, 3);  // a UTF-8 byte order mark
  if (line.find(',') == std::string::npos) return format;
  TCsvColumns columns;
  const std::vector<std::string_view> fields = CsvFields(line);
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const std::string name = LowerTrimmed(fields[i]);
    for (const TColumnNames& role : kColumnNames) {
      if (name != role.names[0] && name != role.names[1] && name != role.names[2]) continue;
      if (columns.*role.column >= 0) {
        format.fault = "The header of " + fileName + " names the " + role.role + " column twice";
        return format;
      }
      columns.*role.column = static_cast<int>(i);
    }
  }
  // A line of numbers, or of other words, is no header: the plain format.
  if (columns.lambda < 0 && columns.phi < 0) return format;
  for (const TColumnNames& role : kColumnNames) {
    if (columns.*role.column < 0 && role.column != &TCsvColumns::pointNumber) {
      format.fault = "The header of " + fileName + " names no " + role.role + " column";
      return format;
    }
  }
  format.csv = columns;
  return format;
}

std::optional<TCalcPoint> TPointReader::Next(bool& atEnd, std::string* notFinite) {
  if (!csv_) {
    const std::string piece = ReadPiece(stream_, atEnd);
    endedLine_ = !piece.empty() && piece.back() == '\n';
    std::string text;
    std::optional<TCalcPoint> point = JudgePiece(piece, text);
    if (notFinite) *notFinite = text;
    return point;
  }
  const std::string piece = ReadPiece(stream_, atEnd, kCsvLineChars);
  endedLine_ = !piece.empty() && piece.back() == '\n';
  if (!headerPassed_) {
    headerPassed_ = true;
    return std::nullopt;
  }
  // A line without commas under a header with commas (an older file whose
  // first line names its columns) is split at blanks and tabs.
  std::vector<std::string_view> fields;
  if (piece.find(',') != std::string::npos) {
    fields = CsvFields(piece);
  } else {
    std::string_view rest = piece;
    while (!rest.empty()) {
      const std::size_t from = rest.find_first_not_of(" \t\r\n");
      if (from == std::string_view::npos) break;
      rest.remove_prefix(from);
      const std::size_t to = std::min(rest.find_first_of(" \t\r\n"), rest.size());
      fields.push_back(rest.substr(0, to));
      rest.remove_prefix(to);
    }
  }
  const auto& c = *csv_;
  const int wanted[] = {c.lambda, c.phi, c.height, c.pointNumber};
  TCalcPoint p;
  double* const targets[] = {&p.lambda, &p.phi, &p.height, &p.pointNumber};
  for (std::size_t i = 0; i < 4; ++i) {
    const int column = wanted[i];
    if (column < 0) continue;
    if (static_cast<std::size_t>(column) >= fields.size()) return std::nullopt;
    std::string_view field = fields[static_cast<std::size_t>(column)];
    while (!field.empty() && (field.back() == '\n' || field.back() == '\r')) field.remove_suffix(1);
    // Read as the plain format reads its numbers: "nan", "inf" and 1e999
    // read, and are refused below, naming them.
    const std::string text(field);
    double value = 0;
    int end = 0;
    if (CScan(text.c_str(), " %lf%n", &value, &end) < 1 ||
        text.find_first_not_of(" \t", static_cast<std::size_t>(end)) != std::string::npos) {
      return std::nullopt;
    }
    if (!std::isfinite(value)) {
      if (notFinite) *notFinite = LowerTrimmed(field) == "" ? text : text.substr(text.find_first_not_of(" \t"));
      return std::nullopt;
    }
    *targets[i] = value;
  }
  if (c.pointNumber < 0) p.pointNumber = static_cast<double>(csvPoints_ + 1);
  ++csvPoints_;
  return p;
}

std::optional<TCalcPoint> ParsePointLine(std::string piece) {
  std::string notFinite;
  return JudgePiece(std::move(piece), notFinite);
}

std::optional<TCalcPoint> ReadPointLine(std::FILE* stream, bool& atEnd) {
  return ParsePointLine(ReadPiece(stream, atEnd));
}

TPointCount CountFilePoints(const std::string& fileName) {
  TPointCount out;
  // Only a regular file: a directory would read as no points, a FIFO would
  // block, /dev/zero would never end.
  const TFilePtr file = OpenInputStream(fileName);
  if (!file) {
    out.fault = TPointFileFault::Unopenable;
    out.message = FormatMessage("Error by opening file %s", fileName);
    return out;
  }
  long count = 0;
  long lineNumber = 1;  // of the piece about to be read; a long line gives several pieces
  bool atEnd = false;
  const TPointFormat format = ReadPointFormat(file.get(), fileName);
  if (!format.fault.empty()) {
    out.fault = TPointFileFault::CsvHeader;
    out.message = format.fault;
    return out;
  }
  const auto notFiniteAt = [&](const std::string& text) {
    out.fault = TPointFileFault::NotFinite;
    out.message = CFormat("Line %ld of %s holds a number that is not finite: '%s'", lineNumber, fileName.c_str(),
                          text.c_str());
    return out;
  };
  if (format.csv) {
    TPointReader reader(file.get(), format);
    while (!atEnd) {
      std::string notFinite;
      if (reader.Next(atEnd, &notFinite)) {
        ++count;
      } else if (!notFinite.empty()) {
        return notFiniteAt(notFinite);
      }
      if (reader.EndedLine()) ++lineNumber;
    }
    out.count = count;
    return out;
  }
  while (!atEnd) {
    const std::string piece = ReadPiece(file.get(), atEnd);
    std::string notFinite;
    if (JudgePiece(piece, notFinite)) {
      ++count;
    } else if (!notFinite.empty()) {
      return notFiniteAt(notFinite);
    }
    if (!piece.empty() && piece.back() == '\n') ++lineNumber;
  }
  out.count = count;
  return out;
}

std::optional<long> CountPoints(const std::string& fileName, IUserPrompts& prompts) {
  const TPointCount counted = CountFilePoints(fileName);
  if (!counted.ok()) prompts.ShowMessage(counted.message);
  return counted.count;
}

}  // namespace globelayers

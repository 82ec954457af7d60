#include "PointFile.h"

#include <cmath>
#include <cstring>

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

std::string ReadPiece(std::FILE* stream, bool& atEnd) {
  std::string piece;
  piece.reserve(kPointLineChars);
  while (piece.size() < static_cast<std::size_t>(kPointLineChars)) {
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

}  // namespace

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
  while (!atEnd) {
    const std::string piece = ReadPiece(file.get(), atEnd);
    std::string notFinite;
    if (JudgePiece(piece, notFinite)) {
      ++count;
    } else if (!notFinite.empty()) {
      out.fault = TPointFileFault::NotFinite;
      out.message = CFormat("Line %ld of %s holds a number that is not finite: '%s'", lineNumber, fileName.c_str(),
                            notFinite.c_str());
      return out;
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

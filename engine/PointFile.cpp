#include "PointFile.h"

#include <cstring>
#include <memory>

#include "NumberText.h"

namespace globelayers {
namespace {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

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

}  // namespace

std::optional<TCalcPoint> ParsePointLine(std::string piece) {
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
  if (CScan(piece.c_str(), "%lf %lf %lf %lf", &p.lambda, &p.phi, &p.pointNumber, &p.height) < 4) {
    return std::nullopt;
  }
  return p;
}

std::optional<TCalcPoint> ReadPointLine(std::FILE* stream, bool& atEnd) {
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
  return ParsePointLine(std::move(piece));
}

std::optional<long> CountPoints(const std::string& fileName, IUserPrompts& prompts) {
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(fileName.c_str(), "r"));
  if (!file) {
    prompts.ShowMessage(FormatMessage("Error by opening file %s", fileName));
    return std::nullopt;
  }
  long count = 0;
  bool atEnd = false;
  while (!atEnd) {
    if (ReadPointLine(file.get(), atEnd)) ++count;
  }
  return count;
}

}  // namespace globelayers

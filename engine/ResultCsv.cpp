#include "ResultCsv.h"

#include <cstdio>

#include <unistd.h>

#include "FilePtr.h"
#include "FileReplacement.h"
#include "InputFile.h"
#include "NumberText.h"

namespace globelayers {
namespace {

// Text is handed to the file in blocks of about this size (bytes): a
// table of millions of rows never sits in memory twice.
constexpr std::size_t kCsvBlockChars = 1 << 16;

}  // namespace

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
    if (text.size() > kCsvBlockChars) {
      ok = ok && std::fwrite(text.data(), 1, text.size(), f.get()) == text.size();
      text.clear();
    }
  }
  ok = ok && std::fwrite(text.data(), 1, text.size(), f.get()) == text.size();
  ok = std::fclose(f.release()) == 0 && ok;
  if (!ok) message = FormatMessage("Error by writing file %s", fileName);
  return ok;
}

bool SaveResultCsv(const TResultTable& table, const std::string& fileName, std::string& message) {
  TFileReplacement replacement;
  const int fd = replacement.Open(fileName);
  if (fd < 0) {
    message = FormatMessage("Error by opening file %s", fileName);
    return false;
  }
  ::close(fd);
  if (WriteResultCsv(table, replacement.writtenPath(), message) && replacement.Commit()) return true;
  // The user knows the file by its final name, not by the temporary one.
  message = FormatMessage("Error by writing file %s", fileName);
  return false;
}

}  // namespace globelayers

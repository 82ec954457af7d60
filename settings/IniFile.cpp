#include "IniFile.h"

#include "InputFile.h"
#include "NumberText.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <utility>

namespace globelayers {
namespace {

constexpr std::size_t npos = std::string::npos;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

std::string_view TrimTrailingBlanks(std::string_view s) {
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

// The line as parsed: without the '\r' of a CR LF line end.
std::string_view Content(const std::string& line) {
  std::string_view s = line;
  if (!s.empty() && s.back() == '\r') s.remove_suffix(1);
  return s;
}

// Names compare without regard to ASCII case: equal names have equal keys.
std::string NameKey(std::string_view name) {
  std::string key(name);
  for (char& c : key) {
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  }
  return key;
}

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";  // UTF-8

// "[name]" with blanks allowed around; a missing ']' takes the rest of the line.
bool SectionName(const std::string& line, std::string_view& name) {
  std::string_view s = TrimBlanks(Content(line));
  if (s.empty() || s.front() != '[') return false;
  s.remove_prefix(1);
  const std::size_t close = s.find(']');
  name = TrimBlanks(close == npos ? s : s.substr(0, close));
  return true;
}

// "key=value"; comment lines (';' or '#') and lines without '=' hold no key.
bool KeyName(const std::string& line, std::string_view& key, std::string_view& value) {
  const std::string_view s = Content(line);
  const std::string_view trimmed = TrimBlanks(s);
  if (trimmed.empty() || trimmed.front() == ';' || trimmed.front() == '#' || trimmed.front() == '[') {
    return false;
  }
  const std::size_t eq = s.find('=');
  if (eq == npos) return false;
  key = TrimBlanks(s.substr(0, eq));
  if (key.empty()) return false;
  value = TrimBlanks(s.substr(eq + 1));
  return true;
}

std::string OneLine(std::string_view value) {
  std::string out(value);
  for (char& c : out) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  return out;
}

// A file descriptor closed on every path; Release hands the close to the caller.
class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  int Release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

std::string ErrnoText(int error) { return std::strerror(error); }

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

}  // namespace

TIniFile::TIniFile(std::string fileName) : fileName_(std::move(fileName)) {}

void TIniFile::Load() const {
  if (loaded_) return;
  const TInputFile input = OpenInputFile(fileName_);
  if (input.status == TInputOpen::kFailed) {
    // A file that is not there yet is a file without keys.
    if (input.error == ENOENT || input.error == ENOTDIR) {
      loaded_ = true;
      return;
    }
    throw TIniFileError("cannot read " + fileName_ + ": " + ErrnoText(input.error));
  }
  const auto cannotRead = [&](const std::string& reason) {
    return TIniFileError("cannot read " + fileName_ + ": " + reason);
  };
  if (input.status == TInputOpen::kNotRegular) throw cannotRead("not a regular file");
  const std::string tooLarge = "larger than " + std::to_string(kIniMaxFileBytes >> 20) + " MiB";
  if (input.sizeBytes > kIniMaxFileBytes) throw cannotRead(tooLarge);
  std::string text;
  char buffer[8192];
  std::size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, input.file.get())) > 0) {
    text.append(buffer, n);
    if (text.size() > kIniMaxFileBytes) throw cannotRead(tooLarge);  // grew while being read
  }
  if (std::ferror(input.file.get())) throw TIniFileError("cannot read " + fileName_);
  byteOrderMark_ = text.starts_with(kByteOrderMark);
  if (byteOrderMark_) text.erase(0, kByteOrderMark.size());

  TLines lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find('\n', start);
    if (end == npos) {
      lines.emplace_back(text.substr(start));
      break;
    }
    lines.emplace_back(text.substr(start, end - start));
    start = end + 1;
  }
  crlf_ = !lines.empty() && !lines.front().empty() && lines.front().back() == '\r';
  lines_ = std::move(lines);
  BuildIndex();
  FindDuplicateKey();
  loaded_ = true;
}

void TIniFile::FindDuplicateKey() const {
  duplicate_.reset();
  struct TFirst {
    int line;
    std::string section, text;
  };
  std::unordered_map<std::string, TFirst> seen;  // "section\nkey", lower case: its first line
  std::string section, sectionKey;
  bool inSection = false;  // keys before the first header are read by nobody
  int number = 0;
  for (const std::string& line : lines_) {
    ++number;
    std::string_view name, key, value;
    if (SectionName(line, name)) {
      section = std::string(name);
      sectionKey = NameKey(name);
      inSection = true;
    } else if (inSection && KeyName(line, key, value)) {
      const std::string text(TrimBlanks(Content(line)));
      const auto [first, added] = seen.try_emplace(sectionKey + '\n' + NameKey(key), TFirst{number, section, text});
      if (!added) {
        duplicate_ = TIniDuplicateKey{.section = first->second.section,
                                      .key = std::string(key),
                                      .firstLine = first->second.line,
                                      .secondLine = number,
                                      .firstText = first->second.text,
                                      .secondText = text};
        return;
      }
    }
  }
}

void TIniFile::EraseDuplicateKeys() {
  Load();
  std::unordered_map<std::string, bool> seen;  // "section\nkey", lower case
  std::string sectionKey;
  bool inSection = false;
  bool erased = false;
  for (auto line = lines_.begin(); line != lines_.end();) {
    std::string_view name, key, value;
    if (SectionName(*line, name)) {
      sectionKey = NameKey(name);
      inSection = true;
    } else if (inSection && KeyName(*line, key, value) &&
               !seen.try_emplace(sectionKey + '\n' + NameKey(key), true).second) {
      line = lines_.erase(line);
      erased = true;
      continue;
    }
    ++line;
  }
  if (erased) BuildIndex();
  duplicate_.reset();
}

std::optional<TIniDuplicateKey> TIniFile::FirstDuplicateKey() const {
  Load();
  return duplicate_;
}

void TIniFile::BuildIndex() const {
  sections_.clear();
  TSection* current = nullptr;  // the section being walked, when it is the first of its name
  for (auto line = lines_.begin(); line != lines_.end(); ++line) {
    std::string_view name, key, value;
    if (SectionName(*line, name)) {
      const auto [entry, first] = sections_.try_emplace(NameKey(name));
      current = first ? &entry->second : nullptr;
      if (first) current->lastKey = line;
    } else if (current != nullptr && KeyName(*line, key, value)) {
      current->keys.try_emplace(NameKey(key), line);  // the first key of a name counts
      current->lastKey = line;
    }
  }
}

TIniFile::TLines::iterator TIniFile::FindKey(std::string_view section, std::string_view key) const {
  Load();
  const auto s = sections_.find(NameKey(section));
  if (s == sections_.end()) return lines_.end();
  const auto k = s->second.keys.find(NameKey(key));
  return k == s->second.keys.end() ? lines_.end() : k->second;
}

std::string TIniFile::ReadString(std::string_view section, std::string_view key,
                                 std::string_view defaultValue) const {
  const auto at = FindKey(section, key);
  std::string_view value;
  if (at == lines_.end()) {
    value = TrimTrailingBlanks(defaultValue);
  } else {
    std::string_view k;
    KeyName(*at, k, value);
  }
  return std::string(value.substr(0, kIniValueChars));
}

bool TIniFile::HasKey(std::string_view section, std::string_view key) const {
  return FindKey(section, key) != lines_.end();
}

bool TIniFile::ParseInteger(std::string_view text, int& value) {
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    const std::string_view digits = text.substr(2);
    if (digits.size() > 8) return false;
    std::uint32_t v = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), v, 16);
    if (ec != std::errc() || end != digits.data() + digits.size()) return false;
    value = static_cast<int>(v);  // 0xFFFFFFFF is -1, as a 32-bit integer
    return true;
  }
  return TextToInt(text, value);  // plain decimal
}

int TIniFile::ReadInteger(std::string_view section, std::string_view key, int defaultValue) const {
  int value = defaultValue;
  if (!ParseInteger(ReadString(section, key, ""), value)) return defaultValue;
  return value;
}

bool TIniFile::ReadBool(std::string_view section, std::string_view key, bool defaultValue) const {
  return ReadInteger(section, key, defaultValue ? 1 : 0) != 0;
}

void TIniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
  Load();
  const std::string lineEnd = crlf_ ? "\r" : "";
  const auto at = FindKey(section, key);
  if (at != lines_.end()) {
    // Same key text, no line break in the value: the index still holds.
    std::string_view k, v;
    KeyName(*at, k, v);
    *at = std::string(k) + "=" + OneLine(value) + lineEnd;
    return;
  }
  const std::string newLine = std::string(key) + "=" + OneLine(value) + lineEnd;
  const auto s = sections_.find(NameKey(section));
  if (s == sections_.end()) {
    // A new section at the end. Rare enough to index afresh, which also
    // covers names whose header reads back as another name.
    std::string headerLine = "[";
    headerLine.append(section).append("]").append(lineEnd);
    lines_.push_back(std::move(headerLine));
    lines_.push_back(newLine);
    BuildIndex();
    return;
  }
  // After the last key line of the first section of that name.
  TSection& target = s->second;
  const auto inserted = lines_.insert(std::next(target.lastKey), newLine);
  std::string_view name, k, v;
  if (SectionName(*inserted, name)) {
    BuildIndex();  // a key written as "[x": the line now starts a section
  } else if (KeyName(*inserted, k, v)) {
    target.keys.try_emplace(NameKey(k), inserted);
    target.lastKey = inserted;
  }
}

std::vector<std::string> TIniFile::ReadSectionKeys(std::string_view section) const {
  Load();
  std::vector<std::string> names;
  const auto s = sections_.find(NameKey(section));
  if (s == sections_.end()) return names;
  // The index holds no order: walk the section's lines, from the header on.
  auto line = s->second.lastKey;
  while (true) {
    std::string_view name;
    if (SectionName(*line, name)) break;
    if (line == lines_.begin()) break;
    --line;
  }
  for (++line; line != lines_.end(); ++line) {
    std::string_view name, key, value;
    if (SectionName(*line, name)) break;
    if (!KeyName(*line, key, value)) continue;
    const auto first = s->second.keys.find(NameKey(key));
    if (first != s->second.keys.end() && first->second == line) names.emplace_back(key);
  }
  return names;
}

void TIniFile::DeleteKey(std::string_view section, std::string_view key) {
  const auto at = FindKey(section, key);
  if (at == lines_.end()) return;
  lines_.erase(at);
  // A later key of the same name now counts, and the last key may have gone.
  BuildIndex();
}

void TIniFile::EraseSection(std::string_view section) {
  Load();
  const auto s = sections_.find(NameKey(section));
  if (s == sections_.end()) return;
  auto first = s->second.lastKey;
  std::string_view name;
  while (!SectionName(*first, name)) --first;  // the header precedes every key
  auto last = std::next(first);
  while (last != lines_.end() && !SectionName(*last, name)) ++last;
  lines_.erase(first, last);
  BuildIndex();
}

void TIniFile::WriteInteger(std::string_view section, std::string_view key, int value) {
  WriteString(section, key, std::to_string(value));
}

void TIniFile::WriteBool(std::string_view section, std::string_view key, bool value) {
  WriteString(section, key, value ? "1" : "0");
}

void TIniFile::UpdateFile() {
  Load();
  std::string text(byteOrderMark_ ? kByteOrderMark : std::string_view());
  for (const std::string& line : lines_) {
    text += line;
    text += '\n';
  }

  // A settings file that is a symbolic link is replaced at the link's
  // target, so the link stays a link.
  std::string target = fileName_;
  std::error_code ec;
  if (std::filesystem::is_symlink(fileName_, ec)) {
    const std::filesystem::path resolved = std::filesystem::weakly_canonical(fileName_, ec);
    if (!ec) target = resolved.string();
  }

  // The new file takes the old one's permissions, or the usual ones (umask
  // applied) when there was none.
  mode_t mode = 0666;
  struct stat old {};
  if (::stat(target.c_str(), &old) == 0) mode = old.st_mode & 07777;

  static std::atomic<unsigned> counter{0};
  const std::string tempName = target + ".~" + std::to_string(::getpid()) + "-" +
                               std::to_string(counter.fetch_add(1));
  Fd fd(::open(tempName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode));
  if (fd.get() < 0) throw TIniFileError("cannot create " + tempName + ": " + ErrnoText(errno));
  bool ok = WriteAll(fd.get(), text) && ::fsync(fd.get()) == 0;
  int error = errno;
  if (::close(fd.Release()) != 0 && ok) {
    ok = false;
    error = errno;
  }
  if (ok && ::rename(tempName.c_str(), target.c_str()) != 0) {
    ok = false;
    error = errno;
  }
  if (!ok) {
    ::unlink(tempName.c_str());
    throw TIniFileError("cannot save " + fileName_ + ": " + ErrnoText(error));
  }
}

}  // namespace globelayers

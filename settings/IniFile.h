// A settings store for sectioned key=value ("INI") files.
//
// Reading rules, which settings files of earlier versions rely on:
//   - a value is returned with its leading and trailing blanks removed, and
//     at most kIniValueChars characters of it;
//   - an absent key returns the default with its trailing blanks removed, so
//     a default of a single space reads as an empty text;
//   - integers are decimal, or hexadecimal with a leading "0x"; any other
//     text (an empty value included) yields the default;
//   - a boolean is true when its integer value is not 0;
//   - section and key names compare without regard to ASCII case; the first
//     section and the first key of a name count;
//   - a missing file reads as a file without keys.
//
// Writing replaces an existing key's value where it stands, adds a new key
// after the last key of its section and a new section at the end of the
// file; every other line (other sections, comments, blank lines) is kept
// byte for byte. Changes are collected in memory and saved by UpdateFile in
// one step: a temporary file in the same folder, then a rename, so a failed
// save leaves the previous file whole.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace globelayers {

inline constexpr std::size_t kIniValueChars = 2047;

// The file exists but cannot be read, or the changes cannot be saved.
class TIniFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TIniFile {
 public:
  // Does not touch the file: it is read on first use.
  explicit TIniFile(std::string fileName);

  const std::string& FileName() const { return fileName_; }

  // The reads throw TIniFileError when the file exists but cannot be read.
  std::string ReadString(std::string_view section, std::string_view key,
                         std::string_view defaultValue) const;
  int ReadInteger(std::string_view section, std::string_view key, int defaultValue) const;
  bool ReadBool(std::string_view section, std::string_view key, bool defaultValue) const;

  // Changes in memory; UpdateFile saves them. Line breaks inside a value
  // would split the line, so they are written as blanks.
  void WriteString(std::string_view section, std::string_view key, std::string_view value);
  void WriteInteger(std::string_view section, std::string_view key, int value);  // decimal
  void WriteBool(std::string_view section, std::string_view key, bool value);    // "1" / "0"

  // Saves the file atomically. Throws TIniFileError when it cannot.
  void UpdateFile();

  // Integer text rule on its own: decimal with an optional sign, or "0x"
  // followed by up to eight hexadecimal digits (taken as 32 bits).
  static bool ParseInteger(std::string_view text, int& value);

 private:
  void Load() const;
  // Index of the line holding `key` in `section`, or npos.
  std::size_t FindKey(std::string_view section, std::string_view key) const;

  std::string fileName_;
  // The file's lines without their '\n'; a line keeps its '\r' if it had one.
  mutable std::vector<std::string> lines_;
  mutable bool loaded_ = false;
  mutable bool crlf_ = false;  // the file ends its lines with CR LF: new lines do too
};

}  // namespace globelayers

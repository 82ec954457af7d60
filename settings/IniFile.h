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
//     section and the first key of a name count (FirstDuplicateKey tells a
//     reader that wants to refuse a file holding a key twice);
//   - a missing file reads as a file without keys;
//   - a UTF-8 byte-order mark at the start is passed over (and kept on
//     saving);
//   - anything but a regular file (a directory, a FIFO, a device) and a file
//     larger than kIniMaxFileBytes cannot be read.
//
// Writing replaces an existing key's value where it stands, adds a new key
// after the last key of its section and a new section at the end of the
// file; every other line (other sections, comments, blank lines) is kept
// byte for byte, unless a deletion takes it. Changes are collected in memory and saved by UpdateFile in
// one step: a temporary file in the same folder, then a rename, so a failed
// save leaves the previous file whole.
#pragma once

#include <cstddef>
#include <list>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace globelayers {

inline constexpr std::size_t kIniValueChars = 2047;
// Far beyond any settings file (a table of 1000 layer rows takes a few
// hundred KiB), so that a wrong name cannot fill the memory.
inline constexpr std::size_t kIniMaxFileBytes = std::size_t{64} << 20;  // 64 MiB

// A key given twice in a section (or in two sections of the same name), as
// the file was read: reads see the first line only.
struct TIniDuplicateKey {
  std::string section;  // as written on the first line's section header
  std::string key;      // as written on the second line
  int firstLine = 0;    // line numbers in the file, from 1
  int secondLine = 0;
  std::string firstText, secondText;  // the two lines, blanks around removed
};

// The file exists but cannot be read, or the changes cannot be saved.
class TIniFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TIniFile {
 public:
  // Does not touch the file: it is read on first use.
  explicit TIniFile(std::string fileName);
  // The index points into the lines: a copy would point into the original,
  // while a move takes the lines along.
  TIniFile(const TIniFile&) = delete;
  TIniFile& operator=(const TIniFile&) = delete;
  TIniFile(TIniFile&&) = default;
  TIniFile& operator=(TIniFile&&) = default;

  const std::string& FileName() const { return fileName_; }

  // The reads throw TIniFileError when the file exists but cannot be read:
  // "cannot read <file>: <reason>".
  std::string ReadString(std::string_view section, std::string_view key,
                         std::string_view defaultValue) const;
  int ReadInteger(std::string_view section, std::string_view key, int defaultValue) const;
  // Whether the section holds the key (an empty value counts).
  bool HasKey(std::string_view section, std::string_view key) const;
  bool ReadBool(std::string_view section, std::string_view key, bool defaultValue) const;

  // Changes in memory; UpdateFile saves them. Line breaks inside a value
  // would split the line, so they are written as blanks.
  void WriteString(std::string_view section, std::string_view key, std::string_view value);
  void WriteInteger(std::string_view section, std::string_view key, int value);  // decimal
  void WriteBool(std::string_view section, std::string_view key, bool value);    // "1" / "0"

  // The key names of a section as written, in file order; the first key of a
  // name only, as reads see them. Empty when the section is absent.
  std::vector<std::string> ReadSectionKeys(std::string_view section) const;
  // Removes the key's line (nothing when absent), in memory like the writes.
  void DeleteKey(std::string_view section, std::string_view key);
  // Removes a section's header and every line up to the next header (its
  // keys, comments and blank lines); nothing when absent.
  void EraseSection(std::string_view section);

  // The first key that the file as read holds twice (names compared as the
  // reads compare them), or nullopt. Throws TIniFileError as the reads do.
  std::optional<TIniDuplicateKey> FirstDuplicateKey() const;

  // Removes every key line that a read never sees, as FirstDuplicateKey
  // finds them (in memory, like the writes): a file saved afterwards reads
  // without a duplicate.
  void EraseDuplicateKeys();

  // Saves the file atomically. Throws TIniFileError when it cannot.
  void UpdateFile();

  // Integer text rule on its own: decimal with an optional sign, or "0x"
  // followed by up to eight hexadecimal digits (taken as 32 bits).
  static bool ParseInteger(std::string_view text, int& value);

 private:
  // A list, so that the index below stays valid while lines are inserted.
  using TLines = std::list<std::string>;
  // The first section of a name: only that one is read and written.
  struct TSection {
    TLines::iterator lastKey;  // a new key goes after it; the header while there is no key
    std::unordered_map<std::string, TLines::iterator> keys;  // lower-case name: its first line
  };

  void Load() const;
  void BuildIndex() const;
  void FindDuplicateKey() const;
  // The line holding `key` in `section`, or lines_.end().
  TLines::iterator FindKey(std::string_view section, std::string_view key) const;

  std::string fileName_;
  // The file's lines without their '\n'; a line keeps its '\r' if it had one.
  mutable TLines lines_;
  // Section and key lines by lower-case name, so that a read does not walk
  // the file: the window reads thousands of keys.
  mutable std::unordered_map<std::string, TSection> sections_;
  mutable std::optional<TIniDuplicateKey> duplicate_;  // of the file as read
  mutable bool loaded_ = false;
  mutable bool crlf_ = false;  // the file ends its lines with CR LF: new lines do too
  mutable bool byteOrderMark_ = false;  // the file starts with one: a save writes it back
};

}  // namespace globelayers

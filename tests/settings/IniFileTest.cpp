// The settings store: reading, integer and boolean forms, where writes go,
// what a save keeps, and that a failed save leaves the old file whole.
#include "IniFile.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "TempDir.h"

namespace globelayers {
namespace {

using testing_support::ReadFileText;
using testing_support::TempDir;
using testing_support::WriteFileText;

constexpr char kSample[] =
    "; settings written by hand\n"
    "[Other]\n"
    "gravc=from another section\n"
    "\n"
    "[frmMain]\n"
    "  gravc  =  0.5  \n"
    "empty=\n"
    "spaces=   \n"
    "tabbed=\tx y\t\n"
    "gravc=second one is ignored\n"
    "; note=this is a comment\n"
    "# also=a comment\n"
    "no equals sign here\n"
    "R=6371000\n"
    "\n"
    "[frmmain]\n"
    "late=a second section of the same name is not read\n";

TEST(IniFileRead, ValuesDefaultsAndNames) {
  TempDir dir;
  const std::string path = dir / "a.ini";
  WriteFileText(path, kSample);
  const TIniFile ini(path);

  struct Case {
    const char* section;
    const char* key;
    const char* defaultValue;
    const char* expected;
  };
  const Case cases[] = {
      {"frmMain", "gravc", "d", "0.5"},            // blanks around key and value go
      {"FRMMAIN", "GRAVC", "d", "0.5"},            // names ignore case
      {"Other", "gravc", "d", "from another section"},
      {"frmMain", "empty", "d", ""},               // present but empty: not the default
      {"frmMain", "spaces", "d", ""},
      {"frmMain", "tabbed", "d", "x y"},
      {"frmMain", "R", "d", "6371000"},
      {"frmMain", "note", "d", "d"},               // comment lines hold no keys
      {"frmMain", "also", "d", "d"},
      {"frmMain", "late", "d", "d"},
      {"frmMain", "missing", " kept  ", " kept"},  // default: trailing blanks go, leading stay
      {"frmMain", "missing", " ", ""},             // a lone space reads as empty
      {"Nowhere", "gravc", "0", "0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.section) + "/" + c.key);
    EXPECT_EQ(ini.ReadString(c.section, c.key, c.defaultValue), c.expected);
  }
}

TEST(IniFileRead, LongValuesAreCut) {
  TempDir dir;
  const std::string path = dir / "long.ini";
  const std::string longValue(3000, 'x');
  WriteFileText(path, "[s]\nk=" + longValue + "\n");
  const TIniFile ini(path);
  EXPECT_EQ(ini.ReadString("s", "k", ""), std::string(kIniValueChars, 'x'));
  EXPECT_EQ(ini.ReadString("s", "absent", longValue), std::string(kIniValueChars, 'x'));
}

TEST(IniFileRead, IntegersAndBooleans) {
  struct Case {
    const char* text;
    int expected;  // with default -99
  };
  const Case cases[] = {
      {"16", 16},          {"0x10", 16},       {"0X1f", 31},      {"-5", -5},
      {"+7", 7},           {"0", 0},           {"0xFFFFFFFF", -1}, {"abc", -99},
      {"12abc", -99},      {"1.5", -99},       {"", -99},          {"0x", -99},
      {"0x123456789", -99}, {"99999999999", -99}, {"+-3", -99},    {"$10", -99},
      {"1 2", -99},
  };
  TempDir dir;
  const std::string path = dir / "int.ini";
  std::string text = "[s]\n";
  const auto key = [](std::size_t i) {
    std::string k = "k";
    return k.append(std::to_string(i));
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    text.append(key(i)).append("=").append(cases[i].text).append("\n");
  }
  WriteFileText(path, text);
  const TIniFile ini(path);
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].text);
    EXPECT_EQ(ini.ReadInteger("s", key(i), -99), cases[i].expected);
  }
  EXPECT_EQ(ini.ReadInteger("s", "absent", 42), 42);

  WriteFileText(path, "[s]\ntwo=2\nzero=0\nword=abc\nhex=0x0\n");
  const TIniFile bools(path);
  EXPECT_TRUE(bools.ReadBool("s", "two", false));
  EXPECT_FALSE(bools.ReadBool("s", "zero", true));
  EXPECT_TRUE(bools.ReadBool("s", "word", true));  // not an integer: the default
  EXPECT_FALSE(bools.ReadBool("s", "word", false));
  EXPECT_FALSE(bools.ReadBool("s", "hex", true));
  EXPECT_TRUE(bools.ReadBool("s", "absent", true));
}

TEST(IniFileRead, MissingFileIsEmptyAndStaysMissing) {
  TempDir dir;
  const std::string path = dir / "none.ini";
  const TIniFile ini(path);
  EXPECT_EQ(ini.ReadString("frmMain", "gravc", "0.006673"), "0.006673");
  EXPECT_EQ(ini.ReadInteger("frmMain", "nlayer", 3), 3);
  EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(IniFileRead, UnreadableFileIsAnError) {
  TempDir dir;
  const std::string path = dir / "folder.ini";
  std::filesystem::create_directory(path);  // exists, but reading it fails
  const TIniFile ini(path);
  EXPECT_THROW(ini.ReadString("frmMain", "gravc", ""), TIniFileError);
}

// A FIFO blocked the read, /dev/zero filled the memory; a directory failed
// with no reason given.
TEST(IniFileRead, WhatIsNotARegularFileIsRefusedAtOnce) {
  TempDir dir;
  const std::string fifo = dir / "fifo.ini";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& path : {dir.path().string(), fifo, std::string("/dev/zero")}) {
    SCOPED_TRACE(path);
    const TIniFile ini(path);
    alarm(20);  // a blocking read ends the test process instead of hanging the run
    try {
      ini.ReadString("frmMain", "datafile", "");
      ADD_FAILURE() << "read";
    } catch (const TIniFileError& e) {
      EXPECT_EQ(std::string(e.what()), "cannot read " + path + ": not a regular file");
    }
    alarm(0);
  }
}

TEST(IniFileRead, FileBeyondTheSizeBoundIsRefused) {
  TempDir dir;
  const std::string path = dir / "huge.ini";
  WriteFileText(path, "[frmMain]\ndatafile=a.dat\n");
  std::filesystem::resize_file(path, kIniMaxFileBytes + 1);  // sparse: costs no disk
  const TIniFile ini(path);
  try {
    ini.ReadString("frmMain", "datafile", "");
    ADD_FAILURE() << "read";
  } catch (const TIniFileError& e) {
    EXPECT_EQ(std::string(e.what()), "cannot read " + path + ": larger than 64 MiB");
  }
}

// Editors on some systems start a UTF-8 file with a byte-order mark; the
// first section used to read as no section at all.
TEST(IniFileRead, ByteOrderMarkIsPassedOverAndKept) {
  const std::string mark = "\xEF\xBB\xBF";
  for (const std::string lineEnd : {"\n", "\r\n"}) {
    SCOPED_TRACE(lineEnd.size());
    TempDir dir;
    const std::string path = dir / "bom.ini";
    WriteFileText(path, mark + "[frmMain]" + lineEnd + "datafile=a.dat" + lineEnd);
    TIniFile ini(path);
    EXPECT_EQ(ini.ReadString("frmMain", "datafile", ""), "a.dat");
    ini.WriteString("frmMain", "R", "6371000");
    ini.UpdateFile();
    EXPECT_EQ(ReadFileText(path),
              mark + "[frmMain]" + lineEnd + "datafile=a.dat" + lineEnd + "R=6371000" + lineEnd);
  }
}

// Keys are found through an index built once (its speed is measured by
// bench/settings_read.cpp): every one of a large table, in any case, the
// last first.
TEST(IniFileRead, EveryKeyOfALargeTableIsFound) {
  constexpr int kKeys = 50000;
  TempDir dir;
  const std::string path = dir / "many.ini";
  std::string text = "; a large table\n[Other]\nk=0\n[frmMain]\n";
  for (int i = 0; i < kKeys; ++i) {
    text += "cell_row-" + std::to_string(i) + "_col-1=grid" + std::to_string(i) + ".grd\n";
  }
  WriteFileText(path, text);
  const TIniFile ini(path);
  int wrong = 0;
  for (int i = kKeys - 1; i >= 0; --i) {
    const std::string key = "CELL_ROW-" + std::to_string(i) + "_COL-1";
    wrong += ini.ReadString("frmMain", key, "") != "grid" + std::to_string(i) + ".grd";
  }
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(ini.ReadString("Other", "K", ""), "0");
}

TEST(IniFileWrite, ReplacesInPlaceAppendsAndKeepsTheRest) {
  TempDir dir;
  const std::string path = dir / "w.ini";
  WriteFileText(path,
                "; head comment\n"
                "[Other]\n"
                "k = v  \n"
                "\n"
                "[frmMain]\n"
                "zeta=1\n"
                "  gravc  =  0.5  \n"
                "R=6\n"
                "; trailing comment of the section\n"
                "\n"
                "[Last]\n"
                "a=b\n"
                "; end comment");  // no final line break
  TIniFile ini(path);
  ini.WriteString("frmMain", "GRAVC", "0.006673");  // the existing spelling stays
  ini.WriteString("frmMain", "added", "new");
  ini.WriteInteger("frmMain", "number", -12);
  ini.WriteBool("Last", "sum", true);
  ini.WriteBool("Fresh", "sum", false);
  ini.WriteString("frmMain", "R", " ");
  ini.UpdateFile();
  EXPECT_EQ(ReadFileText(path),
            "; head comment\n"
            "[Other]\n"
            "k = v  \n"
            "\n"
            "[frmMain]\n"
            "zeta=1\n"
            "gravc=0.006673\n"
            "R= \n"
            "added=new\n"
            "number=-12\n"
            "; trailing comment of the section\n"
            "\n"
            "[Last]\n"
            "a=b\n"
            "sum=1\n"
            "; end comment\n"
            "[Fresh]\n"
            "sum=0\n");
  // The written file reads back by the same rules.
  const TIniFile again(path);
  EXPECT_EQ(again.ReadString("frmMain", "R", "x"), "");
  EXPECT_EQ(again.ReadInteger("frmMain", "number", 0), -12);
}

// Writes change the lines that later reads and writes look up: each read
// must see every earlier write, with the same first-section, first-key and
// where-it-goes rules as a file read afresh.
TEST(IniFileWrite, ReadsAndWritesSeeEveryEarlierWrite) {
  TempDir dir;
  const std::string path = dir / "idx.ini";
  WriteFileText(path, "[a]\nk=1\n[b]\nx=1\n[A]\nk=late\n");
  TIniFile ini(path);
  ini.WriteString("a", "new", "2");  // between k=1 and [b]
  ini.WriteString("a", "K", "3");    // in place; the spelling in the file stays
  ini.WriteString("c", "z", "9");    // a new section at the end ...
  ini.WriteString("c", "y", "8");    // ... that takes its next key after z
  ini.WriteString("b", "[q", "1");   // reads back as a header: section "q=1" starts there
  ini.WriteString("b", "w", "2");    // so [b] ends before it
  ini.WriteString("Q=1", "m", "v");  // the new section's first key, right after its header
  struct Case {
    const char* section;
    const char* key;
    const char* expected;
  };
  const Case cases[] = {
      {"a", "new", "2"}, {"A", "k", "3"}, {"c", "y", "8"}, {"C", "Z", "9"},
      {"b", "w", "2"},   {"b", "[q", "-"}, {"q=1", "m", "v"}, {"a", "late", "-"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.section) + "/" + c.key);
    EXPECT_EQ(ini.ReadString(c.section, c.key, "-"), c.expected);
  }
  ini.UpdateFile();
  const std::string expected = "[a]\nk=3\nnew=2\n[b]\nx=1\nw=2\n[q=1\nm=v\n[A]\nk=late\n[c]\nz=9\ny=8\n";
  EXPECT_EQ(ReadFileText(path), expected);
  const TIniFile again(path);
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("again ") + c.section + "/" + c.key);
    EXPECT_EQ(again.ReadString(c.section, c.key, "-"), c.expected);
  }
}

TEST(IniFileSection, KeysInFileOrderAndDeletions) {
  TempDir dir;
  const std::string path = dir / "del.ini";
  WriteFileText(path,
                "[zones]\n"
                "; a comment is no key\n"
                "Zone2=b\n"
                "zone1=a\n"
                "ZONE2=second of its name\n"
                "\n"
                "[Other]\n"
                "k=v\n"
                "[zones]\n"
                "late=not read\n");
  TIniFile ini(path);
  EXPECT_EQ(ini.ReadSectionKeys("ZONES"), (std::vector<std::string>{"Zone2", "zone1"}));
  EXPECT_TRUE(ini.ReadSectionKeys("absent").empty());

  ini.DeleteKey("zones", "zone2");
  EXPECT_EQ(ini.ReadString("zones", "zone2", "-"), "second of its name");  // now the first
  ini.DeleteKey("zones", "missing");
  ini.DeleteKey("absent", "k");
  EXPECT_EQ(ini.ReadSectionKeys("zones"), (std::vector<std::string>{"zone1", "ZONE2"}));
  ini.WriteString("zones", "zone3", "c");  // after the last key that is left
  ini.UpdateFile();
  EXPECT_EQ(ReadFileText(path),
            "[zones]\n; a comment is no key\nzone1=a\nZONE2=second of its name\nzone3=c\n\n"
            "[Other]\nk=v\n[zones]\nlate=not read\n");

  ini.EraseSection("Zones");  // the first of the name, up to the next header
  ini.EraseSection("absent");
  EXPECT_TRUE(ini.ReadSectionKeys("other") == std::vector<std::string>{"k"});
  ini.WriteString("Other", "j", "w");
  ini.UpdateFile();
  EXPECT_EQ(ReadFileText(path), "[Other]\nk=v\nj=w\n[zones]\nlate=not read\n");
  const TIniFile again(path);
  EXPECT_EQ(again.ReadString("zones", "late", "-"), "not read");  // the second is the first now
}

TEST(IniFileWrite, KeepsCrLfLineEnds) {
  TempDir dir;
  const std::string path = dir / "crlf.ini";
  WriteFileText(path, "[frmMain]\r\ngravc=1\r\n");
  TIniFile ini(path);
  EXPECT_EQ(ini.ReadString("frmMain", "gravc", ""), "1");
  ini.WriteString("frmMain", "gravc", "2");
  ini.WriteString("frmMain", "incr", "0");
  ini.UpdateFile();
  EXPECT_EQ(ReadFileText(path), "[frmMain]\r\ngravc=2\r\nincr=0\r\n");
}

TEST(IniFileWrite, LineBreaksInValuesCannotAddKeys) {
  TempDir dir;
  const std::string path = dir / "nl.ini";
  TIniFile ini(path);
  ini.WriteString("frmMain", "datafile", "a\nnlayer=999");
  ini.UpdateFile();
  EXPECT_EQ(ReadFileText(path), "[frmMain]\ndatafile=a nlayer=999\n");
}

TEST(IniFileSave, LinkStaysALink) {
  TempDir dir;
  const std::string real = dir / "real.ini", link = dir / "link.ini";
  WriteFileText(real, "[frmMain]\ngravc=1\n");
  std::filesystem::create_symlink(real, link);
  TIniFile ini(link);
  ini.WriteString("frmMain", "gravc", "2");
  ini.UpdateFile();
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(ReadFileText(real), "[frmMain]\ngravc=2\n");
}

TEST(IniFileSave, FolderMissingThrowsAndLeavesNothing) {
  TempDir dir;
  TIniFile ini(dir / "no/such/folder/x.ini");
  ini.WriteString("frmMain", "gravc", "1");
  EXPECT_THROW(ini.UpdateFile(), TIniFileError);
}

// A write that fails half-way (here: the file size limit) must leave the
// previous file exactly as it was, and no temporary file behind.
TEST(IniFileSave, FailedSaveLeavesOldFileWhole) {
  TempDir dir;
  const std::string path = dir / "keep.ini";
  const std::string before = "[frmMain]\ngravc=1\n";
  WriteFileText(path, before);

  TIniFile ini(path);
  ini.WriteString("frmMain", "datafile", std::string(4096, 'p'));

  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit small = old;
  small.rlim_cur = 100;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  bool threw = false;
  try {
    ini.UpdateFile();
  } catch (const TIniFileError&) {
    threw = true;
  }
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, oldHandler);

  EXPECT_TRUE(threw);
  EXPECT_EQ(ReadFileText(path), before);
  int files = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.path())) ++files;
  EXPECT_EQ(files, 1);
}

}  // namespace
}  // namespace globelayers

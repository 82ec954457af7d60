// Computation point files: one point per line (longitude, latitude, point
// number, height), numbers separated by blanks, tabs or commas, always with
// the decimal point. Comment lines start with '/', header lines contain
// "LINE". Lines are read in pieces of at most 126 characters; a CR LF pair is
// one line break on every platform.
//
// A point file may also be CSV: a first line naming the columns, separated
// by commas, in any order and case (longitude: lon, lambda, longitude;
// latitude: lat, phi, latitude; height: h, height, elevation; point number:
// id, point, name), other columns passed over. Without a point number
// column the points are numbered from 1 in file order. Lines are then read
// in pieces of at most 4096 characters; one whose columns are not all
// numbers is no point, as in the plain format.
#pragma once

#include <cstdio>
#include <optional>
#include <string>

#include "UserPrompts.h"

namespace globelayers {

struct TCalcPoint {
  double lambda = 0;       // longitude, degrees
  double phi = 0;          // latitude, degrees
  double pointNumber = 0;  // written back with no decimals
  double height = 0;       // metres; the point lies at earthRadius + height
};

inline constexpr int kPointLineChars = 126;

// Reads the next piece of the stream (up to and including a line break, at
// most 126 characters) and judges it. `atEnd` becomes true once the stream
// reports its end. Empty when the piece is passed over or is not a point,
// and when one of its four numbers is not finite (nan, inf, 1e999): such a
// point would turn every sum of the run into NaN.
std::optional<TCalcPoint> ReadPointLine(std::FILE* stream, bool& atEnd);

// The same rule on one piece already read (at most 126 characters).
std::optional<TCalcPoint> ParsePointLine(std::string piece);

// Where the values of a point lie in a CSV line: column indices from 0;
// pointNumber is -1 when the file has no such column.
struct TCsvColumns {
  int lambda = -1;
  int phi = -1;
  int height = -1;
  int pointNumber = -1;
};

inline constexpr int kCsvLineChars = 4096;

// What the first line of a point file says of its format: a CSV header, a
// header that names columns but cannot be used (`fault` says why, naming
// the file), or neither (the plain format).
struct TPointFormat {
  std::optional<TCsvColumns> csv;
  std::string fault;
};

// Reads the first line of `stream` and rewinds it.
TPointFormat ReadPointFormat(std::FILE* stream, const std::string& fileName);

// The points of a stream in its format, from its start.
class TPointReader {
 public:
  TPointReader(std::FILE* stream, const TPointFormat& format) : stream_(stream), csv_(format.csv) {}
  // The next point as ReadPointLine gives it; for a point with a number
  // that is not finite, `notFinite` (when given) receives it as written.
  std::optional<TCalcPoint> Next(bool& atEnd, std::string* notFinite = nullptr);
  // Whether the piece last read ended its line.
  bool EndedLine() const { return endedLine_; }

 private:
  std::FILE* stream_;
  std::optional<TCsvColumns> csv_;
  bool headerPassed_ = false;
  bool endedLine_ = false;
  long csvPoints_ = 0;  // points read so far, which number a file without a point column
};

// Why the points of a file cannot be run.
enum class TPointFileFault {
  None,
  Unopenable,  // cannot be opened, or is not a regular file
  NotFinite,   // a point holds a number that is not finite
  CsvHeader,   // a CSV header that names no usable set of columns
};

struct TPointCount {
  std::optional<long> count;  // empty on a fault
  TPointFileFault fault = TPointFileFault::None;
  // "Error by opening file %s" (Unopenable), or "Line %ld of %s holds a
  // number that is not finite: '%s'" (line number from 1, file name, the
  // number as written) at the first point holding one (NotFinite).
  std::string message;
  bool ok() const { return fault == TPointFileFault::None; }
};

// Counts the points of a file.
TPointCount CountFilePoints(const std::string& fileName);

// The same, showing the message of a fault on `prompts`; empty then.
std::optional<long> CountPoints(const std::string& fileName, IUserPrompts& prompts);

}  // namespace globelayers

// Computation point files: one point per line (longitude, latitude, point
// number, height), numbers separated by blanks, tabs or commas, always with
// the decimal point. Comment lines start with '/', header lines contain
// "LINE". Lines are read in pieces of at most 126 characters; a CR LF pair is
// one line break on every platform.
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

// Why the points of a file cannot be run.
enum class TPointFileFault {
  None,
  Unopenable,  // cannot be opened, or is not a regular file
  NotFinite,   // a point holds a number that is not finite
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

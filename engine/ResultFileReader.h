// Reading back a result file written by this program (ResultFile.h), for
// the result view and anything else that wants the computed numbers as a
// table. The header must be exactly one that ResultHeader writes; every
// further line must hold one number per column. The unit of DTE and DTE(i)
// is not in the file, nor is the number of layer rows of a file of sums
// only: the caller gives them, from the run log beside the file when there
// is one (settings/ reads it).
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "ResultFile.h"

namespace globelayers {

// At most this many numbers are held in memory (8 bytes each: 320 MB, two
// million lines of 20 columns); a longer file is refused, naming the line.
inline constexpr std::size_t kMaxResultValues = 40'000'000;

enum class TResultQuantity {
  Longitude,  // degrees
  Latitude,   // degrees
  PointNumber,
  Height,     // metres
  Dte,        // attraction at the point: mGal or microGal
  DteRaised,  // attraction at the raised point: mGal or microGal
  Gradient,   // VGDRE, mGal/m in both units
};

struct TResultColumn {
  std::string name;   // as in the header, trimmed: "Lambda", "DTE 2", "DTE(i)"
  std::string unit;   // "deg", "m", "mGal", "microGal", "mGal/m"; empty for the point number
  TResultQuantity quantity = TResultQuantity::Dte;
  int layer = 0;      // 1.. for a layer's column, 0 for the point's values and the sums
  int decimals = 0;   // digits after the point as the file writes them
};

struct TResultTable {
  std::string fileName;
  TResultLayout layout;
  bool microGal = false;                 // DTE and DTE(i) in microGal
  std::vector<TResultColumn> columns;    // the point's four values first, the sums last
  std::vector<double> values;            // row-major: line r, column c at r * columns.size() + c
  std::size_t RowCount() const { return columns.empty() ? 0 : values.size() / columns.size(); }
  double At(std::size_t row, std::size_t column) const { return values[row * columns.size() + column]; }
  // The column the view colours by first: the summed DTE.
  std::size_t SummedDteColumn() const;
  // The value of `column` in row `row` as the file writes it ("%.*f").
  std::string ValueText(std::size_t row, std::size_t column) const;
};

// Why a result file could not be read.
enum class TResultFault {
  None,
  Unopenable,      // the file cannot be opened
  NotRegular,      // a directory, FIFO, device or socket
  Empty,           // no header line
  LineTooLong,     // a line longer than any this program writes
  UnknownHeader,   // the header is not one that ResultHeader writes
  HeaderNotOfRun,  // the header is one, but not of the run its shape describes
  AmbiguousHeader, // more than one layout writes this header: the run's shape is needed
  TooManyPoints,   // more numbers than maxValues
  NotANumber,      // a value that does not read, or is not finite
  LastLineCut,     // the last line ends inside a number
  ColumnCount,     // a line with another number of values than the header's columns
  Unreadable,      // a read error before the end
};

struct TResultRead {
  std::optional<TResultTable> table;  // empty when the file could not be read
  TResultFault fault = TResultFault::None;
  std::string message;                // why not, naming the file and the line
  bool ok() const { return fault == TResultFault::None; }
};

// What the run that wrote a result file tells of its layout; the header
// then says only whether the file holds the layers or the sums.
struct TResultShape {
  bool gradient = false;  // the run's increment was not 0: DTE(i) and VGDRE columns
  int rowCount = 2;       // the run's layer rows
};

// Reads the whole file, its layout taken from the header alone (a file of
// sums only then counts 2 layer rows). `microGal` sets the unit of DTE and
// DTE(i). `maxValues` bounds the numbers held (point lines times columns).
TResultRead ReadResultFile(const std::string& fileName, bool microGal,
                           std::size_t maxValues = kMaxResultValues);

// The same with the layout of the run that wrote it: a header of another
// layout is refused (HeaderNotOfRun).
TResultRead ReadResultFile(const std::string& fileName, bool microGal, const TResultShape& shape,
                           std::size_t maxValues = kMaxResultValues);

}  // namespace globelayers

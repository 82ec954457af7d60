// Reading back a result file written by this program (ResultFile.h), for
// the result view and anything else that wants the computed numbers as a
// table. The header must be exactly one that ResultHeader writes: it tells
// the layout (per-layer or sums only, with or without gradient) and the
// number of layers; every further line must hold one number per column.
// The unit of DTE and DTE(i) is not in the file: the run log beside it
// names it ("Output unit: microGal").
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

struct TResultRead {
  std::optional<TResultTable> table;  // empty when the file could not be read
  std::string message;                // why not, naming the file and the line
};

// Reads the whole file. `microGal` sets the unit of DTE and DTE(i).
// `maxValues` bounds the numbers held (point lines times columns).
TResultRead ReadResultFile(const std::string& fileName, bool microGal,
                           std::size_t maxValues = kMaxResultValues);

// The run log that a run writes beside its result file: "x_dce.dat" gives
// "x_dce.con"; empty for a name that does not end in "_dce.dat".
std::string RunLogNameForResult(const std::string& resultFileName);

// What the result view takes from a run log: the output unit, and the first
// layer row's elevation grid when the line names one unambiguously (four
// cells without blanks in them).
struct TRunLogFacts {
  std::optional<bool> microGal;
  std::string firstElevationGrid;
};
TRunLogFacts ReadRunLogFacts(const std::string& runLogFileName);

// The table as comma-separated text: a header line of the column names with
// their units in brackets ("DTE [mGal]"), then one line per row with every
// number as the result file writes it. False when the file cannot be
// written; `message` then names it.
bool WriteResultCsv(const TResultTable& table, const std::string& fileName, std::string& message);

}  // namespace globelayers

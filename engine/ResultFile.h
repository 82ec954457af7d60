// The result file: a header and one fixed-width line per point, in one of
// four layouts (per-layer or sums only, with or without gradient). Lines are
// built as text here and written by the run, so they can be produced on any
// thread and written in point order.
#pragma once

#include <string>

#include "PointFile.h"

namespace globelayers {

// The data file name with its extension (from the last '.' of the last path
// component) replaced by appendText + ending ("_dce.dat", "_dce.con").
std::string OutputFileName(const std::string& dataFile, const std::string& appendText,
                           const std::string& ending);

struct TResultLayout {
  bool gradient = false;  // increment != 0: DTE(i) and VGDRE are written
  bool perLayer = false;  // !sumOnly && rowCount > 2
  int rowCount = 2;       // layer rows; layers are numbered 1 .. rowCount-1
};

TResultLayout MakeResultLayout(double increment, bool sumOnly, int rowCount);

std::string ResultHeader(const TResultLayout& layout);

// One group of values; dte and dteI already multiplied by the unit factor.
struct TResultGroup {
  double dte = 0;
  double dteI = 0;
  double vgdre = 0;
};

// The piece for layer `layerIndex` (0-based) in the per-layer layout; layer 0
// carries the point's four values in front.
std::string ResultLayerPiece(const TResultLayout& layout, const TCalcPoint& point, int layerIndex,
                             const TResultGroup& group);
// The end of the line: the sums (and, without per-layer columns, the point's
// four values in front), ending in "\n".
std::string ResultLineEnd(const TResultLayout& layout, const TCalcPoint& point,
                          const TResultGroup& sum);

}  // namespace globelayers

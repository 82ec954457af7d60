// The result file: a header and one fixed-width line per point, in one of
// four layouts (per-layer or sums only, with or without gradient). Lines are
// built as text here and written by the run, so they can be produced on any
// thread and written in point order.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "FileReplacement.h"
#include "PointFile.h"

namespace globelayers {

// The data file name with its extension (from the last '.' of the last path
// component) replaced by appendText + ending ("_dce.dat", "_dce.con").
std::string OutputFileName(const std::string& dataFile, const std::string& appendText,
                           const std::string& ending);

// The ending of a result file's name after the data file's stem and the
// append text.
inline constexpr char kResultFileEnding[] = "_dce.dat";

struct TResultLayout {
  bool gradient = false;  // increment != 0: DTE(i) and VGDRE are written
  bool perLayer = false;  // !sumOnly && rowCount > 2
  int rowCount = 2;       // layer rows; layers are numbered 1 .. rowCount-1
  // Every number to the last bit ("%.17g", single spaces) instead of the
  // file's fixed columns: for a caller that reads the values back from the
  // line (the Python module). Never written to a result file.
  bool exact = false;
};

TResultLayout MakeResultLayout(double increment,  // metres; 0: no raised point
                               bool sumOnly,      // only the sums, no per-layer columns
                               int rowCount);     // layer rows

std::string ResultHeader(const TResultLayout& layout);

// One group of values; dte and dteI already multiplied by the unit factor,
// vgdre formed before it.
struct TResultGroup {
  double dte = 0;    // attraction at the point: mGal, or microGal with unit factor 1000
  double dteI = 0;   // at the raised point: mGal, or microGal with unit factor 1000
  double vgdre = 0;  // vertical gradient (dteI - dte) / increment, mGal/m whatever the unit
};

// The piece for layer `layerIndex` (0-based) in the per-layer layout; layer 0
// carries the point's four values in front.
std::string ResultLayerPiece(const TResultLayout& layout, const TCalcPoint& point, int layerIndex,
                             const TResultGroup& group);
// The end of the line: the sums (and, without per-layer columns, the point's
// four values in front), ending in "\n".
std::string ResultLineEnd(const TResultLayout& layout, const TCalcPoint& point,
                          const TResultGroup& sum);

// Writes a result file in whole lines. Text is buffered and written in large
// blocks; when a write fails (a full disk, a file size limit), the file is
// cut back to the end of the last whole piece that reached it, so that it
// never ends in half a line. Each Write hands over whole lines.
//
// The file is written under a temporary name beside the final one and takes
// the final name at Commit (FileReplacement.h): until then a file of an
// earlier run under that name stays as it was, and a writer that finishes
// or goes without a commit leaves no file behind.
class TResultFileWriter {
 public:
  TResultFileWriter() = default;
  ~TResultFileWriter();  // committed: writes what is pending (whole pieces only); closes
  TResultFileWriter(const TResultFileWriter&) = delete;
  TResultFileWriter& operator=(const TResultFileWriter&) = delete;

  // Starts a new file for `path`. False when it cannot be opened, and for
  // a FIFO that no process reads.
  bool Open(const std::string& path);
  // False once a write failed; the file then ends after the last whole piece.
  bool Write(const std::string& text);
  // Puts the file under its final name (the earlier file there is replaced);
  // false when that failed. Later calls do nothing.
  bool Commit();
  bool committed() const { return replacement_.committed(); }
  // Writes what is pending and closes; false when a write or the close
  // failed. A file never committed is removed instead.
  bool Finish();

 private:
  bool Flush();

  TFileReplacement replacement_;
  int fd_ = -1;
  bool failed_ = false;
  std::string pending_;                  // text not yet written
  std::vector<std::size_t> pieceEnds_;   // ends of the pieces in pending_
  std::int64_t written_ = 0;             // bytes in the file before pending_
};

}  // namespace globelayers

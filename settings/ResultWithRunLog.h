// A result file read with the run log beside it, as the result view opens
// one: the log tells the unit of DTE and DTE(i) and the run's layout, which
// the header alone does not (a file of sums only does not say how many
// layer rows its run had).
#pragma once

#include <string>

#include "ResultFileReader.h"
#include "RunLog.h"

namespace globelayers {

struct TResultWithRunLog {
  TResultRead read;
  TRunLogFacts log;  // all empty without a log
};

// Reads `resultFile` and the log RunLogNameForResult names. `microGal` is
// the unit when the log does not name one. A log that tells the increment
// and the layer row count gives the layout, and a header of another layout
// is refused (the two files are not of one run); without them the header
// alone tells the layout.
TResultWithRunLog ReadResultWithRunLog(const std::string& resultFile, bool microGal);

}  // namespace globelayers

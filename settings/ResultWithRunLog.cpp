#include "ResultWithRunLog.h"

namespace globelayers {

TResultWithRunLog ReadResultWithRunLog(const std::string& resultFile, bool microGal) {
  TResultWithRunLog out;
  out.log = ReadRunLogFacts(RunLogNameForResult(resultFile));
  const bool unitMicroGal = out.log.microGal.value_or(microGal);
  if (out.log.incrementM && out.log.layerRowCount) {
    const TResultShape shape{.gradient = *out.log.incrementM != 0, .rowCount = *out.log.layerRowCount};
    out.read = ReadResultFile(resultFile, unitMicroGal, shape);
  } else {
    out.read = ReadResultFile(resultFile, unitMicroGal);
  }
  return out;
}

}  // namespace globelayers

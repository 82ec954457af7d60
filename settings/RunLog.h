// The run log ("_dce.con"): every parameter of a run as the window showed
// it, with the start and end times, written beside the point file after the
// engine returned, whatever the run's outcome.
#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "WindowState.h"
#include "Zone.h"

namespace globelayers {

// A local clock reading.
struct TClockTime {
  int h = 0;  // 0..23
  int m = 0;  // 0..59
  int s = 0;  // 0..60
};

// The local clock now, or at `when`.
TClockTime LocalClockTime();
TClockTime LocalClockTime(std::time_t when);

// Why a run stopped before its last point without anybody being asked.
struct TRunInterruption {
  std::string cause;  // what stopped it, e.g. "SIGINT"
  TClockTime at;      // when it arrived
};

// "Run interrupted by SIGINT at 12:34:56; the result file holds the points
// completed before it.", without the newline.
std::string InterruptionText(const TRunInterruption& interruption);

// How a run ended, the run log's last line.
struct TRunEnding {
  enum class TKind {
    Completed,    // every point computed and written
    Cancelled,    // the user confirmed Cancel
    Interrupted,  // a signal stopped it (interruption)
    Failed,       // refused or failed after its result file was put in place (message)
  };
  TKind kind = TKind::Completed;
  TClockTime at;                   // Cancelled: when the run stopped
  TRunInterruption interruption;   // Interrupted: the signal and when it came
  std::string message;             // Failed: the message the user was shown

  static TRunEnding Completed() { return {}; }
  static TRunEnding Cancelled(TClockTime at) {
    TRunEnding ending;
    ending.kind = TKind::Cancelled;
    ending.at = at;
    return ending;
  }
  static TRunEnding Interrupted(TRunInterruption interruption) {
    TRunEnding ending;
    ending.kind = TKind::Interrupted;
    ending.interruption = std::move(interruption);
    return ending;
  }
  static TRunEnding Failed(std::string message) {
    TRunEnding ending;
    ending.kind = TKind::Failed;
    ending.message = std::move(message);
    return ending;
  }
};

// The run log's last line without its newline: "Run completed.", "Run
// cancelled at 12:34:56; the result file holds the points completed before
// it.", the interruption's text, or "Run failed: " and the message on one
// line.
std::string RunEndingText(const TRunEnding& ending);

// The data file name with its extension replaced by the append text and
// "_dce.con".
std::string RunLogFileName(const TWindowState& state);

// The log's text: field texts as they stand, except that numbers typed with
// `decimalSeparator` (the user's) are written with a decimal point
// (WithFileNumbers); the log's own numbers in the C locale. "Number of
// layer" is the count of layer rows the run used. Zone keys add one line
// per zone after the layers ("Zone 1: 0 - 0.1 deg, segment 15\"", segment in
// arc-seconds, ", block means" where the zone samples them); a preset adds
// "Zone preset: NAME" and then the lines of `usedZones`, the bands the
// engine formed from it (TCalcEngine::UsedZones); the line of `ending` is
// the last.
std::string RunLogText(const TWindowState& state, TClockTime start, TClockTime end,
                       const TRunEnding& ending = TRunEnding::Completed(),
                       const std::vector<TZone>& usedZones = {},
                       char decimalSeparator = kFileDecimalSeparator);

struct TRunLogResult {
  bool ok = true;
  std::string message;  // "Error by opening file %s\n" or "Error by writing file %s\n" with the name
};

// Writes RunLogText to `path`, under a temporary name first that takes the
// final one once the whole text is written (FileReplacement.h): a log is
// never left half written, and a failed write leaves an earlier log as it
// was. The file is closed on every path.
[[nodiscard]] TRunLogResult WriteRunLog(
    const std::string& path, const TWindowState& state, TClockTime start, TClockTime end,
    const TRunEnding& ending = TRunEnding::Completed(), const std::vector<TZone>& usedZones = {},
    char decimalSeparator = kFileDecimalSeparator);

}  // namespace globelayers

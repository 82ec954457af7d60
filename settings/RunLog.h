// The run log ("_dce.con"): every parameter of a run as the window showed
// it, with the start and end times, written beside the point file after the
// engine returned, whatever the run's outcome. Its lines are spelled here
// only: this file writes them and reads back what a result file's reader
// needs (the unit, the layout, the first elevation grid).
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
// "Zone preset: NAME", its bound and then the lines of `usedZones`, the
// bands the engine formed from it (TCalcEngine::UsedZones). With zones the
// fields Phi from, Phi to and Segment size were not used: "Phi from" and
// "Phi to" hold the zones' inner and outer distances ("zones" while a
// preset's bands are unknown), "Segment size" holds "zones", and one line
// before the zones names the unused field texts. The line of `ending` is
// the last.
std::string RunLogText(const TWindowState& state, TClockTime start, TClockTime end,
                       const TRunEnding& ending = TRunEnding::Completed(),
                       const std::vector<TZone>& usedZones = {},
                       char decimalSeparator = kFileDecimalSeparator);

// Why a run log was not written.
enum class TRunLogFault {
  None,
  Unopenable,  // its file cannot be created ("Error by opening file %s\n")
  Unwritable,  // the text did not reach it whole ("Error by writing file %s\n"); an earlier log stays
};

struct TRunLogResult {
  TRunLogFault fault = TRunLogFault::None;
  std::string message;  // the fault's text with the log's name
  bool ok() const { return fault == TRunLogFault::None; }
};

// Writes RunLogText to `path`, under a temporary name first that takes the
// final one once the whole text is written (FileReplacement.h): a log is
// never left half written, and a failed write leaves an earlier log as it
// was. The file is closed on every path.
[[nodiscard]] TRunLogResult WriteRunLog(
    const std::string& path, const TWindowState& state, TClockTime start, TClockTime end,
    const TRunEnding& ending = TRunEnding::Completed(), const std::vector<TZone>& usedZones = {},
    char decimalSeparator = kFileDecimalSeparator);

// The run log that a run writes beside its result file: "x_dce.dat" gives
// "x_dce.con"; empty for a name that does not end in "_dce.dat".
std::string RunLogNameForResult(const std::string& resultFileName);

// What readers of a result file take from the run log beside it. Each is
// empty when its line is missing or does not read.
struct TRunLogFacts {
  std::optional<bool> microGal;        // "Output unit": DTE and DTE(i) in microGal
  std::optional<double> incrementM;    // "Increment", metres: 0 means no DTE(i) and VGDRE columns
  std::optional<int> layerRowCount;    // "Number of layer": the layer rows of the run
  // The first layer row's elevation grid when its line names one
  // unambiguously (four cells without blanks in them); empty otherwise.
  std::string firstElevationGrid;
  // "Zone preset": the preset's name; empty for a run without one.
  std::string zonePreset;
  // The "Zone N" lines in order from zone 1: the bands a zone or preset run
  // used; empty for a run of the window's single zone.
  std::vector<TZone> zones;
};

// Reads those facts; all empty when there is no such file or it cannot be
// read as a regular file.
TRunLogFacts ReadRunLogFacts(const std::string& runLogFileName);

}  // namespace globelayers

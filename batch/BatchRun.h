// The headless front end: one calculation from a settings file of the main
// window, with the window's checks, files and run log, and messages on
// standard error instead of message boxes.
//
//   globelayers-batch [--unit mGal|microGal] [--threads N] [--zones PRESET] [--geotiff] [--output text|csv] SETTINGS.ini
//   globelayers-batch --help | --version
#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "Calculation.h"

namespace globelayers {

inline constexpr int kBatchCompleted = 0;  // the run went through every point
inline constexpr int kBatchFailed = 1;     // refused by a check, or failed with a message
inline constexpr int kBatchUsage = 2;      // bad command line
// Stopped by a signal after the points completed so far; the shell's
// 128 + signal number, as if the signal had ended the process.
inline constexpr int kBatchInterrupted = 130;  // SIGINT
inline constexpr int kBatchTerminated = 143;   // SIGTERM

std::string BatchUsage();

// What a command line asks for.
struct TBatchArgs {
  std::string settingsPath;
  int outputUnit = 0;      // 0 mGal, 1 microGal
  int threads = 0;         // worker threads; 0 = all cores
  std::optional<TZonePreset> zonePreset;  // --zones: replaces the settings file's [zones]
  bool geotiff = false;    // --geotiff: a GeoTIFF beside the netCDF of a grid of points
  bool csv = false;        // --output csv: the result as CSV too (_dce.csv)
  bool help = false;
  bool version = false;
};

// Why a command line cannot be run (exit status kBatchUsage).
enum class TBatchUsageFault {
  None,
  UnknownOption,         // "unknown option --bogus"
  MissingValue,          // "--unit needs a value"
  ZonePreset,            // "--zones must name a zone preset (standard, fine), not 'coarse'"
  Unit,                  // "--unit must be mGal or microGal, not 'kGal'"
  Output,                // "--output must be text or csv, not 'xls'"
  Threads,               // "--threads needs a whole number of 0 or more, not 'two'"
  TooManyThreads,        // "--threads 99 is more than 4 times this machine's 2 cores (at most 8)"
  NoSettingsFile,        // "no settings file given"
  SeveralSettingsFiles,  // "only one settings file can be run, not 2"
};

struct TBatchCommandLine {
  TBatchArgs args;  // complete when fault == None
  TBatchUsageFault fault = TBatchUsageFault::None;
  std::string message;  // the fault's text, naming the option or value; shown after the program's name
  bool ok() const { return fault == TBatchUsageFault::None; }
};

// Reads the arguments (without the program name); `defaultThreads` stands
// when --threads is not given. "--name value" and "--name=value" alike;
// after "--" every argument is a file.
TBatchCommandLine ParseBatchArgs(const std::vector<std::string>& args, int defaultThreads);

// What another headless front end changes of the batch; the defaults are
// the batch's own.
struct TBatchFrontEnd {
  std::string programName = "globelayers-batch";  // before a usage error
  std::string usage;                              // --help and usage errors; empty: BatchUsage()
  int defaultThreads = 0;                         // worker threads without --threads; 0 = all cores
  TPointLinesMaker pointLines;                    // empty: the points are evaluated in this process
  TGridLoader loadGrid;                           // empty: each grid is read by this process alone
  TGridWindowLoader loadGridWindow;               // see TRunOptions::loadGridWindow
  bool loadOnCallingThread = false;               // see TRunOptions::loadOnCallingThread
  std::function<void(const TRunParameters&, const TStationArea*)> beforeGrids;  // see TRunOptions::beforeGrids
};

// Runs the front end on `args` (without the program name). Help and the
// version go to `out`; messages, usage errors and the progress to `err`. The progress
// ("point i of n") is shown only when `errIsTerminal`. SIGINT and SIGTERM
// (unless ignored on entry) stop the calculation; they are caught until its
// log is written and the previous handlers are back on return. Returns the
// exit code.
int RunBatch(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
             bool errIsTerminal);
int RunBatch(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool errIsTerminal,
             const TBatchFrontEnd& frontEnd);

// The first SIGINT or SIGTERM recorded by the handlers of this file and not
// yet cleared by the end of a run; 0 when none.
int CaughtStopSignal();

// For the executable: SIGINT and SIGTERM (unless ignored) are recorded from
// now until the process exits, so that a signal that arrives after a run's
// log was written cannot end the process with another status. RunBatch
// puts back the handlers it found, which are then these.
void KeepStopSignalsUntilExit();

}  // namespace globelayers

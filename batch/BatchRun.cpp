#include "BatchRun.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <ctime>
#include <exception>
#include <filesystem>
#include <new>
#include <optional>
#include <ostream>
#include <string_view>
#include <thread>

#include "Calculation.h"
#include "NumberText.h"
#include "ResultCsv.h"
#include "ResultFile.h"
#include "ResultFileReader.h"
#include "RunLog.h"
#include "StopRequest.h"
#include "RunSetup.h"
#include "Version.h"
#include "WindowState.h"
#include "ZoneTable.h"

namespace globelayers {
namespace {

// Settings files hold numbers with a decimal point, whatever the locale of
// the machine that runs the batch; a number with a single comma (a file of
// an older decimal-comma window) is read with its comma as the point.
constexpr char kFileSeparator = '.';

// More worker threads than this per core only cost memory and switches; a
// larger --threads is a typing slip.
constexpr unsigned kMaxThreadsPerCore = 4;

// The first SIGINT or SIGTERM of a run (0: none) and the time it came
// (seconds since the epoch). Written by the handler, so lock-free atomics
// only; the time is stored before the signal, so whoever sees the signal
// sees its time.
std::atomic<int> gStopSignal{0};
std::atomic<std::int64_t> gStopTime{0};
static_assert(std::atomic<int>::is_always_lock_free);
static_assert(std::atomic<std::int64_t>::is_always_lock_free);

void RecordStopSignal(int signal) {
  // Only the first counts: a second Ctrl-C while the run winds down must not
  // change what the log says, nor end the process mid-write.
  if (gStopSignal.load() != 0) return;
  gStopTime.store(static_cast<std::int64_t>(std::time(nullptr)));
  int none = 0;
  gStopSignal.compare_exchange_strong(none, signal);
  // Loading grids and forming means look at this one between blocks.
  RequestLongStepStop();
}

int StopSignal() { return gStopSignal.load(); }

}  // namespace

int CaughtStopSignal() { return StopSignal(); }

namespace {

// SIGINT and SIGTERM turn into a stop request while this lives; the
// previous handlers come back afterwards, so a front end run in-process
// leaves its host as it was.
struct sigaction StopAction() {
  struct sigaction action {};
  action.sa_handler = RecordStopSignal;
  // Restarted calls: a write of the result file must not fail with EINTR.
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  sigaddset(&action.sa_mask, SIGINT);
  sigaddset(&action.sa_mask, SIGTERM);
  return action;
}

// Records SIGINT and SIGTERM for the duration of a run; the handlers that
// were there before come back afterwards.
class TStopSignals {
 public:
  TStopSignals() {
    // The flag is not cleared here: a signal caught since the process
    // started (KeepStopSignalsUntilExit) stops this run before its first
    // point. It is cleared when the run is over, for the next one.
    const struct sigaction action = StopAction();
    Install(SIGINT, action, previousInt_);
    Install(SIGTERM, action, previousTerm_);
  }
  ~TStopSignals() {
    ::sigaction(SIGINT, &previousInt_, nullptr);
    ::sigaction(SIGTERM, &previousTerm_, nullptr);
    gStopSignal.store(0);
    gStopTime.store(0);
    ClearLongStepStop();
  }
  TStopSignals(const TStopSignals&) = delete;
  TStopSignals& operator=(const TStopSignals&) = delete;

  static void Install(int signal, const struct sigaction& action, struct sigaction& previous) {
    ::sigaction(signal, nullptr, &previous);
    // A signal ignored from the start stays ignored: a script's background
    // job is meant to outlive the Ctrl-C that ends the script.
    if (!(previous.sa_flags & SA_SIGINFO) && previous.sa_handler == SIG_IGN) return;
    ::sigaction(signal, &action, nullptr);
  }

 private:
  struct sigaction previousInt_ {};
  struct sigaction previousTerm_ {};
};

}  // namespace

void KeepStopSignalsUntilExit() {
  const struct sigaction action = StopAction();
  struct sigaction previous {};
  TStopSignals::Install(SIGINT, action, previous);
  TStopSignals::Install(SIGTERM, action, previous);
}

namespace {

const char* SignalName(int signal) { return signal == SIGINT ? "SIGINT" : "SIGTERM"; }

// Standard error shared by the messages and the progress line, so that a
// message never lands in the middle of "point i of n".
class TConsole {
 public:
  explicit TConsole(std::ostream& err) : err_(err) {}

  void Message(const std::string& text) {
    EndProgressLine();
    err_ << text;
    if (text.empty() || text.back() != '\n') err_ << '\n';
    err_.flush();
  }
  void ProgressLine(const std::string& text) {
    err_ << '\r' << text << std::flush;
    midLine_ = true;
  }
  void EndProgressLine() {
    if (midLine_) err_ << '\n' << std::flush;
    midLine_ = false;
  }

 private:
  std::ostream& err_;
  bool midLine_ = false;
};

// Nobody can answer a question headless; a stop comes as a signal.
class TConsolePrompts : public IUserPrompts {
 public:
  explicit TConsolePrompts(TConsole& console) : console_(console) {}
  void ShowMessage(const std::string& text) override {
    lastMessage_ = text;
    console_.Message(text);
  }
  bool AskYesNo(const std::string& text) override {
    console_.Message(text + " No");
    return false;
  }
  // The last message shown: why a failed run failed, for its run log.
  const std::string& lastMessage() const { return lastMessage_; }

 private:
  TConsole& console_;
  std::string lastMessage_;
};

class TConsoleProgress : public IRunProgress {
 public:
  explicit TConsoleProgress(TConsole& console) : console_(console) {}
  void Show() override {}
  void Hide() override { console_.EndProgressLine(); }
  void SetCaption(const std::string&) override {}
  void SetMaximum(int maximum) override { maximum_ = maximum; }
  void SetPosition(int position) override {
    // Before each point the position is the number of points done.
    if (maximum_ > 0 && position < maximum_) {
      console_.ProgressLine(CFormat("point %d of %d", position + 1, maximum_));
    }
  }
  void ProcessMessages() override {}
  bool TakeCancelRequest() override { return false; }
  bool StopRequested() override { return StopSignal() != 0; }

 private:
  TConsole& console_;
  int maximum_ = 0;
};

// Standard error is not a terminal: no progress line, but signals still stop.
class TQuietProgress : public TSilentProgress {
 public:
  bool StopRequested() override { return StopSignal() != 0; }
};

TBatchCommandLine Usage(TBatchUsageFault fault, std::string message) {
  TBatchCommandLine refused;
  refused.fault = fault;
  refused.message = std::move(message);
  return refused;
}

}  // namespace

TBatchCommandLine ParseBatchArgs(const std::vector<std::string>& args, int defaultThreads) {
  TBatchCommandLine out;
  TBatchArgs& parsed = out.args;
  parsed.threads = defaultThreads;
  std::vector<std::string> files;
  bool optionsEnd = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (optionsEnd || arg.empty() || arg[0] != '-' || arg == "-") {
      files.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnd = true;
      continue;
    }
    if (arg == "--help" || arg == "-h") {
      parsed.help = true;
      continue;
    }
    if (arg == "--version") {
      parsed.version = true;
      continue;
    }
    if (arg == "--geotiff") {
      parsed.geotiff = true;
      continue;
    }
    // "--name value" or "--name=value".
    std::string name = arg, value;
    bool hasValue = false;
    if (const std::size_t eq = arg.find('='); eq != std::string::npos) {
      name = arg.substr(0, eq);
      value = arg.substr(eq + 1);
      hasValue = true;
    }
    if (name != "--unit" && name != "--threads" && name != "--zones" && name != "--output") {
      return Usage(TBatchUsageFault::UnknownOption, "unknown option " + arg);
    }
    if (!hasValue) {
      if (i + 1 >= args.size()) {
        return Usage(TBatchUsageFault::MissingValue, name + " needs a value");
      }
      value = args[++i];
    }
    if (name == "--zones") {
      const std::optional<std::string> preset = PresetName(value);
      if (!preset) {
        return Usage(TBatchUsageFault::ZonePreset,
                     "--zones must name a zone preset (" + PresetNameList() + "), not '" + value + "'");
      }
      parsed.zonePreset = TZonePreset{*preset};
    } else if (name == "--output") {
      if (value != "text" && value != "csv") {
        return Usage(TBatchUsageFault::Output, "--output must be text or csv, not '" + value + "'");
      }
      parsed.csv = value == "csv";
    } else if (name == "--unit") {
      if (value == "mGal") {
        parsed.outputUnit = 0;
      } else if (value == "microGal") {
        parsed.outputUnit = 1;
      } else {
        return Usage(TBatchUsageFault::Unit, "--unit must be mGal or microGal, not '" + value + "'");
      }
    } else {
      int threads = 0;
      if (!TextToInt(value, threads) || threads < 0) {
        return Usage(TBatchUsageFault::Threads, "--threads needs a whole number of 0 or more, not '" + value + "'");
      }
      const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
      const unsigned maxThreads = kMaxThreadsPerCore * cores;
      if (static_cast<unsigned>(threads) > maxThreads) {
        return Usage(TBatchUsageFault::TooManyThreads,
                     CFormat("--threads %d is more than %u times this machine's %u %s (at most %u)", threads,
                             kMaxThreadsPerCore, cores, cores == 1 ? "core" : "cores", maxThreads));
      }
      parsed.threads = threads;
    }
  }
  if (parsed.help || parsed.version) return out;
  if (files.empty()) return Usage(TBatchUsageFault::NoSettingsFile, "no settings file given");
  if (files.size() > 1) {
    return Usage(TBatchUsageFault::SeveralSettingsFiles,
                 "only one settings file can be run, not " + std::to_string(files.size()));
  }
  parsed.settingsPath = files.front();
  return out;
}

namespace {

int Run(const TBatchArgs& args, TConsole& console, bool showProgress, const TBatchFrontEnd& frontEnd) {
  std::error_code ec;
  if (!std::filesystem::exists(args.settingsPath, ec)) {
    console.Message(FormatMessage("Error by opening file %s\n", args.settingsPath));
    return kBatchFailed;
  }
  TWindowState state = TWindowState::StartValues(kFileSeparator);
  const TSettingsRead read = ReadSettingsFile(state, args.settingsPath, kFileSeparator);
  if (!read.ok()) {
    console.Message(read.message.empty() ? FormatMessage("Error by read config file %s\n", args.settingsPath)
                                         : read.message);
    return kBatchFailed;
  }
  state.outputUnit = args.outputUnit;
  std::optional<TZoneChoice> zone;
  if (args.zonePreset) {
    zone = *args.zonePreset;
    // The run log shows the state as the window would: with the preset.
    state.zones = PresetZoneList(args.zonePreset->name, args.settingsPath);
  }

  if (args.geotiff) {
    if (state.points.empty()) {
      console.Message("--geotiff needs a grid of points: " + args.settingsPath +
                      " has no [points] section, and a point file's results are no raster");
      return kBatchFailed;
    }
    // As the file's key would say it, so that the run log shows it too.
    auto& keys = state.points.keys;
    std::erase_if(keys, [](const TZoneKeyText& k) { return k.key == "geotiff" || k.key == "GEOTIFF"; });
    keys.push_back({"geotiff", "1"});
  }

  const TClockTime start = LocalClockTime();
  const TRunSetup setup = PrepareRun(state, kFileSeparator, zone);
  if (!setup.ok()) {
    console.Message(setup.message);
    return kBatchFailed;
  }

  TConsolePrompts prompts(console);
  TConsoleProgress terminal(console);
  TQuietProgress quiet;
  IRunProgress& progress = showProgress ? static_cast<IRunProgress&>(terminal) : quiet;
  TRunOptions options;
  options.threads = args.threads;
  options.pointLines = frontEnd.pointLines;
  options.loadGrid = frontEnd.loadGrid;
  options.loadGridWindow = frontEnd.loadGridWindow;
  options.loadOnCallingThread = frontEnd.loadOnCallingThread;
  options.beforeGrids = frontEnd.beforeGrids;
  // Until the log is written, so that a second signal cannot cut it short.
  const TStopSignals stopSignals;
  TCalcEngine engine;
  const TRunOutcome outcome = engine.RunCalculation(setup.params, progress, prompts, options);
  const TClockTime end = LocalClockTime();

  // A failure has said why already; otherwise a signal decides the status,
  // even one that came after the last point: whoever sent it wants to know
  // the run did not go on as planned.
  const int signal = StopSignal();
  std::optional<TRunInterruption> interruption;
  if (signal != 0 && outcome != TRunOutcome::Failed) {
    interruption = TRunInterruption{SignalName(signal),
                                    LocalClockTime(static_cast<std::time_t>(gStopTime.load()))};
  }

  // As in the window: the log follows the run's result file. A run that
  // ended before it put its result file in place leaves the earlier result
  // file and its log as they were; it said why on the terminal.
  if (engine.ResultWritten()) {
    const TRunEnding ending = interruption                          ? TRunEnding::Interrupted(*interruption)
                              : outcome == TRunOutcome::Failed    ? TRunEnding::Failed(prompts.lastMessage())
                              : outcome == TRunOutcome::Cancelled ? TRunEnding::Cancelled(end)
                                                                  : TRunEnding::Completed();
    const TRunLogResult log = WriteRunLog(RunLogFileName(state), state, start, end, ending, engine.UsedZones());
    if (!log.ok()) {
      console.Message(log.message);
      return kBatchFailed;
    }
  }
  // The CSV is made from the completed text file, so it holds its numbers
  // to the printed digit; it too takes its name only once written whole.
  if (args.csv && outcome == TRunOutcome::Completed && !interruption) {
    const std::string resultName = OutputFileName(setup.params.dataFile, setup.params.appendText, kResultFileEnding);
    const std::string csvName = OutputFileName(resultName, "", ".csv");
    const TResultRead read = ReadResultFile(
        resultName, setup.params.outputUnit == TOutputUnit::MicroGal,
        TResultShape{.gradient = setup.params.increment != 0, .rowCount = setup.params.rowCount});
    std::string message = read.message;
    const bool written = read.ok() && SaveResultCsv(*read.table, csvName, message);
    if (!written) {
      console.Message(message.empty() ? FormatMessage("Error by writing file %s", csvName) : message);
      return kBatchFailed;
    }
  }
  if (interruption) {
    console.Message(InterruptionText(*interruption));
    return signal == SIGINT ? kBatchInterrupted : kBatchTerminated;
  }
  return outcome == TRunOutcome::Completed ? kBatchCompleted : kBatchFailed;
}

}  // namespace

std::string BatchUsage() {
  return "Usage: globelayers-batch [--unit mGal|microGal] [--threads N] [--zones PRESET] [--geotiff]\n"
         "                         [--output text|csv] SETTINGS.ini\n"
         "\n"
         "Runs the calculation that a settings file of the main window describes\n"
         "(section [frmMain], numbers with a decimal point; a single comma is read\n"
         "as a decimal comma) and writes the result file (_dce.dat) and the run\n"
         "log (_dce.con) beside the point file.\n"
         "Relative paths in the settings file are taken from the current directory.\n"
         "\n"
         "  --unit U     output unit of DTE and DTE(i): mGal (default) or microGal\n"
         "  --threads N  worker threads (0 = all cores), at most 4 per core\n"
         "               default: all cores; the results are the same for every N\n"
         "  --zones P    zone preset standard or fine: bands and segment sizes from\n"
         "               the finest grid spacing (replaces the file's [zones])\n"
         "  --geotiff    with a grid of points ([points]): a GeoTIFF beside the netCDF\n"
         "  --output F   text (default): the result file; csv: a completed run's\n"
         "               result also as CSV (_dce.csv), every printed digit\n"
         "  --help       show this help\n"
         "  --version    show the version\n"
         "\n"
         "SIGINT (Ctrl-C) or SIGTERM stops the run after the points completed so\n"
         "far: the result file keeps whole lines and the run log says why it ended.\n"
         "\n"
         "Exit status: 0 the run completed, 1 it was refused or failed, 2 usage error,\n"
         "130 stopped by SIGINT, 143 stopped by SIGTERM.\n";
}

int RunBatch(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
             bool errIsTerminal) {
  return RunBatch(args, out, err, errIsTerminal, TBatchFrontEnd{});
}

int RunBatch(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool errIsTerminal,
             const TBatchFrontEnd& frontEnd) {
  const std::string usage = frontEnd.usage.empty() ? BatchUsage() : frontEnd.usage;
  const TBatchCommandLine commandLine = ParseBatchArgs(args, frontEnd.defaultThreads);
  if (!commandLine.ok()) {
    err << frontEnd.programName << ": " << commandLine.message << "\n\n" << usage;
    return kBatchUsage;
  }
  const TBatchArgs* const parsed = &commandLine.args;
  if (parsed->help) {
    out << usage;
    return kBatchCompleted;
  }
  if (parsed->version) {
    out << frontEnd.programName << " " << kVersion << "\n";
    return kBatchCompleted;
  }
  TConsole console(err);
  try {
    return Run(*parsed, console, errIsTerminal, frontEnd);
  } catch (const std::bad_alloc&) {
    // Its what() names a type, not the problem.
    console.Message("Not enough memory for this run");
    return kBatchFailed;
  } catch (const std::exception& e) {
    // Written for the user: a layer cell the set-up could not read, a worker
    // thread that would not start.
    console.Message(e.what());
    return kBatchFailed;
  } catch (...) {
    console.Message("The run stopped on an unexpected error");
    return kBatchFailed;
  }
}

}  // namespace globelayers

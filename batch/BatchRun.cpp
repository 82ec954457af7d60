#include "BatchRun.h"

#include <exception>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string_view>

#include "Calculation.h"
#include "NumberText.h"
#include "RunLog.h"
#include "RunSetup.h"
#include "WindowState.h"

namespace globelayers {
namespace {

// Settings files of the batch hold numbers with a decimal point, whatever
// the locale of the machine that runs it.
constexpr char kFileSeparator = '.';

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

// Nobody can answer a question headless, and nothing is there to cancel.
class TConsolePrompts : public IUserPrompts {
 public:
  explicit TConsolePrompts(TConsole& console) : console_(console) {}
  void ShowMessage(const std::string& text) override { console_.Message(text); }
  bool AskYesNo(const std::string& text) override {
    console_.Message(text + " No");
    return false;
  }

 private:
  TConsole& console_;
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

 private:
  TConsole& console_;
  int maximum_ = 0;
};

struct TBatchArgs {
  std::string settingsPath;
  int outputUnit = 0;  // 0 mGal, 1 microGal
  int threads = 0;  // all cores
  bool help = false;
};

// Empty optional with `error` set when the command line is not usable.
std::optional<TBatchArgs> ParseArgs(const std::vector<std::string>& args, std::string& error) {
  TBatchArgs parsed;
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
    // "--name value" or "--name=value".
    std::string name = arg, value;
    bool hasValue = false;
    if (const std::size_t eq = arg.find('='); eq != std::string::npos) {
      name = arg.substr(0, eq);
      value = arg.substr(eq + 1);
      hasValue = true;
    }
    if (name != "--unit" && name != "--threads") {
      error = "unknown option " + arg;
      return std::nullopt;
    }
    if (!hasValue) {
      if (i + 1 >= args.size()) {
        error = name + " needs a value";
        return std::nullopt;
      }
      value = args[++i];
    }
    if (name == "--unit") {
      if (value == "mGal") {
        parsed.outputUnit = 0;
      } else if (value == "microGal") {
        parsed.outputUnit = 1;
      } else {
        error = "--unit must be mGal or microGal, not '" + value + "'";
        return std::nullopt;
      }
    } else {
      int threads = 0;
      if (!TextToInt(value, threads) || threads < 0) {
        error = "--threads needs a whole number of 0 or more, not '" + value + "'";
        return std::nullopt;
      }
      parsed.threads = threads;
    }
  }
  if (parsed.help) return parsed;
  if (files.empty()) {
    error = "no settings file given";
    return std::nullopt;
  }
  if (files.size() > 1) {
    error = "only one settings file can be run, not " + std::to_string(files.size());
    return std::nullopt;
  }
  parsed.settingsPath = files.front();
  return parsed;
}

int Run(const TBatchArgs& args, TConsole& console, bool showProgress) {
  std::error_code ec;
  if (!std::filesystem::exists(args.settingsPath, ec)) {
    console.Message(FormatMessage("Error by opening file %s\n", args.settingsPath));
    return kBatchFailed;
  }
  TWindowState state = TWindowState::StartValues(kFileSeparator);
  if (!ReadCfgFile(state, args.settingsPath)) {
    console.Message(FormatMessage("Error by read config file %s\n", args.settingsPath));
    return kBatchFailed;
  }
  state.rg2 = args.outputUnit;

  const TClockTime start = LocalClockTime();
  const TRunSetup setup = PrepareRun(state, kFileSeparator);
  if (!setup.ok()) {
    console.Message(setup.message);
    return kBatchFailed;
  }

  TConsolePrompts prompts(console);
  TConsoleProgress terminal(console);
  TSilentProgress silent;
  IRunProgress& progress = showProgress ? static_cast<IRunProgress&>(terminal) : silent;
  TRunOptions options;
  options.decimalSeparator = kFileSeparator;
  options.threads = args.threads;
  TCalcEngine engine;
  const TRunOutcome outcome = engine.RunCalculation(setup.params, progress, prompts, options);
  const TClockTime end = LocalClockTime();

  // As in the window: the log follows every return of the engine.
  const TRunLogResult log = WriteRunLog(RunLogFileName(state), state, start, end);
  if (!log.ok) {
    console.Message(log.message);
    return kBatchFailed;
  }
  return outcome == TRunOutcome::Completed ? kBatchCompleted : kBatchFailed;
}

}  // namespace

std::string BatchUsage() {
  return "Usage: globelayers-batch [--unit mGal|microGal] [--threads N] SETTINGS.ini\n"
         "\n"
         "Runs the calculation that a settings file of the main window describes\n"
         "(section [frmMain], numbers with a decimal point) and writes the result\n"
         "file (_dce.dat) and the run log (_dce.con) beside the point file.\n"
         "Relative paths in the settings file are taken from the current directory.\n"
         "\n"
         "  --unit U     output unit of DTE and DTE(i): mGal (default) or microGal\n"
         "  --threads N  worker threads (0 = all cores)\n"
         "               default: all cores; the results are the same for every N\n"
         "  --help       show this help\n"
         "\n"
         "Exit status: 0 the run completed, 1 it was refused or failed, 2 usage error.\n";
}

int RunBatch(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
             bool errIsTerminal) {
  std::string error;
  const std::optional<TBatchArgs> parsed = ParseArgs(args, error);
  if (!parsed) {
    err << "globelayers-batch: " << error << "\n\n" << BatchUsage();
    return kBatchUsage;
  }
  if (parsed->help) {
    out << BatchUsage();
    return kBatchCompleted;
  }
  TConsole console(err);
  try {
    return Run(*parsed, console, errIsTerminal);
  } catch (const std::exception& e) {
    // A layer cell the set-up could not read, or memory for a grid.
    console.Message(e.what());
    return kBatchFailed;
  }
}

}  // namespace globelayers

#include "RunLog.h"

#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <memory>
#include <variant>

#include "FileReplacement.h"
#include "FilePtr.h"
#include "InputFile.h"
#include "NumberText.h"
#include "ResultFile.h"
#include "RunSetup.h"

namespace globelayers {
namespace {

// Item texts as the radio groups hold them: the doubled ampersand is the
// toolkit's escape for one, and the log shows the stored form.
const char* const kPriorityItems[] = {"Change layers && sign", "Top grid", "Bottom grid"};
const char* const kUnitItems[] = {"mGal", "microGal"};

template <std::size_t N>
std::string Item(const char* const (&items)[N], int index) {
  return index >= 0 && static_cast<std::size_t>(index) < N ? items[index] : "";
}

}  // namespace

TClockTime LocalClockTime() { return LocalClockTime(std::time(nullptr)); }

TClockTime LocalClockTime(std::time_t when) {
  std::tm local{};
  localtime_r(&when, &local);
  return {local.tm_hour, local.tm_min, local.tm_sec};
}

std::string InterruptionText(const TRunInterruption& interruption) {
  const TClockTime& t = interruption.at;
  return FormatMessage("Run interrupted by %s", interruption.cause) +
         CFormat(" at %02d:%02d:%02d; the result file holds the points completed before it.", t.h,
                 t.m, t.s);
}

std::string RunEndingText(const TRunEnding& ending) {
  switch (ending.kind) {
    case TRunEnding::TKind::Completed:
      return "Run completed.";
    case TRunEnding::TKind::Cancelled:
      return CFormat("Run cancelled at %02d:%02d:%02d; the result file holds the points completed before it.",
                     ending.at.h, ending.at.m, ending.at.s);
    case TRunEnding::TKind::Interrupted:
      return InterruptionText(ending.interruption);
    case TRunEnding::TKind::Failed:
      break;
  }
  // Messages end in a newline and may hold several lines: one line here.
  std::string message = ending.message;
  while (!message.empty() && (message.back() == '\n' || message.back() == ' ')) message.pop_back();
  for (char& c : message) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  return "Run failed: " + (message.empty() ? std::string("no message") : message);
}

std::string RunLogFileName(const TWindowState& state) {
  return OutputFileName(state.pointFile, state.appendText, "_dce.con");
}

std::string RunLogText(const TWindowState& typedState, TClockTime start, TClockTime end,
                       const TRunEnding& ending, const std::vector<TZone>& usedZones, char decimalSeparator) {
  const TWindowState state = WithFileNumbers(typedState, decimalSeparator);
  std::string log;
  log += CFormat("Start time: %2d:%02d:%02d\n", start.h, start.m, start.s);
  log += CFormat("End time: %2d:%02d:%02d\n", end.h, end.m, end.s);
  log += FormatMessage("Data file: %s\n", state.pointFile);
  log += FormatMessage("Append text: %s\n", state.appendText);
  log += FormatMessage("Increment: %s\n", state.incrementMText);
  log += FormatMessage("Gravity constant: %s\n", state.gravityConstantText);
  log += FormatMessage("Phi from: %s\n", state.innerDistanceDegText);
  log += FormatMessage("Phi to: %s\n", state.outerDistanceDegText);
  log += FormatMessage("Earth radius: %s\n", state.earthRadiusMText);
  log += FormatMessage("Lambda from: %s\n", state.azimuthFromDegText);
  log += FormatMessage("Lambda to: %s\n", state.azimuthToDegText);
  log += FormatMessage("Priority: %s\n", Item(kPriorityItems, state.crossingPriority));
  log += CFormat("Number of layer: %d\n", state.LayerRowCount());
  log += FormatMessage("Segment size: %s\n", state.segmentSizeArcSecText);
  log += FormatMessage("Output unit: %s\n", Item(kUnitItems, state.outputUnit));
  log += "Calulation for: Globe layers\n";
  for (int r = 1; r <= state.LayerRowCount(); ++r) {
    log += CFormat("Layer %d: ", r);
    for (const std::string& cell : state.layerRows[r - 1]) log += FormatMessage("%s ", cell);
    log += "\n";
  }
  // After the lines of a run without zones, so their positions hold.
  if (!state.zones.empty()) {
    const TZoneListSetup zones = ConvertZoneList(state.zones);
    if (!zones.ok()) log += zones.message + "\n";  // no run gets this far; said all the same
    // A preset's bands are known once the run has loaded its grids.
    const auto* preset = std::get_if<TZonePreset>(&zones.zone);
    const auto* list = std::get_if<TZoneList>(&zones.zone);
    if (preset) log += "Zone preset: " + preset->name + "\n";
    const std::vector<TZone> listed = preset ? usedZones : list ? list->bands : std::vector<TZone>{};
    for (std::size_t k = 0; k < listed.size(); ++k) {
      const TZone& zone = listed[k];
      log += CFormat("Zone %zu: ", k + 1) + WindowNumberText(zone.psiFromDeg) + " - " +
             WindowNumberText(zone.psiToDeg) + " deg, segment " +
             WindowNumberText(zone.segmentSizeArcSec) + "\"" + (zone.blockMeans ? ", block means" : "") + "\n";
    }
  }
  // Last, so that readers which take the lines above by position still can.
  log += RunEndingText(ending) + "\n";
  return log;
}

TRunLogResult WriteRunLog(const std::string& path, const TWindowState& state, TClockTime start,
                          TClockTime end, const TRunEnding& ending, const std::vector<TZone>& usedZones,
                          char decimalSeparator) {
  const std::string text = RunLogText(state, start, end, ending, usedZones, decimalSeparator);
  TFileReplacement replacement;
  const int fd = replacement.Open(path);
  std::FILE* stream = fd >= 0 ? ::fdopen(fd, "w") : nullptr;
  if (stream == nullptr) {
    if (fd >= 0) ::close(fd);
    return {false, FormatMessage("Error by opening file %s\n", path)};
  }
  TFilePtr file(stream);
  const bool written = std::fputs(text.c_str(), file.get()) != EOF && std::fflush(file.get()) == 0;
  const bool closed = std::fclose(file.release()) == 0;
  if (!written || !closed || !replacement.Commit()) return {false, FormatMessage("Error by writing file %s\n", path)};
  return {};
}

}  // namespace globelayers

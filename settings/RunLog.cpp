#include "RunLog.h"

#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <iterator>
#include <memory>
#include <string_view>
#include <utility>
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

// The log's "Key: value" lines in the order they are written. Readers find
// them by key, so the texts here are the only place that spells them;
// "Calulation for" is the historical spelling that older readers expect.
enum class TLogKey {
  StartTime, EndTime, DataFile, AppendText, Increment, GravityConstant, PhiFrom, PhiTo,
  EarthRadius, LambdaFrom, LambdaTo, Priority, LayerRowCount, SegmentSize, OutputUnit,
  CalculationFor,
};
constexpr const char* kLogKeys[] = {
    "Start time", "End time", "Data file", "Append text", "Increment", "Gravity constant",
    "Phi from", "Phi to", "Earth radius", "Lambda from", "Lambda to", "Priority",
    "Number of layer", "Segment size", "Output unit", "Calulation for",
};
static_assert(std::size(kLogKeys) == static_cast<std::size_t>(TLogKey::CalculationFor) + 1);
// The log's name beside the result file: kResultFileEnding replaced by this.
constexpr char kRunLogFileEnding[] = "_dce.con";
constexpr const char* kCalculationKind = "Globe layers";
// The data file line of a run over a grid of points.
constexpr const char* kGridPointsDataFile = "none: the points are the nodes of the grid below";

// A layer row's line: "Layer 3: " and each cell followed by one blank.
constexpr const char* kLayerLineFormat = "Layer %d: ";
constexpr std::size_t kLayerCells = 4;
// A zone's line, after the layers: "Zone 2: 10 - 180 deg, segment 3600\", block means".
constexpr const char* kZoneLineFormat = "Zone %zu: ";
constexpr const char* kZonePresetKey = "Zone preset";
// What the distance and segment size lines hold in a zone or preset run
// whose bands are not known (a preset whose run stopped before it formed
// them): its zones decided them, and the fields did not.
constexpr const char* kZonesValue = "zones";
// How older windows stored an empty layer cell; logs of theirs still hold it.
constexpr std::string_view kEmptyCell = "@";

std::string KeyText(TLogKey key) { return kLogKeys[static_cast<std::size_t>(key)]; }

// "Key: value\n". The value is text, never a format.
std::string LogLine(TLogKey key, const std::string& value) { return KeyText(key) + ": " + value + "\n"; }

// The value of a "Key: value" line, when `line` is one of `key`.
std::optional<std::string_view> LineValue(std::string_view line, TLogKey key) {
  const std::string prefix = KeyText(key) + ": ";
  if (line.substr(0, prefix.size()) != prefix) return std::nullopt;
  return line.substr(prefix.size());
}

std::string ClockText(TClockTime t) { return CFormat("%2d:%02d:%02d", t.h, t.m, t.s); }

// No line a run writes comes near this (bytes); a longer one is not of a
// run log, and its reading stops there.
constexpr std::size_t kMaxLogLineChars = 64 * 1024;
// A run log holds 17 lines plus one per layer row (at most 1000) and zone.
constexpr int kMaxLogLines = 10000;

// Reads one line without its line end; false at the end of the file or at
// a line longer than kMaxLogLineChars.
bool ReadLogLine(std::FILE* f, std::string& line) {
  line.clear();
  char buffer[4096];
  while (std::fgets(buffer, sizeof buffer, f) != nullptr) {
    line += buffer;
    if (line.size() > kMaxLogLineChars) return false;
    if (line.back() == '\n') break;
  }
  if (line.empty()) return false;
  if (line.back() == '\n') line.pop_back();
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return true;
}

// A layer line's cells when it holds exactly four that each end in one
// blank; a grid name holding a blank cannot be told from its neighbours.
std::optional<std::vector<std::string>> LayerCells(std::string_view cellsText) {
  std::vector<std::string> cells;
  std::size_t pos = 0;
  while (pos < cellsText.size()) {
    const std::size_t blank = cellsText.find(' ', pos);
    if (blank == std::string_view::npos) return std::nullopt;
    cells.emplace_back(cellsText.substr(pos, blank - pos));
    pos = blank + 1;
  }
  if (cells.size() != kLayerCells) return std::nullopt;
  return cells;
}

// The zones of a run as its log tells them: none for a run of the fields.
struct TLoggedZones {
  bool zoned = false;          // a [zones] list or a preset decided the distances and segment sizes
  std::string fault;           // the list's refusal; no run gets this far, but the log says it all the same
  std::string presetName;      // empty for a [zones] list
  std::vector<TZone> bands;    // inner first; a preset's only once its run formed them
};

TLoggedZones LoggedZones(const TZoneListSetup& zones, const std::vector<TZone>& usedZones) {
  TLoggedZones logged;
  logged.zoned = true;
  if (!zones.ok()) logged.fault = zones.message;
  if (const auto* preset = std::get_if<TZonePreset>(&zones.zone)) {
    logged.presetName = preset->name;
    // A preset's bands are known once the run has loaded its grids.
    logged.bands = usedZones;
  }
  if (const auto* list = std::get_if<TZoneList>(&zones.zone)) logged.bands = list->bands;
  return logged;
}

std::string ZoneLineText(std::size_t number, const TZone& zone) {
  return CFormat(kZoneLineFormat, number) + WindowNumberText(zone.psiFromDeg) + " - " +
         WindowNumberText(zone.psiToDeg) + " deg, segment " + WindowNumberText(zone.segmentSizeArcSec) + "\"" +
         (zone.blockMeans ? ", block means" : "") + "\n";
}

// A zone line's band ("0.5 - 180 deg, segment 900\", block means" after
// "Zone 2: "), nullopt for any other text.
std::optional<TZone> ZoneLineBand(std::string_view text) {
  constexpr std::string_view kTo = " - ", kDeg = " deg, segment ", kArcSec = "\"", kMeans = ", block means";
  const std::size_t to = text.find(kTo);
  const std::size_t deg = text.find(kDeg);
  const std::size_t arcSec = text.find(kArcSec);
  if (to == std::string_view::npos || deg == std::string_view::npos || arcSec == std::string_view::npos ||
      !(to < deg && deg < arcSec))
    return std::nullopt;
  TZone zone;
  const std::string_view rest = text.substr(arcSec + kArcSec.size());
  if (!rest.empty() && rest != kMeans) return std::nullopt;
  zone.blockMeans = !rest.empty();
  if (!TextToFloat(text.substr(0, to), '.', zone.psiFromDeg) ||
      !TextToFloat(text.substr(to + kTo.size(), deg - to - kTo.size()), '.', zone.psiToDeg) ||
      !TextToFloat(text.substr(deg + kDeg.size(), arcSec - deg - kDeg.size()), '.', zone.segmentSizeArcSec))
    return std::nullopt;
  return zone;
}

// A zone line's number and band: "Zone 2: 0.5 - 180 deg, segment 900\""
// gives 2 and that band; nullopt for any other line ("Zone preset: ...").
std::optional<std::pair<std::size_t, TZone>> ZoneNumberAndBand(std::string_view line) {
  constexpr std::string_view kZoneWord = "Zone ";
  if (line.substr(0, kZoneWord.size()) != kZoneWord) return std::nullopt;
  const std::size_t colon = line.find(": ", kZoneWord.size());
  if (colon == std::string_view::npos) return std::nullopt;
  const std::string_view digits = line.substr(kZoneWord.size(), colon - kZoneWord.size());
  int number = 0;
  if (digits.find_first_not_of("0123456789") != std::string_view::npos || !TextToInt(digits, number) ||
      number < 1)
    return std::nullopt;
  const std::optional<TZone> band = ZoneLineBand(line.substr(colon + 2));
  if (!band) return std::nullopt;
  return std::pair{static_cast<std::size_t>(number), *band};
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
  return OutputFileName(ResultNameSource(state), state.appendText, kRunLogFileEnding);
}

std::string RunLogText(const TWindowState& typedState, TClockTime start, TClockTime end,
                       const TRunEnding& ending, const std::vector<TZone>& usedZones, char decimalSeparator) {
  const TWindowState state = WithFileNumbers(typedState, decimalSeparator);
  // A zone or preset run takes its distances and segment sizes from its
  // zones: the fields' texts would describe a run that did not happen.
  const TLoggedZones zones =
      state.zones.empty() ? TLoggedZones{} : LoggedZones(ConvertZoneList(state.zones), usedZones);
  std::string phiFrom = state.innerDistanceDegText;
  std::string phiTo = state.outerDistanceDegText;
  std::string segmentSize = state.segmentSizeArcSecText;
  if (zones.zoned) {
    phiFrom = zones.bands.empty() ? kZonesValue : WindowNumberText(zones.bands.front().psiFromDeg);
    phiTo = zones.bands.empty() ? kZonesValue : WindowNumberText(zones.bands.back().psiToDeg);
    segmentSize = kZonesValue;
  }
  std::string log;
  log += LogLine(TLogKey::StartTime, ClockText(start));
  log += LogLine(TLogKey::EndTime, ClockText(end));
  // A grid of points leaves the point file unused (a file may hold both):
  // naming it would say that its points were computed.
  log += LogLine(TLogKey::DataFile, state.points.keys.empty() ? state.pointFile : kGridPointsDataFile);
  log += LogLine(TLogKey::AppendText, state.appendText);
  log += LogLine(TLogKey::Increment, state.incrementMText);
  log += LogLine(TLogKey::GravityConstant, state.gravityConstantText);
  log += LogLine(TLogKey::PhiFrom, phiFrom);
  log += LogLine(TLogKey::PhiTo, phiTo);
  log += LogLine(TLogKey::EarthRadius, state.earthRadiusMText);
  log += LogLine(TLogKey::LambdaFrom, state.azimuthFromDegText);
  log += LogLine(TLogKey::LambdaTo, state.azimuthToDegText);
  log += LogLine(TLogKey::Priority, Item(kPriorityItems, state.crossingPriority));
  log += LogLine(TLogKey::LayerRowCount, CFormat("%d", state.LayerRowCount()));
  log += LogLine(TLogKey::SegmentSize, segmentSize);
  log += LogLine(TLogKey::OutputUnit, Item(kUnitItems, state.outputUnit));
  log += LogLine(TLogKey::CalculationFor, kCalculationKind);
  for (int r = 1; r <= state.LayerRowCount(); ++r) {
    log += CFormat(kLayerLineFormat, r);
    for (const std::string& cell : state.layerRows[r - 1]) log += cell + " ";
    log += "\n";
  }
  // After the lines of a run without zones, so their positions hold.
  if (zones.zoned) {
    if (!zones.fault.empty()) log += zones.fault + "\n";
    // The fields stay in the settings (a file may hold both): said once,
    // so that nobody takes them for this run's.
    log += "The zones below replace Phi from " + state.innerDistanceDegText + ", Phi to " +
           state.outerDistanceDegText + " and Segment size " + state.segmentSizeArcSecText +
           ", which this run did not use.\n";
    if (!zones.presetName.empty())
      log += std::string(kZonePresetKey) + ": " + zones.presetName + "\n" + PresetBoundLine(zones.presetName);
    for (std::size_t k = 0; k < zones.bands.size(); ++k) log += ZoneLineText(k + 1, zones.bands[k]);
  }
  // A grid of points, as the file gives it (the point file is not used then).
  for (const TZoneKeyText& entry : state.points.keys) log += "Points " + entry.key + "=" + entry.value + "\n";
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
    return {TRunLogFault::Unopenable, FormatMessage("Error by opening file %s\n", path)};
  }
  TFilePtr file(stream);
  const bool written = std::fputs(text.c_str(), file.get()) != EOF && std::fflush(file.get()) == 0;
  const bool closed = std::fclose(file.release()) == 0;
  if (!written || !closed || !replacement.Commit())
    return {TRunLogFault::Unwritable, FormatMessage("Error by writing file %s\n", path)};
  return {};
}

std::string RunLogNameForResult(const std::string& resultFileName) {
  const std::string ending = kResultFileEnding;
  if (resultFileName.size() < ending.size() ||
      resultFileName.compare(resultFileName.size() - ending.size(), ending.size(), ending) != 0)
    return "";
  return resultFileName.substr(0, resultFileName.size() - ending.size()) + kRunLogFileEnding;
}

TRunLogFacts ReadRunLogFacts(const std::string& runLogFileName) {
  TRunLogFacts facts;
  if (runLogFileName.empty()) return facts;
  const TFilePtr f = OpenInputStream(runLogFileName);
  if (!f) return facts;
  const std::string firstLayer = CFormat(kLayerLineFormat, 1);
  const std::string zonePreset = std::string(kZonePresetKey) + ": ";
  std::string line;
  for (int n = 0; n < kMaxLogLines && ReadLogLine(f.get(), line); ++n) {
    if (const auto unit = LineValue(line, TLogKey::OutputUnit)) {
      if (*unit == kUnitItems[0]) facts.microGal = false;
      if (*unit == kUnitItems[1]) facts.microGal = true;
    } else if (const auto increment = LineValue(line, TLogKey::Increment)) {
      // A window of a decimal-comma locale logged its typed text before
      // logs were written with the decimal point.
      double metres = 0;
      if (TextToFloat(*increment, '.', metres) || TextToFloat(*increment, ',', metres)) facts.incrementM = metres;
    } else if (const auto rows = LineValue(line, TLogKey::LayerRowCount)) {
      int count = 0;
      if (TextToInt(*rows, count) && count >= 0) facts.layerRowCount = count;
    } else if (const auto band = ZoneNumberAndBand(line)) {
      // Bands in their order only: a line out of it is not of this log's list.
      if (band->first == facts.zones.size() + 1) facts.zones.push_back(band->second);
    } else if (line.rfind(zonePreset, 0) == 0) {
      facts.zonePreset = line.substr(zonePreset.size());
    } else if (line.rfind(firstLayer, 0) == 0) {
      const auto cells = LayerCells(std::string_view(line).substr(firstLayer.size()));
      if (cells && !(*cells)[1].empty() && (*cells)[1] != kEmptyCell) facts.firstElevationGrid = (*cells)[1];
    }
  }
  return facts;
}

}  // namespace globelayers

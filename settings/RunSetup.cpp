#include "RunSetup.h"

#include <algorithm>
#include <optional>
#include <string_view>
#include <tuple>
#include <utility>

#include "NumberText.h"

namespace globelayers {
namespace {

constexpr char kEmptyCell[] = "@";

struct TCheckText {
  TRunCheck check;
  const char* text;
};

// The Calc command's own words, misspellings included: users know them.
constexpr TCheckText kCheckTexts[] = {
    {TRunCheck::NoPointFile, "Input data file is required"},
    {TRunCheck::NoLayerRow, "At least two elevation grid are required"},
    {TRunCheck::DistanceOrder, "Phi_to must be greater then Phi_from"},
    {TRunCheck::AzimuthOrder, "Lambda_to must be greater then Lambda_from"},
    {TRunCheck::TooFewLayerRows, "Number of layers must be grater or equal 2"},
};

TRunSetup Refuse(TRunSetupFault fault, std::string message, TRunField focus = TRunField::None) {
  TRunSetup setup;
  setup.fault = fault;
  setup.message = std::move(message);
  setup.focusField = focus;
  return setup;
}

TRunSetup Refuse(TRunCheck check, std::string message, TRunField focus = TRunField::None) {
  TRunSetup setup = Refuse(TRunSetupFault::Check, std::move(message), focus);
  setup.check = check;
  return setup;
}

TRunSetup Refuse(TRunCheck check, TRunField focus = TRunField::None) {
  return Refuse(check, RunCheckMessage(check), focus);
}

TRunSetup NotANumber(const std::string& text) {
  return Refuse(TRunSetupFault::Conversion,
                FormatMessage("'%s' is not a valid floating point value", text));
}

// Converts `text` into `value`; on failure `setup` holds the refusal.
bool Convert(const std::string& text, char decimalSeparator, double& value,
             std::optional<TRunSetup>& setup) {
  if (TextToFloat(text, decimalSeparator, value)) return true;
  setup = NotANumber(text);
  return false;
}

constexpr std::string_view kZoneKeyPrefix = "zone";
constexpr std::string_view kPresetKey = "preset";
constexpr std::string_view kBlockMeansFlag = "mean";
// height=surface+METRES: the height counts from the first layer's top.
constexpr std::string_view kSurfaceWord = "surface";

std::string LowerCase(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  }
  return lower;
}

// N of a key "zoneN" (any case), N from 1 without leading zeros; 0 for any
// other key.
int ZoneNumber(std::string_view key) {
  const std::string lower = LowerCase(key);
  if (!lower.starts_with(kZoneKeyPrefix)) return 0;
  const std::string_view digits = std::string_view(lower).substr(kZoneKeyPrefix.size());
  if (digits.empty() || digits.size() > 6 || digits.front() == '0') return 0;  // 6: far beyond any ring limit
  int number = 0;
  for (const char c : digits) {
    if (c < '0' || c > '9') return 0;
    number = number * 10 + (c - '0');
  }
  return number;
}

TZoneListSetup ZoneFault(TZoneKeyFault fault, std::string message) {
  TZoneListSetup setup;
  setup.fault = fault;
  setup.message = std::move(message);
  return setup;
}

}  // namespace

bool ParseZone(std::string_view value, TZone& zone) {
  if (const std::size_t last = value.rfind(';'); last != std::string_view::npos) {
    std::string_view flag = value.substr(last + 1);
    while (!flag.empty() && (flag.front() == ' ' || flag.front() == '\t')) flag.remove_prefix(1);
    while (!flag.empty() && (flag.back() == ' ' || flag.back() == '\t')) flag.remove_suffix(1);
    if (LowerCase(flag) == kBlockMeansFlag) {
      zone.blockMeans = true;
      value = value.substr(0, last);
    }
  }
  double* const fields[] = {&zone.psiFromDeg, &zone.psiToDeg, &zone.segmentSizeArcSec};
  for (std::size_t i = 0; i < 3; ++i) {
    const std::size_t end = i < 2 ? value.find(';') : value.size();
    if (end == std::string_view::npos) return false;
    if (!TextToFloat(value.substr(0, end), '.', *fields[i])) return false;  // ';' in the last is refused here
    value.remove_prefix(i < 2 ? end + 1 : end);
  }
  return true;
}

std::string RunCheckMessage(TRunCheck check) {
  for (const TCheckText& entry : kCheckTexts) {
    if (entry.check == check) return entry.text;
  }
  return {};
}

TPointGridSetup ConvertPointGrid(const TPointGridText& text) {
  const std::string& file = text.settingsFile;
  TPointGridSetup setup;
  const auto fault = [&setup](std::string message) {
    setup.message = std::move(message);
    return setup;
  };
  bool gridGiven = false;
  std::string gridText;
  for (const TZoneKeyText& entry : text.keys) {
    const std::string key = LowerCase(entry.key);
    const std::string keyValue = entry.key + "=" + entry.value;
    if (key == "grid") {
      gridGiven = true;
      gridText = keyValue;
      std::string_view value = entry.value;
      double* const fields[] = {&setup.grid.westDeg, &setup.grid.eastDeg, &setup.grid.southDeg,
                                &setup.grid.northDeg, &setup.grid.stepDeg};
      bool converts = true;
      for (std::size_t i = 0; i < 5 && converts; ++i) {
        const std::size_t end = i < 4 ? value.find(';') : value.size();
        converts = end != std::string_view::npos && TextToFloat(value.substr(0, end), '.', *fields[i]);
        if (converts) value.remove_prefix(i < 4 ? end + 1 : end);
      }
      if (!converts) {
        return fault(keyValue + " in " + file +
                     " is not WEST;EAST;SOUTH;NORTH;STEP, five numbers of degrees with a decimal point");
      }
    } else if (key == "height") {
      std::string_view value = entry.value;
      while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
      setup.grid.aboveSurface = LowerCase(value.substr(0, kSurfaceWord.size())) == kSurfaceWord;
      if (setup.grid.aboveSurface) value.remove_prefix(kSurfaceWord.size());
      const bool bare = setup.grid.aboveSurface && value.find_first_not_of(" \t") == std::string_view::npos;
      const bool signedAbove =
          !setup.grid.aboveSurface || (!value.empty() && (value.front() == '+' || value.front() == '-'));
      if (bare) {
        setup.grid.heightM = 0;
      } else if (!signedAbove || !TextToFloat(value, '.', setup.grid.heightM)) {
        return fault(keyValue + " in " + file +
                     " is not METRES or surface+METRES, a number of metres with a decimal point");
      }
    } else if (key == "geotiff") {
      const std::string value(entry.value);
      if (value != "0" && value != "1") return fault(keyValue + " in " + file + " is not 0 or 1");
      setup.grid.geotiff = value == "1";
    } else {
      return fault("Unknown key " + entry.key + " in [points] of " + file + ": the section takes grid, height and "
                   "geotiff");
    }
  }
  if (!gridGiven) {
    return fault("[points] of " + file + " holds no grid=WEST;EAST;SOUTH;NORTH;STEP: give the grid of points, or "
                 "remove the section to use the point file");
  }
  if (const std::optional<std::string> refusal = CheckPointGrid(setup.grid)) {
    return fault(gridText + " in " + file + ": " + *refusal);
  }
  return setup;
}

TZoneListSetup ConvertZoneList(const TZoneListText& text) {
  const std::string& file = text.settingsFile;
  if (text.keys.size() > static_cast<std::size_t>(kMaxZones)) {
    return ZoneFault(TZoneKeyFault::TooManyKeys, "[zones] of " + file + " holds " +
                                                     std::to_string(text.keys.size()) + " keys, more than the " +
                                                     std::to_string(kMaxZones) + " zones a run may have");
  }
  std::vector<std::pair<int, TZone>> numbered;
  for (const TZoneKeyText& entry : text.keys) {
    if (LowerCase(entry.key) == kPresetKey) {
      if (text.keys.size() > 1) {
        return ZoneFault(TZoneKeyFault::PresetBesideKeys,
                         "[zones] of " + file + " holds " + entry.key + "=" + entry.value +
                         " beside other keys: give either a preset or zone1, zone2, ...");
      }
      const std::optional<std::string> preset = PresetName(entry.value);
      if (!preset) {
        return ZoneFault(TZoneKeyFault::UnknownPreset, "Unknown zone preset " + entry.key + "=" + entry.value +
                                                           " in " + file + ": the presets are " + PresetNameList());
      }
      TZoneListSetup setup;
      setup.zone = TZonePreset{*preset};
      return setup;
    }
    const int number = ZoneNumber(entry.key);
    if (number == 0) {
      return ZoneFault(TZoneKeyFault::UnknownKey, "Unknown key " + entry.key + " in [zones] of " + file +
                                                      ": the section takes zone1, zone2, ... in order");
    }
    TZone zone;
    if (!ParseZone(entry.value, zone)) {
      return ZoneFault(TZoneKeyFault::NotAZone, "Zone key " + entry.key + "=" + entry.value + " in " + file +
                                                    " is not FROM;TO;SEGSIZE, three numbers with a decimal point"
                                                    " (degrees; degrees; arc-seconds), optionally followed by ;mean");
    }
    numbered.emplace_back(number, zone);
  }
  // The file may list them in any order; the numbers must run from 1 on.
  std::sort(numbered.begin(), numbered.end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });
  TZoneList list;
  for (std::size_t i = 0; i < numbered.size(); ++i) {
    const int expected = static_cast<int>(i) + 1;
    if (numbered[i].first != expected) {
      return ZoneFault(TZoneKeyFault::MissingKey,
                       "Zone key zone" + std::to_string(expected) + " is missing in [zones] of " +
                       file + ", which has zone" + std::to_string(numbered[i].first));
    }
    list.bands.push_back(numbered[i].second);
  }
  TZoneListSetup setup;
  setup.zone = std::move(list);
  return setup;
}

bool GridListFromCell(const std::string& cell, std::vector<TGridReference>& grids) {
  constexpr std::string_view kSeparator = " | ";
  grids.clear();
  std::size_t start = 0;
  for (;;) {
    const std::size_t bar = cell.find(kSeparator, start);
    const std::string name = cell.substr(start, bar == std::string::npos ? std::string::npos : bar - start);
    if (name.empty() || name == kEmptyCell) {
      grids.clear();
      return false;
    }
    grids.push_back({name});
    if (bar == std::string::npos) return true;
    start = bar + kSeparator.size();
  }
}

std::string GridListFault(const std::string& cell) {
  return "Grid cell '" + cell + "' holds an empty entry in its list of grids"
         " (names joined by ' | ', finest first)";
}

std::string LayerRowText(const TLayerCells& cells) {
  std::string text;
  for (std::size_t c = 0; c < cells.size(); ++c) {
    if (c > 0) text += ';';
    text += cells[c].empty() ? std::string(kEmptyCell) : cells[c];
  }
  return text;
}

TRunSetup PrepareRun(const TWindowState& state, char decimalSeparator, const std::optional<TZoneChoice>& zone) {
  const int rows = state.LayerRowCount();
  std::optional<TRunSetup> refusal;
  TRunParameters p;

  // A grid of points replaces the point file.
  if (!state.points.empty()) {
    const TPointGridSetup points = ConvertPointGrid(state.points);
    if (!points.ok()) return Refuse(TRunCheck::PointGrid, points.message);
    p.pointGrid = points.grid;
  } else if (state.pointFile.empty()) {
    return Refuse(TRunCheck::NoPointFile);
  }
  if (rows < 1) return Refuse(TRunCheck::NoLayerRow);

  // Zones replace the window's one zone and its segment size, so a stale
  // distance or segment size text cannot refuse a run that does not use it.
  TSingleZone single;
  const bool zoned = zone || !state.zones.empty();
  if (zone) {
    p.zone = *zone;
  } else if (zoned) {
    TZoneListSetup zones = ConvertZoneList(state.zones);
    if (!zones.ok()) {
      TRunSetup refused = Refuse(TRunCheck::ZoneKeys, zones.message);
      refused.zoneKeyFault = zones.fault;
      return refused;
    }
    p.zone = std::move(zones.zone);
  } else {
    // The outer distance (Phi_to) is converted before the inner one
    // (Phi_from), as the comparison reads them.
    if (!Convert(state.outerDistanceDegText, decimalSeparator, single.psiToDeg, refusal)) return *refusal;
    if (!Convert(state.innerDistanceDegText, decimalSeparator, single.psiFromDeg, refusal)) return *refusal;
    if (!(single.psiToDeg > single.psiFromDeg)) {
      return Refuse(TRunCheck::DistanceOrder, TRunField::InnerDistance);
    }
  }
  if (!Convert(state.azimuthToDegText, decimalSeparator, p.azimuthToDeg, refusal)) return *refusal;
  if (!Convert(state.azimuthFromDegText, decimalSeparator, p.azimuthFromDeg, refusal)) return *refusal;
  if (!(p.azimuthToDeg > p.azimuthFromDeg)) {
    return Refuse(TRunCheck::AzimuthOrder, TRunField::AzimuthFrom);
  }
  if (rows < 2) {
    return Refuse(TRunCheck::TooFewLayerRows, TRunField::LayerTable);
  }

  if (!zoned) {
    if (!Convert(state.segmentSizeArcSecText, decimalSeparator, single.segmentSizeArcSec, refusal)) return *refusal;
    p.zone = single;
  }
  if (!Convert(state.gravityConstantText, decimalSeparator, p.gravityConstant, refusal)) return *refusal;
  if (!Convert(state.earthRadiusMText, decimalSeparator, p.earthRadius, refusal)) return *refusal;
  if (!Convert(state.incrementMText, decimalSeparator, p.increment, refusal)) return *refusal;

  // The layer rows are converted here, once: a bad cell is refused before
  // anything is written, and the engine sees numbers and file names only.
  p.layers.reserve(state.layerRows.size());
  for (const TLayerCells& row : state.layerRows) {
    TLayerRow& layer = p.layers.emplace_back();
    for (const auto& [constantCell, gridCell, value] :
         {std::tuple{std::size_t{0}, std::size_t{1}, &layer.elevation},
          std::tuple{std::size_t{2}, std::size_t{3}, &layer.density}}) {
      const std::string& constant = row[constantCell];
      if (!constant.empty() && constant != kEmptyCell) {
        double number = 0;
        if (!Convert(constant, decimalSeparator, number, refusal)) return *refusal;
        value->constant = number;
      }
      const std::string& grid = row[gridCell];
      if (!grid.empty() && grid != kEmptyCell && !GridListFromCell(grid, value->grids)) {
        return Refuse(TRunCheck::GridList, GridListFault(grid), TRunField::LayerTable);
      }
    }
  }

  p.dataFile = ResultNameSource(state);
  p.appendText = state.appendText;
  p.rowCount = rows;
  // The window's radio items are the rules' and units' numbers; an index
  // outside them (which neither the window nor a settings file gives) is the
  // first item.
  p.priority = state.crossingPriority >= 0 && state.crossingPriority <= 2
                   ? static_cast<TCrossingRule>(state.crossingPriority)
                   : TCrossingRule::ChangeLayersAndSign;
  p.outputUnit = state.outputUnit == 1 ? TOutputUnit::MicroGal : TOutputUnit::MilliGal;
  p.sumOnly = state.sumsOnly;

  TRunSetup setup;
  setup.params = std::move(p);
  return setup;
}

}  // namespace globelayers

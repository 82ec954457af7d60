#include "WindowState.h"

#include <algorithm>
#include <array>
#include <string_view>
#include <utility>

#include "IniFile.h"
#include "NumberText.h"
#include "ResultFile.h"

namespace globelayers {
namespace {

// A number with a decimal point, rewritten in the user's format.
std::string WithSeparator(std::string text, char decimalSeparator) {
  for (char& c : text) {
    if (c == '.') c = decimalSeparator;
  }
  return text;
}

// Removes leading and trailing blanks and control characters.
std::string TrimText(std::string_view s) {
  while (!s.empty() && static_cast<unsigned char>(s.front()) <= ' ') s.remove_prefix(1);
  while (!s.empty() && static_cast<unsigned char>(s.back()) <= ' ') s.remove_suffix(1);
  return std::string(s);
}

// An empty cell is written as one space (and a single space is its default
// on reading); the store reads a lone space back as an empty text.
std::string OrSpace(const std::string& text) { return text.empty() ? std::string(" ") : text; }

std::string CellKey(int row, int column) {
  return "cell_row-" + std::to_string(row) + "_col-" + std::to_string(column);
}

// Key names compare as the settings store compares them: without ASCII case.
bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
           return lower(x) == lower(y);
         });
}

const char* const kColumnKeys[5] = {"column0", "column1", "column2", "column3", "column4"};

// A separator replaced by another, nothing else touched.
std::string ReplaceSeparator(std::string text, char from, char to) {
  for (char& c : text) {
    if (c == from) c = to;
  }
  return text;
}

// The fields that hold a decimal number, in the window's texts.
std::array<std::string*, 8> DecimalFields(TWindowState& state) {
  return {&state.incrementMText,        &state.gravityConstantText, &state.innerDistanceDegText,
          &state.outerDistanceDegText,  &state.earthRadiusMText,    &state.azimuthFromDegText,
          &state.azimuthToDegText,      &state.segmentSizeArcSecText};
}

// The constant cells of a layer row: "Elevation" and "Density" (table
// columns 1 and 3); the others name grid files.
constexpr std::size_t kConstantCells[] = {0, 2};

// Every number of `state` rewritten by `convert`.
template <typename Convert>
void ConvertNumbers(TWindowState& state, Convert convert) {
  for (std::string* text : DecimalFields(state)) *text = convert(*text);
  for (TLayerCells& row : state.layerRows) {
    for (const std::size_t c : kConstantCells) row[c] = convert(row[c]);
  }
}

}  // namespace

std::string WindowNumberText(double value, char decimalSeparator) {
  return WithSeparator(CFormat("%.15G", value), decimalSeparator);
}

std::string FileNumberText(const std::string& typed, char userSeparator) {
  double ignored = 0;
  if (userSeparator == kFileDecimalSeparator || !TextToFloat(typed, userSeparator, ignored)) {
    return typed;
  }
  return ReplaceSeparator(typed, userSeparator, kFileDecimalSeparator);
}

std::string UserNumberText(const std::string& stored, char userSeparator) {
  double ignored = 0;
  for (const char separator : {kFileDecimalSeparator, ','}) {
    if (TextToFloat(stored, separator, ignored)) return ReplaceSeparator(stored, separator, userSeparator);
  }
  return stored;
}

TWindowState WithFileNumbers(const TWindowState& state, char userSeparator) {
  TWindowState file = state;
  ConvertNumbers(file, [&](const std::string& text) { return FileNumberText(text, userSeparator); });
  return file;
}

TWindowState TWindowState::StartValues(char decimalSeparator) {
  TWindowState state;  // the start values with a decimal point
  for (std::string* text :
       {&state.incrementMText, &state.gravityConstantText, &state.innerDistanceDegText,
        &state.outerDistanceDegText, &state.earthRadiusMText, &state.azimuthFromDegText,
        &state.azimuthToDegText, &state.segmentSizeArcSecText}) {
    *text = WithSeparator(*text, decimalSeparator);
  }
  return state;
}

std::string SettingsFileName(const std::string& applicationPath) {
  return OutputFileName(applicationPath, "", ".ini");
}

bool ReadCfgFile(TWindowState& state, const std::string& path, char decimalSeparator) {
  const TSettingsFault fault = ReadSettingsFile(state, path, decimalSeparator).fault;
  return fault != TSettingsFault::Unreadable && fault != TSettingsFault::LayerRowCount &&
         fault != TSettingsFault::DuplicateKey;
}

std::optional<int> CrossingPriorityValue(std::string_view text) {
  int value = -1;
  if (!TIniFile::ParseInteger(text, value)) {
    // "1.0", "2,00": a whole part and a fraction of zeros only.
    const std::size_t separator = text.find_first_of(".,");
    if (separator == std::string_view::npos) return std::nullopt;
    const std::string_view fraction = text.substr(separator + 1);
    if (fraction.empty() || fraction.find_first_not_of('0') != std::string_view::npos) return std::nullopt;
    if (!TextToInt(text.substr(0, separator), value)) return std::nullopt;
  }
  if (value < 0 || value > 2) return std::nullopt;
  return value;
}

bool LooksLikeThousandsComma(std::string_view text) {
  if (text.find('.') != std::string_view::npos) return false;
  const std::size_t comma = text.find(',');
  if (comma == std::string_view::npos || text.find(',', comma + 1) != std::string_view::npos) return false;
  const std::string_view digits = text.substr(comma + 1);
  if (digits.size() != 3 || digits.find_first_not_of("0123456789") != std::string_view::npos) return false;
  int whole = 0;
  return TextToInt(text.substr(0, comma), whole) && whole != 0;
}

std::string ResultNameSource(const TWindowState& state) {
  return state.points.empty() ? state.pointFile : state.points.settingsFile;
}

TSettingsRead ReadSettingsFile(TWindowState& state, const std::string& path, char decimalSeparator) {
  TSettingsRead result;
  const auto fault = [&result](TSettingsFault kind, std::string message) {
    if (result.fault != TSettingsFault::None) return;  // the first one counts
    result.fault = kind;
    result.message = std::move(message);
  };
  try {
    const TIniFile ini(path);
    // Reads see the first of two keys, so the file would say one thing and
    // the run do another: a second zone1 used to drop a band silently.
    if (const std::optional<TIniDuplicateKey> twice = ini.FirstDuplicateKey()) {
      fault(TSettingsFault::DuplicateKey,
            "Key " + twice->key + " is given twice in [" + twice->section + "] of " + path + ": line " +
                std::to_string(twice->firstLine) + " (" + twice->firstText + ") and line " +
                std::to_string(twice->secondLine) + " (" + twice->secondText + "); remove one of them");
      return result;
    }
    const auto text = [&](const char* key, std::string& field) {
      field = ini.ReadString(kCfgSection, key, field);
    };
    text("datafile", state.pointFile);
    text("appendtext", state.appendText);
    text("gravc", state.gravityConstantText);
    text("t3dist", state.innerDistanceDegText);
    text("t4dist", state.outerDistanceDegText);
    text("R", state.earthRadiusMText);
    text("LonFrom", state.azimuthFromDegText);
    text("LonTo", state.azimuthToDegText);
    text("incr", state.incrementMText);

    // A value the radio group cannot select keeps the current selection, and
    // is a fault of the file: a run must not fall back on another rule.
    if (ini.HasKey(kCfgSection, "priority")) {
      const std::string priorityText = ini.ReadString(kCfgSection, "priority", "");
      if (const std::optional<int> priority = CrossingPriorityValue(priorityText)) {
        state.crossingPriority = *priority;
      } else {
        fault(TSettingsFault::Priority,
              "priority=" + priorityText + " in " + path +
                  " is not a crossing rule: write 0 (change layers & sign), 1 (top grid) or 2 (bottom grid)");
      }
    }

    text("number", state.layerCountText);

    // A row count the table cannot take (a damaged file, or one that would
    // fill the memory) leaves the table as it is, and is reported: the rows
    // the file holds would otherwise be dropped without a word.
    const std::string rowsText = ini.ReadString(kCfgSection, "nlayer", "");
    int rows = state.LayerRowCount();
    if (!rowsText.empty() && (!TIniFile::ParseInteger(rowsText, rows) || rows < 0 ||
                              rows > kMaxStoredLayerRows)) {
      fault(TSettingsFault::LayerRowCount, "");
    } else {
      state.layerRows.resize(static_cast<std::size_t>(rows));
    }

    for (int c = 0; c < 5; ++c) {
      const int width = ini.ReadInteger(kCfgSection, kColumnKeys[c], state.columnWidthsPx[c]);
      if (width >= 0) state.columnWidthsPx[c] = width;
    }

    text("segsize", state.segmentSizeArcSecText);
    // Read as the file's decimal comma they give a thousand times less than
    // a user who grouped the digits meant.
    for (const auto& [key, field] : {std::pair{"R", &state.earthRadiusMText},
                                     std::pair{"segsize", &state.segmentSizeArcSecText}}) {
      if (ini.HasKey(kCfgSection, key) && LooksLikeThousandsComma(*field)) {
        fault(TSettingsFault::ThousandsComma,
              std::string(key) + "=" + *field + " in " + path +
                  ": the comma may separate thousands; write the number with a decimal point");
      }
    }
    state.sumsOnly = ini.ReadBool(kCfgSection, "sum", state.sumsOnly);

    for (int r = 1; r <= state.LayerRowCount(); ++r) {
      for (int c = 1; c <= 4; ++c) {
        std::string& cell = state.layerRows[r - 1][c - 1];
        cell = ini.ReadString(kCfgSection, CellKey(r, c), OrSpace(cell));
      }
    }

    const std::vector<std::string> zoneKeys = ini.ReadSectionKeys(kZoneSection);
    if (!zoneKeys.empty()) {
      state.zones.settingsFile = path;
      state.zones.keys.clear();
      for (const std::string& key : zoneKeys) {
        state.zones.keys.push_back({key, ini.ReadString(kZoneSection, key, "")});
      }
    }
    const std::vector<std::string> pointKeys = ini.ReadSectionKeys(kPointsSection);
    if (!pointKeys.empty()) {
      state.points.settingsFile = path;
      state.points.keys.clear();
      for (const std::string& key : pointKeys) {
        state.points.keys.push_back({key, ini.ReadString(kPointsSection, key, "")});
      }
    }
    ConvertNumbers(state, [&](const std::string& text) { return UserNumberText(text, decimalSeparator); });
    return result;
  } catch (const TIniFileError&) {
    result = {};
    fault(TSettingsFault::Unreadable, "");
    return result;
  }
}

bool SaveCfgFile(const TWindowState& typedState, const std::string& path, char decimalSeparator) {
  const TWindowState state = WithFileNumbers(typedState, decimalSeparator);
  try {
    TIniFile ini(path);
    // A key given twice makes the file unreadable for the window (the read
    // refuses it); the save keeps the first of each, which it rewrites.
    ini.EraseDuplicateKeys();
    ini.WriteString(kCfgSection, "datafile", TrimText(state.pointFile));
    ini.WriteString(kCfgSection, "appendtext",
                    state.appendText.empty() ? std::string(" ") : TrimText(state.appendText));
    ini.WriteString(kCfgSection, "gravc", state.gravityConstantText);
    ini.WriteString(kCfgSection, "t3dist", state.innerDistanceDegText);
    ini.WriteString(kCfgSection, "t4dist", state.outerDistanceDegText);
    ini.WriteString(kCfgSection, "R", state.earthRadiusMText);
    ini.WriteString(kCfgSection, "LonFrom", state.azimuthFromDegText);
    ini.WriteString(kCfgSection, "LonTo", state.azimuthToDegText);
    ini.WriteString(kCfgSection, "incr", state.incrementMText);
    ini.WriteInteger(kCfgSection, "priority", state.crossingPriority);
    ini.WriteString(kCfgSection, "number", state.layerCountText);
    ini.WriteInteger(kCfgSection, "nlayer", state.LayerRowCount());
    for (int c = 0; c < 5; ++c) ini.WriteInteger(kCfgSection, kColumnKeys[c], state.columnWidthsPx[c]);
    ini.WriteString(kCfgSection, "segsize", state.segmentSizeArcSecText);
    ini.WriteBool(kCfgSection, "sum", state.sumsOnly);
    for (int r = 1; r <= state.LayerRowCount(); ++r) {
      for (int c = 1; c <= 4; ++c) {
        ini.WriteString(kCfgSection, CellKey(r, c), OrSpace(state.layerRows[r - 1][c - 1]));
      }
    }
    if (state.zones.empty()) {
      ini.EraseSection(kZoneSection);
    } else {
      // Keys the state no longer holds go, so a shorter list leaves no stale
      // zoneN behind; the others are rewritten where they stand.
      for (const std::string& key : ini.ReadSectionKeys(kZoneSection)) {
        const bool kept = std::any_of(state.zones.keys.begin(), state.zones.keys.end(),
                                      [&](const TZoneKeyText& z) { return SameName(z.key, key); });
        if (!kept) ini.DeleteKey(kZoneSection, key);
      }
      for (const TZoneKeyText& zone : state.zones.keys) ini.WriteString(kZoneSection, zone.key, zone.value);
    }
    // The same for [points]: a file that had none is written as before.
    if (state.points.empty()) {
      ini.EraseSection(kPointsSection);
    } else {
      for (const std::string& key : ini.ReadSectionKeys(kPointsSection)) {
        const bool kept = std::any_of(state.points.keys.begin(), state.points.keys.end(),
                                      [&](const TZoneKeyText& k) { return SameName(k.key, key); });
        if (!kept) ini.DeleteKey(kPointsSection, key);
      }
      for (const TZoneKeyText& entry : state.points.keys) ini.WriteString(kPointsSection, entry.key, entry.value);
    }
    ini.UpdateFile();
    return true;
  } catch (const TIniFileError&) {
    return false;
  }
}

void ApplyDefaults(TWindowState& state, char decimalSeparator) {
  state.gravityConstantText = WindowNumberText(kStartGravityConstant, decimalSeparator);
  state.innerDistanceDegText = WindowNumberText(kDefaultPsiFromDeg, decimalSeparator);
  state.outerDistanceDegText = WindowNumberText(kStartPsiToDeg, decimalSeparator);
  state.earthRadiusMText = WindowNumberText(kStartEarthRadiusM, decimalSeparator);
  state.appendText.clear();
  // These three are written with one decimal: "0.0", "360.0", "0.0".
  state.azimuthFromDegText = WithSeparator(CFormat("%.1f", kStartAzimuthFromDeg), decimalSeparator);
  state.azimuthToDegText = WithSeparator(CFormat("%.1f", kStartAzimuthToDeg), decimalSeparator);
  state.incrementMText = WithSeparator(CFormat("%.1f", kStartIncrementM), decimalSeparator);
}

}  // namespace globelayers

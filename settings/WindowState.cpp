#include "WindowState.h"

#include <algorithm>
#include <string_view>

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

}  // namespace

std::string WindowNumberText(double value, char decimalSeparator) {
  return WithSeparator(CFormat("%.15G", value), decimalSeparator);
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

bool ReadCfgFile(TWindowState& state, const std::string& path) {
  try {
    const TIniFile ini(path);
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

    // A value the radio group cannot select keeps the current selection.
    const int priority = ini.ReadInteger(kCfgSection, "priority", state.crossingPriority);
    if (priority >= 0 && priority <= 2) state.crossingPriority = priority;

    text("number", state.layerCountText);

    // A row count the table cannot take counts as absent.
    const int rows = ini.ReadInteger(kCfgSection, "nlayer", state.LayerRowCount());
    if (rows >= 0 && rows <= kMaxStoredLayerRows) state.layerRows.resize(static_cast<std::size_t>(rows));

    for (int c = 0; c < 5; ++c) {
      const int width = ini.ReadInteger(kCfgSection, kColumnKeys[c], state.columnWidthsPx[c]);
      if (width >= 0) state.columnWidthsPx[c] = width;
    }

    text("segsize", state.segmentSizeArcSecText);
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
    return true;
  } catch (const TIniFileError&) {
    return false;
  }
}

bool SaveCfgFile(const TWindowState& state, const std::string& path) {
  try {
    TIniFile ini(path);
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
  // These three are written with one decimal and keep their point whatever
  // the locale: "0.0", "360.0", "0.0".
  state.azimuthFromDegText = CFormat("%.1f", kStartAzimuthFromDeg);
  state.azimuthToDegText = CFormat("%.1f", kStartAzimuthToDeg);
  state.incrementMText = CFormat("%.1f", kStartIncrementM);
}

}  // namespace globelayers

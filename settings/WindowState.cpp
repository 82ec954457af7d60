#include "WindowState.h"

#include <string_view>

#include "IniFile.h"
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

const char* const kColumnKeys[5] = {"column0", "column1", "column2", "column3", "column4"};

}  // namespace

TWindowState TWindowState::StartValues(char decimalSeparator) {
  TWindowState state;
  state.TXT_gravc = WithSeparator("0.006673", decimalSeparator);
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
    text("datafile", state.dataPath);
    text("appendtext", state.TXT_Append);
    text("gravc", state.TXT_gravc);
    text("t3dist", state.TXT_T3DIST);
    text("t4dist", state.TXT_T4DIST);
    text("R", state.TXT_R);
    text("LonFrom", state.TXT_LambdaFrom);
    text("LonTo", state.TXT_LambdaTo);
    text("incr", state.txt_incr);

    // A value the radio group cannot select keeps the current selection.
    const int priority = ini.ReadInteger(kCfgSection, "priority", state.rg1);
    if (priority >= 0 && priority <= 2) state.rg1 = priority;

    text("number", state.txt_number);

    // A row count the table cannot take counts as absent.
    const int rows = ini.ReadInteger(kCfgSection, "nlayer", state.LayerRowCount());
    if (rows >= 0 && rows <= kMaxStoredLayerRows) state.layerRows.resize(static_cast<std::size_t>(rows));

    for (int c = 0; c < 5; ++c) {
      const int width = ini.ReadInteger(kCfgSection, kColumnKeys[c], state.colWidths[c]);
      if (width >= 0) state.colWidths[c] = width;
    }

    text("segsize", state.txt_segment);
    state.chb_sum = ini.ReadBool(kCfgSection, "sum", state.chb_sum);

    for (int r = 1; r <= state.LayerRowCount(); ++r) {
      for (int c = 1; c <= 4; ++c) {
        std::string& cell = state.layerRows[r - 1][c - 1];
        cell = ini.ReadString(kCfgSection, CellKey(r, c), OrSpace(cell));
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
    ini.WriteString(kCfgSection, "datafile", TrimText(state.dataPath));
    ini.WriteString(kCfgSection, "appendtext",
                    state.TXT_Append.empty() ? std::string(" ") : TrimText(state.TXT_Append));
    ini.WriteString(kCfgSection, "gravc", state.TXT_gravc);
    ini.WriteString(kCfgSection, "t3dist", state.TXT_T3DIST);
    ini.WriteString(kCfgSection, "t4dist", state.TXT_T4DIST);
    ini.WriteString(kCfgSection, "R", state.TXT_R);
    ini.WriteString(kCfgSection, "LonFrom", state.TXT_LambdaFrom);
    ini.WriteString(kCfgSection, "LonTo", state.TXT_LambdaTo);
    ini.WriteString(kCfgSection, "incr", state.txt_incr);
    ini.WriteInteger(kCfgSection, "priority", state.rg1);
    ini.WriteString(kCfgSection, "number", state.txt_number);
    ini.WriteInteger(kCfgSection, "nlayer", state.LayerRowCount());
    for (int c = 0; c < 5; ++c) ini.WriteInteger(kCfgSection, kColumnKeys[c], state.colWidths[c]);
    ini.WriteString(kCfgSection, "segsize", state.txt_segment);
    ini.WriteBool(kCfgSection, "sum", state.chb_sum);
    for (int r = 1; r <= state.LayerRowCount(); ++r) {
      for (int c = 1; c <= 4; ++c) {
        ini.WriteString(kCfgSection, CellKey(r, c), OrSpace(state.layerRows[r - 1][c - 1]));
      }
    }
    ini.UpdateFile();
    return true;
  } catch (const TIniFileError&) {
    return false;
  }
}

void ApplyDefaults(TWindowState& state, char decimalSeparator) {
  state.TXT_gravc = WithSeparator("0.006673", decimalSeparator);
  state.TXT_T3DIST = WithSeparator("1.499444", decimalSeparator);
  state.TXT_T4DIST = "180";
  state.TXT_R = "6371001";
  state.TXT_Append.clear();
  // These three are fixed texts and keep their point whatever the locale.
  state.TXT_LambdaFrom = "0.0";
  state.TXT_LambdaTo = "360.0";
  state.txt_incr = "0.0";
}

}  // namespace globelayers

// What the main window holds as text or state, without any widget: the
// window copies its controls into a TWindowState and back, and everything
// that needs no widget (the settings file, the Default button, the run
// set-up and the run log) works on this record, for the window and the
// batch front end alike.
#pragma once

#include <array>
#include <string>
#include <vector>

namespace globelayers {

// Cells of one layer row in table columns 1..4: "Elevation", "Elevation
// Grid", "Density", "Density Grid". An empty text is an empty cell.
using TLayerCells = std::array<std::string, 4>;

// Numeric fields hold text exactly as typed (in the user's number format);
// they are converted only when a run is set up.
struct TWindowState {
  std::string dataPath;                // point file
  std::string TXT_Append;              // appended to the output file names
  std::string txt_incr = "0";          // metres
  std::string TXT_gravc = "0.006673";  // gravitational constant
  std::string TXT_T3DIST = "0";        // Phi_from, degrees
  std::string TXT_T4DIST = "180";      // Phi_to, degrees
  std::string TXT_R = "6371001";       // Earth radius, metres
  std::string TXT_LambdaFrom = "0";    // degrees
  std::string TXT_LambdaTo = "360";    // degrees
  int rg1 = 0;                         // priority: 0 change layers & sign, 1 top grid, 2 bottom grid
  int rg2 = 0;                         // output unit: 0 mGal, 1 microGal; not stored in the settings
  std::string txt_number = "1";        // "Number of layers" field (informative only)
  std::string txt_segment = "3600";    // segment size, arc-seconds
  bool chb_sum = false;                // write only the summed columns
  std::array<int, 5> colWidths{20, 55, 260, 55, 260};  // pixels, table columns 0..4
  std::vector<TLayerCells> layerRows;  // table rows 1..n (uppermost first); rows[r-1][c-1]

  // The window's start values with numbers written in the user's format:
  // "0.006673" becomes "0,006673" with a decimal comma. The default
  // constructor gives the same with a decimal point.
  static TWindowState StartValues(char decimalSeparator);

  int LayerRowCount() const { return static_cast<int>(layerRows.size()); }

  bool operator==(const TWindowState&) const = default;
};

// Largest number of layer rows a settings file may restore; more is taken as
// a damaged file (the key counts as absent).
inline constexpr int kMaxStoredLayerRows = 1000;

inline constexpr const char* kCfgSection = "frmMain";
inline constexpr const char* kReadCfgErrorText = "Error by read config file - use default";
inline constexpr const char* kSaveCfgErrorText = "Error by save config file";

// The settings file of an application: its own path with the extension
// replaced by ".ini" (or ".ini" appended when it has none).
std::string SettingsFileName(const std::string& applicationPath);

// Reads the settings file into `state`; the values `state` holds are the
// defaults of absent keys. Values the window cannot take (a row count below
// 0 or above kMaxStoredLayerRows, a negative column width, a priority
// outside 0..2) count as absent. False when the file could not be read: the
// caller shows kReadCfgErrorText; fields read before the failure keep what
// was read.
[[nodiscard]] bool ReadCfgFile(TWindowState& state, const std::string& path);

// Writes every key, then saves the file in one step. False when it could not
// be saved (the previous file is left whole): the caller shows
// kSaveCfgErrorText.
[[nodiscard]] bool SaveCfgFile(const TWindowState& state, const std::string& path);

// The Default button: standard values for the gravitational constant, the
// zone, the Earth radius, the append text, the azimuth range and the
// increment. Everything else is left alone.
void ApplyDefaults(TWindowState& state, char decimalSeparator);

}  // namespace globelayers

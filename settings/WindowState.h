// What the main window holds as text or state, without any widget: the
// window copies its controls into a TWindowState and back, and everything
// that needs no widget (the settings file, the Default button, the run
// set-up and the run log) works on this record, for the window and the
// batch front end alike.
#pragma once

#include <array>
#include <optional>
#include <string_view>
#include <string>
#include <vector>

#include "StartValues.h"

namespace globelayers {

// Cells of one layer row in table columns 1..4: "Elevation", "Elevation
// Grid", "Density", "Density Grid". An empty text is an empty cell.
using TLayerCells = std::array<std::string, 4>;

// Start values only the window has; those of a run are in StartValues.h.
inline constexpr int kStartLayerCount = 1;  // layers: what "Number of layers" shows with an empty table
inline constexpr std::array<int, 5> kStartColumnWidthsPx{20, 55, 260, 55, 260};  // pixels, table columns 0..4
// The inner spherical distance the Default button puts in, degrees.
inline constexpr double kDefaultPsiFromDeg = 1.499444;

// A start value as the window writes it: at most 15 significant digits, no
// trailing zeros, `decimalSeparator` for the point ("0,006673"). For numbers
// written without an exponent (every start value) this is the text the
// windows' FloatToStr gives.
std::string WindowNumberText(double value, char decimalSeparator = '.');

// The decimal separator of numbers in files: the settings file, the run log.
inline constexpr char kFileDecimalSeparator = '.';

// A number text as the settings file and the run log hold it: `typed`, a
// number in the user's format, with its `userSeparator` written as a point
// ("0,006673" becomes "0.006673" under a decimal comma). Only the separator
// changes, never a digit, so a point text stays byte for byte. A text that
// is not a number in the user's format is kept as typed.
std::string FileNumberText(const std::string& typed, char userSeparator);

// A number text of a file as the window shows it: `stored`, written with a
// decimal point or (as older files of decimal-comma windows hold it) with
// a single comma and no point, with that separator replaced by
// `userSeparator`. A text that is neither is kept as it stands, so that the
// run refuses it, naming it.
std::string UserNumberText(const std::string& stored, char userSeparator);

struct TWindowState;
// `state` with every number (the fields holding decimal numbers and the
// constant cells of the layer rows) as FileNumberText writes it.
TWindowState WithFileNumbers(const TWindowState& state, char userSeparator);

// The settings file's optional [zones] section, as it stands there. When it
// holds zones they define the zone and its segment sizes, and the inner and
// outer distance and the segment size of the window are not used.
inline constexpr const char* kZoneSection = "zones";

// One key of the [zones] section: "zone2" with "0.1;1;60", that is
// FROM;TO;SEGSIZE in degrees; degrees; arc-seconds, always with a decimal
// point. Kept as text and converted when a run is set up, so a key that does
// not convert survives a save and is refused by the run, naming it.
struct TZoneKeyText {
  std::string key;    // as written in the file, e.g. "zone2"
  std::string value;  // as written, blanks around removed
  bool operator==(const TZoneKeyText&) const = default;
};

struct TZoneListText {
  std::string settingsFile;          // the file the keys were read from; messages name it
  std::vector<TZoneKeyText> keys;    // in file order; empty: the window's single zone
  bool empty() const { return keys.empty(); }
  bool operator==(const TZoneListText&) const = default;
};

// The settings file's optional [points] section, as it stands there. When
// it holds keys, the computation points are the nodes of a grid and the
// point file (datafile) is not used:
//   grid=WEST;EAST;SOUTH;NORTH;STEP   degrees, always with a decimal point
//   height=METRES or height=surface+METRES
//                                     metres: constant, or above the top of
//                                     the first layer at each node (0 when absent)
//   geotiff=1                         a GeoTIFF beside the netCDF (0 when absent)
// Kept as text and converted when a run is set up (ConvertPointGrid), so a
// key that does not convert survives a save and is refused by the run,
// naming it.
inline constexpr const char* kPointsSection = "points";

struct TPointGridText {
  // The file the keys were read from or are saved to: messages name it, and
  // the result files take its name, as they take a point file's.
  std::string settingsFile;
  std::vector<TZoneKeyText> keys;  // in file order; empty: the point file's points
  bool empty() const { return keys.empty(); }
  bool operator==(const TPointGridText&) const = default;
};

// What the window shows, as the user typed it. Fields named "...Text" hold
// a number as text exactly as typed (in the user's number format, the
// decimal separator included): they are converted only when a run is set
// up, so a text that is not a number survives a save and a restart. A
// default-constructed record holds the start values with a decimal point.
struct TWindowState {
  std::string pointFile;   // path of the computation point file, as typed
  std::string appendText;  // inserted into the output file names before "_dce..."
  // Numbers as typed; the unit is that of the number.
  std::string incrementMText = WindowNumberText(kStartIncrementM);                // metres; 0: none
  std::string gravityConstantText = WindowNumberText(kStartGravityConstant);      // mGal per (g/cm3 times m)
  std::string innerDistanceDegText = WindowNumberText(kStartPsiFromDeg);          // degrees: zone's inner psi
  std::string outerDistanceDegText = WindowNumberText(kStartPsiToDeg);            // degrees: zone's outer psi
  std::string earthRadiusMText = WindowNumberText(kStartEarthRadiusM);            // metres
  std::string azimuthFromDegText = WindowNumberText(kStartAzimuthFromDeg);        // degrees: azimuth range start
  std::string azimuthToDegText = WindowNumberText(kStartAzimuthToDeg);            // degrees: azimuth range end
  std::string layerCountText = std::to_string(kStartLayerCount);                  // layers; informative only
  std::string segmentSizeArcSecText = WindowNumberText(kStartSegmentSizeArcSec);  // arc-seconds
  int crossingPriority = 0;  // index (no unit): 0 change layers & sign, 1 top grid, 2 bottom grid
  int outputUnit = 0;        // index (no unit): 0 mGal, 1 microGal; not stored in the settings
  bool sumsOnly = false;     // flag (no unit): write only the summed columns
  std::array<int, 5> columnWidthsPx = kStartColumnWidthsPx;  // pixels, layer table columns 0..4
  std::vector<TLayerCells> layerRows;  // texts as typed: table rows 1..n (uppermost first); rows[r-1][c-1]
  // Not shown by the window, which carries it from the file to the file.
  TZoneListText zones;
  // The grid of points; when it holds keys it replaces pointFile.
  TPointGridText points;

  // The window's start values with numbers written in the user's format:
  // "0.006673" becomes "0,006673" with a decimal comma.
  static TWindowState StartValues(char decimalSeparator);

  int LayerRowCount() const { return static_cast<int>(layerRows.size()); }

  bool operator==(const TWindowState&) const = default;
};

// The file whose name the result files and the run log take, with its
// extension replaced: the point file, or for a grid of points the settings
// file that holds it.
std::string ResultNameSource(const TWindowState& state);

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
// defaults of absent keys (a [zones] section without keys counts as absent).
// Numbers (the fields holding decimal numbers and the constant cells of the
// layer rows, table columns 1 and 3) are read with either separator and put
// into `state` with `decimalSeparator`, the user's (UserNumberText). Values the window cannot
// take (a negative column width, a priority outside 0..2) count as absent.
// False when the file could not be read, or when its layer row count is not
// a whole number in 0..kMaxStoredLayerRows (the table then keeps its rows
// and the other keys are still read): the caller shows kReadCfgErrorText;
// fields read before a failure keep what was read.
// ReadSettingsFile tells the window's defaults from the faults a run must
// refuse.
[[nodiscard]] bool ReadCfgFile(TWindowState& state, const std::string& path,
                               char decimalSeparator = kFileDecimalSeparator);

// What is wrong with a settings file, the first fault found.
enum class TSettingsFault {
  None,
  Unreadable,     // the file cannot be read (ReadCfgFile's false)
  LayerRowCount,  // nlayer is not a whole number in 0..kMaxStoredLayerRows (ReadCfgFile's false)
  DuplicateKey,   // a key twice in a section: nothing is read (ReadCfgFile's false)
  Priority,       // priority is not 0, 1 or 2: the selection is kept (ReadCfgFile's true)
  ThousandsComma, // R or segsize reads like a thousands separator: kept as read (ReadCfgFile's true)
};

struct TSettingsRead {
  TSettingsFault fault = TSettingsFault::None;
  // Names the file and the value at fault; empty for Unreadable and
  // LayerRowCount, whose front ends keep their own words.
  std::string message;
  bool ok() const { return fault == TSettingsFault::None; }
};

// ReadCfgFile, with the fault a run refuses:
//   a key twice in any section, names compared without case
//       "Key priority is given twice in [frmMain] of F.ini: line 12 (priority=1) and line 30 (PRIORITY=2) ..."
//   a crossing priority other than 0, 1 or 2, written as a whole number or
//   with a decimal point or comma and a zero fraction ("1.0", "1,00")
//       "priority=5 in F.ini is not a crossing rule: ..."
//   R or segsize with a comma followed by exactly three digits, which may be
//   a thousands separator ("6371,001", "3,600"; "0,500" cannot be one)
//       "R=6371,001 in F.ini: ... write the number with a decimal point"
TSettingsRead ReadSettingsFile(TWindowState& state, const std::string& path,
                               char decimalSeparator = kFileDecimalSeparator);

// The crossing priority a settings value gives, or nullopt when it gives
// none: 0, 1 or 2, as an integer ("0x1" included) or with a zero fraction
// after a decimal point or comma.
std::optional<int> CrossingPriorityValue(std::string_view text);

// Whether a number text holds a comma that may separate thousands: no
// point, one comma, exactly three digits after it and a whole part other
// than 0 before it.
bool LooksLikeThousandsComma(std::string_view text);

// Writes every key, then saves the file in one step. Numbers typed with
// `decimalSeparator`, the user's, are written with a decimal point
// (FileNumberText), so that any window and the batch can read the file;
// other texts as they stand. The [zones] section
// then holds exactly the state's zone keys; without any it is removed, so a
// file that had none is written as before. False when it could not
// be saved (the previous file is left whole): the caller shows
// kSaveCfgErrorText.
[[nodiscard]] bool SaveCfgFile(const TWindowState& state, const std::string& path,
                               char decimalSeparator = kFileDecimalSeparator);

// The Default button: standard values for the gravitational constant, the
// zone (kDefaultPsiFromDeg to the start outer distance), the Earth radius,
// the append text, the azimuth range and the increment, numbers in the
// user's format; the azimuths and the increment are written with one
// decimal ("0.0", "360.0", "0.0"; "0,0", "360,0", "0,0" under a decimal
// comma, which the field checks then take). Everything else is left alone.
void ApplyDefaults(TWindowState& state, char decimalSeparator);

}  // namespace globelayers

// From the window's texts to a run record: the layer row texts, the checks
// of the Calc command and the conversion of every number, all before
// anything runs, so that a refused or unconvertible input never leaves a
// disabled window or a half-started run behind.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Calculation.h"
#include "WindowState.h"
#include "ZoneChoice.h"

namespace globelayers {

// One table row as a layer row text: the four cells joined by ';', an empty
// cell written as "@". Cells are taken as they stand (a blank stays a blank).
std::string LayerRowText(const TLayerCells& cells);

// The grids of a grid cell (elevation grid, density grid): one name, or an
// ordered list of names joined by " | " (space, bar, space), finest first.
// A cell without " | " is one name exactly as it stands, odd characters and
// blanks included. A cell is always split at " | ", so a file whose name
// itself holds " | " can only be named through a link or a copy under
// another name. Returns false (and `grids` empty) when the list has an
// empty entry ("a | ", " | b", "a |  | b") or an entry "@".
bool GridListFromCell(const std::string& cell, std::vector<TGridReference>& grids);

// "Grid cell '...' holds an empty entry in its list of grids ..." for a
// cell that GridListFromCell refuses.
std::string GridListFault(const std::string& cell);

enum class TRunSetupFault {
  None,        // the run may start
  Check,       // one of the Calc command's checks refused the input: a plain message (TRunCheck says which)
  Conversion,  // a field does not hold a number: the conversion error's text
};

// Which of the Calc command's checks refused the input; the texts of the
// first five are RunCheckMessage's.
enum class TRunCheck {
  None,
  NoPointFile,     // no point file named
  NoLayerRow,      // no layer row
  DistanceOrder,   // Phi_to not above Phi_from
  AzimuthOrder,    // Lambda_to not above Lambda_from
  TooFewLayerRows, // fewer than two layer rows
  ZoneKeys,        // a [zones] key: TZoneKeyFault says which fault, the message names file and key
  GridList,        // a grid cell whose list of grids has an empty entry (GridListFault)
  PointGrid,       // the [points] section: the message names file and key (ConvertPointGrid)
};

// The text of one of the five plain checks; empty for the others.
std::string RunCheckMessage(TRunCheck check);

// The input a refused run wants the user to mend; the window focuses the
// control that shows it.
enum class TRunField {
  None,           // leave the focus where it is
  InnerDistance,  // the zone's inner spherical distance (Phi_from)
  AzimuthFrom,    // the start of the azimuth range (Lambda_from)
  LayerTable,     // the layer rows
};

// What is wrong with the [zones] keys (ConvertZoneList).
enum class TZoneKeyFault {
  None,
  TooManyKeys,       // more than kMaxZones keys
  PresetBesideKeys,  // preset=NAME beside other keys
  UnknownPreset,     // preset=NAME with a name that no preset has
  UnknownKey,        // a key other than preset or zoneN (N = 1, 2, ...)
  NotAZone,          // a zoneN value other than FROM;TO;SEGSIZE[;mean]
  MissingKey,        // a number left out of the sequence
};

struct TRunSetup {
  TRunSetupFault fault = TRunSetupFault::None;
  TRunCheck check = TRunCheck::None;            // which check, after a Check refusal
  TZoneKeyFault zoneKeyFault = TZoneKeyFault::None;  // which, after a ZoneKeys check
  std::string message;                    // what to show when fault != None
  TRunField focusField = TRunField::None;  // what to focus after a Check refusal
  TRunParameters params;                  // complete when fault == None

  bool ok() const { return fault == TRunSetupFault::None; }
};

// The [zones] keys as the run's zone: a list of bands ordered zone1, zone2,
// ..., or a preset. On a fault `message` names the settings file and the key
// at fault:
//   a key other than zoneN (N = 1, 2, ...)  "Unknown key ... in [zones] of ..."
//   more than kMaxZones keys                "[zones] of ... holds N keys, more than the 1000 zones ..."
//   preset=NAME beside other keys           "[zones] of ... holds preset=... beside other keys: ..."
//   preset=NAME with an unknown name        "Unknown zone preset preset=... in ...: the presets are ..."
//   a value other than FROM;TO;SEGSIZE      "Zone key zoneN=... in ... is not ..."
//     (optionally followed by ";mean": the band samples block means)
//   a number left out of the sequence       "Zone key zoneN is missing in [zones] of ..."
// Whether the zones join without gaps is the engine's check.
struct TZoneListSetup {
  TZoneChoice zone;     // a TZoneList or a TZonePreset (its name in lower case) when ok()
  TZoneKeyFault fault = TZoneKeyFault::None;
  std::string message;
  bool ok() const { return fault == TZoneKeyFault::None; }
};
TZoneListSetup ConvertZoneList(const TZoneListText& text);

// One zone line's value, "FROM;TO;SEGSIZE" (degrees, degrees, arc-seconds,
// decimal point whatever the locale) optionally followed by ";mean" (block
// means, any case), into `zone`; false when it does not convert.
bool ParseZone(std::string_view value, TZone& zone);

// The [points] keys as the run's grid of points (WindowState.h for the
// keys). On a fault `message` names the settings file and the key at fault:
//   a key other than grid, height, geotiff  "Unknown key ... in [points] of ..."
//   no grid key                             "[points] of ... holds no grid=WEST;EAST;SOUTH;NORTH;STEP ..."
//   a value that does not convert           "grid=... in ... is not ..." (and height=, geotiff=)
//   a grid no run can use (CheckPointGrid)  "grid=... in ...: " and the engine's reason
struct TPointGridSetup {
  TPointGrid grid;      // when ok()
  std::string message;
  bool ok() const { return message.empty(); }
};
TPointGridSetup ConvertPointGrid(const TPointGridText& text);

// The checks in the Calc command's order, each with its message:
//   1 pointFile empty                 "Input data file is required"
//     (not with [points] keys: ConvertPointGrid's faults take its place)
//   2 no layer row                    "At least two elevation grid are required"
//   3 Phi_to not above Phi_from       "Phi_to must be greater then Phi_from"        focus InnerDistance
//   4 Lambda_to not above Lambda_from "Lambda_to must be greater then Lambda_from"  focus AzimuthFrom
//   5 fewer than two layer rows       "Number of layers must be grater or equal 2"  focus LayerTable
// With zone keys (state.zones), ConvertZoneList takes the place of check 3
// and of the segment size: the inner and outer distance and the segment size
// texts are then neither checked nor converted, and a zone fault is a Check
// refusal with its message. A zone given already converted (`zone`, the
// batch's --zones) takes the place of both.
// The angles are converted where their check needs them; then the segment
// size, the gravitational constant, the Earth radius, the increment and the
// constant cells of the layer rows. A text that does not convert gives
// "'%s' is not a valid floating point value" with that text.
TRunSetup PrepareRun(const TWindowState& state, char decimalSeparator,
                     const std::optional<TZoneChoice>& zone = std::nullopt);

}  // namespace globelayers

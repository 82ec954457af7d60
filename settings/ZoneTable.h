// The zone table of the zone dialog without the widget: the check on
// leaving a cell, and the rows as typed turned into the settings file's
// [zones] keys, refused with a message naming the row when they do not
// make one joined list of bands.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "WindowState.h"

namespace globelayers {

enum class TZoneColumn {
  FromDeg,        // inner spherical distance of the band, degrees 0..180
  ToDeg,          // outer spherical distance of the band, degrees 0..180
  SegmentArcSec,  // the band's segment size, arc-seconds above 0
};

// One table row as typed, numbers with the user's decimal separator, and
// whether the band samples block means of the grids.
struct TZoneRowText {
  std::string fromDegText, toDegText, segmentArcSecText;
  bool blockMeans = false;
  bool operator==(const TZoneRowText&) const = default;
};

// The check on leaving a cell, in the words of the main window's fields
// (FieldCheck.h): "abc Is not a number", "200 Is out of valid range". An
// empty cell passes: a row just added is filled one cell at a time, and OK
// judges what is still empty.
std::optional<std::string> CheckZoneCell(TZoneColumn column, const std::string& text,
                                         char decimalSeparator);

// The rows as keys zone1, zone2, ... with the decimal point, or the first
// fault, rows counted from 1 and values quoted as typed:
//   a cell empty, not a number or out of range   "Zone row 2: To (deg) ..."
//   To not above From                            "Zone row 2: To (deg) 1 is not greater than ..."
//   a row starting after the one above ends      "... the zones leave a gap"
//   a row starting before the one above ends     "... the zones overlap"
// No rows give an empty list: the run then has no zones.
struct TZoneTableCheck {
  TZoneListText zones;
  std::string message;
  bool ok() const { return message.empty(); }
};
TZoneTableCheck ZoneRowsToList(const std::vector<TZoneRowText>& rows, char decimalSeparator,
                               const std::string& settingsFile);

// The zone list summed up beside the main window's fields that it
// replaces (Phi_from, Phi_to, the segment size): "3 zones, 0-180 deg,
// segments 15-3600 sec", "1 zone, 0-10 deg, segment 60 sec", "preset fine";
// numbers with the user's `decimalSeparator`. A list a run would refuse
// reads "zones not usable: Calc tells why"; no zones give an empty text.
std::string ZoneSummaryText(const TZoneListText& zones, char decimalSeparator);

// The [zones] list of a preset: the single key preset=NAME.
TZoneListText PresetZoneList(const std::string& presetName, const std::string& settingsFile);

}  // namespace globelayers

#include "ZoneTable.h"

#include <algorithm>
#include <cmath>
#include <tuple>
#include <variant>

#include "FieldCheck.h"
#include "NumberText.h"
#include "RunSetup.h"
#include "Zone.h"

namespace globelayers {
namespace {

constexpr double kMaxDistanceDeg = 180;  // degrees: the antipode

const char* ColumnTitle(TZoneColumn column) {
  switch (column) {
    case TZoneColumn::FromDeg: return "From (deg)";
    case TZoneColumn::ToDeg: return "To (deg)";
    case TZoneColumn::SegmentArcSec: return "Segment (\")";
  }
  return "";
}

std::string Trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// The settings file always holds the decimal point, whatever the window's
// separator; the digits stay as typed, so nothing is rounded on the way.
std::string TrimmedFileNumber(const std::string& text, char decimalSeparator) {
  std::string out = Trimmed(text);
  for (char& c : out)
    if (c == decimalSeparator) c = '.';
  return out;
}

// One cell converted, or the message naming its row, column and text.
std::optional<std::string> ReadCell(std::size_t row, TZoneColumn column, const std::string& text,
                                    char decimalSeparator, double& value) {
  const std::string where = "Zone row " + std::to_string(row) + ": " + ColumnTitle(column);
  if (Trimmed(text).empty()) return where + " is empty";
  if (!TextToFloat(text, decimalSeparator, value) || !std::isfinite(value))
    return where + " \"" + text + "\" is not a number";
  if (column == TZoneColumn::SegmentArcSec) {
    if (!(value > 0)) return where + " " + text + " must be greater than 0";
  } else if (value < 0 || value > kMaxDistanceDeg) {
    return where + " " + text + " must lie within 0 to 180 degrees";
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> CheckZoneCell(TZoneColumn column, const std::string& text,
                                         char decimalSeparator) {
  if (Trimmed(text).empty()) return std::nullopt;
  if (column != TZoneColumn::SegmentArcSec)
    return CheckForNumber(TFieldRule::DistanceDeg, text, decimalSeparator);
  if (auto message = CheckForNumber(TFieldRule::Number, text, decimalSeparator)) return message;
  double arcSec = 0;
  TextToFloat(text, decimalSeparator, arcSec);
  if (!(arcSec > 0) || !std::isfinite(arcSec)) return text + " Is out of valid range";
  return std::nullopt;
}

TZoneTableCheck ZoneRowsToList(const std::vector<TZoneRowText>& rows, char decimalSeparator,
                               const std::string& settingsFile) {
  TZoneTableCheck check;
  double previousToDeg = 0;  // degrees
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const TZoneRowText& row = rows[i];
    const std::size_t number = i + 1;
    double fromDeg = 0, toDeg = 0, segmentArcSec = 0;
    for (auto [column, text, value] :
         {std::tuple{TZoneColumn::FromDeg, &row.fromDegText, &fromDeg},
          std::tuple{TZoneColumn::ToDeg, &row.toDegText, &toDeg},
          std::tuple{TZoneColumn::SegmentArcSec, &row.segmentArcSecText, &segmentArcSec}}) {
      if (auto message = ReadCell(number, column, *text, decimalSeparator, *value)) {
        check.message = *message;
        return check;
      }
    }
    const std::string rowName = "Zone row " + std::to_string(number);
    if (!(toDeg > fromDeg)) {
      check.message = rowName + ": To (deg) " + Trimmed(row.toDegText) +
                      " is not greater than From (deg) " + Trimmed(row.fromDegText);
      return check;
    }
    if (const TZoneJoin join = JoinOf(previousToDeg, fromDeg); i > 0 && join != TZoneJoin::Joined) {
      const std::string above = Trimmed(rows[i - 1].toDegText);
      check.message = rowName + " starts at " + Trimmed(row.fromDegText) + " degrees, but row " +
                      std::to_string(number - 1) + " ends at " + above + " degrees: " +
                      (join == TZoneJoin::Gap ? "the zones leave a gap" : "the zones overlap");
      return check;
    }
    previousToDeg = toDeg;
    check.zones.keys.push_back(
        {"zone" + std::to_string(number),
         TrimmedFileNumber(row.fromDegText, decimalSeparator) + ";" +
             TrimmedFileNumber(row.toDegText, decimalSeparator) + ";" +
             TrimmedFileNumber(row.segmentArcSecText, decimalSeparator) + (row.blockMeans ? ";mean" : "")});
  }
  if (!check.zones.keys.empty()) check.zones.settingsFile = settingsFile;
  return check;
}

std::string ZoneSummaryText(const TZoneListText& zones, char decimalSeparator) {
  if (zones.empty()) return {};
  const TZoneListSetup setup = ConvertZoneList(zones);
  if (const auto* preset = std::get_if<TZonePreset>(&setup.zone); setup.ok() && preset != nullptr)
    return "preset " + preset->name;
  const auto* list = std::get_if<TZoneList>(&setup.zone);
  if (!setup.ok() || list == nullptr || list->bands.empty()) return "zones not usable: Calc tells why";
  const std::vector<TZone>& bands = list->bands;
  const auto number = [decimalSeparator](double value) { return WindowNumberText(value, decimalSeparator); };
  const auto [finest, coarsest] = std::minmax_element(
      bands.begin(), bands.end(),
      [](const TZone& a, const TZone& b) { return a.segmentSizeArcSec < b.segmentSizeArcSec; });
  const bool oneSize = finest->segmentSizeArcSec == coarsest->segmentSizeArcSec;
  return std::to_string(bands.size()) + (bands.size() == 1 ? " zone, " : " zones, ") +
         number(bands.front().psiFromDeg) + "-" + number(bands.back().psiToDeg) + " deg, " +
         (oneSize ? "segment " + number(finest->segmentSizeArcSec)
                  : "segments " + number(finest->segmentSizeArcSec) + "-" + number(coarsest->segmentSizeArcSec)) +
         " sec";
}

TZoneListText PresetZoneList(const std::string& presetName, const std::string& settingsFile) {
  return {.settingsFile = settingsFile, .keys = {{"preset", presetName}}};
}

}  // namespace globelayers

#include "PointGridForm.h"

#include <string_view>
#include <utility>

#include "NumberText.h"
#include "PointGrid.h"
#include "RunSetup.h"

namespace globelayers {
namespace {

constexpr std::string_view kSurfaceWord = "surface";

std::string Trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return std::string(text);
}

bool StartsWithSurface(std::string_view text) {
  if (text.size() < kSurfaceWord.size()) return false;
  for (std::size_t i = 0; i < kSurfaceWord.size(); ++i) {
    const char c = text[i];
    if ((c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c) != kSurfaceWord[i]) return false;
  }
  return true;
}

std::string LowerCase(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return text;
}

}  // namespace

TPointGridFields PointGridToFields(const TPointGridText& points, char decimalSeparator) {
  TPointGridFields fields;
  const auto user = [decimalSeparator](std::string_view text) {
    return UserNumberText(Trimmed(text), decimalSeparator);
  };
  for (const TZoneKeyText& entry : points.keys) {
    const std::string key = LowerCase(entry.key);
    if (key == "grid") {
      std::string* const edges[] = {&fields.westDegText, &fields.eastDegText, &fields.southDegText,
                                    &fields.northDegText, &fields.stepDegText};
      std::string_view value = entry.value;
      for (std::string* edge : edges) {
        const std::size_t end = value.find(';');
        *edge = user(value.substr(0, end));
        if (end == std::string_view::npos) break;
        value.remove_prefix(end + 1);
      }
    } else if (key == "height") {
      std::string_view value = entry.value;
      while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
      fields.aboveSurface = StartsWithSurface(value);
      if (fields.aboveSurface) {
        value.remove_prefix(kSurfaceWord.size());
        while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
        // "surface+100" is 100 metres above it; a bare "surface" is the surface itself.
        if (!value.empty() && value.front() == '+') value.remove_prefix(1);
      }
      fields.heightMText = Trimmed(value).empty() && fields.aboveSurface ? "0" : user(value);
    } else if (key == "geotiff") {
      fields.geotiff = Trimmed(entry.value) == "1";
    }
  }
  return fields;
}

TPointGridFieldsCheck FieldsToPointGrid(const TPointGridFields& fields, char decimalSeparator,
                                        const std::string& settingsFile) {
  TPointGridFieldsCheck check;
  const std::pair<const char*, const std::string*> named[] = {
      {"West (deg)", &fields.westDegText},   {"East (deg)", &fields.eastDegText},
      {"South (deg)", &fields.southDegText}, {"North (deg)", &fields.northDegText},
      {"Step (deg)", &fields.stepDegText},   {"Height (m)", &fields.heightMText}};
  std::string fileTexts[std::size(named)];
  for (std::size_t i = 0; i < std::size(named); ++i) {
    const std::string typed = Trimmed(*named[i].second);
    double ignored = 0;
    if (typed.empty()) {
      check.message = std::string("Grid of points: ") + named[i].first + " is empty";
      return check;
    }
    if (!TextToFloat(typed, decimalSeparator, ignored)) {
      check.message = std::string("Grid of points: ") + named[i].first + " \"" + typed + "\" is not a number";
      return check;
    }
    fileTexts[i] = FileNumberText(typed, decimalSeparator);
  }
  const std::string& height = fileTexts[5];
  const bool signedHeight = height.front() == '+' || height.front() == '-';
  check.points.settingsFile = settingsFile;
  check.points.keys = {
      {"grid", fileTexts[0] + ";" + fileTexts[1] + ";" + fileTexts[2] + ";" + fileTexts[3] + ";" + fileTexts[4]},
      {"height", fields.aboveSurface ? std::string(kSurfaceWord) + (signedHeight ? "" : "+") + height : height},
      {"geotiff", fields.geotiff ? "1" : "0"}};
  if (const TPointGridSetup setup = ConvertPointGrid(check.points); !setup.ok()) {
    check.message = setup.message;
    check.points = {};
  }
  return check;
}

std::string PointGridSummaryText(const TPointGridText& points, char decimalSeparator) {
  if (points.empty()) return {};
  const TPointGridSetup setup = ConvertPointGrid(points);
  if (!setup.ok()) return "grid not usable: Calc tells why";
  const TPointGrid& grid = setup.grid;
  const auto number = [decimalSeparator](double value) { return WindowNumberText(value, decimalSeparator); };
  const std::string height = grid.aboveSurface
                                 ? "surface" + std::string(grid.heightM < 0 ? "" : "+") + number(grid.heightM)
                                 : number(grid.heightM);
  return "grid " + std::to_string(GridColumns(grid)) + " x " + std::to_string(GridRows(grid)) +
         " nodes, step " + number(grid.stepDeg) + " deg, height " + height + " m" +
         (grid.geotiff ? ", GeoTIFF" : "");
}

}  // namespace globelayers

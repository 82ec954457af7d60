// The grid-of-points dialog's fields without the widgets: the [points] keys
// shown as numbers in the user's format, the fields as typed turned back
// into keys with the decimal point and checked as a run checks them, and
// the grid summed up in the data file field that it replaces.
#pragma once

#include <string>

#include "WindowState.h"

namespace globelayers {

// The dialog's fields as typed, numbers with the user's decimal separator.
struct TPointGridFields {
  std::string westDegText, eastDegText, southDegText, northDegText;  // degrees
  std::string stepDegText;                                           // degrees between nodes
  bool aboveSurface = false;  // flag (no unit): the height counts from the first layer's top
  std::string heightMText = "0";  // metres
  bool geotiff = false;  // flag (no unit): a GeoTIFF beside the netCDF
  bool operator==(const TPointGridFields&) const = default;
};

// The keys as fields, each number's digits as the file holds them with the
// point written as `decimalSeparator`. A key that does not convert gives
// what can be read of it (ConvertPointGrid tells what is wrong); no keys
// give empty edges and step, a constant height of 0 and no GeoTIFF.
TPointGridFields PointGridToFields(const TPointGridText& points, char decimalSeparator);

// The fields as keys grid=..., height=..., geotiff=... with the decimal
// point, or the first fault:
//   a field empty or not a number   "Grid of points: West (deg) \"x\" is not a number"
//   a grid no run can use           ConvertPointGrid's message, naming `settingsFile`
struct TPointGridFieldsCheck {
  TPointGridText points;
  std::string message;
  bool ok() const { return message.empty(); }
};
TPointGridFieldsCheck FieldsToPointGrid(const TPointGridFields& fields, char decimalSeparator,
                                        const std::string& settingsFile);

// The grid summed up in the data file field it replaces: "grid 361 x 181
// nodes, step 1 deg, height 10000 m", "... height surface+100 m" and
// ", GeoTIFF" when one is written; numbers with the user's
// `decimalSeparator`. A grid a run would refuse reads "grid not usable:
// Calc tells why"; no keys give an empty text.
std::string PointGridSummaryText(const TPointGridText& points, char decimalSeparator);

}  // namespace globelayers

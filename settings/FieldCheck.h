// The check made when the user leaves one of the main window's numeric
// fields, without the widget: the window picks the field's rule from the
// control it left, passes the text, shows the returned message and puts the
// focus back.
#pragma once

#include <optional>
#include <string>

namespace globelayers {

// What a numeric field must hold.
enum class TFieldRule {
  WholeNumber,  // a whole number, no range (the number of layers)
  Number,       // a decimal number, no range (increment, Earth radius, gravitational constant)
  DistanceDeg,  // a decimal number of degrees in 0..180 (the zone's spherical distances)
  AzimuthDeg,   // a decimal number of degrees in 0..360 (the azimuth range)
};

// Empty optional when the text is acceptable. Otherwise the message:
//   "Parameter is required"            the text is empty
//   text + " Is not a number"          it does not convert (WholeNumber: a
//                                      whole number; the others: a decimal
//                                      number with `decimalSeparator`)
//   text + " Is out of valid range"    DistanceDeg outside 0..180,
//                                      AzimuthDeg outside 0..360 (both ends
//                                      valid)
std::optional<std::string> CheckForNumber(TFieldRule rule, const std::string& text,
                                          char decimalSeparator);

}  // namespace globelayers

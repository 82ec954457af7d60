// The check made when the user leaves one of the main window's numeric
// fields, without the widget: the window passes the field's component name
// and text, shows the returned message and puts the focus back.
#pragma once

#include <optional>
#include <string>

namespace globelayers {

// Empty optional when the text is acceptable. Otherwise the message:
//   "Parameter is required"            the text is empty
//   text + " Is not a number"          it does not convert ("txt_number": a
//                                      whole number; others: a decimal
//                                      number with `decimalSeparator`)
//   text + " Is out of valid range"    "TXT_T3DIST"/"TXT_T4DIST" outside
//                                      0..180, "TXT_LambdaFrom"/"TXT_LambdaTo"
//                                      outside 0..360 (both ends valid)
// Names compare exactly; any other name is a number without a range.
std::optional<std::string> CheckForNumber(const std::string& controlName, const std::string& text,
                                          char decimalSeparator);

}  // namespace globelayers

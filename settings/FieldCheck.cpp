#include "FieldCheck.h"

#include "NumberText.h"

namespace globelayers {

std::optional<std::string> CheckForNumber(const std::string& controlName, const std::string& text,
                                          char decimalSeparator) {
  if (text.empty()) return "Parameter is required";
  double value = 0;
  if (controlName == "txt_number") {
    int whole = 0;
    if (!TextToInt(text, whole)) return text + " Is not a number";
    return std::nullopt;
  }
  if (!TextToFloat(text, decimalSeparator, value)) return text + " Is not a number";
  // The bounds themselves are valid.
  if ((controlName == "TXT_T3DIST" || controlName == "TXT_T4DIST") && (value < 0 || value > 180)) {
    return text + " Is out of valid range";
  }
  if ((controlName == "TXT_LambdaFrom" || controlName == "TXT_LambdaTo") &&
      (value < 0 || value > 360)) {
    return text + " Is out of valid range";
  }
  return std::nullopt;
}

}  // namespace globelayers

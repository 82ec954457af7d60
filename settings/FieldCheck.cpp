#include "FieldCheck.h"

#include "NumberText.h"

namespace globelayers {
namespace {

// The valid ranges, both ends included.
constexpr double kMaxDistanceDeg = 180;  // degrees of spherical distance
constexpr double kMaxAzimuthDeg = 360;   // degrees of azimuth

}  // namespace

std::optional<std::string> CheckForNumber(TFieldRule rule, const std::string& text,
                                          char decimalSeparator) {
  if (text.empty()) return "Parameter is required";
  if (rule == TFieldRule::WholeNumber) {
    int whole = 0;
    if (!TextToInt(text, whole)) return text + " Is not a number";
    return std::nullopt;
  }
  double value = 0;
  if (!TextToFloat(text, decimalSeparator, value)) return text + " Is not a number";
  // The bounds themselves are valid.
  if (rule == TFieldRule::DistanceDeg && (value < 0 || value > kMaxDistanceDeg)) {
    return text + " Is out of valid range";
  }
  if (rule == TFieldRule::AzimuthDeg && (value < 0 || value > kMaxAzimuthDeg)) {
    return text + " Is out of valid range";
  }
  return std::nullopt;
}

}  // namespace globelayers

// The check on leaving a numeric field of the main window.
#include "FieldCheck.h"

#include <optional>
#include <string>

#include <gtest/gtest.h>

namespace globelayers {
namespace {

TEST(CheckForNumber, MessagesByRuleAndText) {
  struct Case {
    TFieldRule rule;
    const char* text;
    char separator;
    const char* message;  // nullptr: accepted
  };
  const Case cases[] = {
      {TFieldRule::DistanceDeg, "180", '.', nullptr},
      {TFieldRule::DistanceDeg, "181", '.', "181 Is out of valid range"},
      {TFieldRule::DistanceDeg, "0", '.', nullptr},
      {TFieldRule::DistanceDeg, "-0.1", '.', "-0.1 Is out of valid range"},
      {TFieldRule::DistanceDeg, "100", '.', nullptr},  // order against Phi_to is Calc's business
      {TFieldRule::AzimuthDeg, "0", '.', nullptr},
      {TFieldRule::AzimuthDeg, "360", '.', nullptr},
      {TFieldRule::AzimuthDeg, "-0.1", '.', "-0.1 Is out of valid range"},
      {TFieldRule::AzimuthDeg, "360,5", ',', "360,5 Is out of valid range"},
      {TFieldRule::WholeNumber, "2.5", '.', "2.5 Is not a number"},
      {TFieldRule::WholeNumber, "-3", '.', nullptr},  // the layer count has no range here
      {TFieldRule::WholeNumber, "", '.', "Parameter is required"},
      {TFieldRule::Number, "-6371001", '.', nullptr},
      {TFieldRule::Number, "-1", '.', nullptr},
      {TFieldRule::Number, "-0,006673", ',', nullptr},
      {TFieldRule::Number, "0.006673", ',', "0.006673 Is not a number"},  // not the user's separator
      {TFieldRule::Number, "1..2", '.', "1..2 Is not a number"},
      {TFieldRule::Number, "abc", '.', "abc Is not a number"},
      {TFieldRule::Number, "", '.', "Parameter is required"},
      {TFieldRule::Number, "500", '.', nullptr},  // a plain number has no range
      {TFieldRule::DistanceDeg, "180.0", '.', nullptr},
      {TFieldRule::AzimuthDeg, "360,0", ',', nullptr},
      {TFieldRule::AzimuthDeg, "1e3", '.', "1e3 Is out of valid range"},
      {TFieldRule::WholeNumber, "2,5", ',', "2,5 Is not a number"},  // no separator in a whole number
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(static_cast<int>(c.rule)) + " '" + c.text + "'");
    const std::optional<std::string> message = CheckForNumber(c.rule, c.text, c.separator);
    if (c.message == nullptr) {
      EXPECT_FALSE(message.has_value()) << *message;
    } else {
      EXPECT_EQ(message.value_or("(accepted)"), c.message);
    }
  }
}

}  // namespace
}  // namespace globelayers

// The check on leaving a numeric field of the main window.
#include "FieldCheck.h"

#include <optional>
#include <string>

#include <gtest/gtest.h>

namespace globelayers {
namespace {

TEST(CheckForNumber, MessagesByFieldAndText) {
  struct Case {
    const char* control;
    const char* text;
    char separator;
    const char* message;  // nullptr: accepted
  };
  const Case cases[] = {
      {"TXT_T4DIST", "180", '.', nullptr},
      {"TXT_T4DIST", "181", '.', "181 Is out of valid range"},
      {"TXT_T3DIST", "0", '.', nullptr},
      {"TXT_T3DIST", "-0.1", '.', "-0.1 Is out of valid range"},
      {"TXT_T3DIST", "100", '.', nullptr},  // order against Phi_to is Calc's business
      {"TXT_LambdaFrom", "0", '.', nullptr},
      {"TXT_LambdaTo", "360", '.', nullptr},
      {"TXT_LambdaTo", "-0.1", '.', "-0.1 Is out of valid range"},
      {"TXT_LambdaFrom", "360,5", ',', "360,5 Is out of valid range"},
      {"txt_number", "2.5", '.', "2.5 Is not a number"},
      {"txt_number", "-3", '.', nullptr},  // the layer count has no range here
      {"txt_number", "", '.', "Parameter is required"},
      {"TXT_R", "-6371001", '.', nullptr},
      {"txt_incr", "-1", '.', nullptr},
      {"TXT_gravc", "-0,006673", ',', nullptr},
      {"TXT_gravc", "0.006673", ',', "0.006673 Is not a number"},  // not the user's separator
      {"TXT_gravc", "1..2", '.', "1..2 Is not a number"},
      {"TXT_gravc", "abc", '.', "abc Is not a number"},
      {"TXT_gravc", "", '.', "Parameter is required"},
      {"txt_T4DIST", "500", '.', nullptr},  // names compare exactly: no range
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.control) + " '" + c.text + "'");
    const std::optional<std::string> message = CheckForNumber(c.control, c.text, c.separator);
    if (c.message == nullptr) {
      EXPECT_FALSE(message.has_value()) << *message;
    } else {
      EXPECT_EQ(message.value_or("(accepted)"), c.message);
    }
  }
}

}  // namespace
}  // namespace globelayers

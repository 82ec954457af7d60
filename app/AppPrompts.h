// The application side of the prompts: the error display for exceptions
// that no handler caught, and the application's title.
#pragma once

#include <QString>

#include <string>

#include "UserPrompts.h"

namespace globelayers {

class IAppPrompts : public IUserPrompts {
 public:
  // A message box with an error icon and one OK button.
  virtual void ShowError(const std::string& text) = 0;
};

// The executable's file name without its extension; the title of every
// message box.
QString ApplicationTitle();

// The text of the error display: the exception's message, with "." added
// when its last character comes after "." in the character set.
std::string ErrorDisplayText(const std::string& message);

}  // namespace globelayers

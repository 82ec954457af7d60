// The one seam through which the core and the windows talk to a person.
// The desktop implements it with message boxes and file dialogs, the batch
// front end with standard error, tests with a recorder that answers as
// scripted. Nothing behind this header knows about a windowing toolkit.
#pragma once

#include <optional>
#include <string>

namespace globelayers {

class IUserPrompts {
 public:
  virtual ~IUserPrompts() = default;
  // A plain message with one OK button.
  virtual void ShowMessage(const std::string& text) = 0;
  // A confirmation with the buttons Yes and No; true for Yes.
  virtual bool AskYesNo(const std::string& text) = 0;
  // A file-open dialog. `filter` is "Description (*.ext)|*.EXT" (one entry),
  // `defaultExt` without the dot. Empty optional when the user cancels.
  virtual std::optional<std::string> PickOpenFile(const std::string& title,
                                                  const std::string& filter,
                                                  const std::string& defaultExt) {
    (void)title, (void)filter, (void)defaultExt;
    return std::nullopt;
  }
  // A file-save dialog, same filter form (several entries joined by "|");
  // asks before overwriting. Empty optional when the user cancels.
  virtual std::optional<std::string> PickSaveFile(const std::string& title,
                                                  const std::string& filter,
                                                  const std::string& defaultExt) {
    (void)title, (void)filter, (void)defaultExt;
    return std::nullopt;
  }
};

}  // namespace globelayers

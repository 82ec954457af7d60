// The prompts of the desktop: Qt message boxes and file dialogs, titled
// with the application's title and placed over the active window.
#pragma once

#include <QString>

#include "AppPrompts.h"

namespace globelayers {

class TQtPrompts : public IAppPrompts {
 public:
  void ShowMessage(const std::string& text) override;
  bool AskYesNo(const std::string& text) override;
  std::optional<std::string> PickOpenFile(const std::string& title, const std::string& filter,
                                          const std::string& defaultExt) override;
  std::optional<std::string> PickSaveFile(const std::string& title, const std::string& filter,
                                          const std::string& defaultExt) override;
  void ShowError(const std::string& text) override;
};

// "Description|pattern" entries, all joined by "|", as Qt's name filters
// "Description (pattern)" joined by ";;".
QString FilterToQt(const std::string& filter);

}  // namespace globelayers

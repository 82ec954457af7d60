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
// "Description (pattern)" joined by ";;". A description that already ends
// with its pattern in parentheses, in any case ("Elevation Grid (*.grd)"
// for "*.GRD"), is shown as it is: the pattern once.
QString FilterToQt(const std::string& filter);

// The file a person means by `typed` in a file-open dialog whose default
// extension is `defaultExt` (without the dot): `typed` when it exists or has
// an extension of its own; otherwise `typed` with the extension of the file
// of that name in that folder, found without regard to case ("topo" finds
// "topo.grd" for "GRD"; the extension as given wins when both exist); and
// `typed` with `defaultExt` when there is none.
QString WithExistingExtension(const QString& typed, const QString& defaultExt);

}  // namespace globelayers

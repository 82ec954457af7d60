// The application object. An exception that escapes an event handler ends
// that handler only: it is shown by the error display and the event loop
// goes on.
#pragma once

#include <QApplication>

#include "AppPrompts.h"

namespace globelayers {

class TApplication : public QApplication {
 public:
  TApplication(int& argc, char** argv);

  // Where exceptions are shown; must outlive the event loop.
  void SetErrorDisplay(IAppPrompts* prompts) { errorDisplay_ = prompts; }

  // Shows one escaped exception's message.
  void ShowException(const std::string& message);

  bool notify(QObject* receiver, QEvent* event) override;

 private:
  IAppPrompts* errorDisplay_ = nullptr;
};

}  // namespace globelayers

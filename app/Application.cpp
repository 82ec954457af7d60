#include "Application.h"

#include <QtGlobal>

#include <exception>

namespace globelayers {

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {}

void TApplication::ShowException(const std::string& message) {
  const std::string text = ErrorDisplayText(message);
  if (errorDisplay_ != nullptr)
    errorDisplay_->ShowError(text);
  else
    qWarning("%s", text.c_str());
}

bool TApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::exception& e) {
    ShowException(e.what());
  } catch (...) {
    ShowException("Unknown exception");
  }
  return false;
}

}  // namespace globelayers

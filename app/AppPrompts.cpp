#include "AppPrompts.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace globelayers {

QString ApplicationTitle() {
  return QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
}

std::string ErrorDisplayText(const std::string& message) {
  if (!message.empty() && static_cast<unsigned char>(message.back()) > '.') return message + ".";
  return message;
}

}  // namespace globelayers

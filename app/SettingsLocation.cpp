#include "SettingsLocation.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include "WindowState.h"

namespace globelayers {

bool TSettingsLocation::CanWriteFile(const QString& path) {
  const QFileInfo file(path);
  const QFileInfo folder(file.absolutePath());
  return folder.isDir() && folder.isWritable() && (!file.exists() || file.isWritable());
}

QString TSettingsLocation::ReadFile() const {
  if (userConfig.isEmpty() || canWrite(besideApp)) return besideApp;
  return QFileInfo::exists(userConfig) ? userConfig : besideApp;
}

QString TSettingsLocation::SaveFile() const {
  if (userConfig.isEmpty() || canWrite(besideApp)) return besideApp;
  return userConfig;
}

TSettingsLocation TSettingsLocation::ForApplication() {
  TSettingsLocation location;
  location.besideApp = QString::fromStdString(
      SettingsFileName(QCoreApplication::applicationFilePath().toStdString()));
  const QString folder = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
  if (!folder.isEmpty())
    location.userConfig = QDir(folder).filePath(QFileInfo(location.besideApp).fileName());
  return location;
}

}  // namespace globelayers

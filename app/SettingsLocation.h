// Where the main window keeps its settings file. Its home is beside the
// executable (the executable's path with ".ini"); an installation in a
// folder the user cannot write to (a system-wide program folder) keeps the
// user's settings in the user's configuration folder instead, under the
// same file name:
//
//   - the file beside the executable is used for reading and writing when
//     it can be written there (the folder is writable and the file, if it
//     exists, too);
//   - otherwise the settings are written to the configuration folder's
//     file, and read from it when it exists; until it does, a file beside
//     the executable (one shipped with the installation) is still read.
#pragma once

#include <QString>

#include <functional>

namespace globelayers {

struct TSettingsLocation {
  QString besideApp;   // the executable's path with ".ini"
  QString userConfig;  // the same file name in the user's configuration folder
  // Whether a settings file at this path can be created or replaced; the
  // store saves through a temporary file in the same folder, so the folder
  // must be writable too.
  std::function<bool(const QString& path)> canWrite = CanWriteFile;

  // The file the window reads when it is created.
  QString ReadFile() const;
  // The file the window writes when it closes.
  QString SaveFile() const;

  static bool CanWriteFile(const QString& path);

  // The locations of the running application: QCoreApplication's file path
  // and QStandardPaths::AppConfigLocation.
  static TSettingsLocation ForApplication();
};

}  // namespace globelayers

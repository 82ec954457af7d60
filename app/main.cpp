// globelayers: the desktop application. Reads no arguments of its own but
// --version, which prints the version without opening a window.
#include <cstdio>
#include <cstring>
#include <exception>

#include "Application.h"
#include "LayerDialog.h"
#include "QtPrompts.h"
#include "ProgressDialog.h"
#include "MainWindow.h"
#include "Version.h"
#include "PointsDialog.h"
#include "ZoneDialog.h"

int main(int argc, char** argv) {
  // Before the application object, which would want a display.
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("globelayers %s\n", globelayers::kVersion);
    return 0;
  }
  globelayers::TApplication app(argc, argv);
  globelayers::TQtPrompts prompts;
  app.SetErrorDisplay(&prompts);
  try {
    // Created once, in this order, and kept until the application ends; the
    // first one is the main window, the dialogs stay hidden until used.
    globelayers::TfrmMain frmMain(prompts);
    globelayers::TfrmWt4 frmWt4(&frmMain);
    globelayers::TfrmLayer frmLayer(prompts, &frmMain);
    globelayers::TZoneDialog zoneDialog(prompts, &frmMain);
    globelayers::TPointsDialog pointsDialog(prompts, &frmMain);
    frmMain.AttachDialogs(frmWt4, frmLayer);
    frmMain.AttachZoneDialog(zoneDialog);
    frmMain.AttachPointsDialog(pointsDialog);
    frmMain.FormCreate();
    frmMain.show();
    app.exec();
  } catch (const std::exception& e) {
    app.ShowException(e.what());
  } catch (...) {
    app.ShowException("Unknown exception");
  }
  return 0;
}

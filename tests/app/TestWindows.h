// The three windows as start-up creates them, with a recording person in
// front of them and a settings file in a folder of the test's own.
#pragma once

#include <QDialog>
#include <QLineEdit>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "AppPrompts.h"
#include "Application.h"
#include "LayerDialog.h"
#include "LayerGrid.h"
#include "RecordingPrompts.h"
#include "SettingsLocation.h"
#include "ProgressDialog.h"
#include "MainWindow.h"
#include "PointsDialog.h"
#include "ZoneDialog.h"

namespace globelayers::test {

class TAppRecorder : public test::TRecordingPrompts<IAppPrompts> {
 public:
  std::vector<std::string> errors;
  void ShowError(const std::string& text) override { errors.push_back(text); }
};

QStringList ToQt(const std::vector<std::string>& texts) {
  QStringList list;
  for (const auto& t : texts) list << QString::fromStdString(t);
  return list;
}

// The layer dialog with a scripted person in front of it: it records what
// the dialog showed, types the scripted texts and presses Save or Cancel.
class TScriptedLayer : public TfrmLayer {
 public:
  using TfrmLayer::TfrmLayer;

  QStringList typed;   // four texts to type; empty: keep what is shown
  bool pressSave = true;

  int runs = 0;
  bool seenFirstLayer = false;
  QStringList seenFields;

  int ShowModal() override {
    ++runs;
    seenFirstLayer = firstLayer;
    seenFields = {txt_height->text(), txt_gridHeight->text(), txt_density->text(),
                  txt_gridDensity->text()};
    if (!typed.isEmpty()) {
      txt_height->setText(typed[0]);
      txt_gridHeight->setText(typed[1]);
      txt_density->setText(typed[2]);
      txt_gridDensity->setText(typed[3]);
    }
    setResult(QDialog::Rejected);
    if (pressSave)
      btn_saveClick();  // refuses, with its message, while a pair is empty
    else
      btn_cancelClick();
    return result();
  }
};

// The zone dialog with a scripted person in front of it: it records the
// rows shown, puts the scripted rows into the table and presses OK or
// Cancel.
class TScriptedZones : public TZoneDialog {
 public:
  using TZoneDialog::TZoneDialog;

  std::vector<TZoneRowText> typed;
  // Chosen when set: a preset in place of the rows, or "" for the rows.
  std::optional<std::string> preset;
  bool pressOk = true;

  int runs = 0;
  std::vector<TZoneRowText> seenRows;

  int ShowModal() override {
    ++runs;
    seenRows = Rows();
    SetRows(typed);
    if (preset) ChoosePreset(*preset);
    setResult(QDialog::Rejected);
    if (pressOk)
      OkClick();  // refuses, with its message, a list that does not join
    else
      CancelClick();
    return result();
  }
};

// The grid-of-points dialog with a scripted person in front of it: it
// records the fields shown, puts the scripted fields in (when given) and
// presses OK, Cancel or "No grid".
class TScriptedPoints : public TPointsDialog {
 public:
  using TPointsDialog::TPointsDialog;

  enum class TPress { Ok, Cancel, NoGrid };
  std::optional<TPointGridFields> typed;
  TPress press = TPress::Ok;

  int runs = 0;
  TPointGridFields seenFields;

  int ShowModal() override {
    ++runs;
    seenFields = Fields();
    if (typed) SetFields(*typed);
    setResult(QDialog::Rejected);
    if (press == TPress::Ok)
      OkClick();  // refuses, with its message, a grid no run can use
    else if (press == TPress::Cancel)
      CancelClick();
    else
      NoGridClick();
    return result();
  }
};

// Settings files in `folder`: "app.ini" beside the executable, always
// writable, and "config/app.ini" in the configuration folder.
inline TSettingsLocation TestSettings(const QString& folder) {
  TSettingsLocation location;
  location.besideApp = folder + "/app.ini";
  location.userConfig = folder + "/config/app.ini";
  location.canWrite = [](const QString&) { return true; };
  return location;
}

// The three windows as start-up creates them. The settings file is never
// the one beside the test executable: a temporary folder's unless given.
struct TWindows {
  QTemporaryDir settingsFolder;
  TAppRecorder prompts;
  TfrmMain main{prompts};
  TfrmWt4 wt4{&main};
  TScriptedLayer layer{prompts, &main};
  TScriptedZones zones{prompts, &main};
  TScriptedPoints points{prompts, &main};
  TWindows() : TWindows(TSettingsLocation{}) {}
  explicit TWindows(TSettingsLocation settings) {
    main.SetSettingsLocation(settings.besideApp.isEmpty() ? TestSettings(settingsFolder.path())
                                                          : std::move(settings));
    main.AttachDialogs(wt4, layer);
    main.AttachZoneDialog(zones);
    main.AttachPointsDialog(points);
    main.FormCreate();
  }
};

using TRows = QList<QStringList>;  // layer rows of sg1, columns 1..4

// Puts layer rows into the table, then the entry row (empty unless given).
inline void SetLayerRows(TLayerGrid& grid, const TRows& rows, const QStringList& entry = {}) {
  grid.SetRowCount(static_cast<int>(rows.size()) + 2);
  for (int r = 0; r < rows.size(); ++r)
    for (int c = 0; c < 4; ++c) grid.SetCellText(r + 1, c + 1, rows[r][c]);
  for (int c = 0; c < 4; ++c) grid.SetCellText(grid.RowCount() - 1, c + 1, entry.value(c));
}

// The table's layer rows, without the header and the entry row.
inline TRows LayerRows(const TLayerGrid& grid) {
  TRows rows;
  for (int r = 1; r <= grid.RowCount() - 2; ++r) {
    QStringList cells;
    for (int c = 1; c <= 4; ++c) cells << grid.CellText(r, c);
    rows << cells;
  }
  return rows;
}

template <typename Suite>
int RunSuite(int argc, char** argv) {
  Suite suite;
  return QTest::qExec(&suite, argc, argv);
}

// For "-classes": 0 when `registered` names every class of the program and
// nothing else, so that a class without a CTest entry of its own is noticed.
inline int CheckRegisteredClasses(const std::vector<std::string>& classes,
                                  const std::vector<std::string>& registered) {
  int faults = 0;
  for (const auto& c : classes)
    if (std::find(registered.begin(), registered.end(), c) == registered.end()) {
      std::cerr << "class " << c << " has no CTest entry\n";
      ++faults;
    }
  for (const auto& r : registered)
    if (std::find(classes.begin(), classes.end(), r) == classes.end()) {
      std::cerr << "CTest names " << r << ", which is no class of this program\n";
      ++faults;
    }
  return faults == 0 ? 0 : 1;
}

// Runs the Qt Test suites of a test program, in order, under one application
// whose windows closed by one suite must not end it for the next.
//   program [args]          every suite, each given the Qt Test arguments
//   program Class [args]    the suite of that class alone (one CTest entry each)
//   program -classes A B    checks that A B ... are exactly the classes
template <typename... Suites>
int RunSuites(int argc, char** argv) {
  const std::vector<std::string> classes = {Suites::staticMetaObject.className()...};
  const std::string first = argc > 1 ? argv[1] : "";
  if (first == "-classes") return CheckRegisteredClasses(classes, std::vector<std::string>(argv + 2, argv + argc));
  const bool oneClass = std::find(classes.begin(), classes.end(), first) != classes.end();
  std::vector<char*> args(argv, argv + argc + 1);  // with the closing null
  if (oneClass) args.erase(args.begin() + 1);      // Qt Test must not see the class
  int count = static_cast<int>(args.size()) - 1;
  TApplication app(count, args.data());
  app.setQuitOnLastWindowClosed(false);
  int failed = 0;
  ((failed += !oneClass || first == Suites::staticMetaObject.className() ? RunSuite<Suites>(count, args.data()) : 0),
   ...);
  return failed == 0 ? 0 : 1;
}

}  // namespace globelayers::test

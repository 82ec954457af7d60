// The layer dialog: the modal window in which one layer row of the layer
// table is entered or changed. The table's Add and Update fill the four
// edits and `firstLayer`, run ShowModal and, on OK, copy the four texts
// back unchanged: the dialog never reformats what the user typed.
#pragma once

#include <QDialog>

#include "ExitWatcher.h"
#include "UserPrompts.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace globelayers {

class TGridPreview;

class TfrmLayer : public QDialog {
 public:
  // `owner` is the main window; the dialog is centred over it. Messages and
  // file pickers go through `prompts`, which must outlive the dialog.
  explicit TfrmLayer(IUserPrompts& prompts, QWidget* owner = nullptr);

  // Shows the dialog modally; QDialog::Accepted when Save accepted the
  // entries, QDialog::Rejected for Cancel or a closed window. Virtual so
  // that tests can stand in for the person at the keyboard.
  virtual int ShowModal();

  // Runs once per showing: focus to the height, density controls hidden
  // for the first layer row.
  void FormActivate();

  // Exit handlers ("on leaving"), also callable directly.
  void CheckNumber(QLineEdit* sender);  // txt_height and txt_density
  void txt_gridHeightExit();
  void txt_gridDensityExit();

  // Grid-file pickers.
  void btn_elevationClick();
  void btn_densityClick();

  void btn_saveClick();
  void btn_cancelClick();

  // True while the row being entered is the first layer row, which carries
  // an elevation only.
  bool firstLayer = false;

  QLabel* Label1 = nullptr;
  QLineEdit* txt_height = nullptr;
  QLabel* Label2 = nullptr;
  QLabel* Label3 = nullptr;
  QLineEdit* txt_gridHeight = nullptr;
  QPushButton* btn_elevation = nullptr;
  QLabel* Label4 = nullptr;
  QLineEdit* txt_density = nullptr;
  QLabel* Label5 = nullptr;
  QLabel* Label6 = nullptr;
  QLineEdit* txt_gridDensity = nullptr;
  QPushButton* btn_density = nullptr;
  QPushButton* btn_save = nullptr;
  QPushButton* btn_cancel = nullptr;
  // Pictures of the two grid files, beside their fields.
  TGridPreview* preview_elevation = nullptr;
  TGridPreview* preview_density = nullptr;

 protected:
  void showEvent(QShowEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  // Shows the grids the two fields name, read as a run reads them.
  void ShowGridPreviews();

  IUserPrompts& prompts_;
  TExitWatcher exitWatcher_;
};

}  // namespace globelayers

// The layer dialog: the modal window in which one layer row of the layer
// table is entered or changed. The table's Add and Update fill the four
// edits and `firstLayer`, run ShowModal and, on OK, copy the four texts
// back unchanged: the dialog never reformats what the user typed.
#pragma once

#include <QDialog>
#include <QStringList>

#include <string>

#include "ExitWatcher.h"
#include "UserPrompts.h"

class QLabel;
class QLineEdit;
class QListWidget;
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

  // A grid field may name an ordered list of grids, finest first, joined by
  // " | " as a layer cell holds it. Below the specified controls each grid
  // field has the list of its grids, one per line, with buttons that add a
  // grid (through the field's picker), remove the chosen one and move it up
  // (finer) or down (coarser). The field stays the cell's text: the list
  // follows it, and a change of the list writes it. The chosen grid of the
  // list is the one its preview shows, the others outlined over it.
  struct TGridListControls {
    QLabel* caption = nullptr;
    QListWidget* list = nullptr;
    QPushButton* add = nullptr;
    QPushButton* remove = nullptr;
    QPushButton* up = nullptr;
    QPushButton* down = nullptr;
  };
  TGridListControls elevationGrids;
  TGridListControls densityGrids;

 protected:
  void showEvent(QShowEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  // Shows the grids the two fields name, read as a run reads them.
  void ShowGridPreviews();

  // The list controls of one grid field, built at `left` (pixels) below
  // the specified controls.
  TGridListControls MakeGridList(const char* name, const char* caption, int left, int listWidthPx);
  // The list shows the field's entries; `chosen` is the row to choose (the
  // last, the coarsest, when out of range).
  void ListFromField(QLineEdit* field, const TGridListControls& grids, int chosen = -1);
  // The field takes the list's entries, and its constant is cleared as a
  // picked grid clears it.
  void FieldFromList(QLineEdit* field, QLineEdit* constant, const TGridListControls& grids, int chosen);
  void ConnectGridList(QLineEdit* field, QLineEdit* constant, const TGridListControls& grids,
                       const char* pickTitle, const std::string& pickFilter, const char* pickExt);

  IUserPrompts& prompts_;
  TExitWatcher exitWatcher_;
};

}  // namespace globelayers

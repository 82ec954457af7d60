// The zone dialog: the modal table in which the bands of spherical distance
// of a run are entered, one row per band with its own segment size. The
// main window's "Zones..." fills it with SetZones, runs ShowModal and, on
// OK, takes Zones(); an empty table means the run has no zones.
#pragma once

#include <QDialog>

#include <string>
#include <vector>

#include "UserPrompts.h"
#include "WindowState.h"
#include "ZoneTable.h"

class QComboBox;
class QLabel;
class QPushButton;
class QTableWidget;
class QTableWidgetItem;

namespace globelayers {

class TZoneDialog : public QDialog {
 public:
  static constexpr int kColumns = 4;  // From, To, Segment, Means (a check box)
  static constexpr int kMeansColumn = 3;

  // `owner` is the main window; the dialog is centred over it. Messages go
  // through `prompts`, which must outlive the dialog.
  explicit TZoneDialog(IUserPrompts& prompts, QWidget* owner = nullptr);

  // The table shows `zones`, numbers with the user's decimal separator. A
  // list that does not convert (a hand-edited settings file) is reported
  // and the table starts empty; Cancel then keeps the list as it was.
  // `settingsFile` is what the returned list's messages will name.
  void SetZones(const TZoneListText& zones, const std::string& settingsFile);

  // The list OK accepted; empty for an empty table.
  const TZoneListText& Zones() const { return accepted_; }

  // Shows the dialog modally; QDialog::Accepted when OK accepted the table.
  // Virtual so that tests can stand in for the person at the keyboard.
  virtual int ShowModal();

  // A preset in place of the table ("standard", "fine"), or an empty name
  // for the table's own rows. A preset's bands follow from the grids when a
  // run starts: the table is hidden while one is chosen, and Add leaves it.
  void ChoosePreset(const std::string& presetName);
  std::string Preset() const { return preset_; }

  // The table as typed, and back; each row's three cells and its check box.
  std::vector<TZoneRowText> Rows() const;
  void SetRows(const std::vector<TZoneRowText>& rows);

  void AddClick();     // appends an empty row and starts editing its From cell
  void DeleteClick();  // removes the current row, if any
  void OkClick();      // accepts a joined list, otherwise shows why and stays open
  void CancelClick();  // closes without a question, keeping the list as it was
  // Escape and the window's close button: when the rows or the preset were
  // changed since SetZones, asks kDiscardZonesQuestion first.
  void reject() override;
  // The rows or the preset differ from what SetZones showed.
  bool Edited() const;

  static constexpr const char* kDiscardZonesQuestion = "Discard the changes to the zones?";

  QTableWidget* zoneTable = nullptr;
  QPushButton* addButton = nullptr;
  QPushButton* deleteButton = nullptr;
  QPushButton* okButton = nullptr;
  QPushButton* cancelButton = nullptr;
  QComboBox* presetBox = nullptr;    // "(none)", then the presets
  QLabel* presetNote = nullptr;      // in the table's place while a preset is chosen

 private:
  // The check on leaving an edited cell: a refused text is reported and the
  // cell is opened again.
  void CellEdited(QTableWidgetItem* item);

  IUserPrompts& prompts_;
  std::string settingsFile_;
  std::string preset_;
  TZoneListText accepted_;
  std::vector<TZoneRowText> shownRows_;  // as SetZones showed them
  std::string shownPreset_;
  bool filling_ = false;  // the program, not the user, is writing cells
};

}  // namespace globelayers

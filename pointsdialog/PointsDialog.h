// The grid-of-points dialog: the edges and step of a regular grid of
// computation points, their height (constant, or above the top of the first
// layer) and whether a GeoTIFF is written. The main window's "Grid..."
// fills it with SetPoints, runs ShowModal and, on OK, takes Points(); "No
// grid" accepts an empty section, which gives the point file back its place.
#pragma once

#include <QDialog>

#include <string>

#include "PointGridForm.h"
#include "UserPrompts.h"
#include "WindowState.h"

class QCheckBox;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace globelayers {

class TPointsDialog : public QDialog {
 public:
  // `owner` is the main window; the dialog is centred over it. Messages go
  // through `prompts`, which must outlive the dialog.
  explicit TPointsDialog(IUserPrompts& prompts, QWidget* owner = nullptr);

  // The fields show `points`, numbers with the user's decimal separator. A
  // section that does not convert (a hand-edited settings file) is
  // reported and the fields show what could be read of it; Cancel then
  // keeps the section as it was. `settingsFile` is what the returned
  // section's messages will name.
  void SetPoints(const TPointGridText& points, const std::string& settingsFile);

  // The section OK or "No grid" accepted; empty after "No grid".
  const TPointGridText& Points() const { return accepted_; }

  // Shows the dialog modally; QDialog::Accepted when OK or "No grid" closed it.
  // Virtual so that tests can stand in for the person at the keyboard.
  virtual int ShowModal();

  // The fields as typed, and back.
  TPointGridFields Fields() const;
  void SetFields(const TPointGridFields& fields);

  void OkClick();      // accepts a grid a run can use, otherwise shows why and stays open
  void NoGridClick();  // accepts an empty section: the run takes the point file
  void CancelClick();  // closes without a question, keeping the section as it was
  // Escape and the window's close button: when a field was changed since
  // SetPoints, asks kDiscardPointsQuestion first.
  void reject() override;
  // A field differs from what SetPoints showed.
  bool Edited() const { return Fields() != shownFields_; }

  static constexpr const char* kDiscardPointsQuestion = "Discard the changes to the grid of points?";

  QLineEdit* westEdit = nullptr;
  QLineEdit* eastEdit = nullptr;
  QLineEdit* southEdit = nullptr;
  QLineEdit* northEdit = nullptr;
  QLineEdit* stepEdit = nullptr;
  QRadioButton* constantButton = nullptr;  // the height is the nodes' own
  QRadioButton* surfaceButton = nullptr;   // the height counts from the first layer's top
  QLineEdit* heightEdit = nullptr;
  QCheckBox* geotiffBox = nullptr;
  QPushButton* okButton = nullptr;
  QPushButton* cancelButton = nullptr;
  QPushButton* noGridButton = nullptr;

 private:
  IUserPrompts& prompts_;
  std::string settingsFile_;
  TPointGridText accepted_;
  TPointGridFields shownFields_;  // as SetPoints showed them
};

}  // namespace globelayers

// The progress dialog of a calculation run. It carries the engine: the main
// window's Calc command hands it the run record, and while the engine works
// the dialog shows the progress bar and takes the Cancel click.
#pragma once

#include <QDialog>

#include "Calculation.h"
#include "UserPrompts.h"

class QProgressBar;
class QPushButton;

namespace globelayers {

class TfrmWt4 : public QDialog, public IRunProgress {
 public:
  // `owner` is the main window; the dialog is centred over it.
  explicit TfrmWt4(QWidget* owner = nullptr);

  // One whole run with the user's decimal separator for the layer constants.
  // Returns when the run has ended (completed, cancelled or failed); an
  // exception from the set-up propagates after the engine has cleaned up.
  TRunOutcome RunCalculation(const TRunParameters& params, IUserPrompts& prompts);

  // The Cancel button: the engine asks about it after the current point.
  void Button1Click();

  // IRunProgress
  void Show() override;
  void Hide() override;
  void SetCaption(const std::string& caption) override;
  void SetMaximum(int maximum) override;
  void SetPosition(int position) override;
  void ProcessMessages() override;
  bool TakeCancelRequest() override;

  bool CancelRequested = false;
  TCalcEngine engine;

  QProgressBar* ProgressBar1 = nullptr;
  QPushButton* Button1 = nullptr;

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
};

}  // namespace globelayers

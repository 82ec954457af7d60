#include "ProgressDialog.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QProgressBar>
#include <QPushButton>

#include <algorithm>

#include "FormFont.h"

namespace globelayers {

TfrmWt4::TfrmWt4(QWidget* owner) : QDialog(owner) {
  setObjectName("frmWt4");
  ApplyFormFont(this);
  setWindowTitle("T4 (166735 m - All Globe)");
  // A dialog border: no resizing, no help button.
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                 Qt::MSWindowsFixedSizeDialogHint);
  setFixedSize(312, 72);
  setModal(false);

  ProgressBar1 = new QProgressBar(this);  // owned by the dialog
  ProgressBar1->setObjectName("ProgressBar1");
  ProgressBar1->setGeometry(16, 16, 281, 17);
  ProgressBar1->setRange(0, 100);
  ProgressBar1->setValue(0);
  ProgressBar1->setTextVisible(false);

  Button1 = new QPushButton("Cancel", this);
  Button1->setObjectName("Button1");
  Button1->setGeometry(216, 40, 81, 25);
  Button1->setAutoDefault(false);
  Button1->setDefault(false);
  connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
}

TRunOutcome TfrmWt4::RunCalculation(const TRunParameters& params, IUserPrompts& prompts) {
  TRunOptions options;
  options.threads = 0;
  return engine.RunCalculation(params, *this, prompts, options);
}

void TfrmWt4::Button1Click() { CancelRequested = true; }

void TfrmWt4::Show() { show(); }

void TfrmWt4::Hide() { hide(); }

void TfrmWt4::SetCaption(const std::string& caption) {
  setWindowTitle(QString::fromStdString(caption));
}

void TfrmWt4::SetMaximum(int maximum) {
  // A range 0..0 would turn the bar into a busy indicator; a point file
  // without points should show an empty bar instead.
  ProgressBar1->setRange(0, std::max(maximum, 1));
}

void TfrmWt4::SetPosition(int position) { ProgressBar1->setValue(position); }

void TfrmWt4::ProcessMessages() { QCoreApplication::processEvents(); }

bool TfrmWt4::TakeCancelRequest() {
  const bool requested = CancelRequested;
  CancelRequested = false;
  return requested;
}

void TfrmWt4::keyPressEvent(QKeyEvent* event) {
  // Cancel is no cancel button: Escape must not hide the dialog of a run
  // that goes on behind it.
  if (event->key() == Qt::Key_Escape) {
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

void TfrmWt4::closeEvent(QCloseEvent* event) {
  // Closing the window while a run shows it asks the same question as the
  // Cancel button; the engine hides the dialog when the run ends.
  if (isVisible()) {
    Button1Click();
    event->ignore();
    return;
  }
  QDialog::closeEvent(event);
}

}  // namespace globelayers

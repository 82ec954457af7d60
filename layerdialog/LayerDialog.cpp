#include "LayerDialog.h"

#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <string>

#include "Controls.h"
#include "FormFont.h"
#include "GridPreview.h"
#include "NumberText.h"
#include "UserLocale.h"

namespace globelayers {

TfrmLayer::TfrmLayer(IUserPrompts& prompts, QWidget* owner)
    : QDialog(owner), prompts_(prompts), exitWatcher_(this) {
  setObjectName("frmLayer");
  setWindowTitle("Elevation layer");
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                 Qt::MSWindowsFixedSizeDialogHint);
  ApplyFormFont(this);
  // The fields on the left, the pictures of their grids on the right.
  setFixedSize(550, 230);

  // Creation order is the tab order.
  Label1 = MakeLabel(this, "Label1", "Constant height [m]", 8, 16);
  txt_height = MakeEdit(this, "txt_height", {136, 8, 89, 21});
  Label2 = MakeLabel(this, "Label2", "Or", 152, 32);
  Label3 = MakeLabel(this, "Label3", "Grid name for elevation", 8, 40);
  txt_gridHeight = MakeEdit(this, "txt_gridHeight", {8, 56, 217, 21});
  btn_elevation = MakeButton(this, "btn_elevation", "...", {232, 56, 21, 21});
  Label4 = MakeLabel(this, "Label4", "Constant density [g.cm-3]", 8, 88);
  txt_density = MakeEdit(this, "txt_density", {136, 88, 89, 21});
  Label5 = MakeLabel(this, "Label5", "Or", 159, 115);
  Label6 = MakeLabel(this, "Label6", "Grid name for density", 8, 133);
  txt_gridDensity = MakeEdit(this, "txt_gridDensity", {8, 152, 217, 21});
  btn_density = MakeButton(this, "btn_density", "...", {231, 152, 21, 21});
  btn_save = MakeButton(this, "btn_save", "&Save", {64, 187, 89, 25});
  btn_cancel = MakeButton(this, "btn_cancel", "&Cancel", {159, 187, 89, 25});
  preview_elevation = new TGridPreview(this);
  preview_elevation->setObjectName("preview_elevation");
  preview_elevation->setGeometry(264, 8, 278, 78);
  preview_density = new TGridPreview(this);
  preview_density->setObjectName("preview_density");
  preview_density->setGeometry(264, 96, 278, 78);

  QWidget* tabOrder[] = {txt_height,  txt_gridHeight, btn_elevation, txt_density,
                         txt_gridDensity, btn_density, btn_save,     btn_cancel};
  for (std::size_t i = 1; i < std::size(tabOrder); ++i) setTabOrder(tabOrder[i - 1], tabOrder[i]);

  exitWatcher_.Watch(txt_height, [this](QWidget*) { CheckNumber(txt_height); });
  exitWatcher_.Watch(txt_density, [this](QWidget*) { CheckNumber(txt_density); });
  exitWatcher_.Watch(txt_gridHeight, [this](QWidget*) { txt_gridHeightExit(); });
  exitWatcher_.Watch(txt_gridDensity, [this](QWidget*) { txt_gridDensityExit(); });
  // An emptied field empties its picture at once; a name is read when the
  // field is left or picked, not at every key.
  connect(txt_gridHeight, &QLineEdit::textChanged, this, [this](const QString& text) {
    if (text.isEmpty()) preview_elevation->ShowGrid(QString());
  });
  connect(txt_gridDensity, &QLineEdit::textChanged, this, [this](const QString& text) {
    if (text.isEmpty()) preview_density->ShowGrid(QString());
  });
  connect(btn_elevation, &QPushButton::clicked, this, [this] { btn_elevationClick(); });
  connect(btn_density, &QPushButton::clicked, this, [this] { btn_densityClick(); });
  connect(btn_save, &QPushButton::clicked, this, [this] { btn_saveClick(); });
  connect(btn_cancel, &QPushButton::clicked, this, [this] { btn_cancelClick(); });
}

int TfrmLayer::ShowModal() {
  setResult(QDialog::Rejected);
  return exec();
}

void TfrmLayer::FormActivate() {
  txt_height->setFocus(Qt::OtherFocusReason);
  // The window keeps its size either way: the space stays empty.
  const bool showDensity = !firstLayer;
  for (QWidget* w : std::initializer_list<QWidget*>{txt_density, txt_gridDensity, btn_density,
                                                     Label4, Label5, Label6})
    w->setVisible(showDensity);
  preview_density->setVisible(showDensity);
  ShowGridPreviews();
}

void TfrmLayer::ShowGridPreviews() {
  // Through the cache: a file read before and unchanged since is not read again.
  preview_elevation->ShowGrid(txt_gridHeight->text());
  preview_density->ShowGrid(txt_gridDensity->text());
}

void TfrmLayer::CheckNumber(QLineEdit* sender) {
  const QString text = sender->text();
  if (text.isEmpty()) return;  // an empty constant is judged by Save
  double value = 0;
  if (TextToFloat(text.toStdString(), UserDecimalSeparator(), value)) {
    // A constant replaces the grid of its pair.
    if (sender == txt_height) txt_gridHeight->clear();
    if (sender == txt_density) txt_gridDensity->clear();
    return;
  }
  prompts_.ShowMessage(text.toStdString() + " Is not a number");
  exitWatcher_.ReturnFocus(sender);
}

void TfrmLayer::txt_gridHeightExit() {
  // The name is not checked here: the file need not exist yet.
  if (!txt_gridHeight->text().isEmpty()) txt_height->clear();
  ShowGridPreviews();
}

void TfrmLayer::txt_gridDensityExit() {
  if (!txt_gridDensity->text().isEmpty()) txt_density->clear();
  ShowGridPreviews();
}

// A second filter entry after each picker's own: the native grids and the
// common extensions of the rasters that GDAL reads.
constexpr char kAllGridsFilter[] =
    "|All grids (*.grd *.tif *.tiff *.nc *.asc *.img *.vrt)|*.grd *.tif *.tiff *.nc *.asc *.img *.vrt";

void TfrmLayer::btn_elevationClick() {
  if (auto path = prompts_.PickOpenFile("Open Globe Elevation Grid",
                                        std::string("Elevation Grid (*.grd)|*.GRD") + kAllGridsFilter, "GRD")) {
    txt_gridHeight->setText(QString::fromStdString(*path));
    txt_height->clear();
    ShowGridPreviews();
  }
}

void TfrmLayer::btn_densityClick() {
  if (auto path = prompts_.PickOpenFile("Open Globe Density Grid",
                                        std::string("Density Grid (*.grd)|*.grd") + kAllGridsFilter, "grd")) {
    txt_gridDensity->setText(QString::fromStdString(*path));
    txt_density->clear();
    ShowGridPreviews();
  }
}

void TfrmLayer::btn_saveClick() {
  if (txt_height->text().isEmpty() && txt_gridHeight->text().isEmpty()) {
    prompts_.ShowMessage("One of const height or grid height must be defined");
    return;
  }
  if (firstLayer) {  // the first layer row has no density
    accept();
    return;
  }
  if (txt_density->text().isEmpty() && txt_gridDensity->text().isEmpty()) {
    prompts_.ShowMessage("One of const density or grid density must be defined");
    return;
  }
  accept();
}

void TfrmLayer::btn_cancelClick() { reject(); }

void TfrmLayer::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!event->spontaneous()) FormActivate();
}

void TfrmLayer::keyPressEvent(QKeyEvent* event) {
  // Neither button is the cancel button: Escape does not close the dialog.
  // Closing the window through its title bar still gives Cancel
  // (QDialog::closeEvent rejects).
  if (event->key() == Qt::Key_Escape) {
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

}  // namespace globelayers

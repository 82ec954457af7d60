#include "LayerDialog.h"

#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QShowEvent>
#include <QSignalBlocker>
#include <algorithm>
#include <string>

#include "Controls.h"
#include "FormFont.h"
#include "GridPreview.h"
#include "NumberText.h"
#include "UserLocale.h"

namespace globelayers {
namespace {

// A second filter entry after each picker's own: the native grids and the
// common extensions of the rasters that GDAL reads.
constexpr char kAllGridsFilter[] =
    "|All grids (*.grd *.tif *.tiff *.nc *.asc *.img *.vrt)|*.grd *.tif *.tiff *.nc *.asc *.img *.vrt";

// Between the grids of a cell's list, as a run splits the cell
// (GridListFromCell): a cell without it is one name as it stands.
const QString kGridListSeparator = " | ";

QStringList GridNames(const QString& cell) {
  return cell.isEmpty() ? QStringList() : cell.split(kGridListSeparator);
}

QStringList ListEntries(const QListWidget* list) {
  QStringList names;
  for (int i = 0; i < list->count(); ++i) names << list->item(i)->text();
  return names;
}

}  // namespace

TfrmLayer::TfrmLayer(IUserPrompts& prompts, QWidget* owner)
    : QDialog(owner), prompts_(prompts), exitWatcher_(this) {
  setObjectName("frmLayer");
  setWindowTitle("Elevation layer");
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                 Qt::MSWindowsFixedSizeDialogHint);
  ApplyFormFont(this);
  // The fields on the left, the pictures of their grids on the right, the
  // lists of grids below.
  setFixedSize(550, 318);

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

  elevationGrids = MakeGridList("gridHeight", "Elevation grids, finest first", 8, 217);
  densityGrids = MakeGridList("gridDensity", "Density grids, finest first", 280, 233);

  QWidget* tabOrder[] = {txt_height,  txt_gridHeight, btn_elevation, txt_density,
                         txt_gridDensity, btn_density, btn_save,     btn_cancel,
                         elevationGrids.list, elevationGrids.add, elevationGrids.remove,
                         elevationGrids.up, elevationGrids.down, densityGrids.list, densityGrids.add,
                         densityGrids.remove, densityGrids.up, densityGrids.down};
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
  ConnectGridList(txt_gridHeight, txt_height, elevationGrids, "Open Globe Elevation Grid",
                  std::string("Elevation Grid (*.grd)|*.GRD") + kAllGridsFilter, "GRD");
  ConnectGridList(txt_gridDensity, txt_density, densityGrids, "Open Globe Density Grid",
                  std::string("Density Grid (*.grd)|*.grd") + kAllGridsFilter, "grd");
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
  for (QWidget* w : std::initializer_list<QWidget*>{densityGrids.caption, densityGrids.list, densityGrids.add,
                                                     densityGrids.remove, densityGrids.up, densityGrids.down})
    w->setVisible(showDensity);
  ListFromField(txt_gridHeight, elevationGrids);
  ListFromField(txt_gridDensity, densityGrids);
  ShowGridPreviews();
}

void TfrmLayer::ShowGridPreviews() {
  // Through the cache: a file read before and unchanged since is not read again.
  preview_elevation->ShowGridList(GridNames(txt_gridHeight->text()), elevationGrids.list->currentRow());
  preview_density->ShowGridList(GridNames(txt_gridDensity->text()), densityGrids.list->currentRow());
}

TfrmLayer::TGridListControls TfrmLayer::MakeGridList(const char* name, const char* caption, int left,
                                                     int listWidthPx) {
  // Pixels at 96 dpi: the list beside a column of four small buttons.
  constexpr int kTopPx = 222, kListTopPx = 238, kListHeightPx = 72, kButtonPx = 21, kButtonHeightPx = 18;
  const std::string n = name;
  TGridListControls grids;
  grids.caption = MakeLabel(this, ("lbl_" + n).c_str(), caption, left, kTopPx);
  grids.list = new QListWidget(this);
  grids.list->setObjectName(QString::fromStdString("lst_" + n));
  grids.list->setGeometry(left, kListTopPx, listWidthPx, kListHeightPx);
  grids.list->setToolTip("The grids of the field, finest first: a sample takes the first that holds it");
  const int x = left + listWidthPx + 7;
  grids.add = MakeButton(this, ("btn_" + n + "Add").c_str(), "+", {x, kListTopPx, kButtonPx, kButtonHeightPx},
                         "Add a grid at the end of the list");
  grids.remove = MakeButton(this, ("btn_" + n + "Remove").c_str(), "-",
                            {x, kListTopPx + kButtonHeightPx, kButtonPx, kButtonHeightPx},
                            "Remove the chosen grid from the list");
  grids.up = MakeButton(this, ("btn_" + n + "Up").c_str(), "\u2191",
                        {x, kListTopPx + 2 * kButtonHeightPx, kButtonPx, kButtonHeightPx},
                        "Move the chosen grid up: before the coarser ones");
  grids.down = MakeButton(this, ("btn_" + n + "Down").c_str(), "\u2193",
                          {x, kListTopPx + 3 * kButtonHeightPx, kButtonPx, kButtonHeightPx},
                          "Move the chosen grid down: after the finer ones");
  return grids;
}

void TfrmLayer::ListFromField(QLineEdit* field, const TGridListControls& grids, int chosen) {
  const QStringList names = GridNames(field->text());
  // Filled without signals: a name is read when it is chosen, left or
  // picked, not at every key typed into the field.
  const QSignalBlocker quiet(grids.list);
  if (ListEntries(grids.list) != names) {
    grids.list->clear();
    grids.list->addItems(names);
  }
  if (chosen < 0 || chosen >= names.size()) chosen = static_cast<int>(names.size()) - 1;
  grids.list->setCurrentRow(chosen);
}

void TfrmLayer::FieldFromList(QLineEdit* field, QLineEdit* constant, const TGridListControls& grids,
                              int chosen) {
  const QStringList names = ListEntries(grids.list);
  field->setText(names.join(kGridListSeparator));
  if (!names.isEmpty()) constant->clear();
  ListFromField(field, grids, chosen);
  ShowGridPreviews();
}

void TfrmLayer::ConnectGridList(QLineEdit* field, QLineEdit* constant, const TGridListControls& grids,
                                const char* pickTitle, const std::string& pickFilter, const char* pickExt) {
  connect(field, &QLineEdit::textChanged, this, [this, field, grids] { ListFromField(field, grids); });
  connect(grids.list, &QListWidget::currentRowChanged, this, [this] { ShowGridPreviews(); });
  connect(grids.add, &QPushButton::clicked, this, [=, this] {
    const auto path = prompts_.PickOpenFile(pickTitle, pickFilter, pickExt);
    if (!path) return;
    grids.list->addItem(QString::fromStdString(*path));
    FieldFromList(field, constant, grids, grids.list->count() - 1);
  });
  connect(grids.remove, &QPushButton::clicked, this, [=, this] {
    const int row = grids.list->currentRow();
    if (row < 0) return;
    delete grids.list->takeItem(row);
    FieldFromList(field, constant, grids, std::min(row, grids.list->count() - 1));
  });
  const auto move = [=, this](int step) {
    const int row = grids.list->currentRow();
    const int to = row + step;
    if (row < 0 || to < 0 || to >= grids.list->count()) return;
    grids.list->insertItem(to, grids.list->takeItem(row));
    FieldFromList(field, constant, grids, to);
  };
  connect(grids.up, &QPushButton::clicked, this, [move] { move(-1); });
  connect(grids.down, &QPushButton::clicked, this, [move] { move(+1); });
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

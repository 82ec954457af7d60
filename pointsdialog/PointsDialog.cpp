#include "PointsDialog.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include "Controls.h"
#include "FormFont.h"
#include "RunSetup.h"
#include "UserLocale.h"

namespace globelayers {
namespace {

// A label whose accelerator moves the focus to `buddy`.
void Label(QWidget* parent, const char* caption, QWidget* buddy, int left, int top) {
  QLabel* label = MakeLabel(parent, "", caption, left, top);
  label->setBuddy(buddy);
}

QString Q(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

TPointsDialog::TPointsDialog(IUserPrompts& prompts, QWidget* owner) : QDialog(owner), prompts_(prompts) {
  setObjectName("pointsDialog");
  setWindowTitle("Grid of points");
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                 Qt::MSWindowsFixedSizeDialogHint);
  ApplyFormFont(this);
  setFixedSize(330, 178);

  // Creation order is the tab order: the edges as a map shows them, west to
  // east, south to north, then the step, the height and the files.
  westEdit = MakeEdit(this, "westEdit", {88, 8, 80, 21}, "Longitude of the first column, degrees");
  eastEdit = MakeEdit(this, "eastEdit", {88, 34, 80, 21}, "Longitude of the last column, degrees");
  southEdit = MakeEdit(this, "southEdit", {88, 60, 80, 21}, "Latitude of the first row, -90 to 90 degrees");
  northEdit = MakeEdit(this, "northEdit", {88, 86, 80, 21}, "Latitude of the last row, -90 to 90 degrees");
  stepEdit = MakeEdit(this, "stepEdit", {88, 112, 80, 21},
                      "Degrees between neighbouring nodes, both ways; it must divide both ranges");
  Label(this, "&West (deg)", westEdit, 8, 12);
  Label(this, "&East (deg)", eastEdit, 8, 38);
  Label(this, "&South (deg)", southEdit, 8, 64);
  Label(this, "&North (deg)", northEdit, 8, 90);
  Label(this, "S&tep (deg)", stepEdit, 8, 116);
  constantButton = new QRadioButton("&Fixed height", this);
  constantButton->setObjectName("constantButton");
  constantButton->setGeometry(184, 8, 140, 19);
  constantButton->setToolTip("Every node at the height below, metres above sea");
  surfaceButton = new QRadioButton("&Above the surface", this);
  surfaceButton->setObjectName("surfaceButton");
  surfaceButton->setGeometry(184, 30, 140, 19);
  surfaceButton->setToolTip("Every node the height below above the top of the first layer there");
  constantButton->setChecked(true);
  heightEdit = MakeEdit(this, "heightEdit", {248, 56, 74, 21}, "Metres");
  Label(this, "&Height (m)", heightEdit, 184, 60);
  geotiffBox = new QCheckBox("Also a &GeoTIFF", this);
  geotiffBox->setObjectName("geotiffBox");
  geotiffBox->setGeometry(184, 86, 140, 19);
  geotiffBox->setToolTip("Write a GeoTIFF beside the netCDF file, one band per quantity");
  okButton = MakeButton(this, "okButton", "&OK", {8, 145, 75, 25});
  cancelButton = MakeButton(this, "cancelButton", "&Cancel", {89, 145, 75, 25});
  noGridButton = MakeButton(this, "noGridButton", "No g&rid", {247, 145, 75, 25},
                            "Compute the points of the data file instead of a grid");
  // Enter presses OK wherever the focus is.
  okButton->setDefault(true);

  connect(okButton, &QPushButton::clicked, this, [this] { OkClick(); });
  connect(cancelButton, &QPushButton::clicked, this, [this] { CancelClick(); });
  connect(noGridButton, &QPushButton::clicked, this, [this] { NoGridClick(); });
}

void TPointsDialog::SetPoints(const TPointGridText& points, const std::string& settingsFile) {
  settingsFile_ = settingsFile;
  accepted_ = points;
  if (!points.empty()) {
    const TPointGridSetup converted = ConvertPointGrid(points);
    if (!converted.ok()) prompts_.ShowMessage(converted.message + "; the fields show what could be read of it");
  }
  SetFields(PointGridToFields(points, UserDecimalSeparator()));
  shownFields_ = Fields();
}

TPointGridFields TPointsDialog::Fields() const {
  TPointGridFields fields;
  fields.westDegText = westEdit->text().toStdString();
  fields.eastDegText = eastEdit->text().toStdString();
  fields.southDegText = southEdit->text().toStdString();
  fields.northDegText = northEdit->text().toStdString();
  fields.stepDegText = stepEdit->text().toStdString();
  fields.aboveSurface = surfaceButton->isChecked();
  fields.heightMText = heightEdit->text().toStdString();
  fields.geotiff = geotiffBox->isChecked();
  return fields;
}

void TPointsDialog::SetFields(const TPointGridFields& fields) {
  westEdit->setText(Q(fields.westDegText));
  eastEdit->setText(Q(fields.eastDegText));
  southEdit->setText(Q(fields.southDegText));
  northEdit->setText(Q(fields.northDegText));
  stepEdit->setText(Q(fields.stepDegText));
  (fields.aboveSurface ? surfaceButton : constantButton)->setChecked(true);
  heightEdit->setText(Q(fields.heightMText));
  geotiffBox->setChecked(fields.geotiff);
}

int TPointsDialog::ShowModal() {
  setResult(QDialog::Rejected);
  westEdit->setFocus(Qt::OtherFocusReason);
  return exec();
}

void TPointsDialog::OkClick() {
  const TPointGridFieldsCheck check = FieldsToPointGrid(Fields(), UserDecimalSeparator(), settingsFile_);
  if (!check.ok()) {
    prompts_.ShowMessage(check.message);
    return;
  }
  accepted_ = check.points;
  accept();
}

void TPointsDialog::NoGridClick() {
  accepted_ = {};
  accepted_.settingsFile = settingsFile_;
  accept();
}

// Cancel is a choice already made: it asks nothing.
void TPointsDialog::CancelClick() { QDialog::reject(); }

void TPointsDialog::reject() {
  // Escape and the close button would throw typed fields away unseen.
  if (Edited() && !prompts_.AskYesNo(kDiscardPointsQuestion)) return;
  QDialog::reject();
}

}  // namespace globelayers

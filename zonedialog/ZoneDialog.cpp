#include "ZoneDialog.h"

#include <algorithm>
#include <variant>

#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>

#include "Controls.h"
#include "FocusLeavingTable.h"
#include "FormFont.h"
#include "RunSetup.h"
#include "UserLocale.h"
#include "Zone.h"

namespace globelayers {
namespace {

constexpr int kColumnWidthPx = 72;  // pixels: "Segment (\")" and a 12-digit number; Means takes the rest
constexpr char kNoPreset[] = "(none)";

// The note shown in the table's place for a preset.
QString PresetNote(const std::string& preset) {
  return QString("Preset \"%1\": the bands and their segment sizes follow from the finest grid spacing "
                 "of the run when it starts (the run log lists them). Choose (none) or Add to enter "
                 "bands yourself.")
      .arg(QString::fromStdString(preset));
}

TZoneColumn ColumnOf(int column) {
  return column == 0 ? TZoneColumn::FromDeg
                     : column == 1 ? TZoneColumn::ToDeg : TZoneColumn::SegmentArcSec;
}

}  // namespace

TZoneDialog::TZoneDialog(IUserPrompts& prompts, QWidget* owner) : QDialog(owner), prompts_(prompts) {
  setObjectName("zoneDialog");
  setWindowTitle("Zones");
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                 Qt::MSWindowsFixedSizeDialogHint);
  ApplyFormFont(this);
  setFixedSize(400, 250);

  // Creation order is the tab order.
  zoneTable = new TFocusLeavingTable(0, kColumns, this);
  zoneTable->setObjectName("zoneTable");
  zoneTable->setGeometry(8, 8, 301, 234);
  zoneTable->setHorizontalHeaderLabels({"From (deg)", "To (deg)", "Segment (\")", "Means"});
  zoneTable->horizontalHeader()->setMinimumSectionSize(40);
  for (int c = 0; c < kMeansColumn; ++c) zoneTable->setColumnWidth(c, kColumnWidthPx);
  zoneTable->setColumnWidth(kMeansColumn, 50);
  zoneTable->horizontalHeaderItem(kMeansColumn)
      ->setToolTip("Sample block means of the grids at about the segment size: for far bands, beyond "
                   "about 10 degrees, where point samples alias the relief between them");
  zoneTable->horizontalHeader()->setStretchLastSection(true);
  zoneTable->setSelectionMode(QAbstractItemView::SingleSelection);
  zoneTable->verticalHeader()->setDefaultSectionSize(21);
  zoneTable->setToolTip("Bands of spherical distance from the point, inner first, each joining "
                        "the one above; an empty table means no zones");
  addButton = MakeButton(this, "addButton", "&Add", {317, 8, 75, 25}, "Add a zone row");
  deleteButton = MakeButton(this, "deleteButton", "&Delete", {317, 38, 75, 25},
                            "Delete the selected zone row");
  auto* presetLabel = new QLabel("&Preset:", this);
  presetLabel->setGeometry(317, 76, 75, 16);
  presetBox = new QComboBox(this);
  presetBox->setObjectName("presetBox");
  presetBox->setGeometry(317, 94, 75, 22);
  presetBox->addItem(kNoPreset);
  for (const std::string& name : PresetNames()) presetBox->addItem(QString::fromStdString(name));
  presetBox->setToolTip("A zone list measured on rough 1-arc-minute topography, formed from the finest grid "
                        "spacing of the run: standard (within 0.05 mGal), fine (within 0.01 mGal)");
  presetLabel->setBuddy(presetBox);
  presetNote = new QLabel(this);
  presetNote->setObjectName("presetNote");
  presetNote->setGeometry(8, 8, 301, 234);
  presetNote->setWordWrap(true);
  presetNote->setAlignment(Qt::AlignTop | Qt::AlignLeft);
  presetNote->setFrameShape(QFrame::StyledPanel);
  presetNote->setMargin(6);
  presetNote->hide();
  okButton = MakeButton(this, "okButton", "&OK", {317, 186, 75, 25});
  cancelButton = MakeButton(this, "cancelButton", "&Cancel", {317, 217, 75, 25});
  // Enter presses OK wherever the focus is, but in a cell being edited,
  // where it ends the edit.
  okButton->setDefault(true);

  connect(zoneTable, &QTableWidget::itemChanged, this,
          [this](QTableWidgetItem* item) { CellEdited(item); });
  connect(addButton, &QPushButton::clicked, this, [this] { AddClick(); });
  connect(deleteButton, &QPushButton::clicked, this, [this] { DeleteClick(); });
  connect(okButton, &QPushButton::clicked, this, [this] { OkClick(); });
  connect(cancelButton, &QPushButton::clicked, this, [this] { CancelClick(); });
  connect(presetBox, &QComboBox::activated, this, [this](int index) {
    ChoosePreset(index <= 0 ? std::string() : presetBox->itemText(index).toStdString());
  });
}

void TZoneDialog::ChoosePreset(const std::string& presetName) {
  preset_ = presetName;
  const int index = presetName.empty() ? 0 : presetBox->findText(QString::fromStdString(presetName));
  presetBox->setCurrentIndex(std::max(0, index));
  presetNote->setText(PresetNote(presetName));
  presetNote->setVisible(!presetName.empty());
  zoneTable->setVisible(presetName.empty());
  deleteButton->setEnabled(presetName.empty());
}

void TZoneDialog::SetZones(const TZoneListText& zones, const std::string& settingsFile) {
  settingsFile_ = settingsFile;
  accepted_ = zones;
  std::vector<TZoneRowText> rows;
  const TZoneListSetup converted = ConvertZoneList(zones);
  if (!converted.ok()) prompts_.ShowMessage(converted.message + "; the zone table starts empty");
  if (const auto* list = std::get_if<TZoneList>(&converted.zone)) {
    for (const TZone& zone : list->bands) {
      rows.push_back({FloatToStr(zone.psiFromDeg).toStdString(), FloatToStr(zone.psiToDeg).toStdString(),
                      FloatToStr(zone.segmentSizeArcSec).toStdString(), zone.blockMeans});
    }
  }
  SetRows(rows);
  const auto* preset = std::get_if<TZonePreset>(&converted.zone);
  ChoosePreset(preset ? preset->name : std::string());
  shownRows_ = Rows();
  shownPreset_ = preset_;
}

bool TZoneDialog::Edited() const { return preset_ != shownPreset_ || Rows() != shownRows_; }

void TZoneDialog::reject() {
  // Escape and the close button would throw typed rows away unseen.
  if (Edited() && !prompts_.AskYesNo(kDiscardZonesQuestion)) return;
  QDialog::reject();
}

int TZoneDialog::ShowModal() {
  setResult(QDialog::Rejected);
  return exec();
}

std::vector<TZoneRowText> TZoneDialog::Rows() const {
  std::vector<TZoneRowText> rows;
  for (int r = 0; r < zoneTable->rowCount(); ++r) {
    std::string cells[kMeansColumn];
    for (int c = 0; c < kMeansColumn; ++c)
      if (const QTableWidgetItem* item = zoneTable->item(r, c)) cells[c] = item->text().toStdString();
    const QTableWidgetItem* means = zoneTable->item(r, kMeansColumn);
    rows.push_back({cells[0], cells[1], cells[2], means != nullptr && means->checkState() == Qt::Checked});
  }
  return rows;
}

void TZoneDialog::SetRows(const std::vector<TZoneRowText>& rows) {
  filling_ = true;
  zoneTable->setRowCount(static_cast<int>(rows.size()));
  for (int r = 0; r < zoneTable->rowCount(); ++r) {
    const TZoneRowText& row = rows[r];
    const std::string* cells[kMeansColumn] = {&row.fromDegText, &row.toDegText, &row.segmentArcSecText};
    for (int c = 0; c < kMeansColumn; ++c)
      zoneTable->setItem(r, c, new QTableWidgetItem(QString::fromStdString(*cells[c])));
    auto* means = new QTableWidgetItem();
    means->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
    means->setCheckState(row.blockMeans ? Qt::Checked : Qt::Unchecked);
    zoneTable->setItem(r, kMeansColumn, means);
  }
  filling_ = false;
}

void TZoneDialog::AddClick() {
  // A new row starts where the last one ends, so that the bands join
  // without the user retyping the distance.
  ChoosePreset({});
  std::vector<TZoneRowText> rows = Rows();
  rows.push_back({rows.empty() ? std::string() : rows.back().toDegText, {}, {}, false});
  SetRows(rows);
  const int r = zoneTable->rowCount() - 1;
  const int c = rows.back().fromDegText.empty() ? 0 : 1;
  zoneTable->setCurrentCell(r, c);
  zoneTable->setFocus(Qt::OtherFocusReason);
  zoneTable->editItem(zoneTable->item(r, c));
}

void TZoneDialog::DeleteClick() {
  const int r = zoneTable->currentRow();
  if (r < 0) return;  // no current row
  zoneTable->removeRow(r);
}

void TZoneDialog::OkClick() {
  if (!preset_.empty()) {
    accepted_ = PresetZoneList(preset_, settingsFile_);
    accept();
    return;
  }
  const TZoneTableCheck check = ZoneRowsToList(Rows(), UserDecimalSeparator(), settingsFile_);
  if (!check.ok()) {
    prompts_.ShowMessage(check.message);
    return;
  }
  accepted_ = check.zones;
  accept();
}

// Cancel is a choice already made: it asks nothing.
void TZoneDialog::CancelClick() { QDialog::reject(); }

void TZoneDialog::CellEdited(QTableWidgetItem* item) {
  if (filling_ || item == nullptr || item->column() == kMeansColumn) return;
  const auto message =
      CheckZoneCell(ColumnOf(item->column()), item->text().toStdString(), UserDecimalSeparator());
  if (!message) return;
  prompts_.ShowMessage(*message);
  // The editor is still closing when the change arrives: the cell opens
  // again once it has.
  const int r = item->row(), c = item->column();
  QTimer::singleShot(0, this, [this, r, c] {
    QTableWidgetItem* cell = zoneTable->item(r, c);
    if (cell == nullptr) return;
    zoneTable->setCurrentItem(cell);
    zoneTable->setFocus(Qt::OtherFocusReason);
    zoneTable->editItem(cell);
  });
}

}  // namespace globelayers

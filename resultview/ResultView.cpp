#include "ResultView.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QImage>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QSplitter>
#include <QSvgGenerator>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <filesystem>
#include <numeric>

#include "GridPreview.h"
#include "NumberText.h"
#include "ResultCsv.h"
#include "ResultMap.h"
#include "ScreenFit.h"
#include "StopRequest.h"

namespace globelayers {
namespace {

constexpr const char* kResultFilter = "Result file (*_dce.dat)|*_dce.dat|All files (*)|*";
constexpr const char* kMapFilter = "PNG image (*.png)|*.png|SVG drawing (*.svg)|*.svg";
constexpr const char* kTableFilter = "CSV table (*.csv)|*.csv";
// The table's column of the point numbers.
constexpr int kPointColumn = 2;

bool EndsWithNoCase(const std::string& s, const std::string& end) {
  if (s.size() < end.size()) return false;
  return std::equal(end.rbegin(), end.rend(), s.rbegin(),
                    [](char a, char b) { return std::tolower(a) == std::tolower(b); });
}

// A grid named relative to the folder the run started in: found from the
// current folder, or else beside the result file.
std::string LocateGrid(const std::string& grid, const std::string& resultFile) {
  namespace fs = std::filesystem;
  if (grid.empty() || fs::path(grid).is_absolute()) return grid;
  std::error_code ec;
  if (fs::is_regular_file(grid, ec)) return grid;
  const fs::path beside = fs::path(resultFile).parent_path() / grid;
  return fs::is_regular_file(beside, ec) ? beside.string() : grid;
}

}  // namespace

void TResultTableModel::SetTable(const TResultTable* table) {
  beginResetModel();
  table_ = table;
  order_.resize(table ? table->RowCount() : 0);
  std::iota(order_.begin(), order_.end(), std::size_t{0});
  endResetModel();
}

int TResultTableModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : int(order_.size());
}

int TResultTableModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() || table_ == nullptr ? 0 : int(table_->columns.size());
}

QVariant TResultTableModel::data(const QModelIndex& index, int role) const {
  if (table_ == nullptr || !index.isValid()) return {};
  const std::size_t row = order_[std::size_t(index.row())], column = std::size_t(index.column());
  if (role == Qt::DisplayRole) return QString::fromStdString(table_->ValueText(row, column));
  if (role == Qt::TextAlignmentRole) return int(Qt::AlignRight | Qt::AlignVCenter);
  if (role == Qt::UserRole) return table_->At(row, column);
  return {};
}

QVariant TResultTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole || table_ == nullptr) return {};
  if (orientation == Qt::Vertical) return section + 1;
  const TResultColumn& c = table_->columns[std::size_t(section)];
  return QString::fromStdString(c.unit.empty() ? c.name : c.name + " [" + c.unit + "]");
}

void TResultTableModel::sort(int column, Qt::SortOrder order) {
  if (table_ == nullptr || column < 0 || column >= columnCount()) return;
  emit layoutAboutToBeChanged();
  const QModelIndexList before = persistentIndexList();
  std::vector<std::size_t> sources;
  for (const QModelIndex& i : before) sources.push_back(order_[std::size_t(i.row())]);
  const auto c = std::size_t(column);
  std::stable_sort(order_.begin(), order_.end(), [&](std::size_t a, std::size_t b) {
    return order == Qt::AscendingOrder ? table_->At(a, c) < table_->At(b, c)
                                       : table_->At(a, c) > table_->At(b, c);
  });
  QModelIndexList after;
  for (int k = 0; k < before.size(); ++k)
    after << index(ViewRow(sources[std::size_t(k)]), before[k].column());
  changePersistentIndexList(before, after);
  emit layoutChanged();
}

int TResultTableModel::ViewRow(std::size_t sourceRow) const {
  const auto it = std::find(order_.begin(), order_.end(), sourceRow);
  return it == order_.end() ? -1 : int(it - order_.begin());
}

TResultView::TResultView(IUserPrompts& prompts, QWidget* parent)
    : QWidget(parent, Qt::Window), prompts_(prompts) {
  setObjectName("resultView");
  setWindowTitle("Result");
  // Centred over the main window and within the screen, smaller where the
  // screen is (a large scale factor): the layouts take what is left.
  FitOnScreen(this, QSize(1100, 640), parent);

  lbl_file = new QLabel(this);
  lbl_file->setObjectName("lbl_file");
  lbl_file->setTextInteractionFlags(Qt::TextSelectableByMouse);
  auto* columnLabel = new QLabel("Colour &by", this);
  cb_column = new QComboBox(this);
  cb_column->setObjectName("cb_column");
  columnLabel->setBuddy(cb_column);
  btn_open = new QPushButton("&Open...", this);
  btn_open->setObjectName("btn_open");
  btn_open->setToolTip("Show another result file");
  btn_saveMap = new QPushButton("Save &map...", this);
  btn_saveMap->setObjectName("btn_saveMap");
  btn_saveMap->setToolTip("Save the map as a PNG image or an SVG drawing");
  btn_saveTable = new QPushButton("Save &table...", this);
  btn_saveTable->setObjectName("btn_saveTable");
  btn_saveTable->setToolTip("Save the table as CSV with a header line");

  map = new TResultMap(this);
  table = new QTableView(this);
  table->setObjectName("resultTable");
  model_ = new TResultTableModel(this);
  table->setModel(model_);
  table->setSortingEnabled(true);
  table->setSelectionBehavior(QAbstractItemView::SelectRows);
  table->setSelectionMode(QAbstractItemView::SingleSelection);
  table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table->verticalHeader()->setDefaultSectionSize(20);
  table->horizontalHeader()->setSortIndicatorShown(true);
  // Tab moves between the controls, as everywhere else; the arrows, Page
  // keys and Home/End move within the table.
  table->setTabKeyNavigation(false);

  auto* bar = new QHBoxLayout;
  bar->addWidget(columnLabel);
  bar->addWidget(cb_column);
  bar->addWidget(lbl_file, 1);
  bar->addWidget(btn_open);
  bar->addWidget(btn_saveMap);
  bar->addWidget(btn_saveTable);
  auto* splitter = new QSplitter(Qt::Horizontal, this);
  splitter->addWidget(map);
  splitter->addWidget(table);
  splitter->setStretchFactor(0, 3);
  splitter->setStretchFactor(1, 2);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(bar);
  layout->addWidget(splitter, 1);

  connect(cb_column, &QComboBox::currentIndexChanged, this, [this](int i) {
    if (i >= 0) SelectColumn(std::size_t(cb_column->itemData(i).toULongLong()));
  });
  connect(btn_open, &QPushButton::clicked, this, [this] { btn_openClick(); });
  connect(btn_saveMap, &QPushButton::clicked, this, [this] { btn_saveMapClick(); });
  connect(btn_saveTable, &QPushButton::clicked, this, [this] { btn_saveTableClick(); });
  connect(table->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          [this](const QModelIndex& current) {
            map->SetHighlight(current.isValid() ? std::optional(model_->SourceRow(current.row()))
                                                : std::nullopt);
          });
  map->onStationClicked = [this](std::size_t row) { SelectStation(row); };
  // The tab order follows the reading order: the colour choice, the
  // buttons, then the table.
  setTabOrder(cb_column, btn_open);
  setTabOrder(btn_open, btn_saveMap);
  setTabOrder(btn_saveMap, btn_saveTable);
  setTabOrder(btn_saveTable, map);
  setTabOrder(map, table);
  setTabOrder(table, cb_column);
  table->installEventFilter(this);
}

void TResultView::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  // Each time the view opens it starts on the colour choice, not in the
  // table where it was left. Once shown: the window's activation would
  // otherwise give the focus back to where it was.
  cb_column->setFocus(Qt::OtherFocusReason);
  QTimer::singleShot(0, cb_column, [this] { cb_column->setFocus(Qt::OtherFocusReason); });
}

bool TResultView::eventFilter(QObject* watched, QEvent* event) {
  // A table takes Ctrl+Tab for itself: there it leaves the table like Tab.
  if (watched == table && event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<QKeyEvent*>(event);
    const bool tab = key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab;
    if (tab && (key->modifiers() & Qt::ControlModifier)) {
      focusNextPrevChild(!(key->key() == Qt::Key_Backtab || (key->modifiers() & Qt::ShiftModifier)));
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

void TResultView::StartReliefLoad(const std::string& gridName) {
  auto cancel = std::make_shared<std::atomic<bool>>(false);
  auto picture = std::make_shared<std::shared_ptr<const TGridPicture>>();
  auto coast = std::make_shared<std::vector<TContourLine>>();
  reliefCancel_ = cancel;
  reliefThread_.reset(QThread::create([gridName, cancel, picture, coast] {
    const TThreadStopScope scope(*cancel);
    try {
      *picture = SharedGridPictures().Get(gridName);
      // The coast from the picture's small raster: the same bounded cost
      // for a grid of any size.
      if (*picture && (*picture)->ok && !cancel->load()) *coast = ZeroLineOf((*picture)->raster, (*picture)->facts);
    } catch (...) {
      // No picture: the map goes without relief.
    }
  }));
  connect(reliefThread_.get(), &QThread::finished, this, [this, cancel, picture, coast] {
    if (cancel->load()) return;
    // A grid that cannot be read is left out without a message (the run
    // itself reports it).
    if (*picture && (*picture)->ok) {
      map->SetRelief(*picture);
      map->SetCoastline(std::move(*coast));
    } else {
      reliefGrid_.clear();
    }
  }, Qt::QueuedConnection);
  reliefThread_->start();
}

void TResultView::StopReliefLoad() {
  if (!reliefThread_) return;
  reliefCancel_->store(true);
  reliefThread_->wait();
  reliefThread_.reset();
}

void TResultView::WaitForRelief() {
  if (!reliefThread_) return;
  reliefThread_->wait();
  // Its result reaches the view as a queued call.
  QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
}

void TResultView::hideEvent(QHideEvent* event) {
  // A closed view reads nothing more; the next file opened reads again.
  if (reliefThread_ && reliefThread_->isRunning()) {
    StopReliefLoad();
    reliefGrid_.clear();
  }
  QWidget::hideEvent(event);
}

TResultView::~TResultView() {
  StopReliefLoad();
  // The map and the model point into table_: let go first.
  map->SetTable(nullptr, 0);
  model_->SetTable(nullptr);
}

bool TResultView::OpenFile(const std::string& resultFile, bool microGal, const std::string& reliefGrid) {
  auto [read, log] = ReadResultWithRunLog(resultFile, microGal);
  if (!read.table) {
    prompts_.ShowMessage(read.message);
    return false;
  }
  map->SetTable(nullptr, 0);
  model_->SetTable(nullptr);
  table_ = std::move(read.table);
  StopReliefLoad();
  reliefGrid_ = LocateGrid(log.firstElevationGrid.empty() ? reliefGrid : log.firstElevationGrid,
                           resultFile);
  map->SetRelief(nullptr);
  map->SetCoastline({});
  // The relief is a backdrop, read in the background: a large grid does
  // not hold up the window.
  if (!reliefGrid_.empty()) StartReliefLoad(reliefGrid_);
  const std::size_t column = table_->SummedDteColumn();
  map->SetTable(&*table_, column);
  model_->SetTable(&*table_);
  table->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
  table->resizeColumnsToContents();
  PlaceColouredColumn(column);
  {
    const QSignalBlocker block(cb_column);
    cb_column->clear();
    for (std::size_t c = 3; c < table_->columns.size(); ++c) {
      const TResultColumn& col = table_->columns[c];
      cb_column->addItem(QString::fromStdString(col.unit.empty() ? col.name : col.name + " [" + col.unit + "]"),
                         QVariant::fromValue<qulonglong>(c));
    }
    cb_column->setCurrentIndex(int(column) - 3);
  }
  const QString path = QString::fromStdString(resultFile);
  const auto& lattice = map->Lattice();
  lbl_file->setText(QFileInfo(path).fileName() +
                    (lattice ? QString(" - grid of %1 x %2 nodes").arg(lattice->columns).arg(lattice->rows)
                             : QString(" - %1 stations").arg(qulonglong(table_->RowCount()))));
  lbl_file->setToolTip(path);
  setWindowTitle("Result - " + QFileInfo(QString::fromStdString(resultFile)).fileName());
  return true;
}

void TResultView::btn_openClick() {
  if (auto path = prompts_.PickOpenFile("Result file", kResultFilter, "dat"))
    OpenFile(*path, table_ && table_->microGal, reliefGrid_);
}

void TResultView::SelectColumn(std::size_t column) {
  if (!table_ || column >= table_->columns.size()) return;
  map->SetColumn(column);
  PlaceColouredColumn(column);
  const int index = cb_column->findData(QVariant::fromValue<qulonglong>(column));
  if (index >= 0 && cb_column->currentIndex() != index) cb_column->setCurrentIndex(index);
}

void TResultView::PlaceColouredColumn(std::size_t column) {
  if (!table_) return;
  QHeaderView* header = table->horizontalHeader();
  std::vector<int> order{kPointColumn};
  if (int(column) != kPointColumn) order.push_back(int(column));
  for (int c = 0; c < int(table_->columns.size()); ++c)
    if (std::find(order.begin(), order.end(), c) == order.end()) order.push_back(c);
  for (int place = 0; place < int(order.size()); ++place)
    header->moveSection(header->visualIndex(order[std::size_t(place)]), place);
  table->scrollTo(model_->index(std::max(table->currentIndex().row(), 0), kPointColumn));
}

void TResultView::SelectStation(std::size_t row) {
  const int viewRow = model_->ViewRow(row);
  if (viewRow < 0) return;
  table->selectRow(viewRow);
  table->scrollTo(model_->index(viewRow, kPointColumn));
  table->setCurrentIndex(model_->index(viewRow, kPointColumn));
}

bool TResultView::SaveMap(const std::string& fileName, QSize size) {
  const QString path = QString::fromStdString(fileName);
  bool ok = false;
  if (EndsWithNoCase(fileName, ".svg")) {
    QSvgGenerator svg;
    svg.setFileName(path);
    svg.setSize(size);
    svg.setViewBox(QRect(QPoint(0, 0), size));
    svg.setTitle(windowTitle());
    svg.setDescription("Stations of " + lbl_file->toolTip());
    QPainter painter;
    if (painter.begin(&svg)) {
      map->Render(painter, size);
      ok = painter.end();
    }
    ok = ok && QFileInfo(path).isFile() && QFileInfo(path).size() > 0;
  } else {
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&image);
    map->Render(painter, size);
    painter.end();
    ok = image.save(path, "PNG");
  }
  if (!ok) prompts_.ShowMessage(FormatMessage("Error by writing file %s", fileName));
  return ok;
}

bool TResultView::SaveTable(const std::string& fileName) {
  if (!table_) return false;
  std::string message;
  if (SaveResultCsv(*table_, fileName, message)) return true;
  prompts_.ShowMessage(message);
  return false;
}

void TResultView::btn_saveMapClick() {
  if (!table_) return;
  if (auto path = prompts_.PickSaveFile("Save map", kMapFilter, "png"))
    SaveMap(*path, map->size().expandedTo(QSize(640, 480)));
}

void TResultView::btn_saveTableClick() {
  if (!table_) return;
  if (auto path = prompts_.PickSaveFile("Save table", kTableFilter, "csv")) SaveTable(*path);
}

}  // namespace globelayers

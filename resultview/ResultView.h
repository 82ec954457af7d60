// The result view: a window that shows one result file as a map of its
// stations coloured by a column the user picks (the summed DTE first),
// beside the file's table, sortable by any column; selecting a row
// highlights its station, clicking a station selects its row. "Save map"
// writes PNG or SVG, "Save table" CSV. Messages and file pickers go
// through the prompts.
#pragma once

#include <QThread>

#include <atomic>
#include <memory>

#include <QAbstractTableModel>
#include <QWidget>

#include <optional>
#include <string>
#include <vector>

#include "ResultFileReader.h"
#include "ResultWithRunLog.h"
#include "UserPrompts.h"

class QComboBox;
class QLabel;
class QPushButton;
class QTableView;

namespace globelayers {

class TResultMap;

// The result table for a table view: the numbers as the file writes them,
// sorted by any column without touching the table.
class TResultTableModel : public QAbstractTableModel {
 public:
  explicit TResultTableModel(QObject* parent) : QAbstractTableModel(parent) {}
  void SetTable(const TResultTable* table);
  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  void sort(int column, Qt::SortOrder order) override;
  // The table's row shown at view row `viewRow`, and back.
  std::size_t SourceRow(int viewRow) const { return order_[std::size_t(viewRow)]; }
  int ViewRow(std::size_t sourceRow) const;

 private:
  const TResultTable* table_ = nullptr;
  std::vector<std::size_t> order_;
};

class TResultView : public QWidget {
 public:
  // `prompts` must outlive the window.
  explicit TResultView(IUserPrompts& prompts, QWidget* parent = nullptr);
  ~TResultView() override;

  // Reads `resultFile` and shows it. The unit and the relief grid come from
  // the run log beside the file; without one, from `microGal` and
  // `reliefGrid` (the first layer's top grid of the window; empty for
  // none). False, after a message naming the file and line, when the file
  // cannot be read; the view then keeps what it showed.
  bool OpenFile(const std::string& resultFile, bool microGal, const std::string& reliefGrid);

  // The handlers of the buttons and the column choice.
  void btn_openClick();
  void btn_saveMapClick();
  void btn_saveTableClick();
  void SelectColumn(std::size_t column);
  // Selects the table's row of station `row` (an index into the file's lines).
  void SelectStation(std::size_t row);

  // The map drawn into `size` pixels as PNG (any other name) or SVG (a name
  // ending in ".svg"). False after a message when the file cannot be written.
  bool SaveMap(const std::string& fileName, QSize size);
  bool SaveTable(const std::string& fileName);

  const std::optional<TResultTable>& Table() const { return table_; }
  // The relief grid's file name, empty when none is drawn. The relief is
  // read in the background and drawn when it arrives; a grid that cannot be
  // read leaves the map without one (and clears the name).
  const std::string& ReliefGrid() const { return reliefGrid_; }
  // Waits until the relief being read is drawn or left out (tests, screenshots).
  void WaitForRelief();

  QLabel* lbl_file = nullptr;
  QComboBox* cb_column = nullptr;
  QPushButton* btn_open = nullptr;
  QPushButton* btn_saveMap = nullptr;
  QPushButton* btn_saveTable = nullptr;
  TResultMap* map = nullptr;
  QTableView* table = nullptr;

 protected:
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  // Puts the point number first and the coloured column beside it, so
  // that both show however narrow the table is; the rest keep the file's
  // order.
  void PlaceColouredColumn(std::size_t column);
  void StartReliefLoad(const std::string& gridName);
  // Gives up a relief being read (the reader stops at its next block) and
  // waits for its thread.
  void StopReliefLoad();

  IUserPrompts& prompts_;
  std::optional<TResultTable> table_;
  std::string reliefGrid_;
  std::unique_ptr<QThread> reliefThread_;
  std::shared_ptr<std::atomic<bool>> reliefCancel_;
  TResultTableModel* model_ = nullptr;
};

}  // namespace globelayers

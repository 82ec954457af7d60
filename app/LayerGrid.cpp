#include "LayerGrid.h"

#include <QHelpEvent>
#include <QHeaderView>
#include <QToolTip>

#include <algorithm>
#include <memory>

#include "GridPreview.h"
#include "WindowState.h"

namespace globelayers {

static_assert(kStartColumnWidthsPx.size() == TLayerGrid::kColumns);

TLayerGrid::TLayerGrid(QWidget* parent) : TFocusLeavingTable(parent) {
  setColumnCount(kColumns);
  setHorizontalHeaderLabels({"", "Elevation", "Elevation Grid", "Density", "Density Grid"});
  verticalHeader()->hide();  // column 0 is the fixed column
  verticalHeader()->setMinimumSectionSize(1);
  verticalHeader()->setDefaultSectionSize(kRowHeight);
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  horizontalHeader()->setFixedHeight(kRowHeight);
  horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
  horizontalHeader()->setMinimumSectionSize(1);
  horizontalHeader()->setStretchLastSection(false);
  horizontalHeader()->setHighlightSections(false);
  horizontalHeader()->setSectionsClickable(false);
  // Columns dragged wider than the table can be scrolled back into view.
  setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setShowGrid(true);
  setSelectionMode(QAbstractItemView::ContiguousSelection);
  setSelectionBehavior(QAbstractItemView::SelectItems);
  setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                  QAbstractItemView::AnyKeyPressed);
  for (int c = 0; c < kColumns; ++c) setColumnWidth(c, kStartColumnWidthsPx[c]);
  SetRowCount(2);
}

void TLayerGrid::SetRowCount(int rows) {
  rows = std::max(rows, 2);
  const int oldCurrent = currentRow();
  const int column = std::max(currentColumn(), 1);
  const int before = rowCount();
  setRowCount(rows - 1);
  for (int r = before; r < rows - 1; ++r) FillRow(r);
  // Like a string grid, the table always has a current row: it stays where
  // it was while that row exists and otherwise moves to the last row.
  const int target = oldCurrent < 0 ? 0 : std::min(oldCurrent, rowCount() - 1);
  if (currentRow() != target) setCurrentCell(target, column);
}

void TLayerGrid::FillRow(int qtRow) {
  // Column 0 is fixed: shown in the header colour, never edited or selected.
  auto fixed = std::make_unique<QTableWidgetItem>();
  fixed->setFlags(Qt::ItemIsEnabled);
  fixed->setBackground(palette().button());
  setItem(qtRow, 0, fixed.release());  // the table owns its items
  for (int c = 1; c < kColumns; ++c) setItem(qtRow, c, std::make_unique<QTableWidgetItem>().release());
}

QString TLayerGrid::CellText(int row, int column) const {
  if (row == 0) {
    const QTableWidgetItem* header = horizontalHeaderItem(column);
    return header ? header->text() : QString();
  }
  const QTableWidgetItem* cell = item(row - 1, column);
  return cell ? cell->text() : QString();
}

void TLayerGrid::SetCellText(int row, int column, const QString& text) {
  if (row == 0) {
    if (QTableWidgetItem* header = horizontalHeaderItem(column)) header->setText(text);
    return;
  }
  if (QTableWidgetItem* cell = item(row - 1, column)) cell->setText(text);
}

QString TLayerGrid::GridCellToolTip(int row, int column) const {
  if ((column != 2 && column != 4) || row < 1 || row > RowCount() - 2) return {};
  const QString name = CellText(row, column);
  if (name.isEmpty() || name == "@") return {};
  return name + "\n" + GridToolTip(name.toStdString());
}

bool TLayerGrid::viewportEvent(QEvent* event) {
  if (event->type() == QEvent::ToolTip) {
    auto* help = static_cast<QHelpEvent*>(event);
    const QModelIndex index = indexAt(help->pos());
    const QString tip = index.isValid() ? GridCellToolTip(index.row() + 1, index.column()) : QString();
    if (!tip.isEmpty()) {
      QToolTip::showText(help->globalPos(), tip, viewport(), visualRect(index));
      return true;
    }
  }
  return TFocusLeavingTable::viewportEvent(event);
}

QModelIndex TLayerGrid::moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) {
  const QModelIndex target = TFocusLeavingTable::moveCursor(action, modifiers);
  // Column 0 is fixed: Left and Home stop at column 1.
  if (target.isValid() && target.column() == 0) return model()->index(target.row(), 1);
  return target;
}

void TLayerGrid::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
  // A click into column 0 makes column 1 of that row the current cell.
  if (current.isValid() && current.column() == 0) {
    setCurrentIndex(model()->index(current.row(), 1));
    return;
  }
  TFocusLeavingTable::currentChanged(current, previous);
}

void TLayerGrid::SetCurrentRow(int row) {
  if (row < 1 || row > rowCount()) return;
  setCurrentCell(row - 1, std::max(currentColumn(), 1));
}

}  // namespace globelayers

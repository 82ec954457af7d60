// The layer table as a string grid, addressed as the rest of the window
// addresses it: row 0 is the header row (Qt's horizontal header), rows 1 to
// RowCount() - 2 are the layer rows, row RowCount() - 1 is the entry row;
// column 0 is the blank fixed column.
//
// The keyboard never stays trapped in the table: Tab and Shift+Tab (with
// Ctrl too, and from inside a cell being edited, whose text is kept) leave
// it along the window's tab order; the arrow keys move between the cells of
// columns 1 to 4. Column 0 is never the current column.
#pragma once

#include <QTableWidget>

#include "FocusLeavingTable.h"

namespace globelayers {

class TLayerGrid : public TFocusLeavingTable {
 public:
  static constexpr int kColumns = 5;  // the fixed column 0 and the four cells of a layer row
  static constexpr int kRowHeight = 21;  // pixels, header row included

  explicit TLayerGrid(QWidget* parent);

  // Rows counted with the header row, as everywhere in the window: the
  // number of layer rows is RowCount() - 2.
  int RowCount() const { return rowCount() + 1; }
  // At least 2 (the header and the entry row). New rows are empty; the
  // current row is kept where it still exists, else moved to the last row.
  void SetRowCount(int rows);

  // Cell text by (row, column); row 0 is the header.
  QString CellText(int row, int column) const;
  void SetCellText(int row, int column, const QString& text);

  int ColWidth(int column) const { return columnWidth(column); }
  void SetColWidth(int column, int widthPx) { setColumnWidth(column, widthPx); }

  // The tooltip of a grid cell (column 2 or 4 of a layer row naming a
  // file): the grid's facts, or what its reader says. Empty elsewhere,
  // where the table's own hint shows.
  QString GridCellToolTip(int row, int column) const;

  // The focused cell's row; 0 when there is none.
  int CurrentRow() const { return currentRow() + 1; }
  void SetCurrentRow(int row);

 protected:
  bool viewportEvent(QEvent* event) override;
  QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;
  void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;

 private:
  void FillRow(int qtRow);
};

}  // namespace globelayers

// A table that the keyboard can leave. Tab and Shift+Tab (also with Ctrl,
// and from a cell being edited, whose text is committed first) move the
// focus to the next or previous control of the window instead of the next
// cell; the arrow keys move between the cells. A plain QTableWidget keeps
// Tab for its cells and wraps from the last to the first, so a keyboard
// user cannot get out of it.
#pragma once

#include <QTableWidget>

namespace globelayers {

class TFocusLeavingTable : public QTableWidget {
 public:
  explicit TFocusLeavingTable(QWidget* parent = nullptr);
  TFocusLeavingTable(int rows, int columns, QWidget* parent = nullptr);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) override;
};

}  // namespace globelayers

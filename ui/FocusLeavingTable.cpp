#include "FocusLeavingTable.h"

#include <QKeyEvent>

namespace globelayers {

TFocusLeavingTable::TFocusLeavingTable(QWidget* parent) : QTableWidget(parent) { setTabKeyNavigation(false); }

TFocusLeavingTable::TFocusLeavingTable(int rows, int columns, QWidget* parent)
    : QTableWidget(rows, columns, parent) {
  setTabKeyNavigation(false);
}

void TFocusLeavingTable::keyPressEvent(QKeyEvent* event) {
  // The window passes plain Tab and Shift+Tab on before this; with Ctrl
  // they come here, and leave the table too.
  const bool tab = event->key() == Qt::Key_Tab || event->key() == Qt::Key_Backtab;
  if (tab && (event->modifiers() & Qt::ControlModifier)) {
    const bool back = event->key() == Qt::Key_Backtab || (event->modifiers() & Qt::ShiftModifier);
    focusNextPrevChild(!back);
    event->accept();
    return;
  }
  QTableWidget::keyPressEvent(event);
}

void TFocusLeavingTable::closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) {
  // Tab in a cell being edited has committed the text; it then leaves the
  // table like Tab outside an editor, instead of opening the next cell.
  const bool next = hint == QAbstractItemDelegate::EditNextItem;
  const bool previous = hint == QAbstractItemDelegate::EditPreviousItem;
  QTableWidget::closeEditor(editor, next || previous ? QAbstractItemDelegate::NoHint : hint);
  if (next || previous) focusNextPrevChild(next);
}

}  // namespace globelayers

#include "ExitWatcher.h"

#include <QApplication>
#include <QFocusEvent>
#include <QWidget>

namespace globelayers {

void TExitWatcher::Watch(QWidget* field, THandler handler) {
  entries_.push_back({field, std::move(handler)});
  field->installEventFilter(this);
}

void TExitWatcher::ReturnFocus(QWidget* field) {
  const bool outer = returningFocus_;
  returningFocus_ = true;
  field->setFocus(Qt::OtherFocusReason);
  returningFocus_ = outer;
}

bool TExitWatcher::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::FocusOut || returningFocus_)
    return QObject::eventFilter(watched, event);
  const auto reason = static_cast<QFocusEvent*>(event)->reason();
  if (reason == Qt::ActiveWindowFocusReason || reason == Qt::PopupFocusReason ||
      reason == Qt::MenuBarFocusReason)
    return QObject::eventFilter(watched, event);
  // Qt has already moved the focus when the field hears of it: the new
  // focus widget tells whether it stayed in this window.
  QWidget* next = QApplication::focusWidget();
  for (const TEntry& entry : entries_) {
    if (entry.field != watched) continue;
    if (next != nullptr && next->window() == entry.field->window()) {
      const THandler handler = entry.handler;  // the handler may watch more fields
      handler(entry.field);
    }
    break;
  }
  return QObject::eventFilter(watched, event);
}

}  // namespace globelayers

#include "ExitWatcher.h"

#include <QApplication>
#include <QFocusEvent>
#include <QTimer>
#include <QWidget>

namespace globelayers {

void TExitWatcher::Watch(QWidget* field, THandler handler) {
  entries_.push_back({field, std::move(handler)});
  field->installEventFilter(this);
}

bool TExitWatcher::IsWatched(const QWidget* widget) const {
  for (const TEntry& entry : entries_)
    if (entry.field == widget) return true;
  return false;
}

void TExitWatcher::ReturnFocus(QWidget* field) {
  // A message box shown by the handler may have moved the focus meanwhile.
  QWidget* target = movingTo_ != nullptr ? movingTo_.data() : QApplication::focusWidget();
  const bool outer = returningFocus_;
  returningFocus_ = true;
  field->setFocus(Qt::OtherFocusReason);
  returningFocus_ = outer;

  if (target == nullptr || target == field) return;
  // The press that moved the focus is delivered right after this handler,
  // within the same event; the posted clean-up runs only after it.
  if (pressBlocked_ != nullptr && !IsWatched(pressBlocked_)) pressBlocked_->removeEventFilter(this);
  pressBlocked_ = target;
  if (!IsWatched(target)) target->installEventFilter(this);
  QTimer::singleShot(0, this, [this, target = QPointer<QWidget>(target)] {
    if (pressBlocked_ != target) return;
    if (target != nullptr && !IsWatched(target)) target->removeEventFilter(this);
    pressBlocked_ = nullptr;
  });
}

bool TExitWatcher::eventFilter(QObject* watched, QEvent* event) {
  if (watched == pressBlocked_ &&
      (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick))
    return true;
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
      const QPointer<QWidget> outer = movingTo_;
      movingTo_ = next;
      try {
        handler(entry.field);
      } catch (...) {
        movingTo_ = outer;
        throw;
      }
      movingTo_ = outer;
    }
    break;
  }
  return QObject::eventFilter(watched, event);
}

}  // namespace globelayers

// "On leaving" for edit fields: the handler runs when the focus moves from
// the field to another control of the same window (Tab, a click, a
// shortcut, or a program setting the focus), not when the whole window
// loses activation to another window or a popup. A message box shown by
// the handler therefore does not run it a second time.
#pragma once

#include <QObject>
#include <QPointer>

#include <functional>
#include <vector>

class QWidget;

namespace globelayers {

class TExitWatcher : public QObject {
 public:
  using THandler = std::function<void(QWidget* sender)>;

  explicit TExitWatcher(QObject* parent = nullptr) : QObject(parent) {}

  // Runs `handler` with the field as sender each time the field is left.
  void Watch(QWidget* field, THandler handler);

  // A handler that sends the focus back into its field must not run the
  // exit handler of the control the focus was moving to: that control
  // never really had the focus. When a mouse press on a button moved the
  // focus, that press is dropped too, so a refused entry is not followed by
  // the button's click (Save would otherwise take the refused text).
  void ReturnFocus(QWidget* field);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  struct TEntry {
    QPointer<QWidget> field;
    THandler handler;
  };
  bool IsWatched(const QWidget* widget) const;

  std::vector<TEntry> entries_;
  bool returningFocus_ = false;
  // Where the focus was going while an exit handler runs.
  QPointer<QWidget> movingTo_;
  // The control whose pending mouse press is dropped, until the event being
  // processed is done.
  QPointer<QWidget> pressBlocked_;
};

}  // namespace globelayers

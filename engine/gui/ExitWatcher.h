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
  // never really had the focus.
  void ReturnFocus(QWidget* field);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  struct TEntry {
    QPointer<QWidget> field;
    THandler handler;
  };
  std::vector<TEntry> entries_;
  bool returningFocus_ = false;
};

}  // namespace globelayers

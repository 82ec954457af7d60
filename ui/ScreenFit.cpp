#include "ScreenFit.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <algorithm>

namespace globelayers {

QRect AvailableScreenArea(const QWidget* window) {
  const QScreen* screen = window != nullptr ? window->screen() : nullptr;
  if (screen == nullptr) screen = QGuiApplication::primaryScreen();
  return screen != nullptr ? screen->availableGeometry() : QRect();
}

QSize ClientSizeWithin(QSize wanted, const QRect& area) {
  if (area.isEmpty()) return wanted;
  return {std::min(wanted.width(), area.width() - kFrameAllowanceWidthPx),
          std::min(wanted.height(), area.height() - kFrameAllowanceHeightPx)};
}

void FitOnScreen(QWidget* window, QSize wanted, const QWidget* owner) {
  const QRect area = AvailableScreenArea(owner != nullptr ? owner : window);
  const QSize size = ClientSizeWithin(wanted, area);
  window->resize(size);
  if (area.isEmpty()) return;
  const QSize framed(size.width() + kFrameAllowanceWidthPx, size.height() + kFrameAllowanceHeightPx);
  const QPoint centre = owner != nullptr ? owner->frameGeometry().center() : area.center();
  QPoint topLeft(centre.x() - framed.width() / 2, centre.y() - framed.height() / 2);
  topLeft.setX(std::clamp(topLeft.x(), area.left(), std::max(area.left(), area.right() + 1 - framed.width())));
  topLeft.setY(std::clamp(topLeft.y(), area.top(), std::max(area.top(), area.bottom() + 1 - framed.height())));
  window->move(topLeft);
}

}  // namespace globelayers

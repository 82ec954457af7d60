// Windows that fit the screen they open on, whatever its size and scale
// factor: at QT_SCALE_FACTOR=2 a 1366 x 768 screen is 683 x 384 pixels to
// the program, smaller than the main window's design size.
#pragma once

#include <QRect>
#include <QSize>

class QWidget;

namespace globelayers {

// What a window's frame adds around its client area where the window
// system has not said so yet (before the first showing), logical pixels.
inline constexpr int kFrameAllowanceWidthPx = 8;
inline constexpr int kFrameAllowanceHeightPx = 32;

// The available area (without panels) of the screen `window` is on, or of
// the primary screen; empty when there is no screen at all.
QRect AvailableScreenArea(const QWidget* window);

// The largest client size, at most `wanted`, that fits with its frame in
// `area`; `wanted` itself for an empty area.
QSize ClientSizeWithin(QSize wanted, const QRect& area);

// Resizes `window` to at most `wanted` (client size) within its screen and
// centres it there: over `owner` when given, else on the screen; in both
// cases wholly on the screen, title bar included.
void FitOnScreen(QWidget* window, QSize wanted, const QWidget* owner = nullptr);

}  // namespace globelayers

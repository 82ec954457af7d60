// Creating the windows' controls by name, caption and pixel geometry. Every
// control is owned by its parent widget (Qt's ownership tree).
#pragma once

#include <QRect>

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

namespace globelayers {

// The caption on the frame's top line (GroupBoxStyle.h).
QGroupBox* MakeGroup(QWidget* parent, const char* name, const char* caption, QRect geometry);
// A label sized to its caption, at (left, top).
QLabel* MakeLabel(QWidget* parent, const char* name, const char* caption, int left, int top);
// `hint`, when given, is the control's tooltip.
QLineEdit* MakeEdit(QWidget* parent, const char* name, QRect geometry, const char* hint = nullptr);
// Never a default button: Enter presses nothing.
QPushButton* MakeButton(QWidget* parent, const char* name, const char* caption, QRect geometry,
                        const char* hint = nullptr);

}  // namespace globelayers

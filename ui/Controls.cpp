#include "Controls.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "GroupBoxStyle.h"

namespace globelayers {

QGroupBox* MakeGroup(QWidget* parent, const char* name, const char* caption, QRect geometry) {
  auto* group = new QGroupBox(QString::fromUtf8(caption), parent);
  group->setObjectName(name);
  group->setGeometry(geometry);
  DrawCaptionOnFrame(group);
  return group;
}

QLabel* MakeLabel(QWidget* parent, const char* name, const char* caption, int left, int top) {
  auto* label = new QLabel(QString::fromUtf8(caption), parent);
  label->setObjectName(name);
  label->move(left, top);
  label->adjustSize();
  return label;
}

QLineEdit* MakeEdit(QWidget* parent, const char* name, QRect geometry, const char* hint) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(name);
  edit->setGeometry(geometry);
  if (hint != nullptr) edit->setToolTip(QString::fromUtf8(hint));
  return edit;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const char* caption, QRect geometry,
                        const char* hint) {
  auto* button = new QPushButton(QString::fromUtf8(caption), parent);
  button->setObjectName(name);
  button->setGeometry(geometry);
  button->setAutoDefault(false);
  button->setDefault(false);
  if (hint != nullptr) button->setToolTip(QString::fromUtf8(hint));
  return button;
}

}  // namespace globelayers

#include "RadioGroup.h"

#include <QRadioButton>

#include <algorithm>

#include "GroupBoxStyle.h"

namespace globelayers {

TRadioGroup::TRadioGroup(const QString& caption, const QStringList& items, QWidget* parent)
    : QGroupBox(caption, parent), items_(items) {
  DrawCaptionOnFrame(this);
  for (int i = 0; i < items.size(); ++i) {
    auto* button = new QRadioButton(items[i], this);
    button->setObjectName(QStringLiteral("item%1").arg(i));
    button->setAutoExclusive(true);
    buttons_.push_back(button);
  }
}

int TRadioGroup::ItemIndex() const {
  for (std::size_t i = 0; i < buttons_.size(); ++i)
    if (buttons_[i]->isChecked()) return static_cast<int>(i);
  return -1;
}

void TRadioGroup::SetItemIndex(int index) {
  if (index >= 0 && index < ItemCount()) {
    buttons_[index]->setChecked(true);
    return;
  }
  // No item: auto-exclusive buttons refuse to be all unchecked otherwise.
  for (QRadioButton* button : buttons_) {
    button->setAutoExclusive(false);
    button->setChecked(false);
    button->setAutoExclusive(true);
  }
}

void TRadioGroup::resizeEvent(QResizeEvent* event) {
  QGroupBox::resizeEvent(event);
  ArrangeItems();
}

void TRadioGroup::ArrangeItems() {
  // The items share the space inside the frame evenly, one per line; the
  // style decides where its caption ends. Styles that draw the caption
  // above the frame leave a small group too little room: the items then
  // move up towards the caption rather than overlap each other.
  if (buttons_.empty()) return;
  const int count = static_cast<int>(buttons_.size());
  const QRect inside = contentsRect();
  int top = inside.top();
  int itemHeight = inside.height() / count;
  const int needed = buttons_.front()->sizeHint().height();
  if (itemHeight < needed) {
    itemHeight = std::min(needed, (height() - fontMetrics().height() - 2) / count);
    top = std::max(fontMetrics().height(), height() - 2 - count * itemHeight);
  }
  for (int i = 0; i < count; ++i)
    buttons_[i]->setGeometry(inside.left() + 6, top + i * itemHeight,
                             std::max(inside.width() - 8, 0), itemHeight);
}

}  // namespace globelayers

// A radio group: a framed caption over a column of exclusive items, with
// the selection as an index. Item texts are kept as stored, so "&&" (the
// escape of a literal ampersand on screen) reaches whoever reads them.
#pragma once

#include <QGroupBox>
#include <QStringList>

#include <vector>

class QRadioButton;

namespace globelayers {

class TRadioGroup : public QGroupBox {
 public:
  TRadioGroup(const QString& caption, const QStringList& items, QWidget* parent);

  int ItemIndex() const;  // -1 when nothing is selected
  void SetItemIndex(int index);
  int ItemCount() const { return static_cast<int>(buttons_.size()); }
  QString ItemText(int index) const { return items_.value(index); }
  QRadioButton* Button(int index) const { return buttons_.at(index); }

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void ArrangeItems();

  QStringList items_;
  std::vector<QRadioButton*> buttons_;  // owned by the group box
};

}  // namespace globelayers

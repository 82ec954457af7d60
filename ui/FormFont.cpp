#include "FormFont.h"

#include <QFont>
#include <QWidget>

namespace globelayers {

void ApplyFormFont(QWidget* form) {
  QFont font;
  // Faces with the design face's widths first; the platform's sans-serif
  // face (often much wider) only when none of them is installed.
  font.setFamilies({"MS Sans Serif", "Microsoft Sans Serif", "Tahoma", "Arial",
                    "Liberation Sans", "Nimbus Sans", "Helvetica"});
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(11);
  form->setFont(font);
}

}  // namespace globelayers

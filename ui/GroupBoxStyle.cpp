#include "GroupBoxStyle.h"

#include <QApplication>
#include <QGroupBox>
#include <QPainter>
#include <QPointer>
#include <QProxyStyle>
#include <QStyleOptionGroupBox>

#include <algorithm>

namespace globelayers {
namespace {

constexpr int kCaptionIndentPx = 8;  // pixels from the box's left edge to the caption
constexpr int kCaptionPadPx = 2;     // pixels of frame-free space either side of the caption text
constexpr int kFramePx = 2;          // pixels: the etched line, dark then light

class TCaptionOnFrameStyle : public QProxyStyle {
 public:
  // No base style given: the proxy follows the application's style.
  TCaptionOnFrameStyle() = default;

  QRect subControlRect(ComplexControl control, const QStyleOptionComplex* option,
                       SubControl part, const QWidget* widget) const override {
    const auto* box = qstyleoption_cast<const QStyleOptionGroupBox*>(option);
    if (control != CC_GroupBox || box == nullptr)
      return QProxyStyle::subControlRect(control, option, part, widget);
    const QRect r = box->rect;
    const int captionHeightPx = box->text.isEmpty() ? 0 : box->fontMetrics.height();
    switch (part) {
      case SC_GroupBoxFrame:
        return r.adjusted(0, captionHeightPx / 2, 0, 0);
      case SC_GroupBoxLabel: {
        if (box->text.isEmpty()) return {};
        const int textWidthPx =
            box->fontMetrics.size(Qt::TextShowMnemonic, box->text).width() + 2 * kCaptionPadPx;
        // A caption wider than the box is cut at the box's right edge.
        return {r.left() + kCaptionIndentPx, r.top(),
                std::min(textWidthPx, std::max(r.width() - kCaptionIndentPx, 0)), captionHeightPx};
      }
      case SC_GroupBoxContents:
        return r.adjusted(kFramePx, std::max(captionHeightPx, kFramePx), -kFramePx, -kFramePx);
      default:
        return QProxyStyle::subControlRect(control, option, part, widget);
    }
  }

  void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option,
                          QPainter* painter, const QWidget* widget) const override {
    const auto* box = qstyleoption_cast<const QStyleOptionGroupBox*>(option);
    if (control != CC_GroupBox || box == nullptr) {
      QProxyStyle::drawComplexControl(control, option, painter, widget);
      return;
    }
    const QRect label = subControlRect(CC_GroupBox, option, SC_GroupBoxLabel, widget);
    if (box->subControls & SC_GroupBoxFrame) {
      // The frame's line stops either side of the caption.
      const QRect frame = subControlRect(CC_GroupBox, option, SC_GroupBoxFrame, widget);
      painter->save();
      QRegion outside(box->rect);
      if (!label.isEmpty()) outside -= label;
      painter->setClipRegion(outside);
      painter->setPen(box->palette.color(QPalette::Mid));
      painter->drawRect(frame.adjusted(0, 0, -2, -2));
      painter->setPen(box->palette.color(QPalette::Light));
      painter->drawRect(frame.adjusted(1, 1, -1, -1));
      painter->restore();
    }
    if ((box->subControls & SC_GroupBoxLabel) && !label.isEmpty()) {
      int flags = Qt::AlignLeft | Qt::AlignVCenter | Qt::TextShowMnemonic;
      if (!proxy()->styleHint(SH_UnderlineShortcut, option, widget)) flags |= Qt::TextHideMnemonic;
      proxy()->drawItemText(painter, label.adjusted(kCaptionPadPx, 0, 0, 0), flags, box->palette, box->state & State_Enabled, box->text,
                            QPalette::WindowText);
    }
  }
};

}  // namespace

QStyle* CaptionOnFrameStyle() {
  // Owned by the application object, so that it goes with it; made again
  // for a later one.
  static QPointer<QStyle> style;
  if (style.isNull()) {
    style = new TCaptionOnFrameStyle;
    style->setParent(qApp);
  }
  return style;
}

void DrawCaptionOnFrame(QGroupBox* group) { group->setStyle(CaptionOnFrameStyle()); }

}  // namespace globelayers

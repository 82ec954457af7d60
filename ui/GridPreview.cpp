#include "GridPreview.h"

#include <QApplication>
#include <QCursor>
#include <QLabel>
#include <QPixmap>

#include <cmath>

#include "ColourMap.h"

namespace globelayers {

TGridPictureCache& SharedGridPictures() {
  // Rasters of at most 512 x 512 cells (1 MB each), 16 of them.
  static TGridPictureCache cache(16, 512);
  return cache;
}

QImage GridRasterImage(const TGridRaster& raster, const TGridFacts& facts, QSize size) {
  QImage image(size, QImage::Format_RGB32);
  const QRgb blank = qRgb(kBlankColour.r, kBlankColour.g, kBlankColour.b);
  image.fill(blank);
  if (raster.width < 1 || raster.height < 1) return image;
  const TColourScale scale{facts.minValue, facts.maxValue, false};
  for (int y = 0; y < size.height(); ++y) {
    const int row = std::min(raster.height - 1, y * raster.height / size.height());
    auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < size.width(); ++x) {
      const int col = std::min(raster.width - 1, x * raster.width / size.width());
      const float v = raster.at(col, row);
      if (std::isnan(v)) continue;
      const TRgb c = ColourOf(scale, v);
      line[x] = qRgb(c.r, c.g, c.b);
    }
  }
  return image;
}

QString GridToolTip(const std::string& fileName) {
  const auto picture = SharedGridPictures().Get(fileName);
  return QString::fromStdString(picture->ok ? FactsText(picture->facts) : picture->message);
}

TGridPreview::TGridPreview(QWidget* parent) : QWidget(parent) {
  image_ = new QLabel(this);
  image_->setObjectName("gridPicture");
  image_->setGeometry(0, 0, kPictureSidePx, kPictureSidePx);
  facts_ = new QLabel(this);
  facts_->setObjectName("gridFacts");
  facts_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  facts_->setWordWrap(true);
  facts_->setTextFormat(Qt::PlainText);
  QFont small = font();
  // The forms' font is set in pixels; a font in points is scaled instead.
  if (small.pixelSize() > 0)
    small.setPixelSize(std::max(9, small.pixelSize() - 1));
  else
    small.setPointSizeF(small.pointSizeF() * 0.9);
  facts_->setFont(small);
  ShowGrid(QString());
}

void TGridPreview::ShowGrid(const QString& fileName) {
  facts_->setGeometry(kPictureSidePx + 6, 0, std::max(width() - kPictureSidePx - 6, 10), height());
  fileName_ = fileName;
  picture_ = QImage();
  if (fileName.isEmpty()) {
    image_->clear();
    image_->setStyleSheet(QString());
    facts_->clear();
    return;
  }
  // A large grid takes a moment the first time; the cache keeps it after.
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const auto picture = SharedGridPictures().Get(fileName.toStdString());
  QApplication::restoreOverrideCursor();
  if (!picture->ok) {
    image_->clear();
    image_->setStyleSheet("border: 1px solid gray;");
    facts_->setText(QString::fromStdString(picture->message));
    return;
  }
  // North up, in the grid's own proportions of degrees.
  const TGridFacts& f = picture->facts;
  const double w = std::max(f.xMaxDeg - f.xMinDeg, 1e-12), h = std::max(f.yMaxDeg - f.yMinDeg, 1e-12);
  QSize size(kPictureSidePx, kPictureSidePx);
  if (w > h)
    size.setHeight(std::max(8, int(std::lround(kPictureSidePx * h / w))));
  else
    size.setWidth(std::max(8, int(std::lround(kPictureSidePx * w / h))));
  picture_ = GridRasterImage(picture->raster, f, size);
  image_->setStyleSheet(QString());
  image_->setPixmap(QPixmap::fromImage(picture_));
  facts_->setText(QString::fromStdString(FactsText(f)));
}

void TGridPreview::ShowGridList(const QStringList& fileNames, int shown) {
  if (fileNames.size() <= 1 || shown < 0 || shown >= fileNames.size()) {
    ShowGrid(fileNames.value(shown < 0 ? 0 : shown));
    return;
  }
  ShowGrid(fileNames[shown]);
  facts_->setText(QString("Grid %1 of %2, others outlined\n").arg(shown + 1).arg(fileNames.size()) + facts_->text());
  if (picture_.isNull()) return;
  const TGridFacts& f = SharedGridPictures().Get(fileNames[shown].toStdString())->facts;
  const double w = std::max(f.xMaxDeg - f.xMinDeg, 1e-12), h = std::max(f.yMaxDeg - f.yMinDeg, 1e-12);
  // Pixel of a longitude and a latitude (degrees) on the shown picture,
  // north up; beyond its edges the outline is clipped.
  const auto px = [&](double lonDeg) { return (lonDeg - f.xMinDeg) / w * (picture_.width() - 1); };
  const auto py = [&](double latDeg) { return (f.yMaxDeg - latDeg) / h * (picture_.height() - 1); };
  for (int k = 0; k < fileNames.size(); ++k) {
    if (k == shown) continue;
    const auto other = SharedGridPictures().Get(fileNames[k].toStdString());
    if (!other->ok) continue;  // its own picture says why, when chosen
    const TGridFacts& o = other->facts;
    const int left = int(std::lround(px(o.xMinDeg))), right = int(std::lround(px(o.xMaxDeg)));
    const int top = int(std::lround(py(o.yMaxDeg))), bottom = int(std::lround(py(o.yMinDeg)));
    const auto plot = [this](int x, int y, QRgb colour) {
      if (x >= 0 && y >= 0 && x < picture_.width() && y < picture_.height()) picture_.setPixel(x, y, colour);
    };
    // A black line inside the white one: the white shows on the dark end
    // of the colour map, the black on the pale end.
    constexpr QRgb kInnerColour = 0xff000000;
    for (int x = left; x <= right; ++x) {
      plot(x, top, kOutlineColour);
      plot(x, bottom, kOutlineColour);
    }
    for (int y = top; y <= bottom; ++y) {
      plot(left, y, kOutlineColour);
      plot(right, y, kOutlineColour);
    }
    for (int x = left + 1; x < right; ++x) {
      plot(x, top + 1, kInnerColour);
      plot(x, bottom - 1, kInnerColour);
    }
    for (int y = top + 2; y < bottom - 1; ++y) {
      plot(left + 1, y, kInnerColour);
      plot(right - 1, y, kInnerColour);
    }
  }
  image_->setPixmap(QPixmap::fromImage(picture_));
}

QString TGridPreview::Caption() const { return facts_->text(); }

}  // namespace globelayers

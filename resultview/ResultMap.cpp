#include "ResultMap.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QWheelEvent>
#include <QPainter>
#include <QPainterPath>
#include <QToolTip>

#include <algorithm>
#include <cmath>
#include <limits>

#include "NumberText.h"

namespace globelayers {
namespace {

// Room around the map, pixels: graticule labels and axis titles left and below, the colour
// bar and its labels to the right.
// The axis titles take a line of text left of and below the labels.
constexpr int kLeftPx = 66, kTopPx = 10, kBottomPx = 44, kBarAreaPx = 118;
constexpr int kBarWidthPx = 16;
constexpr double kStationRadiusPx = 4.5;
constexpr double kZoomStep = 1.25;   // zoom of one wheel notch or key press
constexpr double kPanStep = 0.25;    // share of the width or height an arrow key pans
constexpr double kMinViewDeg = 1e-4; // the nearest zoom, degrees across
constexpr double kHighlightRadiusPx = 8;
constexpr double kDragStartPx = 4;   // a press that moves less is a click
const QColor kCoastColour(20, 20, 20);
const QColor kSeaBackground(250, 250, 250);

QColor ToQColor(TRgb c) { return QColor(c.r, c.g, c.b); }

}  // namespace

TResultMap::TResultMap(QWidget* parent) : QWidget(parent) {
  setObjectName("resultMap");
  setMouseTracking(true);
  setMinimumSize(320, 240);
  // The keys zoom and pan once the map has the focus (a click or Tab).
  setFocusPolicy(Qt::StrongFocus);
}

void TResultMap::SetTable(const TResultTable* table, std::size_t column) {
  table_ = table;
  highlight_.reset();
  view_.reset();
  box_ = {};
  reliefImageFor_ = QSize();
  if (table_ != nullptr && table_->RowCount() > 0) {
    box_ = {table_->At(0, 0), table_->At(0, 0), table_->At(0, 1), table_->At(0, 1)};
    for (std::size_t r = 1; r < table_->RowCount(); ++r) {
      box_.lonMinDeg = std::min(box_.lonMinDeg, table_->At(r, 0));
      box_.lonMaxDeg = std::max(box_.lonMaxDeg, table_->At(r, 0));
      box_.latMinDeg = std::min(box_.latMinDeg, table_->At(r, 1));
      box_.latMaxDeg = std::max(box_.latMaxDeg, table_->At(r, 1));
    }
  }
  lattice_ = table_ != nullptr ? FindLattice(*table_) : std::nullopt;
  if (lattice_) {
    // The outer cells are whole on the map.
    box_.lonMinDeg -= lattice_->lonStepDeg / 2;
    box_.lonMaxDeg += lattice_->lonStepDeg / 2;
    box_.latMinDeg -= lattice_->latStepDeg / 2;
    box_.latMaxDeg += lattice_->latStepDeg / 2;
  }
  SetColumn(column);
}

void TResultMap::SetColumn(std::size_t column) {
  column_ = column;
  scale_ = {};
  if (table_ != nullptr && table_->RowCount() > 0 && column < table_->columns.size()) {
    double lo = std::numeric_limits<double>::infinity(), hi = -lo;
    for (std::size_t r = 0; r < table_->RowCount(); ++r) {
      lo = std::min(lo, table_->At(r, column));
      hi = std::max(hi, table_->At(r, column));
    }
    scale_ = MakeColourScale(lo, hi);
  }
  latticeImage_ = QImage();
  if (lattice_ && column < table_->columns.size()) {
    const std::vector<std::uint32_t> pixels = LatticeColours(*lattice_, *table_, column, scale_);
    latticeImage_ = QImage(lattice_->columns, lattice_->rows, QImage::Format_RGB32);
    for (int y = 0; y < lattice_->rows; ++y)
      std::copy_n(pixels.begin() + std::ptrdiff_t(y) * lattice_->columns, lattice_->columns,
                  reinterpret_cast<QRgb*>(latticeImage_.scanLine(y)));
  }
  update();
}

void TResultMap::SetRelief(std::shared_ptr<const TGridPicture> relief) {
  relief_ = relief && relief->ok ? std::move(relief) : nullptr;
  shade_ = relief_ ? ShadeRelief(relief_->raster) : std::vector<float>{};
  reliefImageFor_ = QSize();
  update();
}

void TResultMap::SetCoastline(std::vector<TContourLine> lines) {
  coastline_ = std::move(lines);
  update();
}

void TResultMap::SetHighlight(std::optional<std::size_t> row) {
  highlight_ = row;
  update();
}

QRect TResultMap::AreaRect(QSize size) const {
  return QRect(kLeftPx, kTopPx, std::max(size.width() - kLeftPx - kBarAreaPx, 10),
               std::max(size.height() - kTopPx - kBottomPx, 10));
}

QRect TResultMap::MapRect(QSize size) const {
  const QRect area = AreaRect(size);
  const TMapFrame frame = TMapFrame::Fit(box_, area.width(), area.height());
  const int w = std::max(int(std::lround(frame.WidthPx())), 1);
  const int h = std::max(int(std::lround(frame.HeightPx())), 1);
  return QRect(area.left() + (area.width() - w) / 2, area.top() + (area.height() - h) / 2, w, h);
}

TMapFrame TResultMap::Frame(QSize size) const {
  const QRect m = MapRect(size);
  return view_ ? TMapFrame::Fit(*view_, m.width(), m.height(), 0) : TMapFrame::Fit(box_, m.width(), m.height());
}

TLonLatBox TResultMap::Visible() const { return Frame(size()).Visible(); }

void TResultMap::SetView(const TLonLatBox& view) {
  TLonLatBox v = view;
  // Panned past a pole: back to it, keeping the height shown.
  const double height = std::min(v.latMaxDeg - v.latMinDeg, 180.0);
  if (v.latMaxDeg > 90) v.latMaxDeg = 90, v.latMinDeg = 90 - height;
  if (v.latMinDeg < -90) v.latMinDeg = -90, v.latMaxDeg = -90 + height;
  view_ = v;
  reliefImageFor_ = QSize();
  update();
}

void TResultMap::ZoomBy(double factor, QPointF anchor) {
  if (table_ == nullptr || table_->RowCount() == 0 || !(factor > 0)) return;
  const TMapFrame frame = Frame(size());
  const TLonLatBox v = frame.Visible();
  if (factor > 1 && std::min(v.lonMaxDeg - v.lonMinDeg, v.latMaxDeg - v.latMinDeg) < kMinViewDeg) return;
  double lon = 0, lat = 0;
  const QPoint topLeft = MapRect(size()).topLeft();
  frame.ToLonLat({anchor.x() - topLeft.x(), anchor.y() - topLeft.y()}, lon, lat);
  SetView({lon - (lon - v.lonMinDeg) / factor, lon + (v.lonMaxDeg - lon) / factor,
           lat - (lat - v.latMinDeg) / factor, lat + (v.latMaxDeg - lat) / factor});
}

void TResultMap::PanBy(double eastFraction, double northFraction) {
  if (table_ == nullptr || table_->RowCount() == 0) return;
  const TLonLatBox v = Visible();
  const double east = eastFraction * (v.lonMaxDeg - v.lonMinDeg);
  const double north = northFraction * (v.latMaxDeg - v.latMinDeg);
  SetView({v.lonMinDeg + east, v.lonMaxDeg + east, v.latMinDeg + north, v.latMaxDeg + north});
}

void TResultMap::DragBy(QPointF delta) {
  const TMapFrame frame = Frame(size());
  if (!(frame.WidthPx() > 0) || !(frame.HeightPx() > 0)) return;
  // Dragging right brings the west into view: the view moves west.
  PanBy(-delta.x() / frame.WidthPx(), delta.y() / frame.HeightPx());
}

void TResultMap::ResetView() {
  view_.reset();
  reliefImageFor_ = QSize();
  update();
}

QPointF TResultMap::StationPixel(std::size_t row, const TMapFrame& frame, QPoint mapTopLeft) const {
  const TPixelPoint p = frame.ToPixel(table_->At(row, 0), table_->At(row, 1));
  return {mapTopLeft.x() + p.x, mapTopLeft.y() + p.y};
}

QPointF TResultMap::StationPixel(std::size_t row, QSize size) const {
  return StationPixel(row, Frame(size), MapRect(size).topLeft());
}

const QImage& TResultMap::ReliefImage(QSize size) const {
  const QSize mapSize = MapRect(size).size();
  if (reliefImageFor_ == mapSize) return reliefImage_;
  const TMapFrame frame = Frame(size);
  reliefImage_ = QImage(mapSize, QImage::Format_ARGB32_Premultiplied);
  reliefImage_.fill(Qt::transparent);
  const TGridRaster& raster = relief_->raster;
  const TGridRaster shade{raster.width, raster.height, shade_};
  for (int y = 0; y < mapSize.height(); ++y) {
    auto* line = reinterpret_cast<QRgb*>(reliefImage_.scanLine(y));
    for (int x = 0; x < mapSize.width(); ++x) {
      double lon = 0, lat = 0;
      frame.ToLonLat({x + 0.5, y + 0.5}, lon, lat);
      const float s = RasterValueSmooth(shade, relief_->facts, lon, lat);
      if (std::isnan(s)) continue;
      // Light greys only, so that the stations' colours stand out.
      const int g = 150 + int(std::lround(95 * s));
      line[x] = qRgb(g, g, g);
    }
  }
  reliefImageFor_ = mapSize;
  return reliefImage_;
}

void TResultMap::Render(QPainter& painter, QSize size) const {
  painter.save();
  painter.fillRect(QRect(QPoint(0, 0), size), Qt::white);
  if (table_ == nullptr || table_->RowCount() == 0) {
    const QRect m = AreaRect(size);
    painter.fillRect(m, kSeaBackground);
    painter.drawText(m, Qt::AlignCenter, table_ == nullptr ? "No result file" : "No station in the result file");
    painter.restore();
    return;
  }
  const QRect m = MapRect(size);
  painter.fillRect(m, kSeaBackground);
  const TMapFrame frame = Frame(size);
  if (relief_) painter.drawImage(m.topLeft(), ReliefImage(size));
  const TLonLatBox v = frame.Visible();
  if (lattice_ && !latticeImage_.isNull()) {
    // Only the visible part of the image is scaled, so that a deep zoom
    // costs no more than the whole grid: cells of one colour each. Panned
    // past the date line, the grid shows again a turn east or west.
    const TResultLattice& g = *lattice_;
    painter.save();
    painter.setClipRect(m);
    for (double shift : {0.0, 360.0, -360.0}) {
      const double west = g.westDeg - g.lonStepDeg / 2 + shift, north = g.NorthDeg() + g.latStepDeg / 2;
      const double x0 = std::clamp((v.lonMinDeg - west) / g.lonStepDeg, 0.0, double(g.columns));
      const double x1 = std::clamp((v.lonMaxDeg - west) / g.lonStepDeg, 0.0, double(g.columns));
      const double y0 = std::clamp((north - v.latMaxDeg) / g.latStepDeg, 0.0, double(g.rows));
      const double y1 = std::clamp((north - v.latMinDeg) / g.latStepDeg, 0.0, double(g.rows));
      if (!(x1 > x0 && y1 > y0)) continue;
      const TPixelPoint a = frame.ToPixel(west + x0 * g.lonStepDeg, north - y0 * g.latStepDeg);
      const TPixelPoint b = frame.ToPixel(west + x1 * g.lonStepDeg, north - y1 * g.latStepDeg);
      painter.drawImage(QRectF(m.left() + a.x, m.top() + a.y, b.x - a.x, b.y - a.y), latticeImage_,
                        QRectF(x0, y0, x1 - x0, y1 - y0));
    }
    painter.restore();
  }
  if (!coastline_.empty()) {
    painter.save();
    painter.setClipRect(m);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setPen(QPen(kCoastColour, 1.0));
    // A grid may count longitudes from 0 to 360 and the stations from -180
    // to 180: the line is drawn a turn east and west too.
    for (double shift : {0.0, 360.0, -360.0}) {
      for (const TContourLine& line : coastline_) {
        QPolygonF polygon;
        polygon.reserve(qsizetype(line.size()));
        for (const TContourPoint& p : line) {
          const TPixelPoint q = frame.ToPixel(p.lonDeg + shift, p.latDeg);
          polygon << QPointF(m.left() + q.x, m.top() + q.y);
        }
        // A meridian's or parallel's box has no width or height: widened
        // by a pixel, or it would never meet the map.
        if (polygon.boundingRect().adjusted(-1, -1, 1, 1).intersects(QRectF(m))) painter.drawPolyline(polygon);
      }
    }
    painter.restore();
  }

  // Graticule, clipped to the map, its labels outside it.
  const QFontMetrics metrics(painter.font());
  const double stepLon = GraticuleStep(v.lonMaxDeg - v.lonMinDeg, 6);
  const double stepLat = GraticuleStep(v.latMaxDeg - v.latMinDeg, 6);
  painter.setPen(QPen(QColor(120, 120, 120, 140), 0.8, Qt::DashLine));
  // A hair of slack: a map of one whole turn ends on its meridian.
  for (double lon = std::ceil(v.lonMinDeg / stepLon - 1e-9) * stepLon; lon <= v.lonMaxDeg + 1e-9 * stepLon;
       lon += stepLon) {
    const double x = m.left() + frame.ToPixel(lon, 0).x;
    painter.drawLine(QPointF(x, m.top()), QPointF(x, m.bottom()));
    const QString label = QString::fromStdString(DegreeLabel(lon, stepLon, false));
    painter.save();
    painter.setPen(Qt::black);
    painter.drawText(QPointF(x - metrics.horizontalAdvance(label) / 2.0, m.bottom() + 4 + metrics.ascent()), label);
    painter.restore();
  }
  // No parallel beyond the poles.
  int widestLatLabel = 0;  // pixels
  for (double lat = std::ceil(std::max(v.latMinDeg, -90.0) / stepLat - 1e-9) * stepLat;
       lat <= std::min(v.latMaxDeg, 90.0) + 1e-9 * stepLat; lat += stepLat) {
    const double y = m.top() + frame.ToPixel(0, lat).y;
    painter.drawLine(QPointF(m.left(), y), QPointF(m.right(), y));
    const QString label = QString::fromStdString(DegreeLabel(lat, stepLat, true));
    painter.save();
    painter.setPen(Qt::black);
    painter.drawText(QPointF(m.left() - 4 - metrics.horizontalAdvance(label), y + metrics.ascent() / 2.0), label);
    painter.restore();
    widestLatLabel = std::max(widestLatLabel, metrics.horizontalAdvance(label));
  }
  painter.save();
  painter.setPen(Qt::black);
  const QString lonTitle = "Longitude", latTitle = "Latitude";
  painter.drawText(QPointF(m.center().x() - metrics.horizontalAdvance(lonTitle) / 2.0,
                           m.bottom() + 6 + metrics.height() + metrics.ascent()),
                   lonTitle);
  painter.translate(m.left() - 8 - widestLatLabel - metrics.descent(), m.center().y());
  painter.rotate(-90);
  painter.drawText(QPointF(-metrics.horizontalAdvance(latTitle) / 2.0, 0), latTitle);
  painter.restore();
  painter.setPen(QPen(Qt::darkGray, 1));
  painter.drawRect(m);

  // Stations: the coloured discs, then the highlighted one on top.
  painter.setRenderHint(QPainter::Antialiasing, true);
  painter.setClipRect(m);
  painter.setPen(QPen(QColor(40, 40, 40), 0.8));
  // A grid's nodes are its image's cells: no disc over them.
  for (std::size_t r = 0; !lattice_ && r < table_->RowCount(); ++r) {
    painter.setBrush(ToQColor(ColourOf(scale_, table_->At(r, column_))));
    painter.drawEllipse(StationPixel(r, frame, m.topLeft()), kStationRadiusPx, kStationRadiusPx);
  }
  if (highlight_ && *highlight_ < table_->RowCount()) {
    const QPointF p = StationPixel(*highlight_, frame, m.topLeft());
    painter.setBrush(ToQColor(ColourOf(scale_, table_->At(*highlight_, column_))));
    painter.setPen(QPen(Qt::black, 2.5));
    painter.drawEllipse(p, kHighlightRadiusPx, kHighlightRadiusPx);
    painter.setPen(QPen(Qt::white, 1.2));
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(p, kHighlightRadiusPx + 2, kHighlightRadiusPx + 2);
  }
  painter.setClipping(false);
  painter.setRenderHint(QPainter::Antialiasing, false);

  // Colour bar: maximum at the top, minimum at the bottom.
  // Beside the map, over the whole height of its room.
  const QRect area = AreaRect(size);
  const int barLeft = m.right() + 18;
  const int barTop = area.top() + metrics.height() * 2 + 8;
  const int barHeight = std::max(area.height() - (barTop - area.top()) - metrics.height(), 10);
  painter.setPen(Qt::black);
  painter.drawText(QRect(m.right() + 6, area.top(), kBarAreaPx - 8, metrics.height() * 2 + 4),
                   Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, BarTitle());
  for (int y = 0; y < barHeight; ++y) {
    const double t = barHeight > 1 ? 1 - double(y) / (barHeight - 1) : 0.5;
    const double value = scale_.minValue + t * (scale_.maxValue - scale_.minValue);
    painter.setPen(ToQColor(ColourOf(scale_, value)));
    painter.drawLine(barLeft, barTop + y, barLeft + kBarWidthPx - 1, barTop + y);
  }
  painter.setPen(Qt::black);
  painter.setBrush(Qt::NoBrush);
  painter.drawRect(barLeft, barTop, kBarWidthPx - 1, barHeight - 1);
  const int labelLeft = barLeft + kBarWidthPx + 4;
  painter.drawText(QPointF(labelLeft, barTop + metrics.ascent() / 2.0), BarMaxLabel());
  painter.drawText(QPointF(labelLeft, barTop + barHeight - 1 + metrics.ascent() / 2.0), BarMinLabel());
  if (scale_.diverging) {
    // Zero's place on the bar, where the diverging map is grey.
    const double t = (0 - scale_.minValue) / (scale_.maxValue - scale_.minValue);
    const int y = barTop + int(std::lround((1 - t) * (barHeight - 1)));
    painter.drawLine(barLeft + kBarWidthPx, y, barLeft + kBarWidthPx + 3, y);
    if (y - barTop > metrics.height() && barTop + barHeight - y > metrics.height())
      painter.drawText(QPointF(labelLeft, y + metrics.ascent() / 2.0), "0");
  }
  painter.restore();
}

QString TResultMap::BarTitle() const {
  if (table_ == nullptr || column_ >= table_->columns.size()) return {};
  const TResultColumn& c = table_->columns[column_];
  return QString::fromStdString(c.unit.empty() ? c.name : c.name + " [" + c.unit + "]");
}

QString TResultMap::BarMaxLabel() const {
  if (table_ == nullptr || column_ >= table_->columns.size()) return {};
  return QString::fromStdString(CFormat("%.*f", table_->columns[column_].decimals, scale_.maxValue));
}

QString TResultMap::BarMinLabel() const {
  if (table_ == nullptr || column_ >= table_->columns.size()) return {};
  return QString::fromStdString(CFormat("%.*f", table_->columns[column_].decimals, scale_.minValue));
}

std::optional<std::size_t> TResultMap::StationAt(QPointF p, double radiusPx) const {
  if (table_ == nullptr) return std::nullopt;
  if (lattice_) {
    if (!QRectF(MapRect(size())).contains(p)) return std::nullopt;
    const TMapFrame frame = Frame(size());
    const QPoint topLeft = MapRect(size()).topLeft();
    double lon = 0, lat = 0;
    frame.ToLonLat({p.x() - topLeft.x(), p.y() - topLeft.y()}, lon, lat);
    // The grid repeated a turn east or west, as drawn.
    for (double shift : {0.0, 360.0, -360.0})
      if (const auto row = lattice_->RowAt(lon - shift, lat)) return row;
    return std::nullopt;
  }
  std::optional<std::size_t> best;
  double bestSq = radiusPx * radiusPx;
  const TMapFrame frame = Frame(size());
  const QPoint topLeft = MapRect(size()).topLeft();
  for (std::size_t r = 0; r < table_->RowCount(); ++r) {
    const QPointF d = StationPixel(r, frame, topLeft) - p;
    const double sq = d.x() * d.x() + d.y() * d.y();
    if (sq <= bestSq) bestSq = sq, best = r;
  }
  return best;
}

QString TResultMap::StationText(std::size_t row) const {
  if (table_ == nullptr || row >= table_->RowCount()) return {};
  QStringList lines;
  lines << QString::fromStdString("Point " + table_->ValueText(row, 2));
  lines << QString::fromStdString("Lambda " + table_->ValueText(row, 0) + " deg, Fi " +
                                  table_->ValueText(row, 1) + " deg");
  lines << QString::fromStdString("Height " + table_->ValueText(row, 3) + " m");
  for (std::size_t c = 4; c < table_->columns.size(); ++c) {
    const TResultColumn& col = table_->columns[c];
    lines << QString::fromStdString(col.name + " " + table_->ValueText(row, c) + " " + col.unit);
  }
  return lines.join('\n');
}

void TResultMap::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  Render(painter, size());
}

void TResultMap::mouseMoveEvent(QMouseEvent* event) {
  if (pressedAt_ && (event->buttons() & Qt::LeftButton)) {
    const QPointF at = event->position();
    if (!dragging_ && QLineF(*pressedAt_, at).length() >= kDragStartPx) dragging_ = true;
    if (dragging_) {
      QToolTip::hideText();
      DragBy(at - lastDragAt_);
      lastDragAt_ = at;
      event->accept();
      return;
    }
  }
  const auto row = StationAt(event->position());
  if (row)
    QToolTip::showText(event->globalPosition().toPoint(), StationText(*row), this);
  else
    QToolTip::hideText();
  QWidget::mouseMoveEvent(event);
}

void TResultMap::wheelEvent(QWheelEvent* event) {
  const double notches = event->angleDelta().y() / 120.0;
  if (notches != 0) ZoomBy(std::pow(kZoomStep, notches), event->position());
  event->accept();
}

void TResultMap::keyPressEvent(QKeyEvent* event) {
  const QPointF centre = QRectF(MapRect(size())).center();
  switch (event->key()) {
    case Qt::Key_Plus:
    case Qt::Key_Equal: ZoomBy(kZoomStep, centre); break;
    case Qt::Key_Minus: ZoomBy(1 / kZoomStep, centre); break;
    case Qt::Key_Left: PanBy(-kPanStep, 0); break;
    case Qt::Key_Right: PanBy(kPanStep, 0); break;
    case Qt::Key_Up: PanBy(0, kPanStep); break;
    case Qt::Key_Down: PanBy(0, -kPanStep); break;
    case Qt::Key_Home:
    case Qt::Key_0: ResetView(); break;
    default: QWidget::keyPressEvent(event); return;
  }
  event->accept();
}

void TResultMap::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) {
    pressedAt_ = lastDragAt_ = event->position();
    dragging_ = false;
  }
  QWidget::mousePressEvent(event);
}

void TResultMap::mouseReleaseEvent(QMouseEvent* event) {
  // A press released where it began picks the station; a drag only pans.
  if (event->button() == Qt::LeftButton && pressedAt_ && !dragging_)
    if (const auto row = StationAt(*pressedAt_); row && onStationClicked) onStationClicked(*row);
  if (event->button() == Qt::LeftButton) pressedAt_.reset(), dragging_ = false;
  QWidget::mouseReleaseEvent(event);
}

}  // namespace globelayers

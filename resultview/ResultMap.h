// The result map: the stations of a result file on an equirectangular map,
// coloured by one column, over the shaded relief of the first layer's top
// grid and its 0 m line (land and sea), with a graticule labelled in
// degrees and a colour bar. Stations that form a regular grid (a run over
// a grid of points) are drawn as an image of cells. The same Render draws
// the widget, the PNG and the SVG.
#pragma once

#include <QImage>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "ColourMap.h"
#include "GridContour.h"
#include "GridPicture.h"
#include "MapProjection.h"
#include "ResultFileReader.h"
#include "ResultLattice.h"

namespace globelayers {

class TResultMap : public QWidget {
 public:
  explicit TResultMap(QWidget* parent);

  // `table` must outlive its use here; nullptr shows an empty map.
  void SetTable(const TResultTable* table, std::size_t column);
  void SetColumn(std::size_t column);
  std::size_t Column() const { return column_; }
  // The grid drawn under the stations as shaded relief; nullptr for none.
  void SetRelief(std::shared_ptr<const TGridPicture> relief);
  bool HasRelief() const { return relief_ != nullptr; }
  // The coast drawn over the map, degrees of longitude and latitude as the
  // relief grid counts them; empty for none.
  void SetCoastline(std::vector<TContourLine> lines);
  const std::vector<TContourLine>& Coastline() const { return coastline_; }
  // The grid the stations form, when they form one: the map then shows
  // its cells as an image.
  const std::optional<TResultLattice>& Lattice() const { return lattice_; }
  // The station drawn larger and ringed; none when empty.
  void SetHighlight(std::optional<std::size_t> row);
  std::optional<std::size_t> Highlight() const { return highlight_; }

  // Draws the whole map into `size` pixels.
  void Render(QPainter& painter, QSize size) const;
  // Where the station of `row` sits when the map is drawn into `size`.
  QPointF StationPixel(std::size_t row, QSize size) const;
  // The colour scale of the column shown, over its minimum and maximum.
  TColourScale Scale() const { return scale_; }
  // The colour bar's title and its end labels, top (maximum) and bottom
  // (minimum).
  QString BarTitle() const;
  QString BarMaxLabel() const;
  QString BarMinLabel() const;
  // The nearest station within `radiusPx` of `p` (widget pixels); on a
  // grid's image, the node whose cell is under `p`.
  std::optional<std::size_t> StationAt(QPointF p, double radiusPx = 8) const;

  // The part of the earth the widget shows at its present size.
  TLonLatBox Visible() const;
  // Zooms by `factor` (above 1 nearer) keeping the place under `anchor`
  // (widget pixels) where it is; pans by fractions of the width and
  // height shown (positive east and north); resets to all the stations.
  void ZoomBy(double factor, QPointF anchor);
  void PanBy(double eastFraction, double northFraction);
  // Pans as a drag of the mouse by `delta` widget pixels does: the place
  // under the pointer follows it.
  void DragBy(QPointF delta);
  void ResetView();
  bool IsZoomed() const { return view_.has_value(); }

  // Every value of a station's line, for its tooltip.
  QString StationText(std::size_t row) const;

  // Called with the row of a station that is clicked.
  std::function<void(std::size_t)> onStationClicked;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  // The room for the map within `size`, and the part of it the map takes
  // (all of it unless the map would reach beyond a pole or a turn).
  QRect AreaRect(QSize size) const;
  QRect MapRect(QSize size) const;
  TMapFrame Frame(QSize size) const;
  // The relief under the map drawn into `size`, made again only when the
  // size or the relief changes.
  const QImage& ReliefImage(QSize size) const;
  QPointF StationPixel(std::size_t row, const TMapFrame& frame, QPoint mapTopLeft) const;

  const TResultTable* table_ = nullptr;
  std::size_t column_ = 0;
  TColourScale scale_;
  TLonLatBox box_;
  // The area asked for by zooming and panning, degrees; none shows the
  // stations with their margin.
  std::optional<TLonLatBox> view_;
  void SetView(const TLonLatBox& view);
  std::shared_ptr<const TGridPicture> relief_;
  std::vector<float> shade_;  // ShadeRelief of relief_'s raster
  mutable QImage reliefImage_;
  mutable QSize reliefImageFor_;  // the map size reliefImage_ was made for
  std::optional<std::size_t> highlight_;
  std::optional<TResultLattice> lattice_;
  QImage latticeImage_;  // the grid's cells in the column's colours, north up
  std::vector<TContourLine> coastline_;
  // A press of the left button: where, and whether it has become a drag.
  std::optional<QPointF> pressedAt_;
  QPointF lastDragAt_;
  bool dragging_ = false;
};

}  // namespace globelayers

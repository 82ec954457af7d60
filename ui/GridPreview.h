// A small picture of a grid file beside the field that names it: the grid
// north up in the sequential colour map, blanks in a neutral grey, and its
// facts (extent, node counts, spacing, min and max, share of blanks) beside
// it. Grids are read by the readers of a run, once per file and
// modification time (SharedGridPictures); what they would report is shown
// in place of the facts.
#pragma once

#include <QImage>
#include <QStringList>
#include <QWidget>

#include <memory>
#include <string>

#include "GridPicture.h"

class QLabel;

namespace globelayers {

// The cache every window shares.
TGridPictureCache& SharedGridPictures();

// The raster scaled to `size` pixels (nearest cell), coloured from its
// minimum to its maximum; blanks in kBlankColour.
QImage GridRasterImage(const TGridRaster& raster, const TGridFacts& facts, QSize size);

// The facts of `fileName`, or what the readers said, as a tooltip text.
QString GridToolTip(const std::string& fileName);

class TGridPreview : public QWidget {
 public:
  explicit TGridPreview(QWidget* parent);
  // Reads (or takes from the cache) and shows `fileName`; an empty name
  // shows nothing.
  void ShowGrid(const QString& fileName);
  // A cell's list of grids, finest first: grid `shown` of `fileNames` as
  // ShowGrid shows it, with the extent of every other grid of the list
  // outlined over it (kOutlineColour; the part inside its picture), so that
  // one picture tells where each grid takes over. The caption starts with
  // "Grid 2 of 3, others outlined". A list of one name is ShowGrid.
  void ShowGridList(const QStringList& fileNames, int shown);
  const QString& FileName() const { return fileName_; }
  // The picture as drawn, and the text beside it.
  QImage Picture() const { return picture_; }
  QString Caption() const;

  static constexpr int kPictureSidePx = 72;
  // The outlines of the other grids of a list: white with a black line
  // beside it, seen on every colour of the maps.
  static constexpr QRgb kOutlineColour = 0xffffffff;

 private:
  QString fileName_;
  QImage picture_;
  QLabel* image_ = nullptr;
  QLabel* facts_ = nullptr;
};

}  // namespace globelayers

// The result of a run over a grid of points as rasters beside its text
// file: a CF netCDF file always, a GeoTIFF on request. They are fed the
// text file's lines, so they hold its numbers to the printed digit, and
// they write row by row: one row of the grid is held, whatever its size.
// Each is written under a temporary name beside its final one and put in
// place only when the run completed; a run that ends otherwise leaves no
// raster and an earlier one as it was.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "FileReplacement.h"
#include "PointGrid.h"
#include "RasterWriter.h"
#include "ResultFile.h"

namespace globelayers {

struct TRunParameters;  // Calculation.h

// The name of a raster beside the text result `textResultName`
// ("map_dce.dat" gives "map_dce.nc" with ".nc"): its extension replaced.
std::string RasterFileName(const std::string& textResultName, const std::string& extension);

// The quantities of a result layout, in the text file's column order after
// the point's four values: per layer (when the layout has layers) DTE,
// DTE(i) and VGDRE, then the sums; DTE(i) and VGDRE only with a gradient.
std::vector<TRasterQuantity> ResultQuantities(const TResultLayout& layout, bool microGal);

class TResultRasters {
 public:
  TResultRasters() = default;
  ~TResultRasters();  // a raster not put in place is removed
  TResultRasters(const TResultRasters&) = delete;
  TResultRasters& operator=(const TResultRasters&) = delete;

  // Creates the rasters of the run `params` over its grid of points beside
  // `textResultName`. False with `message` naming the file.
  bool Open(const TRunParameters& params, const std::string& textResultName, std::string& message);
  // The text line of the next node, as the text file holds it.
  bool Take(const std::string& line, std::string& message);
  // Closes the rasters and puts them in place; false with `message`.
  bool PutInPlace(std::string& message);

 private:
  struct TRaster {
    TFileReplacement file;
    TRasterWriter writer;
    bool open = false;
  };
  std::vector<std::unique_ptr<TRaster>> rasters_;
  TPointGrid grid_;
  std::size_t quantities_ = 0;
  std::int64_t columns_ = 0;
  std::int64_t next_ = 0;      // index of the next node
  std::vector<double> row_;    // the row in progress, quantity by quantity
};

}  // namespace globelayers

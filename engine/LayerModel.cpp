#include "LayerModel.h"

#include <cmath>
#include <vector>

#include "NumberText.h"

namespace globelayers {
namespace {

constexpr char kEmptyCell[] = "@";

const std::string& Cell(const std::vector<std::string>& cells, int index) {
  if (index >= static_cast<int>(cells.size())) {
    throw TListIndexError(CFormat("List index out of bounds (%d)", index));
  }
  return cells[index];
}

double ParseConstant(const std::string& cell, char decimalSeparator) {
  double value = 0;
  if (!TextToFloat(cell, decimalSeparator, value)) {
    throw TConversionError(FormatMessage("'%s' is not a valid floating point value", cell));
  }
  return value;
}

// The grid is attached before it is loaded, so a failed load stays with its
// row and is released with the others at the end of the run.
bool AttachAndLoad(std::unique_ptr<TGridImports>& slot, const std::string& path,
                   IUserPrompts& prompts) {
  slot = std::make_unique<TGridImports>();
  return LoadGrid(*slot, path, prompts);
}

}  // namespace

std::vector<std::string> SplitLayerRow(const std::string& text) {
  std::vector<std::string> cells;
  std::size_t start = 0;
  for (;;) {
    const std::size_t semi = text.find(';', start);
    if (semi == std::string::npos) {
      cells.push_back(text.substr(start));
      return cells;
    }
    cells.push_back(text.substr(start, semi - start));
    start = semi + 1;
  }
}

bool SetupLayerRow(TLayerModel& model, int k, const std::string& rowText, char decimalSeparator,
                   IUserPrompts& prompts) {
  TLayerDef& row = model.at(static_cast<std::size_t>(k));
  const std::vector<std::string> cells = SplitLayerRow(rowText);

  const std::string& elevation = Cell(cells, 0);
  if (elevation != kEmptyCell) {
    row.elevation = ParseConstant(elevation, decimalSeparator);
    row.elevationGrid.reset();
  }
  const std::string& elevationGrid = Cell(cells, 1);
  if (elevationGrid != kEmptyCell) {
    if (!AttachAndLoad(row.elevationGrid, elevationGrid, prompts)) return false;
    row.elevation = NoValue;
  }
  const std::string& density = Cell(cells, 2);
  if (density == kEmptyCell) {
    row.density = NoValue;
  } else {
    row.density = ParseConstant(density, decimalSeparator);
  }
  row.densityGrid.reset();
  const std::string& densityGrid = Cell(cells, 3);
  if (densityGrid != kEmptyCell) {
    if (!AttachAndLoad(row.densityGrid, densityGrid, prompts)) return false;
    row.density = NoValue;
  }
  return true;
}

void ReleaseGrids(TLayerModel& model, int rowCount) {
  for (int k = 0; k < rowCount && k < MaxLayerRows; ++k) {
    model[k].elevationGrid.reset();
    model[k].densityGrid.reset();
  }
}

double SampleGrid(const TGridImports& g, double lambdaDeg, double phiDeg) {
  constexpr double kToDeg = 1.0 / 3600;
  constexpr double kBlankFrom = 1e38;  // a node at or above it is blank
  const double X = lambdaDeg * 3600;
  const double Y = phiDeg * 3600;
  const double X0 = g.xMin * 3600;
  const double Y0 = g.yMin * 3600;
  const double dX = g.xStep * 3600;
  const double dY = g.yStep * 3600;

  // Cell index: floor of the quotient, then clamped into the grid. Testing
  // the double before converting keeps huge or NaN quotients defined.
  const auto cellIndex = [](double quotient, int count) {
    const double q = std::floor(quotient);
    if (!(q > 0)) return 0;  // negative, zero, or not a number
    if (q >= count - 1) return count - 2;
    return static_cast<int>(q);
  };
  const int ix = cellIndex((X - X0) / dX, g.nx);
  const int iy = cellIndex((Y - Y0) / dY, g.ny);

  const double xa = (X0 + ix * dX) * kToDeg;
  const double xb = (X0 + (ix + 1) * dX) * kToDeg;
  const double ya = (Y0 + iy * dY) * kToDeg;
  const double yb = (Y0 + (iy + 1) * dY) * kToDeg;
  const double lambda1 = X * kToDeg;
  const double phi1 = Y * kToDeg;
  // Weights are not clamped: outside the grid the edge cell extrapolates.
  const double t = (lambda1 - xa) / (xb - xa);
  const double u = (phi1 - ya) / (yb - ya);

  const double v00 = g.at(ix, iy);
  const double v10 = g.at(ix + 1, iy);
  const double v11 = g.at(ix + 1, iy + 1);
  const double v01 = g.at(ix, iy + 1);
  const double w00 = (1 - t) * (1 - u);
  const double w10 = t * (1 - u);
  const double w11 = t * u;
  const double w01 = (1 - t) * u;
  // A blank node that takes part in the sample makes the sample blank: a
  // weighted share of the marker would pass for a real elevation or density.
  if ((v00 >= kBlankFrom && w00 != 0) || (v10 >= kBlankFrom && w10 != 0) ||
      (v11 >= kBlankFrom && w11 != 0) || (v01 >= kBlankFrom && w01 != 0)) {
    return kBlankSample;
  }
  return w00 * v00 + w10 * v10 + w11 * v11 + w01 * v01;
}

}  // namespace globelayers

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
                   IUserPrompts& prompts, const TGridLoader& loadGrid) {
  slot = std::make_unique<TGridImports>();
  return loadGrid ? loadGrid(*slot, path, prompts) : LoadGrid(*slot, path, prompts);
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
                   IUserPrompts& prompts, const TGridLoader& loadGrid) {
  TLayerDef& row = model.at(static_cast<std::size_t>(k));
  const std::vector<std::string> cells = SplitLayerRow(rowText);

  const std::string& elevation = Cell(cells, 0);
  if (elevation != kEmptyCell) {
    row.elevation = ParseConstant(elevation, decimalSeparator);
    row.elevationGrid.reset();
  }
  const std::string& elevationGrid = Cell(cells, 1);
  if (elevationGrid != kEmptyCell) {
    if (!AttachAndLoad(row.elevationGrid, elevationGrid, prompts, loadGrid)) return false;
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
    if (!AttachAndLoad(row.densityGrid, densityGrid, prompts, loadGrid)) return false;
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

}  // namespace globelayers

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

TLayerRow LayerRowFromText(const std::string& rowText, char decimalSeparator) {
  const std::vector<std::string> cells = SplitLayerRow(rowText);
  TLayerRow row;
  // Cells are read in table order, so a missing cell is named as before.
  if (const std::string& elevation = Cell(cells, 0); elevation != kEmptyCell) {
    row.elevation.constant = ParseConstant(elevation, decimalSeparator);
  }
  if (const std::string& grid = Cell(cells, 1); grid != kEmptyCell) row.elevation.grids.push_back({grid});
  if (const std::string& density = Cell(cells, 2); density != kEmptyCell) {
    row.density.constant = ParseConstant(density, decimalSeparator);
  }
  if (const std::string& grid = Cell(cells, 3); grid != kEmptyCell) row.density.grids.push_back({grid});
  return row;
}

bool SetupLayerRow(TLayerModel& model, int k, const TLayerRow& row, IUserPrompts& prompts,
                   const TGridLoader& loadGrid) {
  TLayerDef& def = model.at(static_cast<std::size_t>(k));
  if (row.elevation.constant) {
    def.elevation = *row.elevation.constant;
    def.elevationGrid.reset();
  }
  // One grid per value for now: the first of the list.
  if (!row.elevation.grids.empty()) {
    if (!AttachAndLoad(def.elevationGrid, row.elevation.grids.front().path, prompts, loadGrid)) return false;
    def.elevation = NoValue;
  }
  def.density = row.density.constant.value_or(NoValue);
  def.densityGrid.reset();
  if (!row.density.grids.empty()) {
    if (!AttachAndLoad(def.densityGrid, row.density.grids.front().path, prompts, loadGrid)) return false;
    def.density = NoValue;
  }
  return true;
}

bool SetupLayerRow(TLayerModel& model, int k, const std::string& rowText, char decimalSeparator,
                   IUserPrompts& prompts, const TGridLoader& loadGrid) {
  return SetupLayerRow(model, k, LayerRowFromText(rowText, decimalSeparator), prompts, loadGrid);
}

void ReleaseGrids(TLayerModel& model, int rowCount) {
  for (int k = 0; k < rowCount && k < MaxLayerRows; ++k) {
    model[k].elevationGrid.reset();
    model[k].densityGrid.reset();
  }
}

}  // namespace globelayers

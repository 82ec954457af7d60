#include "LayerRowText.h"

#include "NumberText.h"
#include "RunSetup.h"

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

std::vector<TGridReference> ParseGridList(const std::string& cell) {
  std::vector<TGridReference> grids;
  if (!GridListFromCell(cell, grids)) throw TConversionError(GridListFault(cell));
  return grids;
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
  if (const std::string& grid = Cell(cells, 1); grid != kEmptyCell) row.elevation.grids = ParseGridList(grid);
  if (const std::string& density = Cell(cells, 2); density != kEmptyCell) {
    row.density.constant = ParseConstant(density, decimalSeparator);
  }
  if (const std::string& grid = Cell(cells, 3); grid != kEmptyCell) row.density.grids = ParseGridList(grid);
  return row;
}

std::vector<TLayerRow> LayerRowsFromTexts(const std::vector<std::string>& rowTexts, char decimalSeparator) {
  std::vector<TLayerRow> rows;
  rows.reserve(rowTexts.size());
  for (const std::string& text : rowTexts) rows.push_back(LayerRowFromText(text, decimalSeparator));
  return rows;
}

bool SetupLayerRow(TLayerModel& model, int k, const std::string& rowText, char decimalSeparator,
                   IUserPrompts& prompts, const TGridLoader& loadGrid) {
  return SetupLayerRow(model, k, LayerRowFromText(rowText, decimalSeparator), prompts, loadGrid);
}

}  // namespace globelayers

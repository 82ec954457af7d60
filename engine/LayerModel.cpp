#include "LayerModel.h"

#include <vector>

namespace globelayers {
namespace {

// The grid is attached before it is loaded, so a failed load stays with its
// row and is released with the others at the end of the run.
bool AttachAndLoad(std::unique_ptr<TGridImports>& slot, const std::string& path,
                   IUserPrompts& prompts, const TGridLoader& loadGrid) {
  slot = std::make_unique<TGridImports>();
  return loadGrid ? loadGrid(*slot, path, prompts) : LoadGrid(*slot, path, prompts);
}

}  // namespace

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

void ReleaseGrids(TLayerModel& model, int rowCount) {
  for (int k = 0; k < rowCount && k < MaxLayerRows; ++k) {
    model[k].elevationGrid.reset();
    model[k].densityGrid.reset();
  }
}

}  // namespace globelayers

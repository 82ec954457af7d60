#include "LayerModel.h"

#include <vector>

namespace globelayers {
namespace {

// The grid is attached before it is loaded, so a failed load stays with its
// row and is released with the others at the end of the run.
bool AttachAndLoad(std::unique_ptr<TGridImports>& slot, const std::string& path, IUserPrompts& prompts,
                   const TGridLoader& loadGrid, const TGridWindowPlan& plan) {
  slot = std::make_unique<TGridImports>();
  if (loadGrid) return loadGrid(*slot, path, prompts);
  TWindowChooser choose;
  if (plan) choose = [&plan, &path](const TGridImports& geometry) { return plan(path, geometry); };
  return LoadGridWindow(*slot, path, prompts, choose).fault == TGridFault::kNone;
}

// Every grid of a list, in order: the first into `first`, the others into
// `more`; stops at the first that fails.
bool AttachAndLoadList(std::unique_ptr<TGridImports>& first, TGridTail& more,
                       const std::vector<TGridReference>& grids, IUserPrompts& prompts,
                       const TGridLoader& loadGrid, const TGridWindowPlan& choose) {
  more.clear();
  if (!AttachAndLoad(first, grids.front().path, prompts, loadGrid, choose)) return false;
  for (std::size_t n = 1; n < grids.size(); ++n) {
    if (!AttachAndLoad(more.emplace_back(), grids[n].path, prompts, loadGrid, choose)) return false;
  }
  return true;
}

}  // namespace

bool SetupLayerRow(TLayerModel& model, int k, const TLayerRow& row, IUserPrompts& prompts,
                   const TGridLoader& loadGrid, const TGridWindowPlan& choose) {
  TLayerDef& def = model.at(static_cast<std::size_t>(k));
  if (row.elevation.constant) {
    def.elevation = *row.elevation.constant;
    def.elevationGrid.reset();
    def.elevationMore.clear();
  }
  if (!row.elevation.grids.empty()) {
    if (!AttachAndLoadList(def.elevationGrid, def.elevationMore, row.elevation.grids, prompts, loadGrid, choose)) {
      return false;
    }
    def.elevation = NoValue;
  }
  def.density = row.density.constant.value_or(NoValue);
  def.densityGrid.reset();
  def.densityMore.clear();
  if (!row.density.grids.empty()) {
    if (!AttachAndLoadList(def.densityGrid, def.densityMore, row.density.grids, prompts, loadGrid, choose))
      return false;
    def.density = NoValue;
  }
  return true;
}

void ReleaseGrids(TLayerModel& model, int rowCount) {
  for (int k = 0; k < rowCount && k < MaxLayerRows; ++k) {
    model[k].elevationGrid.reset();
    model[k].elevationMore.clear();
    model[k].densityGrid.reset();
    model[k].densityMore.clear();
  }
}

}  // namespace globelayers

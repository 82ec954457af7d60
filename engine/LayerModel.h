// The layer model: one set-up layer row per boundary surface, uppermost
// first. Row k is surface k; layer i is the shell between surfaces i and
// i+1 and takes the density of row i+1. The rows arrive converted
// (TLayerRow): numbers and grid references, no cell texts.
#pragma once

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <memory>
#include <optional>
#include <functional>
#include <string>
#include <vector>

#include "GridImports.h"
#include "GridMeans.h"
#include "GridSampler.h"
#include "UserPrompts.h"

namespace globelayers {

// The double nearest to -1e38: marks a constant that is not in use.
inline constexpr double NoValue = std::bit_cast<double>(std::uint64_t{0xC7D2CED32A16A1B1});
inline constexpr int MaxLayerRows = 15;

// The grids of a list after its first, in the list's order (finest first).
using TGridTail = std::vector<std::unique_ptr<TGridImports>>;

struct TLayerDef {
  double elevation = NoValue;                   // metres above sea level, when constant
  std::unique_ptr<TGridImports> elevationGrid;  // or the surface's elevation grid (the first of its list)
  TGridTail elevationMore;                      // the rest of the list; empty for one grid
  double density = NoValue;                     // g/cm3 of the layer above, when constant
  std::unique_ptr<TGridImports> densityGrid;    // or that layer's density grid (the first of its list)
  TGridTail densityMore;                        // the rest of the list; empty for one grid
};

using TLayerModel = std::array<TLayerDef, MaxLayerRows>;

// A grid file that a layer row names, as given (relative paths are taken
// from the current directory).
struct TGridReference {
  std::string path;
  bool operator==(const TGridReference&) const = default;
};

// A boundary or a density of a layer row: a constant, or grids: one, or a
// list, finest first, sampled as SampleGridList says.
struct TLayerValue {
  std::optional<double> constant{};   // metres (boundary) or g/cm3 (density)
  std::vector<TGridReference> grids{};  // in order; when given, they replace the constant
  bool defined() const { return constant.has_value() || !grids.empty(); }
  bool operator==(const TLayerValue&) const = default;
};

// One layer row, converted: surface k and the density of the layer above it.
struct TLayerRow {
  TLayerValue elevation{};  // metres above sea level
  TLayerValue density{};    // g/cm3 of the layer between surfaces k-1 and k (unused in row 0)
  bool operator==(const TLayerRow&) const = default;
};

// Loads one grid file as LoadGrid does (reporting through `prompts`), for a
// caller that keeps grids elsewhere than on this process's heap.
using TGridLoader = std::function<bool(TGridImports& grid, const std::string& fileName, IUserPrompts& prompts)>;

// Loads one grid file as LoadGridWindow does, reading the nodes that
// `choose` picks (every node for an empty chooser), for a caller that keeps
// grids elsewhere than on this process's heap.
using TGridWindowLoader = std::function<bool(TGridImports& grid, const std::string& fileName, IUserPrompts& prompts,
                                             const TWindowChooser& choose)>;

// Picks the nodes of a grid file to read, by its path as the row names it
// and the file's geometry (LoadGridWindow).
using TGridWindowPlan = std::function<TNodeWindow(const std::string& path, const TGridImports& geometry)>;

// Puts row k into model[k] and loads the grids it names (through
// `loadGrid` when given, else LoadGridWindow with the window that `plan`
// picks; every node for an empty plan). Returns false at the first grid
// that fails to load (the reader reported why); the failed grid stays
// attached, unloaded.
bool SetupLayerRow(TLayerModel& model, int k, const TLayerRow& row, IUserPrompts& prompts,
                   const TGridLoader& loadGrid = {}, const TGridWindowPlan& plan = {});

// Releases every grid of rows 0 .. rowCount-1.
void ReleaseGrids(TLayerModel& model, int rowCount);

// Whether a position located in `grid` lies on it: inside its outer node
// lines or on them. Only the outer cells can tell: the cell index comes
// from arc-seconds and the weights from degrees, so a weight of an inner
// cell may stray from 0..1 by a few units in the last place.
inline bool GridHolds(const TGridImports& grid, const TGridCell& c) {
  return (c.ix > 0 || c.t >= 0) && (c.ix < grid.nx - 2 || c.t <= 1) && (c.iy > 0 || c.u >= 0) &&
         (c.iy < grid.ny - 2 || c.u <= 1);
}

// Whether no position of the sphere lies on `grid`: its rows lie beyond a
// pole. A band stands such a grid in for a grid of a list that it does not
// read, so that the list goes on to the next.
inline bool HoldsNothing(const TGridImports& grid) {
  return std::min(grid.yMin, grid.yMax) > 90 || std::max(grid.yMin, grid.yMax) < -90;
}

// A value from a list of grids at (lambda, phi), degrees: from the first
// grid that holds the position with a sample free of blanks (a blank node
// with zero weight takes no part), bilinear on that grid. A position that
// some grids hold, each with a blank in its sample, is blank
// (kBlankMarker). A position that no grid holds is extrapolated from the
// last grid, as a single grid does. A band on block means samples each
// grid's stand-in (ZoneGrid) and asks it whether it holds the position.
// With an empty tail this is SampleGrid on `first`, to the bit.
inline double SampleGridList(const TGridImports& first, const TGridTail& more, const TGridStandIns* standIns,
                             double lambdaDeg, double phiDeg) {
  const TGridImports& head = ZoneGrid(standIns, first);
  if (more.empty()) return SampleGrid(head, lambdaDeg, phiDeg);
  bool held = false;
  for (std::size_t n = 0; n <= more.size(); ++n) {
    const TGridImports& grid = n == 0 ? head : ZoneGrid(standIns, *more[n - 1]);
    const TGridCell c = LocateInGrid(grid, lambdaDeg, phiDeg);
    if (!GridHolds(grid, c)) continue;
    held = true;
    const double value = InterpolateCell(grid, c);
    if (!(value > kBlankThreshold)) return value;
  }
  return held ? double{kBlankMarker} : SampleGrid(ZoneGrid(standIns, *more.back()), lambdaDeg, phiDeg);
}

inline double SampleElevation(const TLayerModel& model, int k, double lambdaDeg, double phiDeg) {
  return SampleGridList(*model[k].elevationGrid, model[k].elevationMore, nullptr, lambdaDeg, phiDeg);
}
inline double SampleDensity(const TLayerModel& model, int k, double lambdaDeg, double phiDeg) {
  return SampleGridList(*model[k].densityGrid, model[k].densityMore, nullptr, lambdaDeg, phiDeg);
}

}  // namespace globelayers

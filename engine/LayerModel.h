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
#include "GridSampler.h"
#include "UserPrompts.h"

namespace globelayers {

// The double nearest to -1e38: marks a constant that is not in use.
inline constexpr double NoValue = std::bit_cast<double>(std::uint64_t{0xC7D2CED32A16A1B1});
inline constexpr int MaxLayerRows = 15;

struct TLayerDef {
  double elevation = NoValue;                   // metres above sea level, when constant
  std::unique_ptr<TGridImports> elevationGrid;  // or the surface's elevation grid
  double density = NoValue;                     // g/cm3 of the layer above, when constant
  std::unique_ptr<TGridImports> densityGrid;    // or that layer's density grid
};

using TLayerModel = std::array<TLayerDef, MaxLayerRows>;

// A grid file that a layer row names, as given (relative paths are taken
// from the current directory).
struct TGridReference {
  std::string path;
  bool operator==(const TGridReference&) const = default;
};

// A boundary or a density of a layer row: a constant, or grids. The grids
// are a list so that a value can later be taken from the first of several
// grids that covers a point; today a row names at most one.
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

// Puts row k into model[k] and loads the grids it names (through
// `loadGrid` when given, else LoadGrid). Returns false at the first grid
// that fails to load (the reader reported why); the failed grid stays
// attached, unloaded.
bool SetupLayerRow(TLayerModel& model, int k, const TLayerRow& row, IUserPrompts& prompts,
                   const TGridLoader& loadGrid = {});

// Releases every grid of rows 0 .. rowCount-1.
void ReleaseGrids(TLayerModel& model, int rowCount);

inline double SampleElevation(const TLayerModel& model, int k, double lambdaDeg, double phiDeg) {
  return SampleGrid(*model[k].elevationGrid, lambdaDeg, phiDeg);
}
inline double SampleDensity(const TLayerModel& model, int k, double lambdaDeg, double phiDeg) {
  return SampleGrid(*model[k].densityGrid, lambdaDeg, phiDeg);
}

}  // namespace globelayers

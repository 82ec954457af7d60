// Geometry completion, its checks, and the allocation of the values: the
// part of TGridImports that every reader uses.
#include "GridChecks.h"

#include <sys/mman.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <stdexcept>

#include "StopRequest.h"

namespace globelayers {
namespace {

bool AxisUsable(double minDeg, double maxDeg, double spacingDeg) {
  return std::fabs(minDeg) <= kMaxNodeDeg && std::fabs(maxDeg) <= kMaxNodeDeg &&
         std::fabs(spacingDeg) >= kMinSpacingDeg;
}

// Asks the kernel for 2 MB pages for the values of a large grid from the
// heap: a gigabyte of them then takes 500 page faults instead of 260,000
// when it is first written, and is given back at once when the run ends,
// where 4 KB pages take about a second per 4 GB (a stopped run waits for
// that before its process can end). Only a hint: without transparent huge
// pages nothing changes.
void AdviseHugePages(std::pmr::vector<float>& values) {
  constexpr std::uintptr_t kHugePage = std::uintptr_t{2} << 20;  // bytes
  if (values.get_allocator().resource() != std::pmr::new_delete_resource()) return;
  const auto begin = reinterpret_cast<std::uintptr_t>(values.data());
  const std::uintptr_t end = begin + values.capacity() * sizeof(float);
  const std::uintptr_t first = (begin + kHugePage - 1) & ~(kHugePage - 1);
  const std::uintptr_t last = end & ~(kHugePage - 1);
  if (last > first) ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
}

}  // namespace

void CompleteStepsFromBounds(TGridImports& grid) {
  grid.xRange = grid.xMax - grid.xMin;
  grid.xStep = grid.xRange / (grid.nx - 1);
  grid.yRange = grid.yMax - grid.yMin;
  grid.yStep = grid.yRange / (grid.ny - 1);
  grid.zRange = grid.zMax - grid.zMin;
}

void CompleteBoundsFromSteps(TGridImports& grid) {
  grid.xRange = (grid.nx - 1) * grid.xStep;
  grid.xMax = grid.xMin + grid.xRange;
  grid.yRange = (grid.ny - 1) * grid.yStep;
  grid.yMax = grid.yMin + grid.yRange;
  grid.zRange = grid.zMax - grid.zMin;
}

namespace {

// One axis of a window: first node and count within 0 .. count - 1, at
// least 2 nodes (the sampler's cell).
void CutAxis(std::int32_t& first, std::int32_t& length, std::int32_t count) {
  const std::int64_t from = std::clamp<std::int64_t>(first, 0, count - 2);
  const std::int64_t to = std::clamp<std::int64_t>(std::int64_t(first) + std::max<std::int32_t>(length, 0) - 1,
                                                   from + 1, count - 1);
  first = std::int32_t(from);
  length = std::int32_t(to - from + 1);
}

}  // namespace

TNodeWindow ChosenWindow(const TGridImports& geometry, const TWindowChooser* choose) {
  TNodeWindow whole{.column0 = 0, .columns = geometry.nx, .row0 = 0, .rows = geometry.ny};
  if (choose == nullptr || !*choose) return whole;
  TNodeWindow window = (*choose)(geometry);
  CutAxis(window.column0, window.columns, geometry.nx);
  CutAxis(window.row0, window.rows, geometry.ny);
  return window;
}

void NarrowToWindow(TGridImports& grid, const TNodeWindow& window) {
  grid.fileXMin = grid.xMin;
  grid.fileYMin = grid.yMin;
  grid.fileNx = grid.nx;
  grid.fileNy = grid.ny;
  grid.column0 = window.column0;
  grid.row0 = window.row0;
  grid.nx = window.columns;
  grid.ny = window.rows;
  grid.xMin = grid.fileXMin + window.column0 * grid.xStep;
  grid.yMin = grid.fileYMin + window.row0 * grid.yStep;
  CompleteBoundsFromSteps(grid);
}

// A spacing may be negative (nodes from east to west or north to south):
// the sampler takes either. z bounds describe the grid only and are taken
// as they come.
bool GeometryUsable(const TGridImports& grid) {
  for (const double v : {grid.xMin, grid.xMax, grid.xRange, grid.xStep, grid.yMin, grid.yMax,
                         grid.yRange, grid.yStep})
    if (!std::isfinite(v)) return false;
  return AxisUsable(grid.xMin, grid.xMax, grid.xStep) && AxisUsable(grid.yMin, grid.yMax, grid.yStep);
}

void AllocateValues(TGridImports& grid) {
  if (grid.nx <= 0 || grid.ny <= 0) {
    grid.values.clear();
    return;
  }
  // Zeroed a block at a time: first touching a gigabyte of pages takes
  // seconds, and a stop request must not wait for all of them.
  constexpr std::size_t kBlockFloats = std::size_t{4} << 20;  // floats zeroed between two looks at a stop
  const std::size_t count = std::size_t(grid.nx) * std::size_t(grid.ny);
  grid.values.clear();
  grid.values.reserve(count);
  AdviseHugePages(grid.values);
  while (grid.values.size() < count) {
    if (LongStepStopRequested()) {
      grid.values.clear();
      grid.values.shrink_to_fit();
      throw std::runtime_error("the run was stopped while memory for the grid was taken");
    }
    grid.values.resize(std::min(count, grid.values.size() + kBlockFloats), 0.0f);
  }
}

void StepsFromBounds(TGridImports& grid) {
  CompleteStepsFromBounds(grid);
  AllocateValues(grid);
}

void BoundsFromSteps(TGridImports& grid) {
  CompleteBoundsFromSteps(grid);
  AllocateValues(grid);
}

}  // namespace globelayers

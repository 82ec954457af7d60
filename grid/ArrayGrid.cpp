#include "ArrayGrid.h"

#include <cmath>

#include "GridChecks.h"
#include "GridValues.h"
#include "NumberText.h"

namespace globelayers {

std::optional<std::string> LoadArrayGrid(TGridImports& grid, const TArrayGridValues& a, const std::string& name) {
  grid.fileFormat = TGridFormat::kNone;
  if (a.nx < 2 || a.ny < 2 || a.nx > kMaxArrayNodes || a.ny > kMaxArrayNodes) {
    return CFormat("Grid %s has %lld x %lld nodes: a grid needs 2 to %lld nodes each way.", name.c_str(),
                   static_cast<long long>(a.nx), static_cast<long long>(a.ny),
                   static_cast<long long>(kMaxArrayNodes));
  }
  if (a.values.size() != static_cast<std::size_t>(a.nx) * static_cast<std::size_t>(a.ny)) {
    return CFormat("Grid %s holds %zu values for %lld x %lld nodes.", name.c_str(), a.values.size(),
                   static_cast<long long>(a.nx), static_cast<long long>(a.ny));
  }
  // Written as negations so that a NaN bound is refused too.
  if (!(std::isfinite(a.xMin) && std::isfinite(a.xMax) && a.xMax > a.xMin) ||
      !(std::isfinite(a.yMin) && std::isfinite(a.yMax) && a.yMax > a.yMin)) {
    return CFormat("Grid %s has longitudes %.17g to %.17g and latitudes %.17g to %.17g: both must be finite and "
                   "increasing.",
                   name.c_str(), a.xMin, a.xMax, a.yMin, a.yMax);
  }
  TGridImports work;
  work.nx = static_cast<std::int32_t>(a.nx);
  work.ny = static_cast<std::int32_t>(a.ny);
  work.xMin = a.xMin;
  work.xMax = a.xMax;
  work.yMin = a.yMin;
  work.yMax = a.yMax;
  CompleteStepsFromBounds(work);
  if (!GeometryUsable(work)) {
    return CFormat("Grid %s has nodes too far apart or too close together (spacing %.17g by %.17g degrees).",
                   name.c_str(), work.xStep, work.yStep);
  }
  AllocateValues(work);
  // Zeroing a large array gives up for a stop request, as a file's load does.
  if (work.values.size() != static_cast<std::size_t>(a.nx) * static_cast<std::size_t>(a.ny)) {
    return CFormat("Grid %s was not loaded: the run is stopping.", name.c_str());
  }
  // Blanks as in a Surfer 6 file: NaN (any value that is no finite float) and
  // Surfer's blank value, for arrays taken from such files.
  TValueDecoder decoder(kSurferBlank, true);
  for (std::int32_t iy = 0; iy < work.ny; ++iy) {
    const double* row = a.values.data() + std::size_t(iy) * std::size_t(work.nx);
    for (std::int32_t ix = 0; ix < work.nx; ++ix) work.at(ix, iy) = decoder.Stored(row[ix]);
  }
  work.blankValue = kSurferBlank;
  work.blankCount = decoder.blanks();
  work.zMin = decoder.zMin();
  work.zMax = decoder.zMax();
  work.zRange = work.zMax - work.zMin;
  work.fileFormat = TGridFormat::kArray;
  grid = std::move(work);
  return std::nullopt;
}

}  // namespace globelayers

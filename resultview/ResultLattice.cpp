#include "ResultLattice.h"

#include <algorithm>
#include <cmath>

namespace globelayers {
namespace {

// Spacing tolerance, share of a step: the file's rounding of the positions
// is far below it, and a scattered set of stations far above.
constexpr double kSpacingTolerance = 0.01;

// The distinct values of `column`, ascending, when they are evenly spaced;
// empty otherwise. `step` receives their spacing.
std::vector<double> EvenValues(const TResultTable& table, std::size_t column, double& step) {
  std::vector<double> v(table.RowCount());
  for (std::size_t r = 0; r < v.size(); ++r) v[r] = table.At(r, column);
  std::sort(v.begin(), v.end());
  v.erase(std::unique(v.begin(), v.end()), v.end());
  if (v.size() < 2) return {};
  step = (v.back() - v.front()) / double(v.size() - 1);
  if (!(step > 0)) return {};
  for (std::size_t i = 0; i < v.size(); ++i)
    if (std::abs(v[i] - (v.front() + double(i) * step)) > kSpacingTolerance * step) return {};
  return v;
}

}  // namespace

std::optional<TResultLattice> FindLattice(const TResultTable& table) {
  const std::size_t n = table.RowCount();
  if (n < 4) return std::nullopt;
  TResultLattice g;
  const std::vector<double> lons = EvenValues(table, 0, g.lonStepDeg);
  const std::vector<double> lats = EvenValues(table, 1, g.latStepDeg);
  if (lons.empty() || lats.empty() || lons.size() * lats.size() != n) return std::nullopt;
  g.columns = int(lons.size());
  g.rows = int(lats.size());
  g.westDeg = lons.front();
  g.southDeg = lats.front();
  constexpr std::size_t kNone = ~std::size_t{0};
  g.tableRowOfNode.assign(n, kNone);
  for (std::size_t r = 0; r < n; ++r) {
    const long c = std::lround((table.At(r, 0) - g.westDeg) / g.lonStepDeg);
    const long y = std::lround((table.At(r, 1) - g.southDeg) / g.latStepDeg);
    std::size_t& slot = g.tableRowOfNode[std::size_t(y) * std::size_t(g.columns) + std::size_t(c)];
    // A node given twice leaves another one out: not a grid.
    if (slot != kNone) return std::nullopt;
    slot = r;
  }
  return g;
}

std::optional<std::size_t> TResultLattice::RowAt(double lonDeg, double latDeg) const {
  const double c = std::floor((lonDeg - westDeg) / lonStepDeg + 0.5);
  const double r = std::floor((latDeg - southDeg) / latStepDeg + 0.5);
  if (!(c >= 0 && c < columns && r >= 0 && r < rows)) return std::nullopt;
  return tableRowOfNode[std::size_t(r) * std::size_t(columns) + std::size_t(c)];
}

std::vector<std::uint32_t> LatticeColours(const TResultLattice& lattice, const TResultTable& table,
                                          std::size_t column, const TColourScale& scale) {
  std::vector<std::uint32_t> pixels(lattice.tableRowOfNode.size());
  for (int r = 0; r < lattice.rows; ++r)
    for (int c = 0; c < lattice.columns; ++c) {
      const std::size_t node = std::size_t(r) * std::size_t(lattice.columns) + std::size_t(c);
      const TRgb rgb = ColourOf(scale, table.At(lattice.tableRowOfNode[node], column));
      pixels[std::size_t(lattice.rows - 1 - r) * std::size_t(lattice.columns) + std::size_t(c)] =
          0xff000000u | (std::uint32_t(rgb.r) << 16) | (std::uint32_t(rgb.g) << 8) | std::uint32_t(rgb.b);
    }
  return pixels;
}

}  // namespace globelayers

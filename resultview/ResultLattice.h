// A result whose stations are the nodes of a regular grid of longitude and
// latitude (a run over a grid of points, read back from its text file) is
// shown as an image of cells rather than as discs. Qt-free: finding the
// grid, the node under a place and the grid's image are plain arithmetic.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "ColourMap.h"
#include "ResultFileReader.h"

namespace globelayers {

struct TResultLattice {
  int columns = 0, rows = 0;  // nodes west to east, south to north
  double westDeg = 0, southDeg = 0;             // degrees: the first column and row, as the file holds them
  double lonStepDeg = 0, latStepDeg = 0;        // degrees between nodes, > 0
  std::vector<std::size_t> tableRowOfNode;      // node (c, r) at r * columns + c: its line in the table

  double EastDeg() const { return westDeg + (columns - 1) * lonStepDeg; }
  double NorthDeg() const { return southDeg + (rows - 1) * latStepDeg; }
  // The table's line of the node whose cell (half a step round the node)
  // holds the place; none outside the grid's cells.
  std::optional<std::size_t> RowAt(double lonDeg, double latDeg) const;
};

// The grid the table's stations form: at least 2 x 2 nodes, every node
// exactly once (in any order), the longitudes and latitudes evenly spaced
// to within a hundredth of a step (the file rounds them to its printed
// digits). None for any other set of stations.
std::optional<TResultLattice> FindLattice(const TResultTable& table);

// The grid's cells coloured by `column` on `scale`, north up: pixel (c, y)
// is node (c, rows - 1 - y), 0xAARRGGBB, opaque.
std::vector<std::uint32_t> LatticeColours(const TResultLattice& lattice, const TResultTable& table,
                                          std::size_t column, const TColourScale& scale);

}  // namespace globelayers

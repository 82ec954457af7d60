// What every grid reader shares, native or GDAL: the checks a geometry must
// pass before anything is allocated, the blank value, and the completion of
// a geometry from the half that a file gives. Internal to grid/.
#pragma once

#include "GridImports.h"

namespace globelayers {

// Surfer's blank value: Surfer 6 files declare none and use this one. Kept
// as the double the blank count compares with; blanks are stored as
// kBlankMarker, this value rounded to float.
inline constexpr double kSurferBlank = 1.70141e38;

// The sampler works in arc-seconds: origin and spacing times 3600, node i at
// (origin + i * spacing) / 3600, a weight as a distance over a cell's width.
// Within these bounds each of them is a finite number and no cell is of zero
// width: near 1e6 degrees one unit in the last place is about 1.2e-10
// degrees, well below the least spacing; and the largest weight (2e6 degrees
// over 1e-9) squared, times the largest float, is still far from overflow.
inline constexpr double kMaxNodeDeg = 1e6;      // degrees: magnitude of any node position
inline constexpr double kMinSpacingDeg = 1e-9;  // degrees (3.6e-6 arc-seconds, 0.1 mm on the ground)

// x and y bounds, ranges and spacings finite and within the bounds above.
bool GeometryUsable(const TGridImports& grid);

// StepsFromBounds and BoundsFromSteps without the allocation.
void CompleteStepsFromBounds(TGridImports& grid);
void CompleteBoundsFromSteps(TGridImports& grid);

// The window that `choose` asks of a grid whose geometry is complete, cut
// to the grid and to at least 2 x 2 nodes; the whole grid for no chooser.
TNodeWindow ChosenWindow(const TGridImports& geometry, const TWindowChooser* choose);

// Whether `window` leaves out nodes of the grid.
inline bool Partial(const TNodeWindow& window, const TGridImports& grid) {
  return window.columns != grid.nx || window.rows != grid.ny;
}

// Turns the complete geometry of a file into that of `window` (which must
// be partial), keeping the file's first node and counts for the sampler.
void NarrowToWindow(TGridImports& grid, const TNodeWindow& window);

}  // namespace globelayers

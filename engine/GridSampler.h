// Sampling a grid at any position: bilinear interpolation between the four
// nodes of the cell that holds it, linear extrapolation outside the grid,
// blanks kept apart; a longitude that one turn brings onto the grid is read
// there (0..360 grids). Inline: it runs for every segment, grid and point.
#pragma once

#include <algorithm>
#include <cmath>

#include "GridImports.h"

namespace globelayers {

// Where a position falls in a grid: the cell (clamped into the grid) and the
// position's weights t, u across it (not clamped: outside the grid the edge
// cell extrapolates).
struct TGridCell {
  int ix = 0, iy = 0;   // the cell's first column and row
  double t = 0, u = 0;  // weights across the cell along x and y, no unit
};

// A grid's origin and spacing, and its node counts: all that locating a
// position needs. A window of a file is placed by the file's first node
// and turned round by the file's extent, so that it gives the same cell
// weights, to the bit, as the whole file; only its cells are the window's.
struct TGridFrame {
  double X0, Y0;  // longitude and latitude of the file's node (0, 0), arc-seconds
  double dX, dY;  // node spacing in longitude and latitude, arc-seconds
  int nx, ny;     // columns and rows held
  int column0, row0;    // the file's column and row of the first held node
  double westX, eastX;  // longitudes of the file's westmost and eastmost columns, arc-seconds
};

inline TGridFrame GridFrame(const TGridImports& g) {
  const double xMin = g.windowed() ? g.fileXMin : g.xMin;  // degrees
  const double yMin = g.windowed() ? g.fileYMin : g.yMin;  // degrees
  const int fileNx = g.windowed() ? g.fileNx : g.nx;
  const double firstX = xMin * 3600, lastX = (xMin + (fileNx - 1) * g.xStep) * 3600;  // arc-seconds
  return {.X0 = xMin * 3600, .Y0 = yMin * 3600, .dX = g.xStep * 3600, .dY = g.yStep * 3600,
          .nx = g.nx, .ny = g.ny, .column0 = g.column0, .row0 = g.row0,
          .westX = std::min(firstX, lastX), .eastX = std::max(firstX, lastX)};
}

// lambdaDeg and phiDeg: the position's longitude and latitude, degrees.
inline TGridCell LocateInFrame(const TGridFrame& f, double lambdaDeg, double phiDeg) {
  constexpr double kToDeg = 1.0 / 3600;    // degrees per arc-second
  constexpr double kTurnArcSec = 1296000;  // arc-seconds in 360 degrees
  double X = lambdaDeg * 3600;
  // A longitude beside the grid that lies on it one turn east or west (a
  // grid from 0 to 360 degrees, a position at -90) is sampled there; a
  // position on the grid is taken as it is, as is one that no turn brings
  // onto it (extrapolated from the edge cell).
  X += X < f.westX && X + kTurnArcSec <= f.eastX   ? kTurnArcSec
       : X > f.eastX && X - kTurnArcSec >= f.westX ? -kTurnArcSec
                                                   : 0.0;
  const double Y = phiDeg * 3600;

  // Cell index: floor of the quotient, counted from the first held node,
  // then clamped into the grid. Testing the double before converting keeps
  // huge or NaN quotients defined.
  const auto cellIndex = [](double quotient, int first, int count) {
    double q = std::floor(quotient) - first;
    q = q > 0 ? q : 0;                   // negative, zero, or not a number: the first cell
    q = q >= count - 1 ? count - 2 : q;  // on or past the last node: the last cell
    return static_cast<int>(q);
  };
  TGridCell c;
  c.ix = cellIndex((X - f.X0) / f.dX, f.column0, f.nx);
  c.iy = cellIndex((Y - f.Y0) / f.dY, f.row0, f.ny);

  const int fileIx = c.ix + f.column0, fileIy = c.iy + f.row0;
  const double xa = (f.X0 + fileIx * f.dX) * kToDeg;
  const double xb = (f.X0 + (fileIx + 1) * f.dX) * kToDeg;
  const double ya = (f.Y0 + fileIy * f.dY) * kToDeg;
  const double yb = (f.Y0 + (fileIy + 1) * f.dY) * kToDeg;
  const double lambda1 = X * kToDeg;
  const double phi1 = Y * kToDeg;
  c.t = (lambda1 - xa) / (xb - xa);
  c.u = (phi1 - ya) / (yb - ya);
  return c;
}

inline TGridCell LocateInGrid(const TGridImports& g, double lambdaDeg, double phiDeg) {
  return LocateInFrame(GridFrame(g), lambdaDeg, phiDeg);
}

inline double InterpolateCell(const TGridImports& g, const TGridCell& c) {
  const double t = c.t, u = c.u;
  const double v00 = g.at(c.ix, c.iy);
  const double v10 = g.at(c.ix + 1, c.iy);
  const double v11 = g.at(c.ix + 1, c.iy + 1);
  const double v01 = g.at(c.ix, c.iy + 1);
  const double w00 = (1 - t) * (1 - u);
  const double w10 = t * (1 - u);
  const double w11 = t * u;
  const double w01 = (1 - t) * u;
  // A blank node that takes part in the sample makes the sample blank: a
  // weighted share of the marker would pass for a real elevation or density.
  // The sample is the marker itself, above kBlankThreshold, so the run drops
  // the segment.
  if ((v00 >= kBlankThreshold && w00 != 0) || (v10 >= kBlankThreshold && w10 != 0) ||
      (v11 >= kBlankThreshold && w11 != 0) || (v01 >= kBlankThreshold && w01 != 0)) {
    return kBlankMarker;
  }
  return w00 * v00 + w10 * v10 + w11 * v11 + w01 * v01;
}

// Bilinear interpolation at (lambda, phi) in degrees; extrapolates linearly
// outside the grid. A sample that takes a blank node with a nonzero weight is
// itself blank (returns kBlankMarker). The grid has nx, ny >= 2.
// Inline: it runs for every segment, grid and point.
inline double SampleGrid(const TGridImports& g, double lambdaDeg, double phiDeg) {
  return InterpolateCell(g, LocateInGrid(g, lambdaDeg, phiDeg));
}

}  // namespace globelayers

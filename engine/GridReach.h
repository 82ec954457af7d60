// The part of each grid that a run's segments can sample: every position
// within the outer distance of the bands around some station. Grids are
// read only there (LoadGridWindow), so a survey of a few stations does not
// read a global grid whole.
//
// A window holds the cell of every position within reach, and one node more
// each way: the sampler places positions by the file's nodes (a window keeps
// them), so a window gives the same samples, to the bit, as the whole file
// wherever the run samples. Where the reach crosses a pole, every column is
// read; where it crosses the file's seam in longitude (a global grid from
// 0 to 360 degrees and a station at 5 degrees west), the columns from one
// side of the seam to the other, which is every column of a global grid.
// A position beyond the file is taken from its edge cell, as today: the
// window then holds that cell.
#pragma once

#include "GridImports.h"

namespace globelayers {

class TStationArea {
 public:
  // A station at latDeg, lonDeg (degrees). A position that is no finite
  // number makes the reach the whole globe.
  void Add(double latDeg, double lonDeg);
  bool empty() const { return count_ == 0; }

  // The nodes of `geometry` (a file's, no values) within psiDeg (degrees of
  // spherical distance) of some station, as LoadGridWindow takes them: the
  // whole grid for no station, a reach of 180 degrees or one that covers
  // the grid.
  TNodeWindow WindowOf(const TGridImports& geometry, double psiDeg) const;

 private:
  long count_ = 0;
  bool anywhere_ = false;  // a station at no finite position
  double latMin_ = 90, latMax_ = -90;            // degrees
  double westA_ = 180, eastA_ = -180;            // longitudes taken into -180 .. 180, degrees
  double westB_ = 360, eastB_ = 0;               // the same taken into 0 .. 360, degrees
};

}  // namespace globelayers

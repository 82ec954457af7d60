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

#include <vector>

#include "GridImports.h"
#include "Zone.h"

namespace globelayers {

// A band does not read a grid of a list when its segments are at least
// this many times the grid's finer spacing and a grid after it in the list
// covers the globe at a spacing no coarser than the segments: the band
// takes its values (or their block means) from that grid. An order of
// magnitude: the near bands of the presets (at most 1.875 spacings of the
// finest grid) always read it; their far bands (15 to 60 spacings) read a
// global grid of the list that resolves their segments (a 15' grid behind
// a 1' one) instead of forming block means of the fine grid whole, and
// keep to the fine grid where the global one is coarser than their
// segments (a 20' grid behind a 3" tile).
inline constexpr double kSkipSpacings = 10;  // segment size over grid spacing, no unit

// Whether `grid` (a geometry, or a window of a file: then the file's)
// holds every position of the sphere: columns over a whole turn and rows
// from pole to pole, within half a spacing (pixel-centred rasters).
bool CoversGlobe(const TGridImports& grid);

// Whether `zone` reads grid n of `list` (geometries, finest first).
bool BandReadsGrid(const TZone& zone, const std::vector<const TGridImports*>& list, std::size_t n);

// The largest spherical distance, degrees, between two positions of the
// file that `grid` (a geometry, or a window of the file) was read from,
// its edge cells widened by a spacing each way: a band around a station
// on the grid reads it only within this distance. 180 for an extent of
// half a turn or more in longitude.
double ExtentDiameterDeg(const TGridImports& grid);

// What a preset is formed from (PresetZones): each grid of `lists`
// (geometries, finest first) with its finer spacing; the last grid of a
// list, and one that covers the globe, reaches 180 degrees, every other
// its extent's diameter. A run of single grids gets every spacing at 180
// degrees, and so the finest spacing's rule.
std::vector<TPresetSpacing> PresetSpacings(const std::vector<std::vector<const TGridImports*>>& lists);

// What TStationArea keeps of its stations: enough to choose every window
// again elsewhere (the MPI front end ships it to its other ranks, which
// then read the windows that rank 0 reads).
struct TStationBounds {
  long count = 0;                        // stations added
  bool anywhere = false;                 // a station at no finite position
  double latMin = 90, latMax = -90;      // degrees
  double westA = 180, eastA = -180;      // longitudes taken into -180 .. 180, degrees
  double westB = 360, eastB = 0;         // the same taken into 0 .. 360, degrees
  bool operator==(const TStationBounds&) const = default;
};

class TStationArea {
 public:
  TStationArea() = default;
  // The area of the stations that `bounds` describes.
  explicit TStationArea(const TStationBounds& bounds) : b_(bounds) {}

  // A station at latDeg, lonDeg (degrees). A position that is no finite
  // number makes the reach the whole globe.
  void Add(double latDeg, double lonDeg);
  bool empty() const { return b_.count == 0; }
  const TStationBounds& bounds() const { return b_; }

  // The nodes of `geometry` (a file's, no values) within psiDeg (degrees of
  // spherical distance) of some station, as LoadGridWindow takes them: the
  // whole grid for no station, a reach of 180 degrees or one that covers
  // the grid.
  TNodeWindow WindowOf(const TGridImports& geometry, double psiDeg) const;

 private:
  TStationBounds b_;
};

}  // namespace globelayers

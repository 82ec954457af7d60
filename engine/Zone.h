// One band of a zone list, and the named zone lists that follow from the
// grid spacing of a run.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace globelayers {

// One band of a zone list: spherical distances and its own segment size.
struct TZone {
  double psiFromDeg = 0;          // degrees, inner spherical distance of the band
  double psiToDeg = 0;            // degrees, outer spherical distance of the band
  double segmentSizeArcSec = 0;   // arc-seconds
  // Sample block means of the grids at about the segment size instead of
  // the grids themselves (GridMeans.h): for far bands, where point samples
  // alias the relief between them.
  bool blockMeans = false;
  // Rings next to the point: the kernel from 1 - cos(psi) formed without
  // cancellation (KernelTermsNear in Geodesy.h). Only presets set it, so that
  // every zone list a user writes gives the bytes it always gave.
  bool nearPointKernel = false;
  // With blockMeans: sliding box means of the segment's own size on the
  // ground (SlidingBoxMeans in GridMeans.h) instead of the pyramid's
  // levels. Only presets set it, so that every zone list a user writes
  // gives the bytes it always gave.
  bool boxMeans = false;
  bool operator==(const TZone&) const = default;
};

// How a band meets the band before it: a list of bands must join, each
// starting exactly where the one before ends. The one check of it, for the
// zone table of the window and for a run's zone list.
enum class TZoneJoin {
  Joined,   // starts where the band before ends
  Gap,      // starts beyond it
  Overlap,  // starts before it
};
inline TZoneJoin JoinOf(double previousToDeg,  // degrees: outer distance of the band before
                        double fromDeg) {      // degrees: inner distance of this band
  if (fromDeg > previousToDeg) return TZoneJoin::Gap;
  if (fromDeg < previousToDeg) return TZoneJoin::Overlap;
  return TZoneJoin::Joined;
}

// The most bands a run may have. Far beyond any useful list (the presets
// have a handful): a settings file with more is refused before anything is
// set up, so that a damaged or generated file cannot take the memory. Each
// band costs about 100 bytes plus 70 bytes per ring (at most MaxRings).
inline constexpr int kMaxZones = 1000;

// The zone presets, by name (any case): "standard" and "fine". Each is a
// rule in the finest grid spacing h of the run (arc-seconds; at most
// 3600 * 180 / 600): bands from the point out to 180 degrees.
// An unknown name gives nullopt.
std::optional<std::vector<TZone>> PresetZones(std::string_view name, double finestSpacingArcSec);

// The spacing of the finest grid that a run's bands may read out to a
// distance from a station: a grid of a list before its last one holds
// positions only within its extent, so beyond the extent's diameter no
// band around a station on it reads that grid.
struct TPresetSpacing {
  double spacingArcSec = 0;  // arc-seconds
  double reachDeg = 180;     // degrees of spherical distance
};

// A preset for grids of different reach: out to each distance, the rule
// of the finest spacing that reaches that far, the bands of each rule cut
// where the next takes over (a cut-off piece narrower than two of its
// segments joins the band before). A piece that ends before 180 degrees
// (a tile's) takes 600 h .. 2700 h on point samples, and in `fine` 60 h ..
// 600 h finer. One spacing that reaches 180 degrees
// gives PresetZones(name, spacing) exactly. Empty `spacings`, a spacing
// that is not positive or an unknown name give nullopt.
std::optional<std::vector<TZone>> PresetZones(std::string_view name, const std::vector<TPresetSpacing>& spacings);

// The preset names, for pickers; and joined for messages: "standard, fine".
std::vector<std::string> PresetNames();
std::string PresetNameList();

// The preset that `typed` names (any case), by its own name; nullopt for
// none.
std::optional<std::string> PresetName(std::string_view typed);

// What a run log says of the preset `name` (any case): the largest
// difference from a converged reference that the study of docs/zones.md
// measured for it, as one line with its end; empty for no preset.
std::string PresetBoundLine(std::string_view name);

}  // namespace globelayers

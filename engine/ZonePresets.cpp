// The zone presets. Both cut the band from the point to 180 degrees at the
// same bounds, all in the finest grid spacing h: decades 0.0006 h x 10^i up
// to 60 h, then 180 h, 600 h, 2700 h and 180 degrees (for h = 1': 0.00001,
// 0.0001, 0.001, 0.01, 0.1, 1, 3, 10, 45, 180 degrees). Up to 60 h a band's
// segment size is its outer bound over a fixed number of rings (more in the
// decade 6 h .. 60 h, where that size would come near h); beyond, a
// multiple of h. The far bands sample box means of the segment's size
// (SlidingBoxMeans). docs/zones.md gives the study that chose these
// numbers and the error of each preset.
#include <algorithm>
#include <cmath>

#include "Zone.h"

namespace globelayers {
namespace {

struct TPresetRule {
  const char* name;
  double decadeRings[5];      // near decades, the point .. 0.0006 h .. 6 h: segment = outer bound / this
  double lastDecadeRings;     // 6 h .. 60 h: segment = 60 h / this
  double middleSpacings[2];   // 60 h .. 180 h and 180 h .. 600 h: segment = this times h, point samples
  double farBounds[2];        // degrees per h (times h in arc-seconds / 3600): bounds beyond 600 h, 0 = none
  double farSpacings[3];      // segment sizes of the far bands, times h
  double lastMinArcSec;       // arc-seconds: the last band's segment size at least this
  // A grid that holds positions near the stations only (a tile of a grid
  // list): 60 h .. 600 h at this times h, 600 h .. 2700 h on point
  // samples at this times h (no unit: multiples of h).
  double tileMiddleSpacings;
  double tileFarSpacings;
  // The promise, mGal, as the run log quotes it: what the study measured
  // at most on every surface and station (docs/zones.md), rounded up.
  const char* boundMGal;
};

// Far bands: 600 h .. 2700 h (45 degrees at h = 1') and on to 180 degrees.
// Near bands of 16 or 32 rings and a middle band on block means missed by
// 0.1 to 0.7 mGal on steep relief (docs/zones.md): both presets keep 64
// rings and point samples to 600 h. In the decade 6 h .. 60 h, 64 rings
// make segments of 0.94 h, and on real 3" relief (SRTM, the Himalaya) such
// sizes near the node spacing miss by up to 0.07 mGal at a summit, not
// falling steadily with the size; 128 rings (0.47 h) keep `standard`
// within 0.03 there and 256 (0.23 h) keep `fine` within 0.008 (docs/zones.md).
// The decades to 6 h take the kernel for rings next to the point (from
// 1 - cos(psi) without cancellation): with cos(psi) itself the innermost
// band missed by 0.005 mGal whatever its rings. So the decades can start at
// 0.0006 h (1.1 m at h = 1'), where the flat-topped cap and the first
// ring's first-order error fall below 0.0002 mGal. `fine` needs 128 rings
// per decade (at 64 the band 0.6 h .. 6 h misses by 0.028 on steep relief).
// The far bands sample box means of each segment's own size on the ground:
// on the pyramid's levels, which smooth over about twice the segment, the
// last band at 30 h missed by 0.02 mGal on a globe rough everywhere, on
// box means by 0.006 (at 15 h 0.004 and 0.0025). Box means do not keep
// where in height a block's mass lies, and nearer than 10 degrees that
// counts: 3 .. 10 degrees on box means of 3.75 h miss by 0.02 on steep
// relief, always in the same direction. So from 60 h to 600 h the bands keep
// point samples, twice as coarse beyond 180 h (3 degrees at h = 1'), where
// the area is but the cost is not much finer than needed. Below h = 3"
// fine's last band stays at 90": at 30 h the band from 2700 h to 180
// degrees would need more rings than a band may have (MaxRings), and the
// study measured h = 1' only.
constexpr TPresetRule kPresets[] = {
    {"standard", {64, 64, 64, 64, 64}, 128, {3.75, 7.5}, {2700, 0}, {30, 60, 0}, 0, 3.75, 30, "0.05"},
    {"fine", {128, 128, 128, 128, 128}, 256, {1.875, 3.75}, {2700, 0}, {15, 30, 0}, 90, 1.25, 15, "0.01"},
};

std::string LowerCase(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

}  // namespace

std::vector<std::string> PresetNames() {
  std::vector<std::string> names;
  for (const TPresetRule& rule : kPresets) names.emplace_back(rule.name);
  return names;
}

std::string PresetNameList() {
  std::string list;
  for (const TPresetRule& rule : kPresets) list += (list.empty() ? "" : ", ") + std::string(rule.name);
  return list;
}

std::optional<std::string> PresetName(std::string_view typed) {
  const std::string wanted = LowerCase(typed);
  for (const TPresetRule& rule : kPresets) {
    if (wanted == rule.name) return wanted;
  }
  return std::nullopt;
}

namespace {

// The rule's bands for spacing h, arc-seconds (finite, positive). On a
// piece of a grid list whose grid holds positions only near the stations
// (`tilePiece`), 60 h .. 600 h takes the rule's tile size and 600 h ..
// 2700 h samples the grid itself in place of its block means (see
// PresetZones with spacings).
std::vector<TZone> RuleZones(const TPresetRule& rule, double h, bool tilePiece) {
  constexpr double kFullDeg = 180;     // degrees: the presets' outer distance
  constexpr double kArcSecPerDeg = 3600;

  std::vector<TZone> zones;
  const auto add = [&](double toDeg, double segmentArcSec, bool means, bool nearKernel = false) {
    const double fromDeg = zones.empty() ? 0 : zones.back().psiToDeg;
    if (fromDeg >= kFullDeg) return;
    toDeg = std::min(toDeg, kFullDeg);
    zones.push_back({.psiFromDeg = fromDeg, .psiToDeg = toDeg, .segmentSizeArcSec = segmentArcSec,
                     .blockMeans = means, .nearPointKernel = nearKernel, .boxMeans = means});
  };
  // Near bands: decades up to 60 h, those to 6 h with the kernel for rings
  // next to the point.
  const double decadeBounds[] = {0.0006, 0.006, 0.06, 0.6, 6.0};  // times h
  for (int d = 0; d < 5; ++d) {
    const double toArcSec = decadeBounds[d] * h;
    add(toArcSec / kArcSecPerDeg, toArcSec / rule.decadeRings[d], false, true);
  }
  add(60 * h / kArcSecPerDeg, 60 * h / rule.lastDecadeRings, false);
  if (tilePiece) {
    add(600 * h / kArcSecPerDeg, rule.tileMiddleSpacings * h, false);
  } else {
    add(180 * h / kArcSecPerDeg, rule.middleSpacings[0] * h, false);
    add(600 * h / kArcSecPerDeg, rule.middleSpacings[1] * h, false);
  }
  int far = 0;
  for (; far < 2 && rule.farBounds[far] > 0; ++far) {
    if (far == 0 && tilePiece) {
      add(rule.farBounds[far] * h / kArcSecPerDeg, rule.tileFarSpacings * h, false);
    } else {
      add(rule.farBounds[far] * h / kArcSecPerDeg, rule.farSpacings[far] * h, true);
    }
  }
  add(kFullDeg, std::max(rule.farSpacings[far] * h, rule.lastMinArcSec), true);
  return zones;
}

const TPresetRule* FindRule(std::string_view name) {
  const std::string wanted = LowerCase(name);
  const auto rule = std::find_if(std::begin(kPresets), std::end(kPresets),
                                 [&](const TPresetRule& r) { return wanted == r.name; });
  return rule == std::end(kPresets) ? nullptr : &*rule;
}

}  // namespace

std::optional<std::vector<TZone>> PresetZones(std::string_view name, double h) {
  const TPresetRule* rule = FindRule(name);
  if (!rule || !(h > 0) || !std::isfinite(h)) return std::nullopt;
  return RuleZones(*rule, h, false);
}

// Far sizes that follow the grids the bands read. A 3" tile nested in a
// 20' global grid: with the tile's rule to 180 degrees the band beyond
// 2.25 degrees alone has 16.7 million segments of 180" per point
// (`standard`), sampling a 20' grid there. Each piece of distance takes
// the rule of the finest spacing that reaches it. Beyond the first piece
// a spacing counts as at most 1', and never as finer than the piece's
// before (the rule of a grid coarser than 1' goes on to 180 degrees, as
// does a single grid's): the rules' far bands were measured on
// 1' grids only, and the 20' rule's band of point samples from 20 degrees
// on (4500" in `standard`, 2250" in `fine`) misses by 0.100 and 0.020
// mGal on the real 20' grid, where the 1' rule's far bands on block means
// miss by 0.022 and 0.0055 (docs/zones.md).
std::optional<std::vector<TZone>> PresetZones(std::string_view name, const std::vector<TPresetSpacing>& spacings) {
  constexpr double kFullDeg = 180;           // degrees: the presets' outer distance
  constexpr double kMeasuredArcSec = 60;     // arc-seconds: the spacing the far bands were measured on
  if (spacings.empty()) return std::nullopt;
  for (const TPresetSpacing& s : spacings) {
    if (!(s.spacingArcSec > 0) || !std::isfinite(s.spacingArcSec) || !(s.reachDeg > 0)) return std::nullopt;
  }
  // The pieces of distance, each with the finest spacing that reaches
  // beyond its inner end: outwards from the point, ever coarser.
  struct TPiece {
    double fromDeg, toDeg, spacingArcSec;  // degrees, degrees, arc-seconds
  };
  std::vector<TPiece> pieces;
  for (double fromDeg = 0; fromDeg < kFullDeg;) {
    double h = 0, toDeg = kFullDeg;  // arc-seconds, degrees
    for (const TPresetSpacing& s : spacings) {
      if (!(s.reachDeg > fromDeg)) continue;
      if (h == 0 || s.spacingArcSec < h) h = s.spacingArcSec;
    }
    if (h == 0) h = spacings.back().spacingArcSec;  // nothing reaches on: a caller's list without 180
    if (!pieces.empty()) h = std::max(pieces.back().spacingArcSec, std::min(h, kMeasuredArcSec));
    // h holds out to the nearest reach beyond: there a spacing may end.
    for (const TPresetSpacing& s : spacings) {
      if (s.reachDeg > fromDeg && s.reachDeg < toDeg) toDeg = s.reachDeg;
    }
    toDeg = std::min(toDeg, kFullDeg);
    if (!pieces.empty() && pieces.back().spacingArcSec == h) {
      pieces.back().toDeg = toDeg;
    } else {
      pieces.push_back({fromDeg, toDeg, h});
    }
    fromDeg = toDeg;
  }

  const TPresetRule* rule = FindRule(name);
  if (!rule) return std::nullopt;
  std::vector<TZone> zones;
  for (const TPiece& piece : pieces) {
    // A piece ends before 180 degrees only where the grid of its spacing
    // stops reaching: a tile, whose relief is known at its spacing and
    // ends in a step to the coarser grid behind it. On the 3" SRTM tiles
    // nested in the 20' grid (docs/zones.md, station by station to 180
    // degrees): the rule's band 600 h .. 2700 h on block means (0.5 .. 2.25
    // degrees, cut at the tile's reach) smooths away relief that still
    // counts there, missing by 0.031 mGal at 90" and 0.010 at 45" where
    // point samples of the same sizes miss by 0.009 and 0.0035; and
    // `fine`'s 60 h .. 600 h at 1.875 h misses by up to 0.009 at a summit
    // whose band crosses the tile's edge, 0.0027 at 1.25 h. With both,
    // `fine` holds 0.01 at every station there (0.012 with the band of
    // 1.875 h). A grid that reaches everywhere keeps its rule.
    const bool tilePiece = piece.toDeg < kFullDeg;
    for (const TZone& band : RuleZones(*rule, piece.spacingArcSec, tilePiece)) {
      const double fromDeg = std::max(band.psiFromDeg, piece.fromDeg);
      const double toDeg = std::min(band.psiToDeg, piece.toDeg);
      if (!(toDeg > fromDeg)) continue;
      // A piece too narrow for rings of its size would add nothing: the
      // finer band before covers it.
      if (!zones.empty() && (toDeg - fromDeg) * 3600 < 2 * band.segmentSizeArcSec) {
        zones.back().psiToDeg = toDeg;
        continue;
      }
      TZone cut = band;
      cut.psiFromDeg = zones.empty() ? fromDeg : zones.back().psiToDeg;
      cut.psiToDeg = toDeg;
      zones.push_back(cut);
    }
  }
  return zones;
}

}  // namespace globelayers

namespace globelayers {

std::string PresetBoundLine(std::string_view name) {
  const std::string wanted = LowerCase(name);
  for (const TPresetRule& rule : kPresets) {
    if (wanted != rule.name) continue;
    return "Zone preset " + wanted + ": within " + rule.boundMGal +
           " mGal of a converged reference, as measured on three synthetic 1' global reliefs, smooth, rough and "
           "steep (docs/zones.md)\n";
  }
  return "";
}

}  // namespace globelayers

// The zone of a run as its user described it: the window's one band, a
// settings file's list of bands, or a preset. Each front end builds it once
// where the text enters (settings/RunSetup.h, the batch's --zones); the
// engine resolves it once into the bands it integrates over
// (TCalcEngine::UsedZones).
#pragma once

#include <string>
#include <variant>
#include <vector>

#include "StartValues.h"
#include "Zone.h"

namespace globelayers {

// The window's fields: one band from Phi_from to Phi_to at one segment size.
struct TSingleZone {
  double psiFromDeg = kStartPsiFromDeg;                  // degrees, inner spherical distance, 0..180
  double psiToDeg = kStartPsiToDeg;                      // degrees, outer spherical distance, above psiFromDeg
  double segmentSizeArcSec = kStartSegmentSizeArcSec;    // arc-seconds, above 0
  bool operator==(const TSingleZone&) const = default;
};

// A [zones] list: contiguous bands from the inner distance outwards, each
// with its own segment size (the engine checks that they join).
struct TZoneList {
  std::vector<TZone> bands;
  bool operator==(const TZoneList&) const = default;
};

// A zone preset by its own lower-case name (Zone.h): the bands follow from
// the finest spacing of the run's grids once they are loaded.
struct TZonePreset {
  std::string name;
  bool operator==(const TZonePreset&) const = default;
};

using TZoneChoice = std::variant<TSingleZone, TZoneList, TZonePreset>;

}  // namespace globelayers

#include "Calculation.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <utility>
#include <variant>
#include <vector>

#include "Geodesy.h"
#include "GridMeans.h"
#include "GridReach.h"
#include "InputFile.h"
#include "PointEvaluation.h"
#include "PointFile.h"
#include "PointPipeline.h"
#include "ResultFile.h"
#include "ResultRaster.h"
#include "RingLayout.h"
#include "RunFaults.h"
#include "StopRequest.h"

namespace globelayers {
namespace {

// A refusal of `fault`, its message filled with `values`.
template <typename... TValues>
TRunRefusal Refuse(TRunFault fault, TValues... values) {
  return {fault, RunFaultMessage(fault, values...)};
}

// Rows the layer dialog would never produce, refused before anything is
// written. Rows are numbered from 1 as in the layer table.
std::optional<TRunRefusal> CheckLayerRows(const TRunParameters& params) {
  if (params.rowCount > MaxLayerRows) return Refuse(TRunFault::TooManyLayers);
  for (int k = 0; k < params.rowCount; ++k) {
    const TLayerRow& row = params.layers[k];
    if (!row.elevation.defined()) {
      return Refuse(TRunFault::NoElevation, k + 1);
    }
    if (k >= 1 && !row.density.defined()) {
      return Refuse(TRunFault::NoDensity, k + 1);
    }
  }
  return std::nullopt;
}

// Ends a run on every path: grids released, files closed (by their own
// owners), the progress display hidden.
class TRunEnd {
 public:
  TRunEnd(TLayerModel& model, int rowCount, IRunProgress& progress)
      : model_(model), rowCount_(rowCount), progress_(progress) {}
  ~TRunEnd() {
    ReleaseGrids(model_, rowCount_);
    progress_.Hide();
  }
  TRunEnd(const TRunEnd&) = delete;
  TRunEnd& operator=(const TRunEnd&) = delete;

 private:
  TLayerModel& model_;
  int rowCount_;
  IRunProgress& progress_;
};


// The largest Earth radius a run accepts, metres: larger ones make the
// kernel's squares overflow.
constexpr double kMaxEarthRadius = 1e9;

std::optional<TRingLayout> ZoneLayout(const TRunParameters& params, const TZone& zone) {
  auto layout = BuildRingLayout(zone.psiFromDeg * kDegToRad, zone.psiToDeg * kDegToRad,
                                params.azimuthFromDeg * kDegToRad, params.azimuthToDeg * kDegToRad,
                                zone.segmentSizeArcSec, params.earthRadius);
  if (layout) layout->nearPointKernel = zone.nearPointKernel;
  return layout;
}

// Whether the rings of a zone reach from its inner to its outer distance.
// Rings are cut separately below and beyond 90 degrees, each part into
// whole segments: a part narrower than one segment gets no ring and would
// add nothing, silently. (The cap, where the zone starts at the point,
// covers a tenth of a segment.)
bool CoversItsBand(const TRingLayout& rings, const TZone& zone) {
  constexpr double kSlackRad = 1e-12;  // radians: rounding of the ring edges
  const double toRad = zone.psiToDeg * kDegToRad;
  const double fromRad = zone.psiFromDeg * kDegToRad;
  const bool nearPart = rings.startDistance < std::min(toRad, kHalfPi) - kSlackRad;
  const bool farPart = std::max(fromRad, kHalfPi) < toRad - kSlackRad;
  const int nearRings = rings.nearCount - (rings.capPresent ? 1 : 0);
  return (!nearPart || nearRings > 0) && (!farPart || rings.farCount > 0);
}

// A zone list that does not tile one band from the inner distance outwards,
// or that gives more rings or segments than a run may have. Zones are
// numbered from 1 as in the settings file. Needs a valid Earth radius and
// azimuths.
std::optional<TRunRefusal> CheckZones(const TRunParameters& params, const std::vector<TZone>& zones) {
  if (zones.size() > static_cast<std::size_t>(kMaxZones)) {
    return Refuse(TRunFault::TooManyZones, zones.size(), kMaxZones);
  }
  // No front end gives an empty list; a record built elsewhere may.
  if (zones.empty()) return Refuse(TRunFault::NoZones);
  std::int64_t segments = 0;
  for (std::size_t k = 0; k < zones.size(); ++k) {
    const TZone& zone = zones[k];
    const int number = static_cast<int>(k) + 1;
    if (!std::isfinite(zone.psiFromDeg) || !std::isfinite(zone.psiToDeg)) {
      return Refuse(TRunFault::ZoneNotFinite, number, zone.psiFromDeg, zone.psiToDeg);
    }
    if (zone.psiFromDeg < 0 || zone.psiToDeg > 180) {
      return Refuse(TRunFault::ZoneOutsideRange, number, zone.psiFromDeg, zone.psiToDeg);
    }
    if (!(zone.psiToDeg > zone.psiFromDeg)) {
      return Refuse(TRunFault::ZoneEmpty, number, zone.psiToDeg, zone.psiFromDeg);
    }
    if (k > 0) {
      const double previousToDeg = zones[k - 1].psiToDeg;  // degrees
      switch (JoinOf(previousToDeg, zone.psiFromDeg)) {
        case TZoneJoin::Joined:
          break;
        case TZoneJoin::Gap:
          return Refuse(TRunFault::ZoneGap, number, zone.psiFromDeg, number - 1, previousToDeg);
        case TZoneJoin::Overlap:
          return Refuse(TRunFault::ZoneOverlap, number, zone.psiFromDeg, number - 1, previousToDeg);
      }
    }
    if (!(zone.segmentSizeArcSec > 0) || !std::isfinite(zone.segmentSizeArcSec)) {
      return Refuse(TRunFault::ZoneSegmentSize, number, zone.segmentSizeArcSec);
    }
    const std::optional<TRingLayout> rings = ZoneLayout(params, zone);
    if (!rings) {
      return Refuse(TRunFault::ZoneTooManyRings, number, zone.psiFromDeg, zone.psiToDeg, MaxRings,
                    zone.segmentSizeArcSec);
    }
    if (!CoversItsBand(*rings, zone)) {
      return Refuse(TRunFault::ZoneTooNarrow, number, zone.psiFromDeg, zone.psiToDeg, zone.segmentSizeArcSec);
    }
    segments += SegmentTotal(*rings);
  }
  if (segments > kMaxSegmentsPerPoint) {
    return Refuse(TRunFault::ZonesTooManySegments, static_cast<long long>(segments),
                  static_cast<long long>(kMaxSegmentsPerPoint));
  }
  return std::nullopt;
}

// The window's one band as a band of a list.
TZone BandOf(const TSingleZone& single) {
  return {.psiFromDeg = single.psiFromDeg, .psiToDeg = single.psiToDeg, .segmentSizeArcSec = single.segmentSizeArcSec};
}

// The refusal of a zone that no run can use, before anything is read or
// written. Needs a valid Earth radius and azimuths.
std::optional<TRunRefusal> CheckZone(const TRunParameters& params) {
  if (const auto* preset = std::get_if<TZonePreset>(&params.zone)) {
    if (PresetName(preset->name)) return std::nullopt;
    return Refuse(TRunFault::UnknownPreset, preset->name.c_str(), PresetNameList().c_str());
  }
  if (const auto* list = std::get_if<TZoneList>(&params.zone)) return CheckZones(params, list->bands);
  // A layout that does not build is refused later, with its own message.
  const std::optional<TRingLayout> rings = ZoneLayout(params, BandOf(std::get<TSingleZone>(params.zone)));
  if (rings) {
    const std::int64_t segments = SegmentTotal(*rings);
    if (segments > kMaxSegmentsPerPoint) {
      return Refuse(TRunFault::ZoneTooManySegments, static_cast<long long>(segments),
                    static_cast<long long>(kMaxSegmentsPerPoint));
    }
  }
  return std::nullopt;
}

// Values that no run can use, refused before anything is read or written:
// each would end in numbers that are not finite, or in a counter that
// overflows.
std::optional<TRunRefusal> CheckRunValues(const TRunParameters& params) {
  if (!(params.earthRadius > 0 && params.earthRadius <= kMaxEarthRadius)) {
    return Refuse(TRunFault::EarthRadius, kMaxEarthRadius, params.earthRadius);
  }
  if (!std::isfinite(params.gravityConstant)) {
    return Refuse(TRunFault::GravityConstant, params.gravityConstant);
  }
  if (!std::isfinite(params.increment)) {
    return Refuse(TRunFault::Increment, params.increment);
  }
  if (!std::isfinite(params.azimuthFromDeg) || !std::isfinite(params.azimuthToDeg)) {
    return Refuse(TRunFault::Azimuths, params.azimuthFromDeg, params.azimuthToDeg);
  }
  if (params.pointGrid) {
    if (auto refusal = CheckPointGrid(*params.pointGrid)) return TRunRefusal{TRunFault::PointGrid, *refusal};
    if (!RasterWritingAvailable()) return TRunRefusal{TRunFault::NoRasterOutput, kNoRasterBuildText};
  }
  return CheckZone(params);
}

// What the point loop reads besides the layer model: the bands, their
// block means and their tables. A run context refers into it, so it stays
// where it was built until the run is over.
struct TRunBands {
  std::vector<TZone> zones;         // from the inner distance outwards; a preset's once the grids are loaded
  std::vector<TRingLayout> layouts;  // one per band
  TZoneGridMeans means;
  std::vector<TRingTable> tables;    // one per band
  // Per band, what it samples in place of the model's grids: a grid of a
  // list that it does not read (BandReadsGrid) stands in as `nowhere`, a
  // grid that holds no position, so the list goes on to the next; then
  // the block means. Empty: the model's grids.
  std::vector<TGridStandIns> standIns;
  std::unique_ptr<TGridImports> nowhere;
};

// The grid lists of the model's rows, each as geometries, finest first:
// elevations of every row, densities from row 1. A single grid is a list
// of one.
std::vector<std::vector<const TGridImports*>> GridLists(const TLayerModel& model, int rowCount) {
  std::vector<std::vector<const TGridImports*>> lists;
  const auto add = [&lists](const std::unique_ptr<TGridImports>& first, const TGridTail& more) {
    if (!first) return;
    std::vector<const TGridImports*>& list = lists.emplace_back(1, first.get());
    for (const auto& grid : more) list.push_back(grid.get());
  };
  for (int k = 0; k < rowCount; ++k) {
    add(model[k].elevationGrid, model[k].elevationMore);
    if (k >= 1) add(model[k].densityGrid, model[k].densityMore);
  }
  return lists;
}

// A grid that holds no position of the sphere: its only cell lies beyond
// the poles. Blank, should anything sample it all the same.
std::unique_ptr<TGridImports> NowhereGrid() {
  auto grid = std::make_unique<TGridImports>();
  grid->fileFormat = TGridFormat::kSurfer6;
  grid->nx = grid->ny = 2;
  grid->xMin = 0, grid->xStep = 1, grid->xMax = 1, grid->xRange = 1;
  grid->yMin = 1000, grid->yStep = 1, grid->yMax = 1001, grid->yRange = 1;  // degrees
  grid->values.assign(4, kBlankMarker);
  return grid;
}

// The ring layouts of the bands of `zones`, or the message that refuses
// them.
std::optional<TRunRefusal> LayOut(const TRunParameters& params, const std::vector<TZone>& zones,
                                  std::vector<TRingLayout>& layouts) {
  layouts.reserve(zones.size());
  for (const TZone& zone : zones) {
    const std::optional<TRingLayout> rings = ZoneLayout(params, zone);
    if (!rings) return Refuse(TRunFault::CellSize);
    layouts.push_back(*rings);
  }
  return std::nullopt;
}

// The bands that the zone resolves into before the grids are loaded (a
// zone list was checked zone by zone already; this refuses the window's
// band) with their ring layouts, and the layer rows. The refusal's message
// when the run cannot go on.
std::optional<TRunRefusal> LayOutKnownBands(const TRunParameters& params, TRunBands& bands) {
  if (const auto* single = std::get_if<TSingleZone>(&params.zone)) {
    bands.zones = {BandOf(*single)};
  } else if (const auto* list = std::get_if<TZoneList>(&params.zone)) {
    bands.zones = list->bands;
  }
  if (auto refusal = LayOut(params, bands.zones, bands.layouts)) return refusal;
  if (params.rowCount < 2) return Refuse(TRunFault::TooFewLayers);
  return CheckLayerRows(params);
}

// Completes the bands once the grids of `model` are loaded: a preset's
// bands, the block means and the azimuth tables. The refusal's message when
// the run cannot go on.
// Fills in where a loaded grid's means may come from besides the grid
// itself: its file's overviews and its file's rows (TRoledGrid).
using TMeansSources = std::function<void(TRoledGrid& grid)>;

std::optional<TRunRefusal> CompleteBands(const TLayerModel& model, const TRunParameters& params, TRunBands& bands,
                                         const TMeansSources& meansSources) {
  if (const auto* preset = std::get_if<TZonePreset>(&params.zone)) {
    // Each distance in the rule of the finest grid that reaches it; without
    // grids (or with a grid of no spacing) the finest spacing's rule.
    std::optional<std::vector<TZone>> formed = PresetZones(preset->name, PresetSpacings(GridLists(model, params.rowCount)));
    if (!formed) formed = PresetZones(preset->name, FinestGridSpacingArcSec(model, params.rowCount));
    const std::vector<TZone> zones = *formed;
    std::optional<TRunRefusal> refusal = CheckZones(params, zones);
    if (!refusal) refusal = LayOut(params, zones, bands.layouts);
    if (refusal) return Refuse(TRunFault::PresetZones, preset->name.c_str(), refusal->message.c_str());
    bands.zones = zones;
  }

  // Grids of lists that a band does not read: it takes the coarse grid
  // after them.
  bands.standIns.assign(bands.zones.size(), {});
  const auto lists = GridLists(model, params.rowCount);
  const auto readByMeans = [&](const TGridImports* grid) {
    for (const auto& list : lists) {
      for (std::size_t n = 0; n < list.size(); ++n) {
        if (list[n] != grid) continue;
        for (const TZone& zone : bands.zones)
          if (zone.blockMeans && BandReadsGrid(zone, list, n)) return true;
        return false;
      }
    }
    return true;
  };
  for (std::size_t z = 0; z < bands.zones.size(); ++z) {
    for (const auto& list : lists) {
      for (std::size_t n = 0; n < list.size(); ++n) {
        if (BandReadsGrid(bands.zones[z], list, n)) continue;
        if (!bands.nowhere) bands.nowhere = NowhereGrid();
        bands.standIns[z].emplace_back(list[n], bands.nowhere.get());
      }
    }
  }

  // Block means for the bands that ask for them, formed once from the
  // loaded grids that such a band reads.
  std::vector<TRoledGrid> grids;
  for (int k = 0; k < params.rowCount; ++k) {
    // Every grid of a list has its own means.
    const auto add = [&](const TGridImports* grid, TGridRole role) {
      if (!readByMeans(grid)) return;
      TRoledGrid roled{grid, role};
      if (meansSources) meansSources(roled);
      grids.push_back(std::move(roled));
    };
    if (model[k].elevationGrid) add(model[k].elevationGrid.get(), TGridRole::Elevation);
    for (const auto& grid : model[k].elevationMore) add(grid.get(), TGridRole::Elevation);
    if (k >= 1 && model[k].densityGrid) add(model[k].densityGrid.get(), TGridRole::Density);
    if (k >= 1) {
      for (const auto& grid : model[k].densityMore) add(grid.get(), TGridRole::Density);
    }
  }
  try {
    bands.means = TZoneGridMeans(grids, bands.zones, params.earthRadius);
  } catch (const std::bad_alloc&) {
    return Refuse(TRunFault::MeansOutOfMemory);
  } catch (const TMeansSourceNotLoaded&) {
    // The reader said why; given up for a stop request, it says nothing.
    if (!LongStepStopRequested()) return TRunRefusal{TRunFault::GridNotLoaded, {}};
  } catch (const std::exception&) {
    // Given up for a stop request: the caller ends the run as stopped.
    if (!LongStepStopRequested()) throw;
  }
  for (std::size_t z = 0; z < bands.zones.size(); ++z) {
    if (const TGridStandIns* means = bands.means.ForZone(z))
      bands.standIns[z].insert(bands.standIns[z].end(), means->begin(), means->end());
  }

  // The bands share one budget of azimuth tables, the inner ones first.
  const TEvaluationLimits limits;
  bands.tables.reserve(bands.layouts.size());
  std::int64_t azimuthEntries = 0;  // table entries taken so far
  for (const TRingLayout& rings : bands.layouts) {
    TEvaluationLimits left = limits;
    left.azimuthTableEntries = limits.azimuthTableEntries - azimuthEntries;
    bands.tables.push_back(BuildRingTable(rings, params.earthRadius, left));
    azimuthEntries += static_cast<std::int64_t>(bands.tables.back().sinAzimuth.size());
  }
  return std::nullopt;
}

// Says nothing and answers no: for a look at a grid's geometry whose load
// proper reports any fault.
class TNoPrompts final : public IUserPrompts {
 public:
  void ShowMessage(const std::string&) override {}
  bool AskYesNo(const std::string&) override { return false; }
};

// Messages of a step that runs on a thread of its own, shown on the
// caller's thread once the step is over: a window's message boxes belong to
// the window's thread.
class TDeferredMessages final : public IUserPrompts {
 public:
  void ShowMessage(const std::string& text) override {
    const std::lock_guard<std::mutex> lock(mutex_);
    messages_.push_back(text);
  }
  bool AskYesNo(const std::string&) override { return false; }
  void ShowTo(IUserPrompts& prompts) {
    const std::lock_guard<std::mutex> lock(mutex_);
    for (const std::string& text : messages_) prompts.ShowMessage(text);
    messages_.clear();
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> messages_;
};

enum class TGridSetUp { Ready, Failed, Refused, Cancelled };

// Loads every row's grids and forms the bands' block means. On a large
// grid this takes seconds to minutes, so it runs on a thread of its own
// while the caller's thread keeps the progress dialog answering: Cancel
// asks "Cancel calculation?" as it does between points, and Yes (or a stop
// request) gives the loading up within a block of the file. `refusal` gets
// the message of a refused zone layout.
// The overviews of the model's grids, each loaded when the block means ask
// for it, and the readers of their files' rows: by each grid's path (the
// rows' references and the model's grids in the same order); overviews
// within the reach that `window` gives around the stations (whole without
// it).
TMeansSources MeansSourcesOfModel(const TLayerModel& model, const TRunParameters& params, IUserPrompts& prompts,
                              const std::function<TNodeWindow(const TGridImports&, double)>& window) {
  auto paths = std::make_shared<std::map<const TGridImports*, std::string>>();
  for (int k = 0; k < params.rowCount; ++k) {
    const auto add = [&paths](const std::unique_ptr<TGridImports>& first, const TGridTail& more,
                              const TLayerValue& value) {
      if (!first || value.grids.size() != more.size() + 1) return;
      (*paths)[first.get()] = value.grids.front().path;
      for (std::size_t n = 0; n < more.size(); ++n) (*paths)[more[n].get()] = value.grids[n + 1].path;
    };
    add(model[k].elevationGrid, model[k].elevationMore, params.layers[k].elevation);
    if (k >= 1) add(model[k].densityGrid, model[k].densityMore, params.layers[k].density);
  }
  return [paths, &prompts, window](TRoledGrid& roled) {
    const TGridImports* grid = roled.grid;
    const auto found = paths->find(grid);
    if (found == paths->end()) return;
    const std::string path = found->second;
    roled.readRows = [path, &prompts](std::int32_t row0, std::int32_t rows, TGridImports& strip) {
      const TWindowChooser choose = [row0, rows](const TGridImports& g) {
        return TNodeWindow{.column0 = 0, .columns = g.nx, .row0 = row0, .rows = rows};
      };
      return LoadGridWindow(strip, path, prompts, choose).fault == TGridFault::kNone;
    };
    roled.windowOf = window;
    std::vector<TGridOverview>& overviews = roled.overviews;
    const std::vector<TGridImports> geometries = GridOverviews(path);
    for (std::size_t n = 0; n < geometries.size(); ++n) {
      const int level = OverviewLevel(FinerSpacingArcSec(*grid), FinerSpacingArcSec(geometries[n]));
      if (level < 1) continue;
      overviews.push_back({.level = level, .load = [path, n, &prompts, window](double reachDeg) {
                             auto overview = std::make_unique<TGridImports>();
                             TWindowChooser choose;
                             if (window && reachDeg < 180)
                               choose = [&window, reachDeg](const TGridImports& g) { return window(g, reachDeg); };
                             if (LoadGridOverview(*overview, path, prompts, int(n), choose).fault != TGridFault::kNone)
                               return std::unique_ptr<TGridImports>{};
                             return overview;
                           }});
    }
  };
}

TGridSetUp LoadGridsAndMeans(TLayerModel& model, const TRunParameters& params, TRunBands& bands,
                             const TRunOptions& options, const std::function<TGridWindowPlan()>& planReach,
                             const std::function<TNodeWindow(const TGridImports&, double)>& overviewWindow,
                             IRunProgress& progress, IUserPrompts& prompts, std::optional<TRunRefusal>& refusal) {
  TDeferredMessages deferred;
  std::atomic<bool> giveUp{false};  // set by this thread, looked at by the loading one
  bool rowsLoaded = true;
  std::exception_ptr thrown;
  const auto load = [&] {
    const TThreadStopScope stopScope(giveUp);
    try {
      const TGridWindowPlan plan = planReach ? planReach() : TGridWindowPlan{};
      TGridLoader loadGrid = options.loadGrid;
      if (options.loadGridWindow) {
        // The front end's loader reads the windows that the plan picks.
        loadGrid = [&options, &plan](TGridImports& grid, const std::string& path, IUserPrompts& gridPrompts) {
          TWindowChooser choose;
          if (plan) choose = [&plan, &path](const TGridImports& geometry) { return plan(path, geometry); };
          return options.loadGridWindow(grid, path, gridPrompts, choose);
        };
      }
      for (int k = 0; k < params.rowCount && rowsLoaded; ++k) {
        rowsLoaded = SetupLayerRow(model, k, params.layers[k], deferred, loadGrid, plan);
      }
      if (rowsLoaded) {
        refusal = CompleteBands(model, params, bands, MeansSourcesOfModel(model, params, deferred, overviewWindow));
        // An overview or rows that did not load: the reader's message is the run's.
        if (refusal && refusal->fault == TRunFault::GridNotLoaded) {
          rowsLoaded = false;
          refusal.reset();
        }
      }
    } catch (...) {
      thrown = std::current_exception();
    }
  };

  bool cancelled = false;
  std::promise<void> finished;
  std::future<void> done = finished.get_future();
  std::thread loader;
  const auto loadHere = [&] {
    load();
    finished.set_value();
  };
  if (options.loadOnCallingThread) {
    loadHere();
  } else {
    try {
      const TStopSignalsBlocked leaveSignalsToTheRun;
      loader = std::thread(loadHere);
    } catch (const std::system_error&) {
      loadHere();  // no thread to spare: here, without Cancel
    }
  }
  while (done.wait_for(std::chrono::milliseconds(30)) != std::future_status::ready) {
    // An interrupt reaches the loading through the process-wide stop
    // request that the signal handlers raise; the run's own look at it
    // comes once the loading is over.
    progress.ProcessMessages();
    if (!giveUp && progress.TakeCancelRequest() && prompts.AskYesNo("Cancel calculation?")) {
      cancelled = true;
      giveUp = true;
    }
  }
  if (loader.joinable()) loader.join();
  if (thrown) std::rethrow_exception(thrown);
  // A loader given up for a stop says nothing; any other message is shown.
  deferred.ShowTo(prompts);
  if (cancelled || progress.StopRequested()) return TGridSetUp::Cancelled;
  if (!rowsLoaded) return TGridSetUp::Failed;
  return refusal ? TGridSetUp::Refused : TGridSetUp::Ready;
}

TRunContext MakeRunContext(const TLayerModel& model, const TRunParameters& params, const TRunBands& bands) {
  std::vector<TZoneRings> zoneRings;
  for (std::size_t z = 0; z < bands.layouts.size(); ++z) {
    const bool own = z >= bands.standIns.size() || bands.standIns[z].empty();
    zoneRings.push_back({.rings = bands.layouts[z], .table = bands.tables[z],
                         .standIns = own ? nullptr : &bands.standIns[z]});
  }
  return TRunContext{.model = model,
                     .zones = std::move(zoneRings),
                     .rowCount = params.rowCount,
                     .earthRadius = params.earthRadius,
                     .psiFrom = bands.zones.front().psiFromDeg * kDegToRad,
                     .psiTo = bands.zones.back().psiToDeg * kDegToRad,
                     .increment = params.increment,
                     .priority = static_cast<int>(params.priority),
                     .twoPiG = 2.0 * kPi * params.gravityConstant,
                     .unitFactor = params.outputUnit == TOutputUnit::MilliGal ? 1.0 : 1000.0,
                     .layout = MakeResultLayout(params.increment, params.sumOnly, params.rowCount),
                     .limits = TEvaluationLimits{}};
}

// A record whose row count claims more rows than it holds is a caller's
// fault, not a user's: thrown before anything is shown or set up.
void RequireRows(const TRunParameters& params, const char* caller) {
  if (params.rowCount > static_cast<int>(params.layers.size())) {
    throw std::invalid_argument(std::string(caller) + ": rowCount exceeds the layer rows given");
  }
}

// How a step of the set-up ended.
enum class TStepEnd {
  Passed,
  Refused,  // the message was shown
  Stopped,  // given up for a stop request or a confirmed Cancel
};

// The set-up that a whole run and a served run share, in the steps between
// which a whole run reads its point file and opens its result file: the
// record's values checked, the bands known before the grids laid out, then
// the grids loaded and the bands completed from them. A step that refuses
// shows why to `prompts` and leaves its fault in `fault`. The grids are released and the progress display
// hidden when the set-up goes, on every path; a run's files, declared after
// it, are closed before that.
class TRunSetUp {
 public:
  TRunSetUp(TLayerModel& model, std::vector<TZone>& usedZones, TRunFault& fault, const TRunParameters& params,
            IRunProgress& progress, IUserPrompts& prompts, const TRunOptions& options)
      : model_(model),
        usedZones_(usedZones),
        fault_(fault),
        params_(params),
        progress_(progress),
        prompts_(prompts),
        options_(options),
        end_(model, std::min(params.rowCount, MaxLayerRows), progress) {
    usedZones_.clear();
    fault_ = TRunFault::None;
  }

  // The values no run can use; then the bands known before the grids and
  // the layer rows.
  bool CheckValues() { return Passes(CheckRunValues(params_)); }
  bool LayOutBands() { return Passes(LayOutKnownBands(params_, bands_)); }

  // Loads the grids and completes the bands. Once it passed, UsedZones
  // holds the bands of the run and Context() may be called. Given the
  // stations of the run, each grid is read only within their reach.
  TStepEnd Complete(const TStationArea* stations = nullptr) {
    if (options_.beforeGrids) options_.beforeGrids(params_, stations);
    std::optional<TRunRefusal> refusal;
    const auto plan = [this, stations] { return PlanReach(stations); };
    // Overviews in the stations' reach, as the grids are; whole for a front
    // end that loads the grids itself.
    std::function<TNodeWindow(const TGridImports&, double)> overviewWindow;
    if (stations != nullptr && !stations->empty() && !options_.loadGrid)
      overviewWindow = [stations](const TGridImports& g, double reachDeg) { return stations->WindowOf(g, reachDeg); };
    switch (LoadGridsAndMeans(model_, params_, bands_, options_, plan, overviewWindow, progress_, prompts_, refusal)) {
      case TGridSetUp::Ready:
        break;
      case TGridSetUp::Cancelled:
        return TStepEnd::Stopped;
      case TGridSetUp::Refused:
        Passes(refusal);
        return TStepEnd::Refused;
      case TGridSetUp::Failed:  // the reader said why
        fault_ = TRunFault::GridNotLoaded;
        return TStepEnd::Refused;
    }
    usedZones_ = bands_.zones;
    return TStepEnd::Passed;
  }

  TRunContext Context() const { return MakeRunContext(model_, params_, bands_); }

 private:
  // The window of each grid that the bands sample around `stations`, by
  // the grid's path: empty (whole grids) without stations and for a front
  // end that loads the grids itself. The block means of a grid read in a
  // window come from its file's overviews or from the file read in strips
  // (TZoneGridMeans), and its box means from the file read in strips: never
  // from the grid read whole. The geometries that a preset's bands and the lists need come
  // from a read of each file's first cell.
  TGridWindowPlan PlanReach(const TStationArea* stations) const {
    if (stations == nullptr || stations->empty() || options_.loadGrid) return {};
    std::map<std::string, TGridImports> geometries;
    const auto geometry = [&geometries](const std::string& path) -> const TGridImports* {
      auto found = geometries.find(path);
      if (found == geometries.end()) {
        TGridImports seen, cell;
        TNoPrompts quiet;  // the load proper reports a fault
        const TWindowChooser firstCell = [&seen](const TGridImports& g) {
          seen = g;
          return TNodeWindow{.column0 = 0, .columns = 2, .row0 = 0, .rows = 2};
        };
        if (LoadGridWindow(cell, path, quiet, firstCell).fault != TGridFault::kNone) return nullptr;
        found = geometries.emplace(path, std::move(seen)).first;
      }
      return &found->second;
    };
    // The paths of each list, finest first, and their geometries.
    std::vector<std::vector<std::string>> lists;
    for (int k = 0; k < params_.rowCount; ++k) {
      const TLayerRow& row = params_.layers[k];
      for (const TLayerValue* value : {&row.elevation, &row.density}) {
        if (value == &row.density && k == 0) continue;
        if (value->grids.empty()) continue;
        std::vector<std::string>& paths = lists.emplace_back();
        for (const TGridReference& grid : value->grids) paths.push_back(grid.path);
      }
    }
    std::vector<TZone> zones = bands_.zones;
    if (const auto* preset = std::get_if<TZonePreset>(&params_.zone)) {
      // The bands that CompleteBands forms once the grids are loaded, from
      // the same geometries.
      std::vector<std::vector<const TGridImports*>> geometries;
      for (const auto& paths : lists) {
        std::vector<const TGridImports*>& list = geometries.emplace_back();
        for (const std::string& path : paths) {
          const TGridImports* g = geometry(path);
          if (g == nullptr || !(FinerSpacingArcSec(*g) > 0)) return {};
          list.push_back(g);
        }
      }
      const auto presetZones = geometries.empty() ? PresetZones(preset->name, 60.0)
                                                  : PresetZones(preset->name, PresetSpacings(geometries));
      if (!presetZones) return {};
      zones = *presetZones;
    }
    if (zones.empty()) return {};

    // Whether a band on block means takes its means from elsewhere than the
    // grid read for the run: from the file's overviews or from its rows
    // read in strips (TZoneGridMeans), at every level of the pyramid but 0
    // and for every box wider than a cell (one within a cell samples the
    // grid itself: BoxWithinCell).
    const auto meansApart = [&](const std::string& path, const TZone& zone) {
      const TGridImports* g = geometry(path);
      if (g == nullptr) return false;
      const double spacingArcSec = FinerSpacingArcSec(*g);
      if (zone.boxMeans) return !BoxWithinCell(*g, zone.segmentSizeArcSec) && g->nx >= 2 && g->ny >= 2;
      return MeanLevel(spacingArcSec, zone.segmentSizeArcSec) >= 1;
    };
    // Per path the farthest band that reads it at full resolution (a band
    // on block means at level 0 samples the grid itself); 180 degrees when
    // the grid's geometry could not be had.
    std::map<std::string, double> reachDeg;
    for (const auto& paths : lists) {
      std::vector<const TGridImports*> list;
      for (const std::string& path : paths) {
        const TGridImports* g = paths.size() > 1 ? geometry(path) : nullptr;
        if (paths.size() > 1 && g == nullptr) return {};
        list.push_back(g);
      }
      for (std::size_t n = 0; n < paths.size(); ++n) {
        double& reach = reachDeg[paths[n]];
        for (const TZone& zone : zones) {
          if (paths.size() > 1 && !BandReadsGrid(zone, list, n)) continue;
          if (zone.blockMeans && meansApart(paths[n], zone)) continue;
          reach = std::max(reach, zone.blockMeans ? 180.0 : zone.psiToDeg);
        }
      }
    }
    return [stations, reachDeg = std::move(reachDeg)](const std::string& path, const TGridImports& g) {
      const auto found = reachDeg.find(path);
      return stations->WindowOf(g, found == reachDeg.end() ? 180.0 : found->second);
    };
  }

  bool Passes(const std::optional<TRunRefusal>& refusal) {
    if (!refusal) return true;
    fault_ = refusal->fault;
    prompts_.ShowMessage(refusal->message);
    return false;
  }

  TLayerModel& model_;
  std::vector<TZone>& usedZones_;
  TRunFault& fault_;
  const TRunParameters& params_;
  IRunProgress& progress_;
  IUserPrompts& prompts_;
  const TRunOptions& options_;
  TRunEnd end_;
  TRunBands bands_;
};

// The points of a run in their order: the lines of the point file, or the
// nodes of the grid of points, made one by one so that memory does not grow
// with the grid.
class TRunPoints {
 public:
  explicit TRunPoints(const TRunParameters& params) : params_(params) {}

  // The number of points, or empty after the point file's fault was shown.
  std::optional<long> Count(IUserPrompts& prompts) const {
    if (params_.pointGrid) return static_cast<long>(GridColumns(*params_.pointGrid) * GridRows(*params_.pointGrid));
    return CountPoints(params_.dataFile, prompts);
  }
  // Opens the point file; a grid needs none.
  bool Open(IUserPrompts& prompts) {
    if (params_.pointGrid) return true;
    file_ = OpenInputStream(params_.dataFile);
    if (file_) {
      // The format was checked when the points were counted.
      format_ = ReadPointFormat(file_.get(), params_.dataFile);
      reader_.emplace(file_.get(), format_);
      return true;
    }
    prompts.ShowMessage(RunFaultMessage(TRunFault::PointFileLost, params_.dataFile.c_str()));
    return false;
  }
  // Adds every point's position to `stations` (for a grid its south and
  // north rows, which span its area) and starts from the first point again.
  // A stop request cuts the pass short.
  void MarkArea(TStationArea& stations) {
    if (params_.pointGrid) {
      const TPointGrid& grid = *params_.pointGrid;
      const std::int64_t columns = GridColumns(grid);
      const std::int64_t northRow = (GridRows(grid) - 1) * columns;
      for (std::int64_t c = 0; c < columns && !LongStepStopRequested(); ++c) {
        for (const std::int64_t index : {c, northRow + c}) {
          const TCalcPoint node = GridNode(grid, index);
          stations.Add(node.phi, node.lambda);
        }
      }
      return;
    }
    for (bool atEnd = false; !atEnd && !LongStepStopRequested();) {
      if (const std::optional<TCalcPoint> point = reader_->Next(atEnd)) stations.Add(point->phi, point->lambda);
    }
    std::rewind(file_.get());
    reader_.emplace(file_.get(), format_);
  }

  // From the first point again, with the grids of `model` loaded: a grid
  // above the surface takes its heights from the first layer's top.
  void Restart(const TLayerModel& model) {
    model_ = &model;
    next_ = 0;
    if (file_) {
      std::rewind(file_.get());
      reader_.emplace(file_.get(), format_);
    }
  }
  // The next point; `atEnd` becomes true after the last. Throws (failing
  // the run) where the first layer's top is blank under a node that needs it.
  std::optional<TCalcPoint> Next(bool& atEnd) {
    if (reader_) return reader_->Next(atEnd);
    const TPointGrid& grid = *params_.pointGrid;
    TCalcPoint point = GridNode(grid, next_++);
    if (next_ >= GridColumns(grid) * GridRows(grid)) atEnd = true;
    if (grid.aboveSurface) point.height += TopAt(point);
    return point;
  }

 private:
  // The top of the first layer at a node, metres.
  double TopAt(const TCalcPoint& point) const {
    const TLayerDef& top = (*model_)[0];
    if (!top.elevationGrid) return top.elevation;
    const double elevation = SampleElevation(*model_, 0, point.lambda, point.phi);
    if (elevation > kBlankThreshold) {
      throw std::runtime_error(CFormat("The top of the first layer is blank under node %.0f (%.6f, %.6f) of the grid "
                                       "of points, whose height counts from it.",
                                       point.pointNumber, point.lambda, point.phi));
    }
    return elevation;
  }

  const TRunParameters& params_;
  TFilePtr file_;
  TPointFormat format_;
  std::optional<TPointReader> reader_;
  const TLayerModel* model_ = nullptr;
  std::int64_t next_ = 0;  // index of the next node
};

// A run's result file from its opening to the end of the run. It is written
// under a temporary name and put in place from the run's first point on (or
// at the end of a completed run without points), so that a run that ends
// before leaves an earlier file as it was. It is finished on every path out
// of the run, an early return or an exception as much as the normal end. A
// failure to write, to put it in place or to finish is shown once
// (ResultUnwritten).
class TRunResultFile {
 public:
  TRunResultFile(IUserPrompts& prompts, TRunFault& fault, bool& putInPlace)
      : prompts_(prompts), fault_(fault), putInPlace_(putInPlace) {}
  ~TRunResultFile() {
    try {
      Finish();
    } catch (...) {
      // A prompt that throws while the run unwinds: the file is closed all the same.
    }
  }
  TRunResultFile(const TRunResultFile&) = delete;
  TRunResultFile& operator=(const TRunResultFile&) = delete;

  // False after ResultUnopened's message.
  bool Open(const std::string& name) {
    name_ = name;
    if (writer_.Open(name)) return true;
    fault_ = TRunFault::ResultUnopened;
    prompts_.ShowMessage(RunFaultMessage(fault_, name.c_str()));
    finished_ = true;
    return false;
  }
  bool Write(const std::string& text) { return writer_.Write(text) || WriteFailed(); }
  // Replaces the earlier file; later calls do nothing.
  bool PutInPlace() {
    if (putInPlace_) return true;
    if (!writer_.Commit()) return WriteFailed();
    putInPlace_ = true;
    return true;
  }
  // Writes what is pending and closes; a file never put in place is
  // removed. Buffered data meets the disk only here: a full disk shows here.
  bool Finish() {
    if (finished_) return !failed_;
    finished_ = true;
    return writer_.Finish() || WriteFailed();
  }

 private:
  bool WriteFailed() {
    if (!failed_) {
      fault_ = TRunFault::ResultUnwritten;
      prompts_.ShowMessage(RunFaultMessage(fault_, name_.c_str()));
    }
    failed_ = true;
    return false;
  }

  IUserPrompts& prompts_;
  TRunFault& fault_;
  bool& putInPlace_;
  TResultFileWriter writer_;
  std::string name_;
  bool finished_ = false;
  bool failed_ = false;  // a failure was shown
};

}  // namespace

double FinestGridSpacingArcSec(const TLayerModel& model, int rowCount) {
  constexpr double kNoGridArcSec = 60;  // arc-seconds
  double finest = 0;
  const auto consider = [&finest](const std::unique_ptr<TGridImports>& grid) {
    if (!grid || !grid->loaded()) return;
    const double spacing = FinerSpacingArcSec(*grid);
    if (spacing > 0 && (finest == 0 || spacing < finest)) finest = spacing;
  };
  for (int k = 0; k < std::min(rowCount, MaxLayerRows); ++k) {
    consider(model[k].elevationGrid);
    for (const auto& grid : model[k].elevationMore) consider(grid);
    if (k >= 1) {
      consider(model[k].densityGrid);
      for (const auto& grid : model[k].densityMore) consider(grid);
    }
  }
  return finest > 0 ? finest : kNoGridArcSec;
}

TRunOutcome TCalcEngine::RunCalculation(const TRunParameters& params, IRunProgress& progress,
                                        IUserPrompts& prompts, const TRunOptions& options) {
  RequireRows(params, "RunCalculation");
  resultWritten_ = false;

  progress.Show();
  // Declared before the files, so it ends after they are closed.
  TRunSetUp setUp(layerModel, usedZones_, lastFault_, params, progress, prompts, options);
  progress.SetPosition(0);
  progress.ProcessMessages();

  if (!setUp.CheckValues()) return TRunOutcome::Failed;
  TRunPoints points(params);
  const std::optional<long> count = points.Count(prompts);
  if (!count) {
    lastFault_ = TRunFault::PointFile;
    return TRunOutcome::Failed;
  }
  if (!setUp.LayOutBands()) return TRunOutcome::Failed;

  progress.SetMaximum(static_cast<int>(std::min<long>(*count, INT_MAX)));

  if (!points.Open(prompts)) {
    lastFault_ = TRunFault::PointFileLost;
    return TRunOutcome::Failed;
  }
  progress.SetCaption("T4");

  TRunResultFile result(prompts, lastFault_, resultWritten_);
  const std::string resultName = OutputFileName(params.dataFile, params.appendText, "_dce.dat");
  if (!result.Open(resultName)) return TRunOutcome::Failed;
  const TResultLayout layout = MakeResultLayout(params.increment, params.sumOnly, params.rowCount);
  if (!result.Write(ResultHeader(layout))) return TRunOutcome::Failed;

  // The stations' area, so that grids are read only where the bands reach.
  // A stop request cuts the pass short; the loading that follows gives up.
  TStationArea stations;
  points.MarkArea(stations);

  // An earlier result file stays as it was when the set-up ends the run.
  switch (setUp.Complete(&stations)) {
    case TStepEnd::Passed:
      break;
    case TStepEnd::Refused:
      return TRunOutcome::Failed;
    case TStepEnd::Stopped:
      return TRunOutcome::Cancelled;
  }
  // A grid's rasters, fed the text file's lines; in place once the run completed.
  TResultRasters rasters;
  std::string rasterMessage;
  if (params.pointGrid && !rasters.Open(params, resultName, rasterMessage)) {
    prompts.ShowMessage(rasterMessage);
    return TRunOutcome::Failed;
  }
  const TRunContext ctx = setUp.Context();
  int workers = options.threads;
  if (workers <= 0) workers = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));

  points.Restart(layerModel);
  TRunOutcome outcome = TRunOutcome::Completed;
  // Whatever a point or a worker throws (memory, a value that is not
  // finite, a thread that cannot start) fails the run with its message; the
  // file keeps the lines before it.
  try {
    const std::unique_ptr<IPointLines> lines = options.pointLines
                                                   ? options.pointLines(params, ctx, workers, progress)
                                                   : std::make_unique<TPointPipeline>(ctx, workers, progress);
    IPointLines& pipeline = *lines;
    long read = 0, done = 0;
    bool atEnd = false;
    for (;;) {
      // An interrupt stops at once, without a question.
      if (progress.StopRequested()) {
        outcome = TRunOutcome::Cancelled;
        break;
      }
      // Keep the workers fed with the next points of the file, in file order.
      while (!atEnd && read - done < pipeline.window()) {
        if (const std::optional<TCalcPoint> point = points.Next(atEnd)) {
          pipeline.Submit(read++, *point);
        }
      }
      if (done == read) break;
      progress.SetPosition(static_cast<int>(std::min<long>(done, INT_MAX)));
      progress.ProcessMessages();
      const std::optional<std::string> line = pipeline.Take(done, [&progress]() -> bool {
        progress.ProcessMessages();
        return progress.StopRequested();
      });
      if (!line) {
        outcome = TRunOutcome::Cancelled;
        break;
      }
      ++done;
      // From its first point on, the run's file replaces the earlier one.
      if (!result.Write(*line) || !result.PutInPlace()) return TRunOutcome::Failed;
      if (params.pointGrid && !rasters.Take(*line, rasterMessage)) {
        prompts.ShowMessage(rasterMessage);
        return TRunOutcome::Failed;
      }
      progress.ProcessMessages();
      // Cancel is looked at between points only: the file holds whole lines.
      if (progress.TakeCancelRequest()) {
        // A request that comes once every point is done cancels nothing:
        // look past lines that are no points for one still to come.
        while (!atEnd && read == done) {
          if (const std::optional<TCalcPoint> point = points.Next(atEnd)) {
            pipeline.Submit(read++, *point);
          }
        }
        if (read > done && prompts.AskYesNo("Cancel calculation?")) {
          outcome = TRunOutcome::Cancelled;
          break;
        }
      }
    }
  } catch (const std::bad_alloc&) {
    lastFault_ = TRunFault::OutOfMemory;
    prompts.ShowMessage(RunFaultMessage(lastFault_));
    return TRunOutcome::Failed;
  } catch (const std::exception& e) {
    lastFault_ = TRunFault::PointFailed;
    prompts.ShowMessage(RunFaultMessage(lastFault_, e.what()));
    return TRunOutcome::Failed;
  }
  // A completed run replaces the earlier file even without points.
  if (outcome == TRunOutcome::Completed && !result.PutInPlace()) return TRunOutcome::Failed;
  if (!result.Finish()) return TRunOutcome::Failed;
  // A run that stopped keeps the text file's whole lines and writes no raster.
  if (outcome == TRunOutcome::Completed && params.pointGrid && !rasters.PutInPlace(rasterMessage)) {
    prompts.ShowMessage(rasterMessage);
    return TRunOutcome::Failed;
  }
  return outcome;
}

bool TCalcEngine::ServeRun(const TRunParameters& params, IUserPrompts& prompts, const TRunOptions& options,
                           const std::function<void(const TRunContext& ctx)>& serve,
                           const TStationArea* stations) {
  RequireRows(params, "ServeRun");
  TSilentProgress noProgress;
  // The same refusals as RunCalculation's, bar the point file's.
  TRunSetUp setUp(layerModel, usedZones_, lastFault_, params, noProgress, prompts, options);
  if (!setUp.CheckValues() || !setUp.LayOutBands() || setUp.Complete(stations) != TStepEnd::Passed) return false;
  serve(setUp.Context());
  return true;
}

}  // namespace globelayers

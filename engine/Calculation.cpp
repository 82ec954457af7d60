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
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "Geodesy.h"
#include "GridMeans.h"
#include "InputFile.h"
#include "NumberText.h"
#include "PointEvaluation.h"
#include "PointFile.h"
#include "PointPipeline.h"
#include "ResultFile.h"
#include "RingLayout.h"
#include "StopRequest.h"

namespace globelayers {
namespace {


// Rows the layer dialog would never produce, refused before anything is
// written. Rows are numbered from 1 as in the layer table.
std::optional<std::string> CheckLayerRows(const TRunParameters& params) {
  if (params.rowCount > MaxLayerRows) return "Number of layers must be less or equal 15";
  for (int k = 0; k < params.rowCount; ++k) {
    const TLayerRow& row = params.layers[k];
    if (!row.elevation.defined()) {
      return CFormat("Layer %d: One of const height or grid height must be defined", k + 1);
    }
    if (k >= 1 && !row.density.defined()) {
      return CFormat("Layer %d: One of const density or grid density must be defined", k + 1);
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

// The bands of a run: its zone list, or the one band that the distances and
// the segment size give.
std::vector<TZone> RunZones(const TRunParameters& params) {
  if (!params.zones.empty()) return params.zones;
  return {TZone{.psiFromDeg = params.psiFromDeg, .psiToDeg = params.psiToDeg, .segmentSizeArcSec = params.segmentSize}};
}

std::optional<TRingLayout> ZoneLayout(const TRunParameters& params, const TZone& zone) {
  return BuildRingLayout(zone.psiFromDeg * kDegToRad, zone.psiToDeg * kDegToRad, params.azimuthFromDeg * kDegToRad,
                         params.azimuthToDeg * kDegToRad, zone.segmentSizeArcSec, params.earthRadius);
}

// A zone list that does not tile one band from the inner distance outwards,
// or that gives more rings or segments than a run may have. Zones are
// numbered from 1 as in the settings file. Needs a valid Earth radius and
// azimuths.
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

std::optional<std::string> CheckZones(const TRunParameters& params) {
  if (params.zones.size() > static_cast<std::size_t>(kMaxZones)) {
    return CFormat("The run has %zu zones, more than the %d a run may have.", params.zones.size(), kMaxZones);
  }
  std::int64_t segments = 0;
  for (std::size_t k = 0; k < params.zones.size(); ++k) {
    const TZone& zone = params.zones[k];
    const int number = static_cast<int>(k) + 1;
    if (!std::isfinite(zone.psiFromDeg) || !std::isfinite(zone.psiToDeg)) {
      return CFormat("Zone %d: the distances must be finite numbers of degrees, not %.10g to %.10g.", number,
                     zone.psiFromDeg, zone.psiToDeg);
    }
    if (zone.psiFromDeg < 0 || zone.psiToDeg > 180) {
      return CFormat("Zone %d: the distances %.10g to %.10g degrees must lie within 0 to 180 degrees.", number,
                     zone.psiFromDeg, zone.psiToDeg);
    }
    if (!(zone.psiToDeg > zone.psiFromDeg)) {
      return CFormat("Zone %d: its outer distance of %.10g degrees must be greater than its inner distance of "
                     "%.10g degrees.",
                     number, zone.psiToDeg, zone.psiFromDeg);
    }
    if (k > 0) {
      const double previousToDeg = params.zones[k - 1].psiToDeg;  // degrees
      switch (JoinOf(previousToDeg, zone.psiFromDeg)) {
        case TZoneJoin::Joined:
          break;
        case TZoneJoin::Gap:
          return CFormat("Zone %d starts at %.10g degrees, but zone %d ends at %.10g degrees: the zones must join "
                         "without a gap.",
                         number, zone.psiFromDeg, number - 1, previousToDeg);
        case TZoneJoin::Overlap:
          return CFormat("Zone %d starts at %.10g degrees, but zone %d ends at %.10g degrees: the zones must not "
                         "overlap.",
                         number, zone.psiFromDeg, number - 1, previousToDeg);
      }
    }
    if (!(zone.segmentSizeArcSec > 0) || !std::isfinite(zone.segmentSizeArcSec)) {
      return CFormat("Zone %d: the segment size must be a positive finite number of arc-seconds, not %.10g.", number,
                     zone.segmentSizeArcSec);
    }
    const std::optional<TRingLayout> rings = ZoneLayout(params, zone);
    if (!rings) {
      return CFormat("Zone %d (%.10g to %.10g degrees) needs more than %d rings at a segment size of %.10g "
                     "arc-seconds: choose a larger segment size for it.",
                     number, zone.psiFromDeg, zone.psiToDeg, MaxRings, zone.segmentSizeArcSec);
    }
    if (!CoversItsBand(*rings, zone)) {
      return CFormat("Zone %d (%.10g to %.10g degrees) would get no rings over part of its band at a segment size "
                     "of %.10g arc-seconds: on each side of 90 degrees a zone must be at least one segment wide.",
                     number, zone.psiFromDeg, zone.psiToDeg, zone.segmentSizeArcSec);
    }
    segments += SegmentTotal(*rings);
  }
  if (segments > kMaxSegmentsPerPoint) {
    return CFormat("The zones need %lld segments per point, more than the limit of %lld: choose larger segment "
                   "sizes or a smaller azimuth range.",
                   static_cast<long long>(segments), static_cast<long long>(kMaxSegmentsPerPoint));
  }
  return std::nullopt;
}

// Values that no run can use, refused before anything is read or written:
// each would end in numbers that are not finite, or in a counter that
// overflows.
std::optional<std::string> CheckRunValues(const TRunParameters& params) {
  if (!(params.earthRadius > 0 && params.earthRadius <= kMaxEarthRadius)) {
    return CFormat("The Earth radius must be a positive number of metres, at most %.0e, not %.10g.",
                   kMaxEarthRadius, params.earthRadius);
  }
  if (!std::isfinite(params.gravityConstant)) {
    return CFormat("The gravitational constant must be a finite number, not %.10g.", params.gravityConstant);
  }
  if (!std::isfinite(params.increment)) {
    return CFormat("The increment must be a finite number of metres, not %.10g.", params.increment);
  }
  if (!std::isfinite(params.azimuthFromDeg) || !std::isfinite(params.azimuthToDeg)) {
    return CFormat("The azimuths must be finite numbers of degrees, not %.10g to %.10g.", params.azimuthFromDeg,
                   params.azimuthToDeg);
  }
  if (!params.zonePreset.empty()) {
    if (PresetName(params.zonePreset)) return std::nullopt;
    return "Unknown zone preset '" + params.zonePreset + "': the presets are " + PresetNameList() + ".";
  }
  if (!params.zones.empty()) return CheckZones(params);
  // A layout that does not build is refused later, with its own message.
  const std::optional<TRingLayout> rings =
      BuildRingLayout(params.psiFromDeg * kDegToRad, params.psiToDeg * kDegToRad, params.azimuthFromDeg * kDegToRad,
                      params.azimuthToDeg * kDegToRad, params.segmentSize, params.earthRadius);
  if (rings) {
    const std::int64_t segments = SegmentTotal(*rings);
    if (segments > kMaxSegmentsPerPoint) {
      return CFormat("The zone needs %lld segments per point, more than the limit of %lld: choose a larger "
                     "segment size or a smaller azimuth range.",
                     static_cast<long long>(segments), static_cast<long long>(kMaxSegmentsPerPoint));
    }
  }
  return std::nullopt;
}

// What the point loop reads besides the layer model: the bands, their
// block means and their tables. A run context refers into it, so it stays
// where it was built until the run is over.
struct TRunBands {
  std::vector<TZone> zones;         // from the inner distance outwards; a preset's once the grids are loaded
  std::vector<TRingLayout> layouts;  // one per band
  TZoneGridMeans means;
  std::vector<TRingTable> tables;    // one per band
};

// The ring layouts of the bands known before the grids (a zone list was
// checked zone by zone already; this refuses the single band), and the
// layer rows. The refusal's message when the run cannot go on.
std::optional<std::string> LayoutBands(const TRunParameters& params, TRunBands& bands) {
  bands.layouts.reserve(bands.zones.size());
  for (const TZone& zone : bands.zones) {
    const std::optional<TRingLayout> rings = ZoneLayout(params, zone);
    if (!rings) return "Grid cell size must be greater then 1'";
    bands.layouts.push_back(*rings);
  }
  if (params.rowCount < 2) return "Number of layers must be grater or equal 2";
  return CheckLayerRows(params);
}

// Completes the bands once the grids of `model` are loaded: a preset's
// bands, the block means and the azimuth tables. The refusal's message when
// the run cannot go on.
std::optional<std::string> CompleteBands(const TLayerModel& model, const TRunParameters& params, TRunBands& bands) {
  if (!params.zonePreset.empty()) {
    TRunParameters withZones = params;
    withZones.zonePreset.clear();
    withZones.zones = *PresetZones(params.zonePreset, FinestGridSpacingArcSec(model, params.rowCount));
    std::optional<std::string> refusal = CheckZones(withZones);
    for (const TZone& zone : withZones.zones) {
      if (refusal) break;
      if (const std::optional<TRingLayout> rings = ZoneLayout(withZones, zone)) {
        bands.layouts.push_back(*rings);
      } else {
        refusal = "Grid cell size must be greater then 1'";
      }
    }
    if (refusal) return "Zone preset " + params.zonePreset + ": " + *refusal;
    bands.zones = std::move(withZones.zones);
  }

  // Block means for the bands that ask for them, formed once from the
  // loaded grids.
  std::vector<const TGridImports*> grids;
  for (int k = 0; k < params.rowCount; ++k) {
    // Every grid of a list has its own means.
    if (model[k].elevationGrid) grids.push_back(model[k].elevationGrid.get());
    for (const auto& grid : model[k].elevationMore) grids.push_back(grid.get());
    if (k >= 1 && model[k].densityGrid) grids.push_back(model[k].densityGrid.get());
    if (k >= 1) {
      for (const auto& grid : model[k].densityMore) grids.push_back(grid.get());
    }
  }
  try {
    bands.means = TZoneGridMeans(grids, bands.zones);
  } catch (const std::bad_alloc&) {
    return "The calculation ran out of memory while forming the block means of the grids.";
  } catch (const std::exception&) {
    // Given up for a stop request: the caller ends the run as stopped.
    if (!LongStepStopRequested()) throw;
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
TGridSetUp LoadGridsAndMeans(TLayerModel& model, const TRunParameters& params, TRunBands& bands,
                             const TGridLoader& loadGrid, IRunProgress& progress, IUserPrompts& prompts,
                             std::optional<std::string>& refusal) {
  TDeferredMessages deferred;
  std::atomic<bool> giveUp{false};  // set by this thread, looked at by the loading one
  bool rowsLoaded = true;
  std::exception_ptr thrown;
  const auto load = [&] {
    const TThreadStopScope stopScope(giveUp);
    try {
      for (int k = 0; k < params.rowCount && rowsLoaded; ++k) {
        rowsLoaded = SetupLayerRow(model, k, params.layers[k], deferred, loadGrid);
      }
      if (rowsLoaded) refusal = CompleteBands(model, params, bands);
    } catch (...) {
      thrown = std::current_exception();
    }
  };

  bool cancelled = false;
  std::promise<void> finished;
  std::future<void> done = finished.get_future();
  std::thread loader;
  try {
    const TStopSignalsBlocked leaveSignalsToTheRun;
    loader = std::thread([&] {
      load();
      finished.set_value();
    });
  } catch (const std::system_error&) {
    // No thread to spare: load on this one, without Cancel.
    load();
    finished.set_value();
  }
  while (done.wait_for(std::chrono::milliseconds(30)) != std::future_status::ready) {
    progress.ProcessMessages();
    if (progress.StopRequested()) giveUp = true;
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
    zoneRings.push_back({.rings = bands.layouts[z], .table = bands.tables[z], .standIns = bands.means.ForZone(z)});
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
  if (params.rowCount > static_cast<int>(params.layers.size())) {
    throw std::invalid_argument("RunCalculation: rowCount exceeds the layer rows given");
  }
  usedZones_.clear();
  resultWritten_ = false;

  progress.Show();
  // Declared before the files, so it runs after they are closed.
  TRunEnd runEnd(layerModel, std::min(params.rowCount, MaxLayerRows), progress);
  progress.SetPosition(0);
  progress.ProcessMessages();

  if (const auto refusal = CheckRunValues(params)) {
    prompts.ShowMessage(*refusal);
    return TRunOutcome::Failed;
  }
  const std::optional<long> count = CountPoints(params.dataFile, prompts);
  if (!count) return TRunOutcome::Failed;

  // A preset's bands are known once the grids are loaded.
  TRunBands bands;
  if (params.zonePreset.empty()) bands.zones = RunZones(params);
  if (const auto refusal = LayoutBands(params, bands)) {
    prompts.ShowMessage(*refusal);
    return TRunOutcome::Failed;
  }

  progress.SetMaximum(static_cast<int>(std::min<long>(*count, INT_MAX)));

  const TFilePtr points = OpenInputStream(params.dataFile);
  if (!points) {
    prompts.ShowMessage(FormatMessage("Error by opening file %s\n", params.dataFile));
    return TRunOutcome::Failed;
  }
  progress.SetCaption("T4");

  const std::string resultName = OutputFileName(params.dataFile, params.appendText, "_dce.dat");
  TResultFileWriter result;
  if (!result.Open(resultName)) {
    prompts.ShowMessage(FormatMessage("Error by opening file  %s\n", resultName));
    return TRunOutcome::Failed;
  }
  const auto writeFailed = [&] {
    prompts.ShowMessage(FormatMessage("Error by writing file %s\n", resultName));
    return TRunOutcome::Failed;
  };
  const auto commit = [&] {
    if (!result.Commit()) return false;
    resultWritten_ = true;
    return true;
  };
  const TResultLayout layout = MakeResultLayout(params.increment, params.sumOnly, params.rowCount);
  if (!result.Write(ResultHeader(layout))) return writeFailed();

  if (options.beforeGrids) options.beforeGrids(params);
  // A run cancelled or stopped here, or whose grids fail, leaves an earlier
  // result file as it was.
  std::optional<std::string> refusal;
  switch (LoadGridsAndMeans(layerModel, params, bands, options.loadGrid, progress, prompts, refusal)) {
    case TGridSetUp::Ready:
      break;
    case TGridSetUp::Cancelled:
      return TRunOutcome::Cancelled;
    case TGridSetUp::Refused:
      prompts.ShowMessage(*refusal);
      [[fallthrough]];
    case TGridSetUp::Failed:
      if (!result.Finish()) return writeFailed();
      return TRunOutcome::Failed;
  }
  usedZones_ = bands.zones;
  const TRunContext ctx = MakeRunContext(layerModel, params, bands);
  int workers = options.threads;
  if (workers <= 0) workers = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));

  std::rewind(points.get());
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
        if (const std::optional<TCalcPoint> point = ReadPointLine(points.get(), atEnd)) {
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
      if (!result.Write(*line)) return writeFailed();
      // From its first point on, the run's file replaces the earlier one.
      if (!resultWritten_ && !commit()) return writeFailed();
      progress.ProcessMessages();
      // Cancel is looked at between points only: the file holds whole lines.
      if (progress.TakeCancelRequest()) {
        // A request that comes once every point is done cancels nothing:
        // look past lines that are no points for one still to come.
        while (!atEnd && read == done) {
          if (const std::optional<TCalcPoint> point = ReadPointLine(points.get(), atEnd)) {
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
    prompts.ShowMessage("The calculation ran out of memory.");
    if (!result.Finish()) writeFailed();
    return TRunOutcome::Failed;
  } catch (const std::exception& e) {
    prompts.ShowMessage(e.what());
    if (!result.Finish()) writeFailed();
    return TRunOutcome::Failed;
  }
  // A completed run replaces the earlier file even without points.
  if (outcome == TRunOutcome::Completed && !resultWritten_ && !commit()) return writeFailed();
  // Buffered data meets the disk only now: a full disk shows here.
  if (!result.Finish()) return writeFailed();
  return outcome;
}

bool TCalcEngine::ServeRun(const TRunParameters& params, IUserPrompts& prompts, const TRunOptions& options,
                           const std::function<void(const TRunContext& ctx)>& serve) {
  if (params.rowCount > static_cast<int>(params.layers.size())) {
    throw std::invalid_argument("ServeRun: rowCount exceeds the layer rows given");
  }
  usedZones_.clear();
  TSilentProgress noProgress;
  TRunEnd runEnd(layerModel, std::min(params.rowCount, MaxLayerRows), noProgress);
  // The same refusals as RunCalculation's, bar the point file's.
  if (const auto refusal = CheckRunValues(params)) {
    prompts.ShowMessage(*refusal);
    return false;
  }
  TRunBands bands;
  if (params.zonePreset.empty()) bands.zones = RunZones(params);
  if (const auto refusal = LayoutBands(params, bands)) {
    prompts.ShowMessage(*refusal);
    return false;
  }
  for (int k = 0; k < params.rowCount; ++k) {
    if (!SetupLayerRow(layerModel, k, params.layers[k], prompts, options.loadGrid)) return false;
  }
  if (const auto refusal = CompleteBands(layerModel, params, bands)) {
    prompts.ShowMessage(*refusal);
    return false;
  }
  usedZones_ = bands.zones;
  const TRunContext ctx = MakeRunContext(layerModel, params, bands);
  serve(ctx);
  return true;
}

}  // namespace globelayers

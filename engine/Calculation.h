// The calculation run: from a run record to a result file.
//
// TCalcEngine is the GUI-free engine that the progress dialog carries. It
// owns the layer model between the set-up of a run and its end; grids,
// files and the progress display are released on every path out of
// RunCalculation, exceptions included.
#pragma once

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "LayerModel.h"
#include "PointGrid.h"
#include "RunFaults.h"
#include "StartValues.h"
#include "UserPrompts.h"
#include "Zone.h"
#include "ZoneChoice.h"

namespace globelayers {

// Which value counts where the surfaces of a layer cross (its top below its
// bottom). The numbers are the window's radio items and the settings file's
// "priority" values.
enum class TCrossingRule : int {
  ChangeLayersAndSign = 0,  // swap the surfaces and the sign of the attraction
  TopGrid = 1,              // the upper surface's value for both
  BottomGrid = 2,           // the lower surface's value for both
};

// The unit of DTE and DTE(i) in the result file (VGDRE is always in its own).
// The numbers are the window's radio items.
enum class TOutputUnit : int {
  MilliGal = 0,
  MicroGal = 1,
};

// Every value the Calc command hands to the engine, in this order. The zone
// is given in spherical distance psi from the computation point and in
// azimuth (not latitude and longitude, which phi and lambda mean elsewhere
// in the core).
struct TRunParameters {
  // Path of the computation point file (no unit); with a grid of points,
  // the file whose name the result files take instead (the settings file).
  std::string dataFile;
  // When given, the computation points are its nodes and no point file is read.
  std::optional<TPointGrid> pointGrid;
  // The layer rows, uppermost first, converted where their text entered
  // (the run set-up of the window and the batch; LayerRowText.h for row texts).
  std::vector<TLayerRow> layers;
  int rowCount = 0;                                 // count of layer rows used, at least 2
  double gravityConstant = kStartGravityConstant;   // mGal per (g/cm3 times metres)
  // The bands of spherical distance and their segment sizes: the window's
  // one band, a list of bands or a preset (ZoneChoice.h).
  TZoneChoice zone = TSingleZone{};
  double earthRadius = kStartEarthRadiusM;          // metres
  std::string appendText;                           // text (no unit) inserted into the result file name
  double azimuthFromDeg = kStartAzimuthFromDeg;     // degrees, start of the azimuth range
  double azimuthToDeg = kStartAzimuthToDeg;         // degrees, end of the azimuth range
  double increment = kStartIncrementM;              // metres; 0: no DTE(i), no VGDRE
  TCrossingRule priority = TCrossingRule::ChangeLayersAndSign;  // where the surfaces of a layer cross
  TOutputUnit outputUnit = TOutputUnit::MilliGal;                 // of DTE and DTE(i)
  bool sumOnly = false;                             // flag (no unit): write only the summed columns

  bool operator==(const TRunParameters&) const = default;
};

class IPointLines;  // PointPipeline.h
class TStationArea;  // GridReach.h
struct TRunContext;  // PointEvaluation.h
class IRunProgress;

// Makes what evaluates the points of a run once its context is built: the
// run record, the context (alive until the object made is gone), the
// worker threads asked for (resolved: at least 1) and the run's progress.
using TPointLinesMaker = std::function<std::unique_ptr<IPointLines>(
    const TRunParameters& params, const TRunContext& ctx, int workers, IRunProgress& progress)>;

// How the caller's environment wants the run done; not part of the record.
struct TRunOptions {
  int threads = 1;              // worker threads for the point loop; 0 = all cores
  // Empty: the points are evaluated in this process (TPointPipeline). A
  // front end that spreads them over other processes plugs in its own.
  TPointLinesMaker pointLines = {};
  // Empty: LoadGrid. A front end that shares one copy of each grid between
  // the processes of a machine plugs in its own.
  TGridLoader loadGrid = {};
  // In place of loadGrid: a loader that reads the window of each grid that
  // the run picks round its stations, as the run reads it without a loader
  // (the same windows, so the same bytes), and shares it as it likes.
  TGridWindowLoader loadGridWindow = {};
  // The grids are loaded on a thread of their own while the calling thread
  // keeps the progress display answering (Cancel works while they load).
  // True: on the calling thread, for a loader that makes calls only that
  // thread may make (MPI's, initialised for the main thread only).
  bool loadOnCallingThread = false;
  // Called once with the run record and the area of its stations (null or
  // empty: the grids are read whole), right before the grids are loaded: a
  // front end whose other processes load the same grids in step with this
  // one starts them here. Empty: nothing.
  std::function<void(const TRunParameters&, const TStationArea* stations)> beforeGrids = {};
};

// The progress display of a run, and the Cancel button.
class IRunProgress {
 public:
  virtual ~IRunProgress() = default;
  virtual void Show() = 0;
  virtual void Hide() = 0;
  virtual void SetCaption(const std::string& caption) = 0;
  virtual void SetMaximum(int maximum) = 0;
  virtual void SetPosition(int position) = 0;
  // Lets the toolkit deliver pending events (repaint, the Cancel click).
  virtual void ProcessMessages() = 0;
  // True when Cancel was pressed since the last call; the request is cleared.
  virtual bool TakeCancelRequest() = 0;
  // True once the run must stop without a question (an interrupt signal):
  // the point in progress is dropped, the file keeps its complete lines and
  // the run ends as cancelled. Polled between points and while waiting.
  virtual bool StopRequested() { return false; }
};

// A progress display that shows nothing and is never cancelled.
class TSilentProgress : public IRunProgress {
 public:
  void Show() override {}
  void Hide() override {}
  void SetCaption(const std::string&) override {}
  void SetMaximum(int) override {}
  void SetPosition(int) override {}
  void ProcessMessages() override {}
  bool TakeCancelRequest() override { return false; }
};

enum class TRunOutcome {
  Completed,  // every point computed and written
  Cancelled,  // the user confirmed Cancel; complete lines only
  Failed,     // refused or failed; the message was already shown
};

class TCalcEngine {
 public:
  // Runs a whole calculation. Messages go to `prompts`. Exceptions from the
  // set-up (memory, a thread that cannot start) propagate after everything
  // was released.
  TRunOutcome RunCalculation(const TRunParameters& params, IRunProgress& progress,
                             IUserPrompts& prompts, const TRunOptions& options = {});

  // Sets up the layers, bands and tables of a run with RunCalculation's own
  // set-up, without the point file or the result file, and calls `serve` with the
  // run context: for a process that evaluates points which another process
  // reads and writes. False after a message to `prompts` when the run
  // cannot be set up; the grids are released on every path out.
  // With `stations`, grids read from files are read only where the bands
  // reach round them, as RunCalculation reads them round its points.
  bool ServeRun(const TRunParameters& params, IUserPrompts& prompts, const TRunOptions& options,
                const std::function<void(const TRunContext& ctx)>& serve,
                const TStationArea* stations = nullptr);

  // The bands that the zone of the last run resolved into, once its grids
  // were loaded (a preset's are known only then); empty for a run that
  // stopped before.
  const std::vector<TZone>& UsedZones() const { return usedZones_; }

  // Whether the last run put its result file in place: from its first
  // point on, or at the end of a run without points. A run that ended
  // before (refused, failed, cancelled) left an earlier file as it was,
  // and its run log should not replace the earlier one either.
  bool ResultWritten() const { return resultWritten_; }

  // Why the last run (or served run) was refused or failed; None when it
  // completed or was cancelled, and when a grid's loading was given up for
  // a stop.
  TRunFault LastFault() const { return lastFault_; }

  // The layer model of the last run; its grids live only during a run.
  TLayerModel layerModel;

 private:
  std::vector<TZone> usedZones_;
  bool resultWritten_ = false;
  TRunFault lastFault_ = TRunFault::None;
};

// The finest node spacing of the grids of rows 0 .. rowCount-1 (elevation
// grids, and density grids from row 1, every grid of a list), arc-seconds; 60 when no grid is
// loaded (a stack of constants is integrated in closed form, whatever the
// bands).
double FinestGridSpacingArcSec(const TLayerModel& model, int rowCount);

}  // namespace globelayers

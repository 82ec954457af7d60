#include "Calculation.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <memory>
#include <new>
#include <optional>
#include <stdexcept>
#include <thread>
#include <vector>

#include "FilePtr.h"
#include "Geodesy.h"
#include "NumberText.h"
#include "PointEvaluation.h"
#include "PointFile.h"
#include "PointPipeline.h"
#include "ResultFile.h"
#include "RingLayout.h"

namespace globelayers {
namespace {


// Rows the layer dialog would never produce, refused before anything is
// written. Rows are numbered from 1 as in the layer table.
std::optional<std::string> CheckLayerRows(const TRunParameters& params) {
  if (params.rowCount > MaxLayerRows) return "Number of layers must be less or equal 15";
  for (int k = 0; k < params.rowCount; ++k) {
    const std::vector<std::string> cells = SplitLayerRow(params.layerRows[k]);
    if (cells.size() < 4) continue;  // the set-up reports the missing cell
    if (cells[0] == "@" && cells[1] == "@") {
      return CFormat("Layer %d: One of const height or grid height must be defined", k + 1);
    }
    if (k >= 1 && cells[2] == "@" && cells[3] == "@") {
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

}  // namespace

TRunOutcome TCalcEngine::RunCalculation(const TRunParameters& params, IRunProgress& progress,
                                        IUserPrompts& prompts, const TRunOptions& options) {
  if (params.rowCount > static_cast<int>(params.layerRows.size())) {
    throw std::invalid_argument("RunCalculation: rowCount exceeds the layer rows given");
  }
  const double psiFromRad = params.psiFromDeg * kDegToRad;
  const double psiToRad = params.psiToDeg * kDegToRad;
  const double azimuthFromRad = params.azimuthFromDeg * kDegToRad;
  const double azimuthToRad = params.azimuthToDeg * kDegToRad;

  progress.Show();
  // Declared before the files, so it runs after they are closed.
  TRunEnd runEnd(layerModel, std::min(params.rowCount, MaxLayerRows), progress);
  progress.SetPosition(0);
  progress.ProcessMessages();

  const double unitFactor = params.outputUnit == 0 ? 1.0 : 1000.0;

  if (const auto refusal = CheckRunValues(params)) {
    prompts.ShowMessage(*refusal);
    return TRunOutcome::Failed;
  }
  const std::optional<long> count = CountPoints(params.dataFile, prompts);
  if (!count) return TRunOutcome::Failed;

  const std::optional<TRingLayout> rings =
      BuildRingLayout(psiFromRad, psiToRad, azimuthFromRad, azimuthToRad, params.segmentSize, params.earthRadius);
  if (!rings) {
    prompts.ShowMessage("Grid cell size must be greater then 1'");
    return TRunOutcome::Failed;
  }
  if (params.rowCount < 2) {
    prompts.ShowMessage("Number of layers must be grater or equal 2");
    return TRunOutcome::Failed;
  }
  if (const auto refusal = CheckLayerRows(params)) {
    prompts.ShowMessage(*refusal);
    return TRunOutcome::Failed;
  }

  progress.SetMaximum(static_cast<int>(std::min<long>(*count, INT_MAX)));

  TFilePtr points(OpenPointFile(params.dataFile));
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
  const TResultLayout layout = MakeResultLayout(params.increment, params.sumOnly, params.rowCount);
  if (!result.Write(ResultHeader(layout))) return writeFailed();

  for (int k = 0; k < params.rowCount; ++k) {
    if (!SetupLayerRow(layerModel, k, params.layerRows[k], options.decimalSeparator, prompts)) {
      // The reader said why; the file keeps its header only.
      if (!result.Finish()) return writeFailed();
      return TRunOutcome::Failed;
    }
  }

  const TRingTable table = BuildRingTable(*rings, params.earthRadius);
  const TRunContext ctx{.model = layerModel,
                        .rings = *rings,
                        .table = table,
                        .rowCount = params.rowCount,
                        .earthRadius = params.earthRadius,
                        .psiFrom = psiFromRad,
                        .psiTo = psiToRad,
                        .increment = params.increment,
                        .priority = params.priority,
                        .twoPiG = 2.0 * kPi * params.gravityConstant,
                        .unitFactor = unitFactor,
                        .layout = layout};
  int workers = options.threads;
  if (workers <= 0) workers = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));

  std::rewind(points.get());
  TRunOutcome outcome = TRunOutcome::Completed;
  // Whatever a point or a worker throws (memory, a value that is not
  // finite, a thread that cannot start) fails the run with its message; the
  // file keeps the lines before it.
  try {
    TPointPipeline pipeline(ctx, workers, progress);
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
      const std::optional<std::string> line = pipeline.Take(done, [&progress] {
        progress.ProcessMessages();
        return progress.StopRequested();
      });
      if (!line) {
        outcome = TRunOutcome::Cancelled;
        break;
      }
      ++done;
      if (!result.Write(*line)) return writeFailed();
      progress.ProcessMessages();
      // Cancel is looked at between points only: the file holds whole lines.
      if (progress.TakeCancelRequest() && prompts.AskYesNo("Cancel calculation?")) {
        outcome = TRunOutcome::Cancelled;
        break;
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
  // Buffered data meets the disk only now: a full disk shows here.
  if (!result.Finish()) return writeFailed();
  return outcome;
}

}  // namespace globelayers

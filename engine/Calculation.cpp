#include "Calculation.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <memory>
#include <optional>
#include <stdexcept>
#include <vector>

#include "Geodesy.h"
#include "NumberText.h"
#include "PointFile.h"
#include "ResultFile.h"
#include "RingLayout.h"

namespace globelayers {
namespace {

constexpr double kBlankAbove = 1e38;  // a sampled value above it is a blank

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// Everything a point needs, fixed before the point loop and only read during
// it: points can be evaluated on any thread without changing a digit.
struct TRunContext {
  const TLayerModel& model;
  const TRingLayout& rings;
  int rowCount;
  double earthRadius;  // metres
  double psiFrom;      // radians
  double psiTo;        // radians
  double increment;    // metres
  int priority;
  double twoPiG;
  double unitFactor;
  TResultLayout layout;
};

// The crossing rule, on the top and bottom elevations of one layer in metres.
void ApplyCrossingRule(int priority, double& top, double& bottom, double& sign) {
  if (top >= bottom) return;
  switch (priority) {
    case 0:  // the crossing part counts as negative mass
      std::swap(top, bottom);
      sign = -1;
      break;
    case 1:  // top grid wins: no thickness
      bottom = top;
      break;
    case 2:  // bottom grid wins: no thickness
      top = bottom;
      break;
    default:
      break;
  }
}

// The attraction of the band psiIn..psiOut between the radii rT and rB, per
// radian of azimuth, at a point of radius rP.
double BandIntegral(double psiIn, double psiOut, double rT, double rB, double rP) {
  return (AttractionKernel(psiOut, rT, rP) - AttractionKernel(psiIn, rT, rP)) -
         (AttractionKernel(psiOut, rB, rP) - AttractionKernel(psiIn, rB, rP));
}

struct TSums {
  double dte = 0;
  double dteI = 0;
};

// One layer for one point. Adds every contribution to the point's running
// totals as it goes (the totals are not the sum of the layer results: their
// rounding follows the segments) and returns the layer's own sums.
TSums EvaluateLayer(const TRunContext& ctx, int i, const TCalcPoint& p, TSums& total) {
  const TLayerDef& upper = ctx.model[i];
  const TLayerDef& lower = ctx.model[i + 1];
  const bool topGrid = upper.elevationGrid != nullptr;
  const bool bottomGrid = lower.elevationGrid != nullptr;
  const bool densityGrid = lower.densityGrid != nullptr;
  const double R = ctx.earthRadius;
  const bool withIncrement = ctx.increment != 0;
  TSums layer;

  if (!topGrid && !bottomGrid && !densityGrid) {
    // Constants throughout: the whole band in closed form.
    double T = upper.elevation, B = lower.elevation, sign = +1;
    const double rho = lower.density;
    ApplyCrossingRule(ctx.priority, T, B, sign);
    const double rT = R + T, rB = R + B;
    const double c = rho * BandIntegral(ctx.psiFrom, ctx.psiTo, rT, rB, R + p.height) * sign;
    layer.dte += c;
    total.dte += c;
    if (withIncrement) {
      const double ci =
          rho * BandIntegral(ctx.psiFrom, ctx.psiTo, rT, rB, R + p.height + ctx.increment) * sign;
      layer.dteI += ci;
      total.dteI += ci;
    }
    return layer;
  }

  const double phiRad = p.phi * kDegToRad;
  const double lambdaRad = p.lambda * kDegToRad;
  const TRingLayout& L = ctx.rings;
  for (int k = 0; k < L.ringCount(); ++k) {
    const TRingBounds b = RingBounds(L, k);
    if (b.skip) continue;
    const int m = L.segmentCounts[k];
    const double psiMid = RingMidDistance(b);
    for (int j = 0; j < m; ++j) {
      // The cap ring is sampled at the point itself.
      TGeoPoint centre{p.phi, p.lambda};
      if (!b.cap) centre = GeodeticDirect(phiRad, lambdaRad, psiMid, SegmentMidAzimuth(j, m), R, 0.0);
      double T = topGrid ? SampleElevation(ctx.model, i, centre.lonDeg, centre.latDeg) : upper.elevation;
      double B = bottomGrid ? SampleElevation(ctx.model, i + 1, centre.lonDeg, centre.latDeg)
                            : lower.elevation;
      const double rho =
          densityGrid ? SampleDensity(ctx.model, i + 1, centre.lonDeg, centre.latDeg) : lower.density;
      if (T > kBlankAbove || B > kBlankAbove || rho > kBlankAbove) continue;
      double sign = +1;
      ApplyCrossingRule(ctx.priority, T, B, sign);
      const double rT = R + T, rB = R + B;
      const double c = rho * BandIntegral(b.psiIn, b.psiOut, rT, rB, R + p.height) * sign / m;
      layer.dte += c;
      total.dte += c;
      if (withIncrement) {
        const double ci =
            rho * BandIntegral(b.psiIn, b.psiOut, rT, rB, R + p.height + ctx.increment) * sign / m;
        layer.dteI += ci;
        total.dteI += ci;
      }
    }
  }
  return layer;
}

// The whole result line of one point.
std::string EvaluatePoint(const TRunContext& ctx, const TCalcPoint& p) {
  std::string line;
  TSums total;
  const bool withIncrement = ctx.increment != 0;
  for (int i = 0; i <= ctx.rowCount - 2; ++i) {
    TSums layer = EvaluateLayer(ctx, i, p, total);
    layer.dte *= ctx.twoPiG;
    layer.dteI *= ctx.twoPiG;
    if (ctx.layout.perLayer) {
      TResultGroup g{layer.dte * ctx.unitFactor, layer.dteI * ctx.unitFactor, 0};
      if (withIncrement) g.vgdre = (layer.dteI - layer.dte) / ctx.increment;
      line += ResultLayerPiece(ctx.layout, p, i, g);
    }
  }
  total.dte *= ctx.twoPiG;
  total.dteI *= ctx.twoPiG;
  TResultGroup s{total.dte * ctx.unitFactor, total.dteI * ctx.unitFactor, 0};
  if (withIncrement) s.vgdre = (total.dteI - total.dte) / ctx.increment;
  line += ResultLineEnd(ctx.layout, p, s);
  return line;
}

// Rows the layer dialog would never produce, refused before anything is
// written. Rows are numbered from 1 as in the layer table.
std::optional<std::string> CheckLayerRows(const TRunParameters& params) {
  if (params.rowCount > MaxLayerRows) return "Number of layers must be less or equal 15";
  for (int k = 0; k < params.rowCount; ++k) {
    const std::string& text = params.layerRows[k];
    std::vector<std::string> cells;
    std::size_t start = 0;
    for (;;) {
      const std::size_t semi = text.find(';', start);
      cells.push_back(text.substr(start, semi == std::string::npos ? std::string::npos : semi - start));
      if (semi == std::string::npos) break;
      start = semi + 1;
    }
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

}  // namespace

TRunOutcome TCalcEngine::RunCalculation(const TRunParameters& params, IRunProgress& progress,
                                        IUserPrompts& prompts, const TRunOptions& options) {
  if (params.rowCount > static_cast<int>(params.layerRows.size())) {
    throw std::invalid_argument("RunCalculation: rowCount exceeds the layer rows given");
  }
  const double phiFrom = params.phiFrom * kDegToRad;
  const double phiTo = params.phiTo * kDegToRad;
  const double lambdaFrom = params.lambdaFrom * kDegToRad;
  const double lambdaTo = params.lambdaTo * kDegToRad;

  progress.Show();
  // Declared before the files, so it runs after they are closed.
  TRunEnd runEnd(layerModel, std::min(params.rowCount, MaxLayerRows), progress);
  progress.SetPosition(0);
  progress.ProcessMessages();

  const double unitFactor = params.outputUnit == 0 ? 1.0 : 1000.0;

  const std::optional<long> count = CountPoints(params.dataFile, prompts);
  if (!count) return TRunOutcome::Failed;

  const std::optional<TRingLayout> rings =
      BuildRingLayout(phiFrom, phiTo, lambdaFrom, lambdaTo, params.segmentSize, params.earthRadius);
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

  FilePtr points(std::fopen(params.dataFile.c_str(), "r"));
  if (!points) {
    prompts.ShowMessage(FormatMessage("Error by opening file %s\n", params.dataFile));
    return TRunOutcome::Failed;
  }
  progress.SetCaption("T4");

  const std::string resultName = OutputFileName(params.dataFile, params.appendText, "_dce.dat");
  FilePtr result(std::fopen(resultName.c_str(), "w"));
  if (!result) {
    prompts.ShowMessage(FormatMessage("Error by opening file  %s\n", resultName));
    return TRunOutcome::Failed;
  }
  const auto writeFailed = [&] {
    prompts.ShowMessage(FormatMessage("Error by writing file %s\n", resultName));
    return TRunOutcome::Failed;
  };
  const TResultLayout layout = MakeResultLayout(params.increment, params.sumOnly, params.rowCount);
  if (std::fputs(ResultHeader(layout).c_str(), result.get()) == EOF) return writeFailed();

  for (int k = 0; k < params.rowCount; ++k) {
    if (!SetupLayerRow(layerModel, k, params.layerRows[k], options.decimalSeparator, prompts)) {
      // The reader said why; the file keeps its header only.
      if (std::fflush(result.get()) != 0) return writeFailed();
      return TRunOutcome::Failed;
    }
  }

  const TRunContext ctx{layerModel,        *rings,
                        params.rowCount,   params.earthRadius,
                        phiFrom,           phiTo,
                        params.increment,  params.priority,
                        2.0 * kPi * params.gravityConstant,
                        unitFactor,        layout};

  std::rewind(points.get());
  TRunOutcome outcome = TRunOutcome::Completed;
  long done = 0;
  bool atEnd = false;
  while (!atEnd) {
    const std::optional<TCalcPoint> point = ReadPointLine(points.get(), atEnd);
    if (!point) continue;
    progress.SetPosition(static_cast<int>(std::min<long>(done, INT_MAX)));
    progress.ProcessMessages();
    ++done;
    if (std::fputs(EvaluatePoint(ctx, *point).c_str(), result.get()) == EOF) return writeFailed();
    progress.ProcessMessages();
    if (progress.TakeCancelRequest() && prompts.AskYesNo("Cancel calculation?")) {
      outcome = TRunOutcome::Cancelled;
      break;
    }
  }
  // Buffered data meets the disk only now: a full disk shows here.
  if (std::fflush(result.get()) != 0 || std::ferror(result.get())) return writeFailed();
  if (std::fclose(result.release()) != 0) return writeFailed();
  return outcome;
}

}  // namespace globelayers

// Evaluation of one computation point: every layer over the zone, as one
// result line. Everything here reads a run context that is fixed before the
// point loop, so points can be evaluated on several threads at once.
//
// Two evaluations are kept: the reference follows the published algorithm
// step by step (one geodesic, up to three samples and four kernel calls per
// segment and layer); the fast evaluator precomputes what does not depend on
// the point, shares segment centres and grid samples between layers and
// kernel values of constant surfaces between the segments of a ring. Both
// give the same bits: every value enters the same operations in the same
// order.
#pragma once

#include <string>
#include <vector>

#include "LayerModel.h"
#include "PointFile.h"
#include "ResultFile.h"
#include "RingLayout.h"

namespace globelayers {

// Per-run tables of the rings that are walked (skipped rings left out).
struct TRingTable {
  struct Ring {
    double psiIn = 0, psiOut = 0;  // radians
    double tIn = 0, tOut = 0;      // cosines of the bounds
    double sinSigma = 0;           // sine and cosine of the arc to the
    double cosSigma = 0;           //   segment centres
    int segments = 0;              // m_k
    int first = 0;                 // index of its first segment in the tables
    bool cap = false;              // sampled at the point itself
  };
  std::vector<Ring> rings;
  std::vector<double> sinAzimuth, cosAzimuth;  // per segment
  int segmentCount() const { return static_cast<int>(sinAzimuth.size()); }
};

TRingTable BuildRingTable(const TRingLayout& layout, double earthRadius);

struct TRunContext {
  const TLayerModel& model;
  const TRingLayout& rings;
  const TRingTable& table;
  int rowCount;
  double earthRadius;  // metres
  double psiFrom;      // radians
  double psiTo;        // radians
  double increment;    // metres
  int priority;        // crossing rule
  double twoPiG;       // 2 pi G
  double unitFactor;   // 1 for mGal, 1000 for microGal
  TResultLayout layout;
};

// The straightforward evaluation, kept as the yardstick of the fast one.
std::string EvaluatePointReference(const TRunContext& ctx, const TCalcPoint& point);

// The fast evaluation; one evaluator per thread (it owns scratch buffers).
class TPointEvaluator {
 public:
  explicit TPointEvaluator(const TRunContext& ctx);
  std::string Evaluate(const TCalcPoint& point);

 private:
  const TRunContext& ctx_;
  bool anyGrid_ = false;
  std::vector<double> ringLat_, ringLon_;                 // centres of one ring, degrees
  std::vector<std::vector<double>> elevation_, density_;  // samples per row and segment
  struct TSampledGrid {
    const TGridImports* grid;
    double* samples;  // into elevation_ or density_
  };
  std::vector<TSampledGrid> sampled_;  // every grid the point's layers read
};

}  // namespace globelayers

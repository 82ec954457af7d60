// Evaluation of one computation point: every layer over the zone, as one
// result line. Everything here reads a run context that is fixed before the
// point loop, so points can be evaluated on several threads at once.
//
// Two evaluations are kept: the reference follows the published algorithm
// step by step (one geodesic, up to three samples and four kernel calls per
// segment and layer); the fast evaluator precomputes what does not depend on
// the point, shares segment centres and grid samples between layers and
// kernel values of constant surfaces between the segments of a ring, and
// works ring by ring in tight loops. Every value enters the same operations
// in the same order, with one exception: the centres' arc tangents come from
// a vector function within one unit in the last place of the C library's.
// Where that could move a sample by more than rounding (next to the
// antimeridian or a grid's node line) the centre is formed exactly, so the
// printed numbers agree with the reference's, but for a value that sits on a
// rounding boundary.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "GridMeans.h"
#include "LayerModel.h"
#include "PointFile.h"
#include "ResultFile.h"
#include "RingLayout.h"

namespace globelayers {

// Memory that the evaluation may hold, whatever the segment size.
struct TEvaluationLimits {
  // Sine and cosine entries of the shared azimuth tables (16 bytes each, one
  // set for all threads). Rings whose segment count finds no room form their
  // azimuths per point instead.
  std::int64_t azimuthTableEntries = 2 * 1024 * 1024;
  // Per thread: bytes of samples that a point may keep for every grid at once,
  // so that layers sharing a grid sample it once. Beyond it each layer walks
  // the rings on its own, giving the same numbers.
  std::int64_t pointSampleBytes = 8 * 1024 * 1024;
  // Per thread: segments handled at a time; wider rings go in stretches.
  int stretchSegments = 4096;
};

// Per-run tables of the rings that are walked (skipped rings left out).
struct TRingTable {
  struct Ring {
    double psiIn = 0, psiOut = 0;  // spherical distances of the bounds, radians
    double tIn = 0, tOut = 0;      // cosines of the bounds, no unit
    double dIn = 0, dOut = 0;      // 1 - those cosines without cancellation, no unit (nearPoint only)
    bool nearPoint = false;        // the kernel for rings next to the point (KernelTermsNear)
    double sinSigma = 0;           // sine and cosine of the arc to the segment
    double cosSigma = 0;           //   centres (radians before the sine), no unit
    int segments = 0;              // m_k: segments round the ring
    std::int64_t first = 0;        // index of its first segment among the point's samples
    std::int64_t azimuth = -1;     // its first entry in the azimuth tables; -1: formed per point
    bool cap = false;              // sampled at the point itself
  };
  std::vector<Ring> rings;
  // Sine and cosine of the mid azimuths, one run per distinct segment count,
  // as far as TEvaluationLimits::azimuthTableEntries allows.
  std::vector<double> sinAzimuth, cosAzimuth;
  std::int64_t segmentTotal = 0;  // segments of all rings
  int widestRing = 0;             // segments of the ring with the most
  std::int64_t segmentCount() const { return segmentTotal; }
};

TRingTable BuildRingTable(const TRingLayout& layout,
                          double earthRadius,  // metres
                          const TEvaluationLimits& limits = {});

// One band of the zone with its own segment size: its rings and their
// tables, both owned by the caller for the whole run.
struct TZoneRings {
  const TRingLayout& rings;
  const TRingTable& table;
  // Grids that the band samples in place of the model's (block means), or
  // null: the model's own.
  const TGridStandIns* standIns = nullptr;
};

struct TRunContext {
  const TLayerModel& model;
  // The bands from the inner distance outwards, contiguous; a run without a
  // zone list has one. A point's grid layers are the sum over the bands, in
  // this order.
  std::vector<TZoneRings> zones;
  int rowCount;        // layer rows in use, 2 .. MaxLayerRows
  double earthRadius;  // metres
  double psiFrom;      // inner spherical distance of the first band, radians
  double psiTo;        // outer spherical distance of the last band, radians
  double increment;    // height of the raised point above the point, metres; 0: none
  int priority;        // crossing rule: 0 negative mass, 1 top wins, 2 bottom wins
  double twoPiG;       // 2 pi G, mGal per (g/cm3 times metres)
  double unitFactor;   // 1 for mGal, 1000 for microGal
  TResultLayout layout;
  TEvaluationLimits limits{};
};

// Thrown by TPointEvaluator::Evaluate when its abandon check says so.
struct TPointAbandoned {};

// The straightforward evaluation, kept as the yardstick of the fast one.
std::string EvaluatePointReference(const TRunContext& ctx, const TCalcPoint& point);

// DTE and DTE(i) of a layer or of the whole stack, before 2 pi G: sums of
// density times kernel differences, in g/cm3 times metres (times twoPiG:
// mGal).
struct TSums {
  double dte = 0;   // at the point, g/cm3 times metres
  double dteI = 0;  // at the raised point, g/cm3 times metres
};

// The fast evaluation; one evaluator per thread (it owns scratch buffers).
class TPointEvaluator {
 public:
  explicit TPointEvaluator(const TRunContext& ctx);
  // The result line of one point. Throws std::runtime_error naming the point
  // when a value is not finite, TPointAbandoned when the abandon check fires.
  std::string Evaluate(const TCalcPoint& point);
  // Asked once per ring of a point: true drops the point. May be empty.
  void SetAbandonCheck(std::function<bool()> check) { abandonCheck_ = std::move(check); }
  // Whether all grids of a point are sampled once and shared by its layers
  // (else each layer walks the rings on its own), and the bytes of scratch
  // buffers this evaluator holds.
  bool SharesSamples() const { return shared_; }
  std::size_t ScratchBytes() const;

 private:
  struct TPointTerms {
    double phiDeg = 0;     // latitude of the point, degrees
    double lambdaDeg = 0;  // longitude of the point, degrees
    double lambdaRad = 0;  // the same longitude, radians
    double cosU = 0, sinU = 0;  // of the latitude, as the direct problem forms them; no unit
  };
  struct TSampledGrid {
    const TGridImports* grid;  // the first grid of its list
    double* samples;           // into elevation_ or density_
    const TGridTail* more;     // the rest of the list (SampleGridList)
  };
  // A stretch of one ring: its segments from `first` on, `count` of them.
  struct TStretch {
    const TZoneRings& zone;   // the ring's band
    const TRingTable& table;  // of the ring's band
    const TRingTable::Ring& ring;
    int first;
    int count;
    std::int64_t sample;  // index of its first segment among the point's samples
  };
  // Centres of a stretch's segments into ringLat_ and ringLon_.
  void RingCentres(const TStretch& s, const TPointTerms& terms);
  // Centre j of the current stretch with the C library's arc tangent.
  void ExactCentre(int j, const TPointTerms& terms);
  // Samples of the grids `fill` at a stretch's centres, from `offset` on.
  void SampleRing(const TStretch& s, const std::vector<TSampledGrid>& fill, std::int64_t offset,
                  const TPointTerms& terms);
  // A grid list over one stretch, as SampleGridList gives it, into `out`
  // (null: only located, for the guard); the stretch's positions near a
  // node line of the grid that gives their value are marked in nearLine_.
  void SampleListStretch(const TStretch& s, const TSampledGrid& g, double* out);
  // Layer i over one stretch, its samples from `offset` on, at the point's
  // radius rP and the raised point's rPi (metres from the centre).
  void AccumulateRing(int i, const TStretch& s, std::int64_t offset, double rP, double rPi, TSums& layer,
                      TSums& total);
  // Calls `each` for every stretch of every ring of every band, in order,
  // asking the abandon check per ring.
  template <typename Each>
  void ForEachStretch(Each each);
  // Kernel pairs of the layer's constant surfaces for one ring and one point
  // radius: every segment whose surface is that constant reuses them.
  struct TConstantPairs {
    double rTop;        // radius of the top surface, metres; NaN where it is a grid
    double pairTop;     // its K(out) - K(in), metres
    double rBottom;     // radius of the bottom surface, metres; NaN where it is a grid
    double pairBottom;  // its K(out) - K(in), metres
  };
  // One surface's kernel pairs for the kept segments j < m of a stretch:
  // where its radius is a constant surface's, source[j] names that surface
  // (0 top, 1 bottom); elsewhere source[j] is 2 and pairs[j] (and pairsI[j]
  // at the raised point, given atI) holds the pair. Radii rP, rPi and
  // radii[] in metres from the centre, pairs in metres.
  void SurfacePairs(const TRingTable::Ring& ring, const double* radii, int m, const TConstantPairs& at,
                    const TConstantPairs* atI, double rP, double rPi, signed char* source, double* pairs,
                    double* pairsI);
  // jobPair_[k] = K(out) - K(in) at jobR_[k] for k < n, for a point at
  // radius rPoint (metres from the centre); pairs in metres.
  void KernelPairs(const TRingTable::Ring& ring, int n, double rPoint);

  const TRunContext& ctx_;
  bool shared_ = false;  // samples of the whole point, shared by the layers
  std::vector<std::int64_t> zoneFirst_;  // per band, index of its first segment among the point's samples
  std::function<bool()> abandonCheck_;
  std::vector<double> azimuthSin_, azimuthCos_;           // a stretch's azimuths when not in the tables, no unit
  std::vector<double> ringLat_, ringLon_;                 // centres of one stretch, degrees
  std::vector<double> latY_, latX_, lonY_, lonX_;         // their arc tangents' arguments
  std::vector<char> nearLine_;                            // per segment: form again exactly
  std::vector<char> listNear_;                            // per segment: near a node line of a list's first grid
  std::vector<int> cellX_, cellY_;                        // one grid's cells at those centres
  std::vector<double> cellT_, cellU_;                     //   and the weights across them, no unit
  // One stretch of one layer: kept segments, radii after the crossing rule,
  // density and sign, kernel pairs of both surfaces (and at the raised point).
  // Radii and pairs in metres, densities in g/cm3, signs +1 or -1.
  std::vector<char> keep_;
  std::vector<signed char> sourceTop_, sourceBottom_;  // see SurfacePairs
  std::vector<double> rTop_, rBottom_, rho_, sign_, pairTop_, pairBottom_, pairTopI_, pairBottomI_;
  // Kernel evaluations still to do: segment, radius, result, and their terms.
  std::vector<int> jobIndex_;
  std::vector<double> jobR_, jobPair_, clOut_, qOut_, uOut_, logOut_, clIn_, qIn_, uIn_, logIn_;
  std::vector<std::vector<double>> elevation_, density_;  // samples per row: metres, g/cm3
  std::vector<TSampledGrid> sampled_;                     // every grid the point's layers read
  std::vector<std::vector<TSampledGrid>> layerGrids_;     // per layer, the grids it reads
};

}  // namespace globelayers

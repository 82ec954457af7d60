// Glossary:
//   psi       spherical distance from the point, radians; t = cos(psi), no unit
//   R         Earth radius, metres
//   T, B      top and bottom elevation of a layer at a segment, metres above sea level
//   rT, rB    their geocentric radii R + T and R + B, metres
//   rP, rPi   radii of the point and of the raised point (R + height, plus the increment), metres
//   rho       density of the layer, g/cm3
//   m, m_k    segments of a ring
//   K         the attraction kernel, metres; K(out) - K(in) over a ring is a kernel pair
//   sigma     arc to a segment centre as the direct problem forms it, radians
#include "PointEvaluation.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <stdexcept>
#include <utility>

#include "Geodesy.h"
#include "NumberText.h"
#include "SegmentLoops.h"
#include "VectorMath.h"

namespace globelayers {
namespace {

// Segment centres come from a vector arc tangent that may differ from the C
// library's by one unit in the last place, which moves a centre by about
// 1e-14 degrees. Where such a move could change more than the last bits of a
// sample, the centre is formed again with the C library: within this many
// degrees of the antimeridian or of a grid's node line.
constexpr double kGuardDeg = 1e-9;

// The crossing rule, on the top and bottom elevations of one layer in metres;
// sign becomes -1 where the crossing part counts as negative mass.
inline void ApplyCrossingRule(int priority, double& top, double& bottom, double& sign) {
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

// The attraction of the band psiIn..psiOut (radians) between the radii rT
// and rB (metres), per radian of azimuth and unit density, at a point of
// radius rP (metres). Result in metres: times density and 2 pi G, mGal.
double BandIntegral(double psiIn, double psiOut, double rT, double rB, double rP) {
  return (AttractionKernel(psiOut, rT, rP) - AttractionKernel(psiIn, rT, rP)) -
         (AttractionKernel(psiOut, rB, rP) - AttractionKernel(psiIn, rB, rP));
}

// The same for a band that takes the kernel for rings next to the point.
double BandIntegralNear(double psiIn, double psiOut, double rT, double rB, double rP) {
  const auto kernel = [rP](double psi, double r1) {
    return AttractionKernelNear(std::cos(psi), OneMinusCos(psi), r1, rP);
  };
  return (kernel(psiOut, rT) - kernel(psiIn, rT)) - (kernel(psiOut, rB) - kernel(psiIn, rB));
}

// A result file never holds NaN or infinity: a value that is not finite
// (a height at or below the centre of the Earth, grid values near the float
// limit) fails the run, naming the point.
void RequireFinite(const TCalcPoint& p, const TResultGroup& g) {
  if (std::isfinite(g.dte) && std::isfinite(g.dteI) && std::isfinite(g.vgdre)) return;
  throw std::runtime_error(
      CFormat("Point %.10g at longitude %.10g, latitude %.10g, height %.10g m: the attraction is not a "
              "finite number. Check the point's height and the layers' heights and densities around it.",
              p.pointNumber, p.lambda, p.phi, p.height));
}

// A point at or below the centre of the Earth has no attraction to speak of.
void RequireAboveCentre(const TRunContext& ctx, const TCalcPoint& p) {
  if (ctx.earthRadius + p.height > 0) return;
  throw std::runtime_error(CFormat("Point %.10g at longitude %.10g, latitude %.10g: its height of %.10g m puts it "
                                   "at or below the centre of the Earth.",
                                   p.pointNumber, p.lambda, p.phi, p.height));
}

// Appends a layer's piece and returns nothing; the totals are scaled by the
// caller. VGDRE is formed from values before the unit factor.
void AppendLayer(const TRunContext& ctx, const TCalcPoint& p, int i, TSums layer, std::string& line) {
  layer.dte *= ctx.twoPiG;
  layer.dteI *= ctx.twoPiG;
  if (!ctx.layout.perLayer) return;
  TResultGroup g{.dte = layer.dte * ctx.unitFactor, .dteI = layer.dteI * ctx.unitFactor, .vgdre = 0};
  if (ctx.increment != 0) g.vgdre = (layer.dteI - layer.dte) / ctx.increment;
  RequireFinite(p, g);
  line += ResultLayerPiece(ctx.layout, p, i, g);
}

void AppendLineEnd(const TRunContext& ctx, const TCalcPoint& p, TSums total, std::string& line) {
  total.dte *= ctx.twoPiG;
  total.dteI *= ctx.twoPiG;
  TResultGroup s{.dte = total.dte * ctx.unitFactor, .dteI = total.dteI * ctx.unitFactor, .vgdre = 0};
  if (ctx.increment != 0) s.vgdre = (total.dteI - total.dte) / ctx.increment;
  RequireFinite(p, s);
  line += ResultLineEnd(ctx.layout, p, s);
}

// A layer of constants only: the whole band in closed form. Shared by both
// evaluations.
TSums ClosedFormLayer(const TRunContext& ctx, int i, const TCalcPoint& p, TSums& total) {
  const TLayerDef& upper = ctx.model[i];
  const TLayerDef& lower = ctx.model[i + 1];
  const double R = ctx.earthRadius;
  TSums layer;
  double T = upper.elevation, B = lower.elevation, sign = +1;
  const double rho = lower.density;
  ApplyCrossingRule(ctx.priority, T, B, sign);
  const double rT = R + T, rB = R + B;
  const double c = rho * BandIntegral(ctx.psiFrom, ctx.psiTo, rT, rB, R + p.height) * sign;
  layer.dte += c;
  total.dte += c;
  if (ctx.increment != 0) {
    const double ci = rho * BandIntegral(ctx.psiFrom, ctx.psiTo, rT, rB, R + p.height + ctx.increment) * sign;
    layer.dteI += ci;
    total.dteI += ci;
  }
  return layer;
}

bool HasGrid(const TRunContext& ctx, int i) {
  return ctx.model[i].elevationGrid || ctx.model[i + 1].elevationGrid || ctx.model[i + 1].densityGrid;
}

}  // namespace

TRingTable BuildRingTable(const TRingLayout& L, double earthRadius, const TEvaluationLimits& limits) {
  TRingTable table;
  std::map<int, std::int64_t> azimuthTables;  // segment count -> first entry
  for (int k = 0; k < L.ringCount(); ++k) {
    const TRingBounds b = RingBounds(L, k);
    if (b.skip) continue;
    TRingTable::Ring ring;
    ring.psiIn = b.psiIn;
    ring.psiOut = b.psiOut;
    ring.tIn = std::cos(b.psiIn);
    ring.tOut = std::cos(b.psiOut);
    ring.nearPoint = L.nearPointKernel;
    if (ring.nearPoint) {
      ring.dIn = OneMinusCos(b.psiIn);
      ring.dOut = OneMinusCos(b.psiOut);
    }
    ring.cap = b.cap;
    ring.segments = L.segmentCounts[k];
    ring.first = table.segmentCount();
    table.segmentTotal += ring.segments;
    table.widestRing = std::max(table.widestRing, ring.segments);
    // The arc to the centres as the general geodesic forms it on a sphere:
    // (a * psi) / a, which need not be psi to the last bit. Its divisions by
    // 1 - f and c are by exactly 1 there and change no bit (see Geodesy.cpp).
    const double sigma = earthRadius * RingMidDistance(b) / earthRadius;
    ring.sinSigma = std::sin(sigma);
    ring.cosSigma = std::cos(sigma);
    // Rings with the same segment count share one table of azimuths, while
    // the tables stay within their budget.
    if (const auto known = azimuthTables.find(ring.segments); known != azimuthTables.end()) {
      ring.azimuth = known->second;
    } else if (static_cast<std::int64_t>(table.sinAzimuth.size()) + ring.segments <= limits.azimuthTableEntries) {
      ring.azimuth = static_cast<std::int64_t>(table.sinAzimuth.size());
      azimuthTables.emplace(ring.segments, ring.azimuth);
      for (int j = 0; j < ring.segments; ++j) {
        const double azimuth = SegmentMidAzimuth(j, ring.segments);
        table.sinAzimuth.push_back(std::sin(azimuth));
        table.cosAzimuth.push_back(std::cos(azimuth));
      }
    }
    table.rings.push_back(ring);
  }
  return table;
}

std::string EvaluatePointReference(const TRunContext& ctx, const TCalcPoint& p) {
  RequireAboveCentre(ctx, p);
  std::string line;
  TSums total;
  const double R = ctx.earthRadius;
  const bool withIncrement = ctx.increment != 0;
  for (int i = 0; i <= ctx.rowCount - 2; ++i) {
    if (!HasGrid(ctx, i)) {
      AppendLayer(ctx, p, i, ClosedFormLayer(ctx, i, p, total), line);
      continue;
    }
    const TLayerDef& upper = ctx.model[i];
    const TLayerDef& lower = ctx.model[i + 1];
    TSums layer;
    const double phiRad = p.phi * kDegToRad;
    const double lambdaRad = p.lambda * kDegToRad;
    // Band after band outwards, each with its own rings; the sums run on.
    for (const TZoneRings& zone : ctx.zones) {
      const TRingLayout& L = zone.rings;
      for (int k = 0; k < L.ringCount(); ++k) {
        const TRingBounds b = RingBounds(L, k);
        if (b.skip) continue;
        const int m = L.segmentCounts[k];
        const double psiMid = RingMidDistance(b);
        for (int j = 0; j < m; ++j) {
          // The cap ring is sampled at the point itself.
          TGeoPoint centre{.latDeg = p.phi, .lonDeg = p.lambda};
          if (!b.cap) centre = GeodeticDirect(phiRad, lambdaRad, psiMid, SegmentMidAzimuth(j, m), R, 0.0);
          const auto sample = [&](const std::unique_ptr<TGridImports>& grid, const TGridTail& more) {
            return SampleGridList(*grid, more, zone.standIns, centre.lonDeg, centre.latDeg);
          };
          double T = upper.elevationGrid ? sample(upper.elevationGrid, upper.elevationMore) : upper.elevation;
          double B = lower.elevationGrid ? sample(lower.elevationGrid, lower.elevationMore) : lower.elevation;
          const double rho = lower.densityGrid ? sample(lower.densityGrid, lower.densityMore) : lower.density;
          if (T > kBlankThreshold || B > kBlankThreshold || rho > kBlankThreshold) continue;
          double sign = +1;
          ApplyCrossingRule(ctx.priority, T, B, sign);
          const double rT = R + T, rB = R + B;
          const auto band = L.nearPointKernel ? BandIntegralNear : BandIntegral;
          const double c = rho * band(b.psiIn, b.psiOut, rT, rB, R + p.height) * sign / m;
          layer.dte += c;
          total.dte += c;
          if (withIncrement) {
            const double ci = rho * band(b.psiIn, b.psiOut, rT, rB, R + p.height + ctx.increment) * sign / m;
            layer.dteI += ci;
            total.dteI += ci;
          }
        }
      }
    }
    AppendLayer(ctx, p, i, layer, line);
  }
  AppendLineEnd(ctx, p, total, line);
  return line;
}

TPointEvaluator::TPointEvaluator(const TRunContext& ctx) : ctx_(ctx) {
  elevation_.resize(ctx.rowCount);
  density_.resize(ctx.rowCount);
  layerGrids_.resize(ctx.rowCount);
  int gridLayers = 0, gridCount = 0;
  for (int i = 0; i <= ctx.rowCount - 2; ++i) gridLayers += HasGrid(ctx, i) ? 1 : 0;
  for (int k = 0; k < ctx.rowCount; ++k) {
    gridCount += ctx.model[k].elevationGrid ? 1 : 0;
    gridCount += k >= 1 && ctx.model[k].densityGrid ? 1 : 0;
  }
  if (gridLayers == 0) return;
  std::int64_t segmentTotal = 0;  // of all bands
  int widestRing = 0;             // segments
  for (const TZoneRings& zone : ctx.zones) {
    zoneFirst_.push_back(segmentTotal);
    segmentTotal += zone.table.segmentCount();
    widestRing = std::max(widestRing, zone.table.widestRing);
  }
  // Several layers on grids keep every sample of the point, so that a grid
  // that two layers read is sampled once, as long as that fits the budget.
  // Otherwise each layer walks the rings on its own, a stretch at a time;
  // the centres and samples it forms are the same, and so are the numbers.
  shared_ = gridLayers > 1 &&
            segmentTotal * gridCount * std::int64_t{sizeof(double)} <= ctx.limits.pointSampleBytes;
  const int width = std::max(1, std::min(widestRing, std::max(1, ctx.limits.stretchSegments)));
  for (std::vector<double>* v :
       {&azimuthSin_, &azimuthCos_, &ringLat_, &ringLon_, &latY_, &latX_, &lonY_, &lonX_, &rTop_, &rBottom_, &rho_,
        &sign_, &pairTop_, &pairBottom_, &pairTopI_, &pairBottomI_, &jobR_, &jobPair_, &clOut_, &qOut_,
        &uOut_, &logOut_, &clIn_, &qIn_, &uIn_, &logIn_, &cellT_, &cellU_}) {
    v->resize(width);
  }
  nearLine_.resize(width);
  listNear_.resize(width);
  keep_.resize(width);
  sourceTop_.resize(width);
  sourceBottom_.resize(width);
  jobIndex_.resize(width);
  cellX_.resize(width);
  cellY_.resize(width);
  const std::size_t length = shared_ ? static_cast<std::size_t>(segmentTotal) : width;
  for (int k = 0; k < ctx.rowCount; ++k) {
    if (ctx.model[k].elevationGrid) {
      elevation_[k].resize(length);
      sampled_.push_back({.grid = ctx.model[k].elevationGrid.get(), .samples = elevation_[k].data(), .more = &ctx.model[k].elevationMore});
    }
    // The density of row 0 belongs to no layer.
    if (k >= 1 && ctx.model[k].densityGrid) {
      density_[k].resize(length);
      sampled_.push_back({.grid = ctx.model[k].densityGrid.get(), .samples = density_[k].data(), .more = &ctx.model[k].densityMore});
    }
  }
  for (int i = 0; i <= ctx.rowCount - 2; ++i) {
    if (ctx.model[i].elevationGrid) {
      layerGrids_[i].push_back({.grid = ctx.model[i].elevationGrid.get(), .samples = elevation_[i].data(), .more = &ctx.model[i].elevationMore});
    }
    if (ctx.model[i + 1].elevationGrid) {
      layerGrids_[i].push_back({.grid = ctx.model[i + 1].elevationGrid.get(),
                                 .samples = elevation_[i + 1].data(),
                                 .more = &ctx.model[i + 1].elevationMore});
    }
    if (ctx.model[i + 1].densityGrid) {
      layerGrids_[i].push_back({.grid = ctx.model[i + 1].densityGrid.get(),
                                 .samples = density_[i + 1].data(),
                                 .more = &ctx.model[i + 1].densityMore});
    }
  }
}

std::size_t TPointEvaluator::ScratchBytes() const {
  std::size_t bytes = 0;
  for (const std::vector<double>* v :
       {&azimuthSin_, &azimuthCos_, &ringLat_, &ringLon_, &latY_, &latX_, &lonY_, &lonX_, &rTop_, &rBottom_, &rho_,
        &sign_, &pairTop_, &pairBottom_, &pairTopI_, &pairBottomI_, &jobR_, &jobPair_, &clOut_, &qOut_, &uOut_,
        &logOut_, &clIn_, &qIn_, &uIn_, &logIn_, &cellT_, &cellU_}) {
    bytes += v->capacity() * sizeof(double);
  }
  for (const auto* rows : {&elevation_, &density_}) {
    for (const std::vector<double>& v : *rows) bytes += v.capacity() * sizeof(double);
  }
  bytes += nearLine_.capacity() + listNear_.capacity() + keep_.capacity() + sourceTop_.capacity() + sourceBottom_.capacity();
  bytes += (jobIndex_.capacity() + cellX_.capacity() + cellY_.capacity()) * sizeof(int);
  return bytes;
}

namespace {

// K(out) - K(in) for one radius: the part of the band integral that a
// surface contributes. Same operations as BandIntegral's halves.
inline double KernelPair(const TRingTable::Ring& ring, double r1, double rP) {
  if (ring.nearPoint) {
    return AttractionKernelNear(ring.tOut, ring.dOut, r1, rP) - AttractionKernelNear(ring.tIn, ring.dIn, r1, rP);
  }
  return AttractionKernelCos(ring.tOut, r1, rP) - AttractionKernelCos(ring.tIn, r1, rP);
}

}  // namespace

template <typename Each>
void TPointEvaluator::ForEachStretch(Each each) {
  const int width = static_cast<int>(ringLat_.size());
  for (std::size_t z = 0; z < ctx_.zones.size(); ++z) {
    const TRingTable& table = ctx_.zones[z].table;
    for (const TRingTable::Ring& ring : table.rings) {
      if (abandonCheck_ && abandonCheck_()) throw TPointAbandoned{};
      for (int first = 0; first < ring.segments; first += width) {
        each(TStretch{.zone = ctx_.zones[z],
                      .table = table,
                      .ring = ring,
                      .first = first,
                      .count = std::min(width, ring.segments - first),
                      .sample = zoneFirst_[z] + ring.first + first});
      }
    }
  }
}

void TPointEvaluator::RingCentres(const TStretch& s, const TPointTerms& pt) {
  const TRingTable::Ring& ring = s.ring;
  if (ring.cap) {  // the cap ring is sampled at the point itself
    ringLat_[0] = pt.phiDeg;
    ringLon_[0] = pt.lambdaDeg;
    return;
  }
  // As the general direct problem gives them with flattening 0: one pass of
  // its loop, every term it adds is 0. The arguments of the two arc tangents
  // are kept, so that any centre can be formed again exactly.
  const double sy = ring.sinSigma, cy = ring.cosSigma;
  const double cosU = pt.cosU, sinU = pt.sinU;
  const TCentreTerms terms{.cosU = cosU,
                           .sinSigma = sy,
                           .cosUcy = cosU * cy,
                           .sinUsy = sinU * sy,
                           .sinUcy = sinU * cy,
                           .cosUsy = cosU * sy};
  const int m = s.count;
  const double* sinAz = nullptr;
  const double* cosAz = nullptr;
  if (ring.azimuth >= 0) {
    sinAz = s.table.sinAzimuth.data() + ring.azimuth + s.first;
    cosAz = s.table.cosAzimuth.data() + ring.azimuth + s.first;
  } else {  // no room in the shared tables: the same values, formed here
    for (int j = 0; j < m; ++j) {
      const double azimuth = SegmentMidAzimuth(s.first + j, ring.segments);
      azimuthSin_[j] = std::sin(azimuth);
      azimuthCos_[j] = std::cos(azimuth);
    }
    sinAz = azimuthSin_.data();
    cosAz = azimuthCos_.data();
  }
  CentreArguments(m, sinAz, cosAz, terms, latY_.data(), latX_.data(), lonY_.data(), lonX_.data());
  Atan2Array(latY_.data(), latX_.data(), ringLat_.data(), m);
  Atan2Array(lonY_.data(), lonX_.data(), ringLon_.data(), m);
  // Next to the antimeridian one unit in the last place can decide the wrap,
  // and so which edge of a grid is read: there the centre is formed exactly.
  if (CentresToDegrees(m, pt.lambdaRad, kGuardDeg, ringLat_.data(), ringLon_.data(), nearLine_.data())) {
    for (int j = 0; j < m; ++j) {
      if (nearLine_[j]) ExactCentre(j, pt);
    }
  }
}

void TPointEvaluator::ExactCentre(int j, const TPointTerms& pt) {
  const double phi2 = std::atan2(latY_[j], latX_[j]);
  const double dLambda = std::atan2(lonY_[j], lonX_[j]);
  double lambda2 = (pt.lambdaRad + dLambda) * kRadToDeg;
  if (lambda2 < -180) lambda2 += 360;
  if (lambda2 > 180) lambda2 -= 360;
  ringLat_[j] = phi2 * kRadToDeg;
  ringLon_[j] = lambda2;
}

void TPointEvaluator::SampleRing(const TStretch& s, const std::vector<TSampledGrid>& fill, std::int64_t offset,
                                 const TPointTerms& pt) {
  const int m = s.count;
  if (s.ring.cap) {  // the point itself: nothing approximate
    for (const TSampledGrid& g : fill) {
      g.samples[offset] = SampleGridList(*g.grid, *g.more, s.zone.standIns, ringLon_[0], ringLat_[0]);
    }
    return;
  }
  // Every grid once per segment, whichever layers share it: first the cells
  // and weights of the whole stretch (a vector loop), then the interpolations.
  // A position within kGuardDeg of a node line of any of the point's grids
  // is sampled again at its exact centre: there one unit in the last place
  // can turn a blank node's weight from zero to nonzero. Grids that are not
  // filled now are located all the same, so that a segment's centre does not
  // depend on which layer asks.
  std::fill(nearLine_.begin(), nearLine_.begin() + m, 0);
  // A band on block means samples them instead, and locates in them.
  for (const TSampledGrid& g : sampled_) {
    const TGridImports& grid = ZoneGrid(s.zone.standIns, *g.grid);
    const auto filled = std::find_if(fill.begin(), fill.end(), [&g](const TSampledGrid& f) { return f.grid == g.grid; });
    if (!g.more->empty()) {
      SampleListStretch(s, g, filled == fill.end() ? nullptr : filled->samples + offset);
      continue;
    }
    LocateArray(grid, m, ringLon_.data(), ringLat_.data(), kGuardDeg, cellX_.data(), cellY_.data(),
                cellT_.data(), cellU_.data(), nearLine_.data());
    if (filled == fill.end()) continue;
    InterpolateCells(grid, m, cellX_.data(), cellY_.data(), cellT_.data(), cellU_.data(),
                     filled->samples + offset);
  }
  // Those few segments are sampled again at their exact centres.
  for (int j = 0; j < m; ++j) {
    if (!nearLine_[j]) continue;
    ExactCentre(j, pt);
    for (const TSampledGrid& g : fill) {
      g.samples[offset + j] = SampleGridList(*g.grid, *g.more, s.zone.standIns, ringLon_[j], ringLat_[j]);
    }
  }
}

void TPointEvaluator::SampleListStretch(const TStretch& s, const TSampledGrid& g, double* out) {
  // The first grid for the whole stretch, as a single grid is sampled; the
  // rest of the list, one position at a time, only where the first grid
  // does not give the value. A position is guarded (sampled again at its
  // exact centre) by the node lines of the grid whose value it takes, so a
  // first grid that gives no value moves no centre of the others.
  const int m = s.count;
  // A band that does not read the first grids of the list (they stand in
  // as grids that hold nothing) starts at the first that it reads: the
  // same values, with the vector loop on that grid.
  const TGridTail& more = *g.more;
  std::size_t next0 = 0;  // the first grid of `more` after the head
  const TGridImports* first = &ZoneGrid(s.zone.standIns, *g.grid);
  while (next0 < more.size() && HoldsNothing(*first)) first = &ZoneGrid(s.zone.standIns, *more[next0++]);
  const TGridImports& head = *first;
  std::fill(listNear_.begin(), listNear_.begin() + m, 0);
  LocateArray(head, m, ringLon_.data(), ringLat_.data(), kGuardDeg, cellX_.data(), cellY_.data(), cellT_.data(),
              cellU_.data(), listNear_.data());
  for (int j = 0; j < m; ++j) {
    const TGridCell c{.ix = cellX_[j], .iy = cellY_[j], .t = cellT_[j], .u = cellU_[j]};
    if (GridHolds(head, c)) {
      const double value = InterpolateCell(head, c);
      if (!(value > kBlankThreshold)) {
        nearLine_[j] = static_cast<char>(nearLine_[j] | listNear_[j]);
        if (out) out[j] = value;
        continue;
      }
    }
    // The rest of the list, in order: the grid whose value is taken guards
    // the position; a blank takes the last grid that held it, a position
    // that none holds the last grid of the list.
    double value = kBlankMarker;
    bool held = GridHolds(head, c);
    char near = held ? listNear_[j] : 0;
    bool found = false;
    for (std::size_t n = next0; n < more.size(); ++n) {
      const TGridImports& grid = ZoneGrid(s.zone.standIns, *more[n]);
      int ix = 0, iy = 0;
      double t = 0, u = 0;
      char nextNear = 0;
      LocateArray(grid, 1, &ringLon_[j], &ringLat_[j], kGuardDeg, &ix, &iy, &t, &u, &nextNear);
      const TGridCell nextCell{.ix = ix, .iy = iy, .t = t, .u = u};
      if (!GridHolds(grid, nextCell)) continue;
      held = true;
      near = nextNear;
      value = InterpolateCell(grid, nextCell);
      if (!(value > kBlankThreshold)) {
        found = true;
        break;
      }
    }
    if (!found && !held) {
      const TGridImports& last = ZoneGrid(s.zone.standIns, *more.back());
      int ix = 0, iy = 0;
      double t = 0, u = 0;
      near = 0;
      LocateArray(last, 1, &ringLon_[j], &ringLat_[j], kGuardDeg, &ix, &iy, &t, &u, &near);
      value = InterpolateCell(last, {.ix = ix, .iy = iy, .t = t, .u = u});
    }
    if (!found && held) value = kBlankMarker;
    nearLine_[j] = static_cast<char>(nearLine_[j] | near);
    if (out) out[j] = value;
  }
}

void TPointEvaluator::KernelPairs(const TRingTable::Ring& ring, int n, double rPoint) {
  if (ring.nearPoint) {  // a few rings next to the point: no need of the vector loops
    for (int k = 0; k < n; ++k) jobPair_[k] = KernelPair(ring, jobR_[k], rPoint);
    return;
  }
  // The terms of both bounds for every radius, then every logarithm in one
  // tight loop, then the sums: the same operations as KernelPair, in an
  // order that keeps the processor busy.
  KernelTermsBounds(n, ring.tOut, ring.tIn, jobR_.data(), rPoint, clOut_.data(), qOut_.data(), uOut_.data(),
                    clIn_.data(), qIn_.data(), uIn_.data());
  for (int k = 0; k < n; ++k) {
    logOut_[k] = KernelTakesLog(uOut_[k]) ? std::log(uOut_[k]) : 0;
    logIn_[k] = KernelTakesLog(uIn_[k]) ? std::log(uIn_[k]) : 0;
  }
  KernelPairsFinish(n, clOut_.data(), qOut_.data(), uOut_.data(), logOut_.data(), clIn_.data(), qIn_.data(),
                    uIn_.data(), logIn_.data(), jobPair_.data());
}

void TPointEvaluator::SurfacePairs(const TRingTable::Ring& ring, const double* radii, int m,
                                   const TConstantPairs& at, const TConstantPairs* atI, double rP, double rPi,
                                   signed char* source, double* pairs, double* pairsI) {
  // Where a kept segment's radius is a constant surface's, its pair is that
  // surface's (source 0 or 1); the others are evaluated here (source 2).
  int n = 0;
  for (int j = 0; j < m; ++j) {
    if (!keep_[j]) continue;
    const double r1 = radii[j];
    if (r1 == at.rTop) {
      source[j] = 0;
    } else if (r1 == at.rBottom) {
      source[j] = 1;
    } else {
      source[j] = 2;
      jobIndex_[n] = j;
      jobR_[n] = r1;
      ++n;
    }
  }
  if (n == 0) return;
  KernelPairs(ring, n, rP);
  for (int k = 0; k < n; ++k) pairs[jobIndex_[k]] = jobPair_[k];
  if (atI) {
    KernelPairs(ring, n, rPi);
    for (int k = 0; k < n; ++k) pairsI[jobIndex_[k]] = jobPair_[k];
  }
}

void TPointEvaluator::AccumulateRing(int i, const TStretch& s, std::int64_t offset, double rP, double rPi,
                                     TSums& layer, TSums& total) {
  const TRingTable::Ring& ring = s.ring;
  const TLayerDef& upper = ctx_.model[i];
  const TLayerDef& lower = ctx_.model[i + 1];
  const double* top = upper.elevationGrid ? elevation_[i].data() + offset : nullptr;
  const double* bottom = lower.elevationGrid ? elevation_[i + 1].data() + offset : nullptr;
  const double* density = lower.densityGrid ? density_[i + 1].data() + offset : nullptr;
  const double R = ctx_.earthRadius;
  const bool withIncrement = ctx_.increment != 0;
  const int m = s.count;
  const int segments = ring.segments;  // of the whole ring: each segment's share
  // The layer per segment: blanks dropped, the crossing rule applied.
  for (int j = 0; j < m; ++j) {
    double T = top ? top[j] : upper.elevation;
    double B = bottom ? bottom[j] : lower.elevation;
    const double rho = density ? density[j] : lower.density;
    keep_[j] = !(T > kBlankThreshold || B > kBlankThreshold || rho > kBlankThreshold);
    double sign = +1;
    ApplyCrossingRule(ctx_.priority, T, B, sign);
    rTop_[j] = R + T;
    rBottom_[j] = R + B;
    rho_[j] = rho;
    sign_[j] = sign;
  }
  // Radii of constant surfaces; NaN (never equal) where the surface is a grid.
  const double nan = std::nan("");
  const double rTopConst = top ? nan : R + upper.elevation;
  const double rBottomConst = bottom ? nan : R + lower.elevation;
  const auto known = [&](double rPoint) {
    return TConstantPairs{.rTop = rTopConst,
                          .pairTop = top ? nan : KernelPair(ring, rTopConst, rPoint),
                          .rBottom = rBottomConst,
                          .pairBottom = bottom ? nan : KernelPair(ring, rBottomConst, rPoint)};
  };
  const TConstantPairs at = known(rP);
  const TConstantPairs atI = withIncrement ? known(rPi) : at;
  const TConstantPairs* raised = withIncrement ? &atI : nullptr;
  SurfacePairs(ring, rTop_.data(), m, at, raised, rP, rPi, sourceTop_.data(), pairTop_.data(), pairTopI_.data());
  SurfacePairs(ring, rBottom_.data(), m, at, raised, rP, rPi, sourceBottom_.data(), pairBottom_.data(),
               pairBottomI_.data());
  const double knownAt[2] = {at.pairTop, at.pairBottom};
  const double knownAtI[2] = {atI.pairTop, atI.pairBottom};
  // Sums in segment order, held in registers for the stretch: through the
  // references every addition would wait for the one before it to reach
  // memory and come back.
  double layerDte = layer.dte, layerDteI = layer.dteI, totalDte = total.dte, totalDteI = total.dteI;
  for (int j = 0; j < m; ++j) {
    if (!keep_[j]) continue;
    const int sT = sourceTop_[j], sB = sourceBottom_[j];
    const double pT = sT < 2 ? knownAt[sT] : pairTop_[j];
    const double pB = sB < 2 ? knownAt[sB] : pairBottom_[j];
    const double c = rho_[j] * (pT - pB) * sign_[j] / segments;
    layerDte += c;
    totalDte += c;
    if (withIncrement) {
      const double pTi = sT < 2 ? knownAtI[sT] : pairTopI_[j];
      const double pBi = sB < 2 ? knownAtI[sB] : pairBottomI_[j];
      const double ci = rho_[j] * (pTi - pBi) * sign_[j] / segments;
      layerDteI += ci;
      totalDteI += ci;
    }
  }
  layer = {.dte = layerDte, .dteI = layerDteI};
  total = {.dte = totalDte, .dteI = totalDteI};
}

std::string TPointEvaluator::Evaluate(const TCalcPoint& p) {
  RequireAboveCentre(ctx_, p);
  const double R = ctx_.earthRadius;
  const double rP = R + p.height;
  const double rPi = R + p.height + ctx_.increment;

  TPointTerms pt;
  pt.phiDeg = p.phi;
  pt.lambdaDeg = p.lambda;
  pt.lambdaRad = p.lambda * kDegToRad;
  const double phiRad = p.phi * kDegToRad;
  // As the direct problem forms it, (1 - f) sin / cos, with 1 - f exactly 1.
  const double tanU = std::sin(phiRad) / std::cos(phiRad);
  pt.cosU = 1 / std::sqrt(tanU * tanU + 1);
  pt.sinU = tanU * pt.cosU;

  if (shared_) {
    ForEachStretch([&](const TStretch& s) {
      RingCentres(s, pt);
      SampleRing(s, sampled_, s.sample, pt);
    });
  }

  std::string line;
  TSums total;
  for (int i = 0; i <= ctx_.rowCount - 2; ++i) {
    if (!HasGrid(ctx_, i)) {
      AppendLayer(ctx_, p, i, ClosedFormLayer(ctx_, i, p, total), line);
      continue;
    }
    TSums layer;
    ForEachStretch([&](const TStretch& s) {
      if (shared_) {
        AccumulateRing(i, s, s.sample, rP, rPi, layer, total);
      } else {
        RingCentres(s, pt);
        SampleRing(s, layerGrids_[i], 0, pt);
        AccumulateRing(i, s, 0, rP, rPi, layer, total);
      }
    });
    AppendLayer(ctx_, p, i, layer, line);
  }
  AppendLineEnd(ctx_, p, total, line);
  return line;
}

}  // namespace globelayers

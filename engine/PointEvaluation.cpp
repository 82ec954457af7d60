#include "PointEvaluation.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <utility>

#include "Geodesy.h"

namespace globelayers {
namespace {

constexpr double kBlankAbove = 1e38;  // a sampled value above it is a blank

// The crossing rule, on the top and bottom elevations of one layer in metres.
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

// The attraction of the band psiIn..psiOut between the radii rT and rB, per
// radian of azimuth, at a point of radius rP.
double BandIntegral(double psiIn, double psiOut, double rT, double rB, double rP) {
  return (AttractionKernel(psiOut, rT, rP) - AttractionKernel(psiIn, rT, rP)) -
         (AttractionKernel(psiOut, rB, rP) - AttractionKernel(psiIn, rB, rP));
}

// Appends a layer's piece and returns nothing; the totals are scaled by the
// caller. VGDRE is formed from values before the unit factor.
void AppendLayer(const TRunContext& ctx, const TCalcPoint& p, int i, TSums layer, std::string& line) {
  layer.dte *= ctx.twoPiG;
  layer.dteI *= ctx.twoPiG;
  if (!ctx.layout.perLayer) return;
  TResultGroup g{layer.dte * ctx.unitFactor, layer.dteI * ctx.unitFactor, 0};
  if (ctx.increment != 0) g.vgdre = (layer.dteI - layer.dte) / ctx.increment;
  line += ResultLayerPiece(ctx.layout, p, i, g);
}

void AppendLineEnd(const TRunContext& ctx, const TCalcPoint& p, TSums total, std::string& line) {
  total.dte *= ctx.twoPiG;
  total.dteI *= ctx.twoPiG;
  TResultGroup s{total.dte * ctx.unitFactor, total.dteI * ctx.unitFactor, 0};
  if (ctx.increment != 0) s.vgdre = (total.dteI - total.dte) / ctx.increment;
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

TRingTable BuildRingTable(const TRingLayout& L, double earthRadius) {
  TRingTable table;
  std::map<int, int> azimuthTables;  // segment count -> first entry
  for (int k = 0; k < L.ringCount(); ++k) {
    const TRingBounds b = RingBounds(L, k);
    if (b.skip) continue;
    TRingTable::Ring ring;
    ring.psiIn = b.psiIn;
    ring.psiOut = b.psiOut;
    ring.tIn = std::cos(b.psiIn);
    ring.tOut = std::cos(b.psiOut);
    ring.cap = b.cap;
    ring.segments = L.segmentCounts[k];
    ring.first = table.segmentCount();
    table.segmentTotal += ring.segments;
    // The arc to the centres as the general geodesic forms it on a sphere:
    // (a * psi) / a, which need not be psi to the last bit.
    const double sigma = earthRadius * RingMidDistance(b) / 1 / earthRadius / 1;
    ring.sinSigma = std::sin(sigma);
    ring.cosSigma = std::cos(sigma);
    // Rings with the same segment count share one table of azimuths.
    const auto [known, isNew] = azimuthTables.try_emplace(ring.segments, static_cast<int>(table.sinAzimuth.size()));
    ring.azimuth = known->second;
    if (isNew) {
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
        double T = upper.elevationGrid ? SampleElevation(ctx.model, i, centre.lonDeg, centre.latDeg)
                                       : upper.elevation;
        double B = lower.elevationGrid ? SampleElevation(ctx.model, i + 1, centre.lonDeg, centre.latDeg)
                                       : lower.elevation;
        const double rho = lower.densityGrid ? SampleDensity(ctx.model, i + 1, centre.lonDeg, centre.latDeg)
                                             : lower.density;
        if (T > kBlankAbove || B > kBlankAbove || rho > kBlankAbove) continue;
        double sign = +1;
        ApplyCrossingRule(ctx.priority, T, B, sign);
        const double rT = R + T, rB = R + B;
        const double c = rho * BandIntegral(b.psiIn, b.psiOut, rT, rB, R + p.height) * sign / m;
        layer.dte += c;
        total.dte += c;
        if (withIncrement) {
          const double ci = rho * BandIntegral(b.psiIn, b.psiOut, rT, rB, R + p.height + ctx.increment) * sign / m;
          layer.dteI += ci;
          total.dteI += ci;
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
  int gridLayers = 0;
  for (int i = 0; i <= ctx.rowCount - 2; ++i) gridLayers += HasGrid(ctx, i) ? 1 : 0;
  if (gridLayers == 0) return;
  // With one layer on grids, rings are walked once: each ring's samples go
  // into small buffers and are used at once. Several such layers keep every
  // sample of the point, since each layer walks all rings in turn.
  fused_ = gridLayers == 1;
  int widest = 0;
  for (const TRingTable::Ring& ring : ctx.table.rings) widest = std::max(widest, ring.segments);
  ringLat_.resize(widest);
  ringLon_.resize(widest);
  const int length = fused_ ? widest : ctx.table.segmentCount();
  for (int k = 0; k < ctx.rowCount; ++k) {
    if (ctx.model[k].elevationGrid) {
      elevation_[k].resize(length);
      sampled_.push_back({ctx.model[k].elevationGrid.get(), elevation_[k].data()});
    }
    // The density of row 0 belongs to no layer.
    if (k >= 1 && ctx.model[k].densityGrid) {
      density_[k].resize(length);
      sampled_.push_back({ctx.model[k].densityGrid.get(), density_[k].data()});
    }
  }
}

namespace {

// K(out) - K(in) for one radius: the part of the band integral that a
// surface contributes. Same operations as BandIntegral's halves.
inline double KernelPair(const TRingTable::Ring& ring, double r1, double rP) {
  return AttractionKernelCos(ring.tOut, r1, rP) - AttractionKernelCos(ring.tIn, r1, rP);
}

// Kernel pairs of the layer's constant surfaces for one ring and one point
// radius: every segment of the ring whose surface is that constant reuses
// them.
struct TConstantPairs {
  double rTop, pairTop, rBottom, pairBottom;
  double Pair(const TRingTable::Ring& ring, double r1, double rP) const {
    if (r1 == rTop) return pairTop;
    if (r1 == rBottom) return pairBottom;
    return KernelPair(ring, r1, rP);
  }
};

}  // namespace

void TPointEvaluator::RingCentres(const TRingTable::Ring& ring, const TPointTerms& pt) {
  if (ring.cap) {  // the cap ring is sampled at the point itself
    ringLat_[0] = pt.phiDeg;
    ringLon_[0] = pt.lambdaDeg;
    return;
  }
  // As the general direct problem gives them with flattening 0: one pass of
  // its loop, every term it adds is 0.
  const double sy = ring.sinSigma, cy = ring.cosSigma;
  const double cosU = pt.cosU, sinU = pt.sinU;
  const double cosUcy = cosU * cy, sinUsy = sinU * sy, sinUcy = sinU * cy, cosUsy = cosU * sy;
  const double* sinAz = ctx_.table.sinAzimuth.data() + ring.azimuth;
  const double* cosAz = ctx_.table.cosAzimuth.data() + ring.azimuth;
  for (int j = 0; j < ring.segments; ++j) {
    const double sinAlpha = sinAz[j], cosAlpha = cosAz[j];
    const double sinA = cosU * sinAlpha;
    const double b = cosUcy * cosAlpha - sinUsy;
    const double phi2 = std::atan2(sinUcy + cosUsy * cosAlpha, 1 * std::sqrt(sinA * sinA + b * b));
    const double dLambda = std::atan2(sy * sinAlpha, cosUcy - sinUsy * cosAlpha);
    double lambda2 = (pt.lambdaRad + dLambda) * kRadToDeg;
    if (lambda2 < -180) lambda2 += 360;
    if (lambda2 > 180) lambda2 -= 360;
    ringLat_[j] = phi2 * kRadToDeg;
    ringLon_[j] = lambda2;
  }
}

void TPointEvaluator::SampleRing(const TRingTable::Ring& ring, int offset) {
  // Every grid once per segment, whichever layers share it; a tight loop of
  // independent samples lets the processor overlap their divisions.
  for (const TSampledGrid& g : sampled_) {
    double* out = g.samples + offset;
    for (int j = 0; j < ring.segments; ++j) out[j] = SampleGrid(*g.grid, ringLon_[j], ringLat_[j]);
  }
}

void TPointEvaluator::AccumulateRing(int i, const TRingTable::Ring& ring, int offset, double rP,
                                     double rPi, TSums& layer, TSums& total) const {
  const TLayerDef& upper = ctx_.model[i];
  const TLayerDef& lower = ctx_.model[i + 1];
  const double* top = upper.elevationGrid ? elevation_[i].data() + offset : nullptr;
  const double* bottom = lower.elevationGrid ? elevation_[i + 1].data() + offset : nullptr;
  const double* density = lower.densityGrid ? density_[i + 1].data() + offset : nullptr;
  const double R = ctx_.earthRadius;
  const bool withIncrement = ctx_.increment != 0;
  // Radii of constant surfaces; NaN (never equal) where the surface is a grid.
  const double nan = std::nan("");
  const double rTopConst = top ? nan : R + upper.elevation;
  const double rBottomConst = bottom ? nan : R + lower.elevation;
  const auto pairs = [&](double rPoint) {
    return TConstantPairs{rTopConst, top ? nan : KernelPair(ring, rTopConst, rPoint), rBottomConst,
                          bottom ? nan : KernelPair(ring, rBottomConst, rPoint)};
  };
  const TConstantPairs at = pairs(rP);
  const TConstantPairs atI = withIncrement ? pairs(rPi) : at;
  const int m = ring.segments;
  for (int j = 0; j < m; ++j) {
    double T = top ? top[j] : upper.elevation;
    double B = bottom ? bottom[j] : lower.elevation;
    const double rho = density ? density[j] : lower.density;
    if (T > kBlankAbove || B > kBlankAbove || rho > kBlankAbove) continue;
    double sign = +1;
    ApplyCrossingRule(ctx_.priority, T, B, sign);
    const double rT = R + T, rB = R + B;
    const double c = rho * (at.Pair(ring, rT, rP) - at.Pair(ring, rB, rP)) * sign / m;
    layer.dte += c;
    total.dte += c;
    if (withIncrement) {
      const double ci = rho * (atI.Pair(ring, rT, rPi) - atI.Pair(ring, rB, rPi)) * sign / m;
      layer.dteI += ci;
      total.dteI += ci;
    }
  }
}

std::string TPointEvaluator::Evaluate(const TCalcPoint& p) {
  const TRingTable& table = ctx_.table;
  const double R = ctx_.earthRadius;
  const double rP = R + p.height;
  const double rPi = R + p.height + ctx_.increment;

  TPointTerms pt;
  pt.phiDeg = p.phi;
  pt.lambdaDeg = p.lambda;
  pt.lambdaRad = p.lambda * kDegToRad;
  const double phiRad = p.phi * kDegToRad;
  const double tanU = (1 * std::sin(phiRad)) / std::cos(phiRad);
  pt.cosU = 1 / std::sqrt(tanU * tanU + 1);
  pt.sinU = tanU * pt.cosU;

  if (!sampled_.empty() && !fused_) {
    for (const TRingTable::Ring& ring : table.rings) {
      RingCentres(ring, pt);
      SampleRing(ring, ring.first);
    }
  }

  std::string line;
  TSums total;
  for (int i = 0; i <= ctx_.rowCount - 2; ++i) {
    if (!HasGrid(ctx_, i)) {
      AppendLayer(ctx_, p, i, ClosedFormLayer(ctx_, i, p, total), line);
      continue;
    }
    TSums layer;
    for (const TRingTable::Ring& ring : table.rings) {
      if (fused_) {
        RingCentres(ring, pt);
        SampleRing(ring, 0);
        AccumulateRing(i, ring, 0, rP, rPi, layer, total);
      } else {
        AccumulateRing(i, ring, ring.first, rP, rPi, layer, total);
      }
    }
    AppendLayer(ctx_, p, i, layer, line);
  }
  AppendLineEnd(ctx_, p, total, line);
  return line;
}

}  // namespace globelayers

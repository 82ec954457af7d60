#include "PointEvaluation.h"

#include <algorithm>
#include <cmath>
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

struct TSums {
  double dte = 0;
  double dteI = 0;
};

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
    // The arc to the centres as the general geodesic forms it on a sphere:
    // (a * psi) / a, which need not be psi to the last bit.
    const double sigma = earthRadius * RingMidDistance(b) / 1 / earthRadius / 1;
    ring.sinSigma = std::sin(sigma);
    ring.cosSigma = std::cos(sigma);
    for (int j = 0; j < ring.segments; ++j) {
      const double azimuth = b.cap ? 0 : SegmentMidAzimuth(j, ring.segments);
      table.sinAzimuth.push_back(std::sin(azimuth));
      table.cosAzimuth.push_back(std::cos(azimuth));
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
  const int segments = ctx.table.segmentCount();
  elevation_.resize(ctx.rowCount);
  density_.resize(ctx.rowCount);
  for (int i = 0; i <= ctx.rowCount - 2; ++i) anyGrid_ = anyGrid_ || HasGrid(ctx, i);
  if (!anyGrid_) return;
  int widest = 0;
  for (const TRingTable::Ring& ring : ctx.table.rings) widest = std::max(widest, ring.segments);
  ringLat_.resize(widest);
  ringLon_.resize(widest);
  for (int k = 0; k < ctx.rowCount; ++k) {
    if (ctx.model[k].elevationGrid) {
      elevation_[k].resize(segments);
      sampled_.push_back({ctx.model[k].elevationGrid.get(), elevation_[k].data()});
    }
    // The density of row 0 belongs to no layer.
    if (k >= 1 && ctx.model[k].densityGrid) {
      density_[k].resize(segments);
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

std::string TPointEvaluator::Evaluate(const TCalcPoint& p) {
  const TRingTable& table = ctx_.table;
  const double R = ctx_.earthRadius;
  const bool withIncrement = ctx_.increment != 0;
  const double rP = R + p.height;
  const double rPi = R + p.height + ctx_.increment;

  if (anyGrid_) {
    // Segment centres, as the general direct problem gives them with
    // flattening 0 (one pass of its loop; every term it adds is 0).
    const double phiRad = p.phi * kDegToRad;
    const double lambdaRad = p.lambda * kDegToRad;
    const double tanU = (1 * std::sin(phiRad)) / std::cos(phiRad);
    const double cosU = 1 / std::sqrt(tanU * tanU + 1);
    const double sinU = tanU * cosU;
    // Centres ring by ring into a small buffer, then every grid sampled
    // once per segment, whichever layers share it. Separate tight loops let
    // the processor overlap the divisions of neighbouring samples.
    for (const TRingTable::Ring& ring : table.rings) {
      const int m = ring.segments;
      if (ring.cap) {
        ringLat_[0] = p.phi;
        ringLon_[0] = p.lambda;
      } else {
        const double sy = ring.sinSigma, cy = ring.cosSigma;
        const double cosUcy = cosU * cy, sinUsy = sinU * sy, sinUcy = sinU * cy, cosUsy = cosU * sy;
        const double* sinAz = table.sinAzimuth.data() + ring.first;
        const double* cosAz = table.cosAzimuth.data() + ring.first;
        for (int j = 0; j < m; ++j) {
          const double sinAlpha = sinAz[j], cosAlpha = cosAz[j];
          const double sinA = cosU * sinAlpha;
          const double b = cosUcy * cosAlpha - sinUsy;
          const double phi2 = std::atan2(sinUcy + cosUsy * cosAlpha, 1 * std::sqrt(sinA * sinA + b * b));
          const double dLambda = std::atan2(sy * sinAlpha, cosUcy - sinUsy * cosAlpha);
          double lambda2 = (lambdaRad + dLambda) * kRadToDeg;
          if (lambda2 < -180) lambda2 += 360;
          if (lambda2 > 180) lambda2 -= 360;
          ringLat_[j] = phi2 * kRadToDeg;
          ringLon_[j] = lambda2;
        }
      }
      for (const TSampledGrid& g : sampled_) {
        double* out = g.samples + ring.first;
        for (int j = 0; j < m; ++j) out[j] = SampleGrid(*g.grid, ringLon_[j], ringLat_[j]);
      }
    }
  }

  std::string line;
  TSums total;
  for (int i = 0; i <= ctx_.rowCount - 2; ++i) {
    if (!HasGrid(ctx_, i)) {
      AppendLayer(ctx_, p, i, ClosedFormLayer(ctx_, i, p, total), line);
      continue;
    }
    const TLayerDef& upper = ctx_.model[i];
    const TLayerDef& lower = ctx_.model[i + 1];
    const double* topSamples = upper.elevationGrid ? elevation_[i].data() : nullptr;
    const double* bottomSamples = lower.elevationGrid ? elevation_[i + 1].data() : nullptr;
    const double* densitySamples = lower.densityGrid ? density_[i + 1].data() : nullptr;
    // Radii of constant surfaces; NaN (never equal) where the surface is a grid.
    const double nan = std::nan("");
    const double rTopConst = topSamples ? nan : R + upper.elevation;
    const double rBottomConst = bottomSamples ? nan : R + lower.elevation;
    TSums layer;
    for (const TRingTable::Ring& ring : table.rings) {
      const int m = ring.segments;
      const auto pairs = [&](double rPoint) {
        return TConstantPairs{rTopConst, topSamples ? nan : KernelPair(ring, rTopConst, rPoint),
                              rBottomConst, bottomSamples ? nan : KernelPair(ring, rBottomConst, rPoint)};
      };
      const TConstantPairs at = pairs(rP);
      const TConstantPairs atI = withIncrement ? pairs(rPi) : at;
      for (int s = ring.first, end = ring.first + m; s < end; ++s) {
        double T = topSamples ? topSamples[s] : upper.elevation;
        double B = bottomSamples ? bottomSamples[s] : lower.elevation;
        const double rho = densitySamples ? densitySamples[s] : lower.density;
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
    AppendLayer(ctx_, p, i, layer, line);
  }
  AppendLineEnd(ctx_, p, total, line);
  return line;
}

}  // namespace globelayers

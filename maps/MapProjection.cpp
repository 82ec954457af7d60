#include "MapProjection.h"

#include <algorithm>
#include <cmath>

namespace globelayers {
namespace {

constexpr double kDegToRad = 0.017453292519943295;
// The standard parallel never comes nearer the poles than this, so that a
// map of polar stations keeps a finite width, degrees.
constexpr double kMaxStandardParallelDeg = 80;

}  // namespace

TMapFrame TMapFrame::Fit(const TLonLatBox& box, double widthPx, double heightPx,
                         double marginFraction, double minSpanDeg) {
  TMapFrame f;
  f.widthPx_ = widthPx;
  f.heightPx_ = heightPx;
  f.centreLonDeg_ = (box.lonMinDeg + box.lonMaxDeg) / 2;
  f.centreLatDeg_ = (box.latMinDeg + box.latMaxDeg) / 2;
  const double parallel = std::clamp(f.centreLatDeg_, -kMaxStandardParallelDeg, kMaxStandardParallelDeg);
  f.lonScale_ = std::cos(parallel * kDegToRad);
  const double lonSpan = std::max(box.lonMaxDeg - box.lonMinDeg, minSpanDeg) * f.lonScale_;
  const double latSpan = std::max(box.latMaxDeg - box.latMinDeg, minSpanDeg);
  const double margin = marginFraction * std::max(lonSpan, latSpan);
  const double w = lonSpan + 2 * margin, h = latSpan + 2 * margin;  // degrees of latitude
  f.pxPerDegLat_ = std::min(widthPx / w, heightPx / h);
  return f;
}

TPixelPoint TMapFrame::ToPixel(double lonDeg, double latDeg) const {
  return {widthPx_ / 2 + (lonDeg - centreLonDeg_) * lonScale_ * pxPerDegLat_,
          heightPx_ / 2 - (latDeg - centreLatDeg_) * pxPerDegLat_};
}

void TMapFrame::ToLonLat(TPixelPoint p, double& lonDeg, double& latDeg) const {
  lonDeg = centreLonDeg_ + (p.x - widthPx_ / 2) / (lonScale_ * pxPerDegLat_);
  latDeg = centreLatDeg_ - (p.y - heightPx_ / 2) / pxPerDegLat_;
}

TLonLatBox TMapFrame::Visible() const {
  TLonLatBox b;
  ToLonLat({0, heightPx_}, b.lonMinDeg, b.latMinDeg);
  ToLonLat({widthPx_, 0}, b.lonMaxDeg, b.latMaxDeg);
  return b;
}

double GraticuleStep(double spanDeg, int maxSteps) {
  const double raw = spanDeg / std::max(maxSteps, 1);
  if (raw > 1) {
    for (double step : {2.0, 5.0, 10.0, 15.0, 20.0, 30.0, 45.0, 60.0, 90.0})
      if (step >= raw) return step;
    return 180;
  }
  const double power = std::pow(10.0, std::floor(std::log10(raw)));
  for (double m : {1.0, 2.0, 5.0, 10.0})
    if (m * power >= raw) return m * power;
  return 10 * power;
}

}  // namespace globelayers

#include "MapProjection.h"

#include <algorithm>
#include <cmath>

#include "NumberText.h"

namespace globelayers {
namespace {

constexpr double kDegToRad = 0.017453292519943295;
// The standard parallel never comes nearer the poles than this, so that a
// map of polar stations keeps a finite width, degrees.
constexpr double kMaxStandardParallelDeg = 80;
constexpr double kPoleDeg = 90;       // latitude of the poles, degrees
constexpr double kHalfTurnDeg = 180;  // half a turn of longitude, degrees

}  // namespace

TMapFrame TMapFrame::Fit(const TLonLatBox& box, double widthPx, double heightPx,
                         double marginFraction, double minSpanDeg) {
  TMapFrame f;
  f.centreLonDeg_ = (box.lonMinDeg + box.lonMaxDeg) / 2;
  const double parallel = std::clamp((box.latMinDeg + box.latMaxDeg) / 2, -kMaxStandardParallelDeg,
                                     kMaxStandardParallelDeg);
  f.lonScale_ = std::cos(parallel * kDegToRad);
  const double lonSpan = std::max(box.lonMaxDeg - box.lonMinDeg, minSpanDeg);  // degrees of longitude
  const double latSpan = std::max(box.latMaxDeg - box.latMinDeg, minSpanDeg);  // degrees
  const double margin = marginFraction * std::max(lonSpan * f.lonScale_, latSpan);  // degrees of latitude
  // Half the longitudes shown, degrees of longitude; the latitudes shown, degrees.
  double halfLon = std::min(lonSpan / 2 + margin / f.lonScale_, kHalfTurnDeg);
  const double latMid = (box.latMinDeg + box.latMaxDeg) / 2;
  double south = std::max(latMid - latSpan / 2 - margin, -kPoleDeg);
  double north = std::min(latMid + latSpan / 2 + margin, kPoleDeg);
  if (north - south < minSpanDeg) {
    // Stations beyond a pole: the frame keeps to the nearer pole.
    north = std::clamp(north, -kPoleDeg + minSpanDeg, kPoleDeg);
    south = north - minSpanDeg;
  }
  f.pxPerDegLat_ = std::min(widthPx / (2 * halfLon * f.lonScale_), heightPx / (north - south));
  // Widened to the rectangle's shape, within the poles and one turn.
  const double wantLat = heightPx / f.pxPerDegLat_;
  if (wantLat > north - south) {
    const double grow = (std::min(wantLat, 2 * kPoleDeg) - (north - south)) / 2;
    south -= grow, north += grow;
    if (south < -kPoleDeg) north += -kPoleDeg - south, south = -kPoleDeg;
    if (north > kPoleDeg) south -= north - kPoleDeg, north = kPoleDeg;
    south = std::max(south, -kPoleDeg);
  }
  const double wantHalfLon = widthPx / f.pxPerDegLat_ / f.lonScale_ / 2;
  halfLon = std::min(std::max(halfLon, wantHalfLon), kHalfTurnDeg);
  f.centreLatDeg_ = (south + north) / 2;
  // The whole side where nothing stopped the widening: no rounding eats a pixel.
  f.widthPx_ = wantHalfLon <= kHalfTurnDeg ? widthPx : 2 * halfLon * f.lonScale_ * f.pxPerDegLat_;
  f.heightPx_ = wantLat <= 2 * kPoleDeg ? heightPx : (north - south) * f.pxPerDegLat_;
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

std::string DegreeLabel(double deg, double stepDeg, bool latitude) {
  const int decimals = stepDeg >= 1 ? 0 : std::min(6, int(std::ceil(-std::log10(stepDeg) - 1e-9)));
  if (!latitude) deg = std::remainder(deg, 2 * kHalfTurnDeg);  // -180..180
  std::string text = CFormat("%.*f", decimals, std::abs(deg));
  // The hemisphere of the number as printed: 0.0001 printed as 0 has none.
  const bool onLine = text.find_first_not_of("0.") == std::string::npos;
  const bool onAntimeridian = !latitude && CFormat("%.*f", decimals, kHalfTurnDeg) == text;
  text += "\u00B0";
  if (!onLine && !onAntimeridian) text += latitude ? (deg > 0 ? "N" : "S") : (deg > 0 ? "E" : "W");
  return text;
}

}  // namespace globelayers

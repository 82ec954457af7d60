// Longitude and latitude to pixels for the result map: an equirectangular
// projection whose standard parallel is the middle latitude of the stations,
// with one scale in both directions, fitted into a rectangle of pixels with
// a margin around the stations. North is up; x grows eastward. The frame
// never shows beyond a pole or more than one turn of longitude: where the
// rectangle's shape would ask for more, the frame keeps its aspect and
// leaves part of the rectangle unused.
#pragma once

#include <string>

namespace globelayers {

struct TLonLatBox {
  double lonMinDeg = 0, lonMaxDeg = 0;  // degrees, as the stations hold them
  double latMinDeg = 0, latMaxDeg = 0;  // degrees
};

struct TPixelPoint {
  double x = 0, y = 0;  // pixels from the top left corner
};

class TMapFrame {
 public:
  // Fits `box`, widened by `marginFraction` of its larger side on every
  // side (and at least minSpanDeg wide and high, so that one station or a
  // line of stations still gets an area), centred into widthPx x heightPx,
  // then widened to fill the rectangle as far as the poles and one turn of
  // longitude allow.
  static TMapFrame Fit(const TLonLatBox& box, double widthPx, double heightPx,
                       double marginFraction = 0.08, double minSpanDeg = 0.01);

  TPixelPoint ToPixel(double lonDeg, double latDeg) const;
  // The inverse of ToPixel.
  void ToLonLat(TPixelPoint p, double& lonDeg, double& latDeg) const;
  // The part of the earth that the whole rectangle shows.
  TLonLatBox Visible() const;
  double PixelsPerDegreeLat() const { return pxPerDegLat_; }
  // The part of the rectangle the frame uses, pixels: all of it in one
  // direction at least; ToPixel counts from this part's top left corner.
  double WidthPx() const { return widthPx_; }
  double HeightPx() const { return heightPx_; }

 private:
  double centreLonDeg_ = 0, centreLatDeg_ = 0;  // degrees, at the rectangle's centre
  double pxPerDegLat_ = 1;                      // pixels per degree of latitude
  double lonScale_ = 1;                         // cosine of the standard parallel
  double widthPx_ = 0, heightPx_ = 0;
};

// The smallest graticule step that cuts `spanDeg` into at most `maxSteps`
// parts: below a degree 1, 2 or 5 times a power of ten; from a degree on
// the steps that divide a circle evenly (1, 2, 5, 10, 15, 20, 30, 45, 60,
// 90); spanDeg > 0.
double GraticuleStep(double spanDeg, int maxSteps);

// A graticule label for `deg` on lines `stepDeg` apart (degrees): no
// needless digits, the hemisphere after the degree sign (N/S for latitudes,
// E/W for longitudes, none on the equator, the prime meridian and 180),
// longitudes taken round to -180..180. UTF-8.
std::string DegreeLabel(double deg, double stepDeg, bool latitude);

}  // namespace globelayers

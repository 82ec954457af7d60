#include "ColourMap.h"

#include <algorithm>
#include <cmath>
#include <iterator>

namespace globelayers {
namespace {

// Nine evenly spaced stops of viridis (a colour map placed in the public
// domain); in between, linear in sRGB, which keeps the map close to uniform.
constexpr TRgb kSequentialStops[] = {
    {0x44, 0x01, 0x54}, {0x47, 0x2D, 0x7B}, {0x3B, 0x52, 0x8B}, {0x2C, 0x72, 0x8E}, {0x21, 0x90, 0x8C},
    {0x27, 0xAD, 0x81}, {0x5D, 0xC8, 0x63}, {0xAA, 0xDC, 0x32}, {0xFD, 0xE7, 0x25},
};
// Nine stops of a cool-to-warm diverging map with equal lightness steps on
// both sides of its grey middle.
constexpr TRgb kDivergingStops[] = {
    {59, 76, 192},   {98, 130, 234},  {141, 176, 254}, {184, 208, 249}, {221, 221, 221},
    {245, 196, 173}, {244, 154, 123}, {222, 96, 77},   {180, 4, 38},
};

template <std::size_t N>
TRgb Interpolate(const TRgb (&stops)[N], double t) {
  if (!(t > 0)) t = 0;  // NaN too
  if (t > 1) t = 1;
  const double x = t * (N - 1);
  const auto i = std::min(static_cast<std::size_t>(x), N - 2);
  const double f = x - static_cast<double>(i);
  auto mix = [f](std::uint8_t a, std::uint8_t b) {
    return static_cast<std::uint8_t>(std::lround(a + (b - a) * f));
  };
  return {mix(stops[i].r, stops[i + 1].r), mix(stops[i].g, stops[i + 1].g),
          mix(stops[i].b, stops[i + 1].b)};
}

}  // namespace

TRgb SequentialColour(double t) { return Interpolate(kSequentialStops, t); }
TRgb DivergingColour(double t) { return Interpolate(kDivergingStops, t); }

TColourScale MakeColourScale(double minValue, double maxValue) {
  return {minValue, maxValue, minValue < 0 && maxValue > 0};
}

double ScalePosition(const TColourScale& s, double value) {
  if (s.diverging) {
    const double m = std::max(-s.minValue, s.maxValue);
    return std::clamp(0.5 + value / (2 * m), 0.0, 1.0);
  }
  if (!(s.maxValue > s.minValue)) return 0.5;
  return std::clamp((value - s.minValue) / (s.maxValue - s.minValue), 0.0, 1.0);
}

TRgb ColourOf(const TColourScale& s, double value) {
  const double t = ScalePosition(s, value);
  return s.diverging ? DivergingColour(t) : SequentialColour(t);
}

}  // namespace globelayers

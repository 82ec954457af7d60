// Value to colour for the result map and the grid pictures. Two perceptually
// uniform maps: a viridis-like one for values of one sign, and a diverging
// blue-grey-red one centred on 0 for values of both signs, so that 0 is
// always the grey in the middle and equal magnitudes have equal strength.
#pragma once

#include <cstdint>

namespace globelayers {

struct TRgb {
  std::uint8_t r = 0, g = 0, b = 0;
  friend bool operator==(const TRgb&, const TRgb&) = default;
};

// What a blank grid node is drawn in: a grey that neither map uses.
inline constexpr TRgb kBlankColour{200, 200, 200};

// The sequential map at t in [0, 1] (dark violet to yellow); t outside is
// clamped.
TRgb SequentialColour(double t);
// The diverging map at t in [0, 1] (blue, grey at 0.5, red); t outside is
// clamped.
TRgb DivergingColour(double t);

struct TColourScale {
  double minValue = 0;  // the smallest value shown, in the column's unit
  double maxValue = 0;  // the largest value shown, in the column's unit
  bool diverging = false;  // values of both signs: centred on 0
};

// The scale for values from minValue to maxValue (both finite): diverging
// when minValue < 0 < maxValue, sequential otherwise.
TColourScale MakeColourScale(double minValue, double maxValue);

// Where `value` lies on the map, 0 to 1. Sequential: linear from minValue
// to maxValue (0.5 when they are equal). Diverging: 0.5 + value / (2 m)
// with m the larger of |minValue| and maxValue, so 0 sits at 0.5.
double ScalePosition(const TColourScale& scale, double value);

TRgb ColourOf(const TColourScale& scale, double value);

}  // namespace globelayers

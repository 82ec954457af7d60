// The vector arc tangent behind the segment centres: within one unit in the
// last place of the C library's, the same bits in its AVX-512, AVX and SSE2 forms and
// wherever a value sits in the array.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "VectorMath.h"

namespace globelayers {
namespace {

std::vector<TVectorIsa> FormsHere() {
  std::vector<TVectorIsa> forms{TVectorIsa::Sse2};
  if (BestVectorIsa() != TVectorIsa::Sse2) forms.push_back(TVectorIsa::Avx);
  if (BestVectorIsa() == TVectorIsa::Avx512) forms.push_back(TVectorIsa::Avx512);
  return forms;
}

double UlpDistance(double a, double b) {
  if (a == b) return 0;
  return std::fabs(a - b) / std::fabs(std::nextafter(b, std::numeric_limits<double>::infinity()) - b);
}

TEST(VectorMath, Atan2WithinOneUlpOfTheCLibrary) {
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> unit(-1, 1);
  std::uniform_int_distribution<int> exponent(-40, 40);
  const std::size_t n = 20003;  // not a multiple of 4: the last values take the padded path
  std::vector<double> y(n), x(n);
  for (std::size_t i = 0; i < n; ++i) {
    y[i] = std::ldexp(unit(rng), exponent(rng));
    x[i] = std::ldexp(unit(rng), exponent(rng));
  }
  for (TVectorIsa isa : FormsHere()) {
    std::vector<double> out(n);
    Atan2ArrayWith(isa, y.data(), x.data(), out.data(), n);
    double worst = 0;
    for (std::size_t i = 0; i < n; ++i) worst = std::max(worst, UlpDistance(out[i], std::atan2(y[i], x[i])));
    EXPECT_LE(worst, 1.0) << static_cast<int>(isa);
  }
}

TEST(VectorMath, Atan2SpecialValuesAsTheCLibrary) {
  const double inf = std::numeric_limits<double>::infinity(), nan = std::nan("");
  const double values[] = {0.0, -0.0, 1.0, -1.0, 1e-310, -1e-310, inf, -inf, nan};
  std::vector<double> y, x;
  for (double a : values) {
    for (double b : values) y.push_back(a), x.push_back(b);
  }
  for (TVectorIsa isa : FormsHere()) {
    std::vector<double> out(y.size());
    Atan2ArrayWith(isa, y.data(), x.data(), out.data(), y.size());
    for (std::size_t i = 0; i < y.size(); ++i) {
      const double want = std::atan2(y[i], x[i]);
      SCOPED_TRACE(testing::Message() << "atan2(" << y[i] << ", " << x[i] << ")");
      if (std::isnan(want)) {
        EXPECT_TRUE(std::isnan(out[i]));
      } else {
        EXPECT_LE(UlpDistance(out[i], want), 1.0);
        EXPECT_EQ(std::signbit(out[i]), std::signbit(want));
      }
    }
  }
}

TEST(VectorMath, Atan2SameBitsInEveryFormAndPosition) {
  std::mt19937_64 rng(11);
  std::uniform_real_distribution<double> unit(-3, 3);
  const std::size_t n = 37;
  std::vector<double> y(n), x(n), whole(n);
  for (std::size_t i = 0; i < n; ++i) y[i] = unit(rng), x[i] = unit(rng);
  Atan2ArrayWith(TVectorIsa::Sse2, y.data(), x.data(), whole.data(), n);
  for (TVectorIsa isa : FormsHere()) {
    // Every start and length: a value's bits do not depend on its neighbours.
    for (std::size_t start = 0; start < 6; ++start) {
      for (std::size_t length = 0; start + length <= n; ++length) {
        std::vector<double> out(length + 1, -7.0);
        Atan2ArrayWith(isa, y.data() + start, x.data() + start, out.data(), length);
        for (std::size_t i = 0; i < length; ++i) ASSERT_EQ(out[i], whole[start + i]) << start << " " << length;
        ASSERT_EQ(out[length], -7.0);  // nothing written past the end
      }
    }
  }
}

// The segment centres' arguments as the evaluation forms them (latitude:
// a sine-like numerator over a positive root; longitude: any quadrant, the
// denominator crossing zero), and a wide spread of magnitudes: every form
// gives the SSE2 form's bits. Each wider form must, or a run's numbers
// would depend on the processor it ran on.
TEST(VectorMath, Atan2FormsAgreeOnCentreArguments) {
  std::mt19937_64 rng(13);
  std::uniform_real_distribution<double> angle(-3.2, 3.2), unit(-1, 1);
  std::uniform_int_distribution<int> exponent(-60, 60);
  const std::size_t n = 400009;
  std::vector<double> y(n), x(n), sse2(n);
  for (std::size_t i = 0; i < n; ++i) {
    if (i % 3 == 0) {
      y[i] = std::ldexp(unit(rng), exponent(rng)), x[i] = std::ldexp(unit(rng), exponent(rng));
    } else {
      const double a = angle(rng), b = angle(rng);
      y[i] = std::sin(a) * std::cos(b), x[i] = i % 3 == 1 ? std::fabs(std::cos(a)) : std::cos(a) * std::sin(b);
    }
  }
  Atan2ArrayWith(TVectorIsa::Sse2, y.data(), x.data(), sse2.data(), n);
  for (TVectorIsa isa : FormsHere()) {
    std::vector<double> out(n);
    Atan2ArrayWith(isa, y.data(), x.data(), out.data(), n);
    std::size_t differing = 0;
    for (std::size_t i = 0; i < n; ++i) differing += std::memcmp(&out[i], &sse2[i], sizeof(double)) != 0 ? 1 : 0;
    EXPECT_EQ(differing, 0u) << static_cast<int>(isa);
  }
}

}  // namespace
}  // namespace globelayers

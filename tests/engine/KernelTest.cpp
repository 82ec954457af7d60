// The attraction kernel against closed forms of whole shells and against an
// independent numerical integration of the Newton kernel.
#include <gtest/gtest.h>

#include <cmath>

#include "Geodesy.h"

namespace globelayers {
namespace {

constexpr double kR = 6371001.0;  // metres

// Four-corner combination over psi in [psiIn, psiOut] and r1 in [rBot, rTop].
double Band(double psiIn, double psiOut, double rTop, double rBot, double r) {
  return (AttractionKernel(psiOut, rTop, r) - AttractionKernel(psiIn, rTop, r)) -
         (AttractionKernel(psiOut, rBot, r) - AttractionKernel(psiIn, rBot, r));
}

TEST(AttractionKernel, CornerValues) {
  const double r = kR + 100, r1 = kR - 500;
  // psi = 0 below the point: (r^3 - r1^3) / (3 r^2); at the point itself 0.
  EXPECT_NEAR(AttractionKernel(0, r1, r), (r * r * r - r1 * r1 * r1) / (3 * r * r), 1e-12 * r);
  EXPECT_EQ(AttractionKernel(0, r, r), 0.0);
  // psi = pi: (r1^3 + r^3) / (3 r^2).
  EXPECT_NEAR(AttractionKernel(kPi, r1, r), (r1 * r1 * r1 + r * r * r) / (3 * r * r), 1e-12 * r);
  // cos(psi) rounds to 1 with r1 == r: the squared distance may round below
  // zero; it is taken as 0, not a failure.
  const double f = AttractionKernel(1e-9, r, r);
  EXPECT_TRUE(std::isfinite(f));
  EXPECT_NEAR(f, 0.0, 1e-3);
}

struct ShellCase {
  const char* name;
  double rTop, rBot, r;
  double expected;  // closed form of the whole-sphere combination
};
void PrintTo(const ShellCase& c, std::ostream* os) { *os << c.name; }

class WholeShell : public testing::TestWithParam<ShellCase> {};

TEST_P(WholeShell, MatchesClosedForm) {
  const ShellCase& c = GetParam();
  const double got = Band(0, kPi, c.rTop, c.rBot, c.r);
  const double scale = 2 * (c.rTop * c.rTop * c.rTop - c.rBot * c.rBot * c.rBot) / (3 * c.r * c.r);
  EXPECT_NEAR(got, c.expected, 1e-12 * std::abs(scale));
}

double Cube(double x) { return x * x * x; }

const ShellCase kShells[] = {
    // Point above the shell: all of its mass attracts, 2 (rT^3 - rB^3) / (3 r^2).
    {"above", kR, kR - 1000, kR + 250, 2 * (Cube(kR) - Cube(kR - 1000)) / (3 * (kR + 250) * (kR + 250))},
    {"above_far", kR - 35000, kR - 40000, kR, 2 * (Cube(kR - 35000) - Cube(kR - 40000)) / (3 * kR * kR)},
    // Point below the shell: a shell attracts nothing inside it.
    {"below", kR + 3000, kR + 1000, kR, 0.0},
    // Point inside the shell: only the part below the point attracts.
    {"inside", kR + 1000, kR - 1000, kR + 200, 2 * (Cube(kR + 200) - Cube(kR - 1000)) / (3 * (kR + 200) * (kR + 200))},
};

INSTANTIATE_TEST_SUITE_P(Shells, WholeShell, testing::ValuesIn(kShells),
                         [](const auto& i) { return std::string(i.param.name); });

// Gauss-Legendre over psi and r1 of r1^2 sin(psi) (r - r1 t) / l^3, the
// derivative the kernel integrates; bands away from the point.
double NumericBand(double psiIn, double psiOut, double rTop, double rBot, double r) {
  static const double x[] = {-0.9739065285171717, -0.8650633666889845, -0.6794095682990244,
                             -0.4333953941292472, -0.1488743389816312, 0.1488743389816312,
                             0.4333953941292472,  0.6794095682990244,  0.8650633666889845,
                             0.9739065285171717};
  static const double w[] = {0.0666713443086881, 0.1494513491505806, 0.2190863625159820,
                             0.2692667193099963, 0.2955242247147529, 0.2955242247147529,
                             0.2692667193099963, 0.2190863625159820, 0.1494513491505806,
                             0.0666713443086881};
  double sum = 0;
  const int panels = 40;
  for (int p = 0; p < panels; ++p) {
    const double a = psiIn + (psiOut - psiIn) * p / panels;
    const double b = psiIn + (psiOut - psiIn) * (p + 1) / panels;
    for (int i = 0; i < 10; ++i) {
      const double psi = 0.5 * (a + b) + 0.5 * (b - a) * x[i];
      const double t = std::cos(psi);
      for (int j = 0; j < 10; ++j) {
        const double r1 = 0.5 * (rTop + rBot) + 0.5 * (rTop - rBot) * x[j];
        const double l = std::sqrt(r1 * r1 + r * r - 2 * r1 * r * t);
        sum += w[i] * w[j] * 0.25 * (b - a) * (rTop - rBot) * r1 * r1 * std::sin(psi) * (r - r1 * t) /
               (l * l * l);
      }
    }
  }
  return sum;
}

TEST(AttractionKernel, AgreesWithNumericalIntegration) {
  struct Case { double psiIn, psiOut, rTop, rBot, r; };
  const Case cases[] = {
      {0.01, 0.02, kR, kR - 2000, kR + 100},
      {0.5, 0.6, kR + 5000, kR - 5000, kR},
      {1.5, 1.6, kR, kR - 35000, kR + 1000},
      {3.0, 3.14, kR - 10000, kR - 30000, kR},
  };
  for (const Case& c : cases) {
    const double numeric = NumericBand(c.psiIn, c.psiOut, c.rTop, c.rBot, c.r);
    EXPECT_NEAR(Band(c.psiIn, c.psiOut, c.rTop, c.rBot, c.r), numeric, 1e-7 * std::abs(numeric))
        << c.psiIn << ".." << c.psiOut;
  }
}

// Four-corner combination with the kernel for rings next to the point.
double NearBand(double psiIn, double psiOut, double rTop, double rBot, double r) {
  const auto k = [r](double psi, double r1) {
    return AttractionKernelNear(std::cos(psi), OneMinusCos(psi), r1, r);
  };
  return (k(psiOut, rTop) - k(psiIn, rTop)) - (k(psiOut, rBot) - k(psiIn, rBot));
}

// A cap of radius a (metres along the sphere) over a layer 0..D metres below
// sea level, seen from height H: within metres of the point the sphere is a
// plane to a few parts in a million, where a disc's vertical attraction per
// unit azimuth is the closed form
//   integral over w = H .. H + D of (1 - w / sqrt(a^2 + w^2))
//   = D - (sqrt(a^2 + (H + D)^2) - sqrt(a^2 + H^2)).
// Caps from a millimetre to ten metres: there cos(psi) keeps at most a few
// digits of 1 - cos(psi) (none below about 2 cm), so the kernel formed from
// cos(psi) is far off, while the one from 1 - cos(psi) holds all digits.
TEST(AttractionKernelNear, SmallCapsAttractAsAPlaneDisc) {
  struct Case {
    double a, D, H;  // metres
  };
  const Case cases[] = {
      {0.001, 10, 0}, {0.02, 10, 0},   {0.3, 10, 0},  {10, 1000, 0},  // station on the layer's top
      {0.001, 10, 0.002}, {0.3, 500, 1}, {2, 50, 10},                  // and above it
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "a " << c.a << " D " << c.D << " H " << c.H);
    const double psi = c.a / kR;
    const double plane = c.D - (std::hypot(c.a, c.H + c.D) - std::hypot(c.a, c.H));  // metres
    const double got = NearBand(0, psi, kR, kR - c.D, kR + c.H);
    // The sphere departs from the plane by about (a + D + H) / R of the value.
    EXPECT_NEAR(got, plane, 1e-5 * plane + 1e-15);
    // The ring from a / 2 to a: the difference of two caps, no cancellation lost.
    const double half = c.D - (std::hypot(c.a / 2, c.H + c.D) - std::hypot(c.a / 2, c.H));
    EXPECT_NEAR(NearBand(psi / 2, psi, kR, kR - c.D, kR + c.H), plane - half, 1e-5 * (plane - half) + 1e-15);
  }
  // What the kernel from cos(psi) gives next to the point: a 2 cm cap
  // attracts nothing, a 30 cm one is off by more than a part in a thousand.
  EXPECT_EQ(Band(0, 0.02 / kR, kR, kR - 10, kR), 0.0);
  const double plane30 = 10 - (std::hypot(0.3, 10.0) - 0.3);
  EXPECT_GT(std::fabs(Band(0, 0.3 / kR, kR, kR - 10, kR) - plane30), 1e-3 * plane30);
}

// Away from the point both kernels agree to rounding: the near one is the
// same function, only formed without the cancellation.
TEST(AttractionKernelNear, AgreesWithTheKernelAwayFromThePoint) {
  for (const double psi : {1e-3, 0.05, 0.7, 2.0}) {
    for (const double r1 : {kR - 30000, kR + 800, kR + 1500}) {
      SCOPED_TRACE(testing::Message() << "psi " << psi << " r1 " << r1);
      const double r = kR + 1000;
      EXPECT_NEAR(AttractionKernelNear(std::cos(psi), OneMinusCos(psi), r1, r), AttractionKernel(psi, r1, r),
                  1e-9 * std::abs(AttractionKernel(psi, r1, r)) + 1e-9);
    }
  }
  // At the point itself: 0 for an element at the point's radius, and the
  // whole column's (r^3 - r1^3) / (3 r^2) for one below it.
  EXPECT_EQ(AttractionKernelNear(1, 0, kR, kR), 0.0);
  const double r = kR + 100, r1 = kR - 500;
  EXPECT_NEAR(AttractionKernelNear(1, 0, r1, r), (r * r * r - r1 * r1 * r1) / (3 * r * r), 1e-12 * r);
}

}  // namespace
}  // namespace globelayers

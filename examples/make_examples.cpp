// Writes the example data set: a SYNTHETIC global topography (Surfer 7
// binary grid), a SYNTHETIC crust base (Surfer 6 binary grid) and a point
// file of twenty stations on land and at sea.
//
// Nothing here is real Earth data. The surfaces are smooth analytic
// functions of longitude and latitude, rounded to whole metres so that the
// files come out byte for byte the same on every machine with IEEE doubles
// (the rounding hides last-bit differences of sin/cos/exp between libraries).
//
//   make_examples OUTPUT_FOLDER
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "NumberText.h"

namespace {

constexpr double kDegToRad = 0.017453292519943295;
constexpr int kColumns = 361;  // longitude -180 .. 180 every degree
constexpr int kRows = 181;     // latitude -90 .. 90 every degree
constexpr double kLonMinDeg = -180.0;
constexpr double kLatMinDeg = -90.0;
constexpr double kStepDeg = 1.0;
constexpr double kSurferBlank = 1.70141e38;

// Synthetic topography in metres above sea level: two broad "continents"
// and "oceans" along longitude, a ripple in latitude, and a high polar cap
// in the south. The cos(latitude) factors make every term single-valued at
// the poles. About -5200 m .. +3400 m, land on some 37 % of the nodes.
double TopographyM(double lonDeg, double latDeg) {
  const double lon = lonDeg * kDegToRad;
  const double lat = latDeg * kDegToRad;
  const double polarCap = (latDeg + 90.0) / 18.0;
  return -1200.0 + 3600.0 * std::cos(lat) * std::sin(2.0 * lon + 30.0 * kDegToRad) +
         1500.0 * std::cos(lat) * std::sin(3.0 * lat) * std::cos(lon) +
         4500.0 * std::exp(-polarCap * polarCap);
}

// Synthetic crust base (a Moho-like surface) in metres: -35 km under
// sea-level ground, deeper under high ground and shallower under deep sea,
// as isostasy would have it, with a gentle long-wave tilt.
double CrustBaseM(double lonDeg, double latDeg) {
  const double lon = lonDeg * kDegToRad;
  const double lat = latDeg * kDegToRad;
  return -35000.0 - 2.5 * TopographyM(lonDeg, latDeg) - 1500.0 * std::cos(lat) * std::sin(lon);
}

// The grid of a surface, rounded to whole metres; row 0 is the southernmost.
std::vector<double> Grid(double (*surface)(double, double)) {
  std::vector<double> values;
  values.reserve(std::size_t(kColumns) * kRows);
  for (int iy = 0; iy < kRows; ++iy) {
    for (int ix = 0; ix < kColumns; ++ix) {
      values.push_back(std::round(surface(kLonMinDeg + ix * kStepDeg, kLatMinDeg + iy * kStepDeg)));
    }
  }
  return values;
}

// Little-endian writer: the grid formats are little-endian on every platform.
class Bytes {
 public:
  Bytes& raw(const char* text) {
    out_.append(text, std::strlen(text));
    return *this;
  }
  Bytes& i16(std::int16_t v) { return le(static_cast<std::uint16_t>(v), 2); }
  Bytes& i32(std::int32_t v) { return le(static_cast<std::uint32_t>(v), 4); }
  Bytes& f32(float v) {
    std::uint32_t bits = 0;
    std::memcpy(&bits, &v, 4);
    return le(bits, 4);
  }
  Bytes& f64(double v) {
    std::uint64_t bits = 0;
    std::memcpy(&bits, &v, 8);
    return le(bits, 8);
  }
  const std::string& str() const { return out_; }

 private:
  Bytes& le(std::uint64_t v, int n) {
    for (int i = 0; i < n; ++i) out_.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
    return *this;
  }
  std::string out_;
};

void MinMax(const std::vector<double>& values, double& lo, double& hi) {
  lo = values.front();
  hi = values.front();
  for (double v : values) {
    if (v < lo) lo = v;
    if (v > hi) hi = v;
  }
}

// Surfer 7: header section, grid section (72 bytes), data section of doubles.
std::string Surfer7(const std::vector<double>& values) {
  double zMin = 0, zMax = 0;
  MinMax(values, zMin, zMax);
  Bytes b;
  b.raw("DSRB").i32(4).i32(1);
  b.raw("GRID").i32(72).i32(kRows).i32(kColumns);
  b.f64(kLonMinDeg).f64(kLatMinDeg).f64(kStepDeg).f64(kStepDeg);
  b.f64(zMin).f64(zMax).f64(0.0).f64(kSurferBlank);
  b.raw("DATA").i32(static_cast<std::int32_t>(values.size() * 8));
  for (double v : values) b.f64(v);
  return b.str();
}

// Surfer 6: a 56-byte header and the values as floats.
std::string Surfer6(const std::vector<double>& values) {
  double zMin = 0, zMax = 0;
  MinMax(values, zMin, zMax);
  Bytes b;
  b.raw("DSBB").i16(kColumns).i16(kRows);
  b.f64(kLonMinDeg).f64(kLonMinDeg + (kColumns - 1) * kStepDeg);
  b.f64(kLatMinDeg).f64(kLatMinDeg + (kRows - 1) * kStepDeg);
  b.f64(zMin).f64(zMax);
  for (double v : values) b.f32(static_cast<float>(v));
  return b.str();
}

// Stations on grid nodes, so that the topography under each one is exactly
// the stored node value. Land stations stand 2 m above the ground, marine
// ones 5 m above sea level (a ship's gravimeter): never on a layer surface.
std::string Stations() {
  struct Site {
    int lonDeg, latDeg;
  };
  const Site sites[] = {
      {-150, 40}, {-120, 10}, {-100, -30}, {-75, 45}, {-60, -15}, {-40, 60}, {-20, -50},
      {-5, 20},   {10, 47},   {25, -5},    {35, 30},  {50, -40},  {70, 65},  {90, 0},
      {105, -20}, {120, 35},  {140, -60},  {160, 15}, {178, -35}, {0, -80},
  };
  std::string text =
      "/ SYNTHETIC example stations for the synthetic grids of this folder (not real data)\n"
      "LINE 1   longitude   latitude  point  height\n";
  int number = 101;
  for (const Site& s : sites) {
    const double groundM = std::round(TopographyM(s.lonDeg, s.latDeg));
    const double heightM = groundM > 0 ? groundM + 2.0 : 5.0;
    text += globelayers::CFormat("%11.6f %11.6f %5d %9.2f\n", double(s.lonDeg), double(s.latDeg),
                                 number++, heightM);
  }
  return text;
}

bool WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) std::cerr << "make_examples: cannot write " << path << "\n";
  return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "Usage: make_examples OUTPUT_FOLDER\n";
    return 2;
  }
  const std::string folder = std::string(argv[1]) + "/";
  const bool ok = WriteFile(folder + "topography.grd", Surfer7(Grid(TopographyM))) &&
                  WriteFile(folder + "crustbase.grd", Surfer6(Grid(CrustBaseM))) &&
                  WriteFile(folder + "stations.dat", Stations());
  return ok ? 0 : 1;
}

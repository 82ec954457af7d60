// The data of bench/grid_reach.sh: a rough 1-arc-minute global surface as a
// Surfer 6 grid (21601 x 10801 nodes, 0.93 GB), and in a build with GDAL
// the same surface averaged by GDAL's warper to 15 arc-minutes (1441 x 721
// nodes on the 15' lattice, pixels of 0.25 degrees centred on the nodes).
//   build/bench/globelayers_gridreach G1.grd [G15.tif]
// The surface: a sum of waves from 30 degrees down to 4 arc-minutes
// (5 to 2400 m), slopes up to about 35 degrees.
//
// A second mode runs a settings file of the script over bands that a
// settings file cannot write: those of the presets' far bands, on box
// means of the segment's size (TZone::boxMeans), beside bands on point
// samples, each band FROM;TO;SIZE (degrees, degrees, arc-seconds) with
// ";box" for box means or ";mean" for the pyramid's levels, as a [zones]
// key writes it. The result file is the batch's.
//   build/bench/globelayers_gridreach bands SETTINGS.ini THREADS BAND...
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#ifdef GLOBELAYERS_HAVE_GDAL
#include <gdal_priv.h>
#include <gdal_utils.h>
#endif

#include "Calculation.h"
#include "NumberText.h"
#include "RunSetup.h"
#include "UserPrompts.h"
#include "WindowState.h"
#include "ZoneChoice.h"

namespace {

constexpr int kNx = 21601, kNy = 10801;
constexpr double kRad = 0.017453292519943295;  // radians per degree

struct TWave {
  double amplitude;  // metres
  double cyclesX;    // waves round the equator
  double cyclesY;    // waves from pole to pole
  double phase;      // radians
};

// From a continent-size swell to the 4' ripples of rough terrain.
constexpr std::array<TWave, 6> kWaves{{
    {2400, 12, 6, 0.3},
    {900, 97, 61, 1.1},
    {500, 403, 257, 2.0},
    {300, 1601, 1103, 0.7},
    {160, 3203, 2011, 1.9},
    {90, 5399, 2699, 2.6},
}};

bool WriteG1(const char* path) {
  std::FILE* f = std::fopen(path, "wb");
  if (f == nullptr) return false;
  std::fwrite("DSBB", 1, 4, f);
  const std::int16_t counts[2] = {kNx, kNy};
  std::fwrite(counts, 2, 2, f);
  const double bounds[6] = {-180, 180, -90, 90, -5000, 5000};
  std::fwrite(bounds, 8, 6, f);
  // Separable waves: a table per column and per row.
  std::vector<std::array<double, kWaves.size()>> columns(kNx);
  for (int ix = 0; ix < kNx; ++ix) {
    const double x = (-180 + ix / 60.0) * kRad;
    for (std::size_t k = 0; k < kWaves.size(); ++k) columns[ix][k] = std::sin(kWaves[k].cyclesX * x + kWaves[k].phase);
  }
  std::vector<float> row(kNx);
  for (int iy = 0; iy < kNy; ++iy) {
    const double y = (-90 + iy / 60.0) * kRad;
    std::array<double, kWaves.size()> c{};
    for (std::size_t k = 0; k < kWaves.size(); ++k) c[k] = kWaves[k].amplitude * std::cos(kWaves[k].cyclesY * y * 2);
    for (int ix = 0; ix < kNx; ++ix) {
      double v = 200;
      for (std::size_t k = 0; k < kWaves.size(); ++k) v += c[k] * columns[ix][k];
      row[ix] = float(v);
    }
    if (std::fwrite(row.data(), 4, kNx, f) != std::size_t(kNx)) return false;
  }
  return std::fclose(f) == 0;
}

namespace gl = globelayers;

// Messages of the run on standard error; every question answered No.
class TErrorPrompts : public gl::IUserPrompts {
 public:
  void ShowMessage(const std::string& text) override { std::fprintf(stderr, "%s\n", text.c_str()); }
  bool AskYesNo(const std::string& text) override {
    std::fprintf(stderr, "%s (answered No)\n", text.c_str());
    return false;
  }
};

// A band FROM;TO;SIZE[;box|;mean] (a zone line of a settings file, or one
// on box means as only presets ask for them); nullopt for another text.
std::optional<gl::TZone> BandOf(std::string text) {
  constexpr std::string_view kBox = ";box";
  const bool box = text.ends_with(kBox);
  if (box) text.resize(text.size() - kBox.size());
  gl::TZone band;
  if (!gl::ParseZone(text, band) || (box && band.blockMeans)) return std::nullopt;
  band.blockMeans = band.blockMeans || box;
  band.boxMeans = box;
  return band;
}

int RunBands(const std::string& settingsPath, int threads, const std::vector<std::string>& bandTexts) {
  gl::TZoneList list;
  for (const std::string& text : bandTexts) {
    const std::optional<gl::TZone> band = BandOf(text);
    if (!band) {
      std::fprintf(stderr, "not a band FROM;TO;SIZE[;box|;mean]: %s\n", text.c_str());
      return 2;
    }
    list.bands.push_back(*band);
  }
  gl::TWindowState state = gl::TWindowState::StartValues(gl::kFileDecimalSeparator);
  const gl::TSettingsRead read = gl::ReadSettingsFile(state, settingsPath, gl::kFileDecimalSeparator);
  if (!read.ok()) {
    std::fprintf(stderr, "cannot read %s: %s\n", settingsPath.c_str(), read.message.c_str());
    return 1;
  }
  const gl::TRunSetup setup = gl::PrepareRun(state, gl::kFileDecimalSeparator, gl::TZoneChoice{list});
  if (!setup.ok()) {
    std::fprintf(stderr, "%s\n", setup.message.c_str());
    return 1;
  }
  TErrorPrompts prompts;
  gl::TSilentProgress progress;
  gl::TRunOptions options;
  options.threads = threads;
  gl::TCalcEngine engine;
  return engine.RunCalculation(setup.params, progress, prompts, options) == gl::TRunOutcome::Completed ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "bands") == 0) {
    int threads = 0;
    if (argc < 5 || !gl::TextToInt(argv[3], threads) || threads < 1) {
      std::fprintf(stderr, "usage: %s bands SETTINGS.ini THREADS FROM;TO;SIZE[;box|;mean]...\n", argv[0]);
      return 2;
    }
    return RunBands(argv[2], threads, std::vector<std::string>(argv + 4, argv + argc));
  }
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s G1.grd [G15.tif]\n", argv[0]);
    return 2;
  }
  if (!WriteG1(argv[1])) {
    std::fprintf(stderr, "cannot write %s\n", argv[1]);
    return 1;
  }
  if (argc < 3) return 0;
#ifdef GLOBELAYERS_HAVE_GDAL
  GDALAllRegister();
  GDALDatasetH source = GDALOpen(argv[1], GA_ReadOnly);
  if (source == nullptr) return 1;
  const char* args[] = {"-te", "-180.125", "-90.125", "180.125", "90.125", "-tr", "0.25", "0.25",
                        "-r", "average", "-ot", "Float32", "-of", "GTiff", nullptr};
  GDALWarpAppOptions* options = GDALWarpAppOptionsNew(const_cast<char**>(args), nullptr);
  int failed = 0;
  GDALDatasetH out = GDALWarp(argv[2], nullptr, 1, &source, options, &failed);
  GDALWarpAppOptionsFree(options);
  if (out != nullptr) GDALClose(out);
  GDALClose(source);
  return failed || out == nullptr ? 1 : 0;
#else
  std::fprintf(stderr, "a build without GDAL cannot average the grid\n");
  return 1;
#endif
}

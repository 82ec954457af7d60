// Load time and peak memory of a 1-arc-minute global grid (21601 x 10801
// nodes). Writes the grid once (streamed, row by row) if it is missing, then
// loads it with the project's reader and prints the figures.
//   build/bench/globelayers_gridload [s6|s7] [path]
#include <sys/resource.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "GridImports.h"

namespace {

constexpr int kNx = 21601, kNy = 10801;

class TPrintPrompts : public globelayers::IUserPrompts {
 public:
  void ShowMessage(const std::string& text) override { std::fprintf(stderr, "%s\n", text.c_str()); }
  bool AskYesNo(const std::string&) override { return false; }
};

double Value(int ix, int iy) { return 3000 * std::sin(ix * 0.001) * std::cos(iy * 0.0013); }

void Write(const std::string& path, bool surfer7) {
  std::ofstream out(path, std::ios::binary);
  const auto put = [&out](const auto& v) { out.write(reinterpret_cast<const char*>(&v), sizeof v); };
  if (surfer7) {
    out.write("DSRB", 4), put(std::int32_t{4}), put(std::int32_t{2});
    out.write("GRID", 4), put(std::int32_t{72}), put(std::int32_t{kNy}), put(std::int32_t{kNx});
    for (double v : {-180.0, -90.0, 1.0 / 60, 1.0 / 60, -3000.0, 3000.0, 0.0, 1.70141e38}) put(v);
    out.write("DATA", 4), put(std::int32_t(std::int64_t{kNx} * kNy * 8 > INT32_MAX ? 0 : kNx * kNy * 8));
  } else {
    out.write("DSBB", 4), put(std::int16_t{kNx}), put(std::int16_t{kNy});
    for (double v : {-180.0, 180.0, -90.0, 90.0, -3000.0, 3000.0}) put(v);
  }
  std::vector<char> row;
  for (int iy = 0; iy < kNy; ++iy) {
    row.clear();
    for (int ix = 0; ix < kNx; ++ix) {
      if (surfer7) {
        const double v = Value(ix, iy);
        row.insert(row.end(), reinterpret_cast<const char*>(&v), reinterpret_cast<const char*>(&v) + 8);
      } else {
        const float v = float(Value(ix, iy));
        row.insert(row.end(), reinterpret_cast<const char*>(&v), reinterpret_cast<const char*>(&v) + 4);
      }
    }
    out.write(row.data(), static_cast<std::streamsize>(row.size()));
  }
}

}  // namespace

int main(int argc, char** argv) {
  const bool surfer7 = argc > 1 && std::string(argv[1]) == "s7";
  const std::string path = argc > 2 ? argv[2]
                                    : (std::filesystem::temp_directory_path() /
                                       (surfer7 ? "globelayers_1min_s7.grd" : "globelayers_1min_s6.grd"))
                                          .string();
  if (!std::filesystem::exists(path)) {
    std::printf("writing %s ...\n", path.c_str());
    Write(path, surfer7);
  }
  rusage before{};
  getrusage(RUSAGE_SELF, &before);
  TPrintPrompts prompts;
  globelayers::TGridImports grid;
  const auto t0 = std::chrono::steady_clock::now();
  const bool ok = globelayers::LoadGrid(grid, path, prompts);
  const auto t1 = std::chrono::steady_clock::now();
  rusage after{};
  getrusage(RUSAGE_SELF, &after);
  const double floatsMiB = double(kNx) * kNy * 4 / (1 << 20);
  std::printf("%s: %s, %d x %d nodes, value %.3f at (100, 200)\n", path.c_str(), ok ? "loaded" : "FAILED",
              grid.nx, grid.ny, ok ? grid.at(100, 200) : 0.0f);
  std::printf("load time %.2f s; peak memory %.0f MiB (float values %.0f MiB)\n",
              std::chrono::duration<double>(t1 - t0).count(), after.ru_maxrss / 1024.0, floatsMiB);
  return ok ? 0 : 1;
}

// Feeds arbitrary bytes to the grid loader and checks what a loaded grid
// promises: 2..32767 nodes each way, one float per node, usable geometry.
//
// By default the bytes are parsed in memory (the same parsers LoadGrid runs
// on a file). With GRID_FUZZ_VIA_FILE=1 in the environment every input is
// written to a temporary file and loaded through LoadGrid itself, which also
// covers opening, length and seeking of real files, at a lower rate.
#include <unistd.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>

#include "GridImports.h"
#include "GridSource.h"

namespace {

class TSilentPrompts final : public globelayers::IUserPrompts {
 public:
  void ShowMessage(const std::string& text) override { lastLength = text.size(); }
  bool AskYesNo(const std::string&) override { return false; }
  std::size_t lastLength = 0;
};

bool ViaFile() {
  static const bool viaFile = [] {
    const char* flag = std::getenv("GRID_FUZZ_VIA_FILE");
    return flag != nullptr && flag[0] == '1';
  }();
  return viaFile;
}

std::string TempFileName() {
  return "/tmp/grid_fuzz_" + std::to_string(getpid()) + ".grd";
}

bool LoadViaFile(globelayers::TGridImports& grid, const std::uint8_t* data, std::size_t size,
                 globelayers::IUserPrompts& prompts) {
  static const std::string name = TempFileName();
  std::FILE* file = std::fopen(name.c_str(), "wb");
  if (file == nullptr) std::abort();
  if (size > 0 && std::fwrite(data, 1, size, file) != size) std::abort();
  std::fclose(file);
  return globelayers::LoadGrid(grid, name, prompts);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  globelayers::TGridImports grid;
  TSilentPrompts prompts;
  const bool loaded =
      ViaFile() ? LoadViaFile(grid, data, size, prompts)
                : globelayers::LoadGridFromBytes(grid, std::span<const unsigned char>(data, size),
                                                 "fuzz.grd", prompts)
                          .fault == globelayers::TGridFault::kNone;
  if (!loaded) {
    if (grid.fileFormat != globelayers::TGridFormat::kNone || !grid.values.empty()) std::abort();
    return 0;
  }
  using globelayers::TGridFormat;
  const TGridFormat format = grid.fileFormat;
  if (format != TGridFormat::kSurfer7 && format != TGridFormat::kSurfer6 && format != TGridFormat::kGeosoft16)
    std::abort();
  if (grid.nx < 2 || grid.ny < 2) std::abort();
  if (grid.values.size() != std::size_t(grid.nx) * std::size_t(grid.ny)) std::abort();
  if (!std::isfinite(grid.xStep) || !std::isfinite(grid.yStep) || grid.xStep == 0 || grid.yStep == 0)
    std::abort();
  if (!std::isfinite(grid.xMax) || !std::isfinite(grid.yMax)) std::abort();
  // Touch the corners through the accessor, as the sampler does.
  volatile float sink = grid.at(0, 0) + grid.at(grid.nx - 1, grid.ny - 1);
  (void)sink;
  return 0;
}

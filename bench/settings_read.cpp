// Reading a large settings file: every key of a 50,000-row layer table,
// looked up in reverse order. Reading should grow with the file, not with
// its square.
//   build/bench/globelayers_settings_bench
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "IniFile.h"

namespace {

void BM_SettingsFileRead(benchmark::State& state) {
  const int keys = static_cast<int>(state.range(0));
  const std::filesystem::path path = std::filesystem::temp_directory_path() / "globelayers_bench_many.ini";
  {
    std::ofstream out(path, std::ios::binary);
    out << "[Other]\nk=0\n[frmMain]\n";
    for (int i = 0; i < keys; ++i) out << "cell_row-" << i << "_col-1=grid" << i << ".grd\n";
  }
  for (auto _ : state) {
    const globelayers::TIniFile ini(path.string());
    std::size_t found = 0;
    for (int i = keys - 1; i >= 0; --i) {
      found += ini.ReadString("frmMain", "CELL_ROW-" + std::to_string(i) + "_COL-1", "").size();
    }
    benchmark::DoNotOptimize(found);
  }
  std::filesystem::remove(path);
}
BENCHMARK(BM_SettingsFileRead)->Arg(5000)->Arg(50000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

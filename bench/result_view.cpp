// What the result view and the grid pictures cost: reading a result file of
// 20,000 stations, drawing its map, and reading a 5-arc-minute global grid
// into a picture. Each prints one computed value first, so that a fast wrong
// answer shows.
//   build/bench/globelayers_resultview_bench
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <QPainter>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "GridPicture.h"
#include "ResultFile.h"
#include "ResultFileReader.h"
#include "ResultMap.h"

using namespace globelayers;

namespace {

constexpr int kStations = 20000;

std::string Folder() {
  static const std::string folder = [] {
    const auto path = std::filesystem::temp_directory_path() / "globelayers_resultview_bench";
    std::filesystem::create_directories(path);
    return path.string();
  }();
  return folder;
}

// Three layer rows with gradient: 13 columns, as the example run writes.
std::string ResultFileOf20000() {
  const std::string path = Folder() + "/stations_dce.dat";
  if (std::filesystem::exists(path)) return path;
  const TResultLayout L = MakeResultLayout(1, false, 3);
  std::ofstream out(path, std::ios::binary);
  out << ResultHeader(L);
  for (int i = 0; i < kStations; ++i) {
    const TCalcPoint p{.lambda = -10 + 20.0 * (i % 200) / 200, .phi = 40 + 10.0 * (i / 200) / 100,
                       .pointNumber = double(i + 1), .height = 100.0 + i % 700};
    const TResultGroup g{.dte = 7000 + 500 * std::sin(i * 0.01), .dteI = 7000, .vgdre = -0.003};
    out << ResultLayerPiece(L, p, 0, g) << ResultLayerPiece(L, p, 1, g) << ResultLineEnd(L, p, g);
  }
  return path;
}

// A 5-arc-minute global grid, Surfer 6: 4321 x 2161 nodes, 37 MB.
std::string GlobalGrid() {
  const std::string path = Folder() + "/global5.grd";
  if (std::filesystem::exists(path)) return path;
  constexpr std::int16_t nx = 4321, ny = 2161;
  std::ofstream out(path, std::ios::binary);
  out.write("DSBB", 4);
  out.write(reinterpret_cast<const char*>(&nx), 2);
  out.write(reinterpret_cast<const char*>(&ny), 2);
  for (double v : {-180.0, 180.0, -90.0, 90.0, -5000.0, 5000.0}) out.write(reinterpret_cast<const char*>(&v), 8);
  std::vector<float> row(nx);
  for (int iy = 0; iy < ny; ++iy) {
    for (int ix = 0; ix < nx; ++ix) row[ix] = float(3000 * std::sin(ix * 0.01) * std::cos(iy * 0.013));
    out.write(reinterpret_cast<const char*>(row.data()), row.size() * 4);
  }
  return path;
}

void BM_ReadResultFile20000(benchmark::State& state) {
  const std::string path = ResultFileOf20000();
  for (auto _ : state) {
    const TResultRead read = ReadResultFile(path, false);
    benchmark::DoNotOptimize(read.table->values.data());
  }
}
BENCHMARK(BM_ReadResultFile20000)->Unit(benchmark::kMillisecond);

void BM_RenderMap20000(benchmark::State& state) {
  const TResultTable table = *ReadResultFile(ResultFileOf20000(), false).table;
  TResultMap map(nullptr);
  map.SetTable(&table, table.SummedDteColumn());
  QImage image(QSize(800, 600), QImage::Format_ARGB32_Premultiplied);
  for (auto _ : state) {
    QPainter painter(&image);
    map.Render(painter, image.size());
  }
}
BENCHMARK(BM_RenderMap20000)->Unit(benchmark::kMillisecond);

void BM_GridPicture5ArcMin(benchmark::State& state) {
  const std::string path = GlobalGrid();
  for (auto _ : state) {
    const TGridPicture p = ReadGridPicture(path, 512);
    benchmark::DoNotOptimize(p.raster.values.data());
  }
}
BENCHMARK(BM_GridPicture5ArcMin)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const TResultRead read = ReadResultFile(ResultFileOf20000(), false);
  const TGridPicture grid = ReadGridPicture(GlobalGrid(), 512);
  std::printf("stations %zu, summed DTE of the first %.5f; grid %d x %d, max %.6g\n",
              read.table->RowCount(), read.table->At(0, read.table->SummedDteColumn()), grid.facts.nx,
              grid.facts.ny, grid.facts.maxValue);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  return 0;
}

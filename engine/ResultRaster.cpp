#include "ResultRaster.h"

#include <unistd.h>

#include <charconv>
#include <string_view>
#include <system_error>
#include <utility>

#include "Calculation.h"
#include "NumberText.h"

namespace globelayers {
namespace {

// A number in the fewest digits that read back to the same double, with a
// decimal point whatever the locale.
std::string Number(double value) {
  char text[32];
  const auto [end, ec] = std::to_chars(text, text + sizeof text, value);
  return ec == std::errc() ? std::string(text, end) : CFormat("%.17g", value);
}

std::string ZoneText(const TZoneChoice& zone) {
  if (const auto* single = std::get_if<TSingleZone>(&zone)) {
    return Number(single->psiFromDeg) + ";" + Number(single->psiToDeg) + ";" + Number(single->segmentSizeArcSec);
  }
  if (const auto* preset = std::get_if<TZonePreset>(&zone)) return "preset " + preset->name;
  std::string text;
  for (const TZone& band : std::get<TZoneList>(zone).bands) {
    if (!text.empty()) text += " | ";
    text += Number(band.psiFromDeg) + ";" + Number(band.psiToDeg) + ";" + Number(band.segmentSizeArcSec) +
            (band.blockMeans ? ";mean" : "");
  }
  return text;
}

std::string LayerValueText(const TLayerValue& value) {
  if (!value.grids.empty()) {
    std::string text;
    for (const TGridReference& grid : value.grids) text += (text.empty() ? "" : " | ") + grid.path;
    return text;
  }
  return value.constant ? Number(*value.constant) : "@";
}

// The run's settings as global attributes: enough to repeat the run.
std::vector<std::pair<std::string, std::string>> RunAttributes(const TRunParameters& p) {
  const TPointGrid& g = *p.pointGrid;
  std::vector<std::pair<std::string, std::string>> a = {
      {"title", "Attraction of a stack of spherical layers on a grid of points"},
      {"source", "globelayers"},
      {"settings_file", p.dataFile},
      {"points_grid", Number(g.westDeg) + ";" + Number(g.eastDeg) + ";" + Number(g.southDeg) + ";" +
                          Number(g.northDeg) + ";" + Number(g.stepDeg)},
      {"points_height", (g.aboveSurface ? "surface+" : "") + Number(g.heightM) + " m"},
      {"gravitational_constant", Number(p.gravityConstant) + " mGal per (g/cm3 m)"},
      {"earth_radius", Number(p.earthRadius) + " m"},
      {"increment", Number(p.increment) + " m"},
      {"azimuths", Number(p.azimuthFromDeg) + " to " + Number(p.azimuthToDeg) + " deg"},
      {"zones", ZoneText(p.zone) + " (deg;deg;arc-seconds)"},
      {"crossing_priority", std::to_string(static_cast<int>(p.priority))},
      {"unit", p.outputUnit == TOutputUnit::MicroGal ? "microGal" : "mGal"},
  };
  for (int k = 0; k < p.rowCount; ++k) {
    a.emplace_back(CFormat("layer_row_%d", k + 1),
                   "elevation " + LayerValueText(p.layers[k].elevation) + " m; density " +
                       (k == 0 ? std::string("@") : LayerValueText(p.layers[k].density)) + " g/cm3");
  }
  return a;
}

void AddGroup(std::vector<TRasterQuantity>& out, bool gradient, const std::string& suffix, const std::string& whose,
              const std::string& unit) {
  out.push_back({"DTE" + suffix, "attraction of " + whose + " at the point", unit});
  if (gradient) {
    out.push_back({"DTE_raised" + suffix, "attraction of " + whose + " at the raised point", unit});
    out.push_back({"VGDRE" + suffix, "vertical gradient of the attraction of " + whose, "mGal/m"});
  }
}

}  // namespace

std::string RasterFileName(const std::string& textResultName, const std::string& extension) {
  return OutputFileName(textResultName, "", extension);
}

std::vector<TRasterQuantity> ResultQuantities(const TResultLayout& layout, bool microGal) {
  const std::string unit = microGal ? "microGal" : "mGal";
  std::vector<TRasterQuantity> out;
  if (layout.perLayer) {
    for (int k = 1; k <= layout.rowCount - 1; ++k) {
      AddGroup(out, layout.gradient, "_layer" + std::to_string(k), "layer " + std::to_string(k), unit);
    }
  }
  AddGroup(out, layout.gradient, "", "all layers", unit);
  return out;
}

TResultRasters::~TResultRasters() {
  for (auto& raster : rasters_) {
    std::string ignored;
    if (raster->open) raster->writer.Close(ignored);
    raster->file.Discard();
  }
}

bool TResultRasters::Open(const TRunParameters& params, const std::string& textResultName, std::string& message) {
  grid_ = *params.pointGrid;
  columns_ = GridColumns(grid_);
  const TResultLayout layout = MakeResultLayout(params.increment, params.sumOnly, params.rowCount);
  const std::vector<TRasterQuantity> quantities = ResultQuantities(layout, params.outputUnit == TOutputUnit::MicroGal);
  quantities_ = quantities.size();
  row_.assign(quantities_ * static_cast<std::size_t>(columns_), 0.0);
  const TRasterGeometry geometry{.columns = columns_,
                                 .rows = GridRows(grid_),
                                 .westDeg = grid_.westDeg,
                                 .eastDeg = grid_.eastDeg,
                                 .southDeg = grid_.southDeg,
                                 .northDeg = grid_.northDeg};
  const auto attributes = RunAttributes(params);
  std::vector<std::pair<TRasterFormat, std::string>> wanted = {{TRasterFormat::NetCdf, ".nc"}};
  if (grid_.geotiff) wanted.emplace_back(TRasterFormat::GeoTiff, ".tif");
  for (const auto& [format, extension] : wanted) {
    auto& raster = *rasters_.emplace_back(std::make_unique<TRaster>());
    const std::string name = RasterFileName(textResultName, extension);
    const int fd = raster.file.Open(name);
    if (fd < 0) {
      message = FormatMessage("Error by opening file  %s\n", name);
      return false;
    }
    ::close(fd);  // GDAL writes the file by its name
    if (!raster.writer.Open(raster.file.writtenPath(), format, geometry, quantities, attributes, message)) {
      return false;
    }
    raster.open = true;
  }
  return true;
}

bool TResultRasters::Take(const std::string& line, std::string& message) {
  // The point's four values, then one value per quantity.
  std::vector<double> numbers;
  std::string_view rest = line;
  while (!rest.empty()) {
    const std::size_t from = rest.find_first_not_of(" \n");
    if (from == std::string_view::npos) break;
    rest.remove_prefix(from);
    const std::size_t to = std::min(rest.find_first_of(" \n"), rest.size());
    double value = 0;
    if (!TextToFloat(rest.substr(0, to), '.', value)) {
      message = "A result line does not read back for the rasters: " + line;
      return false;
    }
    numbers.push_back(value);
    rest.remove_prefix(to);
  }
  if (numbers.size() != 4 + quantities_) {
    message = "A result line does not read back for the rasters: " + line;
    return false;
  }
  const auto column = static_cast<std::size_t>(next_ % columns_);
  for (std::size_t q = 0; q < quantities_; ++q) {
    row_[q * static_cast<std::size_t>(columns_) + column] = numbers[4 + q];
  }
  ++next_;
  if (next_ % columns_ != 0) return true;
  for (auto& raster : rasters_) {
    if (!raster->writer.WriteRow(next_ / columns_ - 1, row_, message)) return false;
  }
  return true;
}

bool TResultRasters::PutInPlace(std::string& message) {
  for (auto& raster : rasters_) {
    raster->open = false;
    if (!raster->writer.Close(message)) return false;
  }
  for (auto& raster : rasters_) {
    if (!raster->file.Commit()) {
      message = "Error by writing file " + raster->file.writtenPath();
      return false;
    }
  }
  return true;
}

}  // namespace globelayers

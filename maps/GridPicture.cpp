#include "GridPicture.h"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "NumberText.h"
#include "StopRequest.h"

namespace globelayers {
namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

// Collects what the readers would tell the user.
class TCollectedPrompts : public IUserPrompts {
 public:
  std::string text;
  void ShowMessage(const std::string& message) override {
    if (!text.empty() && text.back() != '\n') text += '\n';
    text += message;
  }
  bool AskYesNo(const std::string&) override { return false; }
};

const char* FormatName(TGridFormat format) {
  switch (format) {
    case TGridFormat::kSurfer7: return "Surfer 7 grid";
    case TGridFormat::kSurfer6: return "Surfer 6 grid";
    case TGridFormat::kGeosoft16: return "Geosoft 16-bit grid";
    case TGridFormat::kGdalRaster:
    case TGridFormat::kArray:
    case TGridFormat::kNone: break;
  }
  return "grid";
}

std::string Trimmed(std::string s) {
  while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
  std::size_t first = s.find_first_not_of("\n ");
  return first == std::string::npos ? "" : s.substr(first);
}

}  // namespace

TGridFacts FactsOf(const TGridImports& g) {
  TGridFacts f;
  f.format = g.fileFormat;
  f.nx = g.nx, f.ny = g.ny;
  f.xMinDeg = g.xMin, f.xMaxDeg = g.xMax, f.xStepDeg = g.xStep;
  f.yMinDeg = g.yMin, f.yMaxDeg = g.yMax, f.yStepDeg = g.yStep;
  std::size_t blanks = 0;
  double lo = std::numeric_limits<double>::infinity(), hi = -lo;
  for (float v : g.values) {
    if (!(v < kBlankThreshold)) {  // the engine's rule; NaN would be blank too
      ++blanks;
      continue;
    }
    lo = std::min(lo, double(v));
    hi = std::max(hi, double(v));
  }
  if (blanks < g.values.size()) f.minValue = lo, f.maxValue = hi;
  f.blankShare = g.values.empty() ? 0 : double(blanks) / double(g.values.size());
  return f;
}

TGridRaster RasterOf(const TGridImports& g, int maxSide) {
  TGridRaster r;
  if (g.nx < 1 || g.ny < 1 || g.values.empty()) return r;
  r.width = std::min<int>(g.nx, maxSide);
  r.height = std::min<int>(g.ny, maxSide);
  r.values.resize(std::size_t(r.width) * r.height);
  // Each cell is the mean of the nodes of its block (taking single nodes
  // would repeat some columns and skip others, which shading shows as
  // stripes); it is blank when at least half of them are.
  for (int row = 0; row < r.height; ++row) {
    // Row 0 holds the northernmost grid rows.
    const int iyEnd = g.ny - static_cast<int>(std::int64_t(row) * g.ny / r.height);
    const int iyBegin = g.ny - static_cast<int>(std::int64_t(row + 1) * g.ny / r.height);
    for (int col = 0; col < r.width; ++col) {
      const int ixBegin = static_cast<int>(std::int64_t(col) * g.nx / r.width);
      const int ixEnd = static_cast<int>(std::int64_t(col + 1) * g.nx / r.width);
      double sum = 0;
      int values = 0, blanks = 0;
      for (int ix = ixBegin; ix < ixEnd; ++ix)
        for (int iy = iyBegin; iy < iyEnd; ++iy) {
          const float v = g.at(ix, iy);
          if (v < kBlankThreshold)
            sum += v, ++values;
          else
            ++blanks;
        }
      r.values[std::size_t(row) * r.width + col] =
          values > blanks ? static_cast<float>(sum / values) : kNaN;
    }
  }
  return r;
}

std::string FactsText(const TGridFacts& f) {
  std::string t = CFormat("%s, %d x %d nodes\n", FormatName(f.format), f.nx, f.ny);
  t += CFormat("lon %.6g to %.6g, step %.6g deg\n", f.xMinDeg, f.xMaxDeg, f.xStepDeg);
  t += CFormat("lat %.6g to %.6g, step %.6g deg\n", f.yMinDeg, f.yMaxDeg, f.yStepDeg);
  if (f.blankShare < 1)
    t += CFormat("min %.6g, max %.6g\n", f.minValue, f.maxValue);
  else
    t += "no value: every node is blank\n";
  t += CFormat("blanks %.1f %%", 100 * f.blankShare);
  return t;
}

TGridPicture ReadGridPicture(const std::string& fileName, int maxSide) {
  TGridPicture p;
  TCollectedPrompts prompts;
  TGridImports grid;
  const TGridLoad load = LoadGridFile(grid, fileName, prompts);
  if (load.fault != TGridFault::kNone) {
    p.fault = load.fault;
    p.message = Trimmed(prompts.text);
    if (p.message.empty()) p.message = FormatMessage("Error by reading grid %s", fileName);
    return p;
  }
  p.ok = true;
  p.facts = FactsOf(grid);
  p.raster = RasterOf(grid, maxSide);
  return p;
}

float RasterValueAt(const TGridRaster& r, const TGridFacts& f, double lonDeg, double latDeg) {
  if (r.width < 1 || r.height < 1) return kNaN;
  const double spanX = f.xMaxDeg - f.xMinDeg, spanY = f.yMaxDeg - f.yMinDeg;
  if (!(spanX > 0) || !(spanY > 0)) return kNaN;
  // Nodes are cell centres, so the grid covers half a spacing beyond them.
  const double halfX = f.xStepDeg / 2, halfY = f.yStepDeg / 2;
  if (!(latDeg >= f.yMinDeg - halfY && latDeg <= f.yMaxDeg + halfY)) return kNaN;
  for (double shift : {0.0, 360.0, -360.0}) {
    const double lon = lonDeg + shift;
    if (!(lon >= f.xMinDeg - halfX && lon <= f.xMaxDeg + halfX)) continue;
    const double u = (lon - f.xMinDeg + halfX) / (spanX + 2 * halfX);
    const double v = (f.yMaxDeg + halfY - latDeg) / (spanY + 2 * halfY);
    const int col = std::clamp(static_cast<int>(u * r.width), 0, r.width - 1);
    const int row = std::clamp(static_cast<int>(v * r.height), 0, r.height - 1);
    return r.at(col, row);
  }
  return kNaN;
}

std::vector<TContourLine> ZeroLineOf(const TGridRaster& r, const TGridFacts& f) {
  if (r.width < 2 || r.height < 2) return {};
  // The raster's cells share out the grid's extent, half a spacing beyond
  // the outer nodes (as RasterValueAt reads them).
  TContourRaster c;
  c.width = r.width;
  c.height = r.height;
  c.values = r.values.data();
  c.westEdgeDeg = f.xMinDeg - f.xStepDeg / 2;
  c.northEdgeDeg = f.yMaxDeg + f.yStepDeg / 2;
  c.cellWidthDeg = (f.xMaxDeg - f.xMinDeg + f.xStepDeg) / r.width;
  c.cellHeightDeg = (f.yMaxDeg - f.yMinDeg + f.yStepDeg) / r.height;
  return ContourLines(c, 0.0);
}

float RasterValueSmooth(const TGridRaster& r, const TGridFacts& f, double lonDeg, double latDeg) {
  const float nearest = RasterValueAt(r, f, lonDeg, latDeg);
  if (std::isnan(nearest)) return nearest;
  const double spanX = f.xMaxDeg - f.xMinDeg, spanY = f.yMaxDeg - f.yMinDeg;
  const double halfX = f.xStepDeg / 2, halfY = f.yStepDeg / 2;
  double lon = lonDeg;
  for (double shift : {0.0, 360.0, -360.0})
    if (lonDeg + shift >= f.xMinDeg - halfX && lonDeg + shift <= f.xMaxDeg + halfX) {
      lon = lonDeg + shift;
      break;
    }
  // Cell centres at (col + 0.5) / width of the covered span.
  const double u = (lon - f.xMinDeg + halfX) / (spanX + 2 * halfX) * r.width - 0.5;
  const double v = (f.yMaxDeg + halfY - latDeg) / (spanY + 2 * halfY) * r.height - 0.5;
  const int c0 = std::clamp(static_cast<int>(std::floor(u)), 0, r.width - 1);
  const int w0 = std::clamp(static_cast<int>(std::floor(v)), 0, r.height - 1);
  const int c1 = std::min(c0 + 1, r.width - 1), w1 = std::min(w0 + 1, r.height - 1);
  const double fu = std::clamp(u - c0, 0.0, 1.0), fv = std::clamp(v - w0, 0.0, 1.0);
  const double a = r.at(c0, w0), b = r.at(c1, w0), c = r.at(c0, w1), d = r.at(c1, w1);
  if (std::isnan(a) || std::isnan(b) || std::isnan(c) || std::isnan(d)) return nearest;
  return static_cast<float>((a * (1 - fu) + b * fu) * (1 - fv) + (c * (1 - fu) + d * fu) * fv);
}

std::vector<float> ShadeRelief(const TGridRaster& r) {
  std::vector<float> out(r.values.size(), kNaN);
  if (r.width < 2 || r.height < 2) return out;
  auto value = [&](int c, int w) {
    return r.at(std::clamp(c, 0, r.width - 1), std::clamp(w, 0, r.height - 1));
  };
  // Slopes per cell: east and north differences.
  std::vector<double> gx(out.size()), gy(out.size());
  double sumSq = 0;
  std::size_t n = 0;
  for (int w = 0; w < r.height; ++w)
    for (int c = 0; c < r.width; ++c) {
      const std::size_t i = std::size_t(w) * r.width + c;
      gx[i] = (double(value(c + 1, w)) - value(c - 1, w)) / 2;
      gy[i] = (double(value(c, w - 1)) - value(c, w + 1)) / 2;  // row 0 is north
      if (std::isfinite(gx[i]) && std::isfinite(gy[i])) sumSq += gx[i] * gx[i] + gy[i] * gy[i], ++n;
    }
  const double typical = n > 0 ? std::sqrt(sumSq / double(n)) : 0;
  const double scale = typical > 0 ? 1 / typical : 0;
  // Light from the north-west, 45 degrees above the horizon.
  const double lx = -0.5, ly = 0.5, lz = std::sqrt(0.5);
  for (std::size_t i = 0; i < out.size(); ++i) {
    if (std::isnan(r.values[i])) continue;
    double sx = gx[i] * scale, sy = gy[i] * scale;
    if (!std::isfinite(sx)) sx = 0;
    if (!std::isfinite(sy)) sy = 0;
    // Surface normal (-sx, -sy, 1), normalised; its cosine to the light.
    const double lit = (-sx * lx - sy * ly + lz) / std::sqrt(sx * sx + sy * sy + 1);
    out[i] = static_cast<float>(std::clamp(lit / lz * 0.5 + 0.25, 0.0, 1.0));
  }
  return out;
}

std::shared_ptr<const TGridPicture> TGridPictureCache::Get(const std::string& fileName) {
  struct stat st {};
  const bool known = ::stat(fileName.c_str(), &st) == 0;
  const std::int64_t modifiedNs =
      known ? std::int64_t(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec : -1;
  const std::uint64_t size = known ? std::uint64_t(st.st_size) : 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
      if (it->fileName != fileName) continue;
      if (known && it->modifiedNs == modifiedNs && it->sizeBytes == size) {
        entries_.splice(entries_.begin(), entries_, it);
        return entries_.front().picture;
      }
      entries_.erase(it);
      break;
    }
  }
  auto picture = std::make_shared<const TGridPicture>(ReadGridPicture(fileName, maxSide_));
  std::lock_guard<std::mutex> lock(mutex_);
  ++reads_;
  // Only a file that could be judged is kept; a missing one is looked at
  // again, and so is one whose reading was given up for a stop request.
  if (known && !LongStepStopRequested()) {
    entries_.push_front({fileName, modifiedNs, size, picture});
    while (entries_.size() > capacity_) entries_.pop_back();
  }
  return picture;
}

}  // namespace globelayers

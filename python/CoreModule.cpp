// The engine as the Python extension globelayers._core: a run from plain
// values (layer rows, points, zone, settings) to its values per point, and
// the readers of a settings file and a point file. The Python layer
// (globelayers/__init__.py) checks and shapes the arguments and turns the
// outcomes into exceptions and arrays; this file only carries them across.
//
// A run goes on a thread of its own with the GIL released: the engine's
// worker threads evaluate the points, and the calling thread wakes every
// kPollPause to look for a Python signal (Ctrl-C) and to call the progress
// callback. Whatever Python raises there stops the run between points; the
// points completed so far come back with the exception.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <filesystem>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <variant>
#include <vector>

#include "ArrayGrid.h"
#include "Calculation.h"
#include "GridReach.h"
#include "InputFile.h"
#include "NumberText.h"
#include "PointEvaluation.h"
#include "PointFile.h"
#include "PointPipeline.h"
#include "RunFaults.h"
#include "RunSetup.h"
#include "StopRequest.h"
#include "Version.h"
#include "WindowState.h"

namespace py = pybind11;
using namespace globelayers;

namespace {

// How often the calling thread looks for Ctrl-C and reports progress.
constexpr auto kPollPause = std::chrono::milliseconds(50);
// Settings files hold numbers with a decimal point (as for the batch).
constexpr char kFileSeparator = '.';
// Names of in-memory grids in the run record and in messages ("<array 1>",
// counted in the order the rows give them); the loader takes such a name
// from the arrays, never from a file of that name.
constexpr char kArrayGridPrefix[] = "<array ";

// The messages of a run, kept for the exception; the last one is its reason.
class TCollectedPrompts : public IUserPrompts {
 public:
  void ShowMessage(const std::string& text) override {
    std::lock_guard lock(mutex_);
    messages_.push_back(text);
  }
  bool AskYesNo(const std::string&) override { return false; }
  std::string Joined() {
    std::lock_guard lock(mutex_);
    std::string out;
    for (const std::string& m : messages_) {
      if (!out.empty()) out += '\n';
      out += m;
    }
    while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
    return out;
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> messages_;
};

// One grid handed over as an array: row-major values, row 0 at yMin.
struct TArraySource {
  std::vector<double> values;
  TArrayGridValues geometry;  // counts and bounds; its span is set where it loads
};

// Everything a run needs, converted from Python before the GIL is released.
struct TRunInput {
  TRunParameters params;
  std::vector<TCalcPoint> points;           // when no grid of points is given
  // The grid of points, walked here: the record has none, as the module
  // writes no raster (and a build without GDAL refuses a grid run for that).
  std::optional<TPointGrid> pointGrid;
  std::vector<TArraySource> arrays;         // grids "<array N>" of the layer rows
  int threads = 1;                          // worker threads; 0 = all cores
};

TLayerValue ConvertValue(const py::handle& value, std::vector<TArraySource>& arrays) {
  TLayerValue out;
  if (value.is_none()) return out;
  if (py::isinstance<py::float_>(value) || py::isinstance<py::int_>(value)) {
    out.constant = value.cast<double>();
    return out;
  }
  for (const py::handle item : value.cast<py::list>()) {
    if (py::isinstance<py::str>(item)) {
      out.grids.push_back({item.cast<std::string>()});
      continue;
    }
    // ("array", values (ny, nx) float64 C-contiguous, xmin, xmax, ymin, ymax)
    const py::tuple t = item.cast<py::tuple>();
    const auto values = t[1].cast<py::array_t<double, py::array::c_style | py::array::forcecast>>();
    if (values.ndim() != 2) throw py::value_error("an array grid must have two dimensions (latitude, longitude)");
    TArraySource source;
    source.values.assign(values.data(), values.data() + values.size());
    source.geometry.ny = values.shape(0);
    source.geometry.nx = values.shape(1);
    source.geometry.xMin = t[2].cast<double>();
    source.geometry.xMax = t[3].cast<double>();
    source.geometry.yMin = t[4].cast<double>();
    source.geometry.yMax = t[5].cast<double>();
    arrays.push_back(std::move(source));
    out.grids.push_back({kArrayGridPrefix + std::to_string(arrays.size()) + ">"});
  }
  return out;
}

TZoneChoice ConvertZone(const py::tuple& zone) {
  const std::string kind = zone[0].cast<std::string>();
  if (kind == "single") {
    return TSingleZone{.psiFromDeg = zone[1].cast<double>(),
                       .psiToDeg = zone[2].cast<double>(),
                       .segmentSizeArcSec = zone[3].cast<double>()};
  }
  if (kind == "preset") return TZonePreset{zone[1].cast<std::string>()};
  TZoneList list;
  for (const py::handle band : zone[1].cast<py::list>()) {
    const py::tuple b = band.cast<py::tuple>();
    list.bands.push_back({.psiFromDeg = b[0].cast<double>(),
                          .psiToDeg = b[1].cast<double>(),
                          .segmentSizeArcSec = b[2].cast<double>(),
                          .blockMeans = b[3].cast<bool>()});
  }
  return list;
}

// The values of one result line written with TResultLayout::exact.
std::vector<double> LineValues(const std::string& line) {
  std::vector<double> out;
  std::size_t at = 0;
  while (at < line.size()) {
    const std::size_t start = line.find_first_not_of(" \n", at);
    if (start == std::string::npos) break;
    std::size_t end = line.find_first_of(" \n", start);
    if (end == std::string::npos) end = line.size();
    double value = 0;
    if (!TextToFloat(std::string_view(line).substr(start, end - start), '.', value)) {
      throw std::runtime_error("unreadable value in a result line: " + line);
    }
    out.push_back(value);
    at = end;
  }
  return out;
}

// The run on its own thread, and what the calling thread reads of it.
class TModuleRun {
 public:
  explicit TModuleRun(TRunInput input) : input_(std::move(input)) {}

  long total() const {
    if (input_.pointGrid) {
      return static_cast<long>(GridColumns(*input_.pointGrid) * GridRows(*input_.pointGrid));
    }
    return static_cast<long>(input_.points.size());
  }
  long done() const { return done_.load(); }
  bool finished() {
    std::unique_lock lock(mutex_);
    return finishedFlag_;
  }
  // Waits up to `pause` for the end of the run; true once it ended.
  bool WaitFor(std::chrono::milliseconds pause) {
    std::unique_lock lock(mutex_);
    return ended_.wait_for(lock, pause, [this] { return finishedFlag_; });
  }
  void Stop() {
    stop_ = true;
    RequestLongStepStop();  // a grid being read gives up between blocks
  }

  void Run() {
    try {
      RunHere();
    } catch (const std::bad_alloc&) {
      failure_ = RunFaultMessage(TRunFault::OutOfMemory);
    } catch (const std::exception& e) {
      failure_ = RunFaultMessage(TRunFault::PointFailed, e.what());
    } catch (...) {
      failure_ = "The calculation failed for an unknown reason.";
    }
    std::lock_guard lock(mutex_);
    finishedFlag_ = true;
    ended_.notify_all();
  }

  const std::vector<double>& values() const { return values_; }
  int columns() const { return columns_; }
  std::string failure() { return failure_.empty() ? prompts_.Joined() : failure_; }
  bool failed() const { return failed_ || !failure_.empty(); }
  bool stopped() const { return stop_.load(); }
  const std::vector<TZone>& zones() const { return engine_.UsedZones(); }
  // Whether the engine refused a value of the record (a radius, an angle,
  // a zone, a layer row) rather than failed on a file or on memory.
  bool refusedValue() const {
    const TRunFault fault = engine_.LastFault();
    return fault != TRunFault::None && fault <= TRunFault::PresetZones;
  }

 private:
  void RunHere() {
    TRunOptions options;
    options.threads = input_.threads;
    if (!input_.arrays.empty()) {
      // Arrays by their names; files as the batch loads them.
      options.loadGrid = [this](TGridImports& grid, const std::string& name, IUserPrompts& prompts) {
        if (name.rfind(kArrayGridPrefix, 0) == 0) {
          const std::size_t n = std::stoul(name.substr(sizeof kArrayGridPrefix - 1));
          const TArraySource& source = input_.arrays.at(n - 1);
          TArrayGridValues array = source.geometry;
          array.values = source.values;
          const std::optional<std::string> fault = LoadArrayGrid(grid, array, name);
          if (fault) prompts.ShowMessage(*fault);
          return !fault;
        }
        return LoadGrid(grid, name, prompts);
      };
    }
    // Grid files are read only round the points, as the batch reads them.
    TStationArea stations;
    if (input_.pointGrid) {
      const TPointGrid& grid = *input_.pointGrid;
      const std::int64_t columns = GridColumns(grid);
      const std::int64_t northRow = (GridRows(grid) - 1) * columns;
      for (std::int64_t c = 0; c < columns; ++c) {
        for (const std::int64_t index : {c, northRow + c}) {
          const TCalcPoint node = GridNode(grid, index);
          stations.Add(node.phi, node.lambda);
        }
      }
    } else {
      for (const TCalcPoint& point : input_.points) stations.Add(point.phi, point.lambda);
    }
    const bool served = engine_.ServeRun(
        input_.params, prompts_, options, [this](const TRunContext& ctx) { Serve(ctx); }, &stations);
    if (!served) failed_ = !stop_;
  }

  void Serve(const TRunContext& runContext) {
    TRunContext ctx = runContext;
    // Every layer and every digit, whatever the record asks of its file.
    ctx.layout.perLayer = ctx.rowCount > 2;
    ctx.layout.exact = true;
    const int layers = ctx.rowCount - 1;
    const int group = ctx.layout.gradient ? 3 : 1;
    columns_ = 4 + group * (ctx.layout.perLayer ? layers + 1 : 1);

    int workers = input_.threads;
    if (workers <= 0) workers = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    TSilentProgress silent;
    // A thread even for one worker: this thread then only waits, and a
    // stop is seen within the pipeline's pause.
    TPointPipeline pipeline(ctx, workers, silent, true);
    const long count = total();
    values_.reserve(static_cast<std::size_t>(count) * static_cast<std::size_t>(columns_));
    long read = 0, taken = 0;
    const auto next = [&](long index) {
      if (!input_.pointGrid) return input_.points[static_cast<std::size_t>(index)];
      TCalcPoint point = GridNode(*input_.pointGrid, index);
      if (input_.pointGrid->aboveSurface) point.height += TopAt(ctx.model, point);
      return point;
    };
    while (taken < count && !stop_) {
      while (read < count && read - taken < pipeline.window()) {
        pipeline.Submit(read, next(read));
        ++read;
      }
      const std::optional<std::string> line = pipeline.Take(taken, [this] { return stop_.load(); });
      if (!line) break;
      const std::vector<double> row = LineValues(*line);
      if (static_cast<int>(row.size()) != columns_) throw std::runtime_error("a result line of unexpected width");
      values_.insert(values_.end(), row.begin(), row.end());
      done_.store(++taken);
    }
  }

  // The first layer's top at a node, metres, as the batch takes it for a
  // grid of points above the surface.
  static double TopAt(const TLayerModel& model, const TCalcPoint& point) {
    const TLayerDef& top = model[0];
    if (!top.elevationGrid) return top.elevation;
    const double elevation = SampleElevation(model, 0, point.lambda, point.phi);
    if (elevation > kBlankThreshold) {
      throw std::runtime_error(CFormat("The top of the first layer is blank under node %.0f (%.6f, %.6f) of the "
                                       "grid of points, whose height counts from it.",
                                       point.pointNumber, point.lambda, point.phi));
    }
    return elevation;
  }

  TRunInput input_;
  TCalcEngine engine_;
  TCollectedPrompts prompts_;
  std::vector<double> values_;  // row by row, columns_ per point
  int columns_ = 0;
  std::atomic<long> done_{0};
  std::atomic<bool> stop_{false};
  bool failed_ = false;
  std::string failure_;
  std::mutex mutex_;
  std::condition_variable ended_;
  bool finishedFlag_ = false;
};

py::dict RunFromPython(const py::list& rows, const py::object& points, const py::object& pointGrid,
                       const py::tuple& zone, double gravityConstant, double earthRadius, double azimuthFrom,
                       double azimuthTo, double increment, int priority, int unit, int threads,
                       const py::object& progress) {
  TRunInput input;
  TRunParameters& p = input.params;
  for (const py::handle row : rows) {
    const py::tuple r = row.cast<py::tuple>();
    p.layers.push_back({.elevation = ConvertValue(r[0], input.arrays), .density = ConvertValue(r[1], input.arrays)});
  }
  p.rowCount = static_cast<int>(p.layers.size());
  p.dataFile = "python";
  if (!pointGrid.is_none()) {
    const py::tuple g = pointGrid.cast<py::tuple>();
    input.pointGrid = TPointGrid{.westDeg = g[0].cast<double>(),
                             .eastDeg = g[1].cast<double>(),
                             .southDeg = g[2].cast<double>(),
                             .northDeg = g[3].cast<double>(),
                             .stepDeg = g[4].cast<double>(),
                             .heightM = g[5].cast<double>(),
                             .aboveSurface = g[6].cast<bool>(),
                             .geotiff = false};
    if (const std::optional<std::string> fault = CheckPointGrid(*input.pointGrid)) throw py::value_error(*fault);
  } else {
    // (lon, lat, number, height) as float64 arrays of one length.
    const py::tuple t = points.cast<py::tuple>();
    const auto lon = t[0].cast<py::array_t<double, py::array::c_style | py::array::forcecast>>();
    const auto lat = t[1].cast<py::array_t<double, py::array::c_style | py::array::forcecast>>();
    const auto number = t[2].cast<py::array_t<double, py::array::c_style | py::array::forcecast>>();
    const auto height = t[3].cast<py::array_t<double, py::array::c_style | py::array::forcecast>>();
    for (py::ssize_t i = 0; i < lon.size(); ++i) {
      input.points.push_back({.lambda = lon.data()[i], .phi = lat.data()[i], .pointNumber = number.data()[i],
                              .height = height.data()[i]});
    }
  }
  p.zone = ConvertZone(zone);
  p.gravityConstant = gravityConstant;
  p.earthRadius = earthRadius;
  p.azimuthFromDeg = azimuthFrom;
  p.azimuthToDeg = azimuthTo;
  p.increment = increment;
  p.priority = static_cast<TCrossingRule>(priority);
  p.outputUnit = static_cast<TOutputUnit>(unit);
  input.threads = threads;

  TModuleRun run(std::move(input));
  std::optional<py::error_already_set> raised;
  {
    py::gil_scoped_release released;
    std::thread runner;
    {
      // Signals stay with the interpreter's thread, which turns them into exceptions.
      const TStopSignalsBlocked leaveSignalsToPython;
      runner = std::thread([&run] { run.Run(); });
    }
    while (!run.WaitFor(kPollPause)) {
      py::gil_scoped_acquire held;
      try {
        if (PyErr_CheckSignals() != 0) throw py::error_already_set();
        if (!progress.is_none()) progress(run.done(), run.total());
      } catch (py::error_already_set& e) {
        raised.emplace(std::move(e));
        run.Stop();
        break;
      }
    }
    runner.join();
    if (raised) ClearLongStepStop();
  }
  py::dict out;
  const long done = static_cast<long>(run.values().size()) / std::max(1, run.columns());
  py::array_t<double> values({static_cast<py::ssize_t>(done), static_cast<py::ssize_t>(std::max(1, run.columns()))});
  std::copy(run.values().begin(), run.values().end(), values.mutable_data());
  out["values"] = values;
  out["done"] = done;
  out["total"] = run.total();
  out["failed"] = run.failed() && !raised;
  out["message"] = run.failed() ? run.failure() : std::string();
  out["refused_value"] = run.refusedValue();
  py::list zones;
  for (const TZone& z : run.zones()) {
    zones.append(py::make_tuple(z.psiFromDeg, z.psiToDeg, z.segmentSizeArcSec, z.blockMeans));
  }
  out["zones"] = zones;
  if (raised) {
    out["raised"] = raised->value();
  } else {
    out["raised"] = py::none();
  }
  return out;
}

py::object ValueToPython(const TLayerValue& v) {
  if (v.constant) return py::float_(*v.constant);
  if (v.grids.empty()) return py::none();
  py::list grids;
  for (const TGridReference& g : v.grids) grids.append(g.path);
  return grids;
}

// A settings file of the window as the run record the batch makes of it.
py::dict ReadSettings(const std::string& path) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) {
    PyErr_SetString(PyExc_FileNotFoundError, FormatMessage("Error by opening file %s", path).c_str());
    throw py::error_already_set();
  }
  TWindowState state = TWindowState::StartValues(kFileSeparator);
  const TSettingsRead read = ReadSettingsFile(state, path, kFileSeparator);
  if (!read.ok()) {
    throw py::value_error(read.message.empty() ? FormatMessage("Error by read config file %s", path) : read.message);
  }
  const TRunSetup setup = PrepareRun(state, kFileSeparator);
  if (!setup.ok()) throw py::value_error(setup.message);
  const TRunParameters& p = setup.params;
  py::dict out;
  py::list rows;
  for (int k = 0; k < p.rowCount; ++k) {
    rows.append(py::make_tuple(ValueToPython(p.layers[k].elevation), ValueToPython(p.layers[k].density)));
  }
  out["rows"] = rows;
  out["point_file"] = p.pointGrid ? py::object(py::none()) : py::object(py::str(p.dataFile));
  if (p.pointGrid) {
    const TPointGrid& g = *p.pointGrid;
    out["point_grid"] = py::make_tuple(g.westDeg, g.eastDeg, g.southDeg, g.northDeg, g.stepDeg, g.heightM,
                                       g.aboveSurface);
  } else {
    out["point_grid"] = py::none();
  }
  if (const auto* single = std::get_if<TSingleZone>(&p.zone)) {
    out["zone"] = py::make_tuple("single", single->psiFromDeg, single->psiToDeg, single->segmentSizeArcSec);
  } else if (const auto* preset = std::get_if<TZonePreset>(&p.zone)) {
    out["zone"] = py::make_tuple("preset", preset->name);
  } else {
    py::list bands;
    for (const TZone& z : std::get<TZoneList>(p.zone).bands) {
      bands.append(py::make_tuple(z.psiFromDeg, z.psiToDeg, z.segmentSizeArcSec, z.blockMeans));
    }
    out["zone"] = py::make_tuple("list", bands);
  }
  out["gravity_constant"] = p.gravityConstant;
  out["earth_radius"] = p.earthRadius;
  out["azimuth_from"] = p.azimuthFromDeg;
  out["azimuth_to"] = p.azimuthToDeg;
  out["increment"] = p.increment;
  out["priority"] = static_cast<int>(p.priority);
  out["unit"] = static_cast<int>(p.outputUnit);
  out["sum_only"] = p.sumOnly;
  out["append_text"] = p.appendText;
  return out;
}

// The points of a point file as (lon, lat, number, height) arrays.
py::tuple ReadPoints(const std::string& path) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) {
    PyErr_SetString(PyExc_FileNotFoundError, FormatMessage("Error by opening file %s", path).c_str());
    throw py::error_already_set();
  }
  TCollectedPrompts prompts;
  if (!CountPoints(path, prompts)) throw py::value_error(prompts.Joined());
  const TFilePtr file = OpenInputStream(path);
  if (!file) throw py::value_error(RunFaultMessage(TRunFault::PointFileLost, path.c_str()));
  const TPointFormat format = ReadPointFormat(file.get(), path);
  TPointReader reader(file.get(), format);
  std::vector<double> lon, lat, number, height;
  for (bool atEnd = false; !atEnd;) {
    if (const std::optional<TCalcPoint> point = reader.Next(atEnd)) {
      lon.push_back(point->lambda);
      lat.push_back(point->phi);
      number.push_back(point->pointNumber);
      height.push_back(point->height);
    }
  }
  return py::make_tuple(py::array_t<double>(lon.size(), lon.data()), py::array_t<double>(lat.size(), lat.data()),
                        py::array_t<double>(number.size(), number.data()),
                        py::array_t<double>(height.size(), height.data()));
}

}  // namespace

PYBIND11_MODULE(_core, m) {
  m.doc() = "The globelayers engine; use the globelayers package, which wraps it.";
  m.def("run", &RunFromPython, py::arg("rows"), py::arg("points"), py::arg("point_grid"), py::arg("zone"),
        py::arg("gravity_constant"), py::arg("earth_radius"), py::arg("azimuth_from"), py::arg("azimuth_to"),
        py::arg("increment"), py::arg("priority"), py::arg("unit"), py::arg("threads"), py::arg("progress"));
  m.def("read_settings", &ReadSettings, py::arg("path"));
  m.def("read_points", &ReadPoints, py::arg("path"));
  m.def("preset_names", &PresetNames);
  m.attr("max_layer_rows") = MaxLayerRows;
  m.attr("version") = kVersion;
}

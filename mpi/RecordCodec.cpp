#include "RecordCodec.h"

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <variant>
#include <vector>

namespace globelayers {
namespace {

// Every field of the run record, in the order they travel. A field left
// out here never reaches the other ranks: the codec test counts them.
template <typename Record, typename Visit>
void ForEachRecordField(Record& p, Visit&& field) {
  field(p.dataFile);
  field(p.pointGrid);
  field(p.layers);
  field(p.rowCount);
  field(p.gravityConstant);
  field(p.zone);
  field(p.earthRadius);
  field(p.appendText);
  field(p.azimuthFromDeg);
  field(p.azimuthToDeg);
  field(p.increment);
  field(p.priority);
  field(p.outputUnit);
  field(p.sumOnly);
}

// The zone travels as the index of its alternative, then that
// alternative's fields.
template <typename Single, typename Visit>
void ForEachSingleZoneField(Single& z, Visit&& field) {
  field(z.psiFromDeg);
  field(z.psiToDeg);
  field(z.segmentSizeArcSec);
}

template <typename List, typename Visit>
void ForEachZoneListField(List& list, Visit&& field) {
  field(list.bands);
}

template <typename Preset, typename Visit>
void ForEachZonePresetField(Preset& preset, Visit&& field) {
  field(preset.name);
}

template <typename Zone, typename Visit>
void ForEachZoneField(Zone& z, Visit&& field) {
  field(z.psiFromDeg);
  field(z.psiToDeg);
  field(z.segmentSizeArcSec);
  field(z.blockMeans);
  field(z.nearPointKernel);
  field(z.boxMeans);
}

template <typename Grid, typename Visit>
void ForEachPointGridField(Grid& g, Visit&& field) {
  field(g.westDeg);
  field(g.eastDeg);
  field(g.southDeg);
  field(g.northDeg);
  field(g.stepDeg);
  field(g.heightM);
  field(g.aboveSurface);
  field(g.geotiff);
}

template <typename Row, typename Visit>
void ForEachLayerRowField(Row& row, Visit&& field) {
  field(row.elevation);
  field(row.density);
}

template <typename Value, typename Visit>
void ForEachLayerValueField(Value& value, Visit&& field) {
  field(value.constant);
  field(value.grids);
}

// The stations' area, which the other ranks read their windows round.
template <typename Bounds, typename Visit>
void ForEachStationBoundsField(Bounds& b, Visit&& field) {
  field(b.count);
  field(b.anywhere);
  field(b.latMin);
  field(b.latMax);
  field(b.westA);
  field(b.eastA);
  field(b.westB);
  field(b.eastB);
}

// A loaded grid but for its values, which go through shared memory: a
// window's place in its file too, by which the sampler places its nodes.
template <typename Grid, typename Visit>
void ForEachGridHeaderField(Grid& g, Visit&& field) {
  field(g.fileFormat);
  field(g.blankValue);
  field(g.blankCount);
  field(g.nx);
  field(g.ny);
  field(g.xMin);
  field(g.xMax);
  field(g.xRange);
  field(g.xStep);
  field(g.yMin);
  field(g.yMax);
  field(g.yRange);
  field(g.yStep);
  field(g.zMin);
  field(g.zMax);
  field(g.zRange);
  field(g.fileXMin);
  field(g.fileYMin);
  field(g.fileNx);
  field(g.fileNy);
  field(g.column0);
  field(g.row0);
}

template <typename T>
struct IsVector : std::false_type {};
template <typename T, typename A>
struct IsVector<std::vector<T, A>> : std::true_type {};

template <typename T>
struct IsOptional : std::false_type {};
template <typename T>
struct IsOptional<std::optional<T>> : std::true_type {};

template <typename T>
struct IsVariant : std::false_type {};
template <typename... T>
struct IsVariant<std::variant<T...>> : std::true_type {};

[[noreturn]] void CutShort() { throw std::runtime_error("A message between the MPI ranks was cut short."); }

// Makes the alternative number `index` of `value` current, default-built.
template <typename Variant, std::size_t I = 0>
void EmplaceAlternative(Variant& value, std::int64_t index) {
  if constexpr (I < std::variant_size_v<Variant>) {
    if (index == static_cast<std::int64_t>(I)) {
      value.template emplace<I>();
      return;
    }
    EmplaceAlternative<Variant, I + 1>(value, index);
  } else {
    CutShort();  // no such alternative: a damaged message
  }
}

// The fields of the records inside the run record, for writer and reader
// alike.
template <typename T, typename Visit>
void ForEachInnerField(T& value, Visit&& field) {
  using Plain = std::remove_const_t<T>;
  if constexpr (std::is_same_v<Plain, TZone>) {
    ForEachZoneField(value, field);
  } else if constexpr (std::is_same_v<Plain, TSingleZone>) {
    ForEachSingleZoneField(value, field);
  } else if constexpr (std::is_same_v<Plain, TZoneList>) {
    ForEachZoneListField(value, field);
  } else if constexpr (std::is_same_v<Plain, TZonePreset>) {
    ForEachZonePresetField(value, field);
  } else if constexpr (std::is_same_v<Plain, TPointGrid>) {
    ForEachPointGridField(value, field);
  } else if constexpr (std::is_same_v<Plain, TLayerRow>) {
    ForEachLayerRowField(value, field);
  } else if constexpr (std::is_same_v<Plain, TLayerValue>) {
    ForEachLayerValueField(value, field);
  } else if constexpr (std::is_same_v<Plain, TStationBounds>) {
    ForEachStationBoundsField(value, field);
  } else if constexpr (std::is_same_v<Plain, TGridImports>) {
    ForEachGridHeaderField(value, field);
  } else {
    static_assert(sizeof(T) == 0, "a field type the codec does not know");
  }
}

struct TFieldWriter {
  TWireWriter& w;
  template <typename T>
  void operator()(const T& value) const {
    if constexpr (std::is_same_v<T, std::string>) {
      w.Text(value);
    } else if constexpr (std::is_same_v<T, double>) {
      w.Real(value);
    } else if constexpr (std::is_same_v<T, bool>) {
      w.Int(value ? 1 : 0);
    } else if constexpr (std::is_enum_v<T> || std::is_integral_v<T>) {
      w.Int(static_cast<std::int64_t>(value));
    } else if constexpr (IsVector<T>::value) {
      w.Int(static_cast<std::int64_t>(value.size()));
      for (const auto& element : value) (*this)(element);
    } else if constexpr (IsOptional<T>::value) {
      w.Int(value ? 1 : 0);
      if (value) (*this)(*value);
    } else if constexpr (IsVariant<T>::value) {
      w.Int(static_cast<std::int64_t>(value.index()));
      std::visit([this](const auto& alternative) { ForEachInnerField(alternative, *this); }, value);
    } else if constexpr (std::is_same_v<T, TGridReference>) {
      w.Text(value.path);
    } else {
      ForEachInnerField(value, *this);
    }
  }
};

struct TFieldReader {
  TWireReader& r;
  template <typename T>
  void operator()(T& value) const {
    if constexpr (std::is_same_v<T, std::string>) {
      value = r.Text();
    } else if constexpr (std::is_same_v<T, double>) {
      value = r.Real();
    } else if constexpr (std::is_same_v<T, bool>) {
      value = r.Int() != 0;
    } else if constexpr (std::is_enum_v<T> || std::is_integral_v<T>) {
      value = static_cast<T>(r.Int());
    } else if constexpr (IsVector<T>::value) {
      const std::int64_t count = r.Int();
      // Each element takes at least one byte: a larger count is a damaged message.
      if (count < 0 || count > (std::int64_t{1} << 40)) CutShort();
      value.clear();
      for (std::int64_t i = 0; i < count; ++i) {
        if (r.AtEnd()) CutShort();
        (*this)(value.emplace_back());
      }
    } else if constexpr (IsOptional<T>::value) {
      value.reset();
      if (r.Int() != 0) (*this)(value.emplace());
    } else if constexpr (IsVariant<T>::value) {
      EmplaceAlternative(value, r.Int());
      std::visit([this](auto& alternative) { ForEachInnerField(alternative, *this); }, value);
    } else if constexpr (std::is_same_v<T, TGridReference>) {
      value.path = r.Text();
    } else {
      ForEachInnerField(value, *this);
    }
  }
};

struct TFieldCounter {
  std::size_t& count;
  template <typename T>
  void operator()(const T&) const {
    ++count;
  }
};

// The fields the codec sends of a value nested in the record.
template <typename T>
std::size_t InnerFieldCount() {
  std::size_t count = 0;
  const T value{};
  ForEachInnerField(value, TFieldCounter{count});
  return count;
}

}  // namespace

void WriteRecord(TWireWriter& w, const TRunParameters& record) { ForEachRecordField(record, TFieldWriter{w}); }

TRunParameters ReadRecord(TWireReader& r) {
  TRunParameters record;
  ForEachRecordField(record, TFieldReader{r});
  return record;
}

std::size_t RecordFieldCount() {
  std::size_t count = 0;
  const TRunParameters record;
  ForEachRecordField(record, TFieldCounter{count});
  return count;
}

std::size_t ZoneFieldCount() { return InnerFieldCount<TZone>(); }

std::size_t SingleZoneFieldCount() { return InnerFieldCount<TSingleZone>(); }

std::size_t ZoneListFieldCount() { return InnerFieldCount<TZoneList>(); }

std::size_t ZonePresetFieldCount() { return InnerFieldCount<TZonePreset>(); }

std::size_t PointGridFieldCount() { return InnerFieldCount<TPointGrid>(); }

std::size_t LayerRowFieldCount() { return InnerFieldCount<TLayerRow>(); }

std::size_t LayerValueFieldCount() { return InnerFieldCount<TLayerValue>(); }

std::size_t StationBoundsFieldCount() { return InnerFieldCount<TStationBounds>(); }

std::size_t GridHeaderFieldCount() { return InnerFieldCount<TGridImports>(); }

void WriteStationArea(TWireWriter& w, const TStationArea& area) { TFieldWriter{w}(area.bounds()); }

TStationArea ReadStationArea(TWireReader& r) {
  TStationBounds bounds;
  TFieldReader{r}(bounds);
  return TStationArea(bounds);
}

void WriteGridHeader(TWireWriter& w, const TGridImports& grid) { ForEachGridHeaderField(grid, TFieldWriter{w}); }

void ReadGridHeader(TWireReader& r, TGridImports& grid) { ForEachGridHeaderField(grid, TFieldReader{r}); }

void WritePoint(TWireWriter& w, long index, const TCalcPoint& point) {
  w.Int(index);
  w.Real(point.lambda);
  w.Real(point.phi);
  w.Real(point.pointNumber);
  w.Real(point.height);
}

TCalcPoint ReadPoint(TWireReader& r, long& index) {
  index = static_cast<long>(r.Int());
  TCalcPoint point;
  point.lambda = r.Real();
  point.phi = r.Real();
  point.pointNumber = r.Real();
  point.height = r.Real();
  return point;
}

}  // namespace globelayers

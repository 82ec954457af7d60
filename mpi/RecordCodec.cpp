#include "RecordCodec.h"

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

namespace globelayers {
namespace {

// Every field of the run record, in the order they travel. A field left
// out here never reaches the other ranks: the codec test counts them.
template <typename Record, typename Visit>
void ForEachRecordField(Record& p, Visit&& field) {
  field(p.dataFile);
  field(p.layers);
  field(p.rowCount);
  field(p.gravityConstant);
  field(p.psiFromDeg);
  field(p.psiToDeg);
  field(p.earthRadius);
  field(p.appendText);
  field(p.azimuthFromDeg);
  field(p.azimuthToDeg);
  field(p.increment);
  field(p.priority);
  field(p.outputUnit);
  field(p.segmentSize);
  field(p.sumOnly);
  field(p.zones);
  field(p.zonePreset);
}

template <typename Zone, typename Visit>
void ForEachZoneField(Zone& z, Visit&& field) {
  field(z.psiFromDeg);
  field(z.psiToDeg);
  field(z.segmentSizeArcSec);
  field(z.blockMeans);
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

template <typename T>
struct IsVector : std::false_type {};
template <typename T, typename A>
struct IsVector<std::vector<T, A>> : std::true_type {};

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
    } else if constexpr (std::is_same_v<T, std::optional<double>>) {
      w.Int(value ? 1 : 0);
      if (value) w.Real(*value);
    } else if constexpr (std::is_same_v<T, TZone>) {
      ForEachZoneField(value, *this);
    } else if constexpr (std::is_same_v<T, TLayerRow>) {
      ForEachLayerRowField(value, *this);
    } else if constexpr (std::is_same_v<T, TLayerValue>) {
      ForEachLayerValueField(value, *this);
    } else if constexpr (std::is_same_v<T, TGridReference>) {
      w.Text(value.path);
    } else {
      static_assert(sizeof(T) == 0, "a field type the codec does not know");
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
      if (count < 0 || count > (std::int64_t{1} << 40)) {
        throw std::runtime_error("A message between the MPI ranks was cut short.");
      }
      value.clear();
      for (std::int64_t i = 0; i < count; ++i) {
        if (r.AtEnd()) throw std::runtime_error("A message between the MPI ranks was cut short.");
        (*this)(value.emplace_back());
      }
    } else if constexpr (std::is_same_v<T, std::optional<double>>) {
      value.reset();
      if (r.Int() != 0) value = r.Real();
    } else if constexpr (std::is_same_v<T, TZone>) {
      ForEachZoneField(value, *this);
    } else if constexpr (std::is_same_v<T, TLayerRow>) {
      ForEachLayerRowField(value, *this);
    } else if constexpr (std::is_same_v<T, TLayerValue>) {
      ForEachLayerValueField(value, *this);
    } else if constexpr (std::is_same_v<T, TGridReference>) {
      value.path = r.Text();
    } else {
      static_assert(sizeof(T) == 0, "a field type the codec does not know");
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

std::size_t ZoneFieldCount() {
  std::size_t count = 0;
  const TZone zone;
  ForEachZoneField(zone, TFieldCounter{count});
  return count;
}

std::size_t LayerRowFieldCount() {
  std::size_t count = 0;
  const TLayerRow row;
  ForEachLayerRowField(row, TFieldCounter{count});
  return count;
}

std::size_t LayerValueFieldCount() {
  std::size_t count = 0;
  const TLayerValue value;
  ForEachLayerValueField(value, TFieldCounter{count});
  return count;
}

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

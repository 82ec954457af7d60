#include "WireFormat.h"

#include <cstring>
#include <stdexcept>

namespace globelayers {
namespace {

[[noreturn]] void Short() { throw std::runtime_error("A message between the MPI ranks was cut short."); }

}  // namespace

void TWireWriter::Text(const std::string& text) {
  Int(static_cast<std::int64_t>(text.size()));
  bytes_.append(text);
}

std::int64_t TWireReader::Int() {
  std::int64_t value = 0;
  Raw(&value, sizeof value);
  return value;
}

double TWireReader::Real() {
  double value = 0;
  Raw(&value, sizeof value);
  return value;
}

std::string TWireReader::Text() {
  const std::int64_t size = Int();
  if (size < 0 || static_cast<std::uint64_t>(size) > bytes_.size() - at_) Short();
  std::string text = bytes_.substr(at_, static_cast<std::size_t>(size));
  at_ += static_cast<std::size_t>(size);
  return text;
}

void TWireReader::Raw(void* data, std::size_t size) {
  if (bytes_.size() - at_ < size) Short();
  std::memcpy(data, bytes_.data() + at_, size);
  at_ += size;
}

}  // namespace globelayers

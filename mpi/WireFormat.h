// The bytes of a message between the ranks: integers, reals and texts in
// this machine's own representation, one after the other. Every rank runs
// the same executable, so the representation needs no conversion.
#pragma once

#include <cstdint>
#include <string>

namespace globelayers {

class TWireWriter {
 public:
  void Int(std::int64_t value) { Raw(&value, sizeof value); }
  void Real(double value) { Raw(&value, sizeof value); }
  void Text(const std::string& text);
  const std::string& bytes() const { return bytes_; }

 private:
  void Raw(const void* data, std::size_t size) { bytes_.append(static_cast<const char*>(data), size); }
  std::string bytes_;
};

// Reads what a TWireWriter wrote, in the same order. A message that ends
// too early throws std::runtime_error: "A message between the MPI ranks was
// cut short."
class TWireReader {
 public:
  // `bytes` must outlive the reader.
  explicit TWireReader(const std::string& bytes) : bytes_(bytes) {}
  std::int64_t Int();
  double Real();
  std::string Text();
  bool AtEnd() const { return at_ == bytes_.size(); }

 private:
  void Raw(void* data, std::size_t size);
  const std::string& bytes_;
  std::size_t at_ = 0;
};

}  // namespace globelayers

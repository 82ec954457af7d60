// Sources of bytes for the grid readers: a file (what LoadGrid opens) or a
// buffer in memory (the fuzzer and the tests that feed every prefix of a
// file). The readers see only IGridSource, so both parse identically.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace globelayers {

// Random access to a byte sequence of known length. Reading past the end is
// not an error here: Read returns fewer bytes, and the reader decides.
class IGridSource {
 public:
  virtual ~IGridSource() = default;
  virtual std::uint64_t Length() const = 0;  // bytes in the whole source
  virtual std::uint64_t Position() const = 0;
  // Any offset, also past the end (then the next Read returns 0).
  virtual bool Seek(std::uint64_t offset) = 0;
  // Copies up to `count` bytes; returns how many arrived.
  virtual std::size_t Read(void* destination, std::size_t count) = 0;
};

// A view of bytes held by the caller; they must outlive the source.
class TMemoryGridSource final : public IGridSource {
 public:
  explicit TMemoryGridSource(std::span<const unsigned char> bytes) : bytes_(bytes) {}
  std::uint64_t Length() const override { return bytes_.size(); }
  std::uint64_t Position() const override { return position_; }
  bool Seek(std::uint64_t offset) override {
    position_ = offset;
    return true;
  }
  std::size_t Read(void* destination, std::size_t count) override;

 private:
  std::span<const unsigned char> bytes_;
  std::uint64_t position_ = 0;
};

// The file `fileName` as a source; empty when it cannot be opened or is not
// a regular file (a directory, a FIFO that would block, a device that never
// ends).
std::unique_ptr<IGridSource> OpenGridFile(const std::string& fileName);

}  // namespace globelayers

// The grid readers over any source of bytes: a file (what LoadGrid opens) or
// a buffer in memory (the fuzzer and the tests that feed every prefix of a
// file). The file-name readers of GridImports.h are thin wrappers that open
// the file and call the same code, so both paths parse identically.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "GridImports.h"
#include "UserPrompts.h"

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

// The readers proper. Each starts at offset 0 of `source`, returns 0 when it
// loaded the grid and 1 when it did not; a source not of its format is left
// silently. Only on success is `grid` changed. `fileName` is used only in
// messages.
int ReadSurfer7Grid(TGridImports& grid, IGridSource& source, const std::string& fileName,
                    IUserPrompts& prompts);
int ReadSurfer6Grid(TGridImports& grid, IGridSource& source, const std::string& fileName,
                    IUserPrompts& prompts);
int ReadGeosoftGrid(TGridImports& grid, IGridSource& source, const std::string& fileName,
                    IUserPrompts& prompts);

// LoadGrid over bytes in memory: the same detection order and messages,
// except that a buffer cannot fail to open.
bool LoadGridFromBytes(TGridImports& grid, std::span<const unsigned char> bytes,
                       const std::string& fileName, IUserPrompts& prompts);

}  // namespace globelayers

#include "GridSource.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <utility>

#include "InputFile.h"

namespace globelayers {
namespace {

class TFileGridSource final : public IGridSource {
 public:
  TFileGridSource(TFilePtr file, std::uint64_t length) : file_(std::move(file)), length_(length) {}

  std::uint64_t Length() const override { return length_; }
  std::uint64_t Position() const override { return position_; }
  bool Seek(std::uint64_t offset) override {
    if (offset > std::uint64_t(INT64_MAX)) return false;
    if (fseeko(file_.get(), off_t(offset), SEEK_SET) != 0) return false;
    position_ = offset;
    return true;
  }
  std::size_t Read(void* destination, std::size_t count) override {
    const std::size_t got = std::fread(destination, 1, count, file_.get());
    position_ += got;
    return got;
  }

 private:
  TFilePtr file_;
  std::uint64_t length_;
  std::uint64_t position_ = 0;
};

}  // namespace

std::size_t TMemoryGridSource::Read(void* destination, std::size_t count) {
  if (position_ >= bytes_.size()) return 0;
  const std::size_t got = std::min<std::uint64_t>(count, bytes_.size() - position_);
  std::memcpy(destination, bytes_.data() + position_, got);
  position_ += got;
  return got;
}

std::unique_ptr<IGridSource> OpenGridFile(const std::string& fileName) {
  TInputFile input = OpenInputFile(fileName);
  if (input.status != TInputOpen::kOpened) return nullptr;
  return std::make_unique<TFileGridSource>(std::move(input.file), input.sizeBytes);
}

}  // namespace globelayers

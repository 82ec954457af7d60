#include "NodeGrids.h"

#include <sys/resource.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>

#include "Messaging.h"
#include "RecordCodec.h"
#include "WireFormat.h"

namespace globelayers {
namespace {

// One block of memory that a grid's values vector takes whole: a node's
// shared window.
class TWindowResource : public std::pmr::memory_resource {
 public:
  TWindowResource(void* base, std::size_t bytes) : base_(base), bytes_(bytes) {}

 private:
  void* do_allocate(std::size_t bytes, std::size_t) override {
    if (bytes > bytes_) throw std::bad_alloc();
    return base_;
  }
  void do_deallocate(void*, std::size_t, std::size_t) override {}
  bool do_is_equal(const std::pmr::memory_resource& other) const noexcept override { return this == &other; }
  void* base_;
  std::size_t bytes_;
};

// Values a broadcast carries at once: its count is an int.
constexpr std::size_t kBroadcastFloats = std::size_t{1} << 28;

// Whether a shared window of `bytes` can be made on this rank, the node's
// first, which creates it. Its memory is a file: under a file size limit
// (ulimit -f) a larger one fails, and Open MPI then leaves the other ranks
// of the node waiting for ever, so the node does without.
bool WindowFits(std::size_t bytes) {
  constexpr rlim_t kWindowOverheadBytes = rlim_t{1} << 20;  // bytes: the library's state beside the values
  struct rlimit fileSize {};
  if (::getrlimit(RLIMIT_FSIZE, &fileSize) != 0 || fileSize.rlim_cur == RLIM_INFINITY) return true;
  return fileSize.rlim_cur > kWindowOverheadBytes && bytes <= fileSize.rlim_cur - kWindowOverheadBytes;
}

}  // namespace

TNodeGrids::TNodeGrids(MPI_Comm node) : node_(node) { MPI_Comm_rank(node_, &nodeRank_); }

void TNodeGrids::Free() {
  for (MPI_Win& window : windows_) MPI_Win_free(&window);
  windows_.clear();
  resources_.clear();
}

bool TNodeGrids::Load(TGridImports& grid, const std::string& fileName, IUserPrompts& prompts,
                      const TWindowChooser& choose) {
  TGridImports read;
  TRecordedPrompts readerMessages;
  std::int64_t loaded = 0;
  if (nodeRank_ == 0) {
    try {
      loaded = LoadGridWindow(read, fileName, readerMessages, choose).fault == TGridFault::kNone ? 1 : 0;
    } catch (const std::bad_alloc&) {
      readerMessages.ShowMessage("Not enough memory to read the grid " + fileName);
    }
  }
  TWireWriter header;
  header.Int(loaded);
  header.Text(readerMessages.message);
  WriteGridHeader(header, read);
  header.Int(nodeRank_ == 0 && !WindowFits(std::size_t(read.nx) * std::size_t(read.ny) * sizeof(float)) ? 0 : 1);
  std::string bytes = header.bytes();
  std::int64_t size = static_cast<std::int64_t>(bytes.size());
  MPI_Bcast(&size, 1, MPI_INT64_T, 0, node_);
  bytes.resize(std::size_t(size));
  MPI_Bcast(bytes.data(), static_cast<int>(size), MPI_BYTE, 0, node_);
  TWireReader r(bytes);
  loaded = r.Int();
  const std::string messages = r.Text();
  if (!messages.empty()) prompts.ShowMessage(messages);
  if (!loaded) return false;
  ReadGridHeader(r, grid);
  const bool share = r.Int() != 0;

  const std::size_t count = std::size_t(grid.nx) * std::size_t(grid.ny);
  if (share) {
    ShareValues(grid, read, count);
  } else {
    CopyValues(grid, read, count);
  }
  return true;
}

void TNodeGrids::ShareValues(TGridImports& grid, const TGridImports& read, std::size_t count) {
  const MPI_Aint bytesHere = nodeRank_ == 0 ? static_cast<MPI_Aint>(count * sizeof(float)) : 0;
  void* base = nullptr;
  MPI_Win window = MPI_WIN_NULL;
  MPI_Win_allocate_shared(bytesHere, sizeof(float), MPI_INFO_NULL, node_, &base, &window);
  windows_.push_back(window);
  MPI_Aint windowBytes = 0;
  int unit = 0;
  MPI_Win_shared_query(window, 0, &windowBytes, &unit, &base);
  resources_.push_back(std::make_unique<TWindowResource>(base, std::size_t(windowBytes)));
  // A vector keeps the memory resource it was made with (assignment does
  // not pass one on): the grid's is made again on the window's.
  std::destroy_at(&grid.values);
  std::construct_at(&grid.values, resources_.back().get());
  // Every rank sizes its view (which writes zeros) before the first rank
  // copies the values in.
  grid.values.resize(count);
  MPI_Barrier(node_);
  if (nodeRank_ == 0) std::memcpy(base, read.values.data(), count * sizeof(float));
  MPI_Win_sync(window);
  MPI_Barrier(node_);
}

void TNodeGrids::CopyValues(TGridImports& grid, TGridImports& read, std::size_t count) {
  if (nodeRank_ == 0) {
    grid.values = std::move(read.values);
  } else {
    grid.values.resize(count);
  }
  for (std::size_t at = 0; at < count; at += kBroadcastFloats) {
    const std::size_t n = std::min(kBroadcastFloats, count - at);
    MPI_Bcast(grid.values.data() + at, static_cast<int>(n), MPI_FLOAT, 0, node_);
  }
}

}  // namespace globelayers

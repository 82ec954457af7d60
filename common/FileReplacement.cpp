#include "FileReplacement.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace globelayers {
namespace {

// Opens `path` for writing without blocking, so that a FIFO that nobody
// reads is refused instead of waited for, then makes writes blocking.
int OpenWithoutWaiting(const std::string& path, int createFlags, mode_t mode) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NONBLOCK | createFlags, mode);
  if (fd < 0) return -1;
  if (::fcntl(fd, F_SETFL, 0) != 0) {
    const int error = errno;
    ::close(fd);
    errno = error;
    return -1;
  }
  return fd;
}

std::atomic<unsigned> gTempCounter{0};

}  // namespace

TFileReplacement::~TFileReplacement() { Discard(); }

int TFileReplacement::Open(const std::string& finalPath) {
  Discard();
  finalPath_ = finalPath;
  tempPath_.clear();
  committed_ = false;
  struct stat existing {};
  const bool exists = ::lstat(finalPath.c_str(), &existing) == 0;
  if (exists && !S_ISREG(existing.st_mode)) {
    committed_ = true;
    return OpenWithoutWaiting(finalPath, O_CREAT | O_TRUNC, 0666);
  }
  // The previous file's permissions carry over to the new one; a new file
  // gets what the umask leaves of 0666, as a plain open would give.
  const mode_t mode = exists ? (existing.st_mode & 07777) : 0666;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string candidate = finalPath + ".tmp-" + std::to_string(::getpid()) + "-" +
                                  std::to_string(gTempCounter.fetch_add(1));
    const int fd = OpenWithoutWaiting(candidate, O_CREAT | O_EXCL, mode);
    if (fd >= 0) {
      tempPath_ = candidate;
      if (exists) (void)::fchmod(fd, mode);  // the umask must not narrow the old file's mode
      return fd;
    }
    if (errno != EEXIST) return -1;
  }
  errno = EEXIST;
  return -1;
}

bool TFileReplacement::Commit() {
  if (committed_) return true;
  if (tempPath_.empty()) return false;
  if (::rename(tempPath_.c_str(), finalPath_.c_str()) != 0) return false;
  tempPath_.clear();
  committed_ = true;
  return true;
}

void TFileReplacement::Discard() {
  if (!committed_ && !tempPath_.empty()) ::unlink(tempPath_.c_str());
  tempPath_.clear();
}

}  // namespace globelayers

#include "InputFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace globelayers {

TInputFile OpenInputFile(const std::string& fileName) {
  TInputFile in;
  // O_NONBLOCK: opening a FIFO returns at once instead of waiting for a
  // writer. O_NOCTTY: a terminal named by mistake does not become ours.
  const int fd = ::open(fileName.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    in.error = errno;
    return in;
  }
  const auto fail = [&](TInputOpen status) {
    in.status = status;
    in.error = status == TInputOpen::kFailed ? errno : 0;
    ::close(fd);
    return std::move(in);
  };
  struct stat info {};
  if (::fstat(fd, &info) != 0) return fail(TInputOpen::kFailed);
  if (!S_ISREG(info.st_mode)) return fail(TInputOpen::kNotRegular);
  // Reads of a regular file do not block anyway; the flag goes so that the
  // stream behaves exactly like one from fopen.
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) return fail(TInputOpen::kFailed);
  std::FILE* file = ::fdopen(fd, "r");
  if (file == nullptr) return fail(TInputOpen::kFailed);
  in.file.reset(file);
  in.sizeBytes = static_cast<std::uint64_t>(info.st_size);
  in.status = TInputOpen::kOpened;
  return in;
}

TFilePtr OpenInputStream(const std::string& fileName) { return std::move(OpenInputFile(fileName).file); }

TFilePtr OpenOutputStream(const std::string& fileName) {
  const int fd = ::open(fileName.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NONBLOCK, 0666);
  if (fd < 0) return nullptr;
  std::FILE* stream = ::fcntl(fd, F_SETFL, 0) == 0 ? ::fdopen(fd, "w") : nullptr;
  if (!stream) ::close(fd);
  return TFilePtr(stream);
}

}  // namespace globelayers

// Opening the files a run reads (grids, point files, the settings file)
// and the small files it writes (the run log).
//
// A name given where a data file belongs may be something else: a FIFO
// blocks the open until some writer appears, a device such as /dev/zero
// never reaches its end, a directory reads as nothing. Each input is opened
// without blocking and judged by fstat on that same descriptor (so nothing
// can be swapped in between), and only a regular file is handed on, as an
// ordinary blocking stdio stream.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "FilePtr.h"

namespace globelayers {


enum class TInputOpen {
  kOpened,
  kNotRegular,  // opened, but a directory, FIFO, device or socket: closed again
  kFailed,      // could not be opened; `error` says why
};

struct TInputFile {
  TInputOpen status = TInputOpen::kFailed;
  int error = 0;                 // errno of the failed call when kFailed (ENOENT: not there)
  TFilePtr file;            // the stream when kOpened, read from its start
  std::uint64_t sizeBytes = 0;   // file length in bytes at opening, when kOpened
};

TInputFile OpenInputFile(const std::string& fileName);

// The stream alone, for callers that only need to know whether they may read:
// empty unless the file opened as a regular file.
TFilePtr OpenInputStream(const std::string& fileName);

// A file to write, created anew or emptied, as a stdio stream; nullptr when
// it cannot be opened. Opened without blocking, so that a FIFO that nobody
// reads is refused instead of waited for.
TFilePtr OpenOutputStream(const std::string& fileName);

}  // namespace globelayers

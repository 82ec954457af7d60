// A stdio stream that is closed when its owner goes, on every path out.
// Where the close itself can fail (a file being written), release() it and
// close it by hand to see the result.
#pragma once

#include <cstdio>
#include <memory>

namespace globelayers {

struct TFileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using TFilePtr = std::unique_ptr<std::FILE, TFileCloser>;

}  // namespace globelayers

// A file that replaces another only once it holds something worth keeping.
//
// A run writes its result file and its run log under a temporary name in the
// folder of the final one and renames it into place when the run has a
// result to show: a run that fails before that leaves the previous file as
// it was, byte for byte. rename() within one folder is atomic, so a reader
// sees either the old file or the new one, never a mixture. The descriptor
// stays valid across the rename: what is written after it goes to the file
// under its final name.
//
// A final name that is there but is not a regular file (a FIFO, a device, a
// link) is written directly, as a plain open would: renaming over it would
// replace the FIFO or the link itself instead of writing into what it names.
#pragma once

#include <string>

namespace globelayers {

class TFileReplacement {
 public:
  TFileReplacement() = default;
  ~TFileReplacement();  // removes the temporary file unless it was put in place
  TFileReplacement(const TFileReplacement&) = delete;
  TFileReplacement& operator=(const TFileReplacement&) = delete;

  // Opens a new, empty file to write for `finalPath` and returns its
  // descriptor (blocking writes, close-on-exec), or -1 with errno set. The
  // caller owns the descriptor and closes it.
  int Open(const std::string& finalPath);
  // Puts the file in place under its final name; true when it is there (at
  // once for a file written directly). Later calls do nothing.
  bool Commit();
  // Removes the temporary file now, unless it was put in place.
  void Discard();
  bool committed() const { return committed_; }
  // The name being written: the temporary one until the commit.
  const std::string& writtenPath() const { return committed_ ? finalPath_ : tempPath_; }

 private:
  std::string finalPath_;
  std::string tempPath_;  // empty when the final name is written directly
  bool committed_ = false;
};

}  // namespace globelayers

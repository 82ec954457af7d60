// A request to stop a run's long set-up steps at once: loading grids and
// forming their block means, which take seconds to minutes on large grids
// and happen before the point loop looks at its own stop request. Set from a
// signal handler (a lock-free atomic store) or another thread; the steps
// look at it between blocks of at most a few megabytes, and a step that
// sees it gives up without a message of its own: the run then ends as
// stopped.
#pragma once

#include <atomic>

#include <signal.h>

namespace globelayers {

void RequestLongStepStop() noexcept;
void ClearLongStepStop() noexcept;
// The process-wide request, or the request of this thread's TThreadStopScope.
bool LongStepStopRequested() noexcept;

// A stop that concerns one thread's work only, such as a picture loaded in
// the background for a window that has closed since: while the scope lives,
// LongStepStopRequested() on its thread also answers `flag`, which another
// thread may set at any time. Scopes do not nest.
class TThreadStopScope {
 public:
  explicit TThreadStopScope(const std::atomic<bool>& flag) noexcept;
  ~TThreadStopScope();
  TThreadStopScope(const TThreadStopScope&) = delete;
  TThreadStopScope& operator=(const TThreadStopScope&) = delete;
};

// Blocks SIGINT and SIGTERM on this thread while it lives, so that the
// threads it starts (which inherit the mask) leave them to the thread that
// started the run. A stop signal is then handled on that one thread, one at
// a time and in the order they came: were workers to take signals too, a
// SIGINT and a SIGTERM sent together could be handled at once on two
// threads, and which of them the run reports would be left to chance.
class TStopSignalsBlocked {
 public:
  TStopSignalsBlocked() noexcept;
  ~TStopSignalsBlocked();
  TStopSignalsBlocked(const TStopSignalsBlocked&) = delete;
  TStopSignalsBlocked& operator=(const TStopSignalsBlocked&) = delete;

 private:
  sigset_t previous_;
};

}  // namespace globelayers

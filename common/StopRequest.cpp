#include "StopRequest.h"

#include <atomic>

namespace globelayers {
namespace {

std::atomic<bool> gLongStepStop{false};
static_assert(std::atomic<bool>::is_always_lock_free);
thread_local const std::atomic<bool>* tThreadStop = nullptr;

}  // namespace

TThreadStopScope::TThreadStopScope(const std::atomic<bool>& flag) noexcept { tThreadStop = &flag; }
TThreadStopScope::~TThreadStopScope() { tThreadStop = nullptr; }

void RequestLongStepStop() noexcept { gLongStepStop.store(true); }
void ClearLongStepStop() noexcept { gLongStepStop.store(false); }
bool LongStepStopRequested() noexcept {
  return gLongStepStop.load(std::memory_order_relaxed) || (tThreadStop != nullptr && tThreadStop->load());
}

TStopSignalsBlocked::TStopSignalsBlocked() noexcept {
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, &previous_);
}
TStopSignalsBlocked::~TStopSignalsBlocked() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }

}  // namespace globelayers

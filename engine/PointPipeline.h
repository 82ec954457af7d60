// Points in flight between the point file and the result file.
//
// With one worker the calling thread evaluates each point when its line is
// asked for, exactly in turn. With more, workers take points in file order
// and the calling thread collects the lines in the same order, letting the
// toolkit process messages while it waits. A stop request drops the points
// in progress: every evaluator gives up at its next ring.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "Calculation.h"
#include "PointEvaluation.h"
#include "PointFile.h"

namespace globelayers {

class TPointPipeline {
 public:
  // Starts `workers` threads (one or less: none, the caller evaluates).
  // Throws std::runtime_error when a thread cannot start, after stopping the
  // ones that did. `progress` is asked for a stop between rings when the
  // caller evaluates.
  TPointPipeline(const TRunContext& ctx, int workers, IRunProgress& progress);
  ~TPointPipeline() { Stop(); }
  TPointPipeline(const TPointPipeline&) = delete;
  TPointPipeline& operator=(const TPointPipeline&) = delete;

  // How many points may be read ahead of the last line written.
  long window() const { return inline_ ? 1 : static_cast<long>(threads_.size()) * 4; }

  void Submit(long index, const TCalcPoint& point);

  // The line of point `index`; `idle` runs every few milliseconds meanwhile
  // and returns true to stop waiting. Empty when stopped. Rethrows what a
  // worker threw.
  template <typename Idle>
  std::optional<std::string> Take(long index, Idle idle);

 private:
  struct Job {
    long index = 0;
    TCalcPoint point;
  };

  std::optional<std::string> TakeInline();
  void Stop();
  void Work();

  const TRunContext& ctx_;
  std::optional<TPointEvaluator> inline_;
  Job pendingInline_;
  std::mutex mutex_;
  std::condition_variable jobReady_, lineReady_;
  std::deque<Job> jobs_;
  std::map<long, std::string> results_;
  std::exception_ptr error_;
  bool stop_ = false;
  std::atomic<bool> abandon_{false};
  std::vector<std::jthread> threads_;  // last: joined before the rest goes
};

template <typename Idle>
std::optional<std::string> TPointPipeline::Take(long index, Idle idle) {
  if (inline_) return TakeInline();
  std::unique_lock lock(mutex_);
  for (;;) {
    if (error_) std::rethrow_exception(error_);
    const auto it = results_.find(index);
    if (it != results_.end()) {
      std::string line = std::move(it->second);
      results_.erase(it);
      return line;
    }
    lineReady_.wait_for(lock, std::chrono::milliseconds(20));
    lock.unlock();
    const bool stop = idle();
    lock.lock();
    if (stop) {
      abandon_ = true;
      return std::nullopt;
    }
  }
}

}  // namespace globelayers

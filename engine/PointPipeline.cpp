#include "PointPipeline.h"

#include <algorithm>
#include <stdexcept>

#include "NumberText.h"
#include "StopRequest.h"

namespace globelayers {

TPointPipeline::TPointPipeline(const TRunContext& ctx, int workers, IRunProgress& progress, bool threadEvenForOne,
                               std::chrono::microseconds idlePause)
    : ctx_(ctx), idlePause_(idlePause) {
  if (threadEvenForOne) workers = std::max(1, workers);
  if (workers <= 1 && !threadEvenForOne) {
    inline_.emplace(ctx);
    inline_->SetAbandonCheck([&progress] { return progress.StopRequested(); });
    return;
  }
  try {
    threads_.reserve(static_cast<std::size_t>(workers));
    const TStopSignalsBlocked leaveSignalsToTheRun;
    for (int w = 0; w < workers; ++w) threads_.emplace_back([this] { Work(); });
  } catch (const std::exception& e) {
    // Threads already running wait for jobs: stop and join them, or this
    // constructor's unwinding would wait for them for ever.
    const std::size_t started = threads_.size();
    Stop();
    throw std::runtime_error(CFormat("Could not start worker thread %zu of %d (%s).", started + 1, workers, e.what()));
  }
}

void TPointPipeline::Submit(long index, const TCalcPoint& point) {
  if (inline_) {
    pendingInline_ = {.index = index, .point = point};
    return;
  }
  {
    std::lock_guard lock(mutex_);
    jobs_.push_back({.index = index, .point = point});
  }
  jobReady_.notify_one();
}

std::optional<std::string> TPointPipeline::Take(long index, const std::function<bool()>& idle) {
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
    lineReady_.wait_for(lock, idlePause_);
    lock.unlock();
    const bool stop = idle();
    lock.lock();
    if (stop) {
      abandon_ = true;
      return std::nullopt;
    }
  }
}

std::vector<TPointPipeline::Job> TPointPipeline::HandOut(long most) {
  std::vector<Job> taken;
  std::lock_guard lock(mutex_);
  for (; static_cast<long>(taken.size()) < most && !jobs_.empty(); jobs_.pop_front()) taken.push_back(jobs_.front());
  return taken;
}

void TPointPipeline::Deliver(long index, std::string line) {
  {
    std::lock_guard lock(mutex_);
    results_.emplace(index, std::move(line));
  }
  lineReady_.notify_all();
}

void TPointPipeline::Fail(const std::string& message) {
  {
    std::lock_guard lock(mutex_);
    if (!error_) error_ = std::make_exception_ptr(std::runtime_error(message));
  }
  lineReady_.notify_all();
}

std::optional<std::string> TPointPipeline::TakeInline() {
  try {
    return inline_->Evaluate(pendingInline_.point);
  } catch (const TPointAbandoned&) {
    return std::nullopt;
  }
}

void TPointPipeline::Stop() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  abandon_ = true;
  jobReady_.notify_all();
  threads_.clear();  // joins
}

void TPointPipeline::Work() {
  // Everything a worker throws, its set-up included, ends the run through
  // the collecting thread; nothing may escape a thread.
  try {
    TPointEvaluator evaluator(ctx_);
    evaluator.SetAbandonCheck([this] { return abandon_.load(std::memory_order_relaxed); });
    for (;;) {
      Job job;
      {
        std::unique_lock lock(mutex_);
        jobReady_.wait(lock, [this] { return stop_ || !jobs_.empty(); });
        if (stop_) return;
        job = jobs_.front();
        jobs_.pop_front();
      }
      std::string line;
      try {
        line = evaluator.Evaluate(job.point);
      } catch (const TPointAbandoned&) {
        return;
      }
      {
        std::lock_guard lock(mutex_);
        results_.emplace(job.index, std::move(line));
      }
      lineReady_.notify_all();
    }
  } catch (...) {
    {
      std::lock_guard lock(mutex_);
      if (!error_) error_ = std::current_exception();
    }
    lineReady_.notify_all();
  }
}

}  // namespace globelayers

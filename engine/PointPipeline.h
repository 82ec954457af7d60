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
#include <functional>
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

// Where the point loop of RunCalculation sends its points and takes their
// lines back, in file order. The loop submits point `index` (0, 1, 2, ...)
// while fewer than window() points are ahead of the last line taken.
class IPointLines {
 public:
  virtual ~IPointLines() = default;
  // How many points may be read ahead of the last line written.
  virtual long window() const = 0;
  virtual void Submit(long index, const TCalcPoint& point) = 0;
  // The line of point `index`; `idle` runs every few milliseconds meanwhile
  // and returns true to stop waiting. Empty when stopped. Throws what ended
  // the evaluation (its message is for the user).
  virtual std::optional<std::string> Take(long index, const std::function<bool()>& idle) = 0;
};

// The points of this process: worker threads, or the calling thread.
class TPointPipeline : public IPointLines {
 public:
  // Starts `workers` threads (one or less: none, the caller evaluates,
  // unless `threadEvenForOne`: a caller with other work gets one thread).
  // Throws std::runtime_error when a thread cannot start, after stopping the
  // ones that did. `progress` is asked for a stop between rings when the
  // caller evaluates. Take looks at its `idle` every `idlePause`.
  TPointPipeline(const TRunContext& ctx, int workers, IRunProgress& progress, bool threadEvenForOne = false,
                 std::chrono::microseconds idlePause = std::chrono::milliseconds(20));
  ~TPointPipeline() override { Stop(); }
  TPointPipeline(const TPointPipeline&) = delete;
  TPointPipeline& operator=(const TPointPipeline&) = delete;

  long window() const override { return inline_ ? 1 : static_cast<long>(threads_.size()) * 4; }

  void Submit(long index, const TCalcPoint& point) override;

  // Rethrows what a worker threw.
  std::optional<std::string> Take(long index, const std::function<bool()>& idle) override;

  // For a front end that shares the points with other processes (workers
  // only): up to `most` submitted points that no worker has taken yet, in
  // file order, taken out; the line of one of them, evaluated elsewhere;
  // and a failure elsewhere, which Take then throws.
  struct Job {
    long index = 0;
    TCalcPoint point;
  };
  std::vector<Job> HandOut(long most);
  void Deliver(long index, std::string line);
  void Fail(const std::string& message);

 private:
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
  std::chrono::microseconds idlePause_;
  bool stop_ = false;
  std::atomic<bool> abandon_{false};
  std::vector<std::jthread> threads_;  // last: joined before the rest goes
};

}  // namespace globelayers

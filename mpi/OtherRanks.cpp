#include "OtherRanks.h"

#include <signal.h>

#include <algorithm>
#include <cstdlib>
#include <deque>
#include <exception>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <utility>

#include "BatchRun.h"
#include "Calculation.h"
#include "Messaging.h"
#include "NodeGrids.h"
#include "PointPipeline.h"
#include "RecordCodec.h"

namespace globelayers {
namespace {

// Whether rank 0 has ended the run; its status once it has.
class TRankZeroWord {
 public:
  bool Arrived() {
    if (!status_) {
      if (std::optional<TMessage> message = Poll(0, kTagStatus)) status_ = static_cast<int>(IntOf(*message));
    }
    return status_.has_value();
  }
  void Set(int status) { status_ = status; }
  int Wait() {
    while (!Arrived()) std::this_thread::sleep_for(kPollPause);
    return *status_;
  }

 private:
  std::optional<int> status_;
};

// A stop for the evaluation on this rank: rank 0 ended the run, or a signal
// came.
class TRankStop : public TSilentProgress {
 public:
  explicit TRankStop(TRankZeroWord& word) : word_(word) {}
  bool StopRequested() override { return CaughtStopSignal() != 0 || word_.Arrived(); }

 private:
  TRankZeroWord& word_;
};

// GLOBELAYERS_MPI_FAULT=throw or =die on a rank makes it fail when its
// first points arrive: the tests show that rank 0 then ends the run rather
// than wait for ever. Nothing else reads it.
void InjectedFault() {
  const char* fault = std::getenv("GLOBELAYERS_MPI_FAULT");
  if (fault == nullptr) return;
  if (std::string_view(fault) == "throw") throw std::runtime_error("A rank failed on purpose (GLOBELAYERS_MPI_FAULT).");
  if (std::string_view(fault) == "die") ::raise(SIGKILL);
}

// Evaluates the points rank 0 hands out until rank 0 ends the run or a
// signal comes.
void ServePoints(const TRunContext& ctx, int threads, TRankZeroWord& word) {
  TRankStop stop(word);
  TPointPipeline pipeline(ctx, threads, stop);
  const long capacity = std::max(kChunkPointsPerThread, kChunkPointsPerThread * threads) * 2;
  std::deque<std::pair<long, TCalcPoint>> received;
  std::deque<long> inFlight;  // submitted to the pipeline, in order
  bool asking = false;
  for (;;) {
    if (const int signal = CaughtStopSignal(); signal != 0) {
      SendInt(0, kTagStopped, signal);
      return;
    }
    if (word.Arrived()) return;
    const long held = static_cast<long>(received.size() + inFlight.size());
    if (!asking && held <= capacity / 2) {
      SendInt(0, kTagRequest, capacity - held);
      asking = true;
    }
    if (std::optional<TMessage> chunk = Poll(0, kTagChunk)) {
      InjectedFault();
      TWireReader r(chunk->body);
      while (!r.AtEnd()) {
        long index = 0;
        const TCalcPoint point = ReadPoint(r, index);
        received.emplace_back(index, point);
      }
      asking = false;
    }
    while (!received.empty() && static_cast<long>(inFlight.size()) < pipeline.window()) {
      pipeline.Submit(received.front().first, received.front().second);
      inFlight.push_back(received.front().first);
      received.pop_front();
    }
    if (inFlight.empty()) {
      std::this_thread::sleep_for(kPollPause);
      continue;
    }
    const std::optional<std::string> line =
        pipeline.Take(inFlight.front(), [&stop]() -> bool { return stop.StopRequested(); });
    if (!line) continue;  // stopped: said at the top of the loop
    TWireWriter w;
    w.Int(inFlight.front());
    w.Text(*line);
    Send(0, kTagLine, w.bytes());
    inFlight.pop_front();
  }
}

// Sets up the run of a start message and serves its points; false after a
// message to `prompts` when the set-up failed.
bool ServeRun(const TMessage& start, TNodeGrids& grids, TRankZeroWord& word, TRecordedPrompts& prompts) {
  TWireReader r(start.body);
  const int requested = static_cast<int>(r.Int());
  const int threads = requested > 0 ? requested : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  const TRunParameters params = ReadRecord(r);
  const TStationArea stations = ReadStationArea(r);
  TRunOptions options;
  options.threads = threads;
  options.loadGridWindow = [&grids](TGridImports& grid, const std::string& fileName, IUserPrompts& gridPrompts,
                                    const TWindowChooser& choose) {
    return grids.Load(grid, fileName, gridPrompts, choose);
  };
  options.loadOnCallingThread = true;  // the node's grids are shared through MPI calls
  TCalcEngine engine;
  // The stations' area: each node's first rank reads the windows that rank 0 reads.
  return engine.ServeRun(
      params, prompts, options, [&](const TRunContext& ctx) { ServePoints(ctx, threads, word); }, &stations);
}

}  // namespace

int RunOtherRank(MPI_Comm node) {
  TRankZeroWord word;
  TNodeGrids grids(node);
  // Every failure here reaches rank 0, which fails the run with its message
  // and then sends the status this rank waits for below.
  const auto fail = [](const std::string& message) {
    try {
      SendFailure(message);
    } catch (...) {
      // Nothing more can be said: rank 0 still ends the run with its status.
    }
  };
  try {
    const TMessage first = WaitFor(0);
    if (first.tag == kTagStatus) {
      word.Set(static_cast<int>(IntOf(first)));
    } else if (first.tag == kTagStart) {
      // The set-up's messages (a grid this node cannot read) reach the user
      // through rank 0, which fails the run with them.
      TRecordedPrompts prompts;
      if (!ServeRun(first, grids, word, prompts)) fail(prompts.message);
    }
  } catch (const std::bad_alloc&) {
    fail("Not enough memory for this run");
  } catch (const std::exception& e) {
    fail(e.what());
  } catch (...) {
    fail("The run stopped on an unexpected error");
  }
  int status = kBatchFailed;
  try {
    status = word.Wait();
  } catch (const std::exception& e) {
    fail(e.what());  // a status message cut short; rank 0 waits for kTagDone all the same
  }
  // The grids were released with the run.
  grids.Free();
  Send(0, kTagDone, std::string());
  return status;
}

}  // namespace globelayers

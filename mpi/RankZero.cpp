#include "RankZero.h"

#include <mpi.h>
#include <signal.h>

#include <algorithm>

#include "Messaging.h"
#include "RecordCodec.h"

namespace globelayers {
namespace {

int RankCount() {
  int ranks = 1;
  MPI_Comm_size(MPI_COMM_WORLD, &ranks);
  return ranks;
}

}  // namespace

TRankZeroLines::TRankZeroLines(const TRunContext& ctx, int workers, IRunProgress& progress)
    : localWorkers_(std::max(1, workers)), local_(ctx, localWorkers_, progress, true, kPollPause) {
  ranks_ = RankCount();
  asked_.assign(std::size_t(ranks_), 0);
  largestAsk_.assign(std::size_t(ranks_), kChunkPointsPerThread * localWorkers_ * 2);
}

long TRankZeroLines::window() const {
  long window = kChunkPointsPerThread * localWorkers_;
  for (int rank = 1; rank < ranks_; ++rank) window += largestAsk_[std::size_t(rank)];
  return window;
}

std::optional<std::string> TRankZeroLines::Take(long index, const std::function<bool()>& idle) {
  return local_.Take(index, [this, &idle] {
    Serve();
    return idle();
  });
}

void TRankZeroLines::Serve() {
  while (std::optional<TMessage> message = Poll(MPI_ANY_SOURCE)) {
    const std::size_t from = std::size_t(message->source);
    switch (message->tag) {
      case kTagRequest:
        asked_[from] = IntOf(*message);
        largestAsk_[from] = std::max<long>(largestAsk_[from], static_cast<long>(asked_[from]));
        break;
      case kTagLine: {
        TWireReader r(message->body);
        const long index = static_cast<long>(r.Int());
        local_.Deliver(index, r.Text());
        break;
      }
      case kTagFailed: {
        TWireReader r(message->body);
        local_.Fail(r.Text());
        break;
      }
      case kTagStopped:
        // A stop signal on any rank (a job scheduler may signal them one
        // by one) stops the run as if it had come here.
        ::raise(static_cast<int>(IntOf(*message)));
        break;
      default:
        break;
    }
  }
  for (int rank = 1; rank < ranks_; ++rank) {
    std::int64_t& asked = asked_[std::size_t(rank)];
    if (asked <= 0) continue;
    const std::vector<TPointPipeline::Job> jobs = local_.HandOut(static_cast<long>(asked));
    if (jobs.empty()) continue;
    TWireWriter chunk;
    for (const TPointPipeline::Job& job : jobs) WritePoint(chunk, job.index, job.point);
    Send(rank, kTagChunk, chunk.bytes());
    asked = 0;
  }
}

void StartOtherRanks(const TRunParameters& params, const TStationArea* stations, int threadsPerRank) {
  TWireWriter start;
  start.Int(threadsPerRank);
  WriteRecord(start, params);
  WriteStationArea(start, stations != nullptr ? *stations : TStationArea{});
  for (int rank = 1; rank < RankCount(); ++rank) Send(rank, kTagStart, start.bytes());
}

std::optional<std::string> EndOtherRanks(int status, const std::function<void()>& whileTheyEnd) {
  const int ranks = RankCount();
  for (int rank = 1; rank < ranks; ++rank) SendInt(rank, kTagStatus, status);
  whileTheyEnd();
  std::optional<std::string> lateFailure;
  for (int rank = 1; rank < ranks; ++rank) {
    for (TMessage message = WaitFor(rank); message.tag != kTagDone; message = WaitFor(rank)) {
      if (message.tag == kTagFailed && !lateFailure) {
        TWireReader r(message.body);
        lateFailure = r.Text();
      }
    }
  }
  return lateFailure;
}

}  // namespace globelayers

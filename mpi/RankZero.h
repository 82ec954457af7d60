// Rank 0's side of a run: it starts the other ranks with the run record,
// hands them points while its own threads evaluate others, and ends them
// with the run's exit status.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "Calculation.h"
#include "PointPipeline.h"

namespace globelayers {

// The points of a run on rank 0: its own worker threads take them from the
// front of the queue, and so do the other ranks, a chunk at a time when
// they ask. The lines come back to one map; the run's loop takes them in
// point-file order. Only the calling thread talks to the other ranks. A
// rank's failure fails the run with its message; a rank's stop signal
// stops it.
class TRankZeroLines : public IPointLines {
 public:
  // The other ranks were started before the grids were loaded (StartOtherRanks).
  // The calling thread serves the other ranks, so rank 0 evaluates on
  // threads of its own even when it has one.
  TRankZeroLines(const TRunContext& ctx, int workers, IRunProgress& progress);

  long window() const override;
  void Submit(long index, const TCalcPoint& point) override { local_.Submit(index, point); }
  std::optional<std::string> Take(long index, const std::function<bool()>& idle) override;

 private:
  // Reads what the other ranks sent and hands out points to those asking.
  void Serve();

  int localWorkers_;
  int ranks_ = 1;
  std::vector<std::int64_t> asked_;  // per rank: points it waits for; 0 when it is not asking
  std::vector<long> largestAsk_;     // per rank: the most it asked for at once
  TPointPipeline local_;             // last: its workers stop before the rest goes
};

// Sends every other rank the run record, the area of its stations (null:
// none, the grids are read whole) and the threads per rank: they set up the
// same run and load the grids in step with rank 0, in the windows round the
// stations that rank 0 reads, the ranks of its node into the same shared
// memory.
void StartOtherRanks(const TRunParameters& params, const TStationArea* stations, int threadsPerRank);

// Tells every other rank the exit status, runs `whileTheyEnd` (collective
// calls that the other ranks make once they know the status), and waits
// until each has answered, reading and dropping whatever they still send,
// so that no rank is left blocked in a send when the job finalises.
// Returns the first failure a rank reported after the run had ended (a
// rank whose setup failed while rank 0 did every point itself): the run
// then did not complete on every rank.
std::optional<std::string> EndOtherRanks(int status, const std::function<void()>& whileTheyEnd);

}  // namespace globelayers

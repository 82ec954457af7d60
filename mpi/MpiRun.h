// The MPI front end: the batch spread over the ranks of an MPI job.
//
//   mpirun -np N globelayers-mpi [--unit mGal|microGal] [--threads N] [--zones PRESET] SETTINGS.ini
//
// Rank 0 is the batch: it reads and checks the settings and the point file,
// prints every message, writes the result file and the run log, and
// evaluates points on its own threads. The other ranks set up the same run
// from the record rank 0 sends them, ask rank 0 for points a chunk at a
// time and send back one line per point; rank 0 writes the lines in
// point-file order. Every rank ends with rank 0's exit status.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace globelayers {

std::string MpiUsage();

// Runs this rank's part of the job; MPI must be initialised (at least
// MPI_THREAD_FUNNELED: only the calling thread talks to the other ranks).
// On rank 0 as RunBatch: help to `out`, messages and the progress to `err`.
// The other ranks print nothing. Returns the exit status, the same on every
// rank.
int RunMpiRank(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool errIsTerminal);

}  // namespace globelayers

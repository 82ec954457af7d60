// The side of every rank but 0: it sets up the run from the record rank 0
// sends, evaluates the points rank 0 hands out, and ends with rank 0's
// status. Whatever fails on it reaches rank 0 as a message that fails the
// run.
#pragma once

#include <mpi.h>

namespace globelayers {

// Runs this rank's part of the job; `node` holds the ranks that share its
// grids. Returns rank 0's exit status.
int RunOtherRank(MPI_Comm node);

}  // namespace globelayers

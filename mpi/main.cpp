// globelayers-mpi: the batch over the ranks of an MPI job.
#include <mpi.h>
#include <unistd.h>

#include <csignal>
#include <iostream>
#include <string>
#include <vector>

#include "BatchRun.h"
#include "MpiRun.h"

int main(int argc, char** argv) {
  int provided = 0;
  if (MPI_Init_thread(&argc, &argv, MPI_THREAD_FUNNELED, &provided) != MPI_SUCCESS) {
    std::cerr << "globelayers-mpi: MPI could not be initialised\n";
    return globelayers::kBatchFailed;
  }
  // As in the batch: a file size limit fails a write instead of ending the
  // process, and a signal after the run log was written cannot change the
  // status. Installed after MPI_Init, which may set handlers of its own.
  std::signal(SIGXFSZ, SIG_IGN);
  globelayers::KeepStopSignalsUntilExit();
  const std::vector<std::string> args(argv + 1, argv + argc);
  const int status = globelayers::RunMpiRank(args, std::cout, std::cerr, ::isatty(STDERR_FILENO) == 1);
  std::cout.flush();
  std::cerr.flush();
  MPI_Finalize();
  return status;
}

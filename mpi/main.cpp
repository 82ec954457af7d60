// globelayers-mpi: the batch over the ranks of an MPI job.
#include <mpi.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <system_error>
#include <vector>

#include "BatchRun.h"
#include "MpiRun.h"

namespace {

// Whether the user watches standard error on a terminal. mpirun passes a
// rank's standard error on through a pipe, so the launcher's own (the
// parent process's) tells: a terminal when started by hand, a file under a
// batch system, where a progress line per point would only fill the file.
bool ErrorsOnATerminal() {
  if (::isatty(STDERR_FILENO) == 1) return true;
  std::error_code ec;
  const std::string parentErr =
      std::filesystem::read_symlink("/proc/" + std::to_string(::getppid()) + "/fd/2", ec).string();
  return !ec && (parentErr.starts_with("/dev/pts/") || parentErr.starts_with("/dev/tty"));
}

}  // namespace

int main(int argc, char** argv) {
  // As in the batch: a file size limit fails a write instead of ending the
  // process. Before MPI_Init, whose shared-memory files meet the limit first
  // (and mpirun passes its own SIGXFSZ on to every rank).
  std::signal(SIGXFSZ, SIG_IGN);
  // Under a file size limit Open MPI's PMIx keeps its job data in a
  // shared-memory file that the limit cuts short, and MPI_Init aborts the
  // job without a word; its other store passes the data in messages. A
  // choice made by the user's environment is left alone.
  struct rlimit fileSize {};
  if (::getrlimit(RLIMIT_FSIZE, &fileSize) == 0 && fileSize.rlim_cur != RLIM_INFINITY) {
    ::setenv("PMIX_MCA_gds", "hash", 0);
  }
  int provided = 0;
  if (MPI_Init_thread(&argc, &argv, MPI_THREAD_FUNNELED, &provided) != MPI_SUCCESS) {
    std::cerr << "globelayers-mpi: MPI could not be initialised\n";
    return globelayers::kBatchFailed;
  }
  // Worker threads evaluate points beside the thread that talks to the
  // other ranks; every rank learns the same level, so all end alike.
  if (provided < MPI_THREAD_FUNNELED) {
    int rank = 0;
    MPI_Comm_rank(MPI_COMM_WORLD, &rank);
    if (rank == 0) {
      std::cerr << "globelayers-mpi: this MPI library does not allow worker threads beside the thread that "
                   "calls it (MPI_THREAD_FUNNELED)\n";
    }
    MPI_Finalize();
    return globelayers::kBatchFailed;
  }
  // Again after MPI_Init, which may set handlers of its own; and a signal
  // after the run log was written cannot change the status.
  std::signal(SIGXFSZ, SIG_IGN);
  globelayers::KeepStopSignalsUntilExit();
  const std::vector<std::string> args(argv + 1, argv + argc);
  const int status = globelayers::RunMpiRank(args, std::cout, std::cerr, ErrorsOnATerminal());
  std::cout.flush();
  std::cerr.flush();
  MPI_Finalize();
  return status;
}

#include "MpiRun.h"

#include <mpi.h>

#include <cstdlib>
#include <memory>
#include <ostream>

#include "BatchRun.h"
#include "Calculation.h"
#include "NodeGrids.h"
#include "NumberText.h"
#include "OtherRanks.h"
#include "PointPipeline.h"
#include "RankZero.h"

namespace globelayers {

std::string MpiUsage() {
  return "Usage: mpirun [-np RANKS] globelayers-mpi [--unit mGal|microGal] [--threads N] [--zones PRESET] "
         "[--geotiff] [--output text|csv] SETTINGS.ini\n"
         "\n"
         "Runs the calculation that a settings file of the main window describes\n"
         "over the ranks of an MPI job and writes the same result file (_dce.dat)\n"
         "and run log (_dce.con) as globelayers-batch, beside the point file. Rank 0\n"
         "reads the settings and the point file and writes the files; every rank\n"
         "reads the grid files itself, so they must be readable on every node.\n"
         "Relative paths in the settings file are taken from the current directory.\n"
         "\n"
         "  --unit U     output unit of DTE and DTE(i): mGal (default) or microGal\n"
         "  --threads N  worker threads per rank (0 = all cores of its node), at most\n"
         "               4 per core; default: 1; the results are the same for every N\n"
         "  --zones P    zone preset standard or fine: bands and segment sizes from\n"
         "               the finest grid spacing (replaces the file's [zones])\n"
         "  --geotiff    with a grid of points ([points]): a GeoTIFF beside the netCDF\n"
         "  --output F   text (default): the result file; csv: a completed run's\n"
         "               result also as CSV (_dce.csv), every printed digit\n"
         "  --help       show this help\n"
         "\n"
         "SIGINT (Ctrl-C) or SIGTERM on any rank stops the run after the points\n"
         "completed so far: the result file keeps whole lines and the run log says\n"
         "why it ended.\n"
         "\n"
         "Exit status of every rank: 0 the run completed, 1 it was refused or failed,\n"
         "2 usage error, 130 stopped by SIGINT, 143 stopped by SIGTERM.\n";
}

int RunMpiRank(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool errIsTerminal) {
  int rank = 0;
  MPI_Comm_rank(MPI_COMM_WORLD, &rank);
  // The ranks of each node: they share the node's grids. Ordered by rank,
  // so that rank 0 reads the files of its node.
  // GLOBELAYERS_MPI_NODE=N puts a rank in the group N instead: the tests
  // play several nodes on one machine with it (the groups must still lie
  // within one machine, as they share memory).
  MPI_Comm node = MPI_COMM_NULL;
  int group = 0;
  if (const char* forced = std::getenv("GLOBELAYERS_MPI_NODE"); forced != nullptr && TextToInt(forced, group)) {
    MPI_Comm_split(MPI_COMM_WORLD, group, rank, &node);
  } else {
    MPI_Comm_split_type(MPI_COMM_WORLD, MPI_COMM_TYPE_SHARED, rank, MPI_INFO_NULL, &node);
  }
  if (rank != 0) {
    const int status = RunOtherRank(node);
    MPI_Comm_free(&node);
    return status;
  }
  TBatchFrontEnd frontEnd;
  frontEnd.programName = "globelayers-mpi";
  frontEnd.usage = MpiUsage();
  frontEnd.defaultThreads = 1;  // one rank per core is the usual layout of a job
  int threadsPerRank = 1;
  // The batch resolves --threads for rank 0 only; the others resolve the
  // same value on their own node.
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string value;
    if (args[i] == "--") break;
    if (args[i] == "--threads" && i + 1 < args.size()) value = args[i + 1];
    if (args[i].rfind("--threads=", 0) == 0) value = args[i].substr(10);
    // A value the batch refuses never reaches a run.
    if (int threads = 0; !value.empty() && TextToInt(value, threads)) threadsPerRank = threads;
  }
  frontEnd.beforeGrids = [&threadsPerRank](const TRunParameters& params, const TStationArea* stations) {
    StartOtherRanks(params, stations, threadsPerRank);
  };
  TNodeGrids grids(node);
  // The grids in the batch's windows round the stations.
  frontEnd.loadGridWindow = [&grids](TGridImports& grid, const std::string& fileName, IUserPrompts& gridPrompts,
                                     const TWindowChooser& choose) {
    return grids.Load(grid, fileName, gridPrompts, choose);
  };
  frontEnd.loadOnCallingThread = true;  // the node's grids are shared through MPI calls
  frontEnd.pointLines = [](const TRunParameters&, const TRunContext& ctx, int workers,
                           IRunProgress& progress) -> std::unique_ptr<IPointLines> {
    return std::make_unique<TRankZeroLines>(ctx, workers, progress);
  };
  int status = RunBatch(args, out, err, errIsTerminal, frontEnd);
  // The run has released its grids; the windows go with the node's other
  // ranks, once they know the status. A rank that failed (a grid its node
  // cannot read) after rank 0 had done every point fails the job all the
  // same, with its message: the job did not run as set up.
  const std::optional<std::string> lateFailure = EndOtherRanks(status, [&grids] { grids.Free(); });
  if (lateFailure && status == 0) {
    err << *lateFailure << '\n';
    status = 1;
  }
  MPI_Comm_free(&node);
  return status;
}

}  // namespace globelayers

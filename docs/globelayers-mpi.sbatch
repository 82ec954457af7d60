#!/bin/bash
# An example Slurm job for globelayers-mpi: 4 nodes of 32 cores, one rank
# per core. Submit from the folder of the settings file:
#   sbatch docs/globelayers-mpi.sbatch settings.ini
#
# What the cluster must give: the same globelayers-mpi (and Open MPI) on
# every node, the grid files of the settings at the same paths on every node
# (a shared file system: every node reads them itself, once), and the point
# file and the folder of the result file on rank 0's node (the first node).
#SBATCH --job-name=globelayers
#SBATCH --nodes=4
#SBATCH --ntasks-per-node=32
#SBATCH --cpus-per-task=1
#SBATCH --time=02:00:00
# A time limit ends the job with SIGTERM and then SIGKILL. Ask Slurm for a
# SIGTERM to this script a minute early (B:) and pass it on to mpirun, which
# sends it to every rank: the run then stops cleanly (whole lines, a run log
# that says why) before the time is up.
#SBATCH --signal=B:TERM@60
#SBATCH --output=globelayers-%j.out

set -uo pipefail
settings=${1:?usage: sbatch globelayers-mpi.sbatch SETTINGS.ini}

# One thread per rank: the ranks already cover every core. In the
# background, so that this shell can pass a signal on while it waits.
mpirun --bind-to core globelayers-mpi --threads 1 "$settings" &
run=$!
trap 'kill -TERM "$run"' TERM INT
wait "$run"
status=$?
# A signal ends the first wait early: wait again for mpirun's own status.
if kill -0 "$run" 2>/dev/null; then
  wait "$run"
  status=$?
fi
# 0: the run completed. Otherwise the message is in the output file and the
# run log says how far the run went: the ranks end with 1 (refused or
# failed), 130 or 143 (SIGINT or SIGTERM), and mpirun passes that status on,
# or gives 1 of its own when it was signalled itself.
exit $status

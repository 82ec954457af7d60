#!/usr/bin/env bash
# What reading only the reach saves an MPI job: the survey of
# bench/grid_reach.sh (20 stations in a 2 x 2 degree area, the fine preset,
# `G1 | G15`: a rough 1' global grid before the same surface averaged by
# GDAL to 15') under globelayers-mpi on 1, 2 and 3 ranks of one node, with
# this build and with another (an earlier build that reads every grid
# whole, for comparison). Prints, for each run, the wall seconds and the
# node's peak memory: the largest sum over the ranks of their proportional
# set size (shared pages split among the ranks that map them), sampled
# every 50 ms, so the shared grids count once. Checks that every run wrote
# the batch's result file.
#
#   bash bench/mpi_windows.sh BUILD_DIR [OTHER_BUILD_DIR] [WORK_DIR]
#
# BUILD_DIR needs -DGLOBELAYERS_BENCH=ON, GDAL and MPI. The grids (0.93 GB)
# are generated into WORK_DIR (default /tmp/globelayers-mpi-windows) and
# removed at the end; nothing is committed.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/settings.sh"
build=$(cd "${1:?usage: mpi_windows.sh BUILD_DIR [OTHER_BUILD_DIR] [WORK_DIR]}" && pwd)
other=${2:+$(cd "$2" && pwd)}
work=${3:-/tmp/globelayers-mpi-windows}
export OMPI_ALLOW_RUN_AS_ROOT=1 OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1
mkdir -p "$work"
cd "$work"
trap 'rm -f "$work/G1.grd" "$work/G15.tif"' EXIT
[ -s G1.grd ] && [ -s G15.tif ] || "$build/bench/globelayers_gridreach" G1.grd G15.tif

lattice_stations
one_layer_settings stations.dat list "G1.grd | G15.tif" >list.ini

# The largest sum of the Pss of the processes named NAME in the session of
# PID while it runs, in MB.
peak_pss() {  # PID NAME
  local pid=$1 name=$2 peak=0 sum
  while kill -0 "$pid" 2>/dev/null; do
    sum=0
    for p in $(pgrep -s "$pid" -x "$name" || true); do
      sum=$((sum + $(awk '/^Pss:/ { print $2 }' "/proc/$p/smaps_rollup" 2>/dev/null || echo 0)))
    done
    [ "$sum" -gt "$peak" ] && peak=$sum
    sleep 0.05
  done
  echo $((peak / 1024))
}

run() {  # LABEL NAME COMMAND...: prints "LABEL: S s, M MB"
  local label=$1 name=$2 start end peak
  shift 2
  start=$(date +%s.%N)
  setsid "$@" >/dev/null 2>&1 &  # a session of its own: other jobs' processes are not counted
  local pid=$!
  peak=$(peak_pss "$pid" "$name")
  wait "$pid"
  end=$(date +%s.%N)
  awk -v l="$label" -v s="$start" -v e="$end" -v m="$peak" 'BEGIN { printf "%-28s %6.2f s  %6d MB\n", l, e - s, m }'
}

run "batch, 2 threads" globelayers-bat "$build/batch/globelayers-batch" --threads 2 --zones fine list.ini
cp stations_list_dce.dat batch.dat
for dir in "$build" ${other:+"$other"}; do
  which=this
  [ "$dir" = "$build" ] || which=other
  for ranks in 1 2 3; do
    rm -f stations_list_dce.dat
    run "mpi ($which build), $ranks ranks" globelayers-mpi \
      mpirun --oversubscribe --bind-to none -np "$ranks" "$dir/mpi/globelayers-mpi" --zones fine list.ini
    cmp -s stations_list_dce.dat batch.dat || echo "  the result file differs from the batch's"
  done
done

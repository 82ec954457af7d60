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
build=$(cd "${1:?usage: mpi_windows.sh BUILD_DIR [OTHER_BUILD_DIR] [WORK_DIR]}" && pwd)
other=${2:+$(cd "$2" && pwd)}
work=${3:-/tmp/globelayers-mpi-windows}
export OMPI_ALLOW_RUN_AS_ROOT=1 OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1
mkdir -p "$work"
cd "$work"
trap 'rm -f "$work/G1.grd" "$work/G15.tif"' EXIT
[ -s G1.grd ] && [ -s G15.tif ] || "$build/bench/globelayers_gridreach" G1.grd G15.tif

# The stations of bench/grid_reach.sh: a 4 x 5 lattice 0.47 by 0.53 degrees apart, 300 m up.
: >stations.dat
for i in 0 1 2 3; do
  for j in 0 1 2 3 4; do
    awk -v i="$i" -v j="$j" 'BEGIN { printf "%.4f %.4f %d 300\n", 8.1 + 0.47 * j, 44.2 + 0.53 * i, 10 * i + j + 1 }' \
      >>stations.dat
  done
done
cat >list.ini <<'INI'
[frmMain]
datafile=stations.dat
appendtext=_list
gravc=0.006673
t3dist=0
t4dist=180
R=6371001
LonFrom=0
LonTo=360
incr=1
priority=0
number=2
nlayer=2
segsize=3600
sum=0
cell_row-1_col-1= 
cell_row-1_col-2=G1.grd | G15.tif
cell_row-1_col-3= 
cell_row-1_col-4= 
cell_row-2_col-1=0
cell_row-2_col-2= 
cell_row-2_col-3=2.67
cell_row-2_col-4= 
INI

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

#!/usr/bin/env bash
# Whole runs of globelayers-mpi under mpirun against globelayers-batch on the
# same input: the same result file and run log byte for byte, the same
# refusals printed once, whole lines after a failure or a stop.
#
#   mpi_runs.sh MPIRUN GLOBELAYERS_MPI GLOBELAYERS_BATCH EXAMPLES_DIR WORK_DIR
set -uo pipefail
mpirun=$1 mpi=$2 batch=$3 examples=$4 work=$5

# CI runs as root; several ranks share the machine's two cores.
export OMPI_ALLOW_RUN_AS_ROOT=1 OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1
# Open MPI keeps memory until exit that a leak check would report.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"
run_mpi() {  # RANKS ARGS...: globelayers-mpi under mpirun in the current folder
  local ranks=$1
  shift
  "$mpirun" --oversubscribe -np "$ranks" "$mpi" "$@"
}

failures=0 passed=0
check() {  # NAME CONDITION...
  local name=$1
  shift
  if "$@"; then
    passed=$((passed + 1))
  else
    echo "FAILED: $name"
    failures=$((failures + 1))
  fi
}

# A fresh copy of the example folder.
fresh() {
  rm -rf "$work/$1"
  mkdir -p "$work/$1"
  cp "$examples"/*.grd "$examples"/*.dat "$examples"/*.ini "$work/$1/"
}

# The run log without its clock-time lines, which differ by the time of the run.
log_body() { grep -v -E '^(Start time|End time): ' "$1"; }

same_run() {  # FOLDER_A FOLDER_B: the same result file and run log
  cmp -s "$work/$1/stations_example_dce.dat" "$work/$2/stations_example_dce.dat" &&
    diff <(log_body "$work/$1/stations_example_dce.con") <(log_body "$work/$2/stations_example_dce.con") >/dev/null
}

# A file that ends with a line break, i.e. holds whole lines only.
whole_lines() { [ -s "$1" ] && [ "$(tail -c 1 "$1" | od -An -c | tr -d ' ')" = '\n' ]; }
# A result file is put in place from its run's first point on: whole lines,
# or no file when the run ended before.
whole_lines_or_none() { [ ! -e "$1" ] || whole_lines "$1"; }

# ---- the example, and a run with every layer kind, on 3 ranks and on 1 ----

# Every kind of layer bound and density: grid and constant heights, constant
# and gridded densities, in three bands, one of them of block means.
every_kind() {
  sed -e 's/^number=3/number=4/' -e 's/^nlayer=3/nlayer=4/' "$examples/example.ini" |
    grep -v '^cell_row-3' >"$work/$1/example.ini"
  cat >>"$work/$1/example.ini" <<'EOF'
cell_row-3_col-1=-2000
cell_row-3_col-2= 
cell_row-3_col-3= 
cell_row-3_col-4=topography.grd
cell_row-4_col-1= 
cell_row-4_col-2=crustbase.grd
cell_row-4_col-3=2.9
cell_row-4_col-4= 
[zones]
zone1=0;1;300
zone2=1;20;1800
zone3=20;180;3600;mean
EOF
}

for kind in example every_kind; do
  fresh "$kind-batch"
  [ "$kind" = every_kind ] && every_kind "$kind-batch"
  (cd "$work/$kind-batch" && "$batch" --threads 2 example.ini) >/dev/null 2>&1
  check "$kind: the batch completes" test -s "$work/$kind-batch/stations_example_dce.dat"
  for ranks in 3 1; do
    folder="$kind-np$ranks"
    fresh "$folder"
    cp "$work/$kind-batch/example.ini" "$work/$folder/"
    (cd "$work/$folder" && run_mpi "$ranks" example.ini) >"$work/$folder.out" 2>&1
    status=$?
    check "$kind on $ranks ranks exits 0 (got $status)" test "$status" = 0
    check "$kind on $ranks ranks: the batch's result file and run log" same_run "$kind-batch" "$folder"
  done
done
# Two threads per rank and microGal: the same bytes again.
fresh unit-batch && fresh unit-np2
(cd "$work/unit-batch" && "$batch" --unit microGal example.ini) >/dev/null 2>&1
(cd "$work/unit-np2" && run_mpi 2 --unit microGal --threads 2 example.ini) >/dev/null 2>&1
check "microGal on 2 ranks of 2 threads: the batch's files" same_run unit-batch unit-np2

# The other fields of the run record that the ranks are sent: summed columns
# only, another crossing rule, no raised point, another Earth radius and
# azimuth range, and the bands of a zone preset.
fresh record-batch && fresh record-np3
for folder in record-batch record-np3; do
  sed -i -e 's/^sum=0/sum=1/' -e 's/^priority=0/priority=2/' -e 's/^incr=1/incr=0/' -e 's/^R=6371001/R=6371000.5/' \
    -e 's/^LonFrom=0/LonFrom=10/' -e 's/^LonTo=360/LonTo=300/' -e 's/^gravc=0.006673/gravc=0.0066743/' \
    "$work/$folder/example.ini"
done
(cd "$work/record-batch" && "$batch" --zones standard example.ini) >/dev/null 2>&1
(cd "$work/record-np3" && run_mpi 3 --zones standard example.ini) >/dev/null 2>&1
check "summed columns, crossing rule 2, a zone preset on 3 ranks: the batch's files" same_run record-batch record-np3

# ---- a tile before a global grid, read in windows round the stations ----

# A 0.05-degree tile (Surfer 6, 81 x 61 nodes over 10 .. 14 E, 40 .. 43 N)
# before the example's 1-degree global grid, 40 stations on and beside the
# tile and bands to 12 degrees without block means: the batch reads the
# grids only round the stations, and so must every node, whose other ranks
# sample the windows that its first rank read. A window's nodes in the
# wrong place would change the results.
write_tile() {  # FILE
  perl -e '
    my ($nx, $ny, $x0, $y0, $h) = (81, 61, 10, 40, 0.05);
    my @z;
    for my $r (0 .. $ny - 1) {
      for my $c (0 .. $nx - 1) {
        my ($x, $y) = ($x0 + $c * $h, $y0 + $r * $h);
        push @z, int(600 + 500 * sin(3 * $x) * cos(2 * $y) + 200 * sin(7 * $x + 5 * $y));
      }
    }
    my ($lo, $hi) = (sort { $a <=> $b } @z)[0, -1];
    print pack("a4 s< s< d< d< d< d< d< d<", "DSBB", $nx, $ny, $x0, $x0 + ($nx - 1) * $h, $y0, $y0 + ($ny - 1) * $h, $lo, $hi);
    print pack("f<*", @z);
  ' >"$1"
}
tile_run() {  # FOLDER
  fresh "$1"
  write_tile "$work/$1/tile.grd"
  awk 'BEGIN { for (i = 0; i < 40; ++i) printf "%.4f %.4f %d %.1f\n", 10.2 + (i * 0.37) % 5.3, 40.1 + (i * 0.23) % 3.4, 500 + i, (i * 53) % 1500 }' \
    >"$work/$1/stations.dat"
  sed -i 's/^cell_row-1_col-2=topography.grd/cell_row-1_col-2=tile.grd | topography.grd/' "$work/$1/example.ini"
  printf '[zones]\nzone1=0;0.5;120\nzone2=0.5;4;900\nzone3=4;12;1800\n' >>"$work/$1/example.ini"
}
tile_run tile-batch
(cd "$work/tile-batch" && "$batch" --threads 2 example.ini) >/dev/null 2>&1
check "a tile before a global grid: the batch completes" test -s "$work/tile-batch/stations_example_dce.dat"
check "a tile before a global grid: the list is in the run log" \
  grep -q -F 'tile.grd | topography.grd' "$work/tile-batch/stations_example_dce.con"
for ranks in 1 2 3; do
  tile_run "tile-np$ranks"
  (cd "$work/tile-np$ranks" && run_mpi "$ranks" example.ini) >"$work/tile-np$ranks.out" 2>&1
  status=$?
  check "a tile before a global grid on $ranks ranks exits 0 (got $status)" test "$status" = 0
  check "a tile before a global grid on $ranks ranks: the batch's result file and run log" \
    same_run tile-batch "tile-np$ranks"
done
# The ranks after the first play a node of their own, whose first rank
# reads the windows itself (the node of rank 0 shares rank 0's).
tile_run tile-nodes
(cd "$work/tile-nodes" &&
  "$mpirun" --oversubscribe -np 3 bash -c \
    'export GLOBELAYERS_MPI_NODE=$((OMPI_COMM_WORLD_RANK > 0)); exec "$0" "$@"' "$mpi" example.ini) \
  >"$work/tile-nodes.out" 2>&1
status=$?
check "a tile before a global grid on two nodes exits 0 (got $status)" test "$status" = 0
check "a tile before a global grid on two nodes: the batch's result file and run log" same_run tile-batch tile-nodes

# ---- refusals and failures: rank 0's message once, status 1 ----

fresh refused-batch && fresh refused-np3
for folder in refused-batch refused-np3; do
  sed -i 's/^datafile=stations.dat/datafile=missing.dat/' "$work/$folder/example.ini"
done
(cd "$work/refused-batch" && "$batch" example.ini) 2>"$work/refused-batch.err"
(cd "$work/refused-np3" && run_mpi 3 example.ini) 2>"$work/refused-np3.err"
status=$?
check "a missing point file exits 1 (got $status)" test "$status" = 1
message=$(cat "$work/refused-batch.err")
check "the batch's refusal says what is missing" grep -q 'missing.dat' "$work/refused-batch.err"
check "the refusal is printed once" test "$(grep -c -F -x "$message" "$work/refused-np3.err")" = 1

fresh nogrid-batch && fresh nogrid-np3
rm "$work/nogrid-batch/crustbase.grd" "$work/nogrid-np3/crustbase.grd"
(cd "$work/nogrid-batch" && "$batch" example.ini) 2>"$work/nogrid-batch.err"
(cd "$work/nogrid-np3" && run_mpi 3 example.ini) 2>"$work/nogrid-np3.err"
status=$?
check "a missing grid exits 1 (got $status)" test "$status" = 1
check "a missing grid is named" grep -q 'crustbase.grd' "$work/nogrid-np3.err"
check "a missing grid: the batch's messages, as often as the batch gives them" \
  test "$(grep -c crustbase.grd "$work/nogrid-np3.err")" = "$(grep -c crustbase.grd "$work/nogrid-batch.err")"
# Failed before its first point: no result file and no run log, as the batch.
check "a missing grid writes no result file or run log" \
  test ! -e "$work/nogrid-np3/stations_example_dce.dat" -a ! -e "$work/nogrid-np3/stations_example_dce.con" \
  -a ! -e "$work/nogrid-batch/stations_example_dce.dat" -a ! -e "$work/nogrid-batch/stations_example_dce.con"

# A grid that rank 0 reads but the other ranks' node cannot: they play a
# node of their own (GLOBELAYERS_MPI_NODE) whose working folder lacks it
# (relative paths are taken from it). The node's message comes back through
# rank 0, once.
fresh node-rank0 && fresh node-others
rm "$work/node-others/crustbase.grd"
(cd "$work/node-rank0" &&
  "$mpirun" --oversubscribe -np 3 bash -c \
    'if [ "$OMPI_COMM_WORLD_RANK" != 0 ]; then cd ../node-others; export GLOBELAYERS_MPI_NODE=1; else export GLOBELAYERS_MPI_NODE=0; fi; exec "$0" "$@"' \
    "$mpi" "$work/node-rank0/example.ini") 2>"$work/node.err"
status=$?
check "a grid missing on the other ranks' node exits 1 (got $status)" test "$status" = 1
check "the node's grid message, as often as the batch gives it" \
  test "$(grep -c crustbase.grd "$work/node.err")" = "$(grep -c crustbase.grd "$work/nogrid-batch.err")"
check "a grid missing on a node leaves whole lines or no result file" \
  whole_lines_or_none "$work/node-rank0/stations_example_dce.dat"

# A file size limit below the result file (and below a grid, whose shared
# window is a file too) on every rank and on mpirun: the batch's message
# and status, not a job killed by SIGXFSZ without a word.
fresh limit-batch && fresh limit-np3
for folder in limit-batch limit-np3; do
  awk 'BEGIN { for (i = 0; i < 150; ++i) printf "%.4f %.4f %d %.1f\n", -179 + (i * 7.3) % 358, -85 + (i * 3.1) % 170, 1000 + i, (i * 37) % 3000 }' \
    >"$work/$folder/stations.dat"
done
(cd "$work/limit-batch" && ulimit -f 16 && "$batch" example.ini) 2>"$work/limit-batch.err"
(cd "$work/limit-np3" && ulimit -f 16 && timeout 120 "$mpirun" --oversubscribe -np 3 "$mpi" example.ini) \
  >"$work/limit-np3.err" 2>&1
status=$?
check "a file size limit exits 1 (got $status)" test "$status" = 1
check "a file size limit: the batch says so" grep -q -x 'Error by writing file stations_example_dce.dat' "$work/limit-batch.err"
check "a file size limit: 'Error by writing file', once" \
  test "$(grep -c -x 'Error by writing file stations_example_dce.dat' "$work/limit-np3.err")" = 1
check "a file size limit: the batch's result file and run log" same_run limit-batch limit-np3

# A rank that fails and a rank that dies: rank 0 ends the run instead of
# waiting for ever. The third rank runs with GLOBELAYERS_MPI_FAULT, which
# makes it throw, or kill itself, when its first points arrive.
fresh throw
(cd "$work/throw" && timeout 120 "$mpirun" --oversubscribe -np 2 "$mpi" example.ini : \
  -np 1 env GLOBELAYERS_MPI_FAULT=throw "$mpi" example.ini) >"$work/throw.err" 2>&1
status=$?
check "a rank that throws: the run fails with status 1 (got $status)" test "$status" = 1
check "a rank that throws: its message, once" \
  test "$(grep -c -x 'A rank failed on purpose (GLOBELAYERS_MPI_FAULT).' "$work/throw.err")" = 1
# Whether rank 0 wrote a point before the failure reached it depends on
# timing: either whole lines and a log that ends with the failure, or
# neither file.
failed_after_points_or_nothing() {  # FOLDER
  local result="$work/$1/stations_example_dce.dat" log="$work/$1/stations_example_dce.con"
  if [ -e "$result" ]; then
    whole_lines "$result" && tail -n 1 "$log" | grep -q '^Run failed: '
  else
    [ ! -e "$log" ]
  fi
}
check "a rank that throws: whole lines and a log that says it failed, or no files" \
  failed_after_points_or_nothing throw

fresh die
(cd "$work/die" && timeout 120 "$mpirun" --oversubscribe -np 2 "$mpi" example.ini : \
  -np 1 env GLOBELAYERS_MPI_FAULT=die "$mpi" example.ini) >"$work/die.err" 2>&1
status=$?
check "a rank that dies: the job ends with a failure status (got $status)" \
  test "$status" != 0 -a "$status" != 124
check "a rank that dies: mpirun names it" grep -q 'rank 2' "$work/die.err"
# mpirun kills rank 0 too: a point or none may have reached the file by then.
check "a rank that dies: whole lines, or the file was never put in place" \
  whole_lines_or_none "$work/die/stations_example_dce.dat"

# ---- a grid of points: rank 0 writes the rasters, the batch's bytes ----

# 5 x 4 nodes at 10 km with a GeoTIFF; the point file is left unused. A
# build without GDAL refuses the run alike on both.
fresh grid-batch && fresh grid-np3
for d in grid-batch grid-np3; do
  printf '\n[points]\ngrid=10;14;40;43;1\nheight=10000\ngeotiff=1\n' >>"$work/$d/example.ini"
done
(cd "$work/grid-batch" && "$batch" example.ini) >"$work/grid-batch.out" 2>&1
batch_status=$?
(cd "$work/grid-np3" && run_mpi 3 example.ini) >"$work/grid-np3.out" 2>&1
status=$?
check "a grid run: the batch's exit status ($batch_status, got $status)" test "$status" = "$batch_status"
if [ "$batch_status" = 0 ]; then
  for f in example_example_dce.dat example_example_dce.nc example_example_dce.tif; do
    check "a grid run: $f as the batch writes it" cmp -s "$work/grid-batch/$f" "$work/grid-np3/$f"
  done
  check "a grid run: the batch's run log" \
    diff <(log_body "$work/grid-batch/example_example_dce.con") <(log_body "$work/grid-np3/example_example_dce.con")
  check "a grid run: 20 nodes" test "$(($(wc -l <"$work/grid-np3/example_example_dce.dat") - 1))" = 20
else
  check "a grid run refused: the batch's message" diff "$work/grid-batch.out" "$work/grid-np3.out"
  check "a grid run refused: no raster" test ! -e "$work/grid-np3/example_example_dce.nc"
fi

# ---- a stop: SIGTERM at mpirun while the points are computed ----

fresh long
awk 'BEGIN { for (i = 0; i < 2500; ++i) printf "%.4f %.4f %d %.1f\n", -179 + (i * 7.3) % 358, -85 + (i * 3.1) % 170, 1000 + i, (i * 37) % 3000 }' \
  >"$work/long/stations.dat"
rm -rf "$work/long-batch" && cp -r "$work/long" "$work/long-batch"
(cd "$work/long-batch" && "$batch" example.ini) >/dev/null 2>&1
(cd "$work/long" && exec "$mpirun" --oversubscribe -np 3 "$mpi" example.ini) >"$work/long.out" 2>&1 &
pid=$!
# Stop it half a second after the first lines reached the file (they are
# written in large blocks).
for _ in $(seq 1 400); do
  [ -s "$work/long/stations_example_dce.dat" ] && break
  sleep 0.05
done
sleep 0.5
kill -TERM "$pid"
wait "$pid"
status=$?
lines=$(wc -l <"$work/long/stations_example_dce.dat")
check "SIGTERM at mpirun: a non-zero status (got $status)" test "$status" != 0
check "SIGTERM at mpirun: whole lines" whole_lines "$work/long/stations_example_dce.dat"
check "SIGTERM at mpirun: the lines written are the batch's first $lines" \
  cmp -s "$work/long/stations_example_dce.dat" <(head -n "$lines" "$work/long-batch/stations_example_dce.dat")
check "SIGTERM at mpirun: stopped before the end ($lines lines)" \
  test "$lines" -lt "$(wc -l <"$work/long-batch/stations_example_dce.dat")"
check "SIGTERM at mpirun: the run log says why it ended" grep -q 'SIGTERM' "$work/long/stations_example_dce.con"

echo "$passed passed, $failures failed"
[ "$failures" = 0 ]

#!/usr/bin/env bash
# Scaling of globelayers-mpi on this machine: 2 ranks of 1 thread against
# 1 rank of 2 threads (and the batch on 1 and 2 threads), on the example
# stack (examples/example.ini) with 2,000 points, run side by side in turns
# so that the load of a shared machine falls on every variant alike.
# Prints the median wall time of each variant, the per-point cost and the
# bytes sent per point, and checks that every run wrote the batch's bytes.
#
#   bash bench/mpi_scaling.sh [BUILD_DIR] [REPETITIONS]
#
# Needs a build with the MPI front end (the default where Open MPI is
# installed): cmake -S . -B build -DCMAKE_BUILD_TYPE=Release && cmake --build build -j2
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
repetitions=${2:-5}
batch=$PWD/$build/batch/globelayers-batch
mpi=$PWD/$build/mpi/globelayers-mpi
points=2000
export OMPI_ALLOW_RUN_AS_ROOT=1 OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp examples/*.grd examples/example.ini "$work/"
# Stations spread over the globe, heights 0 to 3 km.
awk -v n="$points" 'BEGIN { for (i = 0; i < n; ++i)
  printf "%.4f %.4f %d %.1f\n", -179 + (i * 7.3) % 358, -85 + (i * 3.1) % 170, 1000 + i, (i * 37) % 3000 }' \
  >"$work/stations.dat"

declare -A commands=(
  [batch_1x1]="$batch --threads 1 example.ini"
  [batch_1x2]="$batch --threads 2 example.ini"
  [mpi_1rank_x2threads]="mpirun --oversubscribe --bind-to none -np 1 $mpi --threads 2 example.ini"
  [mpi_2ranks_x1thread]="mpirun --oversubscribe --bind-to none -np 2 $mpi --threads 1 example.ini"
)
order=(batch_1x1 batch_1x2 mpi_1rank_x2threads mpi_2ranks_x1thread)
declare -A times=()

# The batch's bytes, the yardstick of every run.
(cd "$work" && $batch example.ini 2>/dev/null && cp stations_example_dce.dat reference.dat)

for ((r = 1; r <= repetitions; ++r)); do
  for name in "${order[@]}"; do
    rm -f "$work/stations_example_dce.dat"
    start=$(date +%s.%N)
    (cd "$work" && ${commands[$name]} >/dev/null 2>&1)
    end=$(date +%s.%N)
    cmp -s "$work/stations_example_dce.dat" "$work/reference.dat" || { echo "$name: result differs from the batch's" >&2; exit 1; }
    times[$name]+="$(echo "$end - $start" | bc) "
  done
done

median() { tr ' ' '\n' | sed '/^$/d' | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

echo "points: $points, repetitions: $repetitions (medians of wall time, seconds)"
for name in "${order[@]}"; do
  printf '%-22s %8.3f   (%s)\n' "$name" "$(echo "${times[$name]}" | median)" "${times[$name]% }"
done
one=$(echo "${times[mpi_1rank_x2threads]}" | median)
two=$(echo "${times[mpi_2ranks_x1thread]}" | median)
serial=$(echo "${times[batch_1x1]}" | median)
echo "2 ranks x 1 thread over 1 rank x 2 threads: $(echo "scale=3; $two / $one" | bc)"
echo "per-point cost, 1 thread: $(echo "scale=3; $serial * 1000 / $points" | bc) ms"
# Bytes on the wire per point: the point going out (index and four
# doubles) and its line coming back (index, length and the text).
line_bytes=$(awk 'NR > 1 { n += length($0) + 1; c++ } END { printf "%.0f", n / c }' "$work/reference.dat")
echo "bytes per point: 40 out, $((16 + line_bytes)) back (a result line of $line_bytes characters)"

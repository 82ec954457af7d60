#!/usr/bin/env bash
# What a grid list saves a survey: 20 stations in a 2 x 2 degree area with
# the fine preset, on a rough 1' global grid G1 alone and on `G1 | G15`
# (G15: the same surface averaged by GDAL to 15'). On the list the far
# bands read G15 (their segments are 15 and 30 times G1's spacing), and G1
# is read only within 10 degrees of the stations. Prints, for each run,
# wall seconds and peak memory (median of RUNS runs, each a process of its
# own), the ratio of the two, and the largest difference between the two
# result files over every printed value (mGal).
#
# With REF=SIZE (arc-seconds) it then measures what the two runs differ in,
# the bands beyond 10 degrees, against a converged reference: the same
# bands on point samples of G1 at SIZE (120: 37 million segments per
# station, 80 s for the 20 stations alone; 60 took 17 minutes on the
# loaded machine and moved the reference by 0.0007 mGal at most), and the
# fine preset's far bands on G1 alone and on the list, each as a zone
# list; prints the largest and RMS |far bands - reference| over the DTE
# and DTE(i) of the stations.
#
# With OVERVIEWS=1 it also writes G1 as a GeoTIFF with overviews
# (G1ov.tif: Float32, `gdaladdo -r average` 2 .. 64) and measures the run
# on it alone, whose far bands sample the overviews' plain means of the
# heights instead of the mass-keeping means formed from G1 (GridMeans.h);
# with REF, that run's far bands against the reference too.
#
#   [REF=120] [OVERVIEWS=1] bash bench/grid_reach.sh BUILD_DIR [WORK_DIR] [RUNS]
#
# BUILD_DIR needs -DGLOBELAYERS_BENCH=ON and GDAL. The grids (0.93 GB) are
# generated into WORK_DIR (default /tmp/globelayers-grid-reach) and removed
# at the end; nothing is committed.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/settings.sh"
build=$(cd "${1:?usage: grid_reach.sh BUILD_DIR [WORK_DIR] [RUNS]}" && pwd)
work=${2:-/tmp/globelayers-grid-reach}
runs=${3:-3}
mkdir -p "$work"
cd "$work"
trap 'rm -f "$work/G1.grd" "$work/G15.tif" "$work/G1ov.tif"' EXIT
[ -s G1.grd ] && [ -s G15.tif ] || "$build/bench/globelayers_gridreach" G1.grd G15.tif
if [ -n "${OVERVIEWS:-}" ] && [ ! -s G1ov.tif ]; then
  gdal_translate -q -ot Float32 -co TILED=YES -co COMPRESS=ZSTD -co ZSTD_LEVEL=1 -co BIGTIFF=IF_SAFER G1.grd G1ov.tif
  /usr/bin/time -f "gdaladdo: %e s, peak %M KB" gdaladdo -q -r average --config COMPRESS_OVERVIEW ZSTD \
    G1ov.tif 2 4 8 16 32 64
fi

lattice_stations

settings() {  # name grid-cell
  one_layer_settings stations.dat "$1" "$2" >"$1.ini"
}
settings alone G1.grd
settings list "G1.grd | G15.tif"
settings overviews G1ov.tif

measure() {  # name: prints "seconds peak-MB" of each run, then the medians
  local name=$1 t=() m=()
  for ((r = 0; r < runs; ++r)); do
    /usr/bin/time -f "%e %M" -o "$name.time" "$build/batch/globelayers-batch" --threads 2 --zones fine "$name.ini" > /dev/null
    read -r s k < "$name.time"
    t+=("$s"); m+=("$((k / 1024))")
  done
  local ts ms
  ts=$(printf '%s\n' "${t[@]}" | sort -g | awk '{a[NR]=$1} END{print a[int((NR+1)/2)]}')
  ms=$(printf '%s\n' "${m[@]}" | sort -g | awk '{a[NR]=$1} END{print a[int((NR+1)/2)]}')
  echo "$name: runs ${t[*]} s, peak ${m[*]} MB; median $ts s, $ms MB" >&2
  echo "$ts $ms"
}
read -r tAlone mAlone < <(measure alone)
read -r tList mList < <(measure list)
awk -v a="$tAlone" -v b="$tList" 'BEGIN{printf "list / alone: %.3f of the time\n", b / a}'
largest() {  # file-a file-b label
  paste "$1" "$2" | awk -v label="$3" 'NR > 1 {
    n = NF / 2
    for (c = 5; c <= n; ++c) { d = $c - $(c + n); if (d < 0) d = -d; if (d > m) m = d }
  } END { printf "largest difference %s: %.5f mGal over %d stations\n", label, m, NR - 1 }'
}
largest stations_alone_dce.dat stations_list_dce.dat "list - alone"
if [ -n "${OVERVIEWS:-}" ]; then
  read -r tOver mOver < <(measure overviews)
  awk -v a="$tAlone" -v b="$tOver" 'BEGIN{printf "G1 with overviews / alone: %.3f of the time\n", b / a}'
  largest stations_alone_dce.dat stations_overviews_dce.dat "G1 with overviews - alone"
fi

[ -n "${REF:-}" ] || exit 0
far() {  # name grid-cell zone...
  local name=$1 cell=$2 k=1; shift 2
  settings "$name" "$cell"
  { echo "[zones]"; for zone in "$@"; do echo "zone$k=$zone"; k=$((k + 1)); done; } >> "$name.ini"
  "$build/batch/globelayers-batch" --threads 2 "$name.ini" > /dev/null
}
far farAlone G1.grd "10;45;900;mean" "45;180;1800;mean"
far farList "G1.grd | G15.tif" "10;45;900;mean" "45;180;1800;mean"
far farRef G1.grd "10;45;$REF" "45;180;$REF"
names=(farAlone farList)
if [ -n "${OVERVIEWS:-}" ]; then
  far farOverviews G1ov.tif "10;45;900;mean" "45;180;1800;mean"
  names+=(farOverviews)
fi
for name in "${names[@]}"; do
  paste "stations_${name}_dce.dat" stations_farRef_dce.dat | awk -v name="$name" -v ref="$REF" 'NR > 1 {
    n = NF / 2
    for (c = 5; c <= 6; ++c) { d = $c - $(c + n); s += d * d; k++; if (d < 0) d = -d; if (d > m) m = d }
  } END { printf "%s: |bands 10..180 deg - reference at %s\"|: largest %.5f, RMS %.5f mGal\n", name, ref, m, sqrt(s / k) }'
done

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
# bands on point samples of G1 at SIZE (60: 150 million segments per
# station, 3.3 minutes for the 20 stations alone; 120 lies up to 0.0014
# mGal off it in the band 10..45 degrees, 30 moved that band by 0.0002), and
# the fine preset's far bands as the preset runs them, on box means of the
# segment's size (10..45 degrees at 900", 45..180 at 1800"), on G1 alone
# and on the list: a run per band through `globelayers_gridreach bands`,
# since a settings file cannot ask for box means. Prints, per band and for
# both together, the largest and RMS |far bands - reference| over the DTE
# and DTE(i) of the stations, and the largest difference list - alone.
#
# With OVERVIEWS=1 it also writes G1 as a GeoTIFF with overviews
# (G1ov.tif: Float32, `gdaladdo -r average` 2 .. 64) and measures the run
# on it alone; with REF, the far bands as a zone list with `;mean` (the
# pyramid's levels, which the overviews serve with their plain means of
# the heights) on G1 and on G1ov.tif against the reference too.
#
#   [REF=60] [OVERVIEWS=1] bash bench/grid_reach.sh BUILD_DIR [WORK_DIR] [RUNS]
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
bands() {  # name grid-cell band...: a run per band, into stations_NAME_B_dce.dat (B = 1, 2, ...)
  local name=$1 cell=$2 b=1; shift 2
  for band in "$@"; do
    settings "${name}_$b" "$cell"
    "$build/bench/globelayers_gridreach" bands "${name}_$b.ini" 2 "$band"
    b=$((b + 1))
  done
}
bands farAlone G1.grd "10;45;900;box" "45;180;1800;box"
bands farList "G1.grd | G15.tif" "10;45;900;box" "45;180;1800;box"
bands farRef G1.grd "10;45;$REF" "45;180;$REF"
names=(farAlone farList)
if [ -n "${OVERVIEWS:-}" ]; then
  bands farMeans G1.grd "10;45;900;mean" "45;180;1800;mean"
  bands farOverviews G1ov.tif "10;45;900;mean" "45;180;1800;mean"
  names+=(farMeans farOverviews)
fi
compare() {  # name other label: |name - other| over DTE and DTE(i), band by band and both bands summed
  paste "stations_${1}_1_dce.dat" "stations_${1}_2_dce.dat" "stations_${2}_1_dce.dat" "stations_${2}_2_dce.dat" |
    awk -v label="$3" 'NR > 1 {
      n = NF / 4
      for (c = 5; c <= 6; ++c) {
        d1 = $c - $(c + 2 * n); d2 = $(c + n) - $(c + 3 * n); d = d1 + d2
        s1 += d1 * d1; s2 += d2 * d2; s += d * d; k++
        if (d1 < 0) d1 = -d1; if (d2 < 0) d2 = -d2; if (d < 0) d = -d
        if (d1 > m1) m1 = d1; if (d2 > m2) m2 = d2; if (d > m) m = d
      }
    } END {
      printf "%s: 10..45 deg largest %.5f RMS %.5f; 45..180 largest %.5f RMS %.5f; both largest %.5f RMS %.5f mGal\n",
        label, m1, sqrt(s1 / k), m2, sqrt(s2 / k), m, sqrt(s / k)
    }'
}
for name in "${names[@]}"; do
  compare "$name" farRef "$name - reference at $REF\""
done
compare farList farAlone "farList - farAlone"

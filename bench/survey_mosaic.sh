#!/usr/bin/env bash
# A survey on a 1" mosaic inside a 30" global grid: TILES x TILES 1 x 1
# degree GeoTIFF tiles of 1" (a generated surface written through GDAL,
# Int16, ZSTD; 20 x 20 tiles are 5.2e9 nodes, 10 GB as raw Int16) joined by
# gdalbuildvrt into mosaic.vrt, a 30" global GeoTIFF of the same surface's
# cell means with overviews (gdaladdo -r average, 2 .. 64: the far bands'
# block means read them, not the whole grid), and STATIONS stations on the
# surface in the degree at the
# middle of the tiles (bench/survey_mosaic.cpp). The layer's surface is
# `mosaic.vrt | global30.tif`. Prints the generation's time, then for the
# run on all stations its wall time, peak memory, the grids' load time (a
# run of one station less the time per station), time per station on 2
# threads; then for the REFS stations (the steepest first, then the
# flattest) the largest |run - reference| and the reference's change from
# half its size (mGal).
#
#   [REUSE=1] bash bench/survey_mosaic.sh BUILD_DIR WORK_DIR [TILES] [STATIONS] [REFS]
#
# BUILD_DIR needs -DGLOBELAYERS_BENCH=ON and GDAL. WORK_DIR (on a disk with
# 3 GB free for 20 tiles: they compress to about 2.7 MB each, the global grid
# to 0.8 GB) keeps the data between calls; remove it when done. Nothing is
# committed. Defaults: 20 tiles, 1000 stations, 6 reference stations.
#
# The bands: the fine preset's near bands at h = 1" (to 600 h = 10'), and
# beyond, the fine preset's rule at the 30" spacing H of the global grid
# (600 h .. 600 H on point samples at 1.875 H, then block means at 15 H to
# 2700 H and 30 H to 180 degrees), given as a zone list. ZONES=preset runs
# `--zones fine` instead: the mosaic is a tile of the list, so its rule
# reaches 0.75 degrees (15" on point samples beyond 10'), and the global
# grid's rule gives 0.75 .. 25 degrees on box means of 90" (formed from the
# global grid's rows in the stations' reach, read in strips) and 25 .. 180
# degrees on box means of 900" (from its 120" overview).
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/settings.sh"
build=$(cd "${1:?usage: survey_mosaic.sh BUILD_DIR WORK_DIR [TILES] [STATIONS] [REFS]}" && pwd)
work=${2:?usage: survey_mosaic.sh BUILD_DIR WORK_DIR [TILES] [STATIONS] [REFS]}
tiles=${3:-20}
stations=${4:-1000}
refs=${5:-6}
mkdir -p "$work/tiles"
cd "$work"
if [ ! -s global30.tif ] || [ ! -s stations.dat ]; then
  rm -f tiles/*.tif
  rm -f mosaic.vrt
  /usr/bin/time -f "generation: %e s, peak %M KB" nice "$build/bench/globelayers_surveymosaic" . 5 35 "$tiles" "$stations"
fi
[ -s mosaic.vrt ] || /usr/bin/time -f "gdalbuildvrt: %e s" gdalbuildvrt -q mosaic.vrt tiles/*.tif
# Overviews of the global grid (plain means of 2 x 2 .. 64 x 64 nodes, in
# the file): the far bands' block means read them instead of the whole
# grid. NOOVERVIEWS=1 leaves them out (a global grid that has them already
# keeps them: generate afresh).
if [ -z "${NOOVERVIEWS:-}" ] && ! gdalinfo global30.tif | grep -q "Overviews:"; then
  /usr/bin/time -f "gdaladdo: %e s, peak %M KB" nice gdaladdo -q -r average --config COMPRESS_OVERVIEW ZSTD \
    --config ZSTD_LEVEL 1 --config PREDICTOR_OVERVIEW 2 global30.tif 2 4 8 16 32 64
fi
du -sh tiles global30.tif | tr '\n' ' '; echo

settings() {  # name datafile zone-line...
  local name=$1 data=$2
  shift 2
  one_layer_settings "$data" "$name" "mosaic.vrt | global30.tif" "$@" >"$name.ini"
}

# The bands, all sizes divided by DIV (1: the run; 2 and 4: references on
# point samples). Distances in degrees, sizes in arc-seconds.
bands() {  # div means-flag
  awk -v d="$1" -v m="$2" 'BEGIN {
    h = 1; H = 30; from = 0
    n = split("0.006 0.06 0.6 6", dec, " ")
    for (i = 1; i <= n; ++i) { to = dec[i] * h / 3600; printf "%.12f;%.12f;%.9f\n", from, to, dec[i] * h / 64 / d; from = to }
    to = 60 * h / 3600;   printf "%.12f;%.12f;%.9f\n", from, to, 60 * h / 256 / d; from = to
    to = 600 * h / 3600;  printf "%.12f;%.12f;%.9f\n", from, to, 1.875 * h / d; from = to
    to = 600 * H / 3600;  printf "%.12f;%.12f;%.9f\n", from, to, 1.875 * H / d; from = to
    to = 2700 * H / 3600; printf "%.12f;%.12f;%.9f%s\n", from, to, 15 * H / d, m; from = to
    printf "%.12f;180;%.9f%s\n", from, 30 * H / d, m
  }'
}
mapfile -t runBands < <(bands 1 ";mean")
zoneOption=()
if [ "${ZONES:-list}" = preset ]; then zoneOption=(--zones fine); runBands=(); fi
settings run stations.dat "${runBands[@]}"
head -n 1 stations.dat > first.dat
settings load first.dat "${runBands[@]}"

# The load: a run of the first station alone (its own time is the run's
# time per station, taken off).
# REUSE=1 takes the run's times and results of an earlier call.
if [ -z "${REUSE:-}" ] || [ ! -s run.time ] || [ ! -s load.time ]; then
  /usr/bin/time -f "%e %M" -o load.time nice "$build/batch/globelayers-batch" --threads 2 "${zoneOption[@]}" load.ini > /dev/null
  /usr/bin/time -f "%e %M" -o run.time nice "$build/batch/globelayers-batch" --threads 2 "${zoneOption[@]}" run.ini > /dev/null
fi
read -r loadWall loadPeak < load.time
read -r wall peak < run.time
awk -v w="$wall" -v n="$stations" -v l="$loadWall" -v p="$peak" -v lp="$loadPeak" 'BEGIN {
  s = (w - l) / (n - 1)
  printf "run: %d stations, wall %.1f s, peak %d MB; one station: wall %.2f s, peak %d MB\n", n, w, p / 1024, l, lp / 1024
  printf "time per station on 2 threads %.3f s; the grids load in about %.2f s (one station less its time)\n", s, l - s
}'

# References: the steepest and the flattest stations (REFS=0: none).
[ "$refs" -gt 0 ] || exit 0
sort -k2,2gr slopes.dat > bysteep.ids  # whole, so that head cuts no pipe
head -n $((refs - refs / 3)) bysteep.ids > refs.ids
tail -n $((refs / 3)) bysteep.ids >> refs.ids
awk 'NR == FNR { want[$1] = $2; next } ($3 in want) { print }' refs.ids stations.dat > refs.dat
echo "reference stations (id, slope deg): $(awk '{printf "%s %s; ", $1, $2}' refs.ids)"
for div in 2 4; do
  mapfile -t refBands < <(bands "$div" "")
  settings "ref$div" refs.dat "${refBands[@]}"
  /usr/bin/time -f "ref$div: %e s, peak %M KB" nice "$build/batch/globelayers-batch" --threads 2 "ref$div.ini" > /dev/null
done
# Column 5 on: DTE, DTE(i), VGDRE of each layer and the sum.
compare() {  # file-a file-b label
  awk -v label="$3" 'NR == FNR { if (FNR > 1) for (c = 5; c <= NF; ++c) a[$3, c] = $c; next }
    FNR > 1 && (($3, 5) in a) { for (c = 5; c <= NF - 1; ++c) { d = $c - a[$3, c]; if (d < 0) d = -d; if (d > m) m = d } }
    END { printf "%s: %.5f mGal\n", label, m }' "$1" "$2"
}
compare refs_ref4_dce.dat refs_ref2_dce.dat "reference: largest change from half its size (DTE, DTE(i))"
compare refs_ref4_dce.dat stations_run_dce.dat "run: largest |run - reference| (DTE, DTE(i))"

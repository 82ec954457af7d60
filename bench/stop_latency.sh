#!/usr/bin/env bash
# How soon a SIGTERM ends a batch run, at any stage: loading a global grid,
# forming the block means of the fine preset, and the point loop. Two
# grids: a 1-arc-minute Surfer 6 grid (21601 x 10801 nodes, 0.93 GB, the
# native reader) and a 30-arc-second raster of 16-bit integers with an
# ESRI .hdr (43201 x 21601 nodes, 1.9 GB, read through GDAL: a build
# without GDAL refuses it, and the lines say so). Sends SIGTERM at 1, 3, 10, 30 and 60 s into a run with
# --zones fine and prints, for each, the seconds from the signal to the end
# of the process, its exit status (143 expected), whether the result file
# ends with a whole line and the run log's last line.
#
#   [CLUSTER=1] bash bench/stop_latency.sh BUILD_DIR [WORK_DIR]
#
# The stations lie all over the globe, so that each grid is read whole and
# its means are formed in memory; CLUSTER=1 puts them in one degree
# (10..11 E, 45..46 N), so that the grids are read in windows and the far
# bands' box means come from the files read in strips.
#
# The grids are generated here (a few repeated rows: the values do not
# matter) and left in WORK_DIR (about 3 GB) for the next run; nothing is
# committed.
set -euo pipefail
build=$(cd "${1:?usage: stop_latency.sh BUILD_DIR [WORK_DIR]}" && pwd)
work=${2:-/tmp/globelayers-stop-latency}
here=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$work"
cd "$work"
if [ ! -s global1m.grd ]; then
  python3 - <<'PY'
import array, math, struct
nx, ny = 21601, 10801
with open("global1m.grd", "wb") as f:
    f.write(b"DSBB" + struct.pack("<hh6d", nx, ny, -180.0, 180.0, -90.0, 90.0, -500.0, 3500.0))
    rows = [array.array("f", (1500 + 1000 * math.sin(ix * 0.01 + k) for ix in range(nx))) for k in range(16)]
    for iy in range(ny):
        rows[iy % 16].tofile(f)
PY
fi
if [ ! -s global30s.bil ]; then
  python3 - <<'PY'
import array, math
nx, ny = 43201, 21601
rows = [array.array("h", (int(1500 + 1000 * math.sin(ix * 0.005 + k)) for ix in range(nx))) for k in range(16)]
with open("global30s.bil", "wb") as f:
    for iy in range(ny):
        rows[iy % 16].tofile(f)
PY
  # Node centres from -180/-90 to 180/90.
  cat > global30s.hdr <<'HDR'
BYTEORDER I
LAYOUT BIL
NROWS 21601
NCOLS 43201
NBANDS 1
NBITS 16
PIXELTYPE SIGNEDINT
ULXMAP -180
ULYMAP 90
XDIM 0.008333333333333333
YDIM 0.008333333333333333
HDR
fi
cp "$here"/examples/crustbase.grd .
# Enough stations that the point loop outlasts the last signal.
if [ -n "${CLUSTER:-}" ]; then
  for i in $(seq 0 1999); do
    echo "10.$(( (i * 37) % 1000 )) 45.$(( (i * 17) % 1000 )) $i 10"
  done > stations.dat
else
  for i in $(seq 0 1999); do
    echo "$(( (i * 37) % 360 - 180 )).5 $(( (i * 17) % 170 - 85 )).25 $i 10"
  done > stations.dat
fi
sed 's/=topography.grd/=global1m.grd/' "$here/examples/example.ini" > stop1m.ini
sed 's/=topography.grd/=global30s.bil/' "$here/examples/example.ini" > stop30s.ini
# Timed from Python: the shell's own job handling blurs the end of a process.
python3 - "$build/batch/globelayers-batch" <<'PY'
import os, signal, subprocess, sys, time
batch = sys.argv[1]
grids = [("1' Surfer 6, native reader", "stop1m.ini"), ('30" 16-bit EHdr, through GDAL', "stop30s.ini")]
for name, ini in grids:
    print(name)
    for at in (1, 3, 10, 30, 60):
        for leftover in ("stations_example_dce.dat", "stations_example_dce.con"):
            if os.path.exists(leftover):
                os.remove(leftover)
        run = subprocess.Popen([batch, "--zones", "fine", ini], stderr=subprocess.PIPE)
        time.sleep(at)
        if run.poll() is not None:
            said = run.stderr.read().decode(errors="replace").strip().splitlines()
            print(f"  SIGTERM at {at:2d} s: the run had ended already: {said[-1] if said else ''}")
            continue
        sent = time.monotonic()
        run.send_signal(signal.SIGTERM)
        run.stderr.read()
        status = run.wait()
        took = time.monotonic() - sent
        whole = "no result file"
        if os.path.exists("stations_example_dce.dat"):
            with open("stations_example_dce.dat", "rb") as f:
                data = f.read()
            whole = "whole lines" if data.endswith(b"\n") else "a cut line"
        log = "no run log"
        if os.path.exists("stations_example_dce.con"):
            with open("stations_example_dce.con") as f:
                log = f.read().rstrip("\n").splitlines()[-1]
        print(f"  SIGTERM at {at:2d} s: ended {took:.2f} s later, status {-status if status < 0 else status}, {whole}; {log}")
PY

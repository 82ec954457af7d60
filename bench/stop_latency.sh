#!/usr/bin/env bash
# How soon a SIGTERM ends a batch run, at any stage: loading a 1-arc-minute
# global grid (21601 x 10801 nodes, 0.93 GB as Surfer 6), forming the block
# means of the fine preset, and the point loop. Sends SIGTERM at 1, 3 and
# 10 s into a run and prints, for each, the seconds from the signal to the
# end of the process and its exit status (143 expected).
#
#   bash bench/stop_latency.sh BUILD_DIR [WORK_DIR]
#
# The grid is generated here (a few repeated rows: the values do not
# matter) and left in WORK_DIR for the next run; nothing is committed.
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
cp "$here"/examples/crustbase.grd .
# Enough stations that the point loop outlasts the last signal.
for i in $(seq 0 1999); do
  echo "$(( (i * 37) % 360 - 180 )).5 $(( (i * 17) % 170 - 85 )).25 $i 10"
done > stations.dat
sed 's/=topography.grd/=global1m.grd/' "$here/examples/example.ini" > stop.ini
# Timed from Python: the shell's own job handling blurs the end of a process.
python3 - "$build/batch/globelayers-batch" <<'PY'
import signal, subprocess, sys, time
for at in (1, 3, 10):
    run = subprocess.Popen([sys.argv[1], "--zones", "fine", "stop.ini"], stderr=subprocess.DEVNULL)
    time.sleep(at)
    if run.poll() is not None:
        print(f"SIGTERM at {at:2d} s: the run had ended already")
        continue
    sent = time.monotonic()
    run.send_signal(signal.SIGTERM)
    status = run.wait()
    print(f"SIGTERM at {at:2d} s: ended {time.monotonic() - sent:.2f} s later, status {status}")
PY

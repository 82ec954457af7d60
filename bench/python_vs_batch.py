"""Time per point of the Python module against the batch, on 2 threads.

The example stack (examples/example.ini) with 1,000 points spread over the
globe, run in turns by the batch (a whole process: start, grids, points,
result file) and by the module (compute() in this process: grids, points,
arrays; the interpreter and the import are left out), so that the load of
a shared machine falls on both alike. Prints each round, the median of
each, the time per point, the ratio of the medians and the median of each
round's ratio (the steadier figure on a busy machine), and checks that the
module printed the batch's digits.

    python3 bench/python_vs_batch.py [BUILD_DIR] [ROUNDS] [POINTS]

Needs a build with the module (default where python3-dev and pybind11-dev
are installed): cmake -S . -B build -DCMAKE_BUILD_TYPE=Release && cmake --build build -j2
"""
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

root = Path(__file__).resolve().parents[1]
build = Path(sys.argv[1] if len(sys.argv) > 1 else root / "build").resolve()
rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 5
count = int(sys.argv[3]) if len(sys.argv) > 3 else 1000
sys.path.insert(0, str(build / "python"))
import globelayers as gl  # noqa: E402

batch = build / "batch" / "globelayers-batch"
work = Path(tempfile.mkdtemp())
try:
    for name in ("example.ini", "topography.grd", "crustbase.grd"):
        shutil.copy(root / "examples" / name, work / name)
    # Stations spread over the globe, heights 0 to 3 km (bench/mpi_scaling.sh's rule).
    with open(work / "stations.dat", "w") as f:
        for i in range(count):
            f.write("%.4f %.4f %d %.1f\n" % (-179 + (i * 7.3) % 358, -85 + (i * 3.1) % 170, 1000 + i, (i * 37) % 3000))
    calc = gl.from_settings(work / "example.ini")

    def run_batch():
        start = time.perf_counter()
        subprocess.run([batch, "--threads", "2", "example.ini"], cwd=work, check=True, capture_output=True)
        return time.perf_counter() - start

    def run_python():
        start = time.perf_counter()
        result = calc.run(threads=2)
        return time.perf_counter() - start, result

    times = {"batch": [], "python": []}
    result = None
    for r in range(rounds):
        # Alternate which goes first, so that neither always follows the other.
        order = ("batch", "python") if r % 2 == 0 else ("python", "batch")
        for which in order:
            if which == "batch":
                times["batch"].append(run_batch())
            else:
                seconds, result = run_python()
                times["python"].append(seconds)
        print(f"round {r + 1}: batch {times['batch'][-1]:.3f} s, python {times['python'][-1]:.3f} s", flush=True)

    lines = (work / "stations_example_dce.dat").read_text().splitlines()[1:]
    ours = []
    for i in range(len(result)):
        ours.append("%11.6f %11.6f %10.0f %10.3f" % (result.lon[i], result.lat[i], result.number[i], result.height[i])
                    + "".join(" %12.5f %12.5f %12.5f" % (result.layer_dte[i, k], result.layer_dte_i[i, k],
                                                         result.layer_vgdre[i, k])
                              for k in range(result.layer_dte.shape[1]))
                    + " %12.5f %12.5f %12.5f" % (result.dte[i], result.dte_i[i], result.vgdre[i]))
    same = ours == lines
    b = statistics.median(times["batch"])
    p = statistics.median(times["python"])
    print(f"{count} points, 2 threads, medians of {rounds} rounds:")
    print(f"  batch  {b:.3f} s  ({1000 * b / count:.3f} ms per point)")
    print(f"  python {p:.3f} s  ({1000 * p / count:.3f} ms per point)")
    print(f"  python / batch = {p / b:.3f} (medians); median of the rounds' ratios "
          f"{statistics.median(x / y for x, y in zip(times['python'], times['batch'])):.3f}")
    print(f"  the module's digits {'equal' if same else 'DIFFER FROM'} the batch's result file")
    sys.exit(0 if same else 1)
finally:
    shutil.rmtree(work)

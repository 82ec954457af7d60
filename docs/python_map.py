"""The worked example of docs/python.md: the example's stack on a global grid
of points 10 km above sea level, and a map of the summed DTE.

    cd examples && python3 ../docs/python_map.py ../docs/python-map.png
"""
import sys
import time

import matplotlib

matplotlib.use("Agg")  # no display needed
import matplotlib.pyplot as plt

import globelayers as gl

# The stack of examples/example.ini, uppermost surface first: the
# topography, sea level with rock of 2.67 g/cm3 above it (negative mass at
# sea, where the topography lies below it), and the crust base with crust of
# 2.67 g/cm3 above it.
surfaces = [
    gl.Surface("topography.grd"),
    gl.Surface(0.0, density=2.67),
    gl.Surface("crustbase.grd", density=2.67),
]
# A node every 4 degrees, 10 km above sea level.
points = gl.PointGrid(west=-180, east=180, south=-88, north=88, step=4, height=10_000)

shown = set()


def progress(done, total):
    tenth = 10 * done // total
    if tenth not in shown:
        shown.add(tenth)
        print(f"{done} of {total} points", flush=True)


start = time.perf_counter()
result = gl.compute(surfaces, points, increment=1.0, threads=2, progress=progress)
print(f"{len(result)} points in {time.perf_counter() - start:.1f} s")

ds = result.to_xarray()
print(ds)

fig, ax = plt.subplots(figsize=(9, 4.8), constrained_layout=True)
ds.dte.plot.pcolormesh(ax=ax, cmap="viridis", cbar_kwargs={"label": "summed DTE (mGal)"})
ax.contour(ds.lon, ds.lat, ds.layer_dte.sel(layer=1), levels=[0], colors="white", linewidths=0.6)
ax.set_title("Attraction of the example's stack, 10 km above sea level")
ax.set_xlabel("longitude (degrees)")
ax.set_ylabel("latitude (degrees)")
ax.set_aspect("equal")
fig.savefig(sys.argv[1] if len(sys.argv) > 1 else "python-map.png", dpi=100)

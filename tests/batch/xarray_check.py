"""A grid run's netCDF read back with xarray: CF coordinates lon and lat
on the grid's nodes, and every variable holding node by node the text
result's numbers to its printed digits.

    xarray_check.py BATCH EXAMPLES_DIR WORK_DIR

Exits 77 (skipped) where xarray or its netCDF engine is not installed.
"""
import os
import shutil
import subprocess
import sys

try:
    import xarray
    import netCDF4  # noqa: F401  (the engine xarray opens the file with)
except ImportError:
    sys.exit(77)

batch, examples, work = sys.argv[1:4]
shutil.rmtree(work, ignore_errors=True)
os.makedirs(work)
for name in ("example.ini", "topography.grd", "crustbase.grd"):
    shutil.copy(os.path.join(examples, name), work)
with open(os.path.join(examples, "example.ini")) as f:
    settings = f.read()
with open(os.path.join(work, "map.ini"), "w") as f:
    f.write(settings + "[points]\ngrid=-10;10;40;55;5\nheight=10000\n")
subprocess.run([batch, "--threads", "1", "map.ini"], cwd=work, check=True)

with open(os.path.join(work, "map_example_dce.dat")) as f:
    lines = [line.split() for line in f][1:]
names = ["DTE_layer1", "DTE_raised_layer1", "VGDRE_layer1", "DTE_layer2", "DTE_raised_layer2", "VGDRE_layer2",
         "DTE", "DTE_raised", "VGDRE"]
failures = []
with xarray.open_dataset(os.path.join(work, "map_example_dce.nc")) as ds:
    if list(ds["lon"].values) != [-10, -5, 0, 5, 10] or list(ds["lat"].values) != [40, 45, 50, 55]:
        failures.append("coordinates %s %s" % (ds["lon"].values, ds["lat"].values))
    if ds["lon"].attrs.get("units") != "degrees_east" or ds["lat"].attrs.get("units") != "degrees_north":
        failures.append("coordinate units %s" % ds["lon"].attrs)
    if len(lines) != 20:
        failures.append("%d text lines" % len(lines))
    for q, name in enumerate(names):
        unit = "mGal/m" if name.startswith("VGDRE") else "mGal"
        if ds[name].attrs.get("units") != unit:
            failures.append("%s in %s" % (name, ds[name].attrs.get("units")))
        for line in lines:
            value = ds[name].sel(lon=float(line[0]), lat=float(line[1])).item()
            if "%.5f" % value != line[4 + q]:
                failures.append("%s at node %s: %.5f, the text file %s" % (name, line[2], value, line[4 + q]))
for failure in failures:
    print(failure)
shutil.rmtree(work, ignore_errors=True)
sys.exit(1 if failures else 0)

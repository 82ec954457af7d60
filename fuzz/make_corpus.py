#!/usr/bin/env python3
"""Writes the seed corpus: a few tiny valid grids of each format.

Run from the repository root: python3 fuzz/make_corpus.py
The GDAL-written grids of tests/grid/data are copied in as well.
"""
import pathlib
import shutil
import struct

out = pathlib.Path(__file__).resolve().parent / "corpus"
out.mkdir(exist_ok=True)


def surfer6(nx, ny, values, x=(10.0, 12.0), y=(40.0, 41.0)):
    z = [v for v in values if v < 1e38] or [0.0]
    head = b"DSBB" + struct.pack("<hh6d", nx, ny, x[0], x[1], y[0], y[1], min(z), max(z))
    return head + struct.pack("<%df" % len(values), *values)


def surfer7(nx, ny, values, blank=1.70141e38, fault=None):
    z = [v for v in values if v < blank] or [0.0]
    faults = b"FLTI" + struct.pack("<ii", 4, 1)  # one trace
    faults += b"DATA" + struct.pack("<i", 20) + struct.pack("<i2d", 1, 10.0, 40.0)
    b = b"DSRB" + struct.pack("<ii", 4, 1)
    if fault == "before":
        b += faults
    b += b"GRID" + struct.pack("<iii8d", 72, ny, nx, 10.0, 40.0, 0.5, 0.25, min(z), max(z), 0.0, blank)
    b += b"DATA" + struct.pack("<i", 8 * len(values)) + struct.pack("<%dd" % len(values), *values)
    if fault == "after":
        b += faults
    return b


def geosoft(e, v, raws, orientation=1, mult=10.0, base=100.0):
    head = struct.pack("<iiiii", 2, 0, e, v, orientation)
    head += struct.pack("<7d", 0.5, 0.25, 10.0, 40.0, 0.0, base, mult)
    head += bytes(512 - len(head))
    return head + struct.pack("<%dh" % len(raws), *raws)


files = {
    "s6_3x2.grd": surfer6(3, 2, [1, 2, 3, 4, 5, 6]),
    "s6_2x2_blank.grd": surfer6(2, 2, [1.5, 1.70141e38, -2.0, 7.0]),
    "s7_3x2.grd": surfer7(3, 2, [1, 2, 3, 4, 5, 6]),
    "s7_2x3_blank_fault.grd": surfer7(2, 3, [1, 2, 1e39, 4, 5, 6], blank=1e39, fault="after"),
    "s7_fault_first.grd": surfer7(2, 2, [1, 2, 3, 4], fault="before"),
    "gs_rows_4x3.grd": geosoft(4, 3, list(range(1, 13))),
    "gs_cols_blanks.grd": geosoft(2, 2, [-32768, -32767, -32766, 5], orientation=-1),
}
for name, data in files.items():
    (out / name).write_bytes(data)
data_dir = out.parent.parent / "tests" / "grid" / "data"
for name in ("surfer6.grd", "surfer7.grd"):
    shutil.copyfile(data_dir / name, out / ("gdal_" + name))

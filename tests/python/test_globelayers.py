"""The Python module against the batch, and its refusals and stops.

Run by ctest (tests/python/CMakeLists.txt) with the module of the build on
PYTHONPATH and the batch's path in GLOBELAYERS_BATCH; skipped where the
module was not built.
"""

import os
import shutil
import signal
import struct
import subprocess
import threading
from pathlib import Path

import numpy as np
import pytest

gl = pytest.importorskip("globelayers")

EXAMPLES = Path(os.environ.get("GLOBELAYERS_EXAMPLES", Path(__file__).resolve().parents[2] / "examples"))
BATCH = os.environ.get("GLOBELAYERS_BATCH")


# --- helpers ---------------------------------------------------------------

def result_lines(r, sums_only_layout):
    """The result file's value lines, formatted from a Result as the file's columns are."""
    lines = []
    gradient = r.vgdre is not None
    for i in range(len(r)):
        line = "%11.6f %11.6f %10.0f %10.3f" % (r.lon[i], r.lat[i], r.number[i], r.height[i])
        if sums_only_layout:
            line += " %12.5f %12.5f %12.8f" % (r.dte[i], r.dte_i[i], r.vgdre[i]) if gradient else " %12.5f" % r.dte[i]
        else:
            for k in range(r.layer_dte.shape[1]):
                line += (" %12.5f %12.5f %12.5f" % (r.layer_dte[i, k], r.layer_dte_i[i, k], r.layer_vgdre[i, k])
                         if gradient else " %12.5f" % r.layer_dte[i, k])
            line += " %12.5f %12.5f %12.5f" % (r.dte[i], r.dte_i[i], r.vgdre[i]) if gradient else " %12.5f" % r.dte[i]
        lines.append(line)
    return lines


def file_lines(path):
    return Path(path).read_text().splitlines()[1:]


def read_surfer7(path):
    """Nodes of a Surfer 7 grid, read here independently: (values, lon, lat)."""
    b = Path(path).read_bytes()
    off = 8 + struct.unpack_from("<i", b, 4)[0]
    assert b[off:off + 4] == b"GRID"
    ny, nx, x0, y0, dx, dy = struct.unpack_from("<ii4d", b, off + 8)
    data = off + 8 + 72
    assert b[data:data + 4] == b"DATA"
    values = np.frombuffer(b, "<f8", nx * ny, data + 8).reshape(ny, nx)
    return values, x0 + np.arange(nx) * dx, y0 + np.arange(ny) * dy


def read_surfer6(path):
    b = Path(path).read_bytes()
    _, nx, ny, x0, x1, y0, y1 = struct.unpack_from("<4shh4d", b, 0)
    values = np.frombuffer(b, "<f4", nx * ny, 56).reshape(ny, nx).astype(np.float64)
    return values, np.linspace(x0, x1, nx), np.linspace(y0, y1, ny)


def example_surfaces(top, base):
    return [gl.Surface(top), gl.Surface(0.0, density=2.67), gl.Surface(base, density=2.67)]


def run_batch(settings, *args):
    if not BATCH:
        pytest.skip("GLOBELAYERS_BATCH not given")
    subprocess.run([BATCH, *args, str(settings)], check=True, capture_output=True, cwd=settings.parent)


@pytest.fixture
def example_dir(tmp_path):
    for name in ("example.ini", "stations.dat", "topography.grd", "crustbase.grd"):
        shutil.copy(EXAMPLES / name, tmp_path / name)
    return tmp_path


# --- the batch's numbers ---------------------------------------------------

def test_example_gives_the_expected_result_file_to_every_digit():
    calls = []
    r = gl.from_settings(EXAMPLES / "example.ini").run(threads=2, progress=lambda d, t: calls.append((d, t)))
    assert r.complete and len(r) == 20
    assert calls[-1] == (20, 20) and all(t == 20 and 0 <= d <= 20 for d, t in calls)
    assert result_lines(r, False) == file_lines(EXAMPLES / "expected" / "stations_example_dce.dat")
    # Full doubles, not the file's five decimals read back.
    assert np.all(np.abs(r.dte * 1e5 - np.round(r.dte * 1e5)) > 1e-6)


# Variants of the example, each run by the batch and by the module: the unit,
# a preset's bands on block means, the sums-only layout of two surfaces, a
# crossing rule, and a grid of points above the surface.
VARIANTS = [
    ("microGal", {}, ["--unit", "microGal"], lambda c: setattr(c, "unit", "microGal")),
    ("preset", {}, ["--zones", "standard"], lambda c: setattr(c, "preset", "standard")),
    ("two surfaces", {"number": "2", "nlayer": "2", "incr": "0", "priority": "1", "t4dist": "90", "segsize": "1800",
                      "LonFrom": "30", "LonTo": "300"}, [], None),
    ("grid of points", {"incr": "2.5"}, [], None),
]


@pytest.mark.parametrize("name,keys,args,change", VARIANTS, ids=[v[0] for v in VARIANTS])
def test_variants_match_the_batch(example_dir, name, keys, args, change):
    ini = example_dir / "example.ini"
    text = ini.read_text()
    for key, value in keys.items():
        lines = text.splitlines()
        lines = [f"{key}={value}" if l.startswith(key + "=") else l for l in lines]
        text = "\n".join(lines) + "\n"
    grid = name == "grid of points"
    if grid:
        text += "[points]\ngrid=-180;180;-60;60;60\nheight=surface+10\n"
    ini.write_text(text)
    run_batch(ini, *args)
    calc = gl.from_settings(ini)
    if change:
        change(calc)
    r = calc.run(threads=2)
    if grid:
        assert isinstance(calc.points, gl.PointGrid)
        out = example_dir / "example_example_dce.dat"
    else:
        out = example_dir / "stations_example_dce.dat"
    two = name == "two surfaces"
    assert result_lines(r, two) == file_lines(out)
    if grid:
        ds = r.to_xarray()
        assert ds.dte.shape == (3, 7)
        assert ds.layer_dte.shape == (2, 3, 7)
        # Row by row from the south-west corner.
        assert ds.dte.sel(lat=0.0, lon=-120.0).item() == r.dte[7 + 1]
        assert ds.vgdre.attrs["units"] == "mGal/m"


# --- arrays in, files in ---------------------------------------------------

def test_arrays_and_data_arrays_give_the_files_bits():
    points = gl.Points.from_file(EXAMPLES / "stations.dat")
    kw = dict(increment=1.0, threads=2)
    files = gl.compute(example_surfaces(EXAMPLES / "topography.grd", EXAMPLES / "crustbase.grd"), points, **kw)
    top = gl.Grid(*read_surfer7(EXAMPLES / "topography.grd"))
    base_values, base_lon, base_lat = read_surfer6(EXAMPLES / "crustbase.grd")
    # North first, as most rasters come: the module turns it south first.
    base = gl.Grid(base_values[::-1], base_lon, base_lat[::-1])
    arrays = gl.compute(example_surfaces(top, base), points, **kw)
    xr = pytest.importorskip("xarray")
    da = xr.DataArray(top.values, coords={"latitude": top.lat, "longitude": top.lon},
                      dims=("latitude", "longitude"))
    mixed = gl.compute(example_surfaces(da.T, EXAMPLES / "crustbase.grd"), points, **kw)
    for r in (arrays, mixed):
        for name in ("dte", "dte_i", "vgdre", "layer_dte", "layer_dte_i", "layer_vgdre"):
            np.testing.assert_array_equal(getattr(r, name), getattr(files, name), err_msg=name)


def test_a_nan_node_is_a_blank_as_surfers_blank_value_in_a_file(tmp_path):
    # Blank nodes round the station: its segments there are dropped, the same
    # with NaN in an array as with Surfer's blank value in a Surfer 6 file.
    lon = np.linspace(-180, 180, 37)
    lat = np.linspace(-90, 90, 19)
    values = np.full((19, 37), 1000.0)
    values[8:11, 17:20] = np.nan  # round (0, 0)
    path = tmp_path / "holey.grd"
    header = struct.pack("<4shh6d", b"DSBB", 37, 19, -180.0, 180.0, -90.0, 90.0, 1000.0, 1000.0)
    path.write_bytes(header + np.where(np.isnan(values), 1.70141e38, values).astype("<f4").tobytes())
    pts = gl.Points(lon=[0.0, 5.0], lat=[0.0, 1.0], height=[2000.0, 2000.0])
    run = lambda top: gl.compute([gl.Surface(top), gl.Surface(0.0, density=2.67)], pts, threads=1,
                                 segment_size=1800)
    array = run(gl.Grid(values, lon, lat))
    file = run(path)
    full = run(gl.Grid(np.full((19, 37), 1000.0), lon, lat))
    np.testing.assert_array_equal(array.dte, file.dte)
    assert np.all(np.abs(array.dte) < np.abs(full.dte))


# --- refusals --------------------------------------------------------------

def _stack():
    return example_surfaces(EXAMPLES / "topography.grd", EXAMPLES / "crustbase.grd")


ONE = gl.Points(lon=[10.0], lat=[47.0], height=[1317.0])

REFUSALS = [
    ("missing grid file", lambda: gl.compute(example_surfaces("nowhere.grd", 0.0), ONE),
     FileNotFoundError, "nowhere.grd"),
    ("missing settings file", lambda: gl.from_settings("nowhere.ini"), FileNotFoundError, "nowhere.ini"),
    ("missing point file", lambda: gl.Points.from_file("nowhere.dat"), FileNotFoundError, "nowhere.dat"),
    ("one surface", lambda: gl.compute(_stack()[:1], ONE), ValueError, "2 to 15 surfaces"),
    ("no density", lambda: gl.compute([gl.Surface(0.0), gl.Surface(-100.0)], ONE), ValueError, "no density"),
    ("earth radius", lambda: gl.compute(_stack(), ONE, earth_radius=-1.0), gl.InputError,
     "The Earth radius must be a positive number of metres"),
    ("zone gap", lambda: gl.compute(_stack(), ONE, zones=[(0, 1, 60), (2, 180, 3600)]), gl.InputError,
     "the zones must join without a gap"),
    ("segment size", lambda: gl.compute(_stack(), ONE, segment_size=0.0), gl.InputError, "Grid cell size"),
    ("unknown preset", lambda: gl.compute(_stack(), ONE, preset="coarse"), ValueError, "standard, fine"),
    ("zones and preset", lambda: gl.compute(_stack(), ONE, preset="fine", zones=[(0, 180, 3600)]), ValueError,
     "not both"),
    ("unit", lambda: gl.compute(_stack(), ONE, unit="kGal"), ValueError, "mGal or microGal"),
    ("crossing", lambda: gl.compute(_stack(), ONE, crossing="first"), ValueError, "swap, top, bottom"),
    ("threads", lambda: gl.compute(_stack(), ONE, threads=-1), ValueError, "threads"),
    ("azimuths", lambda: gl.compute(_stack(), ONE, azimuth=(90, 10)), ValueError, "azimuth range"),
    ("point lengths", lambda: gl.compute(_stack(), gl.Points(lon=[1, 2], lat=[1], height=0)), ValueError,
     "as many latitudes"),
    ("point not finite", lambda: gl.compute(_stack(), gl.Points(lon=[1.0], lat=[np.nan])), ValueError,
     "not finite"),
    ("uneven grid", lambda: gl.Grid(np.zeros((2, 3)), [0, 1, 3], [0, 1]), ValueError, "evenly spaced"),
    ("grid shape", lambda: gl.Grid(np.zeros((3, 2)), [0, 1, 2], [0, 1]), ValueError, "shape"),
    ("point grid step", lambda: gl.compute(_stack(), gl.PointGrid(0, 10, 0, 10, 3)), ValueError, "step"),
    ("stack value", lambda: gl.compute([gl.Surface({"a": 1}), gl.Surface(0.0, 2.67)], ONE), ValueError,
     "must be a number, a grid file"),
]


@pytest.mark.parametrize("name,call,kind,words", REFUSALS, ids=[r[0] for r in REFUSALS])
def test_refusals_raise_the_documented_exception_with_the_message(name, call, kind, words):
    with pytest.raises(kind) as caught:
        call()
    assert words in str(caught.value)


def test_an_unreadable_grid_file_is_a_module_error_with_the_readers_message(tmp_path):
    bad = tmp_path / "bad.grd"
    bad.write_bytes(b"DSBB" + bytes(20))  # a Surfer 6 header cut short
    with pytest.raises(gl.Error) as caught:
        gl.compute(example_surfaces(bad, 0.0), ONE)
    assert "bad.grd" in str(caught.value)
    assert not isinstance(caught.value, ValueError)


# --- stops -----------------------------------------------------------------

def _many_points(n):
    rng = np.random.default_rng(7)
    return gl.Points(lon=rng.uniform(-180, 180, n), lat=rng.uniform(-80, 80, n), height=rng.uniform(0, 3000, n))


def test_a_callback_interrupt_keeps_whole_points_in_order():
    points = _many_points(400)
    seen = []

    def progress(done, total):
        seen.append((done, total))
        if done >= 3:
            raise KeyboardInterrupt

    with pytest.raises(gl.Interrupted) as caught:
        gl.compute(_stack(), points, increment=1.0, threads=2, progress=progress)
    part = caught.value.result
    assert isinstance(caught.value, KeyboardInterrupt)
    assert not part.complete and part.total == 400 and 3 <= len(part) < 400
    assert seen[0][1] == 400
    whole = gl.compute(_stack(), gl.Points(lon=points.lon[:len(part)], lat=points.lat[:len(part)],
                                           height=points.height[:len(part)]), increment=1.0, threads=2)
    for name in ("lon", "lat", "number", "dte", "dte_i", "vgdre", "layer_dte"):
        np.testing.assert_array_equal(getattr(part, name), getattr(whole, name), err_msg=name)


def test_sigint_stops_a_run_as_ctrl_c_does():
    points = _many_points(2000)
    timer = threading.Timer(0.5, os.kill, (os.getpid(), signal.SIGINT))
    timer.start()
    try:
        with pytest.raises(gl.Interrupted) as caught:
            gl.compute(_stack(), points, threads=1)
    finally:
        timer.cancel()
    part = caught.value.result
    assert len(part) < 2000 and not part.complete
    assert np.isfinite(part.dte).all()


def test_another_exception_from_the_callback_stops_the_run_and_propagates():
    def progress(done, total):
        raise RuntimeError("enough")

    with pytest.raises(RuntimeError, match="enough") as caught:
        gl.compute(_stack(), _many_points(400), threads=2, progress=progress)
    assert not caught.value.result.complete


def test_help_shows_the_docstrings():
    assert "Ctrl-C" in gl.compute.__doc__ and "Raises" in gl.compute.__doc__
    assert "g/cm3" in gl.Surface.__doc__ and "mGal/m" in gl.Result.__doc__

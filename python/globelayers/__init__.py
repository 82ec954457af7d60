"""Gravity of a stack of spherical layers, from Python.

globelayers integrates a stack of global spherical layers -- each bounded by
constant heights or elevation grids and filled with a constant or gridded
density -- over zones of spherical distance around every computation point,
and gives the vertical attraction (DTE), the attraction at a raised point
(DTE(i)) and the vertical gradient (VGDRE), per layer and summed. It is the
engine of the globelayers programs: the same numbers as their result files.

The model is a list of surfaces, uppermost first (at least 2, at most 15).
Surface k bounds layer k from below; layer k lies between surfaces k-1 and
k and takes the density given with surface k.

Units: elevations and heights in metres above sea level, densities in
g/cm3, angles in degrees, segment sizes in arc-seconds, the gravitational
constant in mGal per (g/cm3 times metres), DTE and DTE(i) in mGal (or
microGal with ``unit="microGal"``), VGDRE in mGal/m.

Examples
--------
>>> import globelayers as gl
>>> surfaces = [gl.Surface("topography.grd"),
...             gl.Surface(0.0, density=2.67),
...             gl.Surface("crustbase.grd", density=2.67)]
>>> points = gl.Points(lon=[-150.0], lat=[40.0], height=[698.0])
>>> result = gl.compute(surfaces, points, increment=1.0, threads=2)
>>> result.dte                                  # doctest: +SKIP
array([7663.14359...])

See ``help(globelayers.compute)`` and ``help(globelayers.Result)``.
"""

from __future__ import annotations

import math
import os
from dataclasses import dataclass, field
from typing import Callable, Optional, Sequence

import numpy as np

from . import _core

__all__ = [
    "Error",
    "InputError",
    "Interrupted",
    "Grid",
    "Surface",
    "Points",
    "PointGrid",
    "Zone",
    "Calculation",
    "Result",
    "compute",
    "from_settings",
    "read_points",
    "PRESETS",
    "__version__",
]

__version__ = _core.version

#: Names of the zone presets, for ``preset=``.
PRESETS = tuple(_core.preset_names())

_CROSSING = {"swap": 0, "top": 1, "bottom": 2}
_UNITS = {"mGal": 0, "microGal": 1}


class Error(Exception):
    """A run that the engine refused or that failed, with the program's message.

    The message is the one the window and the batch show for the same
    fault (a grid that cannot be read, a zone list with a gap, memory...).
    """


class InputError(Error, ValueError):
    """A value that no run can use, refused by the engine with its message.

    Both a :class:`globelayers.Error` and a :class:`ValueError`.
    """


class Interrupted(KeyboardInterrupt):
    """Ctrl-C (or a progress callback that raised KeyboardInterrupt) stopped a run.

    Attributes
    ----------
    result : Result
        The points completed before the stop, whole points only, in order:
        ``result.complete`` is False and ``len(result)`` counts them.
    """

    def __init__(self, result: "Result"):
        super().__init__(
            f"calculation interrupted after {len(result)} of {result.total} points"
        )
        self.result = result


def _is_data_array(value) -> bool:
    return type(value).__name__ == "DataArray" and hasattr(value, "coords")


_LON_NAMES = ("lon", "longitude", "x")
_LAT_NAMES = ("lat", "latitude", "y")


def _coordinate(da, names, what):
    for name in names:
        if name in da.coords:
            return name
    raise ValueError(
        f"the DataArray has no {what} coordinate: give one named {' or '.join(names)}"
    )


@dataclass(frozen=True)
class Grid:
    """A grid held in memory: values on nodes of regular longitudes and latitudes.

    Parameters
    ----------
    values : array_like, shape (len(lat), len(lon))
        Elevations in metres or densities in g/cm3; NaN marks a blank node.
        Stored as 32-bit floats, as a grid file's values are.
    lon : array_like
        Longitudes of the columns, degrees, evenly spaced and increasing.
    lat : array_like
        Latitudes of the rows, degrees, evenly spaced; either order (the
        rows are turned south-first).

    Notes
    -----
    The nodes are placed as a grid file's are, from the first and last
    coordinate: a grid given as arrays samples to the same bits as the same
    nodes read from a Surfer grid file. Use :meth:`from_xarray` for an
    ``xarray.DataArray``.
    """

    values: np.ndarray
    lon: np.ndarray
    lat: np.ndarray

    def __post_init__(self):
        values = np.asarray(self.values, dtype=np.float64)
        lon = np.asarray(self.lon, dtype=np.float64).ravel()
        lat = np.asarray(self.lat, dtype=np.float64).ravel()
        if values.ndim != 2:
            raise ValueError(f"grid values must have 2 dimensions (lat, lon), not {values.ndim}")
        if values.shape != (lat.size, lon.size):
            raise ValueError(
                f"grid values have shape {values.shape}, but the coordinates give "
                f"({lat.size}, {lon.size}) (lat, lon)"
            )
        if lon.size < 2 or lat.size < 2:
            raise ValueError("a grid needs at least 2 nodes along each coordinate")
        if lat[-1] < lat[0]:
            lat = lat[::-1]
            values = values[::-1, :]
        for name, axis in (("lon", lon), ("lat", lat)):
            if not np.all(np.isfinite(axis)):
                raise ValueError(f"grid coordinate {name} holds a value that is not finite")
            steps = np.diff(axis)
            step = (axis[-1] - axis[0]) / (axis.size - 1)
            if not step > 0 or np.max(np.abs(steps - step)) > 1e-6 * step:
                raise ValueError(
                    f"grid coordinate {name} must be evenly spaced and increasing "
                    f"(steps from {steps.min()!r} to {steps.max()!r} degrees)"
                )
        object.__setattr__(self, "values", np.ascontiguousarray(values))
        object.__setattr__(self, "lon", lon)
        object.__setattr__(self, "lat", lat)

    @classmethod
    def from_xarray(cls, da) -> "Grid":
        """A grid from a 2-D ``xarray.DataArray`` with longitude and latitude coordinates.

        The coordinates may be named ``lon``/``lat``, ``longitude``/``latitude``
        or ``x``/``y``.
        """
        lon_name = _coordinate(da, _LON_NAMES, "longitude")
        lat_name = _coordinate(da, _LAT_NAMES, "latitude")
        da = da.transpose(lat_name, lon_name)
        return cls(da.values, da[lon_name].values, da[lat_name].values)

    def _spec(self):
        return ("array", self.values, float(self.lon[0]), float(self.lon[-1]),
                float(self.lat[0]), float(self.lat[-1]))


def _value_spec(value, what):
    """A boundary or density as _core takes it: None, a float or a list of grids."""
    if value is None:
        return None
    if isinstance(value, (int, float, np.integer, np.floating)) and not isinstance(value, bool):
        return float(value)
    if isinstance(value, (list, tuple)) and value and not all(
        isinstance(v, (int, float)) for v in value
    ):
        items = list(value)
    else:
        items = [value]
    specs = []
    for item in items:
        if isinstance(item, (str, os.PathLike)):
            path = os.fspath(item)
            if not os.path.isfile(path) and not path.startswith("NETCDF:"):
                raise FileNotFoundError(f"Grid file {path} of the {what} does not exist or is no regular file")
            specs.append(path)
        elif isinstance(item, Grid):
            specs.append(item._spec())
        elif _is_data_array(item):
            specs.append(Grid.from_xarray(item)._spec())
        else:
            raise ValueError(
                f"the {what} must be a number, a grid file, a globelayers.Grid, an "
                f"xarray.DataArray or a list of grids, not {type(item).__name__}"
            )
    return specs


@dataclass
class Surface:
    """One boundary surface of the stack and the density of the layer above it.

    Parameters
    ----------
    elevation : float, str, os.PathLike, Grid, xarray.DataArray or list
        Metres above sea level: a constant, a grid file (Surfer 6/7, Geosoft
        16-bit, or any raster GDAL reads), an in-memory :class:`Grid` or
        DataArray, or a list of grids, finest first (each sample is taken from
        the first grid that holds it).
    density : float, str, os.PathLike, Grid, xarray.DataArray, list or None
        g/cm3 of the layer between the surface above and this one, the same
        kinds of values; None for the first surface (it has no layer above).
    """

    elevation: object
    density: object = None


@dataclass
class Points:
    """Computation points given as arrays.

    Parameters
    ----------
    lon, lat : array_like
        Longitude and latitude, degrees.
    height : array_like or float
        Height of each point above sea level, metres (a float for all).
    number : array_like, optional
        Point numbers (whole numbers); 1, 2, 3... when left out.
    """

    lon: object
    lat: object
    height: object = 0.0
    number: object = None

    def _arrays(self):
        lon = np.atleast_1d(np.asarray(self.lon, dtype=np.float64)).ravel()
        lat = np.atleast_1d(np.asarray(self.lat, dtype=np.float64)).ravel()
        height = np.broadcast_to(np.asarray(self.height, dtype=np.float64), lon.shape).ravel()
        number = (np.arange(1, lon.size + 1, dtype=np.float64) if self.number is None
                  else np.asarray(self.number, dtype=np.float64).ravel())
        if not (lat.size == lon.size == height.size == number.size):
            raise ValueError(
                f"points need as many latitudes, heights and numbers as longitudes "
                f"({lon.size}), not {lat.size}, {height.size} and {number.size}"
            )
        for name, a in (("lon", lon), ("lat", lat), ("height", height), ("number", number)):
            if not np.all(np.isfinite(a)):
                raise ValueError(f"point {name} {a[~np.isfinite(a)][0]!r} is not finite "
                                 f"(point {int(np.argmax(~np.isfinite(a))) + 1})")
        return lon, lat, number, height

    @classmethod
    def from_file(cls, path) -> "Points":
        """The points of a point file (fixed columns, or CSV with a header)."""
        lon, lat, number, height = _core.read_points(os.fspath(path))
        return cls(lon=lon, lat=lat, height=height, number=number)


read_points = Points.from_file


def _nodes(start, end, step):
    # As the engine places a grid's nodes: both ends exact, whatever the
    # rounding of the step.
    steps = int(np.rint((end - start) / step))
    i = np.arange(steps + 1, dtype=np.float64)
    nodes = start + (end - start) * i / steps
    nodes[-1] = end
    return nodes


@dataclass
class PointGrid:
    """A regular grid of computation points, row by row from the south-west corner.

    Parameters
    ----------
    west, east, south, north : float
        Edges, degrees; the nodes lie on them.
    step : float
        Degrees between neighbouring nodes, both ways; must divide both ranges.
    height : float
        Metres above sea level, or above the first surface with ``above_surface``.
    above_surface : bool
        Count ``height`` from the top of the first surface at each node.
    """

    west: float
    east: float
    south: float
    north: float
    step: float
    height: float = 0.0
    above_surface: bool = False

    def _spec(self):
        return (float(self.west), float(self.east), float(self.south), float(self.north),
                float(self.step), float(self.height), bool(self.above_surface))

    @property
    def lon(self) -> np.ndarray:
        """Longitudes of the columns, degrees (as the nodes are formed)."""
        return _nodes(self.west, self.east, self.step)

    @property
    def lat(self) -> np.ndarray:
        """Latitudes of the rows, south first, degrees."""
        return _nodes(self.south, self.north, self.step)


@dataclass(frozen=True)
class Zone:
    """One band of spherical distance with its own segment size.

    Parameters
    ----------
    start, end : float
        Inner and outer spherical distance, degrees (0 to 180).
    segment_size : float
        Arc-seconds.
    block_means : bool
        Sample block means of the grids at about the segment size (far bands).
    """

    start: float
    end: float
    segment_size: float
    block_means: bool = False


def _zone_spec(distance, segment_size, zones, preset):
    given = sum(x is not None for x in (zones, preset))
    if given > 1:
        raise ValueError("give zones= or preset=, not both")
    if preset is not None:
        name = str(preset).lower()
        if name not in PRESETS:
            raise ValueError(f"unknown zone preset {preset!r}: the presets are {', '.join(PRESETS)}")
        return ("preset", name)
    if zones is not None:
        bands = []
        for z in zones:
            if not isinstance(z, Zone):
                z = Zone(*z)
            bands.append((float(z.start), float(z.end), float(z.segment_size), bool(z.block_means)))
        if not bands:
            raise ValueError("zones= needs at least one band")
        return ("list", bands)
    start, end = distance
    return ("single", float(start), float(end), float(segment_size))


class Result:
    """The values of a run, one row per computation point, in point order.

    Attributes
    ----------
    lon, lat, number, height : numpy.ndarray, shape (n,)
        The points: degrees, degrees, point number, metres (for a grid of
        points above the surface, the height of the point).
    dte : numpy.ndarray, shape (n,)
        Summed attraction at the point, in ``unit``.
    dte_i : numpy.ndarray, shape (n,) or None
        Summed attraction at the raised point (increment above), in ``unit``;
        None without an increment.
    vgdre : numpy.ndarray, shape (n,) or None
        Summed vertical gradient (DTE(i) - DTE) / increment, mGal/m.
    layer_dte, layer_dte_i, layer_vgdre : numpy.ndarray, shape (n, layers)
        The same per layer, uppermost first (None where the sums are).
    unit : str
        "mGal" or "microGal" (of DTE and DTE(i)).
    zones : list of Zone
        The bands the run integrated over (a preset's as resolved).
    complete : bool
        False for a run stopped by Ctrl-C: only its first points are here.
    total : int
        Points the run was given.
    grid : PointGrid or None
        The grid of points, when the run was on one.

    Values are full doubles: formatted as the result file formats them
    (``"%12.5f"``) they print the result file's digits.
    """

    def __init__(self, values, layers, gradient, unit, zones, complete, total, grid):
        self.lon = values[:, 0].copy()
        self.lat = values[:, 1].copy()
        self.number = values[:, 2].copy()
        self.height = values[:, 3].copy()
        group = 3 if gradient else 1
        width = 4 + group * ((layers + 1) if layers > 1 else 1)
        assert values.shape[1] == width, (values.shape, width)
        if layers > 1:
            per = values[:, 4:4 + group * layers].reshape(len(values), layers, group)
            summed = values[:, 4 + group * layers:]
        else:
            summed = values[:, 4:]
            per = summed.reshape(len(values), 1, group)
        self.dte = summed[:, 0].copy()
        self.dte_i = summed[:, 1].copy() if gradient else None
        self.vgdre = summed[:, 2].copy() if gradient else None
        self.layer_dte = per[:, :, 0].copy()
        self.layer_dte_i = per[:, :, 1].copy() if gradient else None
        self.layer_vgdre = per[:, :, 2].copy() if gradient else None
        self.unit = unit
        self.zones = zones
        self.complete = complete
        self.total = total
        self.grid = grid

    def __len__(self):
        return len(self.dte)

    def __repr__(self):
        state = "complete" if self.complete else f"interrupted, {len(self)} of {self.total} points"
        return f"<globelayers.Result: {len(self)} points, {self.layer_dte.shape[1]} layers, {state}>"

    def to_xarray(self):
        """The values as an ``xarray.Dataset``.

        On a grid of points the variables lie on (lat, lon) and, per layer, on
        (layer, lat, lon); a run interrupted before its last node leaves NaN
        where no point was computed. On points given as arrays they lie on
        (point,) with lon, lat, height and number as coordinates.
        Variables: ``dte``, ``dte_i`` and ``vgdre`` (sums) and
        ``layer_dte``, ``layer_dte_i`` and ``layer_vgdre``.
        """
        import xarray as xr  # only when asked for

        names = {"dte": (self.dte, self.layer_dte, self.unit),
                 "dte_i": (self.dte_i, self.layer_dte_i, self.unit),
                 "vgdre": (self.vgdre, self.layer_vgdre, "mGal/m")}
        long_names = {"dte": "attraction of the layers at the point",
                      "dte_i": "attraction of the layers at the raised point",
                      "vgdre": "vertical gradient of the attraction"}
        layers = np.arange(1, self.layer_dte.shape[1] + 1)
        data_vars = {}
        if self.grid is not None:
            lon, lat = self.grid.lon, self.grid.lat
            cells = lat.size * lon.size

            def on_grid(values, per_layer):
                shape = (lat.size, lon.size) if not per_layer else (lat.size, lon.size, values.shape[1])
                full = np.full((cells,) + shape[2:], np.nan)
                full[:len(values)] = values
                full = full.reshape(shape)
                return np.moveaxis(full, 2, 0) if per_layer else full

            for name, (summed, per, unit) in names.items():
                if summed is None:
                    continue
                attrs = {"units": unit, "long_name": long_names[name]}
                data_vars[name] = (("lat", "lon"), on_grid(summed, False), attrs)
                data_vars["layer_" + name] = (("layer", "lat", "lon"), on_grid(per, True), attrs)
            coords = {"lon": ("lon", lon, {"units": "degrees_east"}),
                      "lat": ("lat", lat, {"units": "degrees_north"}),
                      "layer": layers}
        else:
            for name, (summed, per, unit) in names.items():
                if summed is None:
                    continue
                attrs = {"units": unit, "long_name": long_names[name]}
                data_vars[name] = (("point",), summed, attrs)
                data_vars["layer_" + name] = (("layer", "point"), per.T, attrs)
            coords = {"lon": ("point", self.lon, {"units": "degrees_east"}),
                      "lat": ("point", self.lat, {"units": "degrees_north"}),
                      "height": ("point", self.height, {"units": "m"}),
                      "number": ("point", self.number),
                      "layer": layers}
        return xr.Dataset(data_vars, coords=coords,
                          attrs={"complete": int(self.complete), "source": f"globelayers {__version__}"})


@dataclass
class Calculation:
    """A whole run: the stack, the points and every setting.

    Build one with :func:`from_settings`, or directly; :meth:`run` computes
    it. The fields are those of :func:`compute`.
    """

    surfaces: Sequence[Surface]
    points: object
    distance: tuple = (0.0, 180.0)
    segment_size: float = 3600.0
    zones: Optional[Sequence] = None
    preset: Optional[str] = None
    azimuth: tuple = (0.0, 360.0)
    increment: float = 0.0
    crossing: str = "swap"
    unit: str = "mGal"
    gravity_constant: float = 0.006673
    earth_radius: float = 6371001.0
    threads: int = 0

    def run(self, *, threads: Optional[int] = None,
            progress: Optional[Callable[[int, int], None]] = None) -> Result:
        """Computes every point; see :func:`compute` for what it raises.

        Parameters
        ----------
        threads : int, optional
            Worker threads in place of the calculation's own (0: all cores).
        progress : callable, optional
            Called as ``progress(done, total)`` from the calling thread about
            20 times a second and once at the end; an exception it raises
            stops the run (KeyboardInterrupt gives :class:`Interrupted`).
        """
        threads = self.threads if threads is None else threads
        if isinstance(threads, bool) or not isinstance(threads, (int, np.integer)) or threads < 0:
            raise ValueError(f"threads must be a whole number of 0 or more, not {threads!r}")
        if self.crossing not in _CROSSING:
            raise ValueError(f"crossing must be one of {', '.join(_CROSSING)}, not {self.crossing!r}")
        if self.unit not in _UNITS:
            raise ValueError(f"unit must be mGal or microGal, not {self.unit!r}")
        surfaces = list(self.surfaces)
        if not 2 <= len(surfaces) <= _core.max_layer_rows:
            raise ValueError(
                f"a stack needs 2 to {_core.max_layer_rows} surfaces, not {len(surfaces)}")
        rows = []
        for k, s in enumerate(surfaces, start=1):
            if not isinstance(s, Surface):
                s = Surface(*s) if isinstance(s, (tuple, list)) else Surface(s)
            if s.elevation is None:
                raise ValueError(f"surface {k} has no elevation")
            if k > 1 and s.density is None:
                raise ValueError(f"surface {k} has no density for the layer above it")
            rows.append((_value_spec(s.elevation, f"elevation of surface {k}"),
                         _value_spec(s.density, f"density of surface {k}") if k > 1 else None))
        zone = _zone_spec(self.distance, self.segment_size, self.zones, self.preset)
        grid = None
        points = None
        if isinstance(self.points, PointGrid):
            grid = self.points
        elif isinstance(self.points, Points):
            points = self.points._arrays()
        elif isinstance(self.points, (str, os.PathLike)):
            points = Points.from_file(self.points)._arrays()
        else:
            raise ValueError("points must be globelayers.Points, globelayers.PointGrid or a point file")
        for name, value in (("increment", self.increment), ("gravity_constant", self.gravity_constant),
                            ("earth_radius", self.earth_radius)):
            if not math.isfinite(float(value)):
                raise ValueError(f"{name} {value!r} is not finite")
        az_from, az_to = (float(a) for a in self.azimuth)
        if not az_to > az_from:
            raise ValueError(f"azimuth range {self.azimuth!r}: the end must be greater than the start")
        if zone[0] == "single" and not zone[2] > zone[1]:
            raise ValueError(f"distance range {self.distance!r}: the end must be greater than the start")
        out = _core.run(rows, points, None if grid is None else grid._spec(), zone,
                        float(self.gravity_constant), float(self.earth_radius), az_from, az_to,
                        float(self.increment), _CROSSING[self.crossing], _UNITS[self.unit],
                        int(threads), progress)
        raised = out["raised"]
        if out["failed"]:
            message = out["message"] or "the calculation failed"
            raise (InputError if out["refused_value"] else Error)(message)
        layers = len(rows) - 1
        values = out["values"]
        if values.shape[0] == 0:
            values = np.zeros((0, 4 + (3 if self.increment != 0 else 1) * ((layers + 1) if layers > 1 else 1)))
        result = Result(values, layers, self.increment != 0, self.unit,
                        [Zone(*z) for z in out["zones"]], out["done"] == out["total"] and raised is None,
                        out["total"], grid)
        if raised is not None:
            if isinstance(raised, KeyboardInterrupt):
                raise Interrupted(result) from raised
            raised.result = result
            raise raised
        if progress is not None:
            progress(len(result), result.total)
        return result


def compute(surfaces, points, *, distance=(0.0, 180.0), segment_size=3600.0, zones=None, preset=None,
            azimuth=(0.0, 360.0), increment=0.0, crossing="swap", unit="mGal",
            gravity_constant=0.006673, earth_radius=6371001.0, threads=0, progress=None) -> Result:
    """Computes the attraction of a stack of layers at every point.

    Parameters
    ----------
    surfaces : sequence of Surface
        The boundary surfaces, uppermost first, 2 to 15 (see :class:`Surface`).
    points : Points, PointGrid, str or os.PathLike
        Computation points: arrays, a grid of points, or a point file.
    distance : (float, float)
        Inner and outer spherical distance of the zone, degrees.
    segment_size : float
        Arc-seconds, for the one band of ``distance``.
    zones : sequence of Zone or of (start, end, segment_size[, block_means]), optional
        Contiguous bands from the inner distance out, each with its own
        segment size; replaces ``distance`` and ``segment_size``.
    preset : str, optional
        A zone preset ("standard" or "fine"): bands from the finest grid
        spacing of the run; replaces ``distance`` and ``segment_size``.
    azimuth : (float, float)
        Start and end of the azimuth range, degrees.
    increment : float
        Metres between the point and the raised point; 0: no DTE(i), no VGDRE.
    crossing : {"swap", "top", "bottom"}
        Where the surfaces of a layer cross: swap them and the sign of the
        attraction, or take the upper or the lower surface for both.
    unit : {"mGal", "microGal"}
        Of DTE and DTE(i); VGDRE is in mGal/m.
    gravity_constant : float
        mGal per (g/cm3 times metres) (0.006673: 6.673e-11 m3 kg-1 s-2).
    earth_radius : float
        Metres.
    threads : int
        Worker threads; 0: all cores.
    progress : callable, optional
        ``progress(done, total)``, about 20 times a second.

    Returns
    -------
    Result

    Raises
    ------
    ValueError
        An argument of the wrong kind or shape, or a value no run can use
        (:class:`InputError`, both a ValueError and an Error, carries the
        engine's message).
    FileNotFoundError
        A grid file or point file that does not exist.
    Error
        The engine refused or failed the run (a grid that cannot be read,
        memory...), with the program's message.
    Interrupted
        Ctrl-C stopped the run (a KeyboardInterrupt); its ``result`` holds the
        points completed before, whole points only.

    Notes
    -----
    The calculation releases the GIL and runs on the engine's threads;
    Ctrl-C stops it within a fraction of a second (a grid file being read
    gives up between blocks).
    """
    return Calculation(surfaces, points, distance=distance, segment_size=segment_size, zones=zones,
                       preset=preset, azimuth=azimuth, increment=increment, crossing=crossing, unit=unit,
                       gravity_constant=gravity_constant, earth_radius=earth_radius,
                       threads=threads).run(progress=progress)


def from_settings(path, *, relative_to_file=True) -> Calculation:
    """The calculation that a settings file of the window describes.

    Parameters
    ----------
    path : str or os.PathLike
        A settings file (``.ini``) as the window saves it and the batch runs it.
    relative_to_file : bool
        Take relative grid and point file names from the settings file's
        folder (default). False: from the current directory, as the batch does.

    Returns
    -------
    Calculation
        Its fields may be changed before :meth:`Calculation.run`.

    Raises
    ------
    FileNotFoundError
        The settings file or its point file does not exist.
    ValueError
        The file holds a value the window would refuse, with its message.
    """
    path = os.fspath(path)
    s = _core.read_settings(path)
    base = os.path.dirname(os.path.abspath(path)) if relative_to_file else os.getcwd()

    def placed(name):
        return name if os.path.isabs(name) or name.startswith("NETCDF:") else os.path.join(base, name)

    def value(v):
        return [placed(g) for g in v] if isinstance(v, list) else v

    surfaces = [Surface(value(e), value(d)) for e, d in s["rows"]]
    if s["point_grid"] is not None:
        points = PointGrid(*s["point_grid"])
    else:
        points = Points.from_file(placed(s["point_file"]))
    zone = s["zone"]
    kwargs = {}
    if zone[0] == "single":
        kwargs.update(distance=(zone[1], zone[2]), segment_size=zone[3])
    elif zone[0] == "preset":
        kwargs.update(preset=zone[1])
    else:
        kwargs.update(zones=[Zone(*b) for b in zone[1]])
    return Calculation(surfaces, points, azimuth=(s["azimuth_from"], s["azimuth_to"]),
                       increment=s["increment"], crossing={v: k for k, v in _CROSSING.items()}[s["priority"]],
                       unit={v: k for k, v in _UNITS.items()}[s["unit"]],
                       gravity_constant=s["gravity_constant"], earth_radius=s["earth_radius"], **kwargs)

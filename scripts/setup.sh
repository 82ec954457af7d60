#!/usr/bin/env bash
# Installs what building, testing and running globelayers needs on Debian 12.
# Run as root (or with sudo available). Installs only what is missing.
set -euo pipefail

packages=(
  g++ cmake make pkg-config
  dpkg-dev                  # dpkg-shlibdeps: the Debian package's dependencies (scripts/install-test.sh)
  qt6-base-dev libgl-dev
  qt6-svg-dev               # SVG export of the result map (QSvgGenerator)
  fonts-liberation          # a sans-serif face with the metrics the windows were laid out for
  libgtest-dev libgmock-dev libbenchmark-dev
  libsleef-dev              # vector arc tangents for the segment centres
  libgeographiclib-dev      # independent oracle for the geodesy tests
  libgdal-dev               # GeoTIFF, netCDF and other rasters as grids; the tests write their fixtures with it
  locales                   # a decimal-comma locale for the locale tests
  xvfb xauth                # runs the window headless when no display is there
  clang libclang-rt-14-dev  # libFuzzer and sanitizers (optional targets)
  libopenmpi-dev openmpi-bin  # the MPI front end globelayers-mpi and its tests
  gdal-bin                  # gdalinfo: the example's netCDF read back (examples/README.md)
  python3-xarray python3-netcdf4  # a grid run's netCDF read back with xarray in the tests
  python3-dev pybind11-dev python3-numpy  # the Python module globelayers (python/)
  python3-pytest            # the Python module's tests
  python3-matplotlib        # the map of docs/python.md
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  as_root apt-get update -qq
  DEBIAN_FRONTEND=noninteractive as_root apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# A German locale whose decimal separator is a comma: the tests prove that
# files keep the decimal point whatever the process locale says.
if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf8$'; then
  as_root sed -i 's/^# *de_DE.UTF-8 UTF-8/de_DE.UTF-8 UTF-8/' /etc/locale.gen
  grep -q '^de_DE.UTF-8 UTF-8' /etc/locale.gen || echo 'de_DE.UTF-8 UTF-8' | as_root tee -a /etc/locale.gen >/dev/null
  as_root locale-gen >/dev/null
fi

#!/usr/bin/env bash
# Installs a build as a user would and checks what lands where:
#   scripts/install-test.sh [BUILD_DIR]      (default: build)
# 1. cmake --install into a staging root (DESTDIR): programs, desktop entry,
#    icon, man page, documentation and example in their places.
# 2. cpack builds the Debian package; its dependencies are Debian packages
#    installed here; dpkg installs it into a fresh root (an empty package
#    database: its dependencies are checked against this system instead).
# 3. From that root: --version of every front end prints the version of
#    project(), and the installed batch runs the installed example into the
#    expected result file, byte for byte; in a build with the Python module,
#    the installed module prints the same lines from the installed example.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(cd "${1:-build}" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() { echo "install test: $*" >&2; exit 1; }

version=$(sed -n 's/^project(globelayers VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[ -n "$version" ] || fail "no version in CMakeLists.txt's project()"
gui=$(sed -n 's/^GLOBELAYERS_GUI:BOOL=//p' "$build/CMakeCache.txt")
python=$(sed -n 's/^GLOBELAYERS_PYTHON:BOOL=//p' "$build/CMakeCache.txt")

# 1. A staging root.
DESTDIR="$work/stage" cmake --install "$build" --prefix /usr >/dev/null
stage="$work/stage/usr"
expected_files=(
  bin/globelayers-batch
  share/man/man1/globelayers-batch.1
  share/doc/globelayers/README.md
  share/doc/globelayers/docs/window.md
  share/doc/globelayers/examples/example.ini
)
if [ "$gui" != OFF ]; then
  expected_files+=(bin/globelayers share/applications/globelayers.desktop
                   share/icons/hicolor/scalable/apps/globelayers.svg share/man/man1/globelayers.1)
fi
for f in "${expected_files[@]}"; do
  [ -f "$stage/$f" ] || fail "cmake --install left out $f"
done
if [ "$python" = ON ]; then
  ls "$stage"/lib/python3/dist-packages/globelayers/_core.*.so >/dev/null 2>&1 ||
    fail "cmake --install left out the Python module's extension"
  [ -f "$stage/lib/python3/dist-packages/globelayers/__init__.py" ] ||
    fail "cmake --install left out the Python module's __init__.py"
fi
if [ "$gui" != OFF ] && command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$stage/share/applications/globelayers.desktop" || fail "desktop entry refused"
fi

# 2. The Debian package, installed into a fresh root.
(cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/package" >/dev/null 2>&1) ||
  fail "cpack could not build the package"
deb=$(ls "$work"/package/globelayers_*.deb 2>/dev/null | head -n1)
[ -n "$deb" ] || fail "cpack made no .deb"
depends=$(dpkg-deb -f "$deb" Depends)
echo "package $(basename "$deb"), Depends: $depends"
for need in libc6 libstdc++6; do
  [[ "$depends" == *"$need"* ]] || fail "Depends lacks $need"
done
if [ "$python" = ON ]; then
  for need in python3 python3-numpy; do
    [[ "$depends" == *"$need"* ]] || fail "Depends lacks $need"
  done
fi
if [ "$gui" != OFF ]; then
  for need in libqt6widgets6 qt6-qpa-plugins fonts-liberation; do
    [[ "$depends" == *"$need"* ]] || fail "Depends lacks $need"
  done
fi
# Every dependency is a Debian package that is installed here.
IFS=',' read -ra entries <<<"$depends"
for entry in "${entries[@]}"; do
  name=$(echo "$entry" | sed 's/[(|].*//; s/ //g')
  dpkg-query -W -f='${Status}' "$name" 2>/dev/null | grep -q "install ok installed" ||
    fail "dependency $name is not an installed Debian package"
done
root="$work/root"
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
touch "$root/var/lib/dpkg/status"
dpkg --root="$root" --force-depends --force-not-root -i "$deb" >"$work/dpkg.log" 2>&1 ||
  { cat "$work/dpkg.log" >&2; fail "dpkg could not install the package into a fresh root"; }
dpkg --root="$root" -s globelayers | grep -q "^Status: install ok installed" ||
  fail "the package is not installed in the fresh root"

# 3. The installed programs.
[ "$("$root/usr/bin/globelayers-batch" --version)" = "globelayers-batch $version" ] ||
  fail "globelayers-batch --version does not print $version"
if [ "$gui" != OFF ]; then
  [ "$(env -u DISPLAY -u WAYLAND_DISPLAY "$root/usr/bin/globelayers" --version)" = "globelayers $version" ] ||
    fail "globelayers --version does not print $version"
fi
cp -r "$root/usr/share/doc/globelayers/examples" "$work/run"
(cd "$work/run" && "$root/usr/bin/globelayers-batch" example.ini) || fail "the installed batch failed on the example"
cmp "$work/run/stations_example_dce.dat" "$work/run/expected/stations_example_dce.dat" ||
  fail "the installed batch's result differs from examples/expected"
if [ "$python" = ON ]; then
  # Debian's interpreter, with the fresh root's dist-packages in place of /usr's.
  (cd "$work/run" && PYTHONPATH="$root/usr/lib/python3/dist-packages" /usr/bin/python3 -c "
import globelayers as gl
r = gl.from_settings('example.ini').run(threads=2)
for i in range(len(r)):
    print('%11.6f %11.6f %10.0f %10.3f' % (r.lon[i], r.lat[i], r.number[i], r.height[i])
          + ''.join(' %12.5f %12.5f %12.5f' % (r.layer_dte[i, k], r.layer_dte_i[i, k], r.layer_vgdre[i, k])
                    for k in range(r.layer_dte.shape[1]))
          + ' %12.5f %12.5f %12.5f' % (r.dte[i], r.dte_i[i], r.vgdre[i]))
" >"$work/python.txt") || fail "the installed Python module failed on the example"
  grep -q "$root/usr/lib/python3/dist-packages/globelayers" <(cd "$work/run" &&
    PYTHONPATH="$root/usr/lib/python3/dist-packages" /usr/bin/python3 -c "import globelayers; print(globelayers.__file__)") ||
    fail "python3 imported another globelayers than the installed one"
  tail -n +2 "$work/run/expected/stations_example_dce.dat" | cmp - "$work/python.txt" ||
    fail "the installed Python module's numbers differ from examples/expected"
  head -n 3 "$work/python.txt"
fi
echo "install test passed: $(basename "$deb") installed into a fresh root and run"

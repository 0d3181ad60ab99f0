#!/usr/bin/env bash
# Builds a release in its own folder (no tests, no benchmarks: cpack builds
# everything it configures) and makes the Debian package, then lists it and
# runs the packaged odx-outline from an unpacked copy on the sample.
# Usage: scripts/package.sh [BUILD_DIR]   (default build/package)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build/package}"

bash "$root/scripts/install-deps.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DODX_BUILD_TESTS=OFF -DODX_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j2
rm -f "$build"/odx-viewer_*.deb
(cd "$build" && cpack -G DEB)

debs=("$build"/odx-viewer_*.deb)
deb="${debs[0]}"
echo "== $deb"
dpkg-deb --info "$deb"
dpkg -c "$deb"

scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
dpkg -x "$deb" "$scratch"
link="$scratch/usr/bin/odx-outline"
echo "== $link -> $(readlink "$link") (application directory $(dirname "$(readlink -f "$link")"))"
echo "== nodes in the sample: $("$link" --count "$root/samples/engine-ecu.odx")"

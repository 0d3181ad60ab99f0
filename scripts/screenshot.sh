#!/usr/bin/env bash
# Runs the real window under a virtual X server with FILE loaded (a corpus
# file by default) and saves what it shows as a PNG.
# Usage: scripts/screenshot.sh [FILE] [OUT.png] [BUILD_DIR]
# ODX_SCREENSHOT_FILTER=TERM picks the filter search shown (short-name).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
file="${1:-$root/tests/data/corpus/cda__ISO_13400_2.odx-cs}"
out="${2:-$root/build/screenshot.png}"
build="${3:-$root/build/dev}"

if [ ! -x "$build/viewer/odx-viewer" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null
  cmake --build "$build" --target odx-viewer -j2 >/dev/null
fi
command -v xvfb-run >/dev/null || { echo "xvfb-run is missing (apt-get install xvfb)" >&2; exit 1; }

# A scratch settings folder: the screenshot never touches the user's store.
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$(dirname "$out")"
XDG_CONFIG_HOME="$scratch" ODX_SCREENSHOT="$out" \
  ODX_SCREENSHOT_FILTER="${ODX_SCREENSHOT_FILTER:-short-name}" \
  xvfb-run -a -s "-screen 0 1280x800x24" \
  "$build/viewer/odx-viewer" "$file"
echo "$out"

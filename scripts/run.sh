#!/usr/bin/env bash
# Builds what is missing and opens the viewer on FILE, or on the bundled
# sample when no file is named.  Without a display it prints the outline.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

bash scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release --target odx-viewer odx-outline >/dev/null

file="${1:-$root/samples/engine-ecu.odx}"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display found (DISPLAY and WAYLAND_DISPLAY are unset); printing the outline of $file instead." >&2
  exec "$root/build/release/tools/odx-outline" "$file"
fi
exec "$root/build/release/app/odx-viewer" "$file"

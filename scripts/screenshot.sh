#!/usr/bin/env bash
# Runs the real window under a virtual X server with FILE loaded (a corpus
# file by default), drives it from outside as a user would (Ctrl+F, a term,
# Enter, F3) and saves what the window shows as a PNG.
# Usage: scripts/screenshot.sh [FILE] [OUT.png] [BUILD_DIR]
# ODX_SCREENSHOT_FILTER=TERM picks the filter search shown (short-name).
# Needs xvfb-run, xdotool, xwd (x11-apps) and convert (imagemagick):
# scripts/install-deps.sh installs them.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
file="${1:-$root/tests/data/corpus/cda__ISO_13400_2.odx-cs}"
out="${2:-$root/build/screenshot.png}"
build="${3:-$root/build/dev}"
term="${ODX_SCREENSHOT_FILTER:-short-name}"

if [ ! -x "$build/app/odx-viewer" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null
  cmake --build "$build" --target odx-viewer -j2 >/dev/null
fi
for tool in xvfb-run xdotool xwd convert; do
  command -v "$tool" >/dev/null ||
    { echo "$tool is missing (scripts/install-deps.sh)" >&2; exit 1; }
done

# A scratch settings folder: the screenshot never touches the user's store.
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$(dirname "$out")"
out="$(cd "$(dirname "$out")" && pwd)/$(basename "$out")"

cat >"$scratch/shoot.sh" <<'SHOOT'
#!/usr/bin/env bash
set -euo pipefail
viewer="$1" file="$2" out="$3" term="$4"
"$viewer" "$file" &
pid=$!
trap 'kill "$pid" 2>/dev/null || true' EXIT
window="$(timeout 20 xdotool search --sync --onlyvisible --name 'Wren ODX Viewer' | head -n 1)"
sleep 1.5 # the outline is built just after the window appears
xdotool windowfocus --sync "$window"
xdotool key --clearmodifiers ctrl+f
xdotool type --delay 20 "$term"
xdotool key Return F3
sleep 1
xwd -id "$window" -silent | convert xwd:- "png:$out"
SHOOT
chmod +x "$scratch/shoot.sh"

XDG_CONFIG_HOME="$scratch" xvfb-run -a -s "-screen 0 1280x800x24" \
  "$scratch/shoot.sh" "$build/app/odx-viewer" "$file" "$out" "$term"
echo "$out"

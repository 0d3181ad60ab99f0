#!/usr/bin/env bash
# The real window on a virtual X server: the window and its message box
# carry exactly their captions, with nothing appended by the toolkit.
# Usage: check_captions.sh ODX_VIEWER SAMPLE_FILE
set -euo pipefail
viewer="$1" sample="$2"
# The real window, whatever platform the rest of the tests run on.
export QT_QPA_PLATFORM=xcb
# Under AddressSanitizer: the X keyboard library hands strndup buffers that
# end without a zero, which the strict string check takes for an overflow.
export ASAN_OPTIONS="${ASAN_OPTIONS:-}:strict_string_checks=0"
for tool in xvfb-run xdotool; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is missing"; exit 0; }
done
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT

cat >"$scratch/look.sh" <<'LOOK'
#!/usr/bin/env bash
set -euo pipefail
viewer="$1" file="$2" wanted="$3"
"$viewer" "$file" &
pid=$!
trap 'kill "$pid" 2>/dev/null || true' EXIT
# Every visible window of the program, by its exact name.
window="$(timeout 20 xdotool search --sync --all --onlyvisible --pid "$pid" --name "^$wanted\$" | head -n 1)"
name="$(xdotool getwindowname "$window")"
[ "$name" = "$wanted" ] || { echo "FAIL: window named '$name', not '$wanted'"; exit 1; }
echo "ok: $name"
LOOK
chmod +x "$scratch/look.sh"

run() {
  XDG_CONFIG_HOME="$scratch" timeout 60 xvfb-run -a -s "-screen 0 1280x800x24" \
    "$scratch/look.sh" "$viewer" "$1" "$2"
}
run "$sample" "Kestrane Wren ODX Viewer - 0.1"
run "$scratch/missing.odx" "Kestrane ODX Parser"

#!/usr/bin/env bash
# The viewer's command line: --help and --version answer without a display,
# an unknown option or a second file is refused with the usage line, and
# none of them opens or remembers anything.
# Usage: check_cli.sh ODX_VIEWER
set -uo pipefail
viewer="$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
export XDG_CONFIG_HOME="$scratch/config" QT_QPA_PLATFORM=offscreen
unset DISPLAY WAYLAND_DISPLAY
failed=0
check() { # WANTED_STATUS WANTED_OUTPUT_PATTERN ARGS...
  local status=$1 pattern=$2
  shift 2
  out="$(cd "$scratch" && timeout 20 "$viewer" "$@" 2>&1)"
  got=$?
  if [ "$got" != "$status" ] || ! grep -Eq -- "$pattern" <<<"$out"; then
    echo "FAIL: odx-viewer $*: status $got (wanted $status), output: $out"
    failed=1
  fi
}
check 0 '^usage: odx-viewer \[--help \| --version\] \[FILE\]' --help
check 0 '^ODX Viewer [0-9]+\.[0-9]+\.[0-9]+$' --version
check 0 '^usage: ' somefile --help
check 2 'unknown option --x' --x
check 2 'unknown option --help-me' --help-me
check 2 'one file at a time, not b\.odx' a.odx b.odx
check 2 '^usage: ' -- --x extra
if [ -e "$scratch/config/kestrane/Orrery.ini" ] &&
   grep -q ODXViewerLastFile "$scratch/config/kestrane/Orrery.ini"; then
  echo "FAIL: a refused command line remembered a file"
  failed=1
fi
[ "$failed" = 0 ] && echo "ok"
exit "$failed"

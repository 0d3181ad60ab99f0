#!/usr/bin/env bash
# The window's outline build and filter searches on a generated file, beside
# `odx-outline --count` on the same file in the same run.
# Usage: bench/window_bench.sh [SIZE_MB] [COMMON_TERM]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
size="${1:-500}"
common="${2:-e}"
build="$root/build/release"

cmake --preset release >/dev/null
cmake --build --preset release --target odx-outline window-bench >/dev/null

data="$build/bench-data"
mkdir -p "$data"
file="$data/gen-${size}mb-seed1.odx"
[ -f "$file" ] || python3 "$root/../shared/tools/gen_odx.py" --size-mb "$size" --seed 1 -o "$file"
bytes=$(stat -L -c %s "$file")
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT

"$build/tools/odx-outline" --count "$file" >/dev/null   # warm the page cache
t0=$(date +%s.%N)
"$build/tools/odx-outline" --count "$file" >/dev/null
t1=$(date +%s.%N)
cli=$(echo "$t1 - $t0" | bc -l)

out=$(XDG_CONFIG_HOME="$scratch" QT_QPA_PLATFORM=offscreen "$build/bench/window-bench" "$file" qxzj "$common")
echo "$out"
build_s=$(echo "$out" | awk '/^build/ {print $2}')
rss_kib=$(echo "$out" | awk '/^peak RSS/ {print $3}')
echo "odx-outline --count: ${cli}s"
echo "window build / command line: $(echo "scale=2; $build_s / $cli" | bc -l)   (goal <= 1.3)"
echo "peak RSS: $(echo "scale=2; $rss_kib * 1024 / $bytes" | bc -l) x file   (goal <= 3)"

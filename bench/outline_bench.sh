#!/usr/bin/env bash
# Whole-process timing of the outline build against the memchr limit on a
# generated file.  Usage: bench/outline_bench.sh [SIZE_MB] [RUNS]
# Prints medians, the ratio build/limit, the peak RSS of the build and the
# time of a filter search that finds nothing.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
size="${1:-500}"
runs="${2:-5}"
build="$root/build/release"
shared="$root/../shared"

cmake --preset release >/dev/null
cmake --build --preset release --target odx-outline memchr-count >/dev/null

data="$build/bench-data"
mkdir -p "$data"
file="$data/gen-${size}mb-seed1.odx"
[ -f "$file" ] || python3 "$shared/tools/gen_odx.py" --size-mb "$size" --seed 1 -o "$file"
bytes=$(stat -L -c %s "$file")

now() { date +%s.%N; }
time_of() { local t0 t1; t0=$(now); "$@" >/dev/null; t1=$(now); echo "$t1 - $t0" | bc -l; }
median() { sort -g | awk '{a[NR]=$1} END {print (NR%2) ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2}'; }

a=(); b=(); f=()
"$build/tools/odx-outline" --count "$file" >/dev/null   # warm the page cache
for ((i = 0; i < runs; i++)); do
  a+=("$(time_of "$build/tools/odx-outline" --count "$file")")
  b+=("$(time_of "$build/bench/memchr-count" "$file")")
  f+=("$(time_of "$build/tools/odx-outline" --filter qxzj "$file")")
done
ma=$(printf '%s\n' "${a[@]}" | median)
mb=$(printf '%s\n' "${b[@]}" | median)
mf=$(printf '%s\n' "${f[@]}" | median)
rss_kb=$(/usr/bin/time -f %M "$build/tools/odx-outline" --count "$file" 2>&1 >/dev/null | tail -n 1)
nodes=$("$build/tools/odx-outline" --count "$file")

mbs() { echo "scale=1; $bytes / 1000000 / $1" | bc -l; }
echo "file:                      $file ($bytes bytes, $nodes nodes)"
echo "(a) odx-outline --count:   median ${ma}s  ($(mbs "$ma") MB/s)"
echo "(b) read + memchr '<':     median ${mb}s  ($(mbs "$mb") MB/s)"
echo "ratio a/b:                 $(echo "scale=2; $ma / $mb" | bc -l)   (goal <= 2.5)"
echo "peak RSS of (a):           $((rss_kb / 1024)) MiB = $(echo "scale=2; $rss_kb * 1024 / $bytes" | bc -l) x file   (goal <= 2.5)"
echo "--filter qxzj:             median ${mf}s = $(echo "scale=2; $mf / $ma" | bc -l) x --count   (goal <= 1.3)"

#!/usr/bin/env bash
# The ODX index on a generated file: odx-bench (index build beside the
# outline build in one process, Go to Definition and Find Usages latency,
# bytes per node), then `odx-outline --refs --count` beside `--count`, the
# two timed in turn run by run.
# Usage: bench/odx_bench.sh [SIZE_MB] [RUNS] [SEED]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
size="${1:-500}"
runs="${2:-5}"
seed="${3:-1}"
build="$root/build/release"

cmake --preset release >/dev/null
cmake --build --preset release --target odx-outline odx-bench >/dev/null

data="$build/bench-data"
mkdir -p "$data"
file="$data/gen-${size}mb-seed${seed}.odx"
[ -f "$file" ] || python3 "$root/../shared/tools/gen_odx.py" --size-mb "$size" --seed "$seed" -o "$file"

now() { date +%s.%N; }
time_of() { local t0 t1; t0=$(now); "$@" >/dev/null; t1=$(now); echo "$t1 - $t0" | bc -l; }
median() { sort -g | awk '{a[NR]=$1} END {print (NR%2) ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2}'; }

echo "file: $file ($(stat -L -c %s "$file") bytes)"
"$build/bench/odx-bench" "$file" "$runs"

tool="$build/tools/odx-outline"
"$tool" --count "$file" >/dev/null   # warm the page cache
c=(); r=()
for ((i = 0; i < runs; i++)); do
  c+=("$(time_of "$tool" --count "$file")")
  r+=("$(time_of "$tool" --refs --count "$file")")
done
mc=$(printf '%s\n' "${c[@]}" | median)
mr=$(printf '%s\n' "${r[@]}" | median)
echo "odx-outline --count:       median ${mc}s"
echo "odx-outline --refs --count: median ${mr}s = $(echo "scale=2; $mr / $mc" | bc -l) x --count   (goal <= 1.3)"

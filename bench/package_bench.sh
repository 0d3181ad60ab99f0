#!/usr/bin/env bash
# Reading a package against unzip.  Packs the generated 200 MB file (seed 1)
# with two small members into a deflated package and prints medians of:
#   (u) unzip -p of the big member to /dev/null, the yardstick;
#   (r) package-read: the package stage alone reading every member;
#   (p) odx-outline --count on the package;
#   (f) odx-outline --count on the unpacked member;
# with the ratios r/u, p/u and p/f and the peak RSS of (r), (p) and (f).
# (p) and (f) are only timed once odx-outline opens packages; until then the
# script says so.
# Usage: bench/package_bench.sh [RUNS]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
runs="${1:-5}"
size=200
build="$root/build/release"
shared="$root/../shared"

command -v unzip >/dev/null || { echo "unzip not found (scripts/install-deps.sh installs it)"; exit 2; }
cmake --preset release >/dev/null
cmake --build --preset release --target odx-outline package-read >/dev/null
outline="$build/tools/odx-outline"
reader="$build/bench/package-read"

data="$build/bench-data"
mkdir -p "$data"
file="$data/gen-${size}mb-seed1.odx"
pdx="$data/gen-${size}mb-seed1.pdx"
probe="$data/package-probe.pdx"
[ -f "$file" ] || python3 "$shared/tools/gen_odx.py" --size-mb "$size" --seed 1 -o "$file"
python3 - "$file" "$pdx" "$probe" <<'PY'
import os, sys, zipfile
big, pdx, probe = sys.argv[1:]
if not os.path.exists(pdx) or os.path.getmtime(pdx) < os.path.getmtime(big):
    with zipfile.ZipFile(pdx + ".part", "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr("index.xml", '<?xml version="1.0"?>\n<CATALOG><ABLOCK/></CATALOG>\n')
        z.write(big, "gen.odx-d")
        z.writestr("jobs.py", "print('job')\n")
    os.replace(pdx + ".part", pdx)
with zipfile.ZipFile(probe, "w", zipfile.ZIP_DEFLATED) as z:
    z.writestr("package-probe.xml", '<?xml version="1.0"?>\n<PROBE/>\n')
PY
bytes=$(stat -L -c %s "$file")
packed=$(stat -L -c %s "$pdx")

now() { date +%s.%N; }
time_of() { local t0 t1; t0=$(now); "$@" >/dev/null; t1=$(now); echo "$t1 - $t0" | bc -l; }
median() { sort -g | awk '{a[NR]=$1} END {print (NR%2) ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2}'; }
ratio() { echo "scale=2; $1 / $2" | bc -l; }
rss_mib() { /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -n 1 | awk '{print int($1 / 1024)}'; }

# A package-aware odx-outline shows the member's name as a node of its own.
packages=no
"$outline" "$probe" 2>/dev/null | grep -q 'package-probe\.xml' && packages=yes

u=(); r=(); p=(); f=()
unzip -p "$pdx" gen.odx-d >/dev/null   # warm the page cache
for ((i = 0; i < runs; i++)); do
  u+=("$(time_of unzip -p "$pdx" gen.odx-d)")
  r+=("$(time_of "$reader" "$pdx")")
  if [ "$packages" = yes ]; then
    p+=("$(time_of "$outline" --count "$pdx")")
    f+=("$(time_of "$outline" --count "$file")")
  fi
done
mu=$(printf '%s\n' "${u[@]}" | median)
mr=$(printf '%s\n' "${r[@]}" | median)

echo "member:                    $file ($bytes bytes)"
echo "package:                   $pdx ($packed bytes, deflated)"
echo "(u) unzip -p member:       median ${mu}s"
echo "(r) package-read package:  median ${mr}s   r/u $(ratio "$mr" "$mu")   peak RSS $(rss_mib "$reader" "$pdx") MiB"
if [ "$packages" = yes ]; then
  mp=$(printf '%s\n' "${p[@]}" | median)
  mf=$(printf '%s\n' "${f[@]}" | median)
  echo "(p) odx-outline package:   median ${mp}s   peak RSS $(rss_mib "$outline" --count "$pdx") MiB"
  echo "(f) odx-outline member:    median ${mf}s   peak RSS $(rss_mib "$outline" --count "$file") MiB"
  echo "ratios:                    p/u $(ratio "$mp" "$mu")   p/f $(ratio "$mp" "$mf")"
else
  echo "(p), (f): skipped: odx-outline does not open packages yet"
fi

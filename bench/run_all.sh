#!/usr/bin/env bash
# Every benchmark in one run, as the table the README shows: each figure
# beside its yardstick, measured in turn run by run on the same machine, and
# the ratio with its goal.  Medians of RUNS runs (default 5).  The inputs are
# generated once (bench/gen_odx.py) into ODX_BENCH_DATA, by default
# build/release/bench-data; point it outside the tree to keep them across
# clean builds.  With ODX_BASELINE set to another build's odx-outline (the
# code before a change), every input size is also timed with it, paired run
# by run: "no size got slower" is then a table, not a claim.
# Usage: [ODX_BENCH_DATA=DIR] [ODX_BASELINE=FILE] bench/run_all.sh [RUNS]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
runs="${1:-5}"
build="$root/build/release"

command -v unzip >/dev/null || { echo "unzip not found (scripts/install-deps.sh installs it)" >&2; exit 2; }
cmake --preset release >/dev/null
targets=(odx-outline memchr-count bench_tokenize window-bench package-read)
[ -f "$root/bench/odx_bench.cpp" ] && targets+=(odx-bench)
[ -f "$root/bench/services_bench.cpp" ] && targets+=(services-bench)
cmake --build --preset release --target "${targets[@]}" >/dev/null

# --- inputs ------------------------------------------------------------------
data="${ODX_BENCH_DATA:-$build/bench-data}"
mkdir -p "$data"
big="$data/odx-500mb-seed11.odx"        # the file the goals are set on
utf8="$data/utf8-100mb.odx"             # a fifth of its texts non-ASCII
member="$data/odx-200mb-seed1.odx"      # packed with two small members
pdx="$data/odx-200mb-seed1.pdx"
huge="$data/huge-description.odx"       # one 5.7 MB description
gen() { [ -f "$2" ] || python3 "$root/bench/gen_odx.py" --size-mb "$1" --seed "$3" -o "$2"; }
gen 500 "$big" 11
gen 200 "$member" 1
hundred="$data/odx-100mb-seed1.odx"
utf16="$data/utf16-100mb.odx"           # the same in UTF-16 with a mark
small="$data/odx-1mb-seed1.odx"
tiny="$data/odx-1kb.odx"                # its first kilobyte
gen 100 "$hundred" 1
gen 1 "$small" 1
[ -f "$utf8" ] || python3 "$root/bench/non_ascii_variant.py" "$hundred" "$utf8" >/dev/null
[ -f "$tiny" ] || head -c 1000 "$small" >"$tiny"
python3 - "$member" "$pdx" "$huge" "$hundred" "$utf16" <<'PY'
import os, sys, zipfile
member, pdx, huge, hundred, utf16 = sys.argv[1:]
if not os.path.exists(utf16):
    with open(hundred, encoding="utf-8") as f, open(utf16 + ".part", "wb") as out:
        out.write(f.read().encode("utf-16"))
    os.replace(utf16 + ".part", utf16)
if not os.path.exists(pdx):
    with zipfile.ZipFile(pdx + ".part", "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr("index.xml", '<?xml version="1.0"?>\n<CATALOG><ABLOCK/></CATALOG>\n')
        z.write(member, "gen.odx-d")
        z.writestr("jobs.py", "print('job')\n")
    os.replace(pdx + ".part", pdx)
if not os.path.exists(huge):
    with open(huge, "w") as f:
        f.write('<?xml version="1.0"?>\n<ODX><DESC>\n<p>' + "word " * 1_140_000 + "</p></DESC>")
        f.write("".join("<A%d>v</A%d>" % (i, i) for i in range(2000)) + "</ODX>")
PY

# --- helpers -----------------------------------------------------------------
outline="$build/tools/odx-outline"
limit="$build/bench/memchr-count"
now() { date +%s.%N; }
time_of() { local t0 t1; t0=$(now); "$@" >/dev/null 2>&1; t1=$(now); echo "$t1 - $t0" | bc -l; }
median() { sort -g | awk '{a[NR]=$1} END {printf "%.3f\n", (NR%2) ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2}'; }
ratio() { printf '%.2f' "$(echo "$1 / $2" | bc -l)"; }
rss_kib() { /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -n 1; }
bytes_of() { stat -L -c %s "$1"; }
row() { printf '| %s | %s | %s | %s | %s |\n' "$@"; }

# Times each command of a group in turn, RUNS times; prints their medians.
declare -A med
measure() {
  local -a names=("$@")
  declare -A all=()
  for ((i = 0; i < runs; i++)); do
    for n in "${names[@]}"; do all[$n]+="$(time_of ${cmd[$n]}) "; done
  done
  for n in "${names[@]}"; do med[$n]=$(printf '%s\n' ${all[$n]} | median); done
}
declare -A cmd

"$outline" --count "$big" >/dev/null; "$limit" "$big" >/dev/null   # page cache
cmd[build]="$outline --count $big"
cmd[memchr]="$limit $big"
cmd[memchr_large]="$limit --large-pages $big"
cmd[memchr_stream]="$limit --stream $big"
cmd[filter]="$outline --filter qxzj $big"
cmd[utf8]="$outline --count $utf8"
cmd[utf8_memchr]="$limit $utf8"
cmd[unzip]="unzip -p $pdx gen.odx-d"
cmd[package]="$outline --count $pdx"
cmd[single]="$outline --count $member"
cmd[read]="$build/bench/package-read $pdx"
measure build memchr_stream memchr_large memchr filter
measure utf8 utf8_memchr
measure unzip read package single

bigbytes=$(bytes_of "$big")
nodes=$("$outline" --count "$big")
build_rss=$(rss_kib "$outline" --count "$big")
package_rss=$(rss_kib "$outline" --count "$pdx")
single_rss=$(rss_kib "$outline" --count "$member")
memberbytes=$(bytes_of "$member")

window=$(XDG_CONFIG_HOME="$(mktemp -d)" QT_QPA_PLATFORM=offscreen "$build/bench/window-bench" "$big" qxzj e 2>/dev/null)
keys=$(XDG_CONFIG_HOME="$(mktemp -d)" QT_QPA_PLATFORM=offscreen "$build/bench/window-bench" "$huge" qxzj e 2>/dev/null)
w_build=$(echo "$window" | awk '/^build/ {print $2}')
w_rare=$(echo "$window" | awk '/^search .qxzj./ {print $3}')
w_common=$(echo "$window" | awk '/^search .e./ {print $3}')
w_hits=$(echo "$window" | awk '/^search .e./ {print $5}')
w_rss=$(echo "$window" | awk '/^peak RSS/ {print $3}')
k_slowest=$(echo "$keys" | awk '/^keys/ {print $(NF-1)}')
k_search=$(echo "$keys" | awk '/^search .e./ {print $3}')
tokens=$("$build/bench/bench_tokenize" "$data/odx-100mb-seed1.odx" 2>/dev/null | awk '/ratio/ {r = $(NF-1) " %"} END {print r}')

echo "Input: $big ($bigbytes bytes, $nodes nodes); medians of $runs runs on $(nproc) cores."
echo
row "Figure" "Value" "Yardstick" "Ratio" "Goal"
row "---" "---" "---" "---" "---"
row "outline build, \`odx-outline --count\`" "${med[build]} s" "1 MiB reads + memchr ${med[memchr_stream]} s" "$(ratio "${med[build]}" "${med[memchr_stream]}")" "<= 4 (aim 2.5)"
row "the same against a whole-file read on large pages" "${med[build]} s" "read + memchr ${med[memchr_large]} s" "$(ratio "${med[build]}" "${med[memchr_large]}")" "-"
row "the same against a whole-file read" "${med[build]} s" "read + memchr ${med[memchr]} s" "$(ratio "${med[build]}" "${med[memchr]}")" "-"
row "peak RSS of the build" "$((build_rss / 1024)) MiB" "the file $((bigbytes / 1048576)) MiB" "$(ratio "$build_rss * 1024" "$bigbytes")" "<= 0.6 (aim 0.45)"
row "\`--filter\` with no hits" "${med[filter]} s" "\`--count\` ${med[build]} s" "$(ratio "${med[filter]}" "${med[build]}")" "<= 1.3"
row "100 MB, 20 % non-ASCII texts" "${med[utf8]} s" "read + memchr ${med[utf8_memchr]} s" "$(ratio "${med[utf8]}" "${med[utf8_memchr]}")" "<= 2.2"
row "window build" "$w_build s" "\`--count\` ${med[build]} s" "$(ratio "$w_build" "${med[build]}")" "<= 1.05"
row "window search without hits" "$w_rare s" "-" "-" "<= 0.05 s"
row "window search hitting $w_hits nodes" "$w_common s" "-" "-" "<= 0.3 s"
row "window peak RSS after it" "$((w_rss / 1024)) MiB" "the file" "$(ratio "$w_rss * 1024" "$bigbytes")" "<= 1.9"
row "slowest key press, 5.7 MB description" "$k_slowest s" "-" "-" "<= 0.05 s"
row "search over that description" "$k_search s" "-" "-" "-"
row "package of a 200 MB member" "${med[package]} s" "unzip -p ${med[unzip]} s + member ${med[single]} s" "$(ratio "${med[package]}" "$(echo "${med[unzip]} + ${med[single]}" | bc -l)")" "<= 1"
row "the package stage alone, inflating" "${med[read]} s" "unzip -p ${med[unzip]} s" "$(ratio "${med[read]}" "${med[unzip]}")" "-"
row "its peak RSS" "$((package_rss / 1024)) MiB" "member's build $((single_rss / 1024)) MiB + 1.2 x member" "$(ratio "$package_rss" "($single_rss + 1.2 * $memberbytes / 1024)")" "<= 1"
row "token reader alone, in memory, 100 MB" "-" "memchr over the same bytes" "${tokens:--}" "-"

if [ -x "$build/bench/odx-bench" ]; then
  cmd[refs]="$outline --refs --count $big"
  measure build refs
  odx=$("$build/bench/odx-bench" "$big" "$runs" 2>/dev/null)
  index_s=$(echo "$odx" | awk '/^index build/ {print $4}')
  index_share=$(echo "$odx" | awk '/^index build/ {print $7}')
  odx_build=$(echo "$odx" | awk '/^outline build/ {print $4}')
  jump=$(echo "$odx" | awk '/^go to definition/ {print $8}')
  usages=$(echo "$odx" | awk '/^find usages/ {print $7}')
  per_node=$(echo "$odx" | awk '/^index memory/ {print $3}')
  refs=$(echo "$odx" | awk '/^references:/ {print $2}')
  row "reference index build ($refs references)" "$index_s s" "outline build $odx_build s" "$index_share %" "<= 10 %, <= 0.5 s"
  row "Go to Definition, Find Usages (slowest)" "$jump us, $usages ms" "-" "-" "<= 50 ms"
  row "index memory" "$per_node bytes a node" "-" "-" "<= 16"
  problems_ms=$(echo "$odx" | awk '/^problems list/ {print $3}')
  row "Problems list of the whole file" "$problems_ms ms" "-" "-" "<= 0.5 s"
  row "\`--refs --count\`" "${med[refs]} s" "\`--count\` ${med[build]} s" "$(ratio "${med[refs]}" "${med[build]}")" "<= 1.3"
fi

# The services rules on 20,000 services in 50 layers.
if [ -x "$build/bench/services-bench" ]; then
  svc="$data/services-20000-in-50.odx"
  [ -f "$svc" ] || python3 "$root/bench/gen_odx.py" --services 20000 --layers 50 --seed 5 -o "$svc"
  sv=$("$build/bench/services-bench" "$svc" "$runs" 2>/dev/null)
  sv_build=$(echo "$sv" | awk '/^outline build/ {print $4}')
  sv_count=$(echo "$sv" | awk '/^messages and services/ {print $4}')
  sv_rows=$(echo "$sv" | awk '/^messages and services/ {for (i = 2; i <= NF; i++) if ($i == "effective") print $(i - 1)}')
  sv_prefixes=$(echo "$sv" | awk '/^prefixes of every message/ {print $6}')
  sv_prefix_share=$(echo "$sv" | awk '/^prefixes of every message/ {print $9}')
  sv_effective=$(echo "$sv" | awk '/^all layers/ {print $5}')
  sv_effective_share=$(echo "$sv" | awk '/^all layers/ {print $8}')
  sv_first=$(echo "$sv" | awk '/^find by bytes/ {print $6}')
  sv_find=$(echo "$sv" | awk '/^find by bytes/ {print $13}')
  row "prefixes of every message ($sv_count messages and services)" "$sv_prefixes ms" "outline build $sv_build s" "$sv_prefix_share %" "<= 50 ms"
  row "all layers' effective services ($sv_rows rows)" "$sv_effective ms" "outline build $sv_build s" "$sv_effective_share %" "<= 200 ms"
  row "find by bytes after the first ($sv_first ms), slowest" "$sv_find ms" "-" "-" "<= 20 ms"
fi

# A folder opened as one database against its files opened one by one (each
# a process of its own, so the sum also pays three starts).
folder="$data/folder"
mkdir -p "$folder"
for f in "$member" "$data/odx-100mb-seed1.odx" "$utf8"; do
  ln -sf "$f" "$folder/$(basename "$f")"
done
cmd[folder]="$outline --count $folder"
cmd[f1]="$outline --count $member"
cmd[f2]="$outline --count $data/odx-100mb-seed1.odx"
cmd[f3]="$outline --count $utf8"
measure folder f1 f2 f3
files_sum=$(echo "${med[f1]} + ${med[f2]} + ${med[f3]}" | bc -l)
row "a folder of three files (400 MB), \`--count\`" "${med[folder]} s" "the three alone $(printf '%.3f' "$files_sum") s" "$(ratio "${med[folder]}" "$files_sum")" "<= 1.05"

# --- comparison: NEW is the big file with 1 % of its elements touched -------
newer="$data/odx-500mb-seed11-v2.odx"
[ -f "$newer" ] || python3 "$root/bench/make_version.py" "$big" "$newer" --seed 1 >/dev/null
cmake --build --preset release --target compare-bench >/dev/null
cmd[diff]="$outline --diff --count $big $newer"
measure build diff
# --diff exits 4 when something differs.
diff_rss=$(rss_kib "$outline" --diff --count "$big" "$newer" || true)
newer_rss=$(rss_kib "$outline" --count "$newer")
stages=$("$build/bench/compare-bench" "$big" "$newer" "$runs" 2>/dev/null)
matching=$(echo "$stages" | awk '/^matching/ {print $2}')
matching_share=$(echo "$stages" | awk '/^matching/ {print $5}')
compare_mem=$(echo "$stages" | awk '/^memory/ {print $2}')
changes=$(echo "$stages" | awk '/^changes/ {print $3 + $5 + $7 + $9}')
row "\`--diff --count\`, $changes changes" "${med[diff]} s" "\`--count\` ${med[build]} s" "$(ratio "${med[diff]}" "${med[build]}")" "<= 1.5"
row "its peak RSS" "$((diff_rss / 1024)) MiB" "the two outlines $(((build_rss + newer_rss) / 1024)) MiB" "$(ratio "$diff_rss" "($build_rss + $newer_rss)")" "<= 1.1"
row "matching alone, after the builds and indexes" "$matching s" "outline build" "$matching_share %" "-"
row "comparison memory" "$compare_mem bytes a node" "-" "-" "-"

# --- every size against the code before a change ------------------------------
if [ -n "${ODX_BASELINE:-}" ]; then
  echo
  echo "Against $ODX_BASELINE, paired run by run (medians of $runs):"
  echo
  row "Input" "Build" "Before" "Ratio" "Peak RSS, before"
  row "---" "---" "---" "---" "---"
  for input in "$tiny" "$small" "$hundred" "$big" "$utf8" "$utf16" "$pdx"; do
    cmd[now]="$outline --count $input"
    cmd[before]="$ODX_BASELINE --count $input"
    measure now before
    row "$(basename "$input") ($(bytes_of "$input") bytes)" "${med[now]} s" "${med[before]} s" \
      "$(ratio "${med[now]}" "${med[before]}")" \
      "$(($(rss_kib "$outline" --count "$input") / 1024)) MiB, $(($(rss_kib "$ODX_BASELINE" --count "$input") / 1024)) MiB"
  done
fi

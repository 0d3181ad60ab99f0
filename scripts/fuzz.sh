#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for SECONDS (default
# 30), one after the other.  Prints per target the executions and any
# findings; exits 1 when a target found something.
# Usage: scripts/fuzz.sh [SECONDS] [TARGET...]
# Environment: FUZZ_BUILD_DIR (default build/fuzz), FUZZ_JOBS (default 2).
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
seconds="${1:-30}"
shift || true
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  targets=(fuzz_tokens fuzz_entities fuzz_parse_number fuzz_parse_file_string
           fuzz_file_lines fuzz_outline fuzz_links fuzz_services fuzz_filter fuzz_package
           fuzz_package_outline fuzz_stream fuzz_compare)
fi

if ! command -v clang++ >/dev/null 2>&1; then
  echo "fuzz: skipped: clang not found (install clang to run the fuzz targets)"
  exit 0
fi

build="${FUZZ_BUILD_DIR:-$root/build/fuzz}"
work="$build/fuzz-work"
# Runs started side by side share the build and the seeds: one at a time
# configures, builds and writes seeds; the fuzzing itself runs in parallel.
mkdir -p "$build"
exec 9>"$build.lock"
flock 9
if ! cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_CXX_COMPILER=clang++ -DODX_BUILD_FUZZ=ON -DODX_BUILD_TESTS=OFF \
      -DODX_BUILD_BENCH=OFF -DODX_BUILD_GUI=OFF >"$build.configure.log" 2>&1 \
   || ! cmake --build "$build" -j"${FUZZ_JOBS:-2}" --target "${targets[@]}"; then
  echo "fuzz: build failed (configure log: $build.configure.log)"
  exit 2
fi

# Seeds: the sample, the corpus and a few small generated files.  Token-level
# targets start from the same XML; the others start empty and grow their own.
seeds="$work/seeds-xml"
mkdir -p "$seeds"
cp samples/*.odx tests/data/corpus/*.odx* tests/data/corpus/*.xml "$seeds/" 2>/dev/null
for s in 1 2 3; do
  [ -f "$seeds/gen-$s.odx" ] ||
    python3 bench/gen_odx.py --size-mb 0.05 --seed "$s" -o "$seeds/gen-$s.odx" >/dev/null 2>&1
done
# The start of the sample in the wide encodings, so that the converting
# reader is fed from the first input on.
python3 - "$seeds" <<'PY'
import os, sys
text = open("samples/engine-ecu.odx", encoding="utf-8").read()[:160] + "\U0001F600</A>"
for codec in ("utf-16", "utf-16-be", "utf-32-le"):
    with open(os.path.join(sys.argv[1], "wide-%s.odx" % codec), "wb") as f:
        f.write(text.encode(codec))
PY

# Package seeds: small ones packed from the start of the generated files
# (every member rule is reached by a document of two kilobytes, and the
# outline target then runs thousands of times a second), and for the
# package reader alone also the real package.
seeds_pdx="$work/seeds-pdx"
seeds_pdx_real="$work/seeds-pdx-real"
mkdir -p "$seeds_pdx" "$seeds_pdx_real"
cp tests/data/packages/*.pdx "$seeds_pdx_real/"
python3 - "$seeds" "$seeds_pdx" <<'PY'
import os, sys, zipfile
src, out = sys.argv[1:]
for s in (1, 2, 3):
    xml = os.path.join(src, "gen-%d.odx" % s)
    if not os.path.exists(xml):
        continue
    with open(xml, "rb") as f:
        head = f.read(2048 * s)
    with zipfile.ZipFile(os.path.join(out, "gen-%d.pdx" % s), "w") as z:
        z.writestr("gen.odx-d", head, zipfile.ZIP_DEFLATED)
        z.writestr("index.xml", '<?xml version="1.0"?><CATALOG/>', zipfile.ZIP_STORED)
        z.writestr("wide.odx", head[:600].decode("utf-8", "replace").encode("utf-16"),
                   zipfile.ZIP_DEFLATED)
        z.writestr("jobs/", "")
        z.writestr("jobs/run.py", "pass\n", zipfile.ZIP_DEFLATED)
PY
flock -u 9

status=0
printf '%-24s %12s %8s %10s  %s\n' target executions exec/s findings artefacts
for t in "${targets[@]}"; do
  corpus="$work/corpus-$t"
  crashes="$work/findings-$t"
  mkdir -p "$corpus" "$crashes"
  case "$t" in
    # Documents of a kilobyte reach every rule of the reader and the
    # builder; longer ones only slow each execution down.
    fuzz_tokens|fuzz_outline|fuzz_filter|fuzz_compare) extra=("$seeds"); maxlen=1024 ;;
    # Every input is read once per byte it holds, cut there.
    fuzz_stream) extra=("$seeds"); maxlen=256 ;;
    # A ZIP needs room for its central directory besides its members.
    fuzz_package) extra=("$seeds_pdx" "$seeds_pdx_real"); maxlen=65536 ;;
    fuzz_package_outline) extra=("$seeds_pdx"); maxlen=16384 ;;
    fuzz_links) extra=(-dict="$root/fuzz/links.dict"); maxlen=1024 ;;
    fuzz_services) extra=(-dict="$root/fuzz/services.dict" "$root/fuzz/seeds-services")
                   maxlen=1024 ;;
    *) extra=(); maxlen=4096 ;;
  esac
  log="$work/$t.log"
  # Leaks in Qt's own start-up are not ours; everything else is a finding.
  LSAN_OPTIONS="suppressions=$root/tests/lsan.supp" \
  "$build/fuzz/$t" -max_total_time="$seconds" -max_len="$maxlen" \
      -timeout=25 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$crashes/" "$corpus" "${extra[@]}" >"$log" 2>&1
  rc=$?
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  found=$(find "$crashes" -type f | wc -l)
  printf '%-24s %12s %8s %10s  %s\n' "$t" "${execs:-?}" "${rate:-?}" "$found" \
    "$( [ "$found" -gt 0 ] && echo "$crashes" )"
  if [ "$rc" -ne 0 ] || [ "$found" -gt 0 ]; then
    status=1
    grep -m3 -E 'ERROR|invariant broken|runtime error|SUMMARY' "$log" | sed 's/^/    /'
    echo "    log: $log"
  fi
done
exit $status

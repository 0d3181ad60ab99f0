#!/usr/bin/env bash
# Builds and runs every test from a fresh clone: installs what is missing,
# configures, builds and runs CTest.  Usage: scripts/test.sh [preset]
# (preset: dev, the default, or asan or release).
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${1:-dev}"

bash scripts/install-deps.sh
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"
ctest --preset "$preset" --timeout 600 -j"$(nproc)"

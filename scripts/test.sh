#!/usr/bin/env bash
# Builds everything and runs every test, from a fresh clone: the C++ tests,
# the command-line tool's, and (except in the sanitizer builds) the Python
# package's, Dask cluster included. Says what each step does as it goes.
# Usage: scripts/test.sh [preset]   (default, asan, tsan or clang; default:
# default)
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${1:-default}"
if [ "$preset" = clang ]; then
  scripts/install-deps.sh clang
else
  scripts/install-deps.sh
fi
echo "== configuring the $preset build in build/$preset"
cmake --preset "$preset" >/dev/null
echo "== building (the first time 5 to 20 minutes on 2 cores, by preset; then only what changed)"
cmake --build --preset "$preset"
echo "== running the tests (a few minutes)"
ctest --preset "$preset"

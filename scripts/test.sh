#!/usr/bin/env bash
# Builds everything and runs every test, from a fresh clone: the C++ tests,
# the command-line tool's, and (except in the sanitizer builds) the Python
# package's, Dask cluster included.
# Usage: scripts/test.sh [preset]   (default, asan, tsan or clang; default:
# default)
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${1:-default}"
extra=()
case "$preset" in
  clang) extra+=(clang) ;;
esac
case "$preset" in
  asan | tsan) ;;
  *) mapfile -t -O "${#extra[@]}" extra < <(grep -v '^#' python/debian-packages.txt) ;;
esac
scripts/install-deps.sh "${extra[@]}"
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"
ctest --preset "$preset"

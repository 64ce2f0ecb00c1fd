#!/usr/bin/env bash
# Builds everything and runs every test, from a fresh clone: the C++ tests,
# the command-line tool's, and (except in the sanitizer builds) the Python
# package's, Dask cluster included.
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
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"
ctest --preset "$preset"

#!/usr/bin/env bash
# Builds the module and runs every test, from a fresh clone.
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

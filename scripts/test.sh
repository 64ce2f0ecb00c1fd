#!/usr/bin/env bash
# Builds the module and runs every test, from a fresh clone.
# Usage: scripts/test.sh [preset]   (default, asan or tsan; default: default)
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${1:-default}"
scripts/install-deps.sh
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"
ctest --preset "$preset"

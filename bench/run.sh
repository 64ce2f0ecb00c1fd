#!/usr/bin/env bash
# Every benchmark in one command: builds the release preset, runs the
# Google Benchmark programs (JSON under build/), draws the filter-size plot
# into docs/, and runs the end-to-end comparison with Miller and sqlite3.
# Usage: bench/run.sh [--no-e2e]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh libsqlite3-dev python3-matplotlib
cmake --preset release >/dev/null
cmake --build --preset release
build/release/bench/wildcard_bench --benchmark_out=build/wildcard.json --benchmark_out_format=json
build/release/bench/datetext_bench --benchmark_out=build/datetext.json --benchmark_out_format=json
build/release/bench/ismatch_bench --benchmark_out=build/ismatch.json --benchmark_out_format=json
/usr/bin/python3 bench/plot.py build/ismatch.json docs/filter-size.png
[ "${1:-}" = "--no-e2e" ] || bench/e2e.sh

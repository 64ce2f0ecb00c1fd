#!/usr/bin/env bash
# The Python package's tests: installs the Debian packages they need, builds
# the extension and evfilter (build/python, FM_BUILD_PYTHON=ON) and runs the
# pytest suite with Debian's interpreter. Fails when no test ran.
# Usage: scripts/test-python.sh [pytest argument...]
set -euo pipefail
cd "$(dirname "$0")/.."
# Debian's interpreter: the one that sees Debian's python3-* packages.
PY=/usr/bin/python3
mapfile -t packages < <(grep -v '^#' python/debian-packages.txt)
scripts/install-deps.sh "${packages[@]}"
BUILD=build/python
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DFM_BUILD_TESTS=OFF -DFM_BUILD_BENCHMARKS=OFF -DFM_BUILD_PYTHON=ON \
  -DFM_WARNINGS_AS_ERRORS=ON \
  -DPython3_EXECUTABLE="$PY" >/dev/null
cmake --build "$BUILD" --target filtermodule_python evfilter \
  -j "${FM_BUILD_JOBS:-2}"
export PYTHONPATH="$PWD/$BUILD/python"
export FILTERMODULE_EVFILTER="$PWD/$BUILD/evfilter/evfilter"
cd python/tests
# Exit status 5 (no test collected) fails like any other.
"$PY" -m pytest -q -p no:cacheprovider "$@"

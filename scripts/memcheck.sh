#!/usr/bin/env bash
# Runs the test binaries under valgrind memcheck: any memory error or leak
# fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh valgrind
cmake --preset default >/dev/null
cmake --build --preset default
# Tests that count or fail allocations skip themselves: valgrind replaces
# the allocation functions they hook.
export FM_UNDER_VALGRIND=1
for t in filtermodule_tests host_api_tests qel_log_tests eventquery_tests evfilter_tests; do
  echo "== $t under valgrind"
  valgrind --quiet --error-exitcode=1 --leak-check=full \
    --suppressions=scripts/valgrind.supp \
    --errors-for-leak-kinds=definite,indirect --show-leak-kinds=definite,indirect \
    build/default/tests/"$t" --gtest_brief=1
done

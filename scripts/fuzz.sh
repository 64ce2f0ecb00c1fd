#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan+UBSan) and runs each for
# SECONDS (default 30), starting from the seed corpora in fuzz/corpus.
# New inputs go to build/fuzz/corpus, not into the repository.
# Usage: scripts/fuzz.sh [SECONDS] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-30}"
shift || true
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(filter_fuzzer wildcard_fuzzer datetext_fuzzer evfilter_readers_fuzzer sigma_fuzzer)
scripts/install-deps.sh clang libclang-rt-14-dev
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
for t in "${targets[@]}"; do
  work="build/fuzz/corpus/$t"
  mkdir -p "$work"
  echo "== $t for ${seconds}s"
  build/fuzz/fuzz/"$t" "$work" "fuzz/corpus/$t" -max_total_time="$seconds" \
    -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="build/fuzz/$t-" \
    2>&1 | grep -E "^(stat::number_of_executed_units|stat::peak_rss_mb|#[0-9]+ *DONE)|ERROR|SUMMARY|==[0-9]+==" || true
  # A crash or a failed check leaves an artifact and fails the run.
  if ls build/fuzz/"$t"-* >/dev/null 2>&1; then
    echo "fuzz: $t found a failing input: $(ls build/fuzz/"$t"-*)" >&2
    exit 1
  fi
done

#!/usr/bin/env bash
# evfilter end to end against Miller and the sqlite3 shell on one CSV file,
# with the same filter (failed logons of admin accounts), timed by hyperfine.
# Usage: bench/e2e.sh [CSV]   (default: a ~200 MB file generated once)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh miller hyperfine sqlite3
csv="${1:-build/bench-events.csv}"
if [ ! -f "$csv" ]; then
  python3 examples/generate_events.py --rows 1200000 --seed 11 > "$csv"
fi
cmake --preset release >/dev/null
cmake --build --preset release --target evfilter >/dev/null
evfilter="build/release/evfilter/evfilter match --count --filter examples/filters/failed-admin-logons.json $csv"
mlr="mlr --icsv --ocsv --headerless-csv-output filter '\$EventID == 4625 && tolower(\$User) =~ \"^adm\"' then count $csv"
sqlite="sqlite3 :memory: -cmd '.mode csv' -cmd '.import $csv events' \"SELECT count(*) FROM events WHERE EventID = 4625 AND User LIKE 'adm%'\""
echo "file: $csv ($(du -h "$csv" | cut -f1))"
for name in evfilter mlr sqlite; do
  printf '%-9s count: %s\n' "$name" "$(eval "${!name}")"
done
hyperfine --warmup 1 --runs "${RUNS:-3}" --export-markdown build/e2e.md \
  -n evfilter "$evfilter" -n miller "$mlr" -n sqlite3 "$sqlite"

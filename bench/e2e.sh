#!/usr/bin/env bash
# evfilter end to end against other tools on the same data and filter
# (failed logons of admin accounts), timed by hyperfine:
#  1. a CSV file: Miller and the sqlite3 shell, and the same filter with
#     a regular expression (MATCHES) instead of LIKE;
#  2. the same CSV gzip-compressed: Miller (--gzin);
#  3. nested, Sysmon-like JSON Lines made from it: Miller and jq.
# Every tool's count is printed first; they must agree.
# Usage: bench/e2e.sh [CSV]   (default: a ~200 MB file generated once)
# RUNS (default 3) runs per command; JSON_ROWS (default 300000) records in
# the JSON Lines file.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh miller hyperfine sqlite3 jq gzip
csv="${1:-build/bench-events.csv}"
if [ ! -f "$csv" ]; then
  python3 examples/generate_events.py --rows 1200000 --seed 11 > "$csv"
fi
gz="$csv.gz"
[ -f "$gz" ] && [ "$gz" -nt "$csv" ] || gzip -6 -c "$csv" > "$gz"
jsonl="build/bench-events-nested.jsonl"
json_rows="${JSON_ROWS:-300000}"
if [ ! -f "$jsonl" ] || [ "$(wc -l < "$jsonl")" -ne "$json_rows" ]; then
  python3 examples/generate_events.py --rows "$json_rows" --seed 11 |
    python3 examples/nest_events.py > "$jsonl"
fi
cmake --preset release >/dev/null
cmake --build --preset release --target evfilter >/dev/null
ev=build/release/evfilter/evfilter

# Runs hyperfine on NAME=COMMAND pairs after printing each command's count.
compare() {
  local out="$1"
  shift
  local args=()
  for pair in "$@"; do
    local name="${pair%%=*}" command="${pair#*=}"
    printf '%-9s count: %s\n' "$name" "$(eval "$command")"
    args+=(-n "$name" "$command")
  done
  hyperfine --warmup 1 --runs "${RUNS:-3}" --export-markdown "$out" "${args[@]}"
}

echo "== CSV: $csv ($(du -h "$csv" | cut -f1))"
compare build/e2e.md \
  "evfilter=$ev match --count --filter examples/filters/failed-admin-logons.json $csv" \
  "ev-regex=$ev match --count --where \"EventID = 4625 AND User MATCHES '^adm'\" $csv" \
  "miller=mlr --icsv --ocsv --headerless-csv-output filter '\$EventID == 4625 && tolower(\$User) =~ \"^adm\"' then count $csv" \
  "sqlite3=sqlite3 :memory: -cmd '.mode csv' -cmd '.import $csv events' \"SELECT count(*) FROM events WHERE EventID = 4625 AND User LIKE 'adm%'\""

echo "== gzip CSV: $gz ($(du -h "$gz" | cut -f1))"
compare build/e2e-gzip.md \
  "evfilter=$ev match --count --filter examples/filters/failed-admin-logons.json $gz" \
  "miller=mlr --gzin --icsv --ocsv --headerless-csv-output filter '\$EventID == 4625 && tolower(\$User) =~ \"^adm\"' then count $gz"

echo "== nested JSON Lines: $jsonl ($(du -h "$jsonl" | cut -f1))"
compare build/e2e-jsonl.md \
  "evfilter=$ev match --count --where \"Event.System.EventID = 4625 AND Event.EventData.TargetUserName LIKE 'adm%'\" $jsonl" \
  "miller=mlr --ijsonl --ocsv --headerless-csv-output filter '\$Event[\"System\"][\"EventID\"] == 4625 && tolower(\$Event[\"EventData\"][\"TargetUserName\"]) =~ \"^adm\"' then count $jsonl" \
  "jq=jq -n 'reduce (inputs | select(.Event.System.EventID == 4625 and (.Event.EventData.TargetUserName | ascii_downcase | startswith(\"adm\")))) as \$e (0; . + 1)' $jsonl"

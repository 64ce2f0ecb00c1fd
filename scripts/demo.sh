#!/usr/bin/env bash
# Builds evfilter and runs it on the bundled sample events with one of the
# example filters: the failed logons of admin accounts.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target evfilter >/dev/null
evfilter=build/default/evfilter/evfilter
filter=examples/filters/failed-admin-logons.json
echo "== the filter, as the module reads it"
"$evfilter" show --filter "$filter"
echo
echo "== matching rows of examples/events.csv (first 10 of $("$evfilter" match --filter "$filter" --count examples/events.csv))"
# head ends the pipe early; evfilter's broken pipe is expected here.
{ "$evfilter" match --filter "$filter" examples/events.csv || true; } | head -n 11 | cut -c1-120

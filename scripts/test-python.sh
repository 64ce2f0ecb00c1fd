#!/usr/bin/env bash
# The Python package as a newcomer meets it: the README's install commands
# as written, in a fresh virtual environment (HOME is a scratch folder, so
# ~/fm lands there), the README's Python example, and then the package's
# tests on the installed package, not on the build tree. Nothing sets
# LD_LIBRARY_PATH or PYTHONPATH. Installs the Debian packages it needs.
# Usage: scripts/test-python.sh [pytest argument...]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
unset LD_LIBRARY_PATH PYTHONPATH

# The README's code blocks of its Python section: the first sh block (the
# install) and the first python block (the example).
block() {
  awk -v lang="$1" '
    /^## Python/ { in_section = 1; next }
    in_section && /^## / { exit }
    in_section && !done && $0 == "```" lang { inside = 1; next }
    inside && $0 == "```" { inside = 0; done = 1; next }
    inside { print }' README.md
}
install="$(block sh)"
example="$(block python)"
[ -n "$install" ] && [ -n "$example" ] ||
  { echo "test-python: no install commands or example in README.md" >&2; exit 1; }

home="$(mktemp -d)"
trap 'rm -rf "$home"' EXIT
echo "== the README's install, in a fresh virtual environment"
(export HOME="$home"; set -x; eval "$install")
python="$home/fm/bin/python"

echo "== the README's example"
where="$("$python" -c 'import filtermodule; print(filtermodule.__file__)')"
case "$where" in
  "$home"/*) ;;
  *) echo "test-python: filtermodule comes from $where, not the environment" >&2
     exit 1 ;;
esac
out="$("$python" -c "$example")"
printf '%s\n' "$out" | tail -n 3
grep -q "\[(4625, 4625)\]" <<<"$out" ||
  { echo "test-python: the example did not print the intervals it promises" >&2; exit 1; }

echo "== the package's tests, on the installed package"
# evfilter of this tree is their reference; its test writer makes their
# event log files.
cmake --preset default >/dev/null
cmake --build --preset default --target evfilter make_evtx
export FILTERMODULE_EVFILTER="$PWD/build/default/evfilter/evfilter"
export FILTERMODULE_MAKE_EVTX="$PWD/build/default/tests/make_evtx"
cd python/tests
# Exit status 5 (no test collected) fails like any other.
"$python" -m pytest -q -p no:cacheprovider "$@"

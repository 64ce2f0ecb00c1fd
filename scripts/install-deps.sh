#!/usr/bin/env bash
# Installs the Debian packages that building and testing need, when missing.
# As root it runs apt-get; otherwise it prints the exact command to run.
# With --list it installs nothing and prints the packages it would see to,
# one a line (scripts/check-deps.sh reads them).
# Usage: scripts/install-deps.sh [--list] [extra-package...]
set -euo pipefail

list_only=false
if [ "${1:-}" = --list ]; then
  list_only=true
  shift
fi

packages=(
  cmake ninja-build g++ binutils      # build, nm for the export check
  pkg-config                          # the pkg-config consumer
  libgtest-dev libgmock-dev           # unit tests
  libbenchmark-dev libsqlite3-dev     # benchmarks
  tzdata                              # time zones the date tests set
  nlohmann-json3-dev libcli11-dev     # evfilter: definitions, arguments
  libsimdjson-dev                     # evfilter: JSON input
  zlib1g-dev                          # evfilter: gzip input, EVTX checksums
  libisal-dev                         # evfilter: gzip input, fast (optional)
  libyaml-cpp-dev libre2-dev          # Sigma rules: YAML, regular expressions
  libevtx-dev libevtx-utils           # EVTX: the peer the tests check
                                      # the writer and reader against;
  libbfio-dev                         # libevtx.h includes libbfio.h, but
                                      # libevtx-dev does not depend on it
  chromium fonts-dejavu-core          # hunt's HTML report, opened headless
  "$@"
)
# The Python package, which the default presets build and test.
while read -r p; do
  case "$p" in "" | "#"*) ;; *) packages+=("$p") ;; esac
done < "$(dirname "$0")/../python/debian-packages.txt"

if $list_only; then
  printf '%s\n' "${packages[@]}"
  exit 0
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -eq 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  echo "== installing ${#missing[@]} Debian package(s) (a minute or two the first time): ${missing[*]}"
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
else
  echo "Missing packages. Run as root:" >&2
  echo "  apt-get install -y ${missing[*]}" >&2
  exit 1
fi

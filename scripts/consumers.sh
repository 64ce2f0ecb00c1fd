#!/usr/bin/env bash
# Builds the libraries alone (no tests, tools or benchmarks, no build type:
# the defaults a plain configure gets), installs them into a temporary
# prefix, and builds and runs two hosts against the installed tree: one
# through find_package, one through pkg-config. A third host builds the
# source tree as its subproject.
# Last, the default build installed as the README's Quick start says: its
# evfilter runs from the prefix, and its man page is there.
# Usage: scripts/consumers.sh
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
work="build/consumers"
rm -rf "$work"
prefix="$(mktemp -d)"
trap 'rm -rf "$prefix"' EXIT

cmake -S . -B "$work/lib" -G Ninja -DFM_WARNINGS_AS_ERRORS=ON \
  -DFM_BUILD_TESTS=OFF -DFM_BUILD_BENCHMARKS=OFF -DFM_BUILD_EVFILTER=OFF \
  -DFM_BUILD_EXAMPLES=OFF >/dev/null
grep -q '^CMAKE_BUILD_TYPE:STRING=RelWithDebInfo$' "$work/lib/CMakeCache.txt" ||
  { echo "consumers: a plain configure is not RelWithDebInfo" >&2; exit 1; }
cmake --build "$work/lib"
cmake --install "$work/lib" --prefix "$prefix" >/dev/null
[ -e "$prefix/include/filtermodule/FilterModule.h" ] ||
  { echo "consumers: the header is not installed" >&2; exit 1; }

# The version the build wrote into the header names the rest.
version="$(sed -n 's/^#define FILTERMODULE_VERSION "\(.*\)"$/\1/p' \
  "$prefix/include/filtermodule/Version.h")"
major="${version%%.*}"
libdir="$prefix/$(cd "$prefix" && ls -d lib*/ | head -n 1)"
libdir="${libdir%/}"
for f in libfiltermodule.so "libfiltermodule.so.$major" "libfiltermodule.so.$version" \
         "libqel_log.so.$major" "libKVALInterface.so.$major" \
         pkgconfig/filtermodule.pc cmake/FilterModule/FilterModuleConfig.cmake \
         cmake/FilterModule/FilterModuleConfigVersion.cmake; do
  [ -e "$libdir/$f" ] || { echo "consumers: $libdir/$f not installed" >&2; exit 1; }
done

# Each consumer logs into a folder of the prefix; a record there shows that
# the installed module found its installed platform libraries.
export KVAL_LOG_FOLDER="$prefix/log" KVAL_DEBUG_LOG=1

echo "== find_package consumer"
cmake -S examples/consumers/cmake -B "$work/cmake" -G Ninja \
  -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/cmake"
"$work/cmake/consumer"

echo "== pkg-config consumer"
export PKG_CONFIG_PATH="$libdir/pkgconfig"
[ "$(pkg-config --modversion filtermodule)" = "$version" ] ||
  { echo "consumers: filtermodule.pc does not say $version" >&2; exit 1; }
# shellcheck disable=SC2046  # the flags are meant to split
c++ -std=c++17 -Wall -Wextra -Werror examples/consumers/consumer.cpp \
  $(pkg-config --cflags --libs filtermodule) \
  -Wl,-rpath,"$(pkg-config --variable=libdir filtermodule)" -o "$work/pkgconfig-consumer"
"$work/pkgconfig-consumer"

echo "== the README's pkg-config lines, as written (the prefix and host ours)"
readme="$(awk '/^or with pkg-config:/ { want = 1; next }
  want && $0 == "```sh" { inside = 1; next }
  inside && $0 == "```" { exit }
  inside { print }' README.md)"
grep -q 'pkg-config' <<<"$readme" ||
  { echo "consumers: no pkg-config lines in README.md" >&2; exit 1; }
readme="${readme//\/opt\/filtermodule\/lib/$libdir}"
readme="${readme//main.cpp/examples/consumers/consumer.cpp}"
readme="${readme//-o my_host/-o $work/readme-consumer}"
(unset PKG_CONFIG_PATH LD_LIBRARY_PATH; set -x; eval "$readme")
"$work/readme-consumer"

[ -s "$KVAL_LOG_FOLDER/Filter-Module.csv" ] ||
  { echo "consumers: the installed module wrote no log" >&2; exit 1; }

echo "== add_subdirectory consumer"
cmake -S examples/consumers/subdirectory -B "$work/subdirectory" -G Ninja \
  -DFILTERMODULE_SOURCE_DIR="$PWD" >/dev/null
cmake --build "$work/subdirectory"
"$work/subdirectory/consumer"

echo "== the README's install of evfilter from the default build"
cmake --preset default >/dev/null
cmake --build --preset default --target evfilter
tools="$(mktemp -d)"
trap 'rm -rf "$prefix" "$tools"' EXIT
cmake --install build/default --prefix "$tools" >/dev/null
(unset LD_LIBRARY_PATH; "$tools/bin/evfilter" --version)
grep -q '^\.TH EVFILTER 1' "$tools/share/man/man1/evfilter.1" ||
  { echo "consumers: the man page is not installed" >&2; exit 1; }

echo "consumers: the installed and the subproject hosts built and ran"

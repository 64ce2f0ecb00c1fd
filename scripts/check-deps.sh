#!/usr/bin/env bash
# Fails when a build used a header or library from outside the tree that no
# package of scripts/install-deps.sh (its list, python/debian-packages.txt
# and the extras given) installs, directly or through the Debian
# dependencies of what it lists. Such a build passes only on a machine where
# somebody installed the package by hand, and fails on a fresh one.
#
# Reads the compilers' dependency records (ninja -t deps) and the link
# lines (ninja -t commands) of the build, maps every file outside the tree
# to its Debian package (dpkg-query -S), and checks each package against the
# dependency closure of the list (apt-cache depends --recurse; Depends and
# Pre-Depends, as install-deps.sh installs without recommends). A file that
# no package owns fails too: it was installed by hand.
# Usage: scripts/check-deps.sh PRESET [extra-package...]
#   (the extras as the preset's script gives them to install-deps.sh)
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"
preset="${1:?usage: scripts/check-deps.sh PRESET [extra-package...]}"
shift
build="build/$preset"
[ -f "$build/build.ninja" ] ||
  { echo "check-deps: $build is not built; run scripts/test.sh $preset first" >&2; exit 2; }
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# Files outside the tree that the compilers read.
ninja -C "$build" -t deps 2>/dev/null | sed -n 's/^    //p' >"$work/used"

# Libraries on the link lines: absolute paths, and -lname as the compiler
# finds it.
cxx="$(sed -n 's/^CMAKE_CXX_COMPILER:[A-Z]*=//p' "$build/CMakeCache.txt")"
ninja -C "$build" -t commands 2>/dev/null | tr ' ' '\n' | sort -u >"$work/words"
grep -E '^/.*\.(so|a)(\.[0-9]+)*$' "$work/words" >>"$work/used" || true
for name in $(sed -n 's/^-l\([A-Za-z0-9_+.-]*\)$/\1/p' "$work/words"); do
  for kind in so a; do
    found="$("$cxx" -print-file-name="lib$name.$kind")"
    if [ "${found#/}" != "$found" ]; then
      echo "$found" >>"$work/used"
      break
    fi
  done
done

# Absolute, normalised, and outside the source and build trees.
sort -u "$work/used" | while read -r f; do
  case "$f" in /*) ;; *) continue ;; esac
  f="$(realpath -sm "$f")"
  case "$f" in "$root"/*) continue ;; esac
  echo "$f"
done | sort -u >"$work/outside"
[ -s "$work/outside" ] || { echo "check-deps: $build used nothing outside the tree"; exit 0; }

# The package of each file, asked for all files at once. dpkg knows a
# file by the path its package ships, which may differ from the one the
# compiler used by a symbolic link (/lib and /usr/lib on a merged /usr), so
# a file it does not know is asked again by its resolved paths.
# dpkg-query fails when it does not know one of the files: no error here,
# such a file is asked again below or reported as installed by hand.
owners() {
  { xargs -r dpkg-query -S 2>/dev/null || true; } | { grep -v '^diversion by' || true; } |
    sed -n 's/^\(.*\): \(\/.*\)$/\1 \2/p' |
    while read -r pkgs f; do
      # A file two packages share names both: "a:amd64, b: /path".
      for p in ${pkgs//,/ }; do printf '%s %s\n' "${p%%:*}" "$f"; done
    done
}
owners <"$work/outside" >"$work/owned"
cut -d' ' -f2- "$work/owned" | sort -u >"$work/known"
comm -23 "$work/outside" "$work/known" | while read -r f; do
  real="$(realpath -m "$f")"
  case "$real" in
    /usr/*) aliases=("$real" "/${real#/usr/}") ;;
    *) aliases=("$real" "/usr$real") ;;
  esac
  found="$(printf '%s\n' "${aliases[@]}" | owners | cut -d' ' -f1 | sort -u)"
  if [ -n "$found" ]; then
    for p in $found; do printf '%s %s\n' "$p" "$f"; done >>"$work/owned"
  else
    echo "$f" >>"$work/unowned"
  fi
done

# What install-deps.sh installs, with everything it pulls in.
mapfile -t listed < <(scripts/install-deps.sh --list "$@")
apt-cache depends --recurse --no-recommends --no-suggests --no-conflicts \
  --no-breaks --no-replaces --no-enhances "${listed[@]}" 2>/dev/null |
  sed -n 's/^\([^ <][^ ]*\)$/\1/p; s/^ *\(|\)\?\(Pre\)\?Depends: \([^ <][^ ]*\)$/\3/p; s/^    \([^ <][^ ]*\)$/\1/p' |
  sed 's/:[a-z0-9]*$//' | sort -u >"$work/closure"

status=0
sort -u -k1,1 "$work/owned" | while read -r p f; do
  grep -qxF "$p" "$work/closure" ||
    echo "check-deps: $build uses $f, of the package $p, which scripts/install-deps.sh does not install (add it to its list)"
done >"$work/missing"
if [ -s "$work/missing" ]; then
  cat "$work/missing" >&2
  status=1
fi
if [ -s "$work/unowned" ]; then
  sed "s|^|check-deps: $build uses a file no Debian package owns (installed by hand?): |" \
    "$work/unowned" >&2
  status=1
fi
[ $status -eq 0 ] &&
  echo "check-deps: $build used $(wc -l <"$work/outside") file(s) outside the tree, all from $(cut -d' ' -f1 "$work/owned" | sort -u | wc -l) package(s) that scripts/install-deps.sh installs"
exit $status

#!/usr/bin/env bash
# Builds the Debian package from the build folder's CPack settings and checks
# that it holds the tool and its manual page under /usr, nothing of the
# library, and dependencies read off the binary. Exits 77 (skipped) where
# dpkg-deb, or dpkg-shlibdeps that the package's dependencies come from, is
# missing. Usage: package_test.sh WORK_FOLDER (emptied first).
set -euo pipefail
work=$1
for tool in dpkg-deb dpkg-shlibdeps; do
  command -v $tool >/dev/null || { echo "$tool is not installed"; exit 77; }
done
rm -rf "$work"
mkdir -p "$work"

fail() { echo "FAIL: $*" >&2; exit 1; }

"$BLEED_CPACK" -G DEB --config "$BLEED_BUILD_DIR/CPackConfig.cmake" -B "$work" >"$work/cpack.log" ||
  { cat "$work/cpack.log" >&2; fail "cpack failed"; }
packages=("$work"/bleedborder_1.0.0_*.deb)
[ -f "${packages[0]}" ] || fail "no bleedborder_1.0.0_*.deb in $(ls "$work")"
package=${packages[0]}

files=$(dpkg-deb -c "$package" | awk '$1 !~ /^d/ { print $6 }' | sort)
expected=$(printf '%s\n' ./usr/bin/bleedborder ./usr/share/man/man1/bleedborder.1.gz)
[ "$files" = "$expected" ] || fail "the package holds:
$files"
[ "$(dpkg-deb -f "$package" Package Version)" = "$(printf 'Package: bleedborder\nVersion: 1.0.0')" ] ||
  fail "$(dpkg-deb -f "$package" Package Version)"
depends=$(dpkg-deb -f "$package" Depends)
[[ $depends == *libc6* && $depends == *libstdc++6* ]] || fail "Depends: $depends"
echo "$(basename "$package"): $depends"

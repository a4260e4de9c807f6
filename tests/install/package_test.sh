#!/usr/bin/env bash
# Builds the Debian packages as a packager would (a static and a shared build
# of the sources, installed under /usr, with a fixed SOURCE_DATE_EPOCH) and
# checks each one's files and fields, that lintian finds no error and no
# warning in any of them, and that cpack run again gives the same bytes.
# Exits 77 (skipped) where dpkg-deb, dpkg-shlibdeps (the packages'
# dependencies come from it) or lintian is missing; scripts/bootstrap
# installs them. Usage: package_test.sh WORK_FOLDER (emptied first).
set -euo pipefail
work=$1
for tool in dpkg-deb dpkg-shlibdeps lintian; do
  command -v $tool >/dev/null || { echo "$tool is not installed"; exit 77; }
done
rm -rf "$work"
mkdir -p "$work/packages"
export SOURCE_DATE_EPOCH=1765324800

fail() { echo "FAIL: $*" >&2; exit 1; }

# build NAME CMAKE_OPTIONS...: configures and builds the library and the tool
# (no tests, no benchmarks) in $work/NAME, with the compiler of this build.
build() {
  local dir=$work/$1
  shift
  "$BLEED_CMAKE" -S "$BLEED_SOURCE_DIR" -B "$dir" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_CXX_COMPILER="$BLEED_CXX" -DCMAKE_INSTALL_PREFIX=/usr \
    -DBLEED_TESTS=OFF -DBLEED_BENCH=OFF "$@" >"$dir.log" 2>&1 &&
    "$BLEED_CMAKE" --build "$dir" -j2 >>"$dir.log" 2>&1 ||
    { cat "$dir.log" >&2; fail "building $dir failed"; }
}

# package NAME OUTPUT: runs cpack in the build folder $work/NAME.
package() {
  (cd "$work/$1" && "$BLEED_CPACK" -G DEB -B "$2") >"$work/cpack-$1.log" 2>&1 ||
    { cat "$work/cpack-$1.log" >&2; fail "cpack in $1 failed"; }
}

build static
build shared -DBUILD_SHARED_LIBS=ON
package static "$work/packages"
package shared "$work/packages"
(cd "$work/packages" && ls ./*.deb) >"$work/made"
[ "$(cat "$work/made")" = "$(printf './%s\n' bleedborder_1.0.0_amd64.deb \
  libbleedborder-dev_1.0.0_amd64.deb libbleedborder1_1.0.0_amd64.deb)" ] ||
  fail "cpack made $(cat "$work/made")"

# expect_files PACKAGE FILES...: the package's files and symbolic links (not
# its directories, nor the headers, checked below) are FILES, with its
# copyright file and changelog.
expect_files() {
  local package=$1
  shift
  local files expected
  files=$(dpkg-deb -c "$work/packages/$package"_1.0.0_amd64.deb |
    awk '$1 !~ /^d/ { print $6 }' | grep -v '^./usr/include/' | sort)
  expected=$(printf './usr/%s\n' "$@" "share/doc/$package/changelog.gz" \
    "share/doc/$package/copyright" | sort)
  [ "$files" = "$expected" ] || fail "$package holds:
$files"
}
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH 2>/dev/null || gcc -print-multiarch)
expect_files bleedborder bin/bleedborder share/man/man1/bleedborder.1.gz
expect_files libbleedborder-dev "lib/$multiarch/libbleedborder.a" \
  "lib/$multiarch/pkgconfig/bleedborder.pc" \
  "lib/$multiarch/cmake/bleedborder/"bleedborder{Config,ConfigVersion,Targets,Targets-release}.cmake
expect_files libbleedborder1 "lib/$multiarch/libbleedborder.so.1" "lib/$multiarch/libbleedborder.so.1.0.0"
dpkg-deb -c "$work/packages/libbleedborder-dev_1.0.0_amd64.deb" >"$work/dev-contents"
grep -q ' ./usr/include/bleedborder/bleed/bleed.h$' "$work/dev-contents" ||
  fail "libbleedborder-dev lacks the headers"

# expect_field PACKAGE FIELD PATTERN: the control field matches the bash PATTERN.
expect_field() {
  local value
  value=$(dpkg-deb -f "$work/packages/$1"_1.0.0_amd64.deb "$2")
  # shellcheck disable=SC2053
  [[ $value == $3 ]] || fail "$1 $2: $value"
}
while read -r package section depends; do
  expect_field "$package" Package "$package"
  expect_field "$package" Version 1.0.0
  expect_field "$package" Section "$section"
  expect_field "$package" Depends "$depends"
done <<'EOF'
bleedborder        graphics *libc6*libstdc++6*
libbleedborder-dev libdevel libstdc++-*-dev*
libbleedborder1    libs     *libc6*libstdc++6*
EOF

# The shared library: a shlibs file, so that what links with it depends on
# it, and the ldconfig trigger in place of maintainer scripts.
control=$work/control
dpkg-deb -e "$work/packages/libbleedborder1_1.0.0_amd64.deb" "$control"
[ "$(ls "$control")" = "$(printf 'control\nmd5sums\nshlibs\ntriggers')" ] ||
  fail "libbleedborder1's control files: $(ls "$control" | tr '\n' ' ')"
[ "$(cat "$control/shlibs")" = "libbleedborder 1 libbleedborder1 (>= 1.0.0)" ] ||
  fail "shlibs: $(cat "$control/shlibs")"

# The licence and the changelog, as a user finds them.
contents=$work/contents
dpkg-deb -x "$work/packages/libbleedborder-dev_1.0.0_amd64.deb" "$contents"
doc=$contents/usr/share/doc/libbleedborder-dev
gzip -dc "$doc/changelog.gz" | cmp -s - "$BLEED_SOURCE_DIR/cmake/debian/changelog" ||
  fail "changelog.gz is not cmake/debian/changelog"
head -n 6 "$doc/copyright" | grep -qx 'License: Expat' || fail "copyright: $(head -n 6 "$doc/copyright")"
# The permission notice, each line indented and empty lines written " .".
sed -n '/^Permission/,$ { s/^$/./; s/^/ /; p }' "$BLEED_SOURCE_DIR/LICENSE" >"$work/notice"
[ "$(tail -n +7 "$doc/copyright")" = "$(cat "$work/notice")" ] || fail "copyright:
$(cat "$doc/copyright")"

lintian --fail-on error,warning "$work"/packages/*.deb >"$work/lintian.log" 2>&1 ||
  { cat "$work/lintian.log" >&2; fail "lintian finds fault with the packages"; }

# Made again with the same SOURCE_DATE_EPOCH: the same bytes. Made under umask
# 077: the same files, modes and times (the ar wrapper records the umask in
# its members' modes, which dpkg ignores).
package static "$work/again"
(umask 077 && package static "$work/umask077")
for deb in bleedborder_1.0.0_amd64.deb libbleedborder-dev_1.0.0_amd64.deb; do
  cmp "$work/packages/$deb" "$work/again/$deb" || fail "$deb differs when made again"
  for part in --ctrl-tarfile --fsys-tarfile; do
    cmp <(dpkg-deb $part "$work/packages/$deb") <(dpkg-deb $part "$work/umask077/$deb") ||
      fail "$deb made under umask 077 differs ($part)"
  done
done
echo "packages: $(tr '\n' ' ' <"$work/made"); lintian: no error, no warning; made again: identical"

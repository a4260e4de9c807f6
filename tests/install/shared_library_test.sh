#!/usr/bin/env bash
# The shared library as installed by shared_build.sh (BLEED_SHARED_PREFIX):
# its file and links, its soname, the names it exports, and the consumer
# example built against it with find_package and with pkg-config, run with
# the library found by its soname and compared with the tool's output. Usage:
# shared_library_test.sh WORK_FOLDER (emptied first).
set -euo pipefail
work=$1
lib=$BLEED_SHARED_PREFIX/lib
rm -rf "$work"
mkdir -p "$work"

fail() { echo "FAIL: $*" >&2; exit 1; }

# The name a program links with, the soname a program asks for, the file.
[ "$(readlink "$lib/libbleedborder.so")" = libbleedborder.so.1 ] || fail "libbleedborder.so is not a link to .so.1"
[ "$(readlink "$lib/libbleedborder.so.1")" = libbleedborder.so.1.0.0 ] || fail "libbleedborder.so.1 is not a link to .so.1.0.0"
[ -f "$lib/libbleedborder.so.1.0.0" ] && [ ! -L "$lib/libbleedborder.so.1.0.0" ] || fail "no libbleedborder.so.1.0.0"
[ ! -e "$lib/libbleedborder.a" ] || fail "a shared build installs libbleedborder.a"
soname=$(readelf -d "$lib/libbleedborder.so.1.0.0" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
[ "$soname" = libbleedborder.so.1 ] || fail "the soname is '$soname'"

# Only the library's own names are exported, and of those only what the
# installed headers declare: the library's helpers stay hidden. Allowed
# besides: the C++ runtime's shared instances, the standard library's inline
# functions and templates that the library's code instantiated (exported by
# the standard headers themselves, so that every object shares one copy), and
# the sanitizer runtime's markers.
nm -D --defined-only "$lib/libbleedborder.so.1.0.0" | awk '{ print $3 }' >"$work/exports.mangled"
c++filt <"$work/exports.mangled" >"$work/exports.txt"
# By the mangled names: _Z, a vtable, type information or guard prefix, a
# local entity, a function type, a nested or const name, then the namespace.
grep -v -E '^_Z(TV|TI|TS|TT|GV|TH|TW)?Z?(P?F)?(N[KVr]*)?(11bleedborder|St|9__gnu_cxx)|^__odr_asan\.' \
  "$work/exports.mangled" | c++filt >"$work/foreign_exports.txt" || true
[ ! -s "$work/foreign_exports.txt" ] || fail "exported outside namespace bleedborder:
$(head -20 "$work/foreign_exports.txt")"
# The library's own symbols, by their names (what precedes the parameters): a
# standard-library template made for one of the library's internal types
# names that type only among its arguments.
grep -E '^_Z(TV|TI|TS|TT|GV|TH|TW)?Z?(P?F)?(N[KVr]*)?11bleedborder' "$work/exports.mangled" | c++filt |
  sed 's/(.*//' >"$work/own_exports.txt" || true
undeclared=$(grep -oE 'bleedborder::((gdi|sys|raster|fs)::)?~?[A-Za-z_][A-Za-z0-9_]*' "$work/own_exports.txt" |
  sed -E 's/.*:://; s/^~//' | sort -u | while read -r name; do
    grep -rqw -- "$name" "$BLEED_SHARED_PREFIX/include/bleedborder" || echo "$name"
  done)
[ -z "$undeclared" ] || fail "exported but in no installed header: $undeclared"

# The consumer, built with find_package and with pkg-config.
"$BLEED_CMAKE" -S "$BLEED_SOURCE_DIR/examples/consumer" -B "$work/cmake-build" \
  -DCMAKE_PREFIX_PATH="$BLEED_SHARED_PREFIX" -DCMAKE_CXX_COMPILER="$BLEED_CXX" -DCMAKE_BUILD_TYPE="$BLEED_BUILD_TYPE" \
  -DCMAKE_CXX_FLAGS="$BLEED_COMPILE_FLAGS" -DCMAKE_EXE_LINKER_FLAGS="$BLEED_LINK_FLAGS" >"$work/configure.log"
"$BLEED_CMAKE" --build "$work/cmake-build" >"$work/build.log"
export PKG_CONFIG_PATH=$lib/pkgconfig
# shellcheck disable=SC2086  # the flags are word lists
"$BLEED_CXX" -std=c++20 $BLEED_COMPILE_FLAGS "$BLEED_SOURCE_DIR/examples/consumer/add_border.cpp" \
  $(pkg-config --cflags --libs bleedborder) $BLEED_LINK_FLAGS -o "$work/add_border_pkg_config"

# Both ask for the soname, find it through the loader's path, resolve every
# symbol at start-up, and write the tool's bytes.
mkdir "$work/run"
cp "$BLEED_SOURCE_DIR/examples/sample.bmp" "$work/run/sample.bmp"
"$BLEED_BUILD_DIR/bleedborder" "$work/run/sample.bmp"
export LD_LIBRARY_PATH=$lib LD_BIND_NOW=1
for consumer in "$work/cmake-build/add_border" "$work/add_border_pkg_config"; do
  # (Whole outputs first: grep -q would end the pipe early, and pipefail fail it.)
  dynamic=$(readelf -d "$consumer")
  grep -E '\(NEEDED\).*\[libbleedborder\.so\.1\]' <<<"$dynamic" >/dev/null ||
    fail "$consumer does not need libbleedborder.so.1"
  libraries=$(ldd "$consumer")
  [[ $libraries == *"libbleedborder.so.1 => $lib/libbleedborder.so.1 "* ]] ||
    fail "$consumer does not find $lib/libbleedborder.so.1: $libraries"
  rm -f "$work/run/consumer.bmp"
  "$consumer" "$work/run/sample.bmp" "$work/run/consumer.bmp"
  cmp "$work/run/sample.bmp.bmp" "$work/run/consumer.bmp" || fail "$consumer wrote other bytes than the tool"
done
echo "consumer on libbleedborder.so.1 matches the tool ($(wc -l <"$work/exports.txt") names exported)"

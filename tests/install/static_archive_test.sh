#!/usr/bin/env bash
# Programs as they adopt the static archive, built against a fresh install of
# the library: a program ported from desktop code (its own core/messages.h
# first on the include path, its own global MulDiv, a compile-time version
# check), and a plug-in, a shared object with the whole archive linked in,
# loaded at run time with every symbol resolved at once. Usage:
# static_archive_test.sh WORK_FOLDER (emptied first); the rest comes from the
# environment tests/install/CMakeLists.txt sets.
set -euo pipefail
work=$1
prefix=$work/prefix
here=$(cd "$(dirname "$0")" && pwd)
rm -rf "$work"
mkdir -p "$work"

fail() { echo "FAIL: $*" >&2; exit 1; }

"$BLEED_CMAKE" --install "$BLEED_BUILD_DIR" --prefix "$prefix" --component library >"$work/install.log"
export PKG_CONFIG_PATH=$prefix/lib/pkgconfig
version=$(pkg-config --modversion bleedborder)
# A static link needs the threads library, which only --static lists.
[[ " $(pkg-config --static --libs bleedborder) " == *" -pthread "* ]] ||
  fail "pkg-config --static --libs gives: $(pkg-config --static --libs bleedborder)"

# The ported program: its own folder comes before the library's on the
# include path.
# shellcheck disable=SC2086  # the flags are word lists
"$BLEED_CXX" -std=c++20 -Wall -Wextra -Werror $BLEED_COMPILE_FLAGS -I"$here/ported_program" \
  "$here/ported_program/main.cpp" $(pkg-config --static --cflags --libs bleedborder) $BLEED_LINK_FLAGS \
  -o "$work/ported_program"
IFS=. read -r major minor patch <<<"$version"
expected="hello goodbye
10 11
12
$version $((major * 10000 + minor * 100 + patch))"
actual=$("$work/ported_program")
[ "$actual" = "$expected" ] || fail "the ported program printed:
$actual
instead of:
$expected"

# The plug-in takes every object of the archive, so that any object built
# without position-independent code fails the link. It hides its own names,
# as a plug-in does, its entry point marked: the library's inline code it
# compiles (a stream's destructor, say) is then its own too.
# shellcheck disable=SC2086
"$BLEED_CXX" -std=c++20 $BLEED_COMPILE_FLAGS -fPIC -shared -fvisibility=hidden -fvisibility-inlines-hidden \
  -I"$prefix/include" "$here/plugin/plugin.cpp" \
  -Wl,--whole-archive "$prefix/lib/libbleedborder.a" -Wl,--no-whole-archive -pthread \
  $BLEED_LINK_FLAGS -o "$work/plugin.so" 2>"$work/plugin.log" ||
  { cat "$work/plugin.log" >&2; fail "the archive cannot be linked into a shared object"; }
# shellcheck disable=SC2086
"$BLEED_CXX" -std=c++20 $BLEED_COMPILE_FLAGS "$here/plugin/plugin_host.cpp" $BLEED_LINK_FLAGS -ldl \
  -o "$work/plugin_host"
[ "$("$work/plugin_host" "$work/plugin.so")" = 51 ] || fail "the plug-in answered $("$work/plugin_host" "$work/plugin.so")"
# The library inside stays the plug-in's own: it exports none of its names,
# which would clash with another plug-in's copy of another version.
leaked=$(nm -D --defined-only "$work/plugin.so" | awk '{ print $3 }' | c++filt |
  grep -E '^((vtable|typeinfo|typeinfo name|VTT|guard variable) for )?bleedborder::' || true)
[ -z "$leaked" ] || fail "the plug-in exports the library's names: $(head -5 <<<"$leaked")"
echo "ported program and plug-in work with libbleedborder.a $version"

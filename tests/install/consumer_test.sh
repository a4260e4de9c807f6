#!/usr/bin/env bash
# Installs the build into a fresh prefix, checks what it holds, builds the
# consumer example against it with find_package and with pkg-config, and
# compares what both builds write for the sample with what the installed tool
# writes. Usage: consumer_test.sh WORK_FOLDER (emptied first); the rest comes
# from the environment that tests/install/CMakeLists.txt sets.
set -euo pipefail
work=$1
prefix=$work/prefix
rm -rf "$work"
mkdir -p "$work"

fail() { echo "FAIL: $*" >&2; exit 1; }

"$BLEED_CMAKE" --install "$BLEED_BUILD_DIR" --prefix "$prefix" >"$work/install.log"

# The files a user relies on, and none of the test, bench or tool headers.
for file in bin/bleedborder lib/libbleedborder.a share/man/man1/bleedborder.1.gz \
    include/bleedborder/bleed/bleed.h include/bleedborder/image/bitmap.h \
    include/bleedborder/core/exceptions.h include/bleedborder/platform/gdi.h \
    lib/cmake/bleedborder/bleedborderConfig.cmake lib/cmake/bleedborder/bleedborderConfigVersion.cmake \
    lib/cmake/bleedborder/bleedborderTargets.cmake lib/pkgconfig/bleedborder.pc; do
  [ -f "$prefix/$file" ] || fail "$file is not installed"
done
[ "$(ls "$prefix/include/bleedborder")" = "$(printf 'bleed\ncanvas\ncore\nexport.h\nimage\nplatform\nversion.h')" ] ||
  fail "include/bleedborder holds $(ls "$prefix/include/bleedborder" | tr '\n' ' ')"

# Every installed header compiles on its own: none includes a header that was
# left out.
(cd "$prefix/include" && find bleedborder -name '*.h' | sort | sed 's|\(.*\)|#include <\1>|') \
  >"$work/all_headers.cpp"
"$BLEED_CXX" -std=c++20 -fsyntax-only -I"$prefix/include" "$work/all_headers.cpp" ||
  fail "the installed headers do not compile"

# The manual page formats without a warning.
if command -v groff >/dev/null; then
  warnings=$(gzip -dc "$prefix/share/man/man1/bleedborder.1.gz" | groff -man -ww -z 2>&1)
  [ -z "$warnings" ] || fail "groff: $warnings"
fi

# The consumer, built with CMake's find_package.
"$BLEED_CMAKE" -S "$BLEED_SOURCE_DIR/examples/consumer" -B "$work/cmake-build" \
  -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_CXX_COMPILER="$BLEED_CXX" -DCMAKE_BUILD_TYPE="$BLEED_BUILD_TYPE" \
  -DCMAKE_CXX_FLAGS="$BLEED_COMPILE_FLAGS" -DCMAKE_EXE_LINKER_FLAGS="$BLEED_LINK_FLAGS" >"$work/configure.log"
"$BLEED_CMAKE" --build "$work/cmake-build" >"$work/build.log"

# The consumer, built from pkg-config's flags alone (--static: what a link
# with the archive needs).
export PKG_CONFIG_PATH=$prefix/lib/pkgconfig
[ "$(pkg-config --modversion bleedborder)" = 1.0.0 ] || fail "pkg-config gives version $(pkg-config --modversion bleedborder)"
# shellcheck disable=SC2086  # the flags are word lists
"$BLEED_CXX" -std=c++20 $BLEED_COMPILE_FLAGS "$BLEED_SOURCE_DIR/examples/consumer/add_border.cpp" \
  $(pkg-config --static --cflags --libs bleedborder) $BLEED_LINK_FLAGS -o "$work/add_border_pkg_config"

# The same bytes as the tool's, from both.
mkdir "$work/run"
cp "$BLEED_SOURCE_DIR/examples/sample.bmp" "$work/run/sample.bmp"
"$prefix/bin/bleedborder" "$work/run/sample.bmp"
[ -s "$work/run/sample.bmp.bmp" ] || fail "the installed tool wrote nothing"
for consumer in "$work/cmake-build/add_border" "$work/add_border_pkg_config"; do
  rm -f "$work/run/consumer.bmp"
  "$consumer" "$work/run/sample.bmp" "$work/run/consumer.bmp"
  cmp "$work/run/sample.bmp.bmp" "$work/run/consumer.bmp" || fail "$consumer wrote other bytes than the tool"
done
echo "consumer output matches the tool's ($(stat -c %s "$work/run/consumer.bmp") bytes)"

#!/usr/bin/env bash
# Builds the library alone as a shared library (-DBUILD_SHARED_LIBS=ON) from
# the source tree, with the compiler, build type and sanitizers of the build
# under test, and installs it (the runtime and library components) for the
# tests that use it: into BLEED_SHARED_PREFIX, built in BLEED_SHARED_BUILD_DIR
# (both emptied first).
set -euo pipefail
build=$BLEED_SHARED_BUILD_DIR
prefix=$BLEED_SHARED_PREFIX
rm -rf "$build" "$prefix"
mkdir -p "$build"

"$BLEED_CMAKE" -S "$BLEED_SOURCE_DIR" -B "$build" -DBUILD_SHARED_LIBS=ON -DBLEED_TESTS=OFF -DBLEED_BENCH=OFF \
  -DCMAKE_CXX_COMPILER="$BLEED_CXX" -DCMAKE_BUILD_TYPE="$BLEED_BUILD_TYPE" \
  -DBLEED_SANITIZE="$BLEED_SANITIZE" -DBLEED_TSAN="$BLEED_TSAN" >"$build/configure.log"
# The library and the licence and changelog files its components install.
"$BLEED_CMAKE" --build "$build" --target bleed bleed_debian_changelog -j 2 >"$build/build.log" ||
  { tail -50 "$build/build.log" >&2; exit 1; }
for component in runtime library; do
  "$BLEED_CMAKE" --install "$build" --prefix "$prefix" --component $component >>"$build/install.log"
done
echo "libbleedborder.so installed in $prefix"

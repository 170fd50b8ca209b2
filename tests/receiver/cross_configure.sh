#!/usr/bin/env bash
# Configures the parts that need no window for arm64 with Debian's cross
# compiler, checks that librtlsdr is looked for in arm64's library folder, and
# builds the loader and the simulated receiver for arm64.
# Usage: cross_configure.sh SOURCE_DIR BUILD_DIR. Exit 77: no cross compiler.
set -euo pipefail
src="$1"
out="$2"
if ! command -v aarch64-linux-gnu-g++ >/dev/null; then
  echo "aarch64-linux-gnu-g++ is not installed (package g++-aarch64-linux-gnu)"
  exit 77
fi
rm -rf "$out"
cmake -S "$src" -B "$out" -DCMAKE_TOOLCHAIN_FILE="$src/tests/receiver/aarch64-toolchain.cmake" \
      -DCMAKE_BUILD_TYPE=Release "-DWG_PARTS=runtime;receiver;sim" -DWG_TESTS=OFF -DWG_BENCH=OFF
found="$(sed -n 's/^WG_SYSTEM_RTLSDR:FILEPATH=//p' "$out/CMakeCache.txt")"
if [ "$found" != /usr/lib/aarch64-linux-gnu/librtlsdr.so.0 ]; then
  echo "librtlsdr looked for at '$found', not in arm64's folder" >&2
  exit 1
fi
cmake --build "$out" --target wg_receiver wg_sim_rtlsdr -j2
if ! readelf -h "$out/sim/librtlsdr.so.0" | grep -q AArch64; then
  echo "the simulated receiver was not built for arm64" >&2
  exit 1
fi
echo "arm64: librtlsdr at $found; loader and simulated receiver built"

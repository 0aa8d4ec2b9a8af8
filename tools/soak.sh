#!/bin/bash
# The long soak: the soak suite with streams of BYTES each (default 16 MiB)
# through a serial pty pair and a loopback TCP connection, checked byte for
# byte.
# usage: tools/soak.sh [BYTES]
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$top/build/win
"$top/tools/deps.sh" || exit 1
# Each suite's own limit (300 s) would end a soak of this size early, above
# all where 32-bit code runs emulated; it is raised for this run and put back.
cmake -S "$top" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-i686.cmake" \
  -DWL_TEST_TIMEOUT=3600 >/dev/null &&
  cmake --build "$build" -j "$(nproc)" >/dev/null || exit 1
(cd "$build" && WL_SOAK_BYTES=${1:-16777216} ctest -R 'rig|soak' --output-on-failure)
status=$?
cmake -S "$top" -B "$build" -DWL_TEST_TIMEOUT=300 >/dev/null
exit $status

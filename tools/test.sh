#!/bin/bash
# Builds everything and runs every test: the pure code natively, then the
# Windows build (both plug-ins, runner, suites) under Wine.
# usage: tools/test.sh [ctest arguments...]
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/tools/deps.sh" || exit 1
jobs=$(nproc)

status=0
cmake -S "$top" -B "$top/build/native" -DCMAKE_BUILD_TYPE=Release >/dev/null &&
  cmake --build "$top/build/native" -j "$jobs" >/dev/null || exit 1
cmake -S "$top" -B "$top/build/win" -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-i686.cmake" >/dev/null &&
  cmake --build "$top/build/win" -j "$jobs" >/dev/null || exit 1

echo "== native tests"
(cd "$top/build/native" && ctest -j "$jobs" --output-on-failure "$@") || status=1
echo "== tests under Wine"
(cd "$top/build/win" && ctest -j "$jobs" --output-on-failure "$@") || status=1
exit $status

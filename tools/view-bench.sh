#!/bin/bash
# How long the page of a 10-minute stream (100,000 lines, written by the
# test rather than recorded) takes headless Chromium to load and draw,
# printed as a figure (the page should open in under 2 s). Not a test: the
# figure goes into bench/README.md by hand.
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$top/build/win
cmake -S "$top" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-i686.cmake" >/dev/null &&
  cmake --build "$build" -j "$(nproc)" --target nbrun >/dev/null || exit 1
command -v chromium >/dev/null || { echo "no chromium: tools/deps.sh installs it" >&2; exit 1; }
for run in 1 2 3; do
  python3 "$top/tests/view/view_test.py" --bench --top "$top" --out "$build/out" --wine-run "$build/wine-run" \
    --scratch "$build/view-bench"
done

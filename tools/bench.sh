#!/bin/bash
# Builds and runs the benchmark program under Wine against Wirelet.nbp on the
# rig's pty pairs and a loopback server, printing each figure beside its
# limit. Not a test: the figures go into bench/README.md by hand.
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$top/build/win
"$top/tools/deps.sh" || exit 1
cmake -S "$top" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-i686.cmake" >/dev/null &&
  cmake --build "$build" -j "$(nproc)" --target Wirelet wlbench >/dev/null || exit 1
trap '"$top/tests/rig/teardown.sh" "$build" >/dev/null 2>&1' EXIT
"$top/tests/rig/setup.sh" "$build" >/dev/null || exit 1
echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(wine --version)"
# Under emulation compute costs about ten times more and system calls about
# the same: ratios measured there are not the plug-in's own.
echo "32-bit code: $(cat "$top/build/deps/32bit")"
"$build/wine-run" "$build/out/wlbench.exe" "Z:${build//\//\\}\\out\\Wirelet.nbp" "$@"

#!/bin/bash
# Builds everything and runs every test: the pure code natively, then the
# Windows build (both plug-ins, runner, suites) under Wine. The fuzz targets
# (native, a minute each, all at once) run beside the tests under Wine,
# which leave the processors idle much of the time while they wait on
# ports, sockets and time-outs: at a lower priority, so those tests get the processor first
# and the fuzzers what is left. Their results come at the end. Each phase
# says how long it took.
# usage: tools/test.sh [ctest arguments...]
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/tools/deps.sh" || exit 1
jobs=$(nproc)
native=$top/build/native
since() { echo "$(( $(date +%s) - $1 )) s"; }

status=0
start=$(date +%s)
cmake -S "$top" -B "$native" -DCMAKE_BUILD_TYPE=Release >/dev/null &&
  cmake --build "$native" -j "$jobs" >/dev/null || exit 1
cmake -S "$top" -B "$top/build/win" -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-i686.cmake" >/dev/null &&
  cmake --build "$top/build/win" -j "$jobs" >/dev/null || exit 1
echo "== built ($(since "$start"))"

phase=$(date +%s)
echo "== native tests"
(cd "$native" && ctest -j "$jobs" --output-on-failure -LE fuzz "$@") || status=1
echo "== native tests: $(since "$phase")"

phase=$(date +%s)
fuzz_log=$native/fuzz.log
(cd "$native" && nice -n 10 ctest -j 8 -V -L fuzz "$@") >"$fuzz_log" 2>&1 &
fuzz=$!
echo "== tests under Wine (the fuzz targets run beside them)"
(cd "$top/build/win" && ctest -j "$jobs" --output-on-failure "$@") || status=1
echo "== tests under Wine: $(since "$phase")"
wait "$fuzz" || status=1
echo "== fuzz targets, a minute each: $(since "$phase") from the start of the Wine phase"
# Each target's runs, and whatever failed (the whole log is $fuzz_log).
grep -E '^[0-9]+: (== |Done|ERROR|SUMMARY|.*crash-)|tests passed|\*\*\*|Failed' "$fuzz_log"
echo "== all: $(since "$start")"
exit $status

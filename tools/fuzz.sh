#!/bin/bash
# Builds the fuzz targets (clang, libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer) natively and runs each for SECONDS (default
# 300) on its seed corpus. Whatever crashes is left as crash-* in the work
# folder; keep it in fuzz/corpus/<target>/ as a regression case once fixed.
# usage: tools/fuzz.sh [SECONDS] [TARGET...]   (targets: fields numbers dispatch)
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-300}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(fields numbers dispatch)
clang=$(command -v clang++-14 || command -v clang++) || { echo "clang++ is missing" >&2; exit 1; }
work=${WL_FUZZ_DIR:-$top/build/fuzz}
mkdir -p "$work"
flags=(-std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined -I "$top")
sources=("$top/plugin/params.cpp" "$top/plugin/dispatch.cpp")
status=0
for target in "${targets[@]}"; do
  binary=$work/${target}_fuzz
  "$clang" "${flags[@]}" "$top/fuzz/${target}_fuzz.cpp" "${sources[@]}" -o "$binary" || exit 1
  corpus=$work/corpus-$target
  mkdir -p "$corpus"
  echo "== $target: $seconds s"
  (cd "$work" && "$binary" -max_total_time="$seconds" -max_len=4096 -timeout=10 \
     -print_final_stats=1 "$corpus" "$top/fuzz/corpus/$target" 2>&1 |
     grep -E 'Done|ERROR|SUMMARY|crash-|Test unit written') || status=1
done
exit $status

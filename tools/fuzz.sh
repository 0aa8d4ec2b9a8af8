#!/bin/bash
# Builds the fuzz targets (clang, libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer) natively and runs each for SECONDS (default
# 300) on its seed corpus. Whatever crashes is left as crash-* in the work
# folder; keep it in fuzz/corpus/<target>/ as a regression case once fixed.
# usage: tools/fuzz.sh [SECONDS] [TARGET...]
#   (targets: fields numbers dispatch device spylog)
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-300}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(fields numbers dispatch device spylog)
clang=$(command -v clang++-14 || command -v clang++) || { echo "clang++ is missing" >&2; exit 1; }
work=${WL_FUZZ_DIR:-$top/build/fuzz}
mkdir -p "$work"
flags=(-std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined -I "$top")
# The sources each target is built with.
sources_of() {
  case $1 in
    device|spylog)
      echo "$top"/wire/{text,pattern,port_names,device_file,device_model,device_from_log,spy_log}.cpp ;;
    *) echo "$top/plugin/params.cpp" "$top/plugin/dispatch.cpp" ;;
  esac
}
status=0
for target in "${targets[@]}"; do
  binary=$work/${target}_fuzz
  # shellcheck disable=SC2046
  "$clang" "${flags[@]}" "$top/fuzz/${target}_fuzz.cpp" $(sources_of "$target") -o "$binary" || exit 1
  corpus=$work/corpus-$target
  mkdir -p "$corpus"
  echo "== $target: $seconds s"
  (cd "$work" && "$binary" -max_total_time="$seconds" -max_len=4096 -timeout=10 \
     -print_final_stats=1 "$corpus" "$top/fuzz/corpus/$target" 2>&1 |
     grep -E 'Done|ERROR|SUMMARY|crash-|Test unit written') || status=1
done
exit $status

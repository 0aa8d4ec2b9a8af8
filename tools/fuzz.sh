#!/bin/bash
# Builds the fuzz targets (clang, libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer) natively and runs each for SECONDS (default
# 300) on its seed corpus. Whatever crashes is left as crash-* in the work
# folder; keep it in fuzz/corpus/<target>/ as a regression case once fixed.
# usage: tools/fuzz.sh [SECONDS] [TARGET...]
#   targets: fields numbers dispatch (the plug-in's parameter rules and
#   dispatcher), script expression (the runner's script loader and the
#   reader behind Math and conditions), device spylog (the device-file
#   reader with the device at work, the spy's log with the device made
#   from it), codes (Wirecodes' actions on their parameter texts)
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-300}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(fields numbers dispatch script expression device spylog codes)
clang=$(command -v clang++-14 || command -v clang++) || { echo "clang++ is missing" >&2; exit 1; }
work=${WL_FUZZ_DIR:-$top/build/fuzz}
mkdir -p "$work"
flags=(-std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined -I "$top")
runner=$top/host/runner

# expression_seeds DIR: the Math expressions and the two sides of the
# conditions in the examples and recipes, a variable read as a number, each
# after a byte that picks the decimals.
expression_seeds() {
  local n=0 text
  mkdir -p "$1"
  while IFS= read -r text; do
    printf '\002%s' "$text" >"$1/example-$((n++))"
  done < <(cat "$top/examples/"*.nbs "$top/examples/recipes/"*.nbs |
           sed -n -e 's/^ *Math "\([^"]*\)".*/\1/p' \
                  -e 's/^ *\(If\|While\) "\([^"]*\)" "[^"]*" "\([^"]*\)".*/\2\n\3/p' |
           sed 's/\[[^]]*\]/12.5/g')
}

status=0
for target in "${targets[@]}"; do
  seeds=("$top/fuzz/corpus/$target")
  max_len=4096
  case "$target" in
    script)
      sources=("$runner/script.cpp" "$runner/expression.cpp" "$runner/program.cpp" "$runner/session.cpp"
               "$top/wire/text.cpp")
      seeds+=("$top/examples")
      max_len=16384 ;;
    expression)
      sources=("$runner/expression.cpp" "$runner/script.cpp" "$runner/program.cpp" "$top/wire/text.cpp")
      expression_seeds "$work/seeds-expression"
      seeds+=("$work/seeds-expression") ;;
    device|spylog)
      sources=("$top"/wire/{text,pattern_syntax,pattern_program,pattern,port_model,port_names,device_file,device_values,device_model,device_from_log,spy_log,spy_view}.cpp
               "$top"/serial/{serial_rules,error_table}.cpp "$top"/codes/checksums.cpp)
      [ "$target" = device ] && seeds+=("$top/examples/devices") ;;
    codes)
      sources=("$top"/codes/{checksums,formats}.cpp "$top/editions/wirecodes/codes_actions.cpp"
               "$top/plugin/params.cpp" "$top/plugin/byte_scan.cpp") ;;
    *) sources=("$top/plugin/params.cpp" "$top/plugin/dispatch.cpp" "$top/plugin/byte_scan.cpp") ;;
  esac
  binary=$work/${target}_fuzz
  "$clang" "${flags[@]}" "$top/fuzz/${target}_fuzz.cpp" "${sources[@]}" -o "$binary" || exit 1
  corpus=$work/corpus-$target
  mkdir -p "$corpus"
  echo "== $target: $seconds s"
  (cd "$work" && "$binary" -max_total_time="$seconds" -max_len="$max_len" -timeout=10 \
     -print_final_stats=1 "$corpus" "${seeds[@]}" 2>&1 |
     grep -E 'Done|ERROR|SUMMARY|crash-|Test unit written') || status=1
done
exit $status

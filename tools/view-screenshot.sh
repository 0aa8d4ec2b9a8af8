#!/bin/bash
# The screenshot of a spy log's page that the guide shows (docs/spy-view.png):
# the demo dialogue run against its played devices with the spy on, the
# page made by nbrun --view, drawn by headless Chromium. Refreshed by hand
# when the page changes, never at build time, so that a release made from
# the same commit stays byte for byte the same.
# usage: tools/view-screenshot.sh [PNG [WIDTH,HEIGHT]]
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
png=$(realpath -m "${1:-$top/docs/spy-view.png}")
size=${2:-1200,560}
build=$top/build/win
command -v chromium >/dev/null || { echo "no chromium: tools/deps.sh installs it" >&2; exit 1; }
cmake -S "$top" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-i686.cmake" >/dev/null &&
  cmake --build "$build" -j "$(nproc)" --target nbrun Wirelet >/dev/null || exit 1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
win() { echo "Z:${1//\//\\}"; }
(cd "$work" && "$build/wine-run" "$build/out/nbrun.exe" --quiet --spy=demo.log \
   --device "COM1=$(win "$top/examples/scale.dev")" \
   --device "127.0.0.7:7000=$(win "$top/examples/lineservice.dev")" \
   --set tcphost=127.0.0.7 --set tcpport=7000 \
   "$(win "$build/out/Wirelet.nbp")" "$(win "$top/examples/demo.nbs")" >/dev/null &&
 "$build/wine-run" "$build/out/nbrun.exe" --view demo.log demo.html >/dev/null) ||
  { echo "the demo or its page failed" >&2; exit 1; }
timeout 120 chromium --headless --no-sandbox --disable-gpu --disable-background-networking \
  --disable-component-update --disable-sync --no-first-run --user-data-dir="$work/profile" \
  --hide-scrollbars --window-size="$size" --screenshot="$png" "file://$work/demo.html" 2>/dev/null
[ -s "$png" ] || { echo "chromium made no screenshot" >&2; exit 1; }
echo "$png"

#!/bin/bash
# The main job: a device dialogue through the host runner against virtual
# devices. Installs what is missing, builds into build/win, starts a virtual
# scale on COM1's pty pair and a line service on 127.0.0.1, runs
# examples/demo.nbs through nbrun.exe with Wirelet.nbp (or the edition given:
# tools/demo.sh Quillport) and stops everything again.
#
# tools/demo.sh --device [EDITION] runs the same dialogue with the scale
# played by the runner from examples/scale.dev (no pty, no socat), with the
# spy's log written beside it; it then prints that log and the device file
# nbrun --spy-to-device makes from it.
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
device=no
[ "${1:-}" = --device ] && { device=yes; shift; }
edition=${1:-Wirelet}
build=$top/build/win
"$top/tools/deps.sh" || exit 1
cmake -S "$top" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-i686.cmake" >/dev/null &&
  cmake --build "$build" -j "$(nproc)" --target Wirelet Quillport nbrun >/dev/null || exit 1

rig=$build/rig
mkdir -p "$rig"
pids=()
stop() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  "$top/tests/rig/teardown.sh" "$build" >/dev/null 2>&1
}
trap stop EXIT
winpath() { echo "Z:${1//\//\\}"; }
scale=()
if [ $device = yes ]; then
  spylog=$rig/demo-spy.log
  scale=(--device "COM1=$(winpath "$top/examples/scale.dev")" "--spy=$(winpath "$spylog")")
else
  "$top/tests/rig/setup.sh" "$build" || exit 1
  python3 "$top/tools/instrument.py" "$rig/COM1-peer" &
  pids+=($!)
fi
rm -f "$rig/demo.port"
python3 "$top/tools/lineservice.py" "$rig/demo.port" &
pids+=($!)
for _ in $(seq 100); do [ -s "$rig/demo.port" ] && break; sleep 0.05; done
[ -s "$rig/demo.port" ] || { echo "the line service did not start" >&2; exit 1; }

logfile=$rig/demo-history.txt
rm -f "$logfile"
echo "== nbrun ${scale[*]:+${scale[*]} }$edition.nbp examples/demo.nbs"
"$build/wine-run" "$build/out/nbrun.exe" "${scale[@]}" --set "tcpport=$(cat "$rig/demo.port")" \
  --set "logfile=$(winpath "$logfile")" \
  "$(winpath "$build/out/$edition.nbp")" "$(winpath "$top/examples/demo.nbs")"
status=$?
# The script goes on without the service: the history it wrote shows it worked.
[ $status = 0 ] && [ ! -s "$logfile" ] && { echo "== the service wrote no history" >&2; status=1; }
if [ $status = 0 ]; then
  echo "== $logfile"
  cat "$logfile"
  if [ $device = yes ]; then
    echo "== the spy's log: $spylog"
    cat "$spylog"
    echo "== nbrun --spy-to-device COM1=$spylog"
    "$build/wine-run" "$build/out/nbrun.exe" --spy-to-device "COM1=$(winpath "$spylog")" || status=1
  fi
  echo "== the demo dialogue ran end to end"
else
  echo "== the demo failed (exit $status)" >&2
fi
exit $status

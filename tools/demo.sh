#!/bin/bash
# The main job: a device dialogue through the host runner against virtual
# devices. Installs what is missing, builds into build/win, starts a virtual
# scale on COM1's pty pair and a line service on 127.0.0.1, runs
# examples/demo.nbs through nbrun.exe with Wirelet.nbp (or the edition and
# script given: tools/demo.sh Quillport, tools/demo.sh Wirelet
# examples/poll.nbs) and stops everything again.
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
edition=${1:-Wirelet}
script=$(realpath "${2:-$top/examples/demo.nbs}") || exit 1
build=$top/build/win
"$top/tools/deps.sh" || exit 1
cmake -S "$top" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-i686.cmake" >/dev/null &&
  cmake --build "$build" -j "$(nproc)" --target Wirelet Quillport nbrun >/dev/null || exit 1

rig=$build/rig
pids=()
stop() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  "$top/tests/rig/teardown.sh" "$build" >/dev/null 2>&1
}
trap stop EXIT
"$top/tests/rig/setup.sh" "$build" || exit 1

python3 "$top/tools/instrument.py" "$rig/COM1-peer" &
pids+=($!)
rm -f "$rig/demo.port"
python3 "$top/tools/lineservice.py" "$rig/demo.port" &
pids+=($!)
for _ in $(seq 100); do [ -s "$rig/demo.port" ] && break; sleep 0.05; done
[ -s "$rig/demo.port" ] || { echo "the line service did not start" >&2; exit 1; }

logfile=$rig/demo-history.txt
rm -f "$logfile"
winpath() { echo "Z:${1//\//\\}"; }
echo "== nbrun $edition.nbp ${script#"$top"/}"
"$build/wine-run" "$build/out/nbrun.exe" --set "tcpport=$(cat "$rig/demo.port")" \
  --set "logfile=$(winpath "$logfile")" \
  "$(winpath "$build/out/$edition.nbp")" "$(winpath "$script")"
status=$?
if [ $status = 0 ]; then
  if [ -e "$logfile" ]; then
    echo "== $logfile"
    cat "$logfile"
  fi
  echo "== the dialogue ran end to end"
else
  echo "== the dialogue failed (exit $status)" >&2
fi
exit $status

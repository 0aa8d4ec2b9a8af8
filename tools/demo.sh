#!/bin/bash
# The main job: a device dialogue through the host runner against virtual
# devices. Installs what is missing, builds into build/win, starts a virtual
# scale on COM1's pty pair and a line service on 127.0.0.1, runs
# examples/demo.nbs through nbrun.exe with Wirelet.nbp (or the edition and
# script given: tools/demo.sh Quillport, tools/demo.sh Wirelet
# examples/poll.nbs) and stops everything again.
#
# tools/demo.sh --device [EDITION [SCRIPT]] runs the same dialogue with both
# devices played by the runner from their device files, examples/scale.dev
# on COM1 and examples/lineservice.dev as a server at 127.0.0.7:7000 (no
# pty, no socat, no line service), with the spy's log written beside it; it
# then prints that log and the device files nbrun --spy-to-device makes
# from it.
#
# tools/demo.sh EDITION SCRIPT NBRUN_OPTION... passes the options on to
# nbrun (device files named from the current folder); with a --device among
# them the devices are those played, and nothing else is started: a recipe
# against its device,
#   tools/demo.sh Wirelet examples/recipes/gps.nbs --device COM1=examples/devices/gps-nmea.dev
# (Wirecodes.nbp is loaded beside the edition then, as the recipes use it).
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
device=no
[ "${1:-}" = --device ] && { device=yes; shift; }
edition=${1:-Wirelet}
script=$(realpath "${2:-$top/examples/demo.nbs}") || exit 1
build=$top/build/win
"$top/tools/deps.sh" || exit 1
cmake -S "$top" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-i686.cmake" >/dev/null &&
  cmake --build "$build" -j "$(nproc)" --target Wirelet Quillport Wirecodes nbrun >/dev/null || exit 1

. "$top/tools/devices.sh"
trap devices_stop EXIT

# The options after the script, a device file's path as Windows sees it.
options=()
played=no
rest=("${@:3}")
for ((i = 0; i < ${#rest[@]}; i++)); do
  if [ "${rest[i]}" = --device ] && [ $((i + 1)) -lt ${#rest[@]} ]; then
    place=${rest[i + 1]%%=*}
    file=$(realpath "${rest[i + 1]#*=}") || exit 1
    options+=(--device "$place=$(winpath "$file")")
    played=yes
    i=$((i + 1))
  else
    options+=("${rest[i]}")
  fi
done

if [ $device = no ]; then
  if [ $played = yes ]; then
    options+=("$(winpath "$build/out/Wirecodes.nbp")")
    devices_start "$build" played || exit 1
  else
    devices_start "$build" || exit 1
  fi
  echo "== nbrun ${rest[*]:+${rest[*]} }$edition.nbp ${script#"$top"/}"
  devices_dialogue "$build/out/nbrun.exe" "$build/out/$edition.nbp" "$script" "${options[@]}"
  exit
fi

devices_start "$build" played || exit 1
spylog=$build/rig/demo-spy.log
devices_played_options "$top/examples"
echo "== nbrun --device COM1=examples/scale.dev --device 127.0.0.7:7000=examples/lineservice.dev --spy $edition.nbp ${script#"$top"/}"
devices_dialogue "$build/out/nbrun.exe" "$build/out/$edition.nbp" "$script" \
  "${devices_played[@]}" "--spy=$(winpath "$spylog")" || exit 1
echo "== the spy's log: $spylog"
cat "$spylog"
for place in COM1 127.0.0.7:7000; do
  echo "== nbrun --spy-to-device $place=$spylog"
  "$build/wine-run" "$build/out/nbrun.exe" --spy-to-device "$place=$(winpath "$spylog")" || exit 1
done

# The demo's virtual devices and its dialogue, for tools/demo.sh and
# tools/release.sh to source: a weighing scale (tools/instrument.py) on
# COM1's pty pair and a line service (tools/lineservice.py) on 127.0.0.1.
#   devices_start BUILD_DIR [without-scale]
#                                        the rig (tests/rig/setup.sh) and both devices,
#                                        or the line service alone (the runner then
#                                        plays the scale itself)
#   devices_dialogue NBRUN PLUGIN SCRIPT [OPTION...]
#                                        runs SCRIPT through NBRUN under Wine, with the
#                                        runner's options given, and shows the history
#                                        file it wrote, if any
#   devices_stop                         stops both devices and the rig
# The caller traps EXIT with devices_stop.
devices_tools=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
devices_pids=()
devices_build=

devices_stop() {
  local pid
  for pid in "${devices_pids[@]}"; do kill "$pid" 2>/dev/null; done
  devices_pids=()
  [ -n "$devices_build" ] && "$devices_tools/../tests/rig/teardown.sh" "$devices_build" >/dev/null 2>&1
  return 0
}

devices_start() {
  devices_build=$1
  local rig=$devices_build/rig
  if [ "${2:-}" = without-scale ]; then
    mkdir -p "$rig"
  else
    "$devices_tools/../tests/rig/setup.sh" "$devices_build" || return 1
    python3 "$devices_tools/instrument.py" "$rig/COM1-peer" &
    devices_pids+=($!)
  fi
  rm -f "$rig/demo.port"
  python3 "$devices_tools/lineservice.py" "$rig/demo.port" &
  devices_pids+=($!)
  for _ in $(seq 100); do [ -s "$rig/demo.port" ] && break; sleep 0.05; done
  [ -s "$rig/demo.port" ] || { echo "the line service did not start" >&2; return 1; }
}

# winpath PATH: the path as Wine shows it to Windows programs.
winpath() { echo "Z:${1//\//\\}"; }

devices_dialogue() {
  local rig=$devices_build/rig status
  local logfile=$rig/demo-history.txt
  rm -f "$logfile"
  "$devices_build/wine-run" "$(winpath "$1")" "${@:4}" --set "tcpport=$(cat "$rig/demo.port")" \
    --set "logfile=$(winpath "$logfile")" "$(winpath "$2")" "$(winpath "$3")"
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
  return $status
}

# The demo's virtual devices and its dialogue, for tools/demo.sh and
# tools/release.sh to source: a weighing scale (tools/instrument.py) on
# COM1's pty pair and a line service (tools/lineservice.py) on 127.0.0.1,
# or both played by the runner from their device files.
#   devices_start BUILD_DIR [played]
#                                        the rig (tests/rig/setup.sh) and both devices;
#                                        played: the rig with no pty pairs and no
#                                        device started (the runner plays both)
#   devices_dialogue NBRUN PLUGIN SCRIPT [OPTION...]
#                                        runs SCRIPT through NBRUN under Wine, with the
#                                        runner's options given (and the line service's
#                                        port when one runs), and shows the history
#                                        file it wrote, if any
#   devices_played_options EXAMPLES_DIR  sets devices_played to the runner's options that
#                                        play both devices from EXAMPLES_DIR's files
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
  rm -f "$rig/demo.port"
  if [ "${2:-}" = played ]; then
    "$devices_tools/../tests/rig/setup.sh" "$devices_build" --no-ptys
    return
  fi
  "$devices_tools/../tests/rig/setup.sh" "$devices_build" || return 1
  python3 "$devices_tools/instrument.py" "$rig/COM1-peer" &
  devices_pids+=($!)
  python3 "$devices_tools/lineservice.py" "$rig/demo.port" &
  devices_pids+=($!)
  for _ in $(seq 100); do [ -s "$rig/demo.port" ] && break; sleep 0.05; done
  [ -s "$rig/demo.port" ] || { echo "the line service did not start" >&2; return 1; }
}

# winpath PATH: the path as Wine shows it to Windows programs.
winpath() { echo "Z:${1//\//\\}"; }

# Both devices played, the line service on a loopback address nothing
# listens on: a connection the played server missed is refused there.
devices_played_options() {
  devices_played=(--device "COM1=$(winpath "$1/scale.dev")"
                  --device "127.0.0.7:7000=$(winpath "$1/lineservice.dev")"
                  --set tcphost=127.0.0.7 --set tcpport=7000)
}

devices_dialogue() {
  local rig=$devices_build/rig status
  local logfile=$rig/demo-history.txt
  rm -f "$logfile"
  local service=()
  [ -s "$rig/demo.port" ] && service=(--set "tcpport=$(cat "$rig/demo.port")")
  # The caller's options come after the service's port: a --set of theirs wins.
  "$devices_build/wine-run" "$(winpath "$1")" "${service[@]}" "${@:4}" \
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

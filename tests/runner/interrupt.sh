#!/bin/bash
# Ctrl+C ends a run wherever it is: during a script's last line (a long
# Pause) and at a prompt waiting for its next line. Either way nbrun closes
# the port the run opened through the plug-in's own wlCommClose (the spy's
# log shows it), names where it stopped and exits with 4. A terminal's
# Ctrl+C reaches a program under Wine as SIGINT to its process group, sent
# here the same way once the run is under way.
# Usage: interrupt.sh BUILD_DIR
set -u
build=$1
rig=$build/rig
winpath() { echo "Z:${1//\//\\}"; }
device=$rig/interrupt.dev
printf 'on "W" send "ST,GS,+0012.34 kg"\n' >"$device"
open='wlCommOpenStd "1,9600"\nPrint "ready"\n'
status=0
fail() { echo "$1: $2" >&2; status=1; }

# interrupt NAME STDIN [SCRIPT]: runs nbrun on the played port, waits for
# "ready", sends Ctrl+C and checks how the run ended; STDIN feeds a prompt.
interrupt() {
  local name=$1 input=$2 out=$rig/$1.out log=$rig/$1.log
  shift 2
  rm -f "$log" "$out"
  setsid "$build/wine-run" "$build/out/nbrun.exe" "--spy=$(winpath "$log")" \
    --device "COM1=$(winpath "$device")" "$(winpath "$build/out/Wirelet.nbp")" "$@" \
    <"$input" >"$out" 2>&1 &
  local pid=$!
  for _ in $(seq 1200); do grep -qs 'ready' "$out" && break; sleep 0.05; done
  kill -INT -- "-$pid"
  for _ in $(seq 600); do kill -0 "$pid" 2>/dev/null || break; sleep 0.05; done
  if kill -0 "$pid" 2>/dev/null; then
    kill -KILL -- "-$pid"
    fail "$name" "nbrun did not end after Ctrl+C"
  fi
  wait "$pid"
  local code=$?
  echo "== $name (exit $code)"
  cat "$out"
  [ "$code" = 4 ] || fail "$name" "exit $code, not 4"
  grep -q "ports and TCP connection are closed" "$out" || fail "$name" "no word of the close"
  grep -q "COM1   close: ok" "$log" || fail "$name" "the spy saw no close"
}

# The script's last line is the one running.
script=$rig/interrupt.nbs
printf "$open"'Pause "60000"\n' >"$script"
interrupt script /dev/null "$(winpath "$script")"
grep -q 'interrupt.nbs:3: stopped by Ctrl+C' "$rig/script.out" || fail script "line 3 not named"

# The prompt, waiting for a line that never comes: its input stays open.
fifo=$rig/interrupt.fifo
rm -f "$fifo" && mkfifo "$fifo"
exec 3<>"$fifo"
printf "$open" >&3
interrupt prompt "$fifo"
exec 3>&-
rm -f "$fifo"
grep -q 'at the prompt: stopped by Ctrl+C' "$rig/prompt.out" || fail prompt "the prompt not named"
exit $status

#!/bin/bash
# Ctrl+C ends a script that loops for ever: nbrun stops before the next
# statement, closes the plug-in's ports and exits with 4. A terminal's Ctrl+C
# reaches a program under Wine as SIGINT to its process group, sent here the
# same way once the script has started.
# Usage: interrupt.sh BUILD_DIR
set -u
build=$1
rig=$build/rig
winpath() { echo "Z:${1//\//\\}"; }
script=$rig/interrupt.nbs
out=$rig/interrupt.out
printf 'Print "looping"\nWhile "1" "=" "1"\n  Pause "20"\nEndWhile\n' >"$script"

setsid "$build/wine-run" "$build/out/nbrun.exe" "$(winpath "$build/out/Wirelet.nbp")" \
  "$(winpath "$script")" >"$out" 2>&1 </dev/null &
pid=$!
for _ in $(seq 1200); do grep -q looping "$out" && break; sleep 0.05; done
kill -INT -- "-$pid"
for _ in $(seq 600); do kill -0 "$pid" 2>/dev/null || break; sleep 0.05; done
if kill -0 "$pid" 2>/dev/null; then
  kill -KILL -- "-$pid"
  echo "nbrun did not end after Ctrl+C" >&2
fi
wait "$pid"
status=$?
cat "$out"
[ "$status" = 4 ] || { echo "exit $status, not 4" >&2; exit 1; }
grep -q 'interrupt.nbs:[0-9]*: stopped by Ctrl+C' "$out" &&
  grep -q "ports and TCP connection are closed" "$out"

#!/bin/bash
# Runs tests/wine/vanish_test.exe and takes COM15's peer away while the port
# is open: the pty pair's socat is killed when the program says it is ready,
# and started again afterwards so the rig stays whole.
# Usage: vanish.sh BUILD_DIR PROGRAM
set -u
build=$1 program=$2
rig=$build/rig
rm -f "$rig/vanish.ready" "$rig/vanish.gone"
timeout 120 "$build/wine-run" "$program" &
test_pid=$!

for _ in $(seq 600); do [ -e "$rig/vanish.ready" ] && break; sleep 0.05; done
pid=$(pgrep -f "link=$rig/COM15 pty" | head -n 1)
if [ -z "$pid" ]; then echo "no socat serves COM15" >&2; kill $test_pid; exit 1; fi
kill "$pid"
for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.05; done
touch "$rig/vanish.gone"

wait $test_pid
status=$?

socat pty,raw,echo=0,link="$rig/COM15" pty,raw,echo=0,link="$rig/COM15-peer" \
  >/dev/null 2>&1 </dev/null &
echo $! >> "$rig/socat.pids"
for _ in $(seq 100); do [ -e "$rig/COM15-peer" ] && break; sleep 0.05; done
rm -f "$rig/vanish.ready" "$rig/vanish.gone"
exit $status

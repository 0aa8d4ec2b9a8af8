#!/bin/bash
# Stops what setup.sh started: the wineserver first (it may hold a pty as its
# terminal), then the socat pairs.
# usage: teardown.sh BUILD_DIR
build=$(cd "$1" && pwd)
export WINEPREFIX=$build/wineprefix
[ -d "$WINEPREFIX" ] && { wineserver -k 2>/dev/null; wineserver -w 2>/dev/null; }
if [ -f "$build/rig/socat.pids" ]; then
  while read -r pid; do kill "$pid" 2>/dev/null; done < "$build/rig/socat.pids"
  rm -f "$build/rig/socat.pids"
fi
exit 0

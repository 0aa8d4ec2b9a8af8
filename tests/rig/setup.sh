#!/bin/bash
# Prepares the Wine side of the test rig in a build folder:
#  - the prefix (created once, kept in BUILD_DIR/wineprefix),
#  - socat pty pairs and directories mapped to COM names (tests/rig/ports.conf),
#  - a persistent wineserver so that test programs start fast.
# usage: setup.sh BUILD_DIR [--no-ptys]
# --no-ptys maps every name of ports.conf to nothing and starts no socat: for
# runs whose devices are all played (tools/demo.sh --device), where a port
# the played device misses must lead nowhere.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$1" && pwd)
noptys=no
[ "${2:-}" = --no-ptys ] && noptys=yes
export WINEPREFIX=$build/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
rig=$build/rig

"$here/teardown.sh" "$build" >/dev/null 2>&1 || true
mkdir -p "$rig"

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "creating the Wine prefix in $WINEPREFIX"
  wineboot -i >/dev/null 2>&1 </dev/null
  wineserver -w
fi

# One .reg file for all names: one regedit call instead of one per name.
reg=$rig/ports.reg
printf 'REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]\n' > "$reg"
: > "$rig/socat.pids"
while read -r name kind; do
  case "$name" in ''|\#*) continue ;; esac
  [ $noptys = yes ] && kind=none
  n=${name#COM}
  case "$kind" in
    pty)
      socat pty,raw,echo=0,link="$rig/$name" pty,raw,echo=0,link="$rig/$name-peer" \
        >/dev/null 2>&1 </dev/null &
      echo $! >> "$rig/socat.pids"
      printf '"%s"="%s"\n' "$name" "$rig/$name" >> "$reg"
      if [ $((n + 100)) -le 256 ]; then
        printf '"COM%d"="%s"\n' $((n + 100)) "$rig/$name-peer" >> "$reg"
      fi
      ;;
    dir)
      mkdir -p "$rig/$name.dir"
      printf '"%s"="%s"\n' "$name" "$rig/$name.dir" >> "$reg"
      ;;
    none)
      printf '"%s"=""\n' "$name" >> "$reg"
      ;;
    *) echo "ports.conf: unknown kind $kind for $name" >&2; exit 1 ;;
  esac
done < "$here/ports.conf"
# Every other name up to COM256 (the plug-ins' highest port) leads nowhere.
for n in $(seq 256); do
  grep -q "^\"COM$n\"=" "$reg" || printf '"COM%d"=""\n' "$n" >> "$reg"
done

# Wait (bounded) until every pty link exists.
for _ in $(seq 100); do
  missing=0
  while read -r name kind; do
    [ "$kind" = pty ] && [ $noptys = no ] || continue
    [ -e "$rig/$name" ] && [ -e "$rig/$name-peer" ] || missing=1
  done < <(grep -v '^#' "$here/ports.conf")
  [ $missing = 0 ] && break
  sleep 0.1
done
[ $missing = 0 ] || { echo "socat did not make the pty pairs" >&2; exit 1; }

# Old links would survive a name that is now mapped to nothing.
rm -f "$WINEPREFIX"/dosdevices/com*
wine regedit /S "$(winepath -w "$reg" 2>/dev/null)" >/dev/null 2>&1
wineserver -w
# The mapping takes effect when the server starts again; keep it running.
wineserver -p >/dev/null 2>&1 </dev/null
wine cmd /c exit >/dev/null 2>&1 </dev/null || true
# Wine's port map takes names below COM256 only and gives the first real
# serial port it finds the first number left, COM256 when every other is
# named: its link goes now that the server made it (the server keeps running
# for the whole run), so COM256 leads nowhere, as a name mapped to nothing.
[[ "$(readlink "$WINEPREFIX/dosdevices/com256" 2>/dev/null)" == /dev/* ]] &&
  rm -f "$WINEPREFIX/dosdevices/com256"

for link in "$WINEPREFIX"/dosdevices/com*; do
  [ -L "$link" ] || continue
  target=$(readlink "$link")
  n=$(basename "$link"); n=${n#com}
  if [ "$n" -le 256 ] && [[ "$target" == /dev/ttyS* ]]; then
    echo "COM$n leads to the machine's serial port $target: refusing to run" >&2
    exit 1
  fi
done
if [ $noptys = yes ]; then
  echo "rig ready: no pty pairs, every COM name leads nowhere"
else
  echo "rig ready: $(grep -c ' pty$' "$here/ports.conf") pty pairs in $rig"
fi

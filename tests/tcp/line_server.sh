#!/bin/bash
# Starts or stops the line server the tests talk to: memcached, whose text
# protocol is plain CR LF lines, on a free port of 127.0.0.1 only.
# usage: line_server.sh start|stop STATE_DIR   (STATE_DIR/port holds the port)
set -u
action=$1
dir=$2
mkdir -p "$dir"

stop() {
  if [ -f "$dir/pid" ]; then
    kill "$(cat "$dir/pid")" 2>/dev/null
    rm -f "$dir/pid"
  fi
  rm -f "$dir/port"
}

start() {
  stop
  if ! command -v memcached >/dev/null; then
    echo "memcached is not installed (tools/deps.sh installs it)" >&2
    exit 1
  fi
  local user=()
  [ "$(id -u)" = 0 ] && user=(-u nobody)
  for attempt in 1 2 3 4 5 6 7 8; do
    local port=$((20000 + RANDOM % 40000))
    # Bounded life: a run that never reaches the stop step still ends it.
    setsid timeout 1800 memcached "${user[@]}" -l 127.0.0.1 -p "$port" -U 0 -t 1 -m 8 \
      </dev/null >"$dir/log" 2>&1 &
    local pid=$!
    for _ in $(seq 100); do
      if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
        echo "$pid" >"$dir/pid"
        echo "$port" >"$dir/port"
        echo "line server on 127.0.0.1:$port"
        exit 0
      fi
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.02
    done
    kill "$pid" 2>/dev/null
  done
  echo "the line server did not start:" >&2
  cat "$dir/log" >&2
  exit 1
}

case $action in
  start) start ;;
  stop) stop ;;
  *) echo "usage: $0 start|stop STATE_DIR" >&2; exit 2 ;;
esac
